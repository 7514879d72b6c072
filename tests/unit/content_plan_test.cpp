// The plan of a content update, scenario by scenario: an old release and what the folder
// holds, a new release, and the plan written out as text (whole files, each built file's
// sources, requests, totals, deletions).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "content_format/content_release.h"
#include "content_plan/content_plan.h"
#include "support/release_builder.h"

namespace {

struct ChunkCase {
    uint32_t label;
    uint32_t raw;
    uint32_t stored;
    uint32_t pack;     // index into the release's packs
    uint32_t gap = 0;  // bytes of frames this release does not use before it
};

struct FileCase {
    std::string path;
    std::vector<uint32_t> labels;
};

// A delta of the new release, stored after the chunks of its pack; flagged: the worker
// believes the local file at its path is its base.
struct DeltaCase {
    std::string path;
    uint32_t baseRelease;
    uint32_t stored;
    uint32_t pack;
    bool flagged;
};

struct ReleaseCase {
    uint32_t release = 0;  // 0: no such release
    std::vector<std::pair<uint32_t, uint32_t>> packs;  // (release, index)
    std::vector<ChunkCase> chunks;
    std::vector<FileCase> files;  // ascending paths
    uint32_t chunkMin = 16384;
    std::vector<DeltaCase> deltas;
};

// A file in the folder: an old release file found as installed (vouched), or one cut into
// chunks (labels; a label no release lists is 1000 + label bytes long).
struct LocalCase {
    std::string path;
    bool vouched;
    std::vector<uint32_t> labels;
};

struct Scenario {
    const char* name;
    ReleaseCase old;
    ReleaseCase next;
    std::vector<LocalCase> local;
    std::string expected;
    uint64_t gap = kContentMergeGap;
    std::vector<uint32_t> held = {};  // labels of chunks an earlier run left in the cache
    uint64_t saveBound = 0;
};

std::vector<uint8_t> Write(const ReleaseCase& release) {
    ReleaseModel m;
    m.Release = release.release;
    m.ChunkMin = release.chunkMin;
    for (const auto& p : release.packs) m.AddPack(p.first, p.second);
    std::map<uint32_t, uint32_t> index;
    for (const ChunkCase& c : release.chunks) index[c.label] = m.AddChunk(c.label, c.raw, c.stored, c.pack, c.gap);
    for (const FileCase& f : release.files) {
        std::vector<uint32_t> chunks;
        for (uint32_t label : f.labels) chunks.push_back(index.at(label));
        m.AddFile(f.path, chunks);
    }
    m.Settle();
    for (const DeltaCase& d : release.deltas) {
        ModelDelta delta;
        for (uint32_t n = 0; n < release.files.size(); ++n)
            if (release.files[n].path == d.path) delta.File = n;
        delta.BaseRelease = d.baseRelease;
        delta.Pack = d.pack;
        delta.Offset = static_cast<uint32_t>(m.Packs[d.pack].Size);
        delta.StoredSize = d.stored;
        m.Packs[d.pack].Size += d.stored;
        m.Deltas.push_back(delta);
    }
    return m.Bytes();
}

uint32_t RawSizeOf(const Scenario& s, uint32_t label) {
    for (const ReleaseCase* r : {&s.next, &s.old})
        for (const ChunkCase& c : r->chunks)
            if (c.label == label) return c.raw;
    return 1000 + label;
}

struct Folder {
    std::vector<std::vector<ContentCutChunk>> chunks;
    std::vector<ContentCutFile> cut;
    std::vector<uint8_t> vouched;
};

Folder MakeFolder(const Scenario& s, const ReleaseManifest* old) {
    Folder folder;
    if (old) folder.vouched.assign(old->FileCount, 0);
    for (const LocalCase& l : s.local) {
        if (l.vouched) {
            uint32_t o = 0;
            EXPECT_TRUE(old && FindReleaseFile(*old, l.path.data(), l.path.size(), &o)) << l.path;
            folder.vouched[o] = 1;
            continue;
        }
        std::vector<ContentCutChunk> chunks;
        uint64_t offset = 0;
        for (uint32_t label : l.labels) {
            ContentCutChunk c = {offset, RawSizeOf(s, label), {}};
            const TestHash hash = HashOf(label);
            std::copy(hash.begin(), hash.end(), c.Sha256);
            chunks.push_back(c);
            offset += c.Length;
        }
        folder.chunks.push_back(chunks);
    }
    std::size_t k = 0;
    for (const LocalCase& l : s.local)
        if (!l.vouched) {
            folder.cut.push_back({l.path.data(), l.path.size(), folder.chunks[k].data(),
                                  static_cast<uint32_t>(folder.chunks[k].size())});
            ++k;
        }
    return folder;
}

std::string PathOf(const ReleaseManifest& m, uint32_t file) {
    const ReleaseFile f = ReleaseFileAt(m, file);
    return std::string(f.Path, f.PathLength);
}

std::string SourceText(const ContentChunkSource& s, const ReleaseManifest* old, const ReleaseManifest& next,
                       const Folder& folder) {
    switch (s.Kind) {
        case kSourceFetch: return "fetch";
        case kSourceOldFile: return "old:" + PathOf(*old, s.File) + "@" + std::to_string(s.Offset);
        case kSourceCutFile:
            return "cut:" + std::string(folder.cut[s.File].Path, folder.cut[s.File].PathLength) + "@" + std::to_string(s.Offset);
        case kSourceBuilt: return "built:" + PathOf(next, s.File) + "@" + std::to_string(s.Offset);
        case kSourceDelta: return "delta:" + PathOf(next, s.File) + "@" + std::to_string(s.Offset);
        case kSourceSaved: return "saved@" + std::to_string(s.Offset);
    }
    return "?";
}

int AddRequest(void* context, const ContentFetchRequest& r) {
    *static_cast<std::string*>(context) += " " + std::to_string(r.Pack) + ":" + std::to_string(r.Offset) + "+" +
                                           std::to_string(r.Length);
    return 1;
}

int AddDelta(void* context, uint32_t delta) {
    static_cast<std::vector<uint32_t>*>(context)->push_back(delta);
    return 1;
}

// With deltas in the release: "roads: PATH=ROAD:BYTES ...", "deltas: INDEX@PACK:OFFSET ..." (in
// the order they are fetched) and "delta bytes B (N) chunks alone C".
std::string DescribeRoads(const ContentPlan& plan, const ReleaseManifest& next) {
    if (next.DeltaCount == 0) return "";
    std::string text = "roads:";
    for (uint32_t n = 0; n < next.FileCount; ++n) {
        const ContentFileRoad road = ContentRoadOf(plan, n);
        const char* names[] = {"whole", "chunks", "delta"};
        text += " " + PathOf(next, n) + "=" + names[road.Road] +
                (road.Road == kRoadDelta ? std::to_string(road.Delta) : std::string()) + ":" + std::to_string(road.Bytes);
    }
    std::vector<uint32_t> deltas;
    EXPECT_EQ(1, ForEachContentDelta(plan, AddDelta, &deltas));
    text += "\ndeltas:";
    for (uint32_t d : deltas) {
        const ReleaseDelta delta = ReleaseDeltaAt(next, d);
        text += " " + std::to_string(d) + "@" + std::to_string(delta.Pack) + ":" + std::to_string(delta.Offset);
    }
    const ContentPlanTotals& t = plan.Totals;
    return text + "\ndelta bytes " + std::to_string(t.DeltaBytes) + " (" + std::to_string(t.DeltasFetched) +
           ") chunks alone " + std::to_string(t.BytesWithoutDeltas) + "\n";
}

// The plan as lines: "whole: ...", "build PATH: SOURCE ...", "requests: PACK:OFFSET+LENGTH ...",
// "bytes B ideal I requests R packs P", "delete: PATH ..." (a "!" before a path deleted first).
std::string Describe(const ContentPlan& plan, const ReleaseManifest* old, const ReleaseManifest& next, const Folder& folder) {
    std::string whole = "whole:";
    std::string build;
    for (uint32_t n = 0; n < next.FileCount; ++n) {
        if (ContentFileIsWhole(plan, n)) {
            whole += " " + PathOf(next, n);
            continue;
        }
        build += "build " + PathOf(next, n) + ":";
        const ReleaseFile f = ReleaseFileAt(next, n);
        for (uint32_t r = f.FirstReference; r < f.FirstReference + f.ReferenceCount; ++r) {
            const ContentChunkSource source = ContentSourceOf(plan, n, r);
            const bool held = source.Kind == kSourceFetch && ContentChunkHeld(plan, ReleaseReferenceAt(next, r));
            build += " " + (held ? std::string("held") : SourceText(source, old, next, folder));
        }
        build += "\n";
    }
    std::string requests = "requests:";
    EXPECT_EQ(1, ForEachContentRequest(plan, AddRequest, &requests));
    const ContentPlanTotals& t = plan.Totals;
    std::string text = whole + "\n" + build + requests + "\n" + "bytes " + std::to_string(t.Bytes) + " ideal " +
                       std::to_string(t.Ideal) + " requests " + std::to_string(t.Requests) + " packs " +
                       std::to_string(t.PacksTouched) + "\n" + "delete:";
    for (uint32_t i = 0; i < t.Deletions; ++i) {
        const ContentDeletion d = ContentDeletionAt(plan, i);
        text += std::string(" ") + (d.BeforeBuilding ? "!" : "") + PathOf(*old, d.OldFile);
    }
    return text + "\n" + DescribeRoads(plan, next);
}

// A scenario planned: the releases, the folder and the plan, kept together because the plan
// refers to all of them.
struct Planned {
    explicit Planned(const Scenario& s) {
        nextBytes = Write(s.next);
        EXPECT_EQ(1, ParseReleaseManifest(nextBytes.data(), nextBytes.size(), &next)) << s.name;
        if (s.old.release) {
            oldBytes = Write(s.old);
            EXPECT_EQ(1, ParseReleaseManifest(oldBytes.data(), oldBytes.size(), &old)) << s.name;
        }
        const ReleaseManifest* oldPointer = s.old.release ? &old : nullptr;
        folder = MakeFolder(s, oldPointer);
        ContentPlanInput input;
        input.NewRelease = &next;
        input.OldRelease = oldPointer;
        input.OldVouched = oldPointer ? folder.vouched.data() : nullptr;
        input.CutFiles = folder.cut.data();
        input.CutFileCount = static_cast<uint32_t>(folder.cut.size());
        input.MergeGap = s.gap;
        input.SaveBound = s.saveBound;
        for (const DeltaCase& d : s.next.deltas) deltaBase.push_back(d.flagged ? 1 : 0);
        input.DeltaBase = deltaBase.empty() ? nullptr : deltaBase.data();
        if (!s.held.empty()) {
            held.assign(next.ChunkCount, 0);
            for (uint32_t label : s.held) {
                uint32_t c = 0;
                EXPECT_TRUE(FindReleaseChunk(next, HashOf(label).data(), &c)) << label;
                held[c] = 1;
            }
            input.Held = held.data();
        }
        text = MakeContentPlan(input, &plan) ? Describe(plan, oldPointer, next, folder) : "refused\n";
    }
    Planned(const Planned&) = delete;
    Planned& operator=(const Planned&) = delete;

