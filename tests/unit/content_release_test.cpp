// The release manifest: what it reads, each rule that refuses one, and the lookups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "content_format/content_release.h"
#include "support/release_builder.h"

namespace {

// Three packs (one of an earlier release), a chunk used twice in one file, a chunk shared by
// nothing, an empty file and a delta.
ReleaseModel Base() {
    ReleaseModel m;
    m.AddPack(9, 0);
    m.AddPack(10, 0);
    m.AddPack(10, 1);
    const uint32_t a = m.AddChunk(1, 65536, 30000, 0);
    const uint32_t b = m.AddChunk(2, 20000, 20000, 0, 100);
    const uint32_t c = m.AddChunk(3, 262144, 1000, 1);
    const uint32_t d = m.AddChunk(4, 16384, 5, 2);
    m.AddFile("Data/Maps/a.bin", {a, b, a});
    m.AddFile("Data/b.bin", {c});
    m.AddFile("empty.txt", {});
    m.AddFile("readme.txt", {d});
    ModelDelta delta;
    delta.File = 1;
    delta.BaseRelease = 9;
    delta.BaseSize = 1234;
    delta.Pack = 2;
    delta.StoredSize = 5;
    m.Deltas.push_back(delta);
    return m.Settle();
}

std::string PathOf(const ReleaseFile& f) { return std::string(f.Path, f.PathLength); }

void ExpectEmpty(const ReleaseManifest& m, const std::string& why) {
    EXPECT_EQ(nullptr, m.Data) << why;
    EXPECT_EQ(0u, m.Length) << why;
    EXPECT_EQ(0u, m.Release) << why;
    EXPECT_EQ(0u, m.PackCount + m.ChunkCount + m.FileCount + m.ReferenceCount + m.DeltaCount + m.PathBytes) << why;
    EXPECT_EQ(nullptr, m.ChunksByHash) << why;
    EXPECT_EQ(nullptr, m.FilesByFoldedPath) << why;
}

// Parses bytes into a manifest that held a valid parse before, so emptiness is seen.
int ParseOver(const std::vector<uint8_t>& bytes, ReleaseManifest* m) {
    static const std::vector<uint8_t> valid = Base().Bytes();
    EXPECT_EQ(1, ParseReleaseManifest(valid.data(), valid.size(), m));
    return ParseReleaseManifest(bytes.data(), bytes.size(), m);
}

std::vector<uint8_t> WithFiles(const std::vector<std::string>& paths) {
    ReleaseModel m;
    m.AddPack(10, 0);
    const uint32_t c = m.AddChunk(1, 20000, 100);
    for (const std::string& p : paths) m.AddFile(p, {c});
    return m.Settle().Bytes();
}

}  // namespace

