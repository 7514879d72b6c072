// The memory a content run sizes by its release's counts.
#include "content_plan/memory_need.h"

#include "content_plan/content_plan.h"

namespace {

// The plan's 33 bytes per chunk, the cache index's 9 (where each frame is, whether an earlier run
// holds it), a request piece's share and the lookups around them, rounded up.
constexpr uint64_t kPerChunk = 64;
// The plan's 21 bytes per file, 6 per old file, 4 per local file, the two stamps (survey and
// build) of 16 each, the survey's path copy of a file it cuts and a deletion's bookkeeping.
constexpr uint64_t kPerFile = 128 + kReleaseMaxPathLength;
// The chunks the survey lists for a file it checks against its own list.
constexpr uint64_t kPerReference = sizeof(ContentCutChunk);

}  // namespace

uint64_t ContentMemoryNeed(const ReleaseManifest& release, uint64_t manifestSize, uint32_t threads) {
    const uint64_t chunk = release.ChunkMax;
    // One raw chunk and one stored frame (zstd's bound is a little over the raw size) a thread.
    const uint64_t buffers = (uint64_t{threads} + 1) * (2 * chunk + (chunk >> 7) + 1024);
    return kPerChunk * release.ChunkCount + kPerFile * release.FileCount + kPerReference * release.ReferenceCount +
           2 * manifestSize + buffers + kContentSaveBound;
}

bool ContentMemoryFits(const ReleaseManifest& release, uint64_t manifestSize, uint32_t threads) {
    return ContentMemoryNeed(release, manifestSize, threads) <= kContentMemoryBound;
}
