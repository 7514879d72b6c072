// MainWindowProc: the timer tick, presses and releases on the skin buttons, moves, quitting, and
// the content mode's menu.
#include <windows.h>
#include <shellapi.h>

#include "common/display_state.h"
#include "common/process_state.h"
#include "content/content_road_win32.h"
#include "launch/game_launch_win32.h"
#include "settings/layout_values.h"
#include "shell/startup_win32.h"
#include "skin/frame_win32.h"
#include "skin/layout.h"
#include "skin/skin_win32.h"

namespace {

// Ten ticks after start the window is placed once more: some systems move a new layered
// window after its first presentation.
int PlacementCountdown = 10;

POINT CursorInWindow() {
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    cursor.x -= WindowOrigin.x;
    cursor.y -= WindowOrigin.y;
    return cursor;
}

bool LeftButtonDown() { return (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0; }

LRESULT OnTick(HWND window, bool press) {
    if (PlacementCountdown != 0 && --PlacementCountdown == 0) PlaceWindow();

    POINT cursor = CursorInWindow();
    bool overButton = UpdateButtonStates(ElementRects, ButtonStates, cursor.x, cursor.y, LeftButtonDown());

    if (press && InCloseRegion(cursor.x, cursor.y)) {
        QuitRequested = 1;
        return 0;
    }
    if (ComposeFrame()) PresentFrame();
    if (QuitRequested.load()) PostQuitMessage(0);
    if (press && !overButton) SendMessageA(window, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
    return 0;
}

void OpenPage(const char* address) { ShellExecuteA(nullptr, nullptr, address, nullptr, nullptr, SW_SHOWMAXIMIZED); }

LRESULT OnRelease() {
    if (QuitRequested.load()) return 0;
    POINT cursor = CursorInWindow();
    switch (HitTestButton(ElementRects, ButtonStates, cursor.x, cursor.y)) {
    case kStartButton:
        if (LaunchReady.load() && StartGame(LauncherCommandLine)) QuitRequested = 1;
        break;
    case kExitButton:
        QuitRequested = 1;
        break;
    case kHomePageButton:
        OpenPage(HomePageLink);
        break;
    case kCommunityButton:
        OpenPage(CommunityLink);
        break;
    default:
        break;
    }
    return 0;
}

// A paint request or a display change may come after the system dropped what the window
// showed: the frame is shown again even when nothing changed.
void ShowFrameAgain() {
    PlaceWindow();
    ComposeFrame();
    PresentFrameAgain();
}

LRESULT OnPaint(HWND window) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    ShowFrameAgain();
    EndPaint(window, &paint);
    return 0;
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MOVE:
        WindowOrigin.x = static_cast<short>(LOWORD(lParam));
        WindowOrigin.y = static_cast<short>(HIWORD(lParam));
        PlaceWindow();
        return 0;
    case WM_PAINT:
        return OnPaint(window);
    case WM_CLOSE:
        QuitRequested = 1;
        return 1;
    case WM_DISPLAYCHANGE:
        ShowFrameAgain();
        return 0;
    case WM_TIMER:
        return OnTick(window, false);
    case WM_LBUTTONDOWN:
        return OnTick(window, true);
    case WM_LBUTTONUP:
        return OnRelease();
    case WM_CONTEXTMENU:
        // Without the content mode the message goes on as it always has.
        if (ContentMenu(window, lParam)) return 0;
        return DefWindowProcA(window, message, wParam, lParam);
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