TEST(ReleaseManifest, ReadsEveryTableInPlace) {
    const std::vector<uint8_t> bytes = Base().Bytes();
    ReleaseManifest m;
    ASSERT_EQ(1, ParseReleaseManifest(bytes.data(), bytes.size(), &m));
    EXPECT_EQ(bytes.data(), m.Data);
    EXPECT_EQ(10u, m.Release);
    EXPECT_EQ(16384u, m.ChunkMin);
    EXPECT_EQ(65536u, m.ChunkAvg);
    EXPECT_EQ(262144u, m.ChunkMax);
    ASSERT_EQ(3u, m.PackCount);
    ASSERT_EQ(4u, m.ChunkCount);
    ASSERT_EQ(4u, m.FileCount);
    ASSERT_EQ(5u, m.ReferenceCount);
    ASSERT_EQ(1u, m.DeltaCount);

    const ReleasePack pack = ReleasePackAt(m, 0);
    EXPECT_EQ(9u, pack.Release);
    EXPECT_EQ(0u, pack.Index);
    EXPECT_EQ(50100u, pack.Size);
    const ReleaseChunk chunk = ReleaseChunkAt(m, 1);
    EXPECT_EQ(bytes.data() + 48 + 3 * 16 + 48, chunk.Sha256);
    EXPECT_EQ(HashOf(2)[0], chunk.Sha256[0]);
    EXPECT_EQ(HashOf(2)[3], chunk.Sha256[3]);
    EXPECT_EQ(20000u, chunk.RawSize);
    EXPECT_EQ(20000u, chunk.StoredSize);
    EXPECT_EQ(0u, chunk.Pack);
    EXPECT_EQ(30100u, chunk.Offset);

    const ReleaseFile file = ReleaseFileAt(m, 0);
    EXPECT_EQ("Data/Maps/a.bin", PathOf(file));
    EXPECT_EQ(65536u * 2 + 20000, file.Size);
    EXPECT_EQ(0u, file.FirstReference);
    EXPECT_EQ(3u, file.ReferenceCount);
    EXPECT_EQ(0u, ReleaseReferenceAt(m, 0));
    EXPECT_EQ(1u, ReleaseReferenceAt(m, 1));
    EXPECT_EQ(0u, ReleaseReferenceAt(m, 2));
    const ReleaseFile empty = ReleaseFileAt(m, 2);
    EXPECT_EQ("empty.txt", PathOf(empty));
    EXPECT_EQ(0u, empty.Size);
    EXPECT_EQ(0u, empty.ReferenceCount);
    EXPECT_EQ(4u, empty.FirstReference);
    EXPECT_EQ("readme.txt", PathOf(ReleaseFileAt(m, 3)));
    EXPECT_EQ(reinterpret_cast<const char*>(bytes.data() + bytes.size() - 10), ReleaseFileAt(m, 3).Path);

    const ReleaseDelta delta = ReleaseDeltaAt(m, 0);
    EXPECT_EQ(1u, delta.File);
    EXPECT_EQ(9u, delta.BaseRelease);
    EXPECT_EQ(1234u, delta.BaseSize);
    EXPECT_EQ(2u, delta.Pack);
    EXPECT_EQ(5u, delta.StoredSize);
}

TEST(ReleaseManifest, AcceptsTheLimitsThemselves) {
    const struct {
        const char* why;
        std::function<void(ReleaseModel&)> change;
    } cases[] = {
        {"nothing at all", [](ReleaseModel& m) { m = ReleaseModel(); }},
        {"smallest sizes", [](ReleaseModel& m) { m.ChunkMin = 1024, m.ChunkAvg = 2048, m.ChunkMax = 262144; }},
        {"largest sizes", [](ReleaseModel& m) { m.ChunkMin = 2097151, m.ChunkAvg = 2097152, m.ChunkMax = 4194304; }},
        {"a chunk of chunkMax", [](ReleaseModel& m) { m.ChunkMax = 262144; }},
        {"highest release", [](ReleaseModel& m) { m.Release = 0x7FFFFFFF; }},
        {"a pack of the release itself and of release 0", [](ReleaseModel& m) { m.Packs[0].Release = 0; }},
        {"a pack just below 4 GiB", [](ReleaseModel& m) { m.Packs[2].Size = 0xFFFFFFFFull; }},
        {"an unused pack of size 0", [](ReleaseModel& m) { m.AddPack(10, 7); }},
        {"a pack bigger than its chunks", [](ReleaseModel& m) { m.Packs[1].Size += 1; }},
        {"a delta on release 0", [](ReleaseModel& m) { m.Deltas[0].BaseRelease = 0; }},
        {"a delta ending its pack", [](ReleaseModel& m) { m.Deltas[0].Offset = 4, m.Deltas[0].StoredSize = 1; }},
        {"a path of 255 bytes", [](ReleaseModel& m) { m.Files[3].Path = "z/" + std::string(253, 'p'), m.Settle(); }},
        {"Korean names, dots inside, names near the launcher's",
         [](ReleaseModel& m) {
             m.Files[0].Path = "..a/.hidden/a..b";
             m.Files[1].Path = "Data/config";
             m.Files[2].Path = "configs";
             m.Files[3].Path = "update\xEA\xB0\x80/update.dat";
             m.Settle();
         }},
        {"the folder order's neighbours", [](ReleaseModel& m) {
             m.Files[0].Path = "a";
             m.Files[1].Path = "a!";
             m.Files[2].Path = "a.b";
             m.Files[3].Path = "b/a";
             m.Settle();
         }},
    };
    for (const auto& c : cases) {
        ReleaseModel model = Base();
        c.change(model);
        const std::vector<uint8_t> bytes = model.Bytes();
        ReleaseManifest m;
        EXPECT_EQ(1, ParseReleaseManifest(bytes.data(), bytes.size(), &m)) << c.why;
    }
}

