// What a keyed Updater refuses before a swap or a start, and how it says so.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "updater/signed_check.h"

namespace {

const std::string kHash(64, 'a');
constexpr int64_t kNow = 1767225600;

std::string Text(uint64_t sequence, const std::string& expires = "") {
    std::string text = "QOR-PATCH-MANIFEST 1\nsequence " + std::to_string(sequence) + "\n";
    if (!expires.empty()) text += "expires " + expires + "\n";
    return text + "file Launcher/1.1.1.25/launcher.exe 2048 " + kHash + "\n";
}

SignedCheck Check(const std::string& text, bool signatureGood, uint64_t kept, Manifest* out) {
    return CheckFetchedManifest(text.data(), text.size(), signatureGood, kept, kNow, 0, out);
}

}  // namespace

TEST(SignedCheck, AManifestPassesOnlySignedWellFormedFreshAndNotRolledBack) {
    auto m = std::make_unique<Manifest>();
    ASSERT_EQ(SignedCheck::Passed, Check(Text(40), true, 0, m.get()));
    EXPECT_EQ(40u, m->Sequence);
    ASSERT_NE(nullptr, FindManifestEntry(*m, "Launcher/1.1.1.25/launcher.exe"));
    // The same publication the launcher kept passes again; one before it does not.
    EXPECT_EQ(SignedCheck::Passed, Check(Text(40), true, 40, m.get()));
    EXPECT_EQ(SignedCheck::RolledBack, Check(Text(39), true, 40, m.get()));
    EXPECT_EQ(SignedCheck::Passed, Check(Text(40, std::to_string(kNow + 1)), true, 40, m.get()));
    EXPECT_EQ(SignedCheck::Expired, Check(Text(40, std::to_string(kNow)), true, 40, m.get()));
    // A bad signature outranks everything the text might say.
    EXPECT_EQ(SignedCheck::BadSignature, Check(Text(41), false, 0, m.get()));
    EXPECT_EQ(SignedCheck::BadSignature, Check("not a manifest", false, 0, m.get()));
    EXPECT_EQ(SignedCheck::Malformed, Check("not a manifest\n", true, 0, m.get()));
    EXPECT_EQ(SignedCheck::Malformed, Check(Text(40).substr(1), true, 0, m.get()));
}

TEST(SignedCheck, FileResultsAndTheirWordsNameTheManifestAndTheFile) {
    EXPECT_EQ(SignedCheck::Passed, FileCheckResult(kFileVerified));
    EXPECT_EQ(SignedCheck::Unlisted, FileCheckResult(kFileUnlisted));
    EXPECT_EQ(SignedCheck::SizeDiffers, FileCheckResult(kFileSizeDiffers));
    EXPECT_EQ(SignedCheck::HashDiffers, FileCheckResult(kFileHashDiffers));
    EXPECT_EQ(SignedCheck::Unreadable, FileCheckResult(4));

    const char* path = "Launcher64/65535.65535.65535.65535/launcher.exe";
    // The longest detail a failed download gives, in the box's buffer.
    const std::string detail(255, 'd');
    char words[512];
    for (SignedCheck check : {SignedCheck::ManifestNotFetched, SignedCheck::SignatureNotFetched,
                              SignedCheck::BadSignature, SignedCheck::Malformed, SignedCheck::RolledBack,
                              SignedCheck::Expired, SignedCheck::Unlisted, SignedCheck::SizeDiffers,
                              SignedCheck::HashDiffers}) {
        ASSERT_TRUE(DescribeSignedCheck(check, path, detail.c_str(), words, sizeof words)) << static_cast<int>(check);
        EXPECT_NE(nullptr, std::strstr(words, "LauncherPatchInfo.manifest")) << words;
    }
    ASSERT_TRUE(DescribeSignedCheck(SignedCheck::HashDiffers, path, "", words, sizeof words));
    EXPECT_STREQ("its content is not the one LauncherPatchInfo.manifest lists for "
                 "Launcher64/65535.65535.65535.65535/launcher.exe (its SHA-256 differs)", words);
    ASSERT_TRUE(DescribeSignedCheck(SignedCheck::SignatureNotFetched, path, "the server answered 404", words,
                                    sizeof words));
    EXPECT_STREQ("the signature of LauncherPatchInfo.manifest, LauncherPatchInfo.manifest.sig, could not be "
                 "downloaded: the server answered 404", words);
}

TEST(SignedCheck, SideFilesAskWithTheLaunchersQuery) {
    char url[128];
    ASSERT_TRUE(BuildSignedFileRequestUrl(url, sizeof url, "https://localhost:1/base", "LauncherPatchInfo.manifest",
                                          4294967295u));
    EXPECT_STREQ("https://localhost:1/base/LauncherPatchInfo.manifest?tick=4294967295", url);
    EXPECT_FALSE(BuildSignedFileRequestUrl(url, 40, "https://localhost:1/base", "LauncherPatchInfo.manifest", 1));
}