    std::vector<uint8_t> nextBytes;
    std::vector<uint8_t> oldBytes;
    ReleaseManifest next;
    ReleaseManifest old;
    Folder folder;
    std::vector<uint8_t> deltaBase;
    std::vector<uint8_t> held;
    ContentPlan plan;
    std::string text;
};

// Release 1: three files in one pack. The chunks are 20000 bytes (labels 1 to 9), stored
// in 1000 (so a pack offset is 1000 per chunk before it).
ReleaseCase ReleaseOne() {
    ReleaseCase r;
    r.release = 1;
    r.packs = {{1, 0}};
    for (uint32_t label = 1; label <= 5; ++label) r.chunks.push_back({label, 20000, 1000, 0});
    r.files = {{"a.bin", {1, 2}}, {"b.bin", {3, 4}}, {"c.bin", {5}}};
    return r;
}

// Release 3 after 1 and 2: a.bin unchanged, b.bin edited (its chunk 4 gone, 6 from release
// 2 and 8 from release 3 new), c.bin removed, d.bin new and made of c.bin's chunk and chunk 7.
ReleaseCase ReleaseThree() {
    ReleaseCase r;
    r.release = 3;
    r.packs = {{1, 0}, {2, 0}, {3, 0}};
    r.chunks = {{1, 20000, 1000, 0}, {2, 20000, 1000, 0}, {3, 20000, 1000, 0, 1000}, {5, 20000, 1000, 0, 1000},
                {6, 20000, 1000, 1, 500}, {7, 20000, 1000, 1}, {8, 20000, 1000, 2}};
    r.files = {{"a.bin", {1, 2}}, {"b.bin", {3, 6, 8}}, {"d.bin", {5, 7}}};
    return r;
}

ReleaseCase WithoutC() {
    ReleaseCase r = ReleaseOne();
    r.release = 2;
    r.packs.push_back({2, 0});
    r.chunks.pop_back();
    r.files.pop_back();
    return r;
}

// c.bin renamed d.bin: its chunk is still listed, only by another file.
ReleaseCase WithD() {
    ReleaseCase r = ReleaseOne();
    r.release = 2;
    r.files.back().path = "d.bin";
    return r;
}

ReleaseCase Twice() {
    ReleaseCase r;
    r.release = 1;
    r.packs = {{1, 0}};
    r.chunks = {{5, 20000, 1000, 0}, {6, 20000, 1000, 0}};
    r.files = {{"a.bin", {5}}, {"b.bin", {5, 6, 6}}};
    return r;
}

// The last chunk of one pack and the first of the next.
ReleaseCase AcrossPacks() {
    ReleaseCase r;
    r.release = 2;
    r.packs = {{1, 0}, {2, 0}};
    r.chunks = {{1, 20000, 1000, 0, 1000}, {2, 20000, 1000, 1}};
    r.files = {{"x.bin", {1, 2}}};
    return r;
}

// a.bin {1, 2} and b.bin {3, 4}; after: a.bin {1, 3} and b.bin {2, 4}.
ReleaseCase Swapped(bool after) {
    ReleaseCase r;
    r.release = after ? 2 : 1;
    r.packs = {{1, 0}};
    for (uint32_t label = 1; label <= 4; ++label) r.chunks.push_back({label, 20000, 1000, 0});
    if (after)
        r.files = {{"a.bin", {1, 3}}, {"b.bin", {2, 4}}};
    else
        r.files = {{"a.bin", {1, 2}}, {"b.bin", {3, 4}}};
    return r;
}

// Files "data" and "a/b" become "data/x.bin" and "a", with the same content.
ReleaseCase InTheWay(bool after) {
    ReleaseCase r;
    r.release = after ? 2 : 1;
    r.packs = {{1, 0}};
    r.chunks = {{1, 20000, 1000, 0}, {2, 20000, 1000, 0}, {3, 20000, 1000, 0}};
    if (after)
        r.files = {{"a", {2}}, {"data/x.bin", {1}}, {"keep.bin", {3}}};
    else
        r.files = {{"a/b", {2}}, {"data", {1}}, {"keep.bin", {3}}};
    return r;
}

ReleaseCase CaseOnly(bool after) {
    ReleaseCase r;
    r.release = after ? 2 : 1;
    r.packs = {{1, 0}};
    r.chunks = {{1, 20000, 1000, 0}, {2, 20000, 1000, 0}};
    if (after)
        r.files = {{"DATA/b.bin", {2}}, {"data/a.bin", {1}}};
    else
        r.files = {{"Data/A.bin", {1}}};
    return r;
}

ReleaseCase CutOtherwise() {
    ReleaseCase r = ReleaseOne();
    r.chunkMin = 16000;
    return r;
}

const std::vector<LocalCase> kAllVouched = {{"a.bin", true, {}}, {"b.bin", true, {}}, {"c.bin", true, {}}};

}  // namespace

