// ParsePatchInfo over real "update.dat" files.
#include <gtest/gtest.h>

#include <string>

#include "settings/version_record.h"
#include "support/temp_folder.h"
#include "update/patch_info.h"

namespace {

class PatchInfo : public ::testing::Test {
protected:
    void SetUp() override {
        ResetPatchInfo();
        CurrentVersion = 0;
    }
    int Parse(const std::string& text) {
        folder.Write("update.dat", text);
        return ParsePatchInfo();
    }
    TempFolder folder;
};

}  // namespace

TEST_F(PatchInfo, WorkedExample) {
    CurrentVersion = 10001;
    ASSERT_EQ(1, Parse("[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n1.1.1.24\n[PLAYER]\n10001 base.zip\n"
                       "10002 patch1.zip data/extra.zip\n10003\n"));
    EXPECT_STREQ("1.0.0.3", RequiredInstallerVersion);
    EXPECT_STREQ("1.1.1.24", RequiredLauncherVersion);
    EXPECT_EQ(10003, LatestVersion);
    EXPECT_EQ(10002, PatchList[0].Version);
    EXPECT_EQ(2, PatchList[0].FileCount);
    EXPECT_STREQ("patch1.zip", PatchList[0].FileNames[0]);
    EXPECT_STREQ("data/extra.zip", PatchList[0].FileNames[1]);
    EXPECT_STREQ("", PatchList[0].FileNames[2]);
    EXPECT_EQ(10003, PatchList[1].Version);
    EXPECT_EQ(0, PatchList[1].FileCount);
    EXPECT_EQ(0, PatchList[2].Version);
    EXPECT_EQ(2, PatchFileTotal);
}

TEST_F(PatchInfo, CrLfTabsAndHeaderTrailers) {
    ASSERT_EQ(1, Parse("junk before\r\n[PLAYER] ignored words\r\n\t10002\ta.zip \t b.bin\r\n"));
    EXPECT_EQ(10002, PatchList[0].Version);
    EXPECT_EQ(2, PatchList[0].FileCount);
    EXPECT_STREQ("b.bin", PatchList[0].FileNames[1]);
}

TEST_F(PatchInfo, MissingAndEmptyFiles) {
    LatestVersion = 77;
    EXPECT_EQ(0, ParsePatchInfo());
    EXPECT_EQ(77, LatestVersion);
    EXPECT_EQ(1, Parse(""));
    EXPECT_EQ(77, LatestVersion);
    // An error page instead of the file has no header: nothing changes.
    EXPECT_EQ(1, Parse("<html><body>404 Not Found</body></html>\n"));
    EXPECT_EQ(77, LatestVersion);
    EXPECT_STREQ("", RequiredInstallerVersion);
}

TEST_F(PatchInfo, SecondPlayerHeaderRestartsTheList) {
    ASSERT_EQ(1, Parse("[PLAYER]\n10002 a.zip\n10003 b.zip c.zip\n[PLAYER]\n10004 d.zip\n"));
    EXPECT_EQ(10004, PatchList[0].Version);
    EXPECT_STREQ("d.zip", PatchList[0].FileNames[0]);
    EXPECT_EQ(0, PatchList[1].Version);
    EXPECT_STREQ("", PatchList[1].FileNames[0]);
    EXPECT_EQ(1, PatchFileTotal);
}

TEST_F(PatchInfo, LatestIsTheLastNonZeroVersionAndOldStepsTakeNoSlot) {
    CurrentVersion = 10002;
    ASSERT_EQ(1, Parse("[PLAYER]\n10001 a\n10005 b\n10003 c\nnot-a-number x\n-4 neg\n"));
    EXPECT_EQ(-4, LatestVersion);
    EXPECT_EQ(10005, PatchList[0].Version);
    EXPECT_EQ(10003, PatchList[1].Version);
    EXPECT_EQ(0, PatchList[2].Version);
}

TEST_F(PatchInfo, LowerCaseHeadersAreNotHeaders) {
    ASSERT_EQ(1, Parse("[INSTALLER]\n[launcher]\n[PLAYER]\n[player]\n10002 x\n"));
    EXPECT_STREQ("[launcher]", RequiredInstallerVersion);
    EXPECT_EQ(10002, PatchList[0].Version);
}

TEST_F(PatchInfo, VersionSectionsLastLineWins) {
    ASSERT_EQ(1, Parse("[LAUNCHER]\n1.0.0.1 extra\n\n1.0.0.2\n"));
    EXPECT_STREQ("1.0.0.2", RequiredLauncherVersion);
}