TEST(ReleaseManifest, RefusesEveryRuleBroken) {
    // Each change either bends a field after Settle or settles again so that only its own rule breaks.
    const struct {
        const char* why;
        std::function<void(ReleaseModel&)> change;
    } cases[] = {
        {"another magic", [](ReleaseModel& m) { m.Magic = "QORCONT2"; }},
        {"release 0", [](ReleaseModel& m) { m.Release = 0; }},
        {"release 2^31", [](ReleaseModel& m) { m.Release = 0x80000000u, m.Packs[1].Release = 10; }},
        {"min below 1024", [](ReleaseModel& m) { m.ChunkMin = 1023, m.ChunkAvg = 2048; }},
        {"min equal to avg", [](ReleaseModel& m) { m.ChunkMin = 65536; }},
        {"avg equal to max", [](ReleaseModel& m) { m.ChunkAvg = 262144; }},
        {"avg not a power of two", [](ReleaseModel& m) { m.ChunkAvg = 65535; }},
        {"max above 4 MiB", [](ReleaseModel& m) { m.ChunkMax = 4194305; }},
        {"more deltas than 16 per file", [](ReleaseModel& m) { m.Deltas.resize(65, m.Deltas[0]); }},
        {"a pack of a later release", [](ReleaseModel& m) { m.Packs[2].Release = 11; }},
        {"a pack of 4 GiB", [](ReleaseModel& m) { m.Packs[2].Size = 1ull << 32; }},
        {"two packs alike", [](ReleaseModel& m) { m.Packs[2].Index = 0; }},
        {"packs out of release order", [](ReleaseModel& m) { m.Packs[0].Release = 11, m.Release = 11; }},
        {"packs out of index order", [](ReleaseModel& m) { std::swap(m.Packs[1].Index, m.Packs[2].Index); }},
        {"an empty chunk", [](ReleaseModel& m) { m.Chunks[3].RawSize = 0, m.Settle(); }},
        {"a chunk above chunkMax", [](ReleaseModel& m) { m.ChunkMax = 262143; }},
        {"a chunk stored in nothing", [](ReleaseModel& m) { m.Chunks[3].StoredSize = 0, m.Settle(); }},
        {"a chunk in a pack that is not there", [](ReleaseModel& m) { m.Chunks[3].Pack = 3; }},
        {"a chunk past its pack's end", [](ReleaseModel& m) { m.Packs[2].Size = 4; }},
        {"a chunk past 4 GiB", [](ReleaseModel& m) { m.Chunks[3].Offset = 0xFFFFFFFF, m.Packs[2].Size = 0xFFFFFFFF; }},
        {"two chunks with one name", [](ReleaseModel& m) { m.Chunks[3].Sha256 = m.Chunks[0].Sha256; }},
        {"chunks out of pack order", [](ReleaseModel& m) { std::swap(m.Chunks[2], m.Chunks[3]), m.Settle(); }},
        {"chunks out of offset order", [](ReleaseModel& m) { m.Chunks[0].Offset = 20000, m.Chunks[1].Offset = 0; }},
        {"two chunks at one offset", [](ReleaseModel& m) { m.Chunks[1].Offset = 0, m.Settle(); }},
        {"overlapping chunks", [](ReleaseModel& m) { m.Chunks[1].Offset = 29999, m.Settle(); }},
        {"first file not at reference 0", [](ReleaseModel& m) { m.Files[0].FirstReference = 1; }},
        {"a gap between reference ranges", [](ReleaseModel& m) { m.Files[1].FirstReference = 4; }},
        {"ranges ending before the table", [](ReleaseModel& m) { m.Files[3].ReferenceCount = 0, m.Files[3].Size = 0; }},
        {"a reference past the chunks", [](ReleaseModel& m) { m.Files[3].Chunks[0] = 4; }},
        {"a size that is not the chunks' sum", [](ReleaseModel& m) { m.Files[1].Size += 1; }},
        {"an empty file with a size", [](ReleaseModel& m) { m.Files[2].Size = 1; }},
        {"flags", [](ReleaseModel& m) { m.Files[2].Flags = 1; }},
        {"a path not where the last ended", [](ReleaseModel& m) { m.Files[1].PathOffset += 1; }},
        {"path bytes left over", [](ReleaseModel& m) { m.PathTable += "x"; }},
        {"a path past the table", [](ReleaseModel& m) { m.Files[3].PathLength += 1; }},
        {"an empty path", [](ReleaseModel& m) { m.Files[0].Path = "", m.Settle(); }},
        {"a path of 256 bytes", [](ReleaseModel& m) { m.Files[3].Path = "z/" + std::string(254, 'p'), m.Settle(); }},
        {"a path of 65536 + 1 bytes", [](ReleaseModel& m) { m.Files[3].Path = "z/" + std::string(65535, 'p'), m.Settle(); }},
        {"paths out of order", [](ReleaseModel& m) { std::swap(m.Files[2].Path, m.Files[3].Path), m.Settle(); }},
        {"a path twice", [](ReleaseModel& m) { m.Files[3].Path = "empty.txt", m.Settle(); }},
        {"a path twice but for case", [](ReleaseModel& m) { m.Files[2].Path = "README.TXT", m.Settle(); }},
        {"paths equal but for case, apart", [](ReleaseModel& m) {
             m.Files[0].Path = "A", m.Files[1].Path = "B", m.Files[2].Path = "a", m.Files[3].Path = "c", m.Settle();
         }},
        {"a file that is another's folder", [](ReleaseModel& m) {
             m.Files[0].Path = "a", m.Files[1].Path = "a/b", m.Files[2].Path = "c", m.Files[3].Path = "d", m.Settle();
         }},
        {"a file that is a deep folder", [](ReleaseModel& m) {
             m.Files[0].Path = "a/b", m.Files[1].Path = "a/b/c/d", m.Files[2].Path = "c", m.Files[3].Path = "d", m.Settle();
         }},
        {"a file that is a folder, another between", [](ReleaseModel& m) {
             m.Files[0].Path = "a", m.Files[1].Path = "a!x", m.Files[2].Path = "a/b", m.Files[3].Path = "b", m.Settle();
         }},
        {"a file that is a folder but for case", [](ReleaseModel& m) {
             m.Files[0].Path = "DATA", m.Files[1].Path = "Data/b.bin", m.Settle();
         }},
    };
    for (const auto& c : cases) {
        ReleaseModel model = Base();
        c.change(model);
        ReleaseManifest m;
        EXPECT_EQ(0, ParseOver(model.Bytes(), &m)) << c.why;
        ExpectEmpty(m, c.why);
    }
}