TEST(ContentPlan, Scenarios) {
    ReleaseCase fresh;
    fresh.release = 5;
    fresh.packs = {{5, 0}};
    fresh.chunks = {{1, 20000, 300, 0}, {2, 30000, 200, 0}, {3, 40000, 100, 0}};
    fresh.files = {{"Data/a.bin", {1, 2}}, {"empty.txt", {}}, {"game.exe", {3}}};

    const Scenario scenarios[] = {
        {"from nothing", {}, fresh, {},
         "whole:\n"
         "build Data/a.bin: fetch fetch\nbuild empty.txt:\nbuild game.exe: fetch\n"
         "requests: 0:0+600\nbytes 600 ideal 600 requests 1 packs 1\ndelete:\n"},
        {"a classic install cut once", {}, fresh,
         {{"Data/a.bin", false, {1, 2}}, {"EMPTY.TXT", false, {}}, {"game.exe", false, {3, 9}}},
         "whole: Data/a.bin empty.txt\n"
         "build game.exe: cut:game.exe@0\n"
         "requests:\nbytes 0 ideal 0 requests 0 packs 0\ndelete:\n"},
        {"skipping a version", ReleaseOne(), ReleaseThree(), kAllVouched,
         "whole: a.bin\n"
         "build b.bin: old:b.bin@0 fetch fetch\nbuild d.bin: old:c.bin@0 fetch\n"
         "requests: 1:500+2000 2:0+1000\nbytes 3000 ideal 3000 requests 2 packs 2\ndelete: c.bin\n"},
        {"an edited local file", ReleaseOne(), ReleaseOne(),
         {{"a.bin", false, {1, 42, 2}}, {"b.bin", true, {}}, {"c.bin", true, {}}},
         "whole: b.bin c.bin\n"
         "build a.bin: cut:a.bin@0 cut:a.bin@21042\n"
         "requests:\nbytes 0 ideal 0 requests 0 packs 0\ndelete:\n"},
        {"a lost local file", ReleaseOne(), ReleaseOne(), {{"a.bin", true, {}}, {"c.bin", true, {}}},
         "whole: a.bin c.bin\n"
         "build b.bin: fetch fetch\n"
         "requests: 0:2000+2000\nbytes 2000 ideal 2000 requests 1 packs 1\ndelete:\n"},
        {"a removed file, even changed, and the player's own files", ReleaseOne(), WithoutC(),
         {{"a.bin", true, {}}, {"b.bin", true, {}}, {"Screenshots/shot1.png", false, {50}}, {"notes.txt", false, {5}}},
         "whole: a.bin b.bin\nrequests:\nbytes 0 ideal 0 requests 0 packs 0\ndelete: c.bin\n"},
        {"a player's file as a source", ReleaseOne(), WithD(),
         {{"a.bin", true, {}}, {"b.bin", true, {}}, {"my/copy of c.bin", false, {5}}},
         "whole: a.bin b.bin\nbuild d.bin: cut:my/copy of c.bin@0\n"
         "requests:\nbytes 0 ideal 0 requests 0 packs 0\ndelete: c.bin\n"},
        {"the same chunk in two files and twice in one", {}, Twice(), {},
         "whole:\nbuild a.bin: fetch\nbuild b.bin: built:a.bin@0 fetch built:b.bin@20000\n"
         "requests: 0:0+2000\nbytes 2000 ideal 2000 requests 1 packs 1\ndelete:\n"},
        {"neighbours in two packs", {}, AcrossPacks(), {},
         "whole:\nbuild x.bin: fetch fetch\n"
         "requests: 0:1000+1000 1:0+1000\nbytes 2000 ideal 2000 requests 2 packs 2\ndelete:\n"},
        {"a source rebuilt before it is needed", Swapped(false), Swapped(true),
         {{"a.bin", true, {}}, {"b.bin", true, {}}},
         "whole:\nbuild a.bin: old:a.bin@0 old:b.bin@0\nbuild b.bin: fetch old:b.bin@20000\n"
         "requests: 0:1000+1000\nbytes 1000 ideal 1000 requests 1 packs 1\ndelete:\n"},
        {"a file left in place is the better source", Swapped(false), Swapped(true),
         {{"a.bin", true, {}}, {"b.bin", true, {}}, {"backup/a.bin", false, {1, 2}}},
         "whole:\nbuild a.bin: cut:backup/a.bin@0 old:b.bin@0\nbuild b.bin: cut:backup/a.bin@20000 old:b.bin@20000\n"
         "requests:\nbytes 0 ideal 0 requests 0 packs 0\ndelete:\n"},
        {"old files in the way of new folders", InTheWay(false), InTheWay(true), {
             {"a/b", true, {}}, {"data", true, {}}, {"keep.bin", true, {}}},
         "whole: keep.bin\nbuild a: fetch\nbuild data/x.bin: fetch\n"
         "requests: 0:0+2000\nbytes 2000 ideal 2000 requests 1 packs 1\ndelete: !a/b !data\n"},
        {"paths that differ in case only", CaseOnly(false), CaseOnly(true), {{"Data/A.bin", true, {}}},
         "whole: data/a.bin\nbuild DATA/b.bin: fetch\n"
         "requests: 0:1000+1000\nbytes 1000 ideal 1000 requests 1 packs 1\ndelete:\n"},
        {"an old release cut with other sizes", CutOtherwise(), ReleaseOne(), kAllVouched,
         "whole:\nbuild a.bin: fetch fetch\nbuild b.bin: fetch fetch\nbuild c.bin: fetch\n"
         "requests: 0:0+5000\nbytes 5000 ideal 5000 requests 1 packs 1\ndelete:\n"},
        {"a cut of a file its stamp vouches for", ReleaseOne(), ReleaseOne(),
         {{"a.bin", true, {}}, {"a.bin", false, {1, 7}}, {"b.bin", true, {}}, {"c.bin", true, {}}},
         "whole: b.bin c.bin\nbuild a.bin: cut:a.bin@0 fetch\n"
         "requests: 0:1000+1000\nbytes 1000 ideal 1000 requests 1 packs 1\ndelete:\n"},
    };
    for (const Scenario& s : scenarios) EXPECT_EQ(s.expected, Planned(s).text) << s.name;
}

