// Decoding one stored chunk: exactly one zstd frame back into exactly the chunk's raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>

struct ZSTD_DCtx_s;  // zstd's decoding context, kept opaque so that callers need no <zstd.h>

// One worker's zstd decoding context. Create one per worker thread, once, and decode every
// chunk that worker handles with it: it owns its context (about 96 KB, independent of the
// chunks), frees it when destroyed, and is move-only. It must not be used by two threads at once.
// Good() is false when the context could not be allocated; DecodeChunk then refuses every chunk.
class ChunkDecoder {
public:
    ChunkDecoder();
    ~ChunkDecoder();
    ChunkDecoder(ChunkDecoder&& other) noexcept;
    ChunkDecoder& operator=(ChunkDecoder&& other) noexcept;
    ChunkDecoder(const ChunkDecoder&) = delete;
    ChunkDecoder& operator=(const ChunkDecoder&) = delete;

    bool Good() const { return context_ != nullptr; }
    ZSTD_DCtx_s* Context() const { return context_; }

private:
    ZSTD_DCtx_s* context_;
};

// The largest window a chunk's frame may declare: a chunk is at most 4 MiB, and a frame of
// known content size never needs a window above it.
constexpr int kChunkWindowLogMax = 22;

// What DecodeChunk found.
constexpr int kChunkDecoded = 0;
constexpr int kChunkNotOneFrame = 1;       // not exactly one whole zstd frame of storedSize bytes
constexpr int kChunkSizeDiffers = 2;       // declared content size missing or not rawSize, or so decoded
constexpr int kChunkWindowTooLarge = 3;    // asks for a window above 2^kChunkWindowLogMax
constexpr int kChunkCorrupt = 4;           // zstd refused its contents
constexpr int kChunkNoDecoder = 5;         // the decoder has no context
constexpr int kChunkHashDiffers = 6;       // decoded, but its SHA-256 is not its name (chunk_hash_win32.h)

// Decodes the storedSize bytes at stored, which must be one zstd frame with its content size
// in its header, into raw, exactly rawSize bytes (1 to 4 MiB; the chunk's size from the release
// manifest). Returns kChunkDecoded, or one of the refusals above; raw's bytes are then
// unspecified. Uses no memory beyond the decoder's context and raw, whatever the frame says.
int DecodeChunk(ChunkDecoder& decoder, const void* stored, std::size_t storedSize, void* raw, uint32_t rawSize);
