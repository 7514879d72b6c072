// Chunks checked against their names with the system's SHA-256 (update/signature_win32.h).
#include "content_format/chunk_check_win32.h"

#include <zstd.h>

#include <cstring>

#include "update/signature_win32.h"

std::size_t StoredChunkBound(uint32_t rawSize) { return ZSTD_COMPRESSBOUND(static_cast<std::size_t>(rawSize)); }

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

int DecodeStoredChunk(ChunkDecoder& decoder, const uint8_t* stored, const ReleaseChunk& chunk, uint8_t* raw) {
    if (chunk.StoredSize > StoredChunkBound(chunk.RawSize)) return 0;
    return DecodeCheckedChunk(decoder, stored, chunk.StoredSize, raw, chunk.RawSize, chunk.Sha256) == kChunkDecoded;
}