// Chunks an earlier run left in the cache are read from it, never requested again, not even
// inside a merged request; a readable local copy still comes first.
TEST(ContentPlan, HeldChunksAreNeverRequested) {
    ReleaseCase fresh;
    fresh.release = 5;
    fresh.packs = {{5, 0}};
    fresh.chunks = {{1, 20000, 300, 0}, {2, 30000, 200, 0}, {3, 40000, 100, 0}};
    fresh.files = {{"a.bin", {1, 2}}, {"b.bin", {3}}};
    const Scenario scenarios[] = {
        {"a held chunk between two fetched ones splits their request", {}, fresh, {},
         "whole:\nbuild a.bin: fetch held\nbuild b.bin: fetch\n"
         "requests: 0:0+300 0:500+100\nbytes 400 ideal 400 requests 2 packs 1\ndelete:\n",
         kContentMergeGap, {2}},
        {"everything held", {}, fresh, {},
         "whole:\nbuild a.bin: held held\nbuild b.bin: held\n"
         "requests:\nbytes 0 ideal 0 requests 0 packs 0\ndelete:\n",
         kContentMergeGap, {1, 2, 3}},
        {"a local copy beats the cache", ReleaseOne(), ReleaseOne(), {{"a.bin", true, {}}, {"c.bin", true, {}}},
         "whole: a.bin c.bin\nbuild b.bin: held fetch\n"
         "requests: 0:3000+1000\nbytes 1000 ideal 1000 requests 1 packs 1\ndelete:\n",
         kContentMergeGap, {1, 3, 5}},
        {"a held chunk used again is copied from its first use", {}, Twice(), {},
         "whole:\nbuild a.bin: held\nbuild b.bin: built:a.bin@0 fetch built:b.bin@20000\n"
         "requests: 0:1000+1000\nbytes 1000 ideal 1000 requests 1 packs 1\ndelete:\n",
         kContentMergeGap, {5}},
    };
    for (const Scenario& s : scenarios) EXPECT_EQ(s.expected, Planned(s).text) << s.name;

    const Planned planned(scenarios[2]);
    EXPECT_EQ(1u, planned.plan.Totals.ChunksHeld);
    EXPECT_EQ(1000u, planned.plan.Totals.HeldBytes);
    EXPECT_EQ(1u, planned.plan.Totals.ChunksFetched);
    EXPECT_TRUE(ContentChunkHeld(planned.plan, 2));
    EXPECT_FALSE(ContentChunkFetched(planned.plan, 2));
    EXPECT_FALSE(ContentChunkHeld(planned.plan, 0));  // held, but a.bin is whole
}

