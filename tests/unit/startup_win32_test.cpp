// The start-up pieces that can be run inside a test: the download worker's start.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/display_state.h"
#include "settings/launcher_settings.h"
#include "settings/version_record.h"
#include "shell/startup_win32.h"
#include "support/debug_output_win32.h"
#include "support/temp_folder.h"
#include "update/patch_info.h"

namespace {

std::string Status() {
    char copy[SharedText::kSize];
    StatusText.CopyTo(copy, sizeof copy);
    return copy;
}

class WorkerStart : public ::testing::Test {
protected:
    void SetUp() override {
        ResetDisplayState();
        ResetPatchInfo();
        StatusText.Set(LauncherSettings.MsgCheckingVersion);
    }
    void TearDown() override { ResetDisplayState(); }
    TempFolder folder;
};

}  // namespace

TEST_F(WorkerStart, AThreadThatCannotStartIsShownAndTheStartButtonStaysDisabled) {
    DebugOutputRecorder debugger;
    ReportWorkerStart(0, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ("Downloading failed - thread (8)", Status());
    EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
    EXPECT_TRUE(debugger.Saw("launcher: thread start failed (DownloadWorker): error 8\n"));
}

TEST_F(WorkerStart, AStartedWorkerRunsToTheReadyState) {
    CurrentVersion = 10002;  // no steps: the worker only declares the client ready
    ASSERT_TRUE(StartDownloadWorker());
    for (int i = 0; i < 200 && ButtonStates[kStartButton].load() != kButtonNormal; ++i) Sleep(25);
    EXPECT_EQ(kButtonNormal, ButtonStates[kStartButton].load());
    EXPECT_EQ(100, ProgressTotal.load());
    EXPECT_NE(std::string(LauncherSettings.MsgCheckingVersion), Status());
    CurrentVersion = 0;
}
