// A release chunk decoded and checked through the shared chunk decoder, and the frame buffer it needs.
#include "content/stored_chunk_win32.h"

#include <zstd.h>

#include <cstring>

#include "content/chunk_hash_win32.h"
#include "update/signature_win32.h"

std::size_t StoredChunkBound(uint32_t rawSize) { return ZSTD_COMPRESSBOUND(static_cast<std::size_t>(rawSize)); }

int BytesMatchChunk(const uint8_t* data, std::size_t size, const uint8_t* sha256) {
    uint8_t digest[kSha256Size];
    return Sha256Of(data, size, digest) && std::memcmp(digest, sha256, kSha256Size) == 0;
}

int DecodeStoredChunk(ChunkDecoder& decoder, const uint8_t* stored, const ReleaseChunk& chunk, uint8_t* raw) {
    if (chunk.StoredSize > StoredChunkBound(chunk.RawSize)) return 0;
    return DecodeCheckedChunk(decoder, stored, chunk.StoredSize, raw, chunk.RawSize, chunk.Sha256) == kChunkDecoded;
}
