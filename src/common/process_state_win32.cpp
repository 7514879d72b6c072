// Storage of the process-wide values that start-up sets.
#include "common/process_state.h"

HINSTANCE AppInstance = nullptr;
HWND MainWindow = nullptr;
int32_t OsMajorVersion = 4;
char ExeDirectory[256] = {0};
char LauncherCommandLine[4096] = {0};
SHELLEXECUTEINFOA LaunchExecuteInfo = {};
WindowPoint WindowOrigin = {0, 0};
WindowExtent WindowSize = {0, 0};
