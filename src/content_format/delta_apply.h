// Applying a binary delta (one zstd frame written with --patch-from) against its base, held
// whole in memory as zstd's prefix. The output is never gathered whole: it comes out in the new
// file's pieces (its chunks, in order), each handed on as soon as it is complete, so that the
// caller checks it against its name and writes it before the next one is decoded.
#pragma once

#include <cstddef>
#include <cstdint>

// The memory a delta may take to apply (its base, the decoder's window and context) unless the
// caller says otherwise: above it the file takes its chunks. A 32-bit launcher's address space is
// 2 GiB and fragmented; this leaves room for everything else it holds.
constexpr uint64_t kDeltaMemoryLimit = 256ull * 1024 * 1024;

// The bytes of a delta's start that always hold its frame header.
constexpr std::size_t kDeltaHeadSize = 18;

// What DeltaMemoryNeed and ApplyDelta found.
constexpr int kDeltaApplied = 0;
constexpr int kDeltaNotOneFrame = 1;     // not exactly one whole zstd frame (a skippable one, a
                                         // second frame, bytes after it, a truncated one)
constexpr int kDeltaSizeDiffers = 2;     // content size missing, or not the new file's, or so decoded
constexpr int kDeltaTooLarge = 3;        // its base and window need more memory than allowed
constexpr int kDeltaNoMemory = 4;        // an allocation failed
constexpr int kDeltaCorrupt = 5;         // zstd refused its contents (a wrong base included, mostly)
constexpr int kDeltaReadFailed = 6;      // the source could not give its next bytes
constexpr int kDeltaPieceRefused = 7;    // the caller refused a piece (it is not the chunk named)

// The memory applying a delta takes, from the first min(kDeltaHeadSize, its size) bytes of it:
// the base, the part of the window the decoder keeps beside it (never more than the new file)
// and its context. kDeltaApplied and *need, or a refusal of the header (kDeltaNotOneFrame,
// kDeltaSizeDiffers when it does not declare fileSize, kDeltaTooLarge for a window above
// what this build's zstd decodes).
int DeltaMemoryNeed(const uint8_t* head, std::size_t headSize, uint64_t baseSize, uint64_t fileSize, uint64_t* need);

// The delta's bytes, read in order: Read fills exactly size bytes, 1, or returns 0.
struct DeltaSource {
    int (*Read)(void* context, uint8_t* data, uint32_t size);
    void* Context;
    uint64_t Size;
};

// The new file's pieces: Count of them, piece i of SizeOf(i) bytes (1 up to BufferSize), their
// sizes adding up to the file's. Take gets each one whole in Buffer and returns 1 to go on.
struct DeltaPieces {
    uint32_t Count;
    uint32_t (*SizeOf)(void* context, uint32_t piece);
    int (*Take)(void* context, uint32_t piece, const uint8_t* data, uint32_t size);
    void* Context;
    uint8_t* Buffer;
    uint32_t BufferSize;
};

// Decodes the delta against base into the pieces of a file of fileSize bytes. kDeltaApplied only
// when every piece was taken and the frame ended exactly at the delta's end; otherwise one of the
// refusals above, and the pieces taken so far are to be thrown away. Refuses a delta whose need
// (DeltaMemoryNeed) is above memoryLimit before decoding a byte. Its own memory is the decoder's
// context and window and one 64 KiB read buffer, all freed before it returns.
int ApplyDelta(const uint8_t* base, std::size_t baseSize, const DeltaSource& delta, uint64_t fileSize,
               const DeltaPieces& pieces, uint64_t memoryLimit);
