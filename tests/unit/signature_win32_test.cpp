// SHA-256 and ECDSA P-256 through BCrypt: known digests, pieces of any size, a signature made
// by OpenSSL, and files checked against a manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_folder.h"
#include "update/manifest.h"
#include "update/signature_win32.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const uint8_t* bytes, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < n; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

std::string DigestOf(const std::string& data) {
    uint8_t digest[kSha256Size];
    if (!Sha256Of(data.data(), data.size(), digest)) return "failed";
    return ToHex(digest, sizeof digest);
}

// Made with OpenSSL (Python's cryptography): a P-256 key and its signature of kSignedText.
const char kSignedText[] = "QOR-PATCH-MANIFEST 1\nsequence 1\n";
const std::vector<uint8_t> kKey = FromHex(
    "1b9fbdfc1e8c2ce12cc758d86f9b630b8f61d4a7954b3770d1dd1f864cd42231"
    "8f168f165d3f4545fc73611dda2899a5346b24582dbeee99eb52633179f4ac61");
const std::vector<uint8_t> kSignature = FromHex(
    "3a774ed724c48f5b8667022f0878d97b73b93048e0313ec7cfb8a668c6486059"
    "8e2f6aeca99340c81cd22eea8089447f9fd964068d0db42bdf5ce74006c5a8df");
const std::vector<uint8_t> kOtherKey = FromHex(
    "b3006282d328181c7fb2304ee4c3064817fb1efdc51ae09e4aea98a8da591345"
    "de08a7403ff126568f278ed10c0430c6eab3414cc297a7b148f05fd92dbec76d");

int Verify(const std::vector<uint8_t>& key, const std::string& text, const std::vector<uint8_t>& signature) {
    return VerifySignedText(key.data(), text.data(), text.size(), signature.data());
}

}  // namespace

TEST(Sha256, KnownDigests) {
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", DigestOf(""));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", DigestOf("abc"));
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", DigestOf(std::string(1000000, 'a')));
}

TEST(Sha256, AnyPieceSizeGivesTheSameDigest) {
    std::string data(100003, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
    const std::string whole = DigestOf(data);
    for (std::size_t piece : {1u, 7u, 63u, 64u, 65u, 2048u, 32768u, 100002u}) {
        Sha256Stream stream;
        ASSERT_TRUE(stream.Good());
        for (std::size_t at = 0; at < data.size(); at += piece)
            ASSERT_TRUE(stream.Update(data.data() + at, std::min(piece, data.size() - at)));
        ASSERT_TRUE(stream.Update(nullptr, 0));
        uint8_t digest[kSha256Size];
        ASSERT_TRUE(stream.Finish(digest));
        EXPECT_EQ(whole, ToHex(digest, sizeof digest)) << piece;
    }
}

TEST(Sha256, ASpentOrMovedStreamRefusesMore) {
    Sha256Stream stream;
    uint8_t digest[kSha256Size];
    ASSERT_TRUE(stream.Finish(digest));
    EXPECT_FALSE(stream.Good());
    EXPECT_FALSE(stream.Update("x", 1));
    EXPECT_FALSE(stream.Finish(digest));

    Sha256Stream first;
    ASSERT_TRUE(first.Update("ab", 2));
    Sha256Stream second(std::move(first));
    EXPECT_FALSE(first.Good());
    ASSERT_TRUE(second.Update("c", 1));
    ASSERT_TRUE(second.Finish(digest));
    EXPECT_EQ(DigestOf("abc"), ToHex(digest, sizeof digest));
}

TEST(Sha256, WholeFiles) {
    TempFolder folder;
    const std::string data = std::string(50000, 'x') + "end";
    folder.Write("f.bin", data);
    folder.Write("empty.bin", "");
    uint64_t size = 7;
    uint8_t digest[kSha256Size];
    ASSERT_EQ(1, HashFile("f.bin", &size, digest));
    EXPECT_EQ(data.size(), size);
    EXPECT_EQ(DigestOf(data), ToHex(digest, sizeof digest));
    ASSERT_EQ(1, HashFile("empty.bin", &size, digest));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(DigestOf(""), ToHex(digest, sizeof digest));
    EXPECT_EQ(0, HashFile("missing.bin", &size, digest));
    EXPECT_EQ(0, HashFile(".", &size, digest));
}

TEST(EcdsaP256, AcceptsOnlyTheKeysOwnSignatureOfTheSameText) {
    EXPECT_EQ(1, Verify(kKey, kSignedText, kSignature));
    EXPECT_EQ(0, Verify(kOtherKey, kSignedText, kSignature));
    EXPECT_EQ(0, Verify(kKey, std::string(kSignedText) + "\n", kSignature));
    EXPECT_EQ(0, Verify(kKey, "QOR-PATCH-MANIFEST 1\nsequence 2\n", kSignature));
    for (std::size_t byte : {0u, 31u, 32u, 63u}) {
        std::vector<uint8_t> changed = kSignature;
        changed[byte] ^= 0x01;
        EXPECT_EQ(0, Verify(kKey, kSignedText, changed)) << byte;
    }
    // r and s swapped, all zero, all ones (above the group order).
    std::vector<uint8_t> swapped(kSignature.begin() + 32, kSignature.end());
    swapped.insert(swapped.end(), kSignature.begin(), kSignature.begin() + 32);
    EXPECT_EQ(0, Verify(kKey, kSignedText, swapped));
    EXPECT_EQ(0, Verify(kKey, kSignedText, std::vector<uint8_t>(64, 0)));
    EXPECT_EQ(0, Verify(kKey, kSignedText, std::vector<uint8_t>(64, 0xFF)));
}

TEST(EcdsaP256, AKeyOffTheCurveVerifiesNothing) {
    std::vector<uint8_t> offCurve = kKey;
    offCurve[63] ^= 0x01;
    EXPECT_EQ(0, Verify(offCurve, kSignedText, kSignature));
    EXPECT_EQ(0, Verify(std::vector<uint8_t>(64, 0), kSignedText, kSignature));
}

TEST(ManifestFiles, AFileOnDiskIsCheckedByPathSizeAndHash) {
    TempFolder folder;
    const std::string data = "patch bytes";
    auto manifest = std::make_unique<Manifest>();
    const std::string text = "QOR-PATCH-MANIFEST 1\nsequence 3\nfile Player/a.zip " + std::to_string(data.size()) +
                             " " + DigestOf(data) + "\n";
    ASSERT_EQ(1, ParseManifest(text.data(), text.size(), manifest.get()));
    folder.Write("a.zip", data);
    folder.Write("longer.zip", data + "!");
    std::string same = data;
    same[0] = 'P';
    folder.Write("changed.zip", same);
    EXPECT_EQ(kFileVerified, VerifyFileAgainstManifest(*manifest, "Player/a.zip", "a.zip"));
    EXPECT_EQ(kFileSizeDiffers, VerifyFileAgainstManifest(*manifest, "Player/a.zip", "longer.zip"));
    EXPECT_EQ(kFileHashDiffers, VerifyFileAgainstManifest(*manifest, "Player/a.zip", "changed.zip"));
    EXPECT_EQ(kFileUnlisted, VerifyFileAgainstManifest(*manifest, "Player/b.zip", "a.zip"));
    EXPECT_EQ(kFileUnreadable, VerifyFileAgainstManifest(*manifest, "Player/a.zip", "missing.zip"));
}
