// The entry point of Updater.exe: arguments, one instance, the window and the update thread.
#include <windows.h>

#include <cstdlib>  // __argc, __argv

#include "common/message_box.h"
#include "updater/updater_args.h"
#include "updater/updater_files_win32.h"
#include "updater/updater_roads_win32.h"
#include "updater/updater_text.h"
#include "updater/updater_window_win32.h"

namespace {

constexpr const char* kMutexName = "QOR.Updater.SingleInstance";
constexpr const char* kUsage =
    "Updater brings a new launcher or installer. The launcher starts it when an update is due:\n\n"
    "    Updater Launcher <process id> <version> <patch base address>\n"
    "    Updater Installer 0 <version> <patch base address>\n\n"
    "<version> is a.b.c.d and the address starts with https://. Nothing was changed.";

UpdaterRequest Request;

DWORD WINAPI RunUpdate(void*) {
    const int result = Request.kind == UpdateKind::Launcher ? RunLauncherRoad(Request) : RunInstallerRoad(Request);
    FinishUpdater(result);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (!ParseUpdaterArguments(__argc, __argv, &Request)) {
        ShowMessageBox(BoxOwner::None, kUsage, "Updater", kBoxOk);
        return kExitUsage;
    }
    // Held until the process ends, however it ends; the system then lets the next one in.
    HANDLE instanceMutex = CreateMutexA(nullptr, FALSE, kMutexName);
    if (!instanceMutex) return kExitCannotRun;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        BringOtherUpdaterForward();
        return kExitAlreadyRunning;
    }
    if (!FindUpdaterFolder() || !CreateUpdaterWindow(instance)) return kExitCannotRun;
    // The update thread ends the message loop itself; the window thread never waits for it.
    HANDLE thread = CreateThread(nullptr, 0, RunUpdate, nullptr, 0, nullptr);
    if (!thread) return kExitCannotRun;
    CloseHandle(thread);
    return RunUpdaterWindow();
}