TEST(ContentPlan, MergesAcrossGapsUpToTheLimit) {
    const struct {
        uint32_t between;  // bytes of the pack between the two needed chunks
        uint64_t gap;
        const char* expected;
    } cases[] = {
        {65536, kContentMergeGap, "requests: 0:0+67536\nbytes 67536 ideal 2000 requests 1 packs 1\n"},
        {65537, kContentMergeGap, "requests: 0:0+1000 0:66537+1000\nbytes 2000 ideal 2000 requests 2 packs 1\n"},
        {0, 0, "requests: 0:0+2000\nbytes 2000 ideal 2000 requests 1 packs 1\n"},
        {1, 0, "requests: 0:0+1000 0:1001+1000\nbytes 2000 ideal 2000 requests 2 packs 1\n"},
        {4000000000u, 5000000000ull, "requests: 0:0+4000002000\nbytes 4000002000 ideal 2000 requests 1 packs 1\n"},
    };
    for (const auto& c : cases) {
        // Unused bytes (frames of chunks this release no longer lists) and a listed chunk
        // that is not needed (its file is whole) both count as gap.
        for (bool listed : {false, true}) {
            ReleaseCase next;
            next.release = 2;
            next.packs = {{2, 0}};
            std::vector<LocalCase> local;
            if (listed && c.between > 0) {
                next.chunks = {{1, 20000, 1000, 0}, {2, 20000, c.between, 0}, {3, 20000, 1000, 0}};
                next.files = {{"a.bin", {1, 3}}, {"b.bin", {2}}};
                local = {{"b.bin", false, {2}}};
            } else {
                next.chunks = {{1, 20000, 1000, 0}, {3, 20000, 1000, 0, c.between}};
                next.files = {{"a.bin", {1, 3}}};
            }
            const std::string text = Planned({"gap", {}, next, local, "", c.gap}).text;
            const std::size_t at = text.find("requests:");
            EXPECT_EQ(c.expected, text.substr(at, text.find("\ndelete") - at + 1)) << c.between << " listed " << listed;
        }
    }
}

TEST(ContentPlan, CountsWhatItPlans) {
    const Planned planned({"skipping a version", ReleaseOne(), ReleaseThree(), kAllVouched, ""});
    const ContentPlan& plan = planned.plan;
    const ContentPlanTotals& t = plan.Totals;
    EXPECT_EQ(1u, t.FilesWhole);
    EXPECT_EQ(2u, t.FilesToBuild);
    EXPECT_EQ(100000u, t.BytesToBuild);
    EXPECT_EQ(3u, t.ChunksFetched);
    EXPECT_EQ(1u, t.Deletions);
    EXPECT_EQ(3000u, t.Bytes);
    EXPECT_EQ(3000u, t.Ideal);
    // Release 3's chunks: 1 2 3 5 in pack 0, 6 7 in pack 1, 8 in pack 2.
    for (uint32_t chunk = 0; chunk < 7; ++chunk) EXPECT_EQ(chunk >= 4, ContentChunkFetched(plan, chunk)) << chunk;
}

namespace {

struct Visits {
    std::vector<ContentFetchRequest> requests;
    std::vector<uint64_t> offsets;
    std::size_t stopAfter = 1000;
};

int KeepRequest(void* context, const ContentFetchRequest& r) {
    Visits* v = static_cast<Visits*>(context);
    v->requests.push_back(r);
    return v->requests.size() < v->stopAfter;
}

int KeepOffset(void* context, uint32_t, uint64_t offset, const ContentChunkSource&) {
    Visits* v = static_cast<Visits*>(context);
    v->offsets.push_back(offset);
    return v->offsets.size() < v->stopAfter;
}

}  // namespace

