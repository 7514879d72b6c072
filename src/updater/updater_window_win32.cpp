// The Updater's window: a caption, a status line and a progress bar. The update thread writes
// the shared text and percentage; a timer on the window thread copies them to the controls.
#include "updater/updater_window_win32.h"

#include <commctrl.h>

#include <atomic>
#include <cstring>

#include "common/shared_text.h"

HWND UpdaterWindow = nullptr;

namespace {

constexpr const char* kClassName = "QorUpdaterWindow";
constexpr const char* kTitle = "Updater";
constexpr UINT kFinishMessage = WM_APP + 1;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 100;
constexpr int kClientWidth = 420;
constexpr int kClientHeight = 92;
constexpr int kMargin = 16;

SharedText StatusLine("Starting");
std::atomic<int> ProgressPercent{0};
std::atomic<int> ExitCode{1};  // kExitCannotRun until the update thread says otherwise

HWND TextControl = nullptr;
HWND BarControl = nullptr;

void Refresh() {
    char shown[SharedText::kSize];
    char wanted[SharedText::kSize];
    GetWindowTextA(TextControl, shown, sizeof shown);
    StatusLine.CopyTo(wanted, sizeof wanted);
    if (std::strcmp(shown, wanted) != 0) SetWindowTextA(TextControl, wanted);
    SendMessageA(BarControl, PBM_SETPOS, static_cast<WPARAM>(ProgressPercent.load()), 0);
}

LRESULT CALLBACK UpdaterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == kRefreshTimer) Refresh();
        return 0;
    case kFinishMessage:
        KillTimer(window, kRefreshTimer);
        DestroyWindow(window);
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        // Only the update thread ends the Updater: it knows when no file is half moved.
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void CreateControls(HINSTANCE instance) {
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    const int width = kClientWidth - 2 * kMargin;
    TextControl = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS,
                                  kMargin, kMargin, width, 20, UpdaterWindow, nullptr, instance, nullptr);
    BarControl = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, kMargin, kMargin + 32, width, 20,
                                 UpdaterWindow, nullptr, instance, nullptr);
    SendMessageA(TextControl, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageA(BarControl, PBM_SETRANGE32, 0, 100);
}

}  // namespace

bool CreateUpdaterWindow(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = UpdaterWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass)) return false;

    // No system menu: the window has no close button to leave a swap half done.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&frame, style, FALSE);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    UpdaterWindow = CreateWindowExA(0, kClassName, kTitle, style, x, y, width, height, nullptr, nullptr, instance,
                                    nullptr);
    if (!UpdaterWindow) return false;
    CreateControls(instance);
    Refresh();
    ShowWindow(UpdaterWindow, SW_SHOWNORMAL);
    UpdateWindow(UpdaterWindow);
    SetTimer(UpdaterWindow, kRefreshTimer, kRefreshMs, nullptr);
    return true;
}

bool BringOtherUpdaterForward() {
    HWND other = FindWindowA(kClassName, kTitle);
    if (!other) return false;
    SetForegroundWindow(other);
    return true;
}

void SetUpdaterStatus(const char* text) { StatusLine.Set(text); }

void SetUpdaterProgress(int percent) { ProgressPercent.store(percent); }

void HideUpdaterWindow() { ShowWindowAsync(UpdaterWindow, SW_HIDE); }

void FinishUpdater(int exitCode) {
    ExitCode.store(exitCode);
    PostMessageA(UpdaterWindow, kFinishMessage, 0, 0);
}

int RunUpdaterWindow() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return ExitCode.load();
}
