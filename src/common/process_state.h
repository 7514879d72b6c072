// Process-wide values that start-up sets and the subsystems read: module, window, system
// version, folder, arguments, window place and size.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

extern HINSTANCE AppInstance;
extern HWND MainWindow;
extern int32_t OsMajorVersion;          // 4 until start-up reads the real one
extern char ExeDirectory[256];          // the launcher's folder, no trailing backslash
extern char LauncherCommandLine[4096];  // the arguments the launcher received
extern SHELLEXECUTEINFOA LaunchExecuteInfo;

struct WindowPoint {
    int32_t x;
    int32_t y;
};
struct WindowExtent {
    int32_t width;
    int32_t height;
};
extern WindowPoint WindowOrigin;
extern WindowExtent WindowSize;