TEST(ContentPlan, VisitsRequestsAndChunksInOrderAndStopsWhenAsked) {
    // b.bin of release 3 needs 6 and 8 (both fetched), then d.bin 7: two requests, [6 7] and [8].
    const Planned planned({"skipping a version", ReleaseOne(), ReleaseThree(), kAllVouched, ""});
    const ContentPlan& plan = planned.plan;
    Visits all;
    EXPECT_EQ(1, ForEachContentRequest(plan, KeepRequest, &all));
    ASSERT_EQ(2u, all.requests.size());
    EXPECT_EQ(4u, all.requests[0].FirstChunk);
    EXPECT_EQ(5u, all.requests[0].LastChunk);
    EXPECT_EQ(6u, all.requests[1].FirstChunk);
    EXPECT_EQ(6u, all.requests[1].LastChunk);
    Visits first;
    first.stopAfter = 1;
    EXPECT_EQ(0, ForEachContentRequest(plan, KeepRequest, &first));
    EXPECT_EQ(1u, first.requests.size());

    Visits chunks;
    EXPECT_EQ(1, ForEachContentChunk(plan, 1, KeepOffset, &chunks));
    EXPECT_EQ((std::vector<uint64_t>{0, 20000, 40000}), chunks.offsets);
    Visits two;
    two.stopAfter = 2;
    EXPECT_EQ(0, ForEachContentChunk(plan, 1, KeepOffset, &two));
    EXPECT_EQ(2u, two.offsets.size());
}

TEST(ContentPlan, RefusesInconsistentInput) {
    const std::vector<uint8_t> bytes = Write(ReleaseOne());
    ReleaseManifest next;
    ASSERT_EQ(1, ParseReleaseManifest(bytes.data(), bytes.size(), &next));
    const ContentCutChunk good[2] = {{0, 20000, {}}, {20000, 5, {}}};
    const ContentCutChunk late[1] = {{1, 20000, {}}};
    const ContentCutChunk apart[2] = {{0, 20000, {}}, {20001, 5, {}}};
    const ContentCutChunk empty[2] = {{0, 20000, {}}, {20000, 0, {}}};
    const struct {
        const char* why;
        std::vector<ContentCutFile> files;
    } cases[] = {
        {"a first chunk not at 0", {{"a.bin", 5, late, 1}}},
        {"chunks apart", {{"a.bin", 5, apart, 2}}},
        {"an empty chunk", {{"a.bin", 5, empty, 2}}},
        {"no chunks given", {{"a.bin", 5, nullptr, 2}}},
        {"no path", {{nullptr, 0, good, 2}}},
        {"an empty path", {{"", 0, good, 2}}},
        {"one path twice", {{"a.bin", 5, good, 2}, {"b.bin", 5, good, 1}, {"a.bin", 5, good, 1}}},
        {"one path twice but for case and separator", {{"d/A.bin", 7, good, 2}, {"D\\a.BIN", 7, good, 1}}},
    };
    for (const auto& c : cases) {
        ContentPlanInput input;
        input.NewRelease = &next;
        input.CutFiles = c.files.data();
        input.CutFileCount = static_cast<uint32_t>(c.files.size());
        ContentPlan plan;
        EXPECT_EQ(0, MakeContentPlan(input, &plan)) << c.why;
        EXPECT_EQ(nullptr, plan.Fetched) << c.why;
        EXPECT_EQ(nullptr, plan.Input.NewRelease) << c.why;
    }
    ContentPlanInput none;
    ContentPlan plan;
    EXPECT_EQ(0, MakeContentPlan(none, &plan));
    ContentPlanInput noFiles;
    noFiles.NewRelease = &next;
    noFiles.CutFileCount = 1;
    EXPECT_EQ(0, MakeContentPlan(noFiles, &plan));
    ReleaseManifest emptyOld;
    ContentPlanInput unparsedOld;
    unparsedOld.NewRelease = &next;
    unparsedOld.OldRelease = &emptyOld;
    EXPECT_EQ(0, MakeContentPlan(unparsedOld, &plan));
    noFiles.CutFileCount = 0;
    EXPECT_EQ(1, MakeContentPlan(noFiles, &plan));
}

// Past 4 GiB: a file of 65537 chunks of 64 KiB whose new version starts with one more chunk,
// so every old chunk is read 64 KiB further on than it is written, the last at 2^32.
TEST(ContentPlan, AFileBeyondFourGiB) {
    const uint32_t count = 65537;
    ReleaseCase old;
    old.release = 1;
    old.packs = {{1, 0}};
    FileCase big = {"Game/big.pak", {}};
    for (uint32_t i = 0; i < count; ++i) {
        old.chunks.push_back({i, 65536, 16, 0});
        big.labels.push_back(i);
    }
    old.files = {big};
    ReleaseCase next = old;
    next.release = 2;
    next.packs.push_back({2, 0});
    next.chunks.push_back({count, 65536, 16, 1});
    next.files[0].labels.insert(next.files[0].labels.begin(), count);

    const std::vector<uint8_t> oldBytes = Write(old);
    const std::vector<uint8_t> nextBytes = Write(next);
    ReleaseManifest o, n;
    ASSERT_EQ(1, ParseReleaseManifest(oldBytes.data(), oldBytes.size(), &o));
    ASSERT_EQ(1, ParseReleaseManifest(nextBytes.data(), nextBytes.size(), &n));
    EXPECT_EQ((1ull << 32) + 65536, ReleaseFileAt(o, 0).Size);
    const uint8_t vouched[1] = {1};
    ContentPlanInput input;
    input.NewRelease = &n;
    input.OldRelease = &o;
    input.OldVouched = vouched;
    ContentPlan plan;
    ASSERT_EQ(1, MakeContentPlan(input, &plan));
    EXPECT_EQ((1ull << 32) + 2 * 65536, plan.Totals.BytesToBuild);
    EXPECT_EQ(1u, plan.Totals.ChunksFetched);
    EXPECT_EQ(16u, plan.Totals.Bytes);
    const ReleaseFile f = ReleaseFileAt(n, 0);
    EXPECT_EQ(kSourceFetch, ContentSourceOf(plan, 0, f.FirstReference).Kind);
    const ContentChunkSource last = ContentSourceOf(plan, 0, f.FirstReference + count);
    EXPECT_EQ(kSourceOldFile, last.Kind);
    EXPECT_EQ(1ull << 32, last.Offset);
    Visits visits;
    visits.stopAfter = count + 2;
    EXPECT_EQ(1, ForEachContentChunk(plan, 0, KeepOffset, &visits));
    ASSERT_EQ(count + 1, visits.offsets.size());
    EXPECT_EQ((1ull << 32) + 65536, visits.offsets.back());  // written 64 KiB after where it is read
}

