// The one way the launcher shows a message box. The product shows MessageBoxA; the unit
// tests link a recorder in its place, so no test ever blocks on a box.
#pragma once

enum class BoxOwner { None, MainWindow };

constexpr unsigned kBoxOk = 0x0;            // MB_OK
constexpr unsigned kBoxSystemModal = 0x1000;  // MB_SYSTEMMODAL

// Shows the box and returns the button pressed (IDOK is 1).
int ShowMessageBox(BoxOwner owner, const char* text, const char* caption, unsigned style);
