// Applying a delta made by the zstd program (--patch-from) against its base: the new file comes
// out piece by piece, exactly; a wrong base, a damaged or cut delta, a wrong size or a memory
// bound below its need is refused, and nothing is taken past the point of refusal.
#include "content_format/delta_apply.h"
#include "support/delta_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Reader {
    const Bytes* Delta;
    std::size_t At = 0;
    std::size_t FailAt = SIZE_MAX;  // a read reaching this offset fails
};

int ReadNext(void* context, uint8_t* data, uint32_t size) {
    Reader& r = *static_cast<Reader*>(context);
    if (r.At + size > r.Delta->size() || r.At + size > r.FailAt) return 0;
    std::memcpy(data, r.Delta->data() + r.At, size);
    r.At += size;
    return 1;
}

// The new file cut into pieces of the sizes given in turn (the last one what is left), gathered.
struct Gathered {
    std::vector<uint32_t> Sizes;
    Bytes Out;
    uint32_t Taken = 0;
    uint32_t RefuseAt = UINT32_MAX;
};

uint32_t SizeOf(void* context, uint32_t piece) { return static_cast<Gathered*>(context)->Sizes[piece]; }

int Take(void* context, uint32_t piece, const uint8_t* data, uint32_t size) {
    Gathered& g = *static_cast<Gathered*>(context);
    EXPECT_EQ(piece, g.Taken);
    EXPECT_EQ(size, g.Sizes[piece]);
    if (piece == g.RefuseAt) return 0;
    g.Out.insert(g.Out.end(), data, data + size);
    ++g.Taken;
    return 1;
}

// Irregular pieces as the chunker cuts them, ending exactly at total.
std::vector<uint32_t> PiecesOf(uint64_t total) {
    const uint32_t pattern[] = {65536, 1, 131071, 4096, 262144, 77777};
    std::vector<uint32_t> sizes;
    for (uint64_t done = 0, i = 0; done < total; ++i) {
        const uint32_t size = static_cast<uint32_t>(std::min<uint64_t>(pattern[i % 6], total - done));
        sizes.push_back(size);
        done += size;
    }
    return sizes;
}

class DeltaApply : public ::testing::Test {
protected:
    void SetUp() override {
        base = ReadDeltaFile("base.bin");
        next = ReadDeltaFile("new.bin");
        delta = ReadDeltaFile("new.delta");
        ASSERT_FALSE(base.empty() || next.empty() || delta.empty());
        gathered.Sizes = PiecesOf(next.size());
    }

    int Apply(const Bytes& withBase, const Bytes& withDelta, uint64_t fileSize,
              uint64_t limit = kDeltaMemoryLimit, std::size_t failAt = SIZE_MAX) {
        gathered.Out.clear();
        gathered.Taken = 0;
        Reader reader{&withDelta, 0, failAt};
        DeltaSource source{ReadNext, &reader, withDelta.size()};
        // A buffer of exactly the largest piece, so that AddressSanitizer sees any write past it.
        buffer.assign(*std::max_element(gathered.Sizes.begin(), gathered.Sizes.end()), 0);
        DeltaPieces pieces{static_cast<uint32_t>(gathered.Sizes.size()), SizeOf, Take, &gathered, buffer.data(),
                           static_cast<uint32_t>(buffer.size())};
        return ApplyDelta(withBase.data(), withBase.size(), source, fileSize, pieces, limit);
    }

    Bytes base, next, delta, buffer;
    Gathered gathered;
};

TEST_F(DeltaApply, MakesTheNewFilePieceByPiece) {
    ASSERT_EQ(Apply(base, delta, next.size()), kDeltaApplied);
    EXPECT_EQ(gathered.Taken, gathered.Sizes.size());
    EXPECT_TRUE(gathered.Out == next);
}

TEST_F(DeltaApply, MemoryNeedIsTheBaseAndAtMostTheNewFileBesideIt) {
    uint64_t need = 0;
    ASSERT_EQ(DeltaMemoryNeed(delta.data(), kDeltaHeadSize, base.size(), next.size(), &need), kDeltaApplied);
    EXPECT_GE(need, base.size() + next.size());
    EXPECT_LE(need, base.size() + next.size() + (1u << 20));
    // A bound one byte below the need is refused before anything is decoded or taken.
    EXPECT_EQ(Apply(base, delta, next.size(), need - 1), kDeltaTooLarge);
    EXPECT_EQ(gathered.Taken, 0u);
    EXPECT_EQ(Apply(base, delta, next.size(), need), kDeltaApplied);
    // A header cut short says nothing.
    EXPECT_EQ(DeltaMemoryNeed(delta.data(), 4, base.size(), next.size(), &need), kDeltaNotOneFrame);
}

TEST_F(DeltaApply, RefusesAWrongBase) {
    Bytes changed = base;
    changed[changed.size() / 2] ^= 1;  // one byte: the frame's checksum no longer matches
    EXPECT_NE(Apply(changed, delta, next.size()), kDeltaApplied);
    Bytes cut(base.begin(), base.end() - 1);
    EXPECT_NE(Apply(cut, delta, next.size()), kDeltaApplied);
}

TEST_F(DeltaApply, RefusesADamagedOrIncompleteDelta) {
    Bytes flipped = delta;
    flipped[flipped.size() / 2] ^= 0x10;
    EXPECT_NE(Apply(base, flipped, next.size()), kDeltaApplied);
    const Bytes cut(delta.begin(), delta.end() - 1);
    EXPECT_NE(Apply(base, cut, next.size()), kDeltaApplied);
    Bytes twice = delta;  // a second frame after the first
    twice.insert(twice.end(), delta.begin(), delta.end());
    EXPECT_EQ(Apply(base, twice, next.size()), kDeltaNotOneFrame);
    Bytes skippable = {0x50, 0x2A, 0x4D, 0x18, 4, 0, 0, 0, 1, 2, 3, 4};
    EXPECT_EQ(Apply(base, skippable, next.size()), kDeltaNotOneFrame);
    EXPECT_EQ(Apply(base, delta, next.size(), kDeltaMemoryLimit, delta.size() / 2), kDeltaReadFailed);
}

TEST_F(DeltaApply, RefusesSizesOtherThanTheFrames) {
    EXPECT_EQ(Apply(base, delta, next.size() + 1), kDeltaSizeDiffers);
    // Pieces adding up to less than the frame: the byte after the last one is refused.
    gathered.Sizes.back() -= 1;
    EXPECT_EQ(Apply(base, delta, next.size()), kDeltaSizeDiffers);
    // ... and to more: the frame ends inside the last piece, which is never taken.
    gathered = Gathered{};
    gathered.Sizes = PiecesOf(next.size());
    gathered.Sizes.push_back(1);
    EXPECT_EQ(Apply(base, delta, next.size()), kDeltaSizeDiffers);
    EXPECT_EQ(gathered.Taken, gathered.Sizes.size() - 1);
}

TEST_F(DeltaApply, StopsAtThePieceTheCallerRefuses) {
    gathered.RefuseAt = 3;
    EXPECT_EQ(Apply(base, delta, next.size()), kDeltaPieceRefused);
    EXPECT_EQ(gathered.Taken, 3u);
}

}  // namespace
