// The delete step: the installed release's files the new one no longer lists, each waited for
// while another program holds it.
#include "content/old_files_win32.h"

#include <windows.h>

#include <string>

#include "common/failure_trace.h"
#include "content/held_file_win32.h"
#include "content/wide_path_win32.h"

void DeleteOldFiles(const ReleaseManifest& oldRelease, const ContentPlan& plan, int beforeBuilding,
                    ContentReport& report) {
    // One held file is waited for; the player who keeps it open would otherwise wait the
    // whole bound again for every file after it.
    uint32_t waitMs = kHeldWaitMs;
    for (uint32_t i = 0; i < plan.Totals.Deletions; ++i) {
        const ContentDeletion d = ContentDeletionAt(plan, i);
        if ((d.BeforeBuilding != 0) != (beforeBuilding != 0)) continue;
        const ReleaseFile f = ReleaseFileAt(oldRelease, d.OldFile);
        wchar_t wide[kWidePathSize];
        if (!WidePathOf(f.Path, f.PathLength, wide, kWidePathSize) || IsOwnProgramName(wide)) continue;
        unsigned long error = 0;
        if (DeleteWhileHeld(wide, f.Path, f.PathLength, waitMs, &error, report)) continue;
        TraceFailure("content delete", std::string(f.Path, f.PathLength).c_str(), error);
        if (IsHeldFailure(wide, error)) waitMs = 0;
    }
}
