// FetchSignedPatchInfo against the real test patch server: a signed folder is fetched, kept
// and parsed; every refusal keeps the kept copies.
#include <gtest/gtest.h>

#include <windows.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/launcher_settings.h"
#include "settings/version_record.h"
#include "support/patch_server_win32.h"
#include "support/temp_folder.h"
#include "support/test_signer_win32.h"
#include "update/patch_info.h"
#include "update/sequence_floor_win32.h"
#include "update/signed_patch_info.h"
#include "update/versions_win32.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kInfo = "[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n1.1.1.24\n[PLAYER]\n10001 base.zip\n10002 patch2.zip\n";
constexpr const char* kNewerInfo = "[INSTALLER]\n1.0.0.4\n[PLAYER]\n10002 patch2.zip\n10003 patch3.zip\n";

// The machine's floor as a fresh installation has it: the value gone, the key left alone.
void ForgetSequenceFloor() { RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kInstallerRegistryKey, kSequenceFloorValueName); }

std::string ManifestFor(const std::string& info, uint64_t sequence, long long expires = 0) {
    std::string text = "QOR-PATCH-MANIFEST 1\nsequence " + std::to_string(sequence) + "\n";
    if (expires) text += "expires " + std::to_string(expires) + "\n";
    return text + "file LauncherPatchInfo.txt " + ManifestSizeAndHash(info) + "\n";
}

class SignedPatchInfo : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PatchServerAvailable()) GTEST_SKIP() << "the test patch server is not running";
        if (PatchServerUrl("LauncherPatchInfo.txt") != LauncherSettings.PatchInfoUrl)
            GTEST_SKIP() << "this build fetches " << LauncherSettings.PatchInfoUrl;
        ASSERT_TRUE(SetServerFaults({}));
        ResetPatchInfo();
        ForgetSequenceFloor();
        CurrentVersion = 10001;
    }
    void TearDown() override {
        if (!PatchServerAvailable()) return;
        SetServerFaults({});
        for (const char* name : {"LauncherPatchInfo.txt", kManifestServedName, kSignatureServedName})
            RemoveServedFile(name);
        ResetPatchInfo();
        ParseManifest("", 0, &VerifiedManifest);
        ForgetSequenceFloor();
        CurrentVersion = 0;
    }
    void Serve(const std::string& info, const std::string& manifest, const std::string& signature) {
        PutServedFile("LauncherPatchInfo.txt", info);
        PutServedFile(kManifestServedName, manifest);
        PutServedFile(kSignatureServedName, signature);
    }
    // A good fetch of kInfo under sequence 10: what every refusal must leave in place.
    void FetchTheFirstCopy() {
        keptManifest = ManifestFor(kInfo, 10);
        Serve(kInfo, keptManifest, signer.Sign(keptManifest));
        ASSERT_EQ(1, FetchSignedPatchInfo(OneKeyTrust(signer.PublicKey())));
    }
    void ExpectTheKeptCopies() {
        EXPECT_EQ(kInfo, folder.Read("update.dat"));
        EXPECT_EQ(keptManifest, folder.Read("update.manifest"));
        EXPECT_EQ(10u, VerifiedManifest.Sequence);
        EXPECT_EQ(10002, LatestVersion);
        EXPECT_STREQ("1.0.0.3", RequiredInstallerVersion);
        EXPECT_EQ(10002, PatchList[0].Version);  // measured against the installed version
        for (const char* leftover : {"update.dat.part", "update.manifest.part", "update.manifest.sig.part"})
            EXPECT_FALSE(folder.Exists(leftover)) << leftover;
    }

    TempFolder folder;
    TestSigner signer;
    std::string keptManifest;
};

}  // namespace

