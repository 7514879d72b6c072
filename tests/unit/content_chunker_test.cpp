// The chunker against the shared cut points of tests/vectors/chunker_cuts.txt, fed in blocks of
// many sizes, and its size checks.
#include "content_format/content_chunker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Vector {
    std::string line;
    std::string kind;
    uint64_t seed = 0;
    std::size_t length = 0;
    ChunkSizes sizes;
    std::vector<uint64_t> ends;
};

std::vector<Vector> ReadVectors() {
    std::ifstream in(std::string(TEST_VECTORS_DIR) + "/chunker_cuts.txt");
    std::vector<Vector> vectors;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Vector v;
        std::string colon;
        v.line = line.substr(0, line.find(':'));
        fields >> v.kind >> v.seed >> v.length >> v.sizes.min >> v.sizes.avg >> v.sizes.max >> colon;
        EXPECT_EQ(colon, ":") << line;
        for (uint64_t end; fields >> end;) v.ends.push_back(end);
        vectors.push_back(v);
    }
    return vectors;
}

uint64_t SplitMix64(uint64_t& state) {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::vector<uint8_t> RandomBytes(uint64_t seed, std::size_t length) {
    std::vector<uint8_t> out(length);
    uint64_t state = seed, value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (i % 8 == 0) value = SplitMix64(state);
        out[i] = static_cast<uint8_t>(value >> (8 * (i % 8)));
    }
    return out;
}

// The input bytes of a vector line, made as the file's header describes.
std::vector<uint8_t> Generate(const Vector& v) {
    if (v.kind == "random") return RandomBytes(v.seed, v.length);
    if (v.kind == "text") {
        std::vector<uint8_t> out = RandomBytes(v.seed, v.length);
        for (uint8_t& b : out) b = static_cast<uint8_t>(" abcdefghijklmnopqrstuvwxyz"[b % 27]);
        return out;
    }
    if (v.kind == "zeros") return std::vector<uint8_t>(v.length, 0);
    if (v.kind == "inserted") {
        std::vector<uint8_t> out = RandomBytes(v.seed, v.length - 1);
        out.insert(out.begin() + static_cast<std::ptrdiff_t>((v.length - 1) / 2), 0x5A);
        return out;
    }
    if (v.kind == "runs") {
        std::vector<uint8_t> out = RandomBytes(v.seed, v.length);
        for (std::size_t i = 0; i < out.size(); ++i)
            if ((i / 40000) % 3 == 1) out[i] = 0;
        return out;
    }
    ADD_FAILURE() << "unknown kind " << v.kind;
    return {};
}

// The chunk ends of data, handed to the chunker in blocks whose sizes come from blockSize(i).
template <class BlockSize>
std::vector<uint64_t> CutsOf(const std::vector<uint8_t>& data, const ChunkSizes& sizes, BlockSize blockSize) {
    Chunker c;
    EXPECT_EQ(ChunkerStart(c, sizes), 1);
    std::vector<uint64_t> ends;
    uint64_t offset = 0, lastEnd = 0;
    for (std::size_t at = 0, i = 0; at < data.size(); ++i) {
        std::size_t n = std::min<std::size_t>(blockSize(i), data.size() - at);
        at += n;
        const uint8_t* p = data.data() + (at - n);
        while (n > 0) {
            int ended = -1;
            const std::size_t took = ChunkerScan(c, p, n, &ended);
            if (took == 0 || took > n) {
                ADD_FAILURE() << "took " << took << " of " << n << " bytes at " << offset;
                return ends;
            }
            p += took;
            n -= took;
            offset += took;
            if (ended) ends.push_back(lastEnd = offset);
            EXPECT_TRUE(ended || n == 0) << "stopped inside a block at " << offset;
        }
    }
    const uint32_t tail = ChunkerFinish(c);
    EXPECT_EQ(tail, offset - lastEnd) << "the last chunk's length";
    if (tail != 0) ends.push_back(offset);
    return ends;
}

