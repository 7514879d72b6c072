// A decoded chunk checked against its name, the SHA-256 of its bytes, through BCrypt.
#pragma once

#include <cstddef>
#include <cstdint>

#include "content/chunk_decode.h"
#include "update/manifest.h"

// 1 when the SHA-256 of the size bytes at data is sha256; 0 when it differs or the system
// could not hash.
int ChunkHashMatches(const void* data, std::size_t size, const uint8_t sha256[kSha256Size]);

// DecodeChunk, then the check of the decoded bytes against the chunk's name: kChunkDecoded
// only for a chunk fit to use, kChunkHashDiffers when the bytes decoded but are not the chunk's,
// otherwise DecodeChunk's refusal. raw's bytes are unspecified unless kChunkDecoded.
int DecodeCheckedChunk(ChunkDecoder& decoder, const void* stored, std::size_t storedSize, void* raw, uint32_t rawSize,
                       const uint8_t sha256[kSha256Size]);