TEST(ReleaseManifest, RefusesDeltasOutsideTheRelease) {
    const struct {
        const char* why;
        std::function<void(ModelDelta&)> change;
    } cases[] = {
        {"a file that is not there", [](ModelDelta& d) { d.File = 4; }},
        {"a base of this release", [](ModelDelta& d) { d.BaseRelease = 10; }},
        {"a pack that is not there", [](ModelDelta& d) { d.Pack = 3; }},
        {"past its pack's end", [](ModelDelta& d) { d.Offset = 1; }},
        {"past 4 GiB", [](ModelDelta& d) { d.Offset = 0xFFFFFFFF; }},
        {"reserved bits", [](ModelDelta& d) { d.Reserved = 0x80000000u; }},
    };
    for (const auto& c : cases) {
        ReleaseModel model = Base();
        c.change(model.Deltas[0]);
        ReleaseManifest m;
        EXPECT_EQ(0, ParseOver(model.Bytes(), &m)) << c.why;
        ExpectEmpty(m, c.why);
    }
}

TEST(ReleaseManifest, PathsFollowTheSafePathRules) {
    for (const char* path : {"..", "a/..", "../a", ".", "a/./b", "/a", "a//b", "a/", "a\\b", "C:a", "a.txt:s",
                             "CON", "data/nul.txt", "COM1.bin", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b",
                             "a\tb", "a\x7f", "dot.", "blank ", "dir./a", "dir /a"}) {
        ReleaseManifest m;
        EXPECT_EQ(0, ParseOver(WithFiles({path}), &m)) << '"' << path << '"';
        ExpectEmpty(m, path);
    }
    ReleaseManifest m;
    EXPECT_EQ(0, ParseOver(WithFiles({std::string("a\0b", 3)}), &m)) << "a NUL inside";
    ExpectEmpty(m, "a NUL inside");
}