TEST(ChunkerVectors, EveryCutOfEveryVectorInBlocksOfAnySize) {
    const std::vector<Vector> vectors = ReadVectors();
    ASSERT_GE(vectors.size(), 16u) << "tests/vectors/chunker_cuts.txt not found or cut short";
    for (const Vector& v : vectors) {
        const std::vector<uint8_t> data = Generate(v);
        ASSERT_EQ(data.size(), v.length) << v.line;
        for (std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{65536}, data.size() + 1}) {
            EXPECT_EQ(CutsOf(data, v.sizes, [block](std::size_t) { return block; }), v.ends)
                << v.line << "in blocks of " << block;
        }
        // Blocks of changing sizes, so that block edges fall in every phase of a chunk.
        uint64_t state = v.seed;
        auto changing = [&state](std::size_t) { return static_cast<std::size_t>(SplitMix64(state) % 5000 + 1); };
        EXPECT_EQ(CutsOf(data, v.sizes, changing), v.ends) << v.line << "in blocks of changing sizes";
    }
}

TEST(ChunkerVectors, OneChunkerCutsFileAfterFileWithTheSameSizes) {
    const std::vector<Vector> vectors = ReadVectors();
    ASSERT_GE(vectors.size(), 16u);
    // The vectors with the publisher's default sizes, one after the other through one state.
    Chunker c;
    ASSERT_EQ(ChunkerStart(c, ChunkSizes{16384, 65536, 262144}), 1);
    for (const Vector& v : vectors) {
        if (v.sizes.min != 16384 || v.sizes.avg != 65536 || v.sizes.max != 262144) continue;
        const std::vector<uint8_t> data = Generate(v);
        std::vector<uint64_t> ends;
        std::size_t at = 0;
        while (at < data.size()) {
            int ended = 0;
            at += ChunkerScan(c, data.data() + at, data.size() - at, &ended);
            if (ended) ends.push_back(at);
        }
        if (ChunkerFinish(c) != 0) ends.push_back(at);
        EXPECT_EQ(ends, v.ends) << v.line;
    }
}

TEST(ChunkerSizes, ReleaseAndVectorLimits) {
    struct Case {
        ChunkSizes sizes;
        int usable, release;
    };
    const Case cases[] = {
        {{16384, 65536, 262144}, 1, 1},  // the publisher's defaults
        {{1024, 2048, 4194304}, 1, 1},   // the widest a release may ask for
        {{1023, 2048, 4096}, 1, 0},      // below a release's minimum, fine for vectors
        {{64, 256, 1024}, 1, 0},
        {{63, 256, 1024}, 0, 0},  // the hash window is longer than the minimum
        {{1024, 4096, 4194305}, 0, 0},
        {{1024, 3072, 8192}, 0, 0},  // avg not a power of two
        {{4096, 4096, 8192}, 0, 0},  // min not below avg
        {{1024, 4096, 4096}, 0, 0},  // avg not below max
        {{8192, 4096, 16384}, 0, 0},
        {{0, 0, 0}, 0, 0},
        {{1024, 2097152, 4194304}, 1, 1},
        {{1024, 4194304, 4194304}, 0, 0},
    };
    for (const Case& k : cases) {
        const std::string label = std::to_string(k.sizes.min) + " " + std::to_string(k.sizes.avg) + " " +
                                  std::to_string(k.sizes.max);
        EXPECT_EQ(ChunkSizesUsable(k.sizes), k.usable) << label;
        EXPECT_EQ(ReleaseChunkSizesValid(k.sizes), k.release) << label;
        Chunker c;
        EXPECT_EQ(ChunkerStart(c, k.sizes), k.usable) << label;
    }
}

TEST(ChunkerSizes, ChunksStayWithinMinAndMaxAndAnEmptyFileHasNone) {
    const ChunkSizes sizes{1024, 4096, 16384};
    const std::vector<uint8_t> data = RandomBytes(77, 3 << 20);
    const std::vector<uint64_t> ends = CutsOf(data, sizes, [](std::size_t) { return 100000; });
    ASSERT_FALSE(ends.empty());
    EXPECT_EQ(ends.back(), data.size());
    uint64_t start = 0, below = 0;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        const uint64_t length = ends[i] - start;
        EXPECT_LE(length, sizes.max);
        if (i + 1 < ends.size()) {
            EXPECT_GE(length, sizes.min);
        }
        below += length < sizes.avg;
        start = ends[i];
    }
    // The strict mask below avg keeps most chunks from ending early.
    EXPECT_LT(below * 2, ends.size());
    Chunker c;
    ASSERT_EQ(ChunkerStart(c, sizes), 1);
    EXPECT_EQ(ChunkerFinish(c), 0u);
}

}  // namespace
