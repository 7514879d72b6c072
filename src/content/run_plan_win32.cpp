// The chunks an earlier run left in content.cache (killed, failed, or out of disk): each whole
// record naming a chunk of the new release spares its fetch.
#include <cstring>

#include "content/content_cache_win32.h"
#include "content/content_run.h"
#include "content/stored_chunk_win32.h"

namespace {

struct HeldScan {
    ContentRun* Run;
    uint32_t Found;
    uint64_t End;  // where the last whole record ends
};

void NoteHeld(void* context, const CacheRecordHeader& header, uint64_t frameAt) {
    HeldScan& scan = *static_cast<HeldScan*>(context);
    ContentRun& run = *scan.Run;
    scan.End = frameAt + header.StoredSize;
    uint32_t chunk = 0;
    if (!FindReleaseChunk(run.NewRelease, header.Sha256, &chunk)) return;
    const ReleaseChunk c = ReleaseChunkAt(run.NewRelease, chunk);
    if (c.RawSize != header.RawSize || c.StoredSize != header.StoredSize || c.StoredSize > StoredChunkBound(c.RawSize))
        return;
    // A later record of the same chunk is a fetch on its own after this one failed: it wins.
    if (!run.Held[chunk]) ++scan.Found;
    run.Held[chunk] = 1;
    run.FrameAt[chunk] = frameAt;
}

}  // namespace

void ReadHeldChunks(ContentRun& run) {
    run.Held.assign(run.NewRelease.ChunkCount, 0);
    HeldScan scan = {&run, 0, 0};
    const int64_t records = ScanContentCache(L"content.cache", NoteHeld, &scan);
    // A cache of nothing this release lists is started over: its bytes are freed for this run.
    run.CacheKeep = records > 0 && scan.Found > 0 ? scan.End : 0;
}
