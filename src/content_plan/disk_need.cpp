// ContentDiskNeedOf: the cache from the plan's fetched totals, the build as a walk over the
// files in the order the worker builds them.
#include "content_plan/disk_need.h"

#include "content_format/cache_record.h"
#include "content_format/local_state.h"

namespace {

uint64_t Rounded(uint64_t bytes, uint64_t cluster) {
    if (bytes == 0) return 0;
    const uint64_t units = bytes / cluster + (bytes % cluster ? 1 : 0);
    return units > UINT64_MAX / cluster ? UINT64_MAX : units * cluster;
}

// The bytes of the local file standing at new file n's path (an old file vouched for, or a cut
// file), or 0 when there is none.
uint64_t LocalSizeAt(const ContentPlan& plan, uint32_t n) {
    const uint32_t oldCount = plan.Input.OldRelease ? plan.Input.OldRelease->FileCount : 0;
    const uint32_t local = plan.LocalCopy[n];
    if (local < oldCount) return ReleaseFileAt(*plan.Input.OldRelease, local).Size;
    if (local - oldCount >= plan.Input.CutFileCount) return 0;
    const ContentCutFile& cut = plan.Input.CutFiles[local - oldCount];
    if (cut.ChunkCount == 0) return 0;
    const ContentCutChunk& last = cut.Chunks[cut.ChunkCount - 1];
    return last.Offset + last.Length;
}

}  // namespace

ContentDiskNeed ContentDiskNeedOf(const ContentPlan& plan, uint64_t manifestSize, uint64_t cluster) {
    ContentDiskNeed need;
    const ReleaseManifest* release = plan.Input.NewRelease;
    if (!release || !plan.LocalCopy) return need;
    if (cluster == 0) cluster = kContentDiskCluster;
    const ContentPlanTotals& t = plan.Totals;
    need.Cache = Rounded(kCacheMagicSize + uint64_t{t.ChunksFetched} * kCacheRecordHeaderSize + t.Ideal, cluster);
    // grown: what the files built so far added once in place (less, where they replaced
    // bigger ones); while file n is built its whole partial comes on top of it.
    int64_t grown = 0;
    int64_t peak = 0;
    for (uint32_t n = 0; n < release->FileCount; ++n) {
        if (ContentFileIsWhole(plan, n)) continue;
        const int64_t size = static_cast<int64_t>(Rounded(ReleaseFileAt(*release, n).Size, cluster));
        if (grown + size > peak) peak = grown + size;
        grown += size - static_cast<int64_t>(Rounded(LocalSizeAt(plan, n), cluster));
    }
    need.Build = static_cast<uint64_t>(peak);
    const uint64_t state = kContentStateMagicSize + kContentStateHeaderSize + uint64_t{release->FileCount} * kContentStampSize;
    need.Kept = Rounded(manifestSize, cluster) + Rounded(state, cluster);
    const uint64_t after = (grown > 0 ? static_cast<uint64_t>(grown) : 0) + need.Kept;
    need.Deltas = Rounded(t.DeltaBytes, cluster);
    need.Total = need.Cache + need.Deltas + (need.Build > after ? need.Build : after);
    return need;
}

bool ContentDiskSuffices(const ContentDiskNeed& need, uint64_t freeBytes, uint64_t reclaimable) {
    const uint64_t have = freeBytes > UINT64_MAX - reclaimable ? UINT64_MAX : freeBytes + reclaimable;
    return have >= need.Total;
}

uint32_t MegabytesNeeded(uint64_t bytes) {
    const uint64_t mib = (bytes >> 20) + ((bytes & 0xFFFFF) ? 1 : 0);
    return mib > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(mib);
}

uint32_t MegabytesFree(uint64_t bytes) {
    const uint64_t mib = bytes >> 20;
    return mib > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(mib);
}

// ERROR_HANDLE_DISK_FULL and ERROR_DISK_FULL (disk_space_win32.cpp checks the numbers).
bool IsDiskFullCode(unsigned long code) { return code == 39 || code == 112; }
