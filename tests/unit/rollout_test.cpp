// A staged rollout read from real patch information, and the release each install goes to.
#include <gtest/gtest.h>

#include <string>

#include "settings/version_record.h"
#include "support/temp_folder.h"
#include "update/patch_info.h"
#include "update/rollout.h"

namespace {

const char kHead[] = "[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n1.1.1.24\n[PLAYER]\n10001 base.zip\n10002 p2.zip\n10003\n";

RolloutState Read(const TempFolder& folder, const std::string& text) {
    folder.Write("update.dat", text);
    RolloutState rollout;
    EXPECT_EQ(1, ReadRollout("update.dat", &rollout));
    return rollout;
}

}  // namespace

TEST(Rollout, OnlyALeadingSectionOfOneWellFormedLineCounts) {
    TempFolder folder;
    const RolloutState r = Read(folder, std::string("[ROLLOUT]\n10003 25\n") + kHead);
    EXPECT_EQ(10003, r.Version);
    EXPECT_EQ(25, r.Percent);
    EXPECT_EQ(10002, r.Previous);
    for (const char* bad : {"[ROLLOUT]\n10003 101\n", "[ROLLOUT]\n10003\n", "[ROLLOUT]\n10003 25 x\n",
                            "[ROLLOUT]\n10003 25\n10003 30\n", "[ROLLOUT]\n-5 25\n", "[ROLLOUT]\nx 25\n"})
        EXPECT_EQ(0, Read(folder, std::string(bad) + kHead).Version) << bad;
    // After [PLAYER] a classic parser would read its line as a step: never a rollout there.
    EXPECT_EQ(0, Read(folder, std::string(kHead) + "[ROLLOUT]\n10003 25\n").Version);
    RolloutState none;
    EXPECT_EQ(0, ReadRollout("missing.dat", &none));
}

TEST(Rollout, BucketsBelowThePercentageTakeItAndNoInstallGoesBack) {
    const RolloutState r{10003, 25, 10002};
    EXPECT_EQ(10003, RolloutTarget(r, 10003, 24, 10002));
    EXPECT_EQ(10002, RolloutTarget(r, 10003, 25, 10002));
    EXPECT_EQ(10002, RolloutTarget(r, 10003, 99, 0));        // a fresh install: the full release
    EXPECT_EQ(10002, RolloutTarget(r, 10003, 99, 10001));    // behind: brought to it
    EXPECT_EQ(10003, RolloutTarget(r, 10003, 99, 10003));    // already on it, halted or not
    EXPECT_EQ(10003, RolloutTarget({10003, 0, 10002}, 10003, 0, 10003));
    EXPECT_EQ(10002, RolloutTarget({10003, 0, 10002}, 10003, 0, 10001));
    EXPECT_EQ(10004, RolloutTarget(r, 10004, 99, 10001));    // a newer full release ends it
    EXPECT_EQ(10003, RolloutTarget({10003, 25, 0}, 10003, 99, 0));  // nothing before it
}

TEST(Rollout, HoldingBackLeavesTheStepsUpToTheTarget) {
    TempFolder folder;
    ResetPatchInfo();
    CurrentVersion = 10001;
    folder.Write("update.dat", kHead);
    ASSERT_EQ(1, ParsePatchInfo());
    HoldBackTo(10002);
    EXPECT_EQ(10002, NewestPlayerVersion);
    EXPECT_EQ(10002, LatestVersion);
    EXPECT_EQ(10002, PatchList[0].Version);
    EXPECT_EQ(0, PatchList[1].Version);
    EXPECT_EQ(1, PatchFileTotal);
    ResetPatchInfo();
    CurrentVersion = 0;
}