TEST(ReleaseManifest, PathsAreWholeUtf8) {
    for (const char* path : {"\xB0\xA1", "a\xEA\xB0", "a\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                             "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xFF", "COM\xC2\xB9",
                             "data/lpt\xC2\xB2.txt", "Com\xC2\xB3 .x"}) {
        ReleaseManifest m;
        EXPECT_EQ(0, ParseOver(WithFiles({path}), &m)) << path;
    }
    for (const char* path : {"\xEA\xB0\x80", "caf\xC3\xA9/\xF0\x9F\x8E\xAE.bin", "COM\xC2\xB4", "COM\xC2\xB9x",
                             "\xEF\xBF\xBF"}) {
        ReleaseManifest m;
        EXPECT_EQ(1, ParseOver(WithFiles({path}), &m)) << path;
    }
}

TEST(ReleaseManifest, PathsNeverNameTheLaunchersOwnFiles) {
    for (const char* path : {"config", "CONFIG", "Config", "update.dat", "Update.Dat", "update.manifest",
                             "update.", "update.anything", "UPDATE.x", "content.", "content.state",
                             "Content.Release", "config/x", "update.dat/x", "content.x/y", "launcher.exe",
                             "LAUNCHER.EXE", "updater.exe", "Updater.exe/x", "qor_installer.exe", "config.new",
                             "Game.exe.updating", "x.REPLACED", "CONTENT.STATE"}) {
        ReleaseManifest m;
        EXPECT_EQ(0, ParseOver(WithFiles({path}), &m)) << path;
    }
    for (const char* path : {"Data/config", "configs", "config2/x", "update", "updates/x", "update_notes.txt",
                             "content", "contents.txt", "Data/update.dat", "x/content.state",
                             "\xEF\xBD\x83onfig", "Data/launcher.exe", "launcher.exe2", "updating"}) {
        ReleaseManifest m;
        EXPECT_EQ(1, ParseOver(WithFiles({path}), &m)) << path;
    }
}

// Paths NTFS takes for one name, though their bytes differ: a release holding two would write
// one file and delete "the other", or leave one file with the other's bytes.
TEST(ReleaseManifest, NamesFoldAsNtfsFoldsThem) {
    const std::vector<std::vector<std::string>> refused = {
        {"\xC3\x84.pk3", "\xC3\xA4.pk3"},                          // Ä.pk3 beside ä.pk3
        {"\xC3\x96/x", "\xC3\xB6"},                                // folder Ö beside file ö
        {"\xC3\x9C" "bung/a", "\xC3\xBC" "bung"},                  // Übung/a beside file übung
        {"\xCE\xA3.txt", "\xCF\x83.txt"},                          // Σ and σ
        {"\xD0\x96/a", "\xD0\xB6/a/b"},                            // Ж/a file, ж/a/b inside it
        {"\xEF\xBC\xA1", "\xEF\xBD\x81"},                          // fullwidth Ａ and ａ
        {"\xE1\xBE\x80", "\xE1\xBE\x88"},                          // ᾀ and ᾈ (a one-letter simple upper case)
        {"\xC9\x90/a", "\xE2\xB1\xAF"},                              // folder ɐ beside file Ɐ: lengths differ
    };
    for (std::vector<std::string> paths : refused) {
        std::sort(paths.begin(), paths.end());
        ReleaseManifest m;
        EXPECT_EQ(0, ParseOver(WithFiles(paths), &m)) << paths[0] << " " << paths[1];
    }
    // Apart under NTFS: no case pair, or a mapping that is not one code unit to one.
    // ß, dotless ı and Kelvin sign: no case pair of their own, as the system keeps them.
    const std::vector<std::string> apart = {"SS", "a/b", "a\xC3\x9F", "k", "\xC3\x9F", "\xC4\xB1", "\xE2\x84\xAA"};
    const std::vector<uint8_t> apartBytes = WithFiles(apart);
    ReleaseManifest m;
    ASSERT_EQ(1, ParseOver(apartBytes, &m));
    uint32_t index = 99;
    EXPECT_EQ(1, FindReleaseFile(m, "A\\B", 3, &index));
    EXPECT_EQ(1u, index);
    EXPECT_EQ(1, FindReleaseFile(m, "\xC3\x9F", 2, &index));  // ß, apart from "SS"
    EXPECT_EQ(4u, index);
    EXPECT_EQ(1, FindReleaseFile(m, "K", 1, &index));
    EXPECT_EQ(3u, index);
    EXPECT_EQ(0, FindReleaseFile(m, "I", 1, &index));

    const std::vector<uint8_t> renamed = WithFiles({"\xC3\xBC" "bung/\xC3\xA4rger.pk3"});  // übung/ärger.pk3
    ASSERT_EQ(1, ParseOver(renamed, &m));
    const std::string old = "\xC3\x9C" "BUNG\\\xC3\x84RGER.PK3";  // ÜBUNG\ÄRGER.PK3
    EXPECT_EQ(1, FindReleaseFile(m, old.data(), old.size(), &index));
    EXPECT_TRUE(ReleaseHasFileInFolder(m, "\xC3\x9C" "bung", 6));
    EXPECT_FALSE(ReleaseHasFileInFolder(m, "\xC3\x9C", 2));
}

