// The signed manifest's text: what parses, what is refused, and the checks made against it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "update/manifest.h"

namespace {

const std::string kHashA = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
const std::string kHashB = std::string(64, 'f');

std::string Head(const std::string& sequence = "7") { return "QOR-PATCH-MANIFEST 1\nsequence " + sequence + "\n"; }

std::string FileLine(const std::string& path, const std::string& size = "10", const std::string& hash = kHashA) {
    return "file " + path + " " + size + " " + hash + "\n";
}

std::unique_ptr<Manifest> NewManifest() { return std::make_unique<Manifest>(); }

int Parse(const std::string& text, Manifest* out) { return ParseManifest(text.data(), text.size(), out); }

std::string ManyFiles(std::size_t count) {
    std::string text = Head();
    char path[48];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(path, sizeof path, "Player/p%05zu.zip", i);
        text += FileLine(path);
    }
    return text;
}

}  // namespace

TEST(Manifest, ReadsEveryField) {
    auto m = NewManifest();
    const std::string text = Head("123456789012345678") + "expires 1767225600\n" +
                             FileLine("LauncherPatchInfo.txt", "81", kHashA) +
                             FileLine("Player/patch_10002.zip", "0", kHashB);
    ASSERT_EQ(1, Parse(text, m.get()));
    EXPECT_EQ(123456789012345678u, m->Sequence);
    EXPECT_EQ(1, m->HasExpiry);
    EXPECT_EQ(1767225600u, m->Expires);
    ASSERT_EQ(2u, m->FileCount);
    EXPECT_STREQ("LauncherPatchInfo.txt", m->Files[0].Path);
    EXPECT_EQ(81u, m->Files[0].Size);
    EXPECT_EQ(0x00, m->Files[0].Sha256[0]);
    EXPECT_EQ(0x11, m->Files[0].Sha256[1]);
    EXPECT_EQ(0xff, m->Files[0].Sha256[31]);
    EXPECT_STREQ("Player/patch_10002.zip", m->Files[1].Path);
    EXPECT_EQ(0u, m->Files[1].Size);

    ASSERT_EQ(1, Parse(Head("0"), m.get()));  // no expiry, no file
    EXPECT_EQ(0u, m->Sequence);
    EXPECT_EQ(0, m->HasExpiry);
    EXPECT_EQ(0u, m->FileCount);
}

TEST(Manifest, LimitsAreInclusive) {
    auto m = NewManifest();
    const std::string longest(kManifestPathSize - 1, 'p');
    EXPECT_EQ(1, Parse(Head() + FileLine(longest, "999999999999999999"), m.get()));
    EXPECT_EQ(1, Parse(ManyFiles(kManifestMaxFiles), m.get()));
    EXPECT_EQ(kManifestMaxFiles, m->FileCount);
    // Multibyte names (CP949, UTF-8) are bytes like any other.
    EXPECT_EQ(1, Parse(Head() + FileLine("Player/\xB0\xA1.zip"), m.get()));
}

TEST(Manifest, RefusesWhatTheToolNeverWrites) {
    const std::string file = FileLine("Player/a.zip");
    const struct {
        const char* why;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"no last newline", Head() + file.substr(0, file.size() - 1)},
        {"carriage returns", "QOR-PATCH-MANIFEST 1\r\nsequence 7\r\n"},
        {"another format", "QOR-PATCH-MANIFEST 2\nsequence 7\n"},
        {"format line with a blank after it", "QOR-PATCH-MANIFEST 1 \nsequence 7\n"},
        {"no sequence", "QOR-PATCH-MANIFEST 1\n" + file},
        {"sequence with a leading zero", Head("07")},
        {"sequence of 19 digits", Head("1234567890123456789")},
        {"negative sequence", Head("-1")},
        {"signed sequence", Head("+1")},
        {"sequence without digits", Head("")},
        {"sequence and more", Head("7 8")},
        {"two blanks", "QOR-PATCH-MANIFEST 1\nsequence  7\n"},
        {"a tab", "QOR-PATCH-MANIFEST 1\nsequence\t7\n"},
        {"expiry after a file", Head() + file + "expires 5\n"},
        {"two expiries", Head() + "expires 5\nexpires 6\n"},
        {"empty line", Head() + "\n"},
        {"unknown line", Head() + "comment hello\n"},
        {"upper-case hash", Head() + FileLine("a", "1", std::string(64, 'A'))},
        {"short hash", Head() + FileLine("a", "1", kHashA.substr(1))},
        {"long hash", Head() + FileLine("a", "1", kHashA + "0")},
        {"hash with a blank after it", Head() + "file a 1 " + kHashA + " \n"},
        {"no size", Head() + "file a " + kHashA + "\n"},
        {"size with a leading zero", Head() + FileLine("a", "01")},
        {"negative size", Head() + FileLine("a", "-1")},
        {"path too long", Head() + FileLine(std::string(kManifestPathSize, 'p'))},
        {"path with a control character", Head() + FileLine("a\x01" "b")},
        {"path with DEL", Head() + FileLine("a\x7f" "b")},
        {"empty path", Head() + "file  1 " + kHashA + "\n"},
        {"paths out of order", Head() + FileLine("b") + FileLine("a")},
        {"a path twice", Head() + FileLine("a", "1") + FileLine("a", "2")},
        {"NUL inside", Head() + std::string("file a\0b 1 ", 11) + kHashA + "\n"},
        {"too many files", ManyFiles(kManifestMaxFiles + 1)},
        {"too long", Head() + "expires 1\n" + std::string(kManifestMaxBytes, '\n')},
    };
    auto m = NewManifest();
    for (const auto& c : cases) {
        // A refused text leaves nothing of itself, nor of what was parsed before.
        ASSERT_EQ(1, Parse(Head("99") + "expires 5\n" + FileLine("x"), m.get()));
        EXPECT_EQ(0, Parse(c.text, m.get())) << c.why;
        EXPECT_EQ(0u, m->Sequence) << c.why;
        EXPECT_EQ(0, m->HasExpiry) << c.why;
        EXPECT_EQ(0u, m->FileCount) << c.why;
    }
}

