// TakeContentRoad: the version comparison that sends a content launcher to its worker, and the
// verify the player asks for or an interrupted update leaves due.
#include "content/content_road_win32.h"

#include <windows.h>

#include "common/process_state.h"
#include "content/content_menu_win32.h"
#include "content/content_mode.h"
#include "content/content_worker_win32.h"
#include "content/verify_argument.h"
#include "content_format/cache_record.h"
#include "settings/version_record.h"
#include "update/patch_info.h"

bool InterruptedUpdateLeft() {
    // The worker makes the cache before its first fetch and removes it once the record is
    // written; found at start, a run ended somewhere in between.
    return GetFileAttributesW(kContentCacheFile) != INVALID_FILE_ATTRIBUTES;
}

bool TakeContentRoad() {
    if (!ContentPatchingBuilt) return false;
    ApplySavedRateLimit();
    // Taken out before anything can start the game, whichever road follows.
    const bool asked = TakeVerifyArgument(LauncherCommandLine) != 0;
    // The whole section's newest, not the classic road's LatestVersion: past its hundred step
    // slots that one names a release short of the newest, or one from before the content mode.
    if (NewestPlayerVersion <= 0) return false;
    const bool newest = NewestPlayerVersion == CurrentVersion.load();
    // An update due already re-reads every file an interrupted run touched (their stamps
    // changed); with the newest release recorded, only a verify looks at them again.
    const bool verify = asked || (newest && InterruptedUpdateLeft());
    if (newest && !verify) return false;
    StartContentWorker(verify);
    return true;
}

bool ContentMenu(HWND window, LPARAM at) {
    if (!ContentPatchingBuilt) return false;
    OpenContentMenu(window, at);
    return true;
}
