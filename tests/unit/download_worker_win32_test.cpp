// DownloadWorker over real patch steps, the real test patch server and the real version record.
#include <gtest/gtest.h>

#include <windows.h>
#include <process.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "download/download_worker.h"
#include "settings/launcher_settings.h"
#include "settings/version_record.h"
#include "support/message_box_recorder.h"
#include "support/patch_server_win32.h"
#include "support/temp_folder.h"
#include "support/zip_writer.h"
#include "update/patch_info.h"

namespace {

std::string Status() {
    char copy[SharedText::kSize];
    StatusText.CopyTo(copy, sizeof copy);
    return copy;
}

std::string ReadyText(int32_t version) {
    char text[SharedText::kSize];
    FormatText(text, sizeof text, LauncherSettings.MsgReady, static_cast<int>(version));
    return text;
}

// The patch-file paths the server was asked for since mark, in order. A log line is written
// just after the answer, so wait a little for the number of requests that is expected.
std::vector<std::string> RequestedFiles(long mark, std::size_t expected) {
    const std::string key = "\"path\": \"/Setup/live/StandaloneWindows64/Player/";
    std::vector<std::string> files;
    for (int i = 0; i < 60; ++i) {
        files.clear();
        for (const std::string& line : RequestsSince(mark)) {
            std::size_t at = line.find(key);
            if (at == std::string::npos) continue;
            at += key.size();
            files.push_back(line.substr(at, line.find('"', at) - at));
        }
        if (files.size() >= expected && (expected > 0 || i >= 4)) break;
        Sleep(50);
    }
    return files;
}

int32_t RecordedVersion() {
    int32_t kept = CurrentVersion;
    CurrentVersion = 0;
    ReadVersionRecord();
    int32_t recorded = CurrentVersion;
    CurrentVersion = kept;
    return recorded;
}

class Worker : public ::testing::Test {
protected:
    void SetUp() override {
        ResetPatchInfo();
        ResetDisplayState();
        ClearRecordedBoxes();
        CurrentVersion = 0;
        if (!PatchServerAvailable()) GTEST_SKIP() << "the test patch server is not running";
        if (PatchServerBaseUrl() != LauncherSettings.PatchBaseUrl)
            GTEST_SKIP() << "built for the patch server " << LauncherSettings.PatchBaseUrl;
        ASSERT_TRUE(SetServerFaults({}));
        mark = LogMark();
    }
    void TearDown() override {
        ResetPatchInfo();
        if (PatchServerAvailable()) SetServerFaults({});
    }
    void Step(int index, int32_t version, std::vector<std::string> names) {
        PatchList[index].Version = version;
        PatchList[index].FileCount = static_cast<int32_t>(names.size());
        for (std::size_t i = 0; i < names.size(); ++i)
            CopyText(PatchList[index].FileNames[i], names[i].c_str());
        PatchFileTotal += static_cast<int32_t>(names.size());
    }
    void Serve(const std::string& name, const std::string& bytes) { PutServedFile("Player/" + name, bytes); }
    void ExpectReady(int32_t version) {
        EXPECT_EQ(ReadyText(version), Status());
        EXPECT_EQ(version, RecordedVersion());
        EXPECT_EQ(100, ProgressCurrent.load());
        EXPECT_EQ(100, ProgressTotal.load());
        EXPECT_EQ(kButtonNormal, ButtonStates[kStartButton].load());
        EXPECT_EQ(1, LaunchReady.load());
    }

    TempFolder folder;
    long mark = 0;
};

}  // namespace