TEST(ReleaseManifest, NamesShapedLikeShortAliasesAreRefused) {
    for (const char* path : {"DATAFI~1/x", "CONTEN~1.STA", "a/PROGR~12", "x~1", "~1.a", "Data/abcdef~1.txt",
                             "\xC3\xBC" "bung~1/a", "LONGNA~1.AB", "~1"}) {
        ReleaseManifest m;
        EXPECT_EQ(0, ParseOver(WithFiles({path}), &m)) << path;
    }
    for (const char* path : {"a~", "a~b1", "abcdefgh~1", "ab~1.abcd", "a~1.b.c", "a~1x", "a~1.txt.x/b~c", "PROGRA~12"}) {
        ReleaseManifest m;
        EXPECT_EQ(1, ParseOver(WithFiles({path}), &m)) << path;
    }
}

TEST(ReleaseManifest, IsExactlyAsLongAsItsCountsSay) {
    const std::vector<uint8_t> bytes = Base().Bytes();
    ReleaseManifest m;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        ASSERT_EQ(0, ParseReleaseManifest(bytes.data(), length, &m)) << length;
        ExpectEmpty(m, "cut");
    }
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_EQ(0, ParseOver(longer, &m));
    // Counts that promise more than there is, or a count past its limit with bytes to match.
    for (std::size_t field = 24; field < 48; field += 4) {
        std::vector<uint8_t> bent = bytes;
        PutU32At(&bent, field, bytes[field] + 1u);  // every count of Base is below 255
        EXPECT_EQ(0, ParseOver(bent, &m)) << field;
        PutU32At(&bent, field, 0xFFFFFFFFu);
        EXPECT_EQ(0, ParseOver(bent, &m)) << field;
    }
    EXPECT_EQ(0, ParseReleaseManifest(nullptr, 0, &m));
}

TEST(ReleaseManifest, AtMost65536Packs) {
    ReleaseModel model;
    for (uint32_t i = 0; i < kReleaseMaxPacks; ++i) model.AddPack(10, i);
    std::vector<uint8_t> bytes = model.Settle().Bytes();
    ReleaseManifest m;
    EXPECT_EQ(1, ParseReleaseManifest(bytes.data(), bytes.size(), &m));
    model.AddPack(10, kReleaseMaxPacks);
    bytes = model.Settle().Bytes();
    EXPECT_EQ(0, ParseReleaseManifest(bytes.data(), bytes.size(), &m));
}

