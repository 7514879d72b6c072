// The Updater's small window: one line of text and a progress bar, fed by the update thread.
#pragma once

#include <windows.h>

extern HWND UpdaterWindow;

// Creates and shows the window titled "Updater" (registering its class first). False when
// the window cannot be made.
bool CreateUpdaterWindow(HINSTANCE instance);

// Shows an already running Updater's window in front; false when there is none.
bool BringOtherUpdaterForward();

// Called from the update thread; they never wait for the window thread. The text is copied.
void SetUpdaterStatus(const char* text);
void SetUpdaterProgress(int percent);
// Hides the window, so that a message box shown next stands alone.
void HideUpdaterWindow();
// Ends the message loop with this exit code.
void FinishUpdater(int exitCode);

// Runs the message loop until FinishUpdater; returns its exit code.
int RunUpdaterWindow();
