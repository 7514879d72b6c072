// The disk space a content update takes, from its plan: a table of folders and releases with
// the cache, build peak and total each must come to, then the megabytes and the full-disk codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content_format/content_release.h"
#include "content_plan/content_plan.h"
#include "content_plan/disk_need.h"
#include "support/release_builder.h"

namespace {

constexpr uint64_t K = 4096;

struct NeedFile {
    std::string path;
    std::vector<uint32_t> labels;  // chunk labels: label L is L * 10000 bytes raw, 1000 stored
};

std::vector<uint8_t> ReleaseBytes(uint32_t release, const std::vector<NeedFile>& files) {
    ReleaseModel m;
    m.Release = release;
    m.AddPack(release, 0);
    std::vector<uint32_t> labels;
    for (const NeedFile& f : files) {
        std::vector<uint32_t> chunks;
        for (uint32_t label : f.labels) {
            uint32_t index = 0;
            while (index < labels.size() && labels[index] != label) ++index;
            if (index == labels.size()) {
                m.AddChunk(label, label * 10000, 1000, 0);
                labels.push_back(label);
            }
            chunks.push_back(index);
        }
        m.AddFile(f.path, chunks);
    }
    return m.Settle().Bytes();
}

struct NeedCase {
    const char* name;
    std::vector<NeedFile> old;     // empty: no installed release known
    std::vector<NeedFile> next;
    std::vector<NeedFile> cut;     // local files cut whole (no installed release then)
    uint64_t cluster;
    uint64_t cache, build, stays;  // stays: what the built files add once in place
    std::vector<uint32_t> held = {};  // labels an earlier run's cache holds
};

// The kept files of a case: its manifest rounded, and the state of its file count.
uint64_t KeptOf(std::size_t manifest, uint32_t files, uint64_t cluster) {
    const auto round = [cluster](uint64_t b) { return (b + cluster - 1) / cluster * cluster; };
    return round(manifest) + round(8 + 56 + 16 * uint64_t{files});
}

ContentDiskNeed NeedOf(const NeedCase& c, uint64_t* kept) {
    const std::vector<uint8_t> nextBytes = ReleaseBytes(2, c.next);
    ReleaseManifest next, old;
    EXPECT_EQ(1, ParseReleaseManifest(nextBytes.data(), nextBytes.size(), &next)) << c.name;
    std::vector<uint8_t> oldBytes;
    std::vector<uint8_t> vouched;
    if (!c.old.empty()) {
        oldBytes = ReleaseBytes(1, c.old);
        EXPECT_EQ(1, ParseReleaseManifest(oldBytes.data(), oldBytes.size(), &old)) << c.name;
        vouched.assign(old.FileCount, 1);
    }
    std::vector<std::vector<ContentCutChunk>> chunks;
    std::vector<ContentCutFile> cut;
    for (const NeedFile& f : c.cut) {
        chunks.emplace_back();
        uint64_t at = 0;
        for (uint32_t label : f.labels) {
            ContentCutChunk chunk = {at, label * 10000, {}};
            const TestHash hash = HashOf(label);
            std::copy(hash.begin(), hash.end(), chunk.Sha256);
            chunks.back().push_back(chunk);
            at += chunk.Length;
        }
    }
    for (std::size_t k = 0; k < c.cut.size(); ++k)
        cut.push_back({c.cut[k].path.data(), c.cut[k].path.size(), chunks[k].data(), static_cast<uint32_t>(chunks[k].size())});
    ContentPlanInput input;
    input.NewRelease = &next;
    input.OldRelease = c.old.empty() ? nullptr : &old;
    input.OldVouched = c.old.empty() ? nullptr : vouched.data();
    input.CutFiles = cut.data();
    input.CutFileCount = static_cast<uint32_t>(cut.size());
    std::vector<uint8_t> held(next.ChunkCount, 0);
    for (uint32_t label : c.held) {
        uint32_t chunk = 0;
        EXPECT_TRUE(FindReleaseChunk(next, HashOf(label).data(), &chunk)) << c.name;
        held[chunk] = 1;
    }
    input.Held = held.data();
    ContentPlan plan;
    EXPECT_EQ(1, MakeContentPlan(input, &plan)) << c.name;
    *kept = KeptOf(nextBytes.size(), next.FileCount, c.cluster ? c.cluster : kContentDiskCluster);
    return ContentDiskNeedOf(plan, nextBytes.size(), c.cluster);
}

// Sizes in 4 KiB clusters: label L is L * 10000 bytes. The cache holds 8 bytes of magic, then
// 48 and 1000 bytes per fetched chunk: one cluster for up to four chunks.
const NeedCase kCases[] = {
    // Nothing installed: both files (30000 bytes, 8 clusters each) are fetched and stay.
    {"from nothing", {}, {{"a.bin", {1, 2}}, {"b.bin", {3}}}, {}, 0, K, 16 * K, 16 * K},
    // 30000 bytes grown to 40000: the partial stands beside the old file until it replaces it.
    {"replaced in place", {{"a.bin", {3}}}, {{"a.bin", {4}}}, {}, 0, K, 10 * K, 2 * K},
    // The same release: nothing fetched, nothing built; the cache is its magic alone.
    {"nothing to do", {{"a.bin", {1}}}, {{"a.bin", {1}}}, {}, 0, K, 0, 0},
    // A 90000-byte file made 10000 frees more than the 50000-byte file after it takes.
    {"shrunk then added", {{"a.bin", {9}}}, {{"a.bin", {1}}, {"b.bin", {5}}}, {}, 0, K, 3 * K, 0},
    // A local file nobody vouches for (70000 bytes), cut whole, replaced by 80000 at its path.
    {"cut file replaced", {}, {{"a.bin", {2, 6}}}, {{"a.bin", {2, 5}}}, 0, K, 20 * K, 2 * K},
    // A disk with 64 KiB clusters: every file takes a whole one at least.
    {"large clusters", {}, {{"a.bin", {1}}, {"b.bin", {1}}}, {}, 65536, 65536, 2 * 65536, 2 * 65536},
    // Eight chunks (360000 bytes, 88 clusters) take three clusters of cache; with five held by an
    // earlier run's cache, which stays, only the other three are written: one cluster.
    {"eight fetched", {}, {{"a.bin", {1, 2, 3, 4, 5, 6, 7, 8}}}, {}, 0, 3 * K, 88 * K, 88 * K},
    {"five of eight held", {}, {{"a.bin", {1, 2, 3, 4, 5, 6, 7, 8}}}, {}, 0, K, 88 * K, 88 * K, {1, 2, 3, 4, 5}},
};

TEST(ContentDiskNeed, TheCacheTheBuildPeakAndWhatStaysWithTheKeptFiles) {
    for (const NeedCase& c : kCases) {
        uint64_t kept = 0;
        const ContentDiskNeed need = NeedOf(c, &kept);
        EXPECT_EQ(c.cache, need.Cache) << c.name;
        EXPECT_EQ(c.build, need.Build) << c.name;
        EXPECT_EQ(kept, need.Kept) << c.name;
        const uint64_t after = c.stays + kept;
        EXPECT_EQ(c.cache + (c.build > after ? c.build : after), need.Total) << c.name;
    }
}

TEST(ContentDiskNeed, FreeSpacePlusTheReplacedCacheMustCoverIt) {
    ContentDiskNeed need;
    need.Total = 10 * K;
    EXPECT_TRUE(ContentDiskSuffices(need, 10 * K, 0));
    EXPECT_FALSE(ContentDiskSuffices(need, 10 * K - 1, 0));
    EXPECT_TRUE(ContentDiskSuffices(need, 6 * K, 4 * K));
    EXPECT_TRUE(ContentDiskSuffices(need, UINT64_MAX, UINT64_MAX));
    need.Total = UINT64_MAX;
    EXPECT_FALSE(ContentDiskSuffices(need, UINT64_MAX - 1, 0));
}

TEST(ContentDiskNeed, MegabytesRoundUpForANeedAndDownForFreeSpace) {
    const struct {
        uint64_t bytes;
        uint32_t needed, free;
    } rows[] = {{0, 0, 0}, {1, 1, 0}, {1048576, 1, 1}, {1048577, 2, 1}, {5 * 1048576 - 1, 5, 4},
                {uint64_t{1} << 62, UINT32_MAX, UINT32_MAX}};
    for (const auto& row : rows) {
        EXPECT_EQ(row.needed, MegabytesNeeded(row.bytes)) << row.bytes;
        EXPECT_EQ(row.free, MegabytesFree(row.bytes)) << row.bytes;
    }
}

TEST(ContentDiskNeed, OnlyTheFullDiskCodesCount) {
    EXPECT_TRUE(IsDiskFullCode(112));  // ERROR_DISK_FULL
    EXPECT_TRUE(IsDiskFullCode(39));   // ERROR_HANDLE_DISK_FULL
    for (unsigned long other : {0ul, 5ul, 32ul, 33ul, 1784ul}) EXPECT_FALSE(IsDiskFullCode(other)) << other;
}

}  // namespace
