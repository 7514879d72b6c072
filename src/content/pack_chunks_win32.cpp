// Chunks from their packs: the check every fetched frame passes before the cache keeps it, one
// chunk fetched on its own while files are built, and a thread's decoding buffers.
#include "content/pack_chunks_win32.h"

#include <windows.h>

#include <new>

#include "common/failure_trace.h"
#include "content_fetch/mirrored_request_win32.h"
#include "content_format/cache_record.h"
#include "content_format/chunk_check_win32.h"

int ChunkBuffers::Make(uint32_t chunkMax) {
    Raw.reset(new (std::nothrow) uint8_t[chunkMax]);
    Frame.reset(new (std::nothrow) uint8_t[StoredChunkBound(chunkMax)]);
    return Raw && Frame && Decoder.Good() ? 1 : 0;
}

int FetchedChunkDecodes(const ReleaseManifest& release, ChunkDecoder& decoder, uint32_t chunk, const uint8_t* frame,
                        uint8_t* raw) {
    if (DecodeStoredChunk(decoder, frame, ReleaseChunkAt(release, chunk), raw)) return 1;
    TraceFailure("content chunk", "check", "stored chunk", ERROR_INVALID_DATA);
    return 0;
}

namespace {

// The cache is one file appended to by every fetching thread: lock is held for each record
// (null when one thread alone fetches). FrameAt[chunk] is this chunk's alone.
int AppendChunk(const ReleaseManifest& release, CacheIndex& index, SrwLock* lock, uint32_t chunk,
                const uint8_t* frame) {
    const CacheRecordHeader header = CacheRecordOf(ReleaseChunkAt(release, chunk));
    if (!lock) return index.Cache.Append(header, frame, &index.FrameAt[chunk]) && index.Cache.FlushWhenDue() ? 1 : 0;
    LockHeld held(*lock);
    return index.Cache.Append(header, frame, &index.FrameAt[chunk]) && index.Cache.FlushWhenDue() ? 1 : 0;
}

struct ChunkTry {
    const ContentLink* Link;
    const ReleaseManifest* Release;
    ChunkBuffers* Buffers;
    uint32_t Chunk;
    const char* Path;
    uint8_t* Raw;
};

int TryChunk(void* context, const char* url, ContentTry* failure) {
    const ChunkTry& t = *static_cast<const ChunkTry*>(context);
    const ReleaseChunk c = ReleaseChunkAt(*t.Release, t.Chunk);
    uint8_t* frame = t.Buffers->Frame.get();
    if (!FetchRangeInto(t.Link->Session.Get(), t.Link->Secure, t.Path, url, c.Offset, c.StoredSize, frame, failure))
        return 0;
    if (FetchedChunkDecodes(*t.Release, t.Buffers->Decoder, t.Chunk, frame, t.Raw)) return 1;
    *failure = ContentTry{kFailChunk, 0, 0};
    return 0;
}

}  // namespace

int KeepFetchedChunk(const ReleaseManifest& release, CacheIndex& index, SrwLock* lock, ChunkDecoder& decoder,
                     uint32_t chunk, const uint8_t* frame, uint8_t* raw) {
    if (!FetchedChunkDecodes(release, decoder, chunk, frame, raw)) return 0;
    return AppendChunk(release, index, lock, chunk, frame) ? 1 : -1;
}

// The frame is checked inside the try, so that a mirror serving a bad chunk gives way to the
// next; the cache keeps it once the request is over.
int PackChunks::Take(uint32_t chunk, const ContentChunkSource&, uint8_t* raw) {
    const ReleaseChunk c = ReleaseChunkAt(release_, chunk);
    char path[64];
    if (c.StoredSize > StoredChunkBound(c.RawSize) || !PackPathOf(ReleasePackAt(release_, c.Pack), path, sizeof path))
        return 0;
    ChunkTry attempt = {&link_, &release_, &buffers_, chunk, path, raw};
    ContentTry last;
    if (!TryMirroredRequest(path, TryChunk, &attempt, watch_, &last)) return 0;
    return AppendChunk(release_, index_, nullptr, chunk, buffers_.Frame.get());
}
