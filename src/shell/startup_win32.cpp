// The start-up sequence: window, skin, settings, version record, patch information, the road.
#include "shell/startup_win32.h"

#include <windows.h>
#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/failure_trace.h"
#include "common/message_box.h"
#include "common/process_state.h"
#include "common/win32_handle.h"
#include "content/content_channel_win32.h"
#include "content/content_road_win32.h"
#include "download/download_worker.h"
#include "download/file_downloader.h"
#include "launch/game_launch_win32.h"
#include "paths/game_folder_win32.h"
#include "settings/launcher_settings.h"
#include "settings/layout_values.h"
#include "settings/version_record.h"
#include "shell/startup_text.h"
#include "skin/frame_win32.h"
#include "skin/layout.h"
#include "skin/skin_win32.h"
#include "update/patch_info.h"
#include "update/remote_patch_info.h"
#include "update/versions.h"
#include "update/versions_win32.h"

// The updater is started with this record; its size is the architecture's.
static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 8 ? 104 : 68), "STARTUPINFOA: 68 bytes on i686, 104 on x86_64");

namespace {

constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMilliseconds = 50;

void ShowErrorCode(DWORD code) {
    char text[64];
    FormatText(text, sizeof text, "Error code: %d", static_cast<int>(code));
    ShowMessageBox(BoxOwner::None, text, "Error", kBoxOk);
}

int ReadOsMajorVersion() {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) return 4;
#pragma GCC diagnostic pop
    return static_cast<int>(info.dwMajorVersion);
}

// The folder of the launcher executable becomes ExeDirectory and the working directory.
// A path that does not fit the 256-byte folder is refused: a cut path would put "config"
// and every patch file into some other folder.
bool TakeExeDirectory() {
    char path[1024] = {0};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        TraceFailure("module path", nullptr, length ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
        return false;
    }
    CutAtLastBackslash(path);
    if (!CopyText(ExeDirectory, path)) {
        TraceFailure("launcher folder", path, ERROR_FILENAME_EXCED_RANGE);
        ExeDirectory[0] = '\0';
        return false;
    }
    // Every file the launcher touches is named relative to its folder: where that cannot be
    // the working directory (a folder name outside the ANSI code page) or cannot be taken as
    // the game folder, nothing is touched at all.
    unsigned long error = 0;
    if (!SetCurrentDirectoryA(ExeDirectory)) {
        TraceFailure("working directory", ExeDirectory, GetLastError());
        return false;
    }
    if (!TakeGameFolder(&error)) return false;
    return true;
}

// The launcher's folder could not be used: the player is told which, and the launcher ends.
void ShowFolderRefused() {
    char text[kSettingSize + sizeof ExeDirectory + 4];
    FormatText(text, sizeof text, "%s\n\n%s", LauncherSettings.MsgAbnormalRun, ExeDirectory[0] ? ExeDirectory : "?");
    ShowMessageBox(BoxOwner::None, text, LauncherSettings.ErrorCaption, kBoxOk);
}

ATOM RegisterMainClass(HINSTANCE instance) {
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowClass.lpszClassName = kWindowClassName;
    const ATOM registered = RegisterClassA(&windowClass);
    if (!registered) TraceFailure("window class", kWindowClassName, GetLastError());
    return registered;
}

void CreateMainWindow(HINSTANCE instance) {
    DWORD exStyle = OsMajorVersion >= 5 ? WS_EX_LAYERED : 0;
    DWORD style = OsMajorVersion >= 5 ? WS_POPUP : WS_POPUP | WS_VISIBLE;
    MainWindow = CreateWindowExA(exStyle, kWindowClassName, "", style, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr,
                                 nullptr, instance, nullptr);
    if (!MainWindow) TraceFailure("main window", kWindowClassName, GetLastError());
    SetWindowTextA(MainWindow, kWindowTitle);
    HICON icon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(218), IMAGE_ICON, 64, 64, LR_DEFAULTCOLOR));
    if (!icon) TraceFailure("icon", "218", GetLastError());
    SendMessageA(MainWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SendMessageA(MainWindow, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

void ReleaseEverything() { ReleaseSkin(); }

// Hands an installer or launcher update to the external updater; the launcher then ends.
int StartUpdater(bool launcherUpdate) {
    char command[256];
    const char* required = launcherUpdate ? RequiredLauncherVersion : RequiredInstallerVersion;
    uint32_t number = launcherUpdate ? GetCurrentProcessId() : 0;
    if (!FormatUpdaterCommand(command, sizeof command, launcherUpdate, number, required,
                              LauncherSettings.PatchBaseUrl)) {
        ShowErrorCode(ERROR_BUFFER_OVERFLOW);
    } else {
        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;  // 68 bytes on i686, 104 on x86_64
        PROCESS_INFORMATION process;
        std::memset(&process, 0, sizeof process);
        if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                           &process)) {
            // The launcher neither waits for the updater nor learns its result.
            KernelHandle thread(process.hThread);
            KernelHandle updater(process.hProcess);
        } else {
            const DWORD error = GetLastError();
            TraceFailure("updater start", command, error);
            ShowErrorCode(error);
        }
    }
    ReleaseEverything();
    return 0;
}

void ShowReady() {
    SetStartButtonState(kButtonNormal);
    StatusText.Format(LauncherSettings.MsgReady, static_cast<int>(CurrentVersion.load()));
    ProgressCurrent = 100;
    ProgressTotal = 100;
}