TEST(Manifest, FindsEveryListedPathAndNothingElse) {
    auto m = NewManifest();
    ASSERT_EQ(1, Parse(ManyFiles(1000), m.get()));
    for (std::size_t i = 0; i < 1000; ++i) {
        char path[48];
        std::snprintf(path, sizeof path, "Player/p%05zu.zip", i);
        const ManifestEntry* entry = FindManifestEntry(*m, path);
        ASSERT_NE(nullptr, entry) << path;
        EXPECT_STREQ(path, entry->Path);
    }
    for (const char* absent : {"", "Player/p01000.zip", "Player/p00001.zi", "Player/p00001.zipx", "player/p00001.zip",
                               "Player/", "/Player/p00001.zip"})
        EXPECT_EQ(nullptr, FindManifestEntry(*m, absent)) << absent;
    ASSERT_EQ(1, Parse(Head(), m.get()));
    EXPECT_EQ(nullptr, FindManifestEntry(*m, "Player/p00001.zip"));
}

TEST(Manifest, FreshnessRefusesRollbackAndExpiry) {
    auto m = NewManifest();
    ASSERT_EQ(1, Parse(Head("10"), m.get()));
    EXPECT_EQ(kManifestFresh, CheckManifestFreshness(*m, 0, 1000));
    EXPECT_EQ(kManifestFresh, CheckManifestFreshness(*m, 10, 1000));  // the same one again
    EXPECT_EQ(kManifestRolledBack, CheckManifestFreshness(*m, 11, 1000));
    EXPECT_EQ(kManifestFresh, CheckManifestFreshness(*m, 9, -5));      // no expiry: no clock needed

    ASSERT_EQ(1, Parse(Head("10") + "expires 1000\n", m.get()));
    EXPECT_EQ(kManifestFresh, CheckManifestFreshness(*m, 10, 999));
    EXPECT_EQ(kManifestExpired, CheckManifestFreshness(*m, 10, 1000));
    EXPECT_EQ(kManifestExpired, CheckManifestFreshness(*m, 10, -1));
    EXPECT_EQ(kManifestRolledBack, CheckManifestFreshness(*m, 11, 2000));
}

TEST(Manifest, FileChecks) {
    auto m = NewManifest();
    ASSERT_EQ(1, Parse(Head() + FileLine("Player/a.zip", "10", kHashA), m.get()));
    uint8_t hash[kSha256Size];
    std::memcpy(hash, m->Files[0].Sha256, sizeof hash);
    EXPECT_EQ(kFileVerified, CheckFileAgainstManifest(*m, "Player/a.zip", 10, hash));
    EXPECT_EQ(kFileSizeDiffers, CheckFileAgainstManifest(*m, "Player/a.zip", 11, hash));
    EXPECT_EQ(kFileUnlisted, CheckFileAgainstManifest(*m, "Player/b.zip", 10, hash));
    hash[31] ^= 1;
    EXPECT_EQ(kFileHashDiffers, CheckFileAgainstManifest(*m, "Player/a.zip", 10, hash));
}

TEST(Manifest, PathOfADownload) {
    char out[kManifestPathSize];
    ASSERT_EQ(1, ManifestPathOf("/Player/", "sub/c.zip", out, sizeof out));
    EXPECT_STREQ("Player/sub/c.zip", out);
    ASSERT_EQ(1, ManifestPathOf("", "LauncherPatchInfo.txt", out, sizeof out));
    EXPECT_STREQ("LauncherPatchInfo.txt", out);
    EXPECT_EQ(0, ManifestPathOf("/", "", out, sizeof out));
    EXPECT_EQ(0, ManifestPathOf("/Player/", std::string(kManifestPathSize, 'n').c_str(), out, sizeof out));
    char big[512];
    EXPECT_EQ(0, ManifestPathOf("/Player/", std::string(kManifestPathSize - 7, 'n').c_str(), big, sizeof big));
    EXPECT_EQ(1, ManifestPathOf("/Player/", std::string(kManifestPathSize - 8, 'n').c_str(), big, sizeof big));
}
