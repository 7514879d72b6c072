// The Updater's server addresses, temporary names, and its swap order under a kill at every
// step: the launcher's name always holds a whole launcher, old or new.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "updater/pe_machine.h"
#include "updater/update_files.h"
#include "updater/updater_text.h"

TEST(UpdaterUrls, EachArchitectureHasItsFolder) {
    char url[256];
    const char* base = "https://cdn.example.com/Setup/live/StandaloneWindows64";
    ASSERT_TRUE(BuildLauncherUrl(url, sizeof url, base, "1.1.1.25", LauncherArchitecture::I686));
    EXPECT_STREQ("https://cdn.example.com/Setup/live/StandaloneWindows64/Launcher/1.1.1.25/launcher.exe", url);
    ASSERT_TRUE(BuildLauncherUrl(url, sizeof url, base, "1.1.1.25", LauncherArchitecture::X86_64));
    EXPECT_STREQ("https://cdn.example.com/Setup/live/StandaloneWindows64/Launcher64/1.1.1.25/launcher.exe", url);
    ASSERT_TRUE(BuildInstallerUrl(url, sizeof url, base, "1.0.0.10"));
    EXPECT_STREQ("https://cdn.example.com/Setup/live/StandaloneWindows64/Installer/1.0.0.10/QOR_Installer.exe", url);
    // A cut address would fetch another file: refused.
    EXPECT_FALSE(BuildLauncherUrl(url, 80, base, "1.1.1.25", LauncherArchitecture::I686));
    EXPECT_FALSE(BuildInstallerUrl(url, 80, base, "1.0.0.10"));
}

TEST(UpdaterUrls, ThePathsTheSignedManifestListsFitItsPathsEvenAtTheLongestVersion) {
    char path[kManifestPathSize];
    ASSERT_TRUE(BuildLauncherPath(path, sizeof path, "65535.65535.65535.65535", LauncherArchitecture::X86_64));
    EXPECT_STREQ("Launcher64/65535.65535.65535.65535/launcher.exe", path);
    ASSERT_TRUE(BuildLauncherPath(path, sizeof path, "1.1.1.25", LauncherArchitecture::I686));
    EXPECT_STREQ("Launcher/1.1.1.25/launcher.exe", path);
    ASSERT_TRUE(BuildInstallerPath(path, sizeof path, "65535.65535.65535.65535"));
    EXPECT_STREQ("Installer/65535.65535.65535.65535/QOR_Installer.exe", path);
}

TEST(UpdaterNames, ProgramsAndTheirTemporaryFiles) {
    for (const char* name : {"launcher.exe", "QorLauncher.EXE", "my launcher.exe", "a.exe"})
        EXPECT_TRUE(IsProgramFileName(name)) << name;
    const std::string tooLong = std::string(197, 'x') + ".exe";
    for (const char* name : {"launcher", ".exe", "launcher.exe.updating", "..\\launcher.exe", "C:launcher.exe",
                             "sub/launcher.exe", "launcher.exe:stream.exe", " launcher.exe", tooLong.c_str()})
        EXPECT_FALSE(IsProgramFileName(name)) << name;

    char program[64];
    ASSERT_TRUE(SplitTemporaryName("launcher.exe.updating", kDownloadSuffix, program, sizeof program));
    EXPECT_STREQ("launcher.exe", program);
    ASSERT_TRUE(SplitTemporaryName("QorLauncher.EXE.REPLACED", kReplacedSuffix, program, sizeof program));
    EXPECT_STREQ("QorLauncher.EXE", program);
    EXPECT_FALSE(SplitTemporaryName("launcher.exe.updating", kReplacedSuffix, program, sizeof program));
    EXPECT_FALSE(SplitTemporaryName(".updating", kDownloadSuffix, program, sizeof program));
    EXPECT_FALSE(SplitTemporaryName("notes.txt.updating", kDownloadSuffix, program, sizeof program));
    EXPECT_FALSE(SplitTemporaryName("launcher.exe.updating", kDownloadSuffix, program, 8));
}

namespace {

// What a file name holds in the model: nothing, the old launcher, or the checked new one.
enum Content { None, Old, New };

struct Folder {
    Content launcher = Old;
    Content download = New;
    Content replaced = None;
};

// One step as the system does it; false when it fails (as the Win32 side would report).
bool Apply(Folder* f, SwapStep step) {
    switch (step) {
    case SwapStep::KeepOldAside:
        if (f->launcher == None) return false;
        f->replaced = f->launcher;
        return true;
    case SwapStep::MoveNewInPlace:
        if (f->download == None) return false;
        f->launcher = f->download;
        f->download = None;
        return true;
    case SwapStep::PutOldBack:
        if (f->replaced == None) return false;
        f->launcher = f->replaced;
        f->replaced = None;
        return true;
    case SwapStep::RemoveOld: f->replaced = None; return true;
    case SwapStep::RemoveDownload: f->download = None; return true;
    }
    return false;
}

void RunPlan(Folder* f, const SwapPlan& plan, int stopAfter = kMaxSwapSteps) {
    for (int i = 0; i < plan.count && i < stopAfter; ++i)
        if (!Apply(f, plan.steps[i])) return;
}

void Repair(Folder* f) { RunPlan(f, PlanRepair(f->launcher != None, f->replaced != None, f->download != None)); }

}  // namespace