TEST_F(SignedPatchInfo, FetchesVerifiesAndKeepsTheManifest) {
    const std::string manifest = ManifestFor(kInfo, 10, static_cast<long long>(std::time(nullptr)) + 3600);
    Serve(kInfo, manifest, signer.Sign(manifest));
    const long mark = LogMark();
    ASSERT_EQ(1, FetchSignedPatchInfo(OneKeyTrust(signer.PublicKey())));
    EXPECT_EQ(kInfo, folder.Read("update.dat"));
    EXPECT_EQ(manifest, folder.Read("update.manifest"));
    EXPECT_EQ(10u, VerifiedManifest.Sequence);
    EXPECT_EQ(10002, LatestVersion);
    // The three files, each with the same cache-busting query.
    std::vector<std::string> gets;
    std::string query;
    for (const std::string& line : RequestsSince(mark)) {
        if (LogField(line, "method") != "GET") continue;
        gets.push_back(LogField(line, "path"));
        if (query.empty()) query = LogField(line, "query");
        EXPECT_EQ(query, LogField(line, "query"));
    }
    const std::string base = "/Setup/live/StandaloneWindows64/";
    EXPECT_EQ((std::vector<std::string>{base + kManifestServedName, base + kSignatureServedName,
                                        base + "LauncherPatchInfo.txt"}),
              gets);
    EXPECT_EQ(0u, query.rfind("tick=", 0));
}

