// DownloadWorker: walks the patch steps, records each applied one, ends in the ready state.
#include "download/download_worker.h"

#include "common/display_state.h"
#include "download/file_downloader.h"
#include "download/progress.h"
#include "settings/launcher_settings.h"
#include "settings/version_record.h"
#include "update/patch_info.h"

unsigned __stdcall DownloadWorker(void*) {
    ProgressCurrent = 0;
    ProgressTotal = 0;
    int32_t completed = 0;

    for (int s = 0; s < kMaxPatchSteps; ++s) {
        const PatchStep& step = PatchList[s];
        if (step.Version == 0) break;
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