namespace {

// After release 1 (a.bin {1, 2}, b.bin {3, 4}, c.bin {5}, all as installed), release 4
// rebuilds every file: a.bin {1, 12}, b.bin {12, 13, 14, 13} and c.bin {14, 5}, plus 15 at
// c.bin's end with tail. New chunks are in pack 1 in that order, 1000 bytes stored each.
ReleaseCase Rebuilt(bool tail, std::vector<DeltaCase> deltas) {
    ReleaseCase r;
    r.release = 4;
    r.packs = {{1, 0}, {4, 0}, {4, 1}};
    r.chunks = {{1, 20000, 1000, 0}, {5, 20000, 1000, 0, 3000}, {12, 20000, 1000, 1}, {13, 20000, 1000, 1},
                {14, 20000, 1000, 1}};
    r.files = {{"a.bin", {1, 12}}, {"b.bin", {12, 13, 14, 13}}, {"c.bin", {14, 5}}};
    if (tail) {
        r.chunks.push_back({15, 20000, 1000, 1});
        r.files[2].labels.push_back(15);
    }
    r.deltas = std::move(deltas);
    return r;
}

const DeltaCase kBDelta = {"b.bin", 1, 1500, 1, true};

}  // namespace

TEST(ContentPlan, TakesADeltaWhenItCostsLessThanTheChunks) {
    const Scenario scenarios[] = {
        // a.bin's delta only equals its chunk (a tie keeps the chunks); b.bin's saves 500. Its
        // chunk 12 came for a.bin first, the others now come out of the delta, and c.bin builds
        // 14 from b.bin as if b.bin had fetched it.
        {"a delta cheaper than the chunks", ReleaseOne(), Rebuilt(false, {{"a.bin", 1, 1000, 1, true}, kBDelta}),
         kAllVouched,
         "whole:\nbuild a.bin: old:a.bin@0 fetch\n"
         "build b.bin: built:a.bin@20000 delta:b.bin@20000 delta:b.bin@40000 built:b.bin@20000\n"
         "build c.bin: built:b.bin@40000 old:c.bin@0\n"
         "requests: 1:0+1000\nbytes 1000 ideal 1000 requests 1 packs 1\ndelete:\n"
         "roads: a.bin=chunks:1000 b.bin=delta1:1500 c.bin=chunks:0\n"
         "deltas: 1@1:4000\ndelta bytes 1500 (1) chunks alone 3000\n"},
        // Without b.bin's chunks the request for 12 and 15 still spans them (the gap merges it):
        // the delta would only add to the bytes, so every file keeps its chunks.
        {"a delta the merge gap makes useless", ReleaseOne(), Rebuilt(true, {kBDelta}), kAllVouched,
         "whole:\nbuild a.bin: old:a.bin@0 fetch\n"
         "build b.bin: built:a.bin@20000 fetch fetch built:b.bin@20000\n"
         "build c.bin: built:b.bin@40000 old:c.bin@0 fetch\n"
         "requests: 1:0+4000\nbytes 4000 ideal 4000 requests 1 packs 1\ndelete:\n"
         "roads: a.bin=chunks:1000 b.bin=chunks:2000 c.bin=chunks:1000\n"
         "deltas:\ndelta bytes 0 (0) chunks alone 4000\n"},
        {"the same without a gap", ReleaseOne(), Rebuilt(true, {kBDelta}), kAllVouched,
         "whole:\nbuild a.bin: old:a.bin@0 fetch\n"
         "build b.bin: built:a.bin@20000 delta:b.bin@20000 delta:b.bin@40000 built:b.bin@20000\n"
         "build c.bin: built:b.bin@40000 old:c.bin@0 fetch\n"
         "requests: 1:0+1000 1:3000+1000\nbytes 2000 ideal 2000 requests 2 packs 1\ndelete:\n"
         "roads: a.bin=chunks:1000 b.bin=delta0:1500 c.bin=chunks:1000\n"
         "deltas: 0@1:4000\ndelta bytes 1500 (1) chunks alone 4000\n", 0},
        // Only flagged deltas count, the cheapest of them wins, and in fetch order (pack 2's
        // after pack 1's although the table lists it first).
        {"the cheapest flagged delta, fetched in pack order", ReleaseOne(),
         Rebuilt(false, {{"a.bin", 1, 500, 2, true}, {"b.bin", 1, 1800, 1, true}, {"b.bin", 2, 1200, 1, true},
                         {"b.bin", 3, 900, 1, false}}),
         kAllVouched,
         "whole:\nbuild a.bin: old:a.bin@0 delta:a.bin@20000\n"
         "build b.bin: built:a.bin@20000 delta:b.bin@20000 delta:b.bin@40000 built:b.bin@20000\n"
         "build c.bin: built:b.bin@40000 old:c.bin@0\n"
         "requests:\nbytes 0 ideal 0 requests 0 packs 0\ndelete:\n"
         "roads: a.bin=delta0:500 b.bin=delta2:1200 c.bin=chunks:0\n"
         "deltas: 2@1:4800 0@2:0\ndelta bytes 1700 (2) chunks alone 3000\n"},
        // No flag, or a flag on a file already whole: nothing to take.
        {"no base, or nothing to build", ReleaseOne(), [] {
             ReleaseCase r = ReleaseOne();
             r.release = 2;
             r.deltas = {{"a.bin", 1, 1, 0, true}, {"b.bin", 1, 1, 0, false}};
             return r;
         }(),
         {{"a.bin", true, {}}, {"c.bin", true, {}}},
         "whole: a.bin c.bin\nbuild b.bin: fetch fetch\n"
         "requests: 0:2000+2000\nbytes 2000 ideal 2000 requests 1 packs 1\ndelete:\n"
         "roads: a.bin=whole:0 b.bin=chunks:2000 c.bin=whole:0\n"
         "deltas:\ndelta bytes 0 (0) chunks alone 2000\n"},
    };
    for (const Scenario& s : scenarios) EXPECT_EQ(s.expected, Planned(s).text) << s.name;
}