TEST_F(SignedPatchInfo, EveryRefusalKeepsTheKeptCopies) {
    FetchTheFirstCopy();
    TestSigner other;
    std::string changedInfo = kNewerInfo;
    changedInfo[changedInfo.size() - 2] = '4';  // same size, one byte changed
    const std::string newer = ManifestFor(kNewerInfo, 11);
    const long long past = static_cast<long long>(std::time(nullptr)) - 60;
    const std::string unlisted = "QOR-PATCH-MANIFEST 1\nsequence 12\n";
    const std::string malformed = "QOR-PATCH-MANIFEST 1\nsequence 012\nfile LauncherPatchInfo.txt " +
                                  ManifestSizeAndHash(kNewerInfo) + "\n";
    const std::string older = ManifestFor(kNewerInfo, 9);
    const std::string expired = ManifestFor(kNewerInfo, 11, past);
    const std::string endless = newer + std::string(kManifestMaxBytes, '\n');
    const struct {
        const char* why;
        std::string info, manifest, signature;
        std::vector<std::string> faults;
    } cases[] = {
        {"changed patch information", changedInfo, newer, signer.Sign(newer), {}},
        {"longer patch information", std::string(kNewerInfo) + "10004 x.zip\n", newer, signer.Sign(newer), {}},
        {"another key's signature", kNewerInfo, newer, other.Sign(newer), {}},
        {"missing signature", kNewerInfo, newer, "", {"LauncherPatchInfo.manifest.sig=status:404"}},
        {"signature of 63 bytes", kNewerInfo, newer, signer.Sign(newer).substr(1), {}},
        {"signature with a byte more", kNewerInfo, newer, signer.Sign(newer) + "x", {}},
        {"missing manifest", kNewerInfo, newer, signer.Sign(newer), {"LauncherPatchInfo.manifest=status:404"}},
        {"patch information missing", kNewerInfo, newer, signer.Sign(newer), {"LauncherPatchInfo.txt=status:404"}},
        {"older sequence", kNewerInfo, older, signer.Sign(older), {}},
        {"expired", kNewerInfo, expired, signer.Sign(expired), {}},
        {"patch information unlisted", kNewerInfo, unlisted, signer.Sign(unlisted), {}},
        {"malformed though signed", kNewerInfo, malformed, signer.Sign(malformed), {}},
        {"endless manifest", kNewerInfo, endless, signer.Sign(newer), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Serve(c.info, c.manifest, c.signature);
        ASSERT_TRUE(SetServerFaults(c.faults));
        EXPECT_EQ(0, FetchSignedPatchInfo(OneKeyTrust(signer.PublicKey())));
        ExpectTheKeptCopies();
    }
    // The same signed folder as at first is fine again, and a newer one replaces it.
    ASSERT_TRUE(SetServerFaults({}));
    Serve(kInfo, keptManifest, signer.Sign(keptManifest));
    EXPECT_EQ(1, FetchSignedPatchInfo(OneKeyTrust(signer.PublicKey())));
    Serve(kNewerInfo, newer, signer.Sign(newer));
    EXPECT_EQ(1, FetchSignedPatchInfo(OneKeyTrust(signer.PublicKey())));
    EXPECT_EQ(kNewerInfo, folder.Read("update.dat"));
    EXPECT_EQ(11u, VerifiedManifest.Sequence);
    EXPECT_EQ(10003, LatestVersion);
}

TEST_F(SignedPatchInfo, AnUnreadableKeptManifestCountsAsNone) {
    folder.Write("update.dat", kInfo);
    folder.Write("update.manifest", "QOR-PATCH-MANIFEST 1\nsequence 999\ngarbage\n");
    EXPECT_EQ(0, LoadKeptManifest(OneKeyTrust(signer.PublicKey())));
    EXPECT_EQ(0u, VerifiedManifest.Sequence);
    const std::string manifest = ManifestFor(kNewerInfo, 1);
    Serve(kNewerInfo, manifest, signer.Sign(manifest));
    EXPECT_EQ(1, FetchSignedPatchInfo(OneKeyTrust(signer.PublicKey())));
    EXPECT_EQ(1u, VerifiedManifest.Sequence);
    EXPECT_EQ(1, LoadKeptManifest(OneKeyTrust(signer.PublicKey())));
    EXPECT_EQ(1u, VerifiedManifest.Sequence);
}

TEST_F(SignedPatchInfo, AKeptManifestCountsOnlyWhileItsSignatureVerifies) {
    FetchTheFirstCopy();
    EXPECT_EQ(64u, folder.Read("update.manifest.sig").size());
    EXPECT_EQ(10u, ReadSequenceFloor());
    EXPECT_EQ(1, LoadKeptManifest(OneKeyTrust(signer.PublicKey())));
    EXPECT_EQ(10u, VerifiedManifest.Sequence);
    TestSigner other;
    std::string raised = keptManifest;
    raised.replace(raised.find("sequence 10"), 11, "sequence 99");
    const std::string older = ManifestFor(kInfo, 9);
    const struct {
        const char* why;
        std::string manifest, signature;
    } forged[] = {
        {"sequence edited, signature kept", raised, signer.Sign(keptManifest)},
        {"another key's signature", raised, other.Sign(raised)},
        {"signature of 63 bytes", keptManifest, signer.Sign(keptManifest).substr(1)},
        {"signature missing", keptManifest, ""},
        {"an older signed pair put back", older, signer.Sign(older)},
    };
    for (const auto& c : forged) {
        SCOPED_TRACE(c.why);
        folder.Write("update.manifest", c.manifest);
        folder.Write("update.manifest.sig", c.signature);
        if (c.signature.empty()) DeleteFileA("update.manifest.sig");
        EXPECT_EQ(0, LoadKeptManifest(OneKeyTrust(signer.PublicKey())));
        EXPECT_EQ(0u, VerifiedManifest.Sequence);
    }
}

TEST_F(SignedPatchInfo, TheMachinesFloorOutlivesTheKeptFiles) {
    FetchTheFirstCopy();
    const std::string older = ManifestFor(kNewerInfo, 9);
    const std::string newer = ManifestFor(kNewerInfo, 11);
    // Both kept files deleted: an older signed folder replayed by the server is still refused.
    DeleteFileA("update.manifest");
    DeleteFileA("update.manifest.sig");
    Serve(kNewerInfo, older, signer.Sign(older));
    EXPECT_EQ(0, FetchSignedPatchInfo(OneKeyTrust(signer.PublicKey())));
    EXPECT_EQ(kInfo, folder.Read("update.dat"));
    EXPECT_FALSE(folder.Exists("update.manifest"));
    EXPECT_EQ(10u, RollbackFloor());
    // The floor never goes down, and a newer manifest raises it once committed.
    RaiseSequenceFloor(3);
    EXPECT_EQ(10u, ReadSequenceFloor());
    const std::string signature = signer.Sign(newer);
    Serve(kNewerInfo, newer, signature);
    EXPECT_EQ(1, FetchSignedPatchInfo(OneKeyTrust(signer.PublicKey())));
    EXPECT_EQ(11u, ReadSequenceFloor());
    EXPECT_EQ(signature, folder.Read("update.manifest.sig"));
    // A value of another type floors nothing (only an administrator could have written it).
    const char text[] = "12";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, kInstallerRegistryKey, kSequenceFloorValueName,
                                             REG_SZ, text, sizeof text));
    EXPECT_EQ(0u, ReadSequenceFloor());
}
