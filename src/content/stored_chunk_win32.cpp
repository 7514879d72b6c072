// DecodeStoredChunk: zstd's one-shot decoder behind the frame's own size checks, then BCrypt.
#include "content/stored_chunk_win32.h"

#include <zstd.h>

#include <cstring>

#include "update/signature_win32.h"

std::size_t StoredChunkBound(uint32_t rawSize) { return ZSTD_COMPRESSBOUND(static_cast<std::size_t>(rawSize)); }

int BytesMatchChunk(const uint8_t* data, std::size_t size, const uint8_t* sha256) {
    uint8_t digest[kSha256Size];
    return Sha256Of(data, size, digest) && std::memcmp(digest, sha256, kSha256Size) == 0;
}

int DecodeStoredChunk(ZSTD_DCtx_s* context, const uint8_t* stored, const ReleaseChunk& chunk, uint8_t* raw) {
    if (!context || chunk.StoredSize > StoredChunkBound(chunk.RawSize)) return 0;
    if (ZSTD_getFrameContentSize(stored, chunk.StoredSize) != chunk.RawSize) return 0;
    if (ZSTD_findFrameCompressedSize(stored, chunk.StoredSize) != chunk.StoredSize) return 0;
    const std::size_t decoded = ZSTD_decompressDCtx(context, raw, chunk.RawSize, stored, chunk.StoredSize);
    if (ZSTD_isError(decoded) || decoded != chunk.RawSize) return 0;
    return BytesMatchChunk(raw, chunk.RawSize, chunk.Sha256);
}
