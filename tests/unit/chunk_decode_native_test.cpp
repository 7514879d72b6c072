// Chunk decoding of frames made at test time with libzstd's compressor, at many levels and sizes
// (native only: the Windows builds carry zstd's decoder alone).
#include "content_format/chunk_decode.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <string>
#include <vector>

#include "content_format/content_chunker.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Half repetitive text, half noise: both block kinds and real matches.
Bytes Content(std::size_t size, uint64_t seed) {
    Bytes out(size);
    uint64_t state = seed;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        out[i] = i % 4096 < 2048 ? static_cast<uint8_t>("the quick brown fox "[(i + (state >> 60)) % 20])
                                 : static_cast<uint8_t>(state >> 56);
    }
    return out;
}

Bytes Compress(const Bytes& raw, int level) {
    Bytes out(ZSTD_compressBound(raw.size()));
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 1);
    const std::size_t size = ZSTD_compress2(context, out.data(), out.size(), raw.data(), raw.size());
    ZSTD_freeCCtx(context);
    EXPECT_FALSE(ZSTD_isError(size)) << ZSTD_getErrorName(size);
    out.resize(ZSTD_isError(size) ? 0 : size);
    return out;
}

TEST(ChunkDecodeNative, EveryLevelAndSizeUpToTheLargestChunkRoundTrips) {
    ChunkDecoder decoder;
    ASSERT_TRUE(decoder.Good());
    const std::size_t sizes[] = {1, 2, 1023, 1024, 131072, 131073, 1000003, kChunkSizeLimit};
    for (std::size_t size : sizes) {
        const Bytes raw = Content(size, size);
        for (int level : {-7, 1, 3, 12, 19}) {
            if (level == 19 && size > 131073) continue;  // minutes for no new case
            const Bytes stored = Compress(raw, level);
            Bytes decoded(size);
            EXPECT_EQ(DecodeChunk(decoder, stored.data(), stored.size(), decoded.data(), static_cast<uint32_t>(size)),
                      kChunkDecoded)
                << size << " bytes at level " << level;
            EXPECT_TRUE(decoded == raw) << size << " bytes at level " << level;
        }
    }
}

TEST(ChunkDecodeNative, ALongWindowAskedOfTheCompressorShrinksToTheChunk) {
    // A publisher that asks for a 2^27 window and long matching still writes frames a launcher
    // takes: with the size known, the compressor sizes the window to the chunk.
    const Bytes raw = Content(kChunkSizeLimit, 9);
    Bytes stored(ZSTD_compressBound(raw.size()));
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, 27);
    ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1);
    const std::size_t size = ZSTD_compress2(context, stored.data(), stored.size(), raw.data(), raw.size());
    ZSTD_freeCCtx(context);
    ASSERT_FALSE(ZSTD_isError(size));
    stored.resize(size);
    ChunkDecoder decoder;
    Bytes decoded(raw.size());
    EXPECT_EQ(DecodeChunk(decoder, stored.data(), stored.size(), decoded.data(), kChunkSizeLimit), kChunkDecoded);
    EXPECT_TRUE(decoded == raw);
}

}  // namespace
