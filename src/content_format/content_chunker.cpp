// The content-defined chunker: a gear hash over the file with normalised chunking (two masks).
#include "content_format/content_chunker.h"

namespace {

struct GearTable {
    uint64_t value[256];
};

// SplitMix64 from the state "QORCDC01": the publisher builds the same table the same way.
constexpr GearTable MakeGearTable() {
    GearTable table{};
    uint64_t state = 0x514F524344433031ull;
    for (int i = 0; i < 256; ++i) {
        state += 0x9E3779B97F4A7C15ull;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        table.value[i] = z ^ (z >> 31);
    }
    return table;
}

constexpr GearTable kGear = MakeGearTable();
static_assert(kGear.value[0] != kGear.value[1], "the gear table is computed at compile time");

int Log2OfPowerOfTwo(uint32_t value) {
    if (value == 0 || (value & (value - 1)) != 0) return -1;
    int k = 0;
    while ((1u << k) != value) ++k;
    return k;
}

std::size_t Smaller(std::size_t available, uint32_t wanted) { return available < wanted ? available : wanted; }

void Roll(uint64_t& hash, const uint8_t* p, std::size_t n) {
    uint64_t h = hash;
    for (std::size_t i = 0; i < n; ++i) h = (h << 1) + kGear.value[p[i]];
    hash = h;
}

std::size_t Hit(uint64_t& hash, uint64_t h, int* hit, std::size_t rolled) {
    hash = h;
    *hit = 1;
    return rolled;
}

// Rolls the hash over at most n bytes and stops after the first at which none of mask's bits
// is set. Returns the bytes rolled over; *hit tells whether it stopped at such a byte.
std::size_t RollUntil(uint64_t& hash, const uint8_t* p, std::size_t n, uint64_t mask, int* hit) {
    uint64_t h = hash;
    std::size_t i = 0;
    // Four bytes a turn: one loop test instead of four, the hash's own chain unchanged.
    for (; i + 4 <= n; i += 4) {
        h = (h << 1) + kGear.value[p[i]];
        if ((h & mask) == 0) return Hit(hash, h, hit, i + 1);
        h = (h << 1) + kGear.value[p[i + 1]];
        if ((h & mask) == 0) return Hit(hash, h, hit, i + 2);
        h = (h << 1) + kGear.value[p[i + 2]];
        if ((h & mask) == 0) return Hit(hash, h, hit, i + 3);
        h = (h << 1) + kGear.value[p[i + 3]];
        if ((h & mask) == 0) return Hit(hash, h, hit, i + 4);
    }
    for (; i < n; ++i) {
        h = (h << 1) + kGear.value[p[i]];
        if ((h & mask) == 0) return Hit(hash, h, hit, i + 1);
    }
    hash = h;
    return n;
}

}  // namespace

int ChunkSizesUsable(const ChunkSizes& sizes) {
    return sizes.min >= kChunkHashWindow && sizes.min < sizes.avg && sizes.avg < sizes.max &&
           sizes.max <= kChunkSizeLimit && Log2OfPowerOfTwo(sizes.avg) >= 0;
}

int ReleaseChunkSizesValid(const ChunkSizes& sizes) {
    return ChunkSizesUsable(sizes) && sizes.min >= kReleaseChunkMinLimit;
}

int ChunkerStart(Chunker& c, const ChunkSizes& sizes) {
    if (!ChunkSizesUsable(sizes)) return 0;
    const int k = Log2OfPowerOfTwo(sizes.avg);  // 7 to 21: both shifts stay within 1 to 63
    c.sizes = sizes;
    c.strictMask = ~0ull << (64 - (k + 2));
    c.looseMask = ~0ull << (64 - (k - 2));
    c.hash = 0;
    c.length = 0;
    return 1;
}

// The phases of a chunk, by the length L it has once the next byte is taken: up to min - 64 the
// bytes are skipped, because the hash at L = min depends only on the 64 bytes that end there;
// up to min - 1 they are only rolled into the hash; then every position is a candidate, tested
// with the strict mask below avg and the loose one from avg on; at max the chunk ends anyway.
// Since every chunk rolls its own 64 bytes before its first test, nothing of the hash carries
// over from one chunk to the next.
std::size_t ChunkerScan(Chunker& c, const uint8_t* data, std::size_t size, int* chunkEnded) {
    const ChunkSizes& s = c.sizes;
    const uint32_t hashFrom = s.min - kChunkHashWindow;
    const uint32_t firstTest = s.min - 1;
    const uint32_t looseFrom = s.avg - 1;
    const uint32_t last = s.max - 1;
    std::size_t used = 0;
    uint32_t length = c.length;
    uint64_t hash = c.hash;
    int hit = 0;
    if (length < hashFrom) {
        const std::size_t n = Smaller(size, hashFrom - length);
        used += n;
        length += static_cast<uint32_t>(n);
    }
    if (length < firstTest) {
        const std::size_t n = Smaller(size - used, firstTest - length);
        Roll(hash, data + used, n);
        used += n;
        length += static_cast<uint32_t>(n);
    }
    if (length >= firstTest && length < looseFrom) {
        const std::size_t n = RollUntil(hash, data + used, Smaller(size - used, looseFrom - length), c.strictMask, &hit);
        used += n;
        length += static_cast<uint32_t>(n);
    }
    if (!hit && length >= looseFrom && length < last) {
        const std::size_t n = RollUntil(hash, data + used, Smaller(size - used, last - length), c.looseMask, &hit);
        used += n;
        length += static_cast<uint32_t>(n);
    }
    if (!hit && length == last && used < size) {
        ++used;
        hit = 1;
    }
    c.hash = hash;
    c.length = hit ? 0 : length;
    *chunkEnded = hit;
    return used;
}

uint32_t ChunkerFinish(Chunker& c) {
    const uint32_t length = c.length;
    c.length = 0;
    c.hash = 0;
    return length;
}
