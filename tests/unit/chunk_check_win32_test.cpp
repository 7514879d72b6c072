// A decoded chunk checked against its name through BCrypt: the publisher's frames pass, and a
// frame whose bytes zstd cannot doubt (a changed byte of a stored block) is caught by the hash.
#include "content_format/chunk_check_win32.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFrameFile(const std::string& name) {
    std::ifstream in(std::string(TEST_FRAMES_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The chunk's name, from the hex the frame maker wrote with Python's hashlib.
Bytes NameOf(const std::string& chunk) {
    const Bytes hex = ReadFrameFile(chunk + ".sha256");
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size() && out.size() < kSha256Size; i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.begin() + i, hex.begin() + i + 2), nullptr, 16)));
    EXPECT_EQ(out.size(), kSha256Size) << chunk;
    out.resize(kSha256Size);
    return out;
}

TEST(ChunkHashWin32, ThePublishersChunksMatchTheirNames) {
    ChunkDecoder decoder;
    for (const char* name : {"text-100000", "random-65536", "one-byte", "zeros-4194304", "long-window"}) {
        const Bytes stored = ReadFrameFile(std::string(name) + ".zst");
        const Bytes raw = ReadFrameFile(std::string(name) + ".raw");
        Bytes decoded(raw.size());
        EXPECT_EQ(DecodeCheckedChunk(decoder, stored.data(), stored.size(), decoded.data(),
                                     static_cast<uint32_t>(raw.size()), NameOf(name).data()),
                  kChunkDecoded)
            << name;
        EXPECT_EQ(ChunkHashMatches(raw.data(), raw.size(), NameOf(name).data()), 1) << name;
    }
}

TEST(ChunkHashWin32, BytesThatDecodeButAreNotTheChunkAreRefused) {
    ChunkDecoder decoder;
    // Random bytes are stored as raw blocks: a changed byte in the middle decodes without a
    // complaint from zstd, to bytes that are not the chunk.
    Bytes stored = ReadFrameFile("random-65536.zst");
    const Bytes name = NameOf("random-65536");
    Bytes decoded(65536);
    stored[stored.size() / 2] ^= 0x40;
    EXPECT_EQ(DecodeChunk(decoder, stored.data(), stored.size(), decoded.data(), 65536), kChunkDecoded);
    EXPECT_EQ(DecodeCheckedChunk(decoder, stored.data(), stored.size(), decoded.data(), 65536, name.data()),
              kChunkHashDiffers);
    // A good frame under another chunk's name.
    const Bytes other = ReadFrameFile("text-3000.zst");
    Bytes three(3000);
    EXPECT_EQ(DecodeCheckedChunk(decoder, other.data(), other.size(), three.data(), 3000, name.data()),
              kChunkHashDiffers);
    // A refusal of the decoder comes first, unchanged.
    EXPECT_EQ(DecodeCheckedChunk(decoder, other.data(), other.size() - 1, three.data(), 3000, name.data()),
              kChunkNotOneFrame);
}

}  // namespace
