// Applying a delta with zstd's streaming decoder and its prefix: the decoder writes straight into
// the piece being gathered, so the only output buffer beside its own window is the caller's.
#include "content_format/delta_apply.h"

#include <new>

// The frame-header and sizing calls are zstd's "static linking only" part, tied to the release
// built against; every build takes the same release from Debian (cmake/zstd.cmake).
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

namespace {

constexpr uint32_t kReadSize = 64 * 1024;

// The smallest window log that covers windowSize, or 0 when this build cannot decode it.
int WindowLogOf(uint64_t windowSize) {
    int log = ZSTD_WINDOWLOG_MIN;
    while (log <= ZSTD_WINDOWLOG_MAX && (1ull << log) < windowSize) ++log;
    return log <= ZSTD_WINDOWLOG_MAX ? log : 0;
}

int ReadHeader(const uint8_t* head, std::size_t headSize, uint64_t fileSize, ZSTD_frameHeader* header) {
    // A positive result is the header's length when headSize does not even hold it.
    const std::size_t result = ZSTD_getFrameHeader(header, head, headSize);
    if (ZSTD_isError(result) || result != 0 || header->frameType != ZSTD_frame) return kDeltaNotOneFrame;
    if (header->frameContentSize != fileSize) return kDeltaSizeDiffers;
    return WindowLogOf(header->windowSize) ? kDeltaApplied : kDeltaTooLarge;
}

struct Context {
    ZSTD_DCtx* Get = ZSTD_createDCtx();
    ~Context() { ZSTD_freeDCtx(Get); }
};

struct Buffer {
    uint8_t* Get = new (std::nothrow) uint8_t[kReadSize];
    ~Buffer() { delete[] Get; }
};

int ErrorOf(std::size_t result) {
    switch (ZSTD_getErrorCode(result)) {
    case ZSTD_error_memory_allocation:
        return kDeltaNoMemory;
    case ZSTD_error_frameParameter_windowTooLarge:
        return kDeltaTooLarge;
    default:
        return kDeltaCorrupt;
    }
}

// Where the decoding stands: the piece being gathered and the delta's bytes not yet read.
struct Walk {
    const DeltaSource* Delta;
    const DeltaPieces* Pieces;
    ZSTD_inBuffer In;
    uint8_t* Read;
    uint64_t Left;
    uint32_t Piece = 0;
    uint32_t Have = 0;
    uint32_t Want = 0;
};

int NextPiece(Walk& w) {
    const DeltaPieces& p = *w.Pieces;
    w.Have = 0;
    w.Want = 0;
    if (w.Piece >= p.Count) return kDeltaApplied;
    w.Want = p.SizeOf(p.Context, w.Piece);
    return w.Want == 0 || w.Want > p.BufferSize ? kDeltaSizeDiffers : kDeltaApplied;
}

int Refill(Walk& w) {
    if (w.In.pos < w.In.size || w.Left == 0) return kDeltaApplied;
    const uint32_t n = w.Left < kReadSize ? static_cast<uint32_t>(w.Left) : kReadSize;
    if (!w.Delta->Read(w.Delta->Context, w.Read, n)) return kDeltaReadFailed;
    w.In = ZSTD_inBuffer{w.Read, n, 0};
    w.Left -= n;
    return kDeltaApplied;
}

// Decodes until the frame ends; every piece completed on the way is taken.
int Decode(ZSTD_DCtx* context, Walk& w) {
    const DeltaPieces& p = *w.Pieces;
    uint8_t spare;  // once every piece is taken: any further byte is one too many
    for (;;) {
        int step = Refill(w);
        if (step != kDeltaApplied) return step;
        const bool inPieces = w.Piece < p.Count;
        ZSTD_outBuffer out = inPieces ? ZSTD_outBuffer{p.Buffer + w.Have, w.Want - w.Have, 0} : ZSTD_outBuffer{&spare, 1, 0};
        const std::size_t before = w.In.pos;
        const std::size_t result = ZSTD_decompressStream(context, &out, &w.In);
        if (ZSTD_isError(result)) return ErrorOf(result);
        if (!inPieces && out.pos) return kDeltaSizeDiffers;
        w.Have += static_cast<uint32_t>(out.pos);
        if (inPieces && w.Have == w.Want) {
            if (!p.Take(p.Context, w.Piece, p.Buffer, w.Want)) return kDeltaPieceRefused;
            ++w.Piece;
            if ((step = NextPiece(w)) != kDeltaApplied) return step;
        }
        if (result == 0) return w.Piece == p.Count ? kDeltaApplied : kDeltaSizeDiffers;
        // Nothing read, nothing written and nothing left to read: the frame was cut short.
        if (w.In.pos == before && out.pos == 0 && w.In.pos == w.In.size && w.Left == 0) return kDeltaNotOneFrame;
    }
}

}  // namespace

int DeltaMemoryNeed(const uint8_t* head, std::size_t headSize, uint64_t baseSize, uint64_t fileSize, uint64_t* need) {
    ZSTD_frameHeader header;
    const int read = ReadHeader(head, headSize, fileSize, &header);
    if (read != kDeltaApplied) return read;
    // The decoder keeps no more of its window than the frame's content; its input buffer is one block.
    *need = baseSize + ZSTD_decodingBufferSize_min(header.windowSize, header.frameContentSize) +
            ZSTD_BLOCKSIZE_MAX + ZSTD_estimateDCtxSize() + kReadSize;
    return kDeltaApplied;
}

int ApplyDelta(const uint8_t* base, std::size_t baseSize, const DeltaSource& delta, uint64_t fileSize,
               const DeltaPieces& pieces, uint64_t memoryLimit) {
    Buffer read;
    if (!read.Get) return kDeltaNoMemory;
    Walk w{&delta, &pieces, ZSTD_inBuffer{read.Get, 0, 0}, read.Get, delta.Size};
    int step = Refill(w);
    if (step != kDeltaApplied) return step;
    ZSTD_frameHeader header;
    uint64_t need = 0;
    if ((step = DeltaMemoryNeed(read.Get, w.In.size, baseSize, fileSize, &need)) != kDeltaApplied) return step;
    if (need > memoryLimit) return kDeltaTooLarge;
    ReadHeader(read.Get, w.In.size, fileSize, &header);
    Context context;
    if (!context.Get) return kDeltaNoMemory;
    if (ZSTD_isError(ZSTD_DCtx_setParameter(context.Get, ZSTD_d_windowLogMax, WindowLogOf(header.windowSize))) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(context.Get, base, baseSize)))
        return kDeltaNoMemory;
    if ((step = NextPiece(w)) != kDeltaApplied) return step;
    if ((step = Decode(context.Get, w)) != kDeltaApplied) return step;
    // The frame ended: bytes after it would be a second frame, which no delta is.
    return w.In.pos == w.In.size && w.Left == 0 ? kDeltaApplied : kDeltaNotOneFrame;
}
