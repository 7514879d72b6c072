// The start-up sequence, the updater hand-over and the message loop.
#pragma once

#include <windows.h>

// Runs the whole launcher; returns the process exit code.
int RunLauncher(HINSTANCE instance, const char* commandLine);

// Moves MainWindow to WindowOrigin without changing its size (it comes to the top of the
// ordinary Z order) and records its screen rectangle in LayeredPlacement.
void PlaceWindow();

// The window procedure of "MainClass".
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
