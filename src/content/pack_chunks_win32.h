// Chunks from their packs on the server, through the content mirrors: the last source behind
// the cache and the local files, and the one check every fetched chunk passes before the cache
// keeps it.
#pragma once

#include <cstdint>

#include "common/srw_lock_win32.h"
#include "content/chunk_source.h"
#include "content/run_parts.h"
#include "content_fetch/fetch_watch.h"

// Decodes frame (the chunk's stored bytes, as fetched) into raw and checks it against the
// chunk's name; only then appends the record to index.Cache and notes index.FrameAt[chunk].
// lock, when several threads fetch, is held for the append. 1; 0 when the frame is not the
// chunk (nothing kept: another try may bring it whole); -1 when the cache refused it
// (index.Cache.LastError(), read under lock).
int KeepFetchedChunk(const ReleaseManifest& release, CacheIndex& index, SrwLock* lock, ChunkDecoder& decoder,
                     uint32_t chunk, const uint8_t* frame, uint8_t* raw);

// Whether frame decodes to the chunk's name (nothing kept): a fetched frame is checked once.
int FetchedChunkDecodes(const ReleaseManifest& release, ChunkDecoder& decoder, uint32_t chunk, const uint8_t* frame,
                        uint8_t* raw);

class PackChunks : public ChunkSource {
public:
    PackChunks(const ContentLink& link, const ReleaseManifest& release, CacheIndex& index, ChunkBuffers& buffers,
               FetchWatch& watch)
        : link_(link), release_(release), index_(index), buffers_(buffers), watch_(watch) {}
    // Fetches the chunk on its own (its retries and mirrors as any request's), keeps it in the
    // cache, and puts its bytes in raw.
    int Take(uint32_t chunk, const ContentChunkSource& where, uint8_t* raw) override;

private:
    const ContentLink& link_;
    const ReleaseManifest& release_;
    CacheIndex& index_;
    ChunkBuffers& buffers_;
    FetchWatch& watch_;
};