TEST(ReleaseManifest, FindsChunksByNameAndFilesWithoutCase) {
    const std::vector<uint8_t> bytes = Base().Bytes();
    ReleaseManifest m;
    ASSERT_EQ(1, ParseReleaseManifest(bytes.data(), bytes.size(), &m));
    for (uint32_t label = 1; label <= 4; ++label) {
        uint32_t index = 99;
        EXPECT_EQ(1, FindReleaseChunk(m, HashOf(label).data(), &index)) << label;
        EXPECT_EQ(label - 1, index);
    }
    uint32_t index = 99;
    for (uint32_t label : {0u, 5u, 0xFFFFFFFFu}) EXPECT_EQ(0, FindReleaseChunk(m, HashOf(label).data(), &index)) << label;
    EXPECT_EQ(99u, index);

    const struct {
        const char* path;
        int found;
        uint32_t index;
    } cases[] = {{"Data/Maps/a.bin", 1, 0}, {"data/maps/A.BIN", 1, 0}, {"DATA\\MAPS\\A.BIN", 1, 0},
                 {"Data/b.bin", 1, 1},      {"EMPTY.txt", 1, 2},        {"readme.txt", 1, 3},
                 {"Data", 0, 0},            {"Data/Maps", 0, 0},        {"Data/b.bin2", 0, 0},
                 {"Data/b.bi", 0, 0},       {"", 0, 0},                 {"zzz", 0, 0}};
    for (const auto& c : cases) {
        uint32_t file = 99;
        EXPECT_EQ(c.found, FindReleaseFile(m, c.path, std::strlen(c.path), &file)) << c.path;
        if (c.found) {
            EXPECT_EQ(c.index, file) << c.path;
        }
    }
}

TEST(ReleaseManifest, FindsAmongManyFiles) {
    ReleaseModel model;
    model.AddPack(10, 0);
    for (uint32_t i = 0; i < 3000; ++i) model.AddChunk(i, 1024 + i, 1);
    char path[32];
    for (uint32_t i = 0; i < 3000; ++i) {
        std::snprintf(path, sizeof path, "d%02u/f%04u", i % 37, i);
        model.AddFile(path, {i});
    }
    std::sort(model.Files.begin(), model.Files.end(), [](const ModelFile& a, const ModelFile& b) { return a.Path < b.Path; });
    const std::vector<uint8_t> bytes = model.Settle().Bytes();
    ReleaseManifest m;
    ASSERT_EQ(1, ParseReleaseManifest(bytes.data(), bytes.size(), &m));
    for (uint32_t i = 0; i < m.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(m, i);
        uint32_t found = 0;
        ASSERT_EQ(1, FindReleaseFile(m, f.Path, f.PathLength, &found));
        EXPECT_EQ(i, found);
        uint32_t chunk = 0;
        ASSERT_EQ(1, FindReleaseChunk(m, ReleaseChunkAt(m, i).Sha256, &chunk));
        EXPECT_EQ(i, chunk);
    }
}

TEST(ReleaseManifest, ComparesCutSizes) {
    const std::vector<uint8_t> a = Base().Bytes();
    ReleaseModel other = Base();
    other.ChunkMin = 16383;
    const std::vector<uint8_t> b = other.Bytes();
    ReleaseManifest ma, mb;
    ASSERT_EQ(1, ParseReleaseManifest(a.data(), a.size(), &ma));
    ASSERT_EQ(1, ParseReleaseManifest(b.data(), b.size(), &mb));
    EXPECT_TRUE(ReleasesCutAlike(ma, ma));
    EXPECT_FALSE(ReleasesCutAlike(ma, mb));
}

TEST(ReleaseManifest, KnowsWhichFoldersItsFilesNeed) {
    const std::vector<uint8_t> bytes = Base().Bytes();  // Data/Maps/a.bin, Data/b.bin, empty.txt, readme.txt
    ReleaseManifest m;
    ASSERT_EQ(1, ParseReleaseManifest(bytes.data(), bytes.size(), &m));
    for (const char* folder : {"Data", "data", "DATA/MAPS", "Data\\Maps"})
        EXPECT_TRUE(ReleaseHasFileInFolder(m, folder, std::strlen(folder))) << folder;
    for (const char* folder : {"Dat", "Data/Map", "Data/Maps/a.bin", "Data/b", "empty.txt", "readme", "Data/", "", "zzz"})
        EXPECT_FALSE(ReleaseHasFileInFolder(m, folder, std::strlen(folder))) << folder;
}
