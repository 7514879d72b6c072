// OpenContentMenu: the popup's items from the run's state, and each command's effect: the pause
// and the limit flip shared values the lanes read, the repair starts a verifying worker.
#include "content/content_menu_win32.h"

#include <shellapi.h>

#include <cstdint>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/failure_trace.h"
#include "common/process_state.h"
#include "common/win32_handle.h"
#include "content/fetch_controls_win32.h"
#include "content/content_presenter_win32.h"
#include "content/content_text.h"
#include "content/content_worker_win32.h"
#include "content/rate_choice_win32.h"
#include "update/patch_info.h"

namespace {

enum MenuCommand : UINT { kMenuPause = 1, kMenuRepair, kMenuOpenFolder, kMenuSpeedFirst = 16 };
constexpr uint32_t kSpeedChoices[] = {0, 1, 2, 5, 10, 20};  // MB/s, 0: no limit
constexpr uint32_t kSpeedCount = sizeof kSpeedChoices / sizeof kSpeedChoices[0];
// MB as the status line counts it (KB of 1024 bytes), so a limit of 1 reads 1024 KB/s there.
constexpr uint64_t kBytesPerMb = 1 << 20;

// Only the window thread reads or writes it.
uint32_t ChosenMbps = 0;

void ApplyMbps(uint32_t mbps) {
    ChosenMbps = mbps;
    LimitContentFetch(uint64_t{mbps} * kBytesPerMb);
}

HMENU SpeedMenu() {
    MenuHandle menu(CreatePopupMenu());
    if (!menu) return nullptr;
    UINT checked = 0;
    for (uint32_t i = 0; i < kSpeedCount; ++i) {
        char text[64];
        if (kSpeedChoices[i] == 0)
            FormatText(text, sizeof text, "%s", ContentText.MenuSpeedOff);
        else
            FormatText(text, sizeof text, ContentText.MenuSpeedRate, kSpeedChoices[i]);
        if (!AppendMenuA(menu.Get(), MF_STRING, kMenuSpeedFirst + i, text)) return nullptr;
        if (kSpeedChoices[i] == ChosenMbps) checked = kMenuSpeedFirst + i;
    }
    // A branded default off the list checks none: the player still sees every choice.
    const UINT last = kMenuSpeedFirst + kSpeedCount - 1;
    if (checked) CheckMenuRadioItem(menu.Get(), kMenuSpeedFirst, last, checked, MF_BYCOMMAND);
    return menu.Release();
}

// A repair needs a release to verify against, and no run may be under way: two workers would
// write the same files.
bool RepairOffered() { return !ContentRunGoing() && NewestPlayerVersion > 0; }

HMENU BuildMenu() {
    MenuHandle menu(CreatePopupMenu());
    MenuHandle speed(SpeedMenu());
    if (!menu || !speed) return nullptr;
    const bool paused = ContentFetchPaused();
    const char* pause = paused ? ContentText.MenuResume : ContentText.MenuPause;
    // With no run under way there is nothing to pause (a pause kept stays undoable).
    const UINT pausing = MF_STRING | (paused || ContentRunGoing() ? 0 : MF_GRAYED);
    const UINT repair = MF_STRING | (RepairOffered() ? 0 : MF_GRAYED);
    if (!AppendMenuA(menu.Get(), pausing, kMenuPause, pause) ||
        !AppendMenuA(menu.Get(), MF_POPUP, reinterpret_cast<UINT_PTR>(speed.Get()), ContentText.MenuSpeed))
        return nullptr;
    speed.Release();  // the menu owns it now
    if (!AppendMenuA(menu.Get(), MF_SEPARATOR, 0, nullptr) ||
        !AppendMenuA(menu.Get(), repair, kMenuRepair, ContentText.MenuRepair) ||
        !AppendMenuA(menu.Get(), MF_STRING, kMenuOpenFolder, ContentText.MenuOpenFolder))
        return nullptr;
    return menu.Release();
}

void StartRepair() {
    if (!RepairOffered() || !ClaimContentRun()) return;
    // The start button waits for the verify's end, as it waits for an update's.
    LaunchReady = 0;
    StartContentWorker(true);
}

void OpenGameFolder() {
    const HINSTANCE result = ShellExecuteA(nullptr, "explore", ExeDirectory, nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(result) <= 32) TraceFailure("open folder", ExeDirectory, GetLastError());
}

void Run(UINT command) {
    if (command == kMenuPause) {
        PauseContentFetch(!ContentFetchPaused());
    } else if (command == kMenuRepair) {
        StartRepair();
    } else if (command == kMenuOpenFolder) {
        OpenGameFolder();
    } else if (command >= kMenuSpeedFirst && command < kMenuSpeedFirst + kSpeedCount) {
        ApplyMbps(kSpeedChoices[command - kMenuSpeedFirst]);
        SaveRateLimitMbps(ChosenMbps);
    }
}

}  // namespace

void OpenContentMenu(HWND window, LPARAM at) {
    POINT point = {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    if (at == static_cast<LPARAM>(-1)) point = POINT{WindowOrigin.x + 16, WindowOrigin.y + 16};
    MenuHandle menu(BuildMenu());
    if (!menu) {
        TraceFailure("content menu", "create", GetLastError());
        return;
    }
    // Without the window in front the menu would not close when the player clicks elsewhere.
    SetForegroundWindow(window);
    const UINT command = static_cast<UINT>(TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                                          point.x, point.y, 0, window, nullptr));
    PostMessageA(window, WM_NULL, 0, 0);
    Run(command);
}

void ApplySavedRateLimit() { ApplyMbps(SavedRateLimitMbps()); }
