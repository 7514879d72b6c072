// The survey's belief in a delta's base: the installed release's file, unchanged since it was
// installed or cut into exactly that release's chunks; anything else takes the chunks.
#include "content_plan/delta_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/release_builder.h"

namespace {

constexpr uint32_t kOld = 10;

// Old release 10: a.exe (chunks 1, 2), b.dat (3). New release 11: a.exe (4, 2), b.dat (3, 5), c.txt,
// with deltas against 10 for both files and one for a.exe against release 9.
struct Releases {
    std::vector<uint8_t> oldBytes, newBytes, stateBytes;
    ReleaseManifest old, next;
    ContentState state;
    std::vector<ContentFileStamp> stamps = {{3000, 111}, {1000, 222}};  // per old file

    explicit Releases(uint64_t baseSizeOfA = 3000) {
        ReleaseModel o;
        o.Release = kOld;
        o.AddPack(kOld, 0);
        const uint32_t c1 = o.AddChunk(1, 2000, 100), c2 = o.AddChunk(2, 1000, 100), c3 = o.AddChunk(3, 1000, 100);
        o.AddFile("a.exe", {c1, c2});
        o.AddFile("b.dat", {c3});
        oldBytes = o.Settle().Bytes();
        ReleaseModel n;
        n.Release = kOld + 1;
        n.AddPack(kOld + 1, 0);
        const uint32_t d2 = n.AddChunk(2, 1000, 100), d3 = n.AddChunk(3, 1000, 100), d4 = n.AddChunk(4, 2500, 100),
                       d5 = n.AddChunk(5, 10, 10), d6 = n.AddChunk(6, 10, 10);
        n.AddFile("a.exe", {d4, d2});
        n.AddFile("b.dat", {d3, d5});
        n.AddFile("c.txt", {d6});  // new: a release has at most one delta per file
        n.Deltas.push_back(ModelDelta{0, kOld, {}, baseSizeOfA, 0, 0, 50});
        n.Deltas.push_back(ModelDelta{1, kOld, {}, 1000, 0, 50, 50});
        n.Deltas.push_back(ModelDelta{0, kOld - 1, {}, 3000, 0, 100, 50});
        newBytes = n.Settle().Bytes();
        EXPECT_EQ(ParseReleaseManifest(oldBytes.data(), oldBytes.size(), &old), 1);
        EXPECT_EQ(ParseReleaseManifest(newBytes.data(), newBytes.size(), &next), 1);
        ContentStateHeader header = {};
        header.Release = kOld;
        header.FileCount = 2;
        header.ManifestSize = oldBytes.size();
        WriteContentState(header, stamps.data(), Collect, &stateBytes);
        EXPECT_EQ(ParseContentState(stateBytes.data(), stateBytes.size(), &state), 1);
    }

    static int Collect(void* context, const uint8_t* data, std::size_t length) {
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        out->insert(out->end(), data, data + length);
        return 1;
    }

    // The flags for what the survey found at the new files' paths, and the files it cut.
    std::vector<int> Marked(std::vector<ContentFileStamp> found, const std::vector<ContentCutFile>& cut = {},
                            bool haveOld = true) const {
        DeltaBaseInput in;
        in.NewRelease = &next;
        in.OldRelease = haveOld ? &old : nullptr;
        in.State = haveOld ? &state : nullptr;
        in.Found = found.data();
        in.CutFiles = cut.data();
        in.CutFileCount = static_cast<uint32_t>(cut.size());
        std::vector<uint8_t> flags(next.DeltaCount, 7);
        MarkDeltaBases(in, flags.data());
        return std::vector<int>(flags.begin(), flags.end());
    }
};

ContentCutChunk Cut(uint64_t offset, uint32_t length, uint32_t label) {
    ContentCutChunk c{offset, length, {}};
    const TestHash h = HashOf(label);
    std::copy(h.begin(), h.end(), c.Sha256);
    return c;
}

TEST(DeltaBase, TheInstalledFileUnchangedIsTheBaseOfItsReleasesDeltasOnly) {
    Releases r;
    EXPECT_EQ(r.Marked({{3000, 111}, {1000, 222}, {0, 0}}), (std::vector<int>{1, 1, 0}));
    // Touched since (another time), or missing: unknown, unless cut below.
    EXPECT_EQ(r.Marked({{3000, 112}, {0, 0}, {0, 0}}), (std::vector<int>{0, 0, 0}));
    // Nothing installed is known: no delta at all.
    EXPECT_EQ(r.Marked({{3000, 111}, {1000, 222}, {0, 0}}, {}, false), (std::vector<int>{0, 0, 0}));
}

TEST(DeltaBase, ACutFileIsTheBaseOnlyWhenItsChunksAreThatReleasesList) {
    Releases r;
    const std::vector<ContentCutChunk> same = {Cut(0, 2000, 1), Cut(2000, 1000, 2)};
    const std::vector<ContentCutChunk> edited = {Cut(0, 2000, 9), Cut(2000, 1000, 2)};
    const std::vector<ContentCutChunk> shorter = {Cut(0, 2000, 1)};
    auto cutAs = [](const std::vector<ContentCutChunk>& chunks, const char* path) {
        return std::vector<ContentCutFile>{{path, 5, chunks.data(), static_cast<uint32_t>(chunks.size())}};
    };
    const std::vector<ContentFileStamp> touched = {{3000, 999}, {0, 0}, {0, 0}};
    EXPECT_EQ(r.Marked(touched, cutAs(same, "A.EXE")), (std::vector<int>{1, 0, 0}));  // letter case as Windows
    EXPECT_EQ(r.Marked(touched, cutAs(edited, "a.exe")), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(r.Marked({{2000, 999}, {0, 0}, {0, 0}}, cutAs(shorter, "a.exe")), (std::vector<int>{0, 0, 0}));
}

TEST(DeltaBase, ADeltaNamingAnotherBaseSizeIsNotTaken) {
    Releases r(2999);  // the publisher's base is not the file the installed release lists
    EXPECT_EQ(r.Marked({{3000, 111}, {1000, 222}, {0, 0}}), (std::vector<int>{0, 1, 0}));
}

}  // namespace
