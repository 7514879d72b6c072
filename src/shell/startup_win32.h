// The start-up sequence, the updater hand-over and the message loop.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr const char* kWindowClassName = "MainClass";
// The window's title, which also keeps a second launcher from starting.
constexpr const char* kWindowTitle = "QOR Launcher";

// Runs the whole launcher; returns the process exit code.
int RunLauncher(HINSTANCE instance, const char* commandLine);

// Moves MainWindow to WindowOrigin without changing its size (it comes to the top of the
// ordinary Z order) and records its screen rectangle in LayeredPlacement.
void PlaceWindow();

// Starts DownloadWorker in a thread of its own, never joined or closed: returning from the
// entry point ends it with the process. Returns whether it runs; see ReportWorkerStart.
bool StartDownloadWorker();

// What the window shows of the worker's start, given _beginthreadex's result and the
// system's error code taken right after it: nothing while it runs; when no thread could be
// started, "Downloading failed - thread (code)" and the start button stays disabled, since
// nothing will ever patch the client or declare it ready.
void ReportWorkerStart(uintptr_t thread, unsigned long error);

// The window procedure of "MainClass".
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