TEST(ContentPlan, CountsDeltasApartFromRequestsAndStopsVisitingWhenAsked) {
    const Planned planned({"two deltas", ReleaseOne(),
                           Rebuilt(false, {{"a.bin", 1, 500, 2, true}, {"b.bin", 1, 1200, 1, true}}), kAllVouched, ""});
    const ContentPlanTotals& t = planned.plan.Totals;
    EXPECT_EQ(2u, t.DeltasFetched);
    EXPECT_EQ(1700u, t.DeltaBytes);
    EXPECT_EQ(0u, t.Bytes + t.Ideal + t.ChunksFetched + t.Requests);
    EXPECT_EQ(3u, t.FilesToBuild);  // a delta file is still built
    for (uint32_t chunk = 0; chunk < planned.next.ChunkCount; ++chunk) EXPECT_FALSE(ContentChunkFetched(planned.plan, chunk));
    struct Stop {
        static int First(void* context, uint32_t delta) {
            static_cast<std::vector<uint32_t>*>(context)->push_back(delta);
            return 0;
        }
    };
    std::vector<uint32_t> seen;
    EXPECT_EQ(0, ForEachContentDelta(planned.plan, Stop::First, &seen));
    EXPECT_EQ(std::vector<uint32_t>{1}, seen);
}

namespace {

// a.bin and b.bin trade their contents.
ReleaseCase Traded(bool after) {
    ReleaseCase r;
    r.release = after ? 2 : 1;
    r.packs = {{1, 0}};
    for (uint32_t label = 1; label <= 4; ++label) r.chunks.push_back({label, 20000, 1000, 0});
    if (after)
        r.files = {{"a.bin", {3, 4}}, {"b.bin", {1, 2}}};
    else
        r.files = {{"a.bin", {1, 2}}, {"b.bin", {3, 4}}};
    return r;
}

int AddSaved(void* context, uint32_t chunk, const ContentChunkSource& from, uint64_t at) {
    *static_cast<std::string*>(context) += " " + std::to_string(chunk) + "<" + std::to_string(from.Kind) + ":" +
                                           std::to_string(from.File) + "@" + std::to_string(from.Offset) + ">" +
                                           std::to_string(at);
    return 1;
}

}  // namespace

// What a file rebuilt earlier in the run overwrites is read into memory before any file is
// replaced, as far as the bound goes (a chunk exactly at it included), in build order; the
// cache an earlier run left comes first, and without a bound it is all fetched.
TEST(ContentPlan, ChunksOfFilesRebuiltEarlierAreSavedWithinTheBound) {
    const std::vector<LocalCase> both = {{"a.bin", true, {}}, {"b.bin", true, {}}};
    const Scenario scenarios[] = {
        {"one chunk trades places", Swapped(false), Swapped(true), both,
         "whole:\nbuild a.bin: old:a.bin@0 old:b.bin@0\nbuild b.bin: saved@0 old:b.bin@20000\n"
         "requests:\nbytes 0 ideal 0 requests 0 packs 0\ndelete:\n",
         kContentMergeGap, {}, kContentSaveBound},
        {"a bound a byte short", Swapped(false), Swapped(true), both,
         "whole:\nbuild a.bin: old:a.bin@0 old:b.bin@0\nbuild b.bin: fetch old:b.bin@20000\n"
         "requests: 0:1000+1000\nbytes 1000 ideal 1000 requests 1 packs 1\ndelete:\n",
         kContentMergeGap, {}, 19999},
        {"two files trade, the bound holds one chunk", Traded(false), Traded(true), both,
         "whole:\nbuild a.bin: old:b.bin@0 old:b.bin@20000\nbuild b.bin: saved@0 fetch\n"
         "requests: 0:1000+1000\nbytes 1000 ideal 1000 requests 1 packs 1\ndelete:\n",
         kContentMergeGap, {}, 39999},
        {"two files trade, a held chunk leaves room for the other", Traded(false), Traded(true), both,
         "whole:\nbuild a.bin: old:b.bin@0 old:b.bin@20000\nbuild b.bin: held saved@0\n"
         "requests:\nbytes 0 ideal 0 requests 0 packs 0\ndelete:\n",
         kContentMergeGap, {1}, 20000},
    };
    for (const Scenario& s : scenarios) EXPECT_EQ(s.expected, Planned(s).text) << s.name;

    const Planned whole({"two files trade", Traded(false), Traded(true), both, "", kContentMergeGap, {}, 40000});
    EXPECT_EQ(2u, whole.plan.Totals.ChunksSaved);
    EXPECT_EQ(40000u, whole.plan.Totals.SavedBytes);
    EXPECT_EQ(0u, whole.plan.Totals.ChunksFetched);
    EXPECT_TRUE(ContentChunkSaved(whole.plan, 0));
    EXPECT_FALSE(ContentChunkSaved(whole.plan, 2));
    // Read from old a.bin (old file 0), where its chunks lie, in manifest order.
    std::string saved;
    EXPECT_EQ(1, ForEachSavedChunk(whole.plan, AddSaved, &saved));
    EXPECT_EQ(" 0<1:0@0>0 1<1:0@20000>20000", saved);
}
