// A decoded chunk checked against its name with the system's SHA-256 (update/signature_win32.h).
#include "content/chunk_hash_win32.h"

#include <cstring>

#include "update/signature_win32.h"

int ChunkHashMatches(const void* data, std::size_t size, const uint8_t sha256[kSha256Size]) {
    uint8_t digest[kSha256Size];
    if (!Sha256Of(data, size, digest)) return 0;
    return std::memcmp(digest, sha256, kSha256Size) == 0 ? 1 : 0;
}

int DecodeCheckedChunk(ChunkDecoder& decoder, const void* stored, std::size_t storedSize, void* raw, uint32_t rawSize,
                       const uint8_t sha256[kSha256Size]) {
    const int decoded = DecodeChunk(decoder, stored, storedSize, raw, rawSize);
    if (decoded != kChunkDecoded) return decoded;
    return ChunkHashMatches(raw, rawSize, sha256) ? kChunkDecoded : kChunkHashDiffers;
}