TEST_F(PatchInfo, SeventeenNamesKeepSixteen) {
    std::string line = "10002";
    for (int i = 0; i < 17; ++i) line += " f" + std::to_string(i);
    ASSERT_EQ(1, Parse("[PLAYER]\n" + line + "\n"));
    EXPECT_EQ(16, PatchList[0].FileCount);
    EXPECT_STREQ("f15", PatchList[0].FileNames[15]);
    EXPECT_EQ(16, PatchFileTotal);
    // The seventeenth file would never be fetched: the step is marked so it is not applied.
    EXPECT_EQ(kStepExtraNames, PatchStepFlaws[0]);
}

TEST_F(PatchInfo, WholeStepsCarryNoFlawAndHeadersClearThem) {
    std::string full = "10002";
    for (int i = 0; i < 16; ++i) full += " " + std::string(63, static_cast<char>('a' + i));
    // 16 names of 63 characters do not fit one read: the line is cut, and so is the step.
    ASSERT_EQ(1, Parse("[PLAYER]\n10001 a b\t \r\n" + full + "\n10003 c\n"));
    EXPECT_EQ(0, PatchStepFlaws[0]);
    EXPECT_EQ(kStepLineCut, PatchStepFlaws[1]);
    EXPECT_EQ(0, PatchStepFlaws[2]);
    ASSERT_EQ(1, Parse("[PLAYER]\n10002 a\n"));
    EXPECT_EQ(0, PatchStepFlaws[1]);
    // The last line of a file without a final newline is whole.
    ASSERT_EQ(1, Parse("[PLAYER]\n10002 a b"));
    EXPECT_EQ(0, PatchStepFlaws[0]);
    EXPECT_EQ(2, PatchList[0].FileCount);
}

TEST_F(PatchInfo, HundredStepsThenReadingStops) {
    std::string text = "[PLAYER]\n";
    for (int i = 1; i <= 101; ++i) text += std::to_string(10000 + i) + " f.zip\n";
    text += "[INSTALLER]\n9.9.9.9\n";
    ASSERT_EQ(1, Parse(text));
    EXPECT_EQ(10100, PatchList[99].Version);
    EXPECT_EQ(10100, LatestVersion);
    EXPECT_EQ(100, PatchFileTotal);
    EXPECT_STREQ("", RequiredInstallerVersion);
}

TEST_F(PatchInfo, OverlongTokensAreCutToTheirFields) {
    std::string longName(200, 'n');
    std::string longVersion(100, '1');
    ASSERT_EQ(1, Parse("[INSTALLER]\n" + longVersion + "\n[PLAYER]\n10002 " + longName + " next.zip\n"));
    EXPECT_EQ(std::string(31, '1'), RequiredInstallerVersion);
    EXPECT_EQ(std::string(63, 'n'), PatchList[0].FileNames[0]);
    EXPECT_STREQ("next.zip", PatchList[0].FileNames[1]);
    EXPECT_EQ(2, PatchList[0].FileCount);
    EXPECT_EQ(kStepNameCut, PatchStepFlaws[0]);
    ASSERT_EQ(1, Parse("[PLAYER]\n10002 " + std::string(63, 'n') + "\n"));
    EXPECT_EQ(0, PatchStepFlaws[0]);
}

TEST_F(PatchInfo, TheRestOfAVeryLongLineIsSkipped) {
    // Read as a line of its own, the tail "20001.zip b.zip" would make a step 20001.
    CurrentVersion = 10001;
    std::string line = "10001 " + std::string(1016, 'a') + "20001.zip b.zip";
    ASSERT_EQ(1, Parse("[PLAYER]\n" + line + "\n10002 c.zip\n"));
    EXPECT_EQ(10002, PatchList[0].Version);
    EXPECT_EQ(0, PatchList[1].Version);
    EXPECT_EQ(10002, LatestVersion);

    CurrentVersion = 0;
    line = "10002 " + std::string(1494, 'a');
    ASSERT_EQ(1, Parse("[PLAYER]\n" + line + "\n10003 b\n"));
    EXPECT_EQ(10002, PatchList[0].Version);
    EXPECT_EQ(10003, PatchList[1].Version);
    EXPECT_EQ(kStepLineCut | kStepNameCut, PatchStepFlaws[0]);
    EXPECT_EQ(0, PatchStepFlaws[1]);

    // Exactly one read long, newline after it: whole. So is a line holding a NUL.
    line = "10004";
    for (int i = 0; i < 15; ++i) line += " " + std::string(63, static_cast<char>('a' + i));
    line += " " + std::string(1022 - line.size() - 1, 'z');
    ASSERT_EQ(1022u, line.size());
    ASSERT_EQ(1, Parse("[PLAYER]\n" + line + "\n" + std::string("10005 a\0b\n", 10)));
    EXPECT_EQ(0, PatchStepFlaws[0]);
    EXPECT_EQ(10005, PatchList[1].Version);
    EXPECT_EQ(0, PatchStepFlaws[1]);
}

