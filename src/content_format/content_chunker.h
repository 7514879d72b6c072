// The content-defined chunker: where the chunks of a file end, found while its bytes stream past.
#pragma once

#include <cstddef>
#include <cstdint>

// The largest chunk any release may ask for, in bytes.
constexpr uint32_t kChunkSizeLimit = 4194304;
// The smallest minimum a release may ask for.
constexpr uint32_t kReleaseChunkMinLimit = 1024;
// The rolling hash covers this many bytes, so every minimum is at least as long.
constexpr uint32_t kChunkHashWindow = 64;

struct ChunkSizes {
    uint32_t min = 0;
    uint32_t avg = 0;
    uint32_t max = 0;
};

// 1 when the chunker can cut with these sizes: 64 <= min < avg < max <= kChunkSizeLimit, avg a
// power of two. (The shared test vectors use such small sizes.)
int ChunkSizesUsable(const ChunkSizes& sizes);
// 1 when a release manifest may carry these sizes: usable, and min at least kReleaseChunkMinLimit.
int ReleaseChunkSizesValid(const ChunkSizes& sizes);

// The cutting state of one file. It holds no bytes: only the rolling hash and the length of the
// chunk so far, so a file of any size is cut with a constant amount of memory, and the bytes may
// come in blocks of any size.
struct Chunker {
    ChunkSizes sizes;
    uint64_t strictMask = 0;  // the hash's top k + 2 bits (avg = 2^k), tested while length < avg
    uint64_t looseMask = 0;   // its top k - 2 bits, tested from avg on
    uint64_t hash = 0;
    uint32_t length = 0;  // bytes of the current chunk seen so far
};

// Prepares c for the start of a file. Returns 1, or 0 (and c unchanged) for sizes that are not
// usable.
int ChunkerStart(Chunker& c, const ChunkSizes& sizes);

// Takes bytes from data up to the end of the current chunk, at most size of them, and returns
// how many it took. *chunkEnded is 1 when the current chunk ends with the last byte taken (the
// next byte starts a new chunk), 0 when all size bytes belong to the chunk so far. Call again
// with the rest of the block until it is used up.
std::size_t ChunkerScan(Chunker& c, const uint8_t* data, std::size_t size, int* chunkEnded);

// At the end of the file: the length of its last chunk, which ends there (0 when the file ended
// at a chunk's end, or was empty). c is ready for the next file with the same sizes.
uint32_t ChunkerFinish(Chunker& c);
