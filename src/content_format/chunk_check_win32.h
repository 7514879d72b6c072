// The one check of a chunk against its name, the SHA-256 of its bytes (through BCrypt), and a
// stored chunk (one zstd frame) turned back into its bytes and checked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "content_format/chunk_decode.h"
#include "content_format/content_release.h"
#include "update/manifest.h"

// The largest frame a chunk of rawSize bytes may be stored in (zstd's bound for raw blocks).
std::size_t StoredChunkBound(uint32_t rawSize);

// 1 when the SHA-256 of the size bytes at data is sha256; 0 when it differs or the system
// could not hash.
int ChunkHashMatches(const void* data, std::size_t size, const uint8_t sha256[kSha256Size]);

// DecodeChunk, then the check of the decoded bytes against the chunk's name: kChunkDecoded
// only for a chunk fit to use, kChunkHashDiffers when the bytes decoded but are not the chunk's,
// otherwise DecodeChunk's refusal. raw's bytes are unspecified unless kChunkDecoded.
int DecodeCheckedChunk(ChunkDecoder& decoder, const void* stored, std::size_t storedSize, void* raw, uint32_t rawSize,
                       const uint8_t sha256[kSha256Size]);

// Decodes stored (exactly one frame of chunk.StoredSize bytes, declaring chunk.RawSize) into raw
// and checks it against chunk.Sha256. 1 only for a chunk fit to use.
int DecodeStoredChunk(ChunkDecoder& decoder, const uint8_t* stored, const ReleaseChunk& chunk, uint8_t* raw);