// What start-up reads before it has a window: the previous patch information (before the
// working directory is the launcher's folder), the arguments, the system and own versions.
void ReadProcessValues(const char* commandLine) {
    ParsePatchInfo();
    std::memset(DownloadBuffer, 0, sizeof DownloadBuffer);
    std::memset(LauncherCommandLine, 0, sizeof LauncherCommandLine);
    if (commandLine && commandLine[0]) CopyText(LauncherCommandLine, commandLine);
    OsMajorVersion = ReadOsMajorVersion();
    PrepareLaunchExecuteInfo(OsMajorVersion);
    LauncherVersion = ReadLauncherVersion();
}

// The window and its skin, the settings and the installed client version.
void OpenWindowAndSkin(HINSTANCE instance) {
    CreateMainWindow(instance);
    LoadSkinImages(instance);
    ApplySettings();
    if (!ReadVersionRecord()) {
        CurrentVersion = 1;
        WriteVersionRecord();
    }
    SkinFont = CreateSkinFont();
    CompleteElementRects();
    SIZE size = BitmapSize(BackgroundImage);
    WindowSize = {size.cx, size.cy};
}

// Centres the window, makes its back buffer and opacity mask, and shows the first frame
// before the blocking fetch, so the player sees the launcher while the network is asked.
void ShowFirstFrame() {
    Origin origin = CentreOrigin(GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN),
                                 GetSystemMetrics(SM_CYCAPTION), WindowSize.width, WindowSize.height);
    WindowOrigin = {origin.x, origin.y};
    BackBuffer = CreateBackBuffer(WindowSize.width, WindowSize.height, &BackBufferPixels);
    AlphaMask = static_cast<uint8_t*>(
        std::malloc(static_cast<std::size_t>(WindowSize.width) * static_cast<std::size_t>(WindowSize.height) + 1));
    ShowWindow(MainWindow, SW_SHOW);
    BuildAlphaMask();
    SetWindowPos(MainWindow, HWND_TOP, WindowOrigin.x, WindowOrigin.y, WindowSize.width, WindowSize.height, 0);
    PlaceWindow();
    ComposeFrame();
    PresentFrame();
}

// Fetches the patch information; on failure the decision works on the copy parsed before.
void CheckVersions() {
    StatusText.Set(LauncherSettings.MsgCheckingVersion);
    if (FILE* previous = std::fopen("update.dat", "r")) {
        std::fclose(previous);
    } else {
        WriteVersionRecord();
    }
    if (!FetchContentChannel()) {
        StatusText.Set(LauncherSettings.MsgServerUnreachable);
        SetStartButtonState(kButtonDisabled);
    }
    if (!DeleteFileA(".\\QOR_Installer.exe")) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) TraceFailure("delete", ".\\QOR_Installer.exe", error);
    }
}

// Takes the road the update decision names. True, with the exit code, when the launcher ends
// here (the updater has the update); false when it goes on into the message loop.
bool TakeRoad(int* exitCode) {
    const UpdateRoad road = DecideStartupRoad();
    // A content launcher brings any installed version, or none, to the newest release itself.
    if (road != UpdateRoad::InstallerUpdate && road != UpdateRoad::LauncherUpdate && TakeContentRoad()) return false;
    switch (road) {
    case UpdateRoad::InstallerUpdate:
        *exitCode = StartUpdater(false);
        return true;
    case UpdateRoad::LauncherUpdate:
        *exitCode = StartUpdater(true);
        return true;
    case UpdateRoad::ReinstallClient:
        StatusText.Set(LauncherSettings.MsgReinstallClient);
        SetStartButtonState(kButtonDisabled);
        return false;
    case UpdateRoad::Ready:
        ShowReady();
        return false;
    case UpdateRoad::Patch:
        StartDownloadWorker();
        return false;
    }
    return false;
}

// The timer drives everything from here on; returns the quit message's exit code.
int RunMessageLoop() {
    if (!SetTimer(MainWindow, kTickTimer, kTickMilliseconds, nullptr))
        TraceFailure("tick timer", nullptr, GetLastError());
    PlaceWindow();
    LaunchReady = 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    ReleaseEverything();
    return static_cast<int>(message.wParam);
}

}  // namespace

void PlaceWindow() {
    SetWindowPos(MainWindow, nullptr, WindowOrigin.x, WindowOrigin.y, 0, 0, SWP_NOSIZE);
    RECT rect;
    if (GetWindowRect(MainWindow, &rect)) {
        LayeredPlacement.x = rect.left;
        LayeredPlacement.y = rect.top;
        LayeredPlacement.width = rect.right - rect.left;
        LayeredPlacement.height = rect.bottom - rect.top;
    }
}

bool StartDownloadWorker() {
    unsigned threadId = 0;
    const uintptr_t thread = _beginthreadex(nullptr, 0, DownloadWorker, nullptr, 0, &threadId);
    const DWORD error = thread ? 0 : GetLastError();
    ReportWorkerStart(thread, error);
    return thread != 0;
}

void ReportWorkerStart(uintptr_t thread, unsigned long error) {
    if (thread) return;
    TraceFailure("thread start", "DownloadWorker", error);
    StatusText.Format("Downloading failed - thread (%d)", static_cast<int>(error));
    SetStartButtonState(kButtonDisabled);
}

int RunLauncher(HINSTANCE instance, const char* commandLine) {
    ReadProcessValues(commandLine);
    if (!TakeExeDirectory()) {
        if (ExeDirectory[0])
            ShowFolderRefused();
        else
            ShowErrorCode(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    AppInstance = instance;
    if (!RegisterMainClass(instance)) return static_cast<int>(RegisterMainClass(instance));
    if (HWND other = FindWindowA(nullptr, kWindowTitle)) {
        SetFocus(other);
        return 1;
    }
    OpenWindowAndSkin(instance);
    ShowFirstFrame();
    ChooseContentChannel();
    CheckVersions();
    int exitCode = 0;
    if (TakeRoad(&exitCode)) return exitCode;
    RestateRefusedChannel();
    return RunMessageLoop();
}
