// The pieces of a content run that several steps take: the connection, the release being
// installed, one thread's decoding buffers, the cache with where it holds each chunk, and the
// build's count. Each step's header names the pieces it takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/win32_handle.h"
#include "content/content_cache_win32.h"
#include "content_format/chunk_decode.h"
#include "content_format/content_release.h"

// The run's connection to the patch base and the content mirrors.
struct ContentLink {
    InternetHandle Session;
    int Secure = 0;  // the patch base is https://
};

// The release this run installs, checked against the signed manifest before it was parsed.
struct NewRelease {
    uint32_t Version = 0;
    std::unique_ptr<uint8_t[]> Bytes;  // Length bytes, as published; Manifest points into them
    std::size_t Length = 0;
    ReleaseManifest Manifest;
};

// One thread's means to decode a chunk: a zstd context is never shared between threads.
struct ChunkBuffers {
    ChunkDecoder Decoder;
    std::unique_ptr<uint8_t[]> Raw;    // one chunk's bytes, ChunkMax
    std::unique_ptr<uint8_t[]> Frame;  // one stored chunk, StoredChunkBound(ChunkMax)
    // Sizes both buffers for chunks of at most chunkMax bytes. 1, or 0 when out of memory.
    int Make(uint32_t chunkMax);
};

// content.cache and where it holds each chunk of the new release.
struct CacheIndex {
    ContentCache Cache;
    std::unique_ptr<uint64_t[]> FrameAt;  // per new chunk: where the cache holds its frame
    std::vector<uint8_t> Held;            // per new chunk: a whole record an earlier run left
    uint64_t Keep = 0;                    // the bytes of the earlier cache kept (0: started over)
};

// The build's count, for the line and the bars.
struct BuildTally {
    uint64_t BytesDone = 0;
    uint32_t FilesBuilt = 0;  // of Plan.Totals.FilesToBuild
};
