// A stored chunk (one zstd frame) turned back into its bytes and checked against its name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "content/release_manifest.h"

#include "content/chunk_decode.h"

// The largest frame a chunk of rawSize bytes may be stored in (zstd's bound for raw blocks).
std::size_t StoredChunkBound(uint32_t rawSize);

// Decodes stored (exactly one frame of storedSize bytes, declaring rawSize) into raw and checks
// its SHA-256 against chunk.Sha256. 1 only for a chunk fit to use.
int DecodeStoredChunk(ChunkDecoder& decoder, const uint8_t* stored, const ReleaseChunk& chunk, uint8_t* raw);

// 1 when the size bytes at data are named by sha256.
int BytesMatchChunk(const uint8_t* data, std::size_t size, const uint8_t* sha256);
