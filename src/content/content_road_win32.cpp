// TakeContentRoad: the version comparison that sends a content launcher to its worker.
#include "content/content_road_win32.h"

#include <windows.h>

#include "content/content_mode.h"
#include "content/content_worker_win32.h"
#include "settings/version_record.h"
#include "update/patch_info.h"

bool TakeContentRoad() {
    if (!ContentPatchingBuilt || LatestVersion <= 0) return false;
    if (LatestVersion == CurrentVersion.load()) {
        // Left by a launcher ended after the record named the release, before Finish removed it.
        DeleteFileW(L"content.cache");
        return false;
    }
    StartContentWorker();
    return true;
}
