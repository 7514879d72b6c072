// The records of content.cache, the file fetched chunks wait in until the files are built:
// after an 8-byte file header, per chunk a 48-byte record header then its zstd frame exactly as
// received. Little-endian; a header carries a check of its own fields, so a torn or foreign
// tail is told apart from a record.
//   0  32  the chunk's SHA-256
//   32 4   rawSize
//   36 4   storedSize (the frame's length, which follows the header)
//   40 4   check: FNV-1a of bytes 0..39
//   44 4   0
#pragma once

#include <cstddef>
#include <cstdint>

#include "content_format/content_release.h"

constexpr std::size_t kCacheMagicSize = 8;
constexpr const char kCacheMagic[kCacheMagicSize + 1] = "QORCACH1";
constexpr std::size_t kCacheRecordHeaderSize = 48;
constexpr const char* kContentCacheName = "content.cache";
constexpr const wchar_t* kContentCacheFile = L"content.cache";  // the same name, as the wide API opens it

struct CacheRecordHeader {
    uint8_t Sha256[32];
    uint32_t RawSize;
    uint32_t StoredSize;
};

// The record header that names a chunk of a release: its hash and its two sizes.
CacheRecordHeader CacheRecordOf(const ReleaseChunk& chunk);

void EncodeCacheRecordHeader(const CacheRecordHeader& header, uint8_t out[kCacheRecordHeaderSize]);

// 1 when the 48 bytes are a record header (its check matches, sizes not 0, last field 0).
int DecodeCacheRecordHeader(const uint8_t in[kCacheRecordHeaderSize], CacheRecordHeader* header);
