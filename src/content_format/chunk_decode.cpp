// Decoding one stored chunk with zstd's one-shot decoder, after checking its frame header.
#include "content_format/chunk_decode.h"

#include "content_format/content_chunker.h"

// The frame-header calls are zstd's "static linking only" part, tied to the release built
// against; every build takes the same release from Debian (cmake/zstd.cmake).
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

static_assert((1u << kChunkWindowLogMax) == kChunkSizeLimit, "the window limit is the largest chunk");

ChunkDecoder::ChunkDecoder() : context_(ZSTD_createDCtx()) {
    // One-shot decoding writes straight into the caller's buffer and never allocates a window;
    // the limit also holds should this context ever decode a stream.
    if (context_) ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, kChunkWindowLogMax);
}

ChunkDecoder::~ChunkDecoder() { ZSTD_freeDCtx(context_); }

ChunkDecoder::ChunkDecoder(ChunkDecoder&& other) noexcept : context_(other.context_) { other.context_ = nullptr; }

ChunkDecoder& ChunkDecoder::operator=(ChunkDecoder&& other) noexcept {
    if (this != &other) {
        ZSTD_freeDCtx(context_);
        context_ = other.context_;
        other.context_ = nullptr;
    }
    return *this;
}

namespace {

// What the frame's header promises, checked before a byte is decoded.
int CheckFrameHeader(const void* stored, std::size_t storedSize, uint32_t rawSize) {
    ZSTD_frameHeader header;
    // A positive result is the header's length when storedSize does not even hold it.
    const std::size_t headerResult = ZSTD_getFrameHeader(&header, stored, storedSize);
    if (ZSTD_isError(headerResult) || headerResult != 0) return kChunkNotOneFrame;
    // zstd's one-shot decoder passes over skippable frames: a chunk is never one.
    if (header.frameType != ZSTD_frame) return kChunkNotOneFrame;
    if (header.frameContentSize != rawSize) return kChunkSizeDiffers;
    if (header.windowSize > (1ull << kChunkWindowLogMax)) return kChunkWindowTooLarge;
    // The frame must end exactly where the stored chunk does: the one-shot decoder would go
    // on into a second frame, and bytes past the frame belong to no chunk.
    const std::size_t frameSize = ZSTD_findFrameCompressedSize(stored, storedSize);
    if (ZSTD_isError(frameSize) || frameSize != storedSize) return kChunkNotOneFrame;
    return kChunkDecoded;
}

}  // namespace

int DecodeChunk(ChunkDecoder& decoder, const void* stored, std::size_t storedSize, void* raw, uint32_t rawSize) {
    if (!decoder.Good()) return kChunkNoDecoder;
    if (rawSize == 0 || rawSize > kChunkSizeLimit) return kChunkSizeDiffers;
    const int header = CheckFrameHeader(stored, storedSize, rawSize);
    if (header != kChunkDecoded) return header;
    const std::size_t decoded = ZSTD_decompressDCtx(decoder.Context(), raw, rawSize, stored, storedSize);
    if (ZSTD_isError(decoded)) return kChunkCorrupt;
    return decoded == rawSize ? kChunkDecoded : kChunkSizeDiffers;
}
