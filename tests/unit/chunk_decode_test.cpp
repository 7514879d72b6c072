// Chunk decoding: frames made by the publisher's zstd library decode to exactly their chunk, and
// frames a hostile server could send (built here byte by byte) are refused without harm.
#include "content_format/chunk_decode.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFrameFile(const std::string& name) {
    std::ifstream in(std::string(TEST_FRAMES_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name << " not found in " << TEST_FRAMES_DIR;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Decodes into a buffer of exactly rawSize bytes, so that AddressSanitizer sees any write past it.
int Decode(ChunkDecoder& decoder, const Bytes& stored, uint32_t rawSize, Bytes* raw = nullptr) {
    Bytes out(rawSize);
    const int result = DecodeChunk(decoder, stored.data(), stored.size(), out.data(), rawSize);
    if (raw) *raw = std::move(out);
    return result;
}

void Append(Bytes& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A frame of one raw (stored) block, its header written field by field: the window exponent
// (window 2^(10 + exponent)) unless single-segment, the declared content size (4 bytes) unless
// absent (-1), a one-byte dictionary id unless 0.
Bytes RawFrame(const Bytes& content, int64_t declared, int windowExponent, int dictionary = 0) {
    Bytes out;
    Append(out, 0xFD2FB528u, 4);
    const bool singleSegment = windowExponent < 0;
    uint8_t descriptor = static_cast<uint8_t>((singleSegment ? 0x20 : 0) | (dictionary ? 0x01 : 0));
    if (declared >= 0) descriptor |= 0x80;  // four bytes of content size
    out.push_back(descriptor);
    if (!singleSegment) out.push_back(static_cast<uint8_t>(windowExponent << 3));
    if (dictionary) out.push_back(static_cast<uint8_t>(dictionary));
    if (declared >= 0) Append(out, static_cast<uint64_t>(declared), 4);
    Append(out, (content.size() << 3) | 1, 3);  // the last block, raw
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Pattern(std::size_t size) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
    return out;
}

TEST(ChunkDecode, FramesOfThePublishersLibraryDecodeToTheirChunk) {
    ChunkDecoder decoder;
    ASSERT_TRUE(decoder.Good());
    // One decoder for all of them, as a worker keeps one.
    for (const char* name : {"text-100000", "random-65536", "one-byte", "zeros-4194304", "text-3000", "level-19",
                             "long-window", "checksum"}) {
        const Bytes raw = ReadFrameFile(std::string(name) + ".raw");
        const Bytes stored = ReadFrameFile(std::string(name) + ".zst");
        ASSERT_FALSE(raw.empty()) << name;
        Bytes decoded;
        EXPECT_EQ(Decode(decoder, stored, static_cast<uint32_t>(raw.size()), &decoded), kChunkDecoded) << name;
        EXPECT_TRUE(decoded == raw) << name;
    }
}

TEST(ChunkDecode, TheChunksSizeMustBeTheFramesDeclaredAndDecodedSize) {
    ChunkDecoder decoder;
    const Bytes stored = ReadFrameFile("text-3000.zst");
    EXPECT_EQ(Decode(decoder, stored, 2999), kChunkSizeDiffers);
    EXPECT_EQ(Decode(decoder, stored, 3001), kChunkSizeDiffers);
    EXPECT_EQ(Decode(decoder, stored, 0), kChunkSizeDiffers);
    // A frame without its content size in the header is not what the publisher writes.
    const Bytes unsized = ReadFrameFile("no-content-size.zst");
    EXPECT_EQ(Decode(decoder, unsized, 5000), kChunkSizeDiffers);
    // The header says the chunk's size but the block holds a byte more or less: zstd's own count.
    const Bytes content = Pattern(1000);
    EXPECT_EQ(Decode(decoder, RawFrame(content, 1001, -1), 1001), kChunkCorrupt);
    EXPECT_EQ(Decode(decoder, RawFrame(content, 999, -1), 999), kChunkCorrupt);
    Bytes decoded;
    EXPECT_EQ(Decode(decoder, RawFrame(content, 1000, -1), 1000, &decoded), kChunkDecoded);
    EXPECT_TRUE(decoded == content);
}

TEST(ChunkDecode, ExactlyOneWholeFrameOfTheStoredSize) {
    ChunkDecoder decoder;
    const Bytes stored = ReadFrameFile("text-3000.zst");
    Bytes trailing = stored;
    trailing.push_back(0);
    EXPECT_EQ(Decode(decoder, trailing, 3000), kChunkNotOneFrame);
    const Bytes cut(stored.begin(), stored.end() - 1);
    EXPECT_EQ(Decode(decoder, cut, 3000), kChunkNotOneFrame);
    const Bytes headerOnly(stored.begin(), stored.begin() + 5);
    EXPECT_EQ(Decode(decoder, headerOnly, 3000), kChunkNotOneFrame);
    EXPECT_EQ(Decode(decoder, Bytes(), 3000), kChunkNotOneFrame);
    EXPECT_EQ(Decode(decoder, Bytes{'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0}, 3000), kChunkNotOneFrame);
    // Two frames back to back: the first one's size is not the chunk's, the second one is
    // bytes past the chunk's frame (the one-shot decoder would decode both).
    const Bytes two = ReadFrameFile("two-frames.zst");
    EXPECT_EQ(Decode(decoder, two, 4000), kChunkNotOneFrame);
    EXPECT_EQ(Decode(decoder, two, 8000), kChunkSizeDiffers);
    // A skippable frame holding the chunk's bytes is no frame of the chunk.
    Bytes skippable;
    Append(skippable, 0x184D2A50u, 4);
    Append(skippable, 3000, 4);
    const Bytes raw = ReadFrameFile("text-3000.raw");
    skippable.insert(skippable.end(), raw.begin(), raw.end());
    EXPECT_EQ(Decode(decoder, skippable, 3000), kChunkNotOneFrame);
}

TEST(ChunkDecode, AWindowAboveTheLargestChunkIsRefusedBeforeDecoding) {
    ChunkDecoder decoder;
    const Bytes content = Pattern(5000);
    Bytes decoded;
    // 2^22, the largest chunk, is still a chunk's window; 2^23 and the format's most are not.
    EXPECT_EQ(Decode(decoder, RawFrame(content, 5000, kChunkWindowLogMax - 10), 5000, &decoded), kChunkDecoded);
    EXPECT_TRUE(decoded == content);
    EXPECT_EQ(Decode(decoder, RawFrame(content, 5000, kChunkWindowLogMax - 9), 5000), kChunkWindowTooLarge);
    EXPECT_EQ(Decode(decoder, RawFrame(content, 5000, 31 - 10), 5000), kChunkWindowTooLarge);
    // The same without a declared size: refused for that first.
    EXPECT_EQ(Decode(decoder, RawFrame(content, -1, 31 - 10), 5000), kChunkSizeDiffers);
}

TEST(ChunkDecode, AFrameThatNeedsADictionaryIsRefused) {
    ChunkDecoder decoder;
    EXPECT_EQ(Decode(decoder, RawFrame(Pattern(200), 200, 0, 7), 200), kChunkCorrupt);
}

TEST(ChunkDecode, EveryChangedByteOfAFrameIsRefusedOrDecodesWithinTheChunk) {
    ChunkDecoder decoder;
    const Bytes stored = ReadFrameFile("text-3000.zst");
    const Bytes raw = ReadFrameFile("text-3000.raw");
    ASSERT_FALSE(stored.empty());
    int refused = 0;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            Bytes changed = stored;
            changed[i] ^= flip;
            Bytes decoded;
            const int result = Decode(decoder, changed, 3000, &decoded);
            // Whatever decodes is caught by the chunk's SHA-256 (chunk_hash_win32.h).
            if (result != kChunkDecoded) ++refused;
        }
    }
    EXPECT_GT(refused, 0);
    // And the decoder is still good for the next chunk.
    Bytes decoded;
    EXPECT_EQ(Decode(decoder, stored, 3000, &decoded), kChunkDecoded);
    EXPECT_TRUE(decoded == raw);
}

TEST(ChunkDecode, AMovedFromDecoderRefusesAndTheNewOwnerDecodes) {
    ChunkDecoder first;
    ChunkDecoder second(std::move(first));
    const Bytes stored = ReadFrameFile("one-byte.zst");
    EXPECT_FALSE(first.Good());
    EXPECT_EQ(Decode(first, stored, 1), kChunkNoDecoder);
    EXPECT_EQ(Decode(second, stored, 1), kChunkDecoded);
    ChunkDecoder third;
    third = std::move(second);
    EXPECT_EQ(Decode(third, stored, 1), kChunkDecoded);
}

}  // namespace
