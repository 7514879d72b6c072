// The content mode's menu on the window: pause, a speed limit, a repair and the game folder,
// opened by a right-click or the context-menu key, run on the window thread.
#pragma once

#include <windows.h>

// Shows the menu at a WM_CONTEXTMENU's point (screen coordinates; -1, -1 from the keyboard:
// the window's corner) and does what the player picks. Nothing it does waits for the worker.
void OpenContentMenu(HWND window, LPARAM at);

// The kept limit (or the branded default) applied to the fetch lanes: once, before any run.
void ApplySavedRateLimit();
