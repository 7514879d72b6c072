// StartGame: ShellExecuteExA with the prepared record, then CreateProcessA, then the error box.
#include "launch/game_launch_win32.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "common/bounded_text.h"
#include "common/message_box.h"
#include "common/process_state.h"
#include "common/win32_handle.h"
#include "launch/launch_errors.h"
#include "settings/launcher_settings.h"

// The game is started with this record; its size is the architecture's, never a fixed 60.
static_assert(sizeof(SHELLEXECUTEINFOA) == (sizeof(void*) == 8 ? 112 : 60), "SHELLEXECUTEINFOA: 60 bytes on i686, 112 on x86_64");

namespace {

int ReportFailure(DWORD code) {
    LaunchErrorMessage message;
    DescribeLaunchError(code, &message);
    ShowMessageBox(message.ownedByMainWindow ? BoxOwner::MainWindow : BoxOwner::None, message.text,
                   kLaunchErrorCaption, kBoxSystemModal | kBoxOk);
    return 0;
}

}  // namespace

void PrepareLaunchExecuteInfo(int osMajorVersion) {
    std::memset(&LaunchExecuteInfo, 0, sizeof LaunchExecuteInfo);
    LaunchExecuteInfo.cbSize = sizeof LaunchExecuteInfo;
    LaunchExecuteInfo.lpVerb = osMajorVersion == 6 ? "runas" : nullptr;
}

int StartGame(const char* arguments) {
    static char path[1024];
    static char parameters[1024];
    char commandLine[2048];
    // Cut arguments or a cut path would start the wrong thing; refuse instead.
    if (!FormatText(path, sizeof path, "%s\\%s", ExeDirectory, LauncherSettings.GameExecutable) ||
        !CopyText(parameters, arguments) ||
        !FormatText(commandLine, sizeof commandLine, "%s\\%s %s", ExeDirectory, LauncherSettings.GameExecutable,
                    arguments))
        return ReportFailure(ERROR_FILENAME_EXCED_RANGE);

    LaunchExecuteInfo.lpFile = path;
    LaunchExecuteInfo.lpParameters = parameters;
    LaunchExecuteInfo.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExA(&LaunchExecuteInfo)) return 1;

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    if (!CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                        &process))
        return ReportFailure(GetLastError());
    // The launcher neither waits for the game nor asks how it ended.
    KernelHandle thread(process.hThread);
    KernelHandle game(process.hProcess);
    return 1;
}
