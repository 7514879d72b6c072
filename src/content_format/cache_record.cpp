// The content cache's record header, written and read byte by byte.
#include "content/cache_record.h"

#include <cstring>

namespace {

void Put32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const uint8_t* in) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | in[i];
    return value;
}

uint32_t Fnv1a(const uint8_t* data, std::size_t length) {
    uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i) hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

}  // namespace

void EncodeCacheRecordHeader(const CacheRecordHeader& header, uint8_t out[kCacheRecordHeaderSize]) {
    std::memcpy(out, header.Sha256, 32);
    Put32(out + 32, header.RawSize);
    Put32(out + 36, header.StoredSize);
    Put32(out + 40, Fnv1a(out, 40));
    Put32(out + 44, 0);
}

int DecodeCacheRecordHeader(const uint8_t in[kCacheRecordHeaderSize], CacheRecordHeader* header) {
    if (Get32(in + 40) != Fnv1a(in, 40) || Get32(in + 44) != 0) return 0;
    std::memcpy(header->Sha256, in, 32);
    header->RawSize = Get32(in + 32);
    header->StoredSize = Get32(in + 36);
    return header->RawSize != 0 && header->StoredSize != 0;
}