TEST_F(PatchInfo, OutsidePlayerALongLineIsReadInPiecesEachALineOfItsOwn) {
    const std::string pad(kMaxLineLength, ' ');  // one whole read of blanks: a piece without a token
    ASSERT_EQ(1, Parse("[INSTALLER]\n" + pad + "1.0.0.5\n[LAUNCHER]\n1.0.0.1" + pad + "1.0.0.2\n"));
    EXPECT_STREQ("1.0.0.5", RequiredInstallerVersion);
    EXPECT_STREQ("1.0.0.2", RequiredLauncherVersion);  // the later piece wins, as a later line would

    // A header in a later piece opens its section; in [PLAYER] the rest of that line is skipped.
    ASSERT_EQ(1, Parse("[INSTALLER]\n" + pad + "[PLAYER]" + pad + "10009 x\n10002 a.zip\n"));
    EXPECT_EQ(10002, PatchList[0].Version);
    EXPECT_EQ(0, PatchList[1].Version);
    EXPECT_EQ(10002, LatestVersion);
    EXPECT_STREQ("1.0.0.5", RequiredInstallerVersion);
}

TEST_F(PatchInfo, BelowANegativeInstalledVersionALineWithoutANumberIsNoStep) {
    // A version-0 record would end the list for the worker in the middle of it.
    CurrentVersion = -3;
    ASSERT_EQ(1, Parse("[PLAYER]\n\nwords\n10001 base.zip\n"));
    EXPECT_EQ(10001, PatchList[0].Version);
    EXPECT_EQ(1, PatchFileTotal);
}

TEST_F(PatchInfo, NewestPlayerVersionReadsPastTheHundredSlots) {
    // 150 pending releases, unordered at the end, with a long line and a section after them:
    // the classic state stops where it always did, the newest is the whole section's highest.
    std::string text = "[INSTALLER]\n1.0.0.3\n[PLAYER]\n";
    for (int i = 1; i <= 148; ++i) text += std::to_string(10000 + i) + " f.zip\n";
    text += "10150 " + std::string(3 * kMaxLineLength, 'x') + "\n10149\n\nwords\n[INSTALLER]\n9.9.9.9\n[PLAYER]\n20001\n";
    ASSERT_EQ(1, Parse(text));
    EXPECT_EQ(10150, NewestPlayerVersion);
    EXPECT_EQ(10100, LatestVersion);
    EXPECT_EQ(10100, PatchList[99].Version);
    EXPECT_STREQ("1.0.0.3", RequiredInstallerVersion);
    // A section whose steps fit, and one with the 100th slot filled by the last line: a header
    // right after the slots is still read, as before.
    std::string fits = "[PLAYER]\n10003\n10001\n10002\n";
    ASSERT_EQ(1, Parse(fits));
    EXPECT_EQ(10003, NewestPlayerVersion);
    EXPECT_EQ(10002, LatestVersion);
    std::string exact = "[PLAYER]\n";
    for (int i = 1; i <= 100; ++i) exact += std::to_string(10000 + i) + "\n";
    ASSERT_EQ(1, Parse(exact + "[INSTALLER]\n1.0.0.7\n"));
    EXPECT_EQ(10100, NewestPlayerVersion);
    EXPECT_STREQ("1.0.0.7", RequiredInstallerVersion);
    // Installed releases count too; every parse starts anew, and a reset clears it.
    CurrentVersion = 10200;
    ASSERT_EQ(1, Parse("[PLAYER]\n10150\n10001\n"));
    EXPECT_EQ(10150, NewestPlayerVersion);
    ASSERT_EQ(1, Parse("[INSTALLER]\n1.0.0.3\n"));
    EXPECT_EQ(0, NewestPlayerVersion);
    ASSERT_EQ(1, Parse("[PLAYER]\n-5\n"));
    EXPECT_EQ(0, NewestPlayerVersion);
    ASSERT_EQ(1, Parse("[PLAYER]\n10007\n"));
    ResetPatchInfo();
    EXPECT_EQ(0, NewestPlayerVersion);
}