TEST_F(Worker, TypicalRoadAppliesEveryStepAndEndsReady) {
    const std::string exe = LauncherSettings.GameExecutable;
    folder.Write(exe, "game");
    folder.Write("Patch/ro.txt", "old");
    ASSERT_TRUE(SetFileAttributesA("Patch\\ro.txt", FILE_ATTRIBUTE_READONLY));
    CurrentVersion = 10002;
    ASSERT_EQ(1, WriteVersionRecord());
    std::string big = TestBytes(120000, 11);
    Serve("wk-a.zip", ZipWriter().Deflated("Patch/Maps/m.bin", big).Stored("Patch/Text/t.txt", "t").Bytes());
    Serve("wk-b.zip", ZipWriter().Stored("Patch/ro.txt", "new").Bytes());
    Serve("wk-c.bin", "plain");
    Serve("wk-d.zip", ZipWriter().Deflated("Patch/d.txt", "d").Bytes());
    Step(0, 10003, {"wk-a.zip", "wk-b.zip"});
    Step(1, 10004, {"wk-c.bin", "wk-d.zip"});
    // Each answer waits a little, so the lower bar can be watched from here.
    ASSERT_TRUE(SetServerFaults({"Player/wk-*=delay:0.3"}));

    unsigned id = 0;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DownloadWorker, nullptr, 0, &id));
    ASSERT_NE(nullptr, thread);
    std::vector<int32_t> totals;
    while (WaitForSingleObject(thread, 5) == WAIT_TIMEOUT) {
        int32_t total = ProgressTotal.load();
        if (totals.empty() || totals.back() != total) totals.push_back(total);
    }
    DWORD exitCode = 99;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    if (totals.back() != ProgressTotal.load()) totals.push_back(ProgressTotal.load());

    EXPECT_EQ(1u, exitCode);
    EXPECT_EQ((std::vector<int32_t>{0, 25, 50, 75, 100}), totals);
    EXPECT_EQ(10004, CurrentVersion.load());
    ExpectReady(10004);
    EXPECT_EQ((std::vector<std::string>{"wk-a.zip", "wk-b.zip", "wk-c.bin", "wk-d.zip"}), RequestedFiles(mark, 4));
    EXPECT_EQ(big, folder.Read("Patch/Maps/m.bin"));
    EXPECT_EQ("t", folder.Read("Patch/Text/t.txt"));
    EXPECT_EQ("new", folder.Read("Patch/ro.txt"));
    EXPECT_EQ("plain", folder.Read("wk-c.bin"));
    EXPECT_EQ("d", folder.Read("Patch/d.txt"));
    for (const char* archive : {"wk-a.zip", "wk-b.zip", "wk-d.zip"}) EXPECT_FALSE(folder.Exists(archive)) << archive;
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              GetFileAttributesA(exe.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(Worker, SecondFileOfTheThirdStepFails) {
    for (const char* name : {"wk-f1.bin", "wk-f2.bin", "wk-f3.bin", "wk-f4.bin"}) Serve(name, name);
    CurrentVersion = 20000;
    Step(0, 20001, {"wk-f1.bin"});
    Step(1, 20002, {"wk-f2.bin", "wk-f3.bin"});
    Step(2, 20003, {"wk-f4.bin", "wk-f5-missing.bin"});
    Step(3, 20004, {"wk-f1.bin"});
    EXPECT_EQ(0u, DownloadWorker(nullptr));
    EXPECT_EQ(20002, CurrentVersion.load());
    EXPECT_EQ(20002, RecordedVersion());
    EXPECT_EQ("Downloading failed [404] (wk-f5-missing.bin)", Status());
    EXPECT_EQ(66, ProgressTotal.load());  // four of the six listed files were done before it
    EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
    EXPECT_EQ(0, LaunchReady.load());
    EXPECT_EQ(0, QuitRequested.load());
    EXPECT_EQ("wk-f4.bin", folder.Read("wk-f4.bin"));
    EXPECT_FALSE(folder.Exists("wk-f5-missing.bin"));
    EXPECT_EQ((std::vector<std::string>{"wk-f1.bin", "wk-f2.bin", "wk-f3.bin", "wk-f4.bin", "wk-f5-missing.bin"}),
              RequestedFiles(mark, 5));
}

TEST_F(Worker, DamagedArchiveEndsTheWorkerWithQuitRequested) {
    Serve("wk-bad.zip", "not an archive");
    CurrentVersion = 50000;
    Step(0, 50001, {"wk-bad.zip"});
    EXPECT_EQ(0u, DownloadWorker(nullptr));
    EXPECT_EQ(1, QuitRequested.load());
    EXPECT_EQ(1u, RecordedBoxes().size());
    EXPECT_EQ(50000, CurrentVersion.load());
    EXPECT_FALSE(folder.Exists("config"));
    EXPECT_EQ(0, LaunchReady.load());
}

TEST_F(Worker, StepWithoutFilesIsRecordedWithoutATransfer) {
    Serve("wk-z1.bin", "z1");
    Serve("wk-z3.bin", "z3");
    CurrentVersion = 30000;
    Step(0, 30001, {"wk-z1.bin"});
    Step(1, 30002, {});
    Step(2, 30003, {"wk-z3.bin"});
    Step(3, 30004, {});
    EXPECT_EQ(1u, DownloadWorker(nullptr));
    EXPECT_EQ(30004, CurrentVersion.load());
    ExpectReady(30004);
    EXPECT_EQ((std::vector<std::string>{"wk-z1.bin", "wk-z3.bin"}), RequestedFiles(mark, 2));
}

TEST_F(Worker, EmptyListIsReadyWithTheUnchangedVersion) {
    CurrentVersion = 1203;
    EXPECT_EQ(1u, DownloadWorker(nullptr));
    EXPECT_EQ(1203, CurrentVersion.load());
    ExpectReady(1203);
    EXPECT_TRUE(RequestedFiles(mark, 0).empty());
    if (std::strstr(LauncherSettings.MsgReady, "% d]")) {
        std::string status = Status();
        EXPECT_EQ(" 1203]", status.substr(status.size() - 6));
        CurrentVersion = -5;
        EXPECT_EQ(1u, DownloadWorker(nullptr));
        status = Status();
        EXPECT_EQ(":-5]", status.substr(status.size() - 4));
    }
}

TEST_F(Worker, AHundredStepsAreAllApplied) {
    for (int i = 0; i < kMaxPatchSteps; ++i) Step(i, 40001 + i, {});
    EXPECT_EQ(1u, DownloadWorker(nullptr));
    EXPECT_EQ(40100, CurrentVersion.load());
    ExpectReady(40100);
}

TEST_F(Worker, NoTransferWhenTheFileTotalIsZero) {
    Step(0, 60001, {"wk-never.bin"});
    PatchFileTotal = 0;
    EXPECT_EQ(1u, DownloadWorker(nullptr));
    ExpectReady(60001);
    EXPECT_TRUE(RequestedFiles(mark, 0).empty());
}

TEST_F(Worker, AStepThatLostNamesInParsingIsNotApplied) {
    Serve("wk-g1.bin", "g1");
    const std::string longName(63, 'n');
    struct Case {
        uint8_t flaw;
        std::string text;
    };
    for (const Case& c : {Case{kStepExtraNames, "Downloading failed - too_many_files (70002)"},
                          Case{kStepNameCut, "Downloading failed - name_too_long (" + longName + ")"},
                          Case{kStepLineCut, "Downloading failed - line_too_long (70002)"}}) {
        SCOPED_TRACE(c.text);
        ResetPatchInfo();
        ResetDisplayState();
        SetStartButtonState(kButtonNormal);
        CurrentVersion = 70000;
        Step(0, 70001, {"wk-g1.bin"});
        Step(1, 70002, {"wk-g1.bin", longName});
        Step(2, 70003, {});
        PatchStepFlaws[1] = c.flaw;
        const long before = LogMark();
        EXPECT_EQ(0u, DownloadWorker(nullptr));
        EXPECT_EQ(c.text, Status());
        EXPECT_EQ(70001, RecordedVersion());  // the whole step before it is kept
        EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
        EXPECT_EQ(0, LaunchReady.load());
        EXPECT_EQ((std::vector<std::string>{"wk-g1.bin"}), RequestedFiles(before, 1));
    }
}
