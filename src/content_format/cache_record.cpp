// The content cache's record header, written and read byte by byte.
#include "content_format/cache_record.h"

#include <cstring>

#include "common/little_endian.h"
namespace {

uint32_t Fnv1a(const uint8_t* data, std::size_t length) {
    uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i) hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

}  // namespace

void EncodeCacheRecordHeader(const CacheRecordHeader& header, uint8_t out[kCacheRecordHeaderSize]) {
    std::memcpy(out, header.Sha256, 32);
    StoreLe32(out + 32, header.RawSize);
    StoreLe32(out + 36, header.StoredSize);
    StoreLe32(out + 40, Fnv1a(out, 40));
    StoreLe32(out + 44, 0);
}

int DecodeCacheRecordHeader(const uint8_t in[kCacheRecordHeaderSize], CacheRecordHeader* header) {
    if (LoadLe32(in + 40) != Fnv1a(in, 40) || LoadLe32(in + 44) != 0) return 0;
    std::memcpy(header->Sha256, in, 32);
    header->RawSize = LoadLe32(in + 32);
    header->StoredSize = LoadLe32(in + 36);
    return header->RawSize != 0 && header->StoredSize != 0;
}

CacheRecordHeader CacheRecordOf(const ReleaseChunk& chunk) {
    CacheRecordHeader header;
    std::memcpy(header.Sha256, chunk.Sha256, sizeof header.Sha256);
    header.RawSize = chunk.RawSize;
    header.StoredSize = chunk.StoredSize;
    return header;
}
