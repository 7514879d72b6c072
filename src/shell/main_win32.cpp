// The process entry point of launcher.exe.
#include <windows.h>

#include "shell/startup_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return RunLauncher(instance, commandLine);
}
