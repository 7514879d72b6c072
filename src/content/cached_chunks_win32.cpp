// The cache as a chunk source: frames this run fetched or an earlier run left, read back from
// content.cache and decoded, with the packs behind it for what it does not hold whole.
#include "content/cached_chunks_win32.h"

#include <windows.h>

#include "common/failure_trace.h"
#include "content_format/cache_record.h"
#include "content_format/chunk_check_win32.h"
#include "content_format/chunk_decode.h"

int CachedChunks::Take(uint32_t chunk, const ContentChunkSource& where, uint8_t* raw) {
    const ReleaseChunk c = ReleaseChunkAt(release_, chunk);
    uint8_t* frame = buffers_.Frame.get();
    if (ContentChunkFetched(plan_, chunk)) {
        // Its frame was decoded and checked against its name as it arrived, and the cache is
        // this run's own file, which nothing else may write while the worker holds it open.
        return index_.Cache.ReadFrame(index_.FrameAt[chunk], CacheRecordOf(c), frame) &&
                       DecodeChunk(buffers_.Decoder, frame, c.StoredSize, raw, c.RawSize) == kChunkDecoded
                   ? 1
                   : 0;
    }
    if (ContentChunkHeld(plan_, chunk)) {
        // Written by an earlier run: the file may have been changed on disk since.
        if (index_.Cache.ReadFrame(index_.FrameAt[chunk], CacheRecordOf(c), frame) &&
            DecodeStoredChunk(buffers_.Decoder, frame, c, raw))
            return 1;
        TraceFailure("content chunk", "cache", "changed since kept", ERROR_INVALID_DATA);
    }
    return behind_.Take(chunk, where, raw);
}
