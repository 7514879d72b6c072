// The memory a run sizes by its release's signed counts: a release as large as the format
// allows is refused by a 32-bit build before anything is allocated, a large real game is not.
#include <gtest/gtest.h>

#include "content_plan/memory_need.h"

namespace {

constexpr uint64_t k32BitBound = 768ull << 20;

ReleaseManifest Counts(uint32_t chunks, uint32_t files, uint32_t references, uint32_t chunkMax) {
    ReleaseManifest m;
    m.ChunkCount = chunks;
    m.FileCount = files;
    m.ReferenceCount = references;
    m.ChunkMax = chunkMax;
    return m;
}

TEST(MemoryNeed, TheFormatsLargestReleaseIsTooLargeForA32BitLauncher) {
    const ReleaseManifest most = Counts(kReleaseMaxChunks, kReleaseMaxFiles, kReleaseMaxReferences, 1u << 20);
    EXPECT_GT(ContentMemoryNeed(most, kReleaseMaxBytes, 6), k32BitBound);
    // 64 Mi references alone: the survey's 48 bytes each were 3 GiB.
    EXPECT_GT(ContentMemoryNeed(Counts(1, 1, kReleaseMaxReferences, 1024), 1024, 6), k32BitBound);
    // A 64-bit launcher takes whatever the format allows.
    if (sizeof(void*) == 8) {
        EXPECT_TRUE(ContentMemoryFits(most, kReleaseMaxBytes, 6));
    }
}

TEST(MemoryNeed, AFiftyGigabyteGameFitsA32BitLauncher) {
    // 50 GB in 64 KiB chunks over 100,000 files, a 60 MB manifest.
    const ReleaseManifest game = Counts(800000, 100000, 820000, 256u << 10);
    EXPECT_LT(ContentMemoryNeed(game, 60u << 20, 6), k32BitBound / 2);
    EXPECT_TRUE(ContentMemoryFits(game, 60u << 20, 6));
}

}  // namespace