TEST(SwapPlan, AKillAtAnyStepLeavesAWholeLauncherAndTheNextRunClearsTheRest) {
    // The whole road: swap, start, finish; killed after each step, then the next run.
    std::vector<SwapStep> road;
    for (const SwapPlan& plan : {PlanSwap(true), PlanFinish()})
        for (int i = 0; i < plan.count; ++i) road.push_back(plan.steps[i]);
    for (std::size_t kill = 0; kill <= road.size(); ++kill) {
        SCOPED_TRACE(kill);
        Folder f;
        for (std::size_t i = 0; i < kill; ++i) ASSERT_TRUE(Apply(&f, road[i]));
        EXPECT_NE(None, f.launcher);
        Repair(&f);
        EXPECT_NE(None, f.launcher);
        EXPECT_EQ(None, f.download);
        EXPECT_EQ(None, f.replaced);
    }
}

TEST(SwapPlan, UndoAndRepairPutTheOldLauncherBack) {
    Folder f;
    RunPlan(&f, PlanSwap(true));
    EXPECT_EQ(New, f.launcher);
    EXPECT_EQ(Old, f.replaced);
    RunPlan(&f, PlanUndo());
    EXPECT_EQ(Old, f.launcher);
    EXPECT_EQ(None, f.replaced);

    // A launcher name without a file (deleted by hand) gets the kept copy back.
    Folder lost{None, None, Old};
    Repair(&lost);
    EXPECT_EQ(Old, lost.launcher);

    // A download into an empty folder needs no copy of anything.
    Folder empty{None, New, None};
    RunPlan(&empty, PlanSwap(false));
    EXPECT_EQ(New, empty.launcher);
    EXPECT_EQ(0, PlanRepair(true, false, false).count);
}

TEST(PeMachine, ReadOnlyWithinTheBytesGiven) {
    unsigned char image[256] = {'M', 'Z'};
    image[0x3C] = 0x80;
    image[0x80] = 'P';
    image[0x81] = 'E';
    image[0x84] = 0x64;
    image[0x85] = 0x86;
    uint16_t machine = 0;
    ASSERT_TRUE(ReadPeMachine(image, sizeof image, &machine));
    EXPECT_EQ(kMachineAmd64, machine);
    EXPECT_TRUE(ReadPeMachine(image, 0x86, &machine));
    EXPECT_FALSE(ReadPeMachine(image, 0x85, &machine));  // the field itself cut off
    image[0x3C] = 0xFF;
    image[0x3D] = 0xFF;
    image[0x3E] = 0xFF;
    image[0x3F] = 0xFF;  // an offset that would wrap around
    EXPECT_FALSE(ReadPeMachine(image, sizeof image, &machine));
    image[0x3C] = 0x80;
    image[0x3D] = image[0x3E] = image[0x3F] = 0;
    image[0x82] = 'X';
    EXPECT_FALSE(ReadPeMachine(image, sizeof image, &machine));
    image[0x82] = 0;
    image[1] = 'X';
    EXPECT_FALSE(ReadPeMachine(image, sizeof image, &machine));
    EXPECT_FALSE(ReadPeMachine(image, 0x3F, &machine));
}

TEST(DownloadWords, PercentAndReasons) {
    EXPECT_EQ(0, DownloadPercent(5, 0));
    EXPECT_EQ(42, DownloadPercent(42, 100));
    EXPECT_EQ(100, DownloadPercent(101, 100));
    EXPECT_EQ(99, DownloadPercent(UINT64_C(0x3FFFFFFFFFFFFFF), UINT64_C(0x400000000000000)));
    char text[128];
    ASSERT_TRUE(DescribeDownloadFailure({DownloadResult::BadStatus, 404, 0, 0}, text, sizeof text));
    EXPECT_STREQ("the server answered 404", text);
    ASSERT_TRUE(DescribeDownloadFailure({DownloadResult::TooShort, 0, 100, 2048}, text, sizeof text));
    EXPECT_STREQ("the download ended after 100 of 2048 bytes", text);
    ASSERT_TRUE(DescribeDownloadFailure({DownloadResult::ConnectFailed, 12038, 0, 0}, text, sizeof text));
    EXPECT_STREQ("connection error 12038: the server's certificate is for another host name", text);
    ASSERT_TRUE(DescribeDownloadFailure({DownloadResult::ConnectFailed, 12040, 0, 0}, text, sizeof text));
    EXPECT_STREQ("connection error 12040: the server sent it on to an address without encryption", text);
    ASSERT_TRUE(DescribeDownloadFailure({DownloadResult::TooLarge, 64, 0, 5000000000}, text, sizeof text));
    EXPECT_STREQ("the server announced 5000000000 bytes, more than the 64 this file may have", text);
    ASSERT_TRUE(DescribeDownloadFailure({DownloadResult::NotSignedSize, 0, 0, 5000000000}, text, sizeof text));
    EXPECT_STREQ("the server announced 5000000000 bytes, not the size the signed list of published files gives",
                 text);
}
