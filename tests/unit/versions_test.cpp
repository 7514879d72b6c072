// Version texts, their comparison, client series and the start-up decision.
#include <gtest/gtest.h>

#include <cstring>

#include "update/patch_info.h"
#include "update/versions.h"

TEST(Versions, ReadingVersionTexts) {
    struct Case { const char* text; int a, b, c, d; };
    for (Case k : {Case{"1.2.3.4", 1, 2, 3, 4}, Case{"1.2", 1, 2, 0, 0}, Case{"", 0, 0, 0, 0},
                   Case{"1.x.3.4", 1, 0, 0, 0}, Case{"-1.2.3.4", -1, 2, 3, 4}, Case{" 7 .8", 7, 0, 0, 0},
                   Case{"1.2.3.4.5", 1, 2, 3, 4}, Case{"99999999999.1", 2147483647, 1, 0, 0}}) {
        VersionQuad v = ReadVersionText(k.text);
        EXPECT_EQ(k.a, v.field[0]) << k.text;
        EXPECT_EQ(k.b, v.field[1]) << k.text;
        EXPECT_EQ(k.c, v.field[2]) << k.text;
        EXPECT_EQ(k.d, v.field[3]) << k.text;
    }
}

TEST(Versions, ComparesFieldsAsNumbers) {
    struct Case { const char* a; const char* b; int result; };
    for (Case k : {Case{"1.0.0.9", "1.0.0.10", -1}, Case{"2.0.0.0", "1.9.9.9", 1}, Case{"1.2", "1.2.0.0", 0},
                   Case{"", "0.0.0.0", 0}, Case{"-1", "0", -1}, Case{"1.1.1.24", "1.1.1.24", 0},
                   Case{"1.1.1.24", "1.1.2", -1}}) {
        EXPECT_EQ(k.result, CompareVersions(ReadVersionText(k.a), ReadVersionText(k.b))) << k.a << " vs " << k.b;
    }
}

TEST(Versions, LauncherUpdateAgainstTheRequiredText) {
    LauncherVersion = {{1, 1, 1, 24}};
    std::strcpy(RequiredLauncherVersion, "1.1.1.25");
    EXPECT_EQ(1, IsLauncherUpdateNeeded());
    std::strcpy(RequiredLauncherVersion, "1.1.1.24");
    EXPECT_EQ(0, IsLauncherUpdateNeeded());
    RequiredLauncherVersion[0] = '\0';  // unreadable or absent: never an update
    EXPECT_EQ(0, IsLauncherUpdateNeeded());
}

TEST(Versions, SeriesAndDecision) {
    EXPECT_EQ(1, VersionSeries(19999));
    EXPECT_EQ(2, VersionSeries(20000));
    EXPECT_EQ(0, VersionSeries(-9999));
    struct Case { int installer, launcher; int32_t latest, current; UpdateRoad road; };
    for (Case k : {Case{1, 1, 10203, 10203, UpdateRoad::InstallerUpdate},
                   Case{0, 1, 10203, 10203, UpdateRoad::LauncherUpdate},
                   Case{0, 0, 20000, 19999, UpdateRoad::ReinstallClient},
                   Case{0, 0, 20001, 10203, UpdateRoad::ReinstallClient},
                   Case{0, 0, 20017, 20000, UpdateRoad::Patch},
                   Case{0, 0, 10205, 10203, UpdateRoad::Patch},
                   Case{0, 0, 10201, 10203, UpdateRoad::Patch},
                   Case{0, 0, 10203, 10203, UpdateRoad::Ready}}) {
        EXPECT_EQ(k.road, DecideUpdateRoad(k.installer, k.launcher, k.latest, k.current))
            << k.latest << " " << k.current << " " << UpdateRoadName(k.road);
    }
}
