// The content mode's road at start-up, taken after the installer and launcher decisions.
#pragma once

#include <windows.h>

// In a launcher built with the content mode: when the newest version is not the installed one
// (in any series, or with no client at all), starts the content worker and returns true. False
// otherwise, and always in a launcher built without the mode, which goes on as before.
// The mode also takes "--verify" out of LauncherCommandLine (it never reaches the game) and
// then, or when InterruptedUpdateLeft with the newest release installed, starts the worker as
// a verify: no stamp vouches for a file, every one is hashed and the damaged ones mended.
bool TakeContentRoad();

// Whether an earlier run of the worker ended before its update was complete (its chunk cache
// is still there). Only in the content mode.
bool InterruptedUpdateLeft();

// A WM_CONTEXTMENU of the main window: in a launcher built with the content mode, opens its menu
// and returns true. False in a launcher built without it, whose window goes on as before.
bool ContentMenu(HWND window, LPARAM at);
