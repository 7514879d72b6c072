// DownloadFile in a launcher with a signing key: each patch file checked against the verified
// manifest while it downloads, against the real HTTPS test patch server.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/display_state.h"
#include "download/file_downloader.h"
#include "settings/launcher_settings.h"
#include "support/message_box_recorder.h"
#include "support/patch_server_win32.h"
#include "support/temp_folder.h"
#include "support/test_signer_win32.h"
#include "support/zip_writer.h"
#include "update/signed_patch_info.h"

namespace {

std::string Status() {
    char copy[SharedText::kSize];
    StatusText.CopyTo(copy, sizeof copy);
    return copy;
}

int RequestsOf(long mark, const std::string& name) {
    int count = 0;
    for (const std::string& line : RequestsSince(mark))
        if (line.find("/Player/" + name + "\"") != std::string::npos) ++count;
    return count;
}

class VerifiedDownload : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PatchServerAvailable()) GTEST_SKIP() << "the test patch server is not running";
        if (PatchServerBaseUrl() != LauncherSettings.PatchBaseUrl)
            GTEST_SKIP() << "built for the patch server " << LauncherSettings.PatchBaseUrl;
        ResetDisplayState();
        ClearRecordedBoxes();
        ASSERT_TRUE(SetServerFaults({}));
        ManifestRequired = 1;
    }
    void TearDown() override {
        ManifestRequired = 0;
        ParseManifest("", 0, &VerifiedManifest);
    }
    // Serves each file and lists it in VerifiedManifest with the bytes given as listed.
    void Publish(const std::vector<std::vector<std::string>>& files) {
        std::string text = "QOR-PATCH-MANIFEST 1\nsequence 5\n";
        for (const auto& file : files) {  // name, served bytes, listed bytes (in ascending order)
            PutServedFile("Player/" + file[0], file[1]);
            text += "file Player/" + file[0] + " " + ManifestSizeAndHash(file[2]) + "\n";
        }
        ASSERT_EQ(1, ParseManifest(text.data(), text.size(), &VerifiedManifest));
    }
    void ExpectRefused(const std::string& name) {
        EXPECT_EQ("Downloading failed - verify (" + name + ")", Status());
        EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
        EXPECT_FALSE(folder.Exists(name + ".part"));
        EXPECT_TRUE(RecordedBoxes().empty());
    }

    TempFolder folder;
};

}  // namespace

TEST_F(VerifiedDownload, AListedFileArrivesAsBefore) {
    const std::string bytes(100000, 'g');
    const std::string archive = ZipWriter().Deflated("vd/inside.txt", "inside").Bytes();
    Publish({{"vd-good.bin", bytes, bytes}, {"vd-good.zip", archive, archive}});
    ASSERT_EQ(1, DownloadFile("vd-good.bin", "/Player/"));
    EXPECT_EQ(bytes, folder.Read("vd-good.bin"));
    ASSERT_EQ(1, DownloadFile("vd-good.zip", "/Player/"));
    EXPECT_EQ("inside", folder.Read("vd/inside.txt"));
    EXPECT_FALSE(folder.Exists("vd-good.zip"));
}

TEST_F(VerifiedDownload, OneByteChangedReplacesNothing) {
    const std::string listed(70000, 'a');
    std::string served = listed;
    served[40000] = 'b';
    Publish({{"vd-changed.bin", served, listed}});
    folder.Write("vd-changed.bin", "the installed file");
    SetStartButtonState(kButtonNormal);
    EXPECT_EQ(0, DownloadFile("vd-changed.bin", "/Player/"));
    ExpectRefused("vd-changed.bin");
    EXPECT_EQ("the installed file", folder.Read("vd-changed.bin"));
}

TEST_F(VerifiedDownload, AChangedArchiveIsNeverUnpacked) {
    const std::string listed = ZipWriter().Stored("vd/entry.txt", "listed entry").Bytes();
    const std::string served = ZipWriter().Stored("vd/entry.txt", "served entry").Bytes();
    ASSERT_EQ(listed.size(), served.size());
    Publish({{"vd-changed.zip", served, listed}});
    folder.Write("vd/entry.txt", "installed entry");
    EXPECT_EQ(0, DownloadFile("vd-changed.zip", "/Player/"));
    ExpectRefused("vd-changed.zip");
    EXPECT_EQ("installed entry", folder.Read("vd/entry.txt"));
    EXPECT_FALSE(folder.Exists("vd-changed.zip"));
}

TEST_F(VerifiedDownload, AnUnlistedFileIsNotEvenFetched) {
    Publish({{"vd-listed.bin", "x", "x"}});
    PutServedFile("Player/vd-unlisted.bin", "not signed");
    const long mark = LogMark();
    EXPECT_EQ(0, DownloadFile("vd-unlisted.bin", "/Player/"));
    ExpectRefused("vd-unlisted.bin");
    EXPECT_FALSE(folder.Exists("vd-unlisted.bin"));
    Sleep(200);
    EXPECT_EQ(0, RequestsOf(mark, "vd-unlisted.bin"));
    // No manifest at all (none verified yet): nothing is listed.
    ParseManifest("", 0, &VerifiedManifest);
    EXPECT_EQ(0, DownloadFile("vd-listed.bin", "/Player/"));
    ExpectRefused("vd-listed.bin");
}

TEST_F(VerifiedDownload, MoreOrFewerBytesThanListedAreRefused) {
    const std::string big(300000, 'L');
    Publish({{"vd-longer.bin", big, big.substr(0, 1000)}, {"vd-shorter.bin", "abc", "abcd"}});
    EXPECT_EQ(0, DownloadFile("vd-longer.bin", "/Player/"));
    ExpectRefused("vd-longer.bin");
    EXPECT_FALSE(folder.Exists("vd-longer.bin"));
    EXPECT_EQ(0, DownloadFile("vd-shorter.bin", "/Player/"));
    ExpectRefused("vd-shorter.bin");
}

TEST_F(VerifiedDownload, WithoutAKeyNothingIsChecked) {
    Publish({{"vd-free.bin", "served", "listed"}});
    ManifestRequired = 0;
    ASSERT_EQ(1, DownloadFile("vd-free.bin", "/Player/"));
    EXPECT_EQ("served", folder.Read("vd-free.bin"));
    EXPECT_EQ(0, DownloadFile("vd-listed-nowhere.bin", "/Player/"));  // not served: a plain 404
    EXPECT_EQ("Downloading failed [404] (vd-listed-nowhere.bin)", Status());
}
