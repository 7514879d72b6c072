// DownloadWorker: walks the patch steps, records each applied one, ends in the ready state.
#include "download/download_worker.h"

#include <cstring>

#include "common/display_state.h"
#include "download/file_downloader.h"
#include "download/progress.h"
#include "settings/launcher_settings.h"
#include "settings/version_record.h"
#include "update/patch_info.h"

namespace {

// A step the parser could not keep whole is not applied: its version would be recorded
// without all of its files.
bool RefuseFlawedStep(int index) {
    const uint8_t flaws = PatchStepFlaws[index];
    if (flaws == 0) return false;
    const PatchStep& step = PatchList[index];
    const int version = static_cast<int>(step.Version);
    if (flaws & kStepNameCut) {
        for (int32_t f = 0; f < step.FileCount && f < kMaxStepFiles; ++f)
            if (std::strlen(step.FileNames[f]) == kStepFileNameSize - 1) {
                StatusText.Format("Downloading failed - name_too_long (%s)", step.FileNames[f]);
                break;
            }
    } else if (flaws & kStepExtraNames) {
        StatusText.Format("Downloading failed - too_many_files (%d)", version);
    } else {
        StatusText.Format("Downloading failed - line_too_long (%d)", version);
    }
    SetStartButtonState(kButtonDisabled);
    return true;
}

}  // namespace

unsigned __stdcall DownloadWorker(void*) {
    ProgressCurrent = 0;
    ProgressTotal = 0;
    int32_t completed = 0;

    for (int s = 0; s < kMaxPatchSteps; ++s) {
        const PatchStep& step = PatchList[s];
        if (step.Version == 0) break;
        if (RefuseFlawedStep(s)) return 0;
        int32_t fileCount = step.FileCount < 0 ? 0 : step.FileCount;
        if (fileCount > kMaxStepFiles) fileCount = kMaxStepFiles;
        for (int32_t f = 0; f < fileCount && PatchFileTotal != 0; ++f) {
            ProgressCurrent = 0;
            ProgressTotal = CompletedPercent(completed, PatchFileTotal);
            if (!DownloadFile(step.FileNames[f], "/Player/")) return 0;
            ++completed;
        }
        CurrentVersion = step.Version;
        WriteVersionRecord();
    }

    StatusText.Format(LauncherSettings.MsgReady, static_cast<int>(CurrentVersion.load()));
    WriteVersionRecord();
    LaunchReady = 1;
    ProgressCurrent = 100;
    ProgressTotal = 100;
    SetStartButtonState(kButtonNormal);
    return 1;
}
