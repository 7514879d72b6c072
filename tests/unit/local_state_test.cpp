// The state file the content mode keeps: its bytes, what refuses one, and when it vouches.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "content_format/content_release.h"
#include "content_format/local_state.h"
#include "support/release_builder.h"

namespace {

struct Sink {
    std::vector<uint8_t> bytes;
    std::vector<std::size_t> pieces;
    std::size_t failAt = static_cast<std::size_t>(-1);  // the piece whose write fails
};

int Store(void* context, const uint8_t* data, std::size_t length) {
    Sink* sink = static_cast<Sink*>(context);
    if (sink->pieces.size() == sink->failAt) return 0;
    sink->pieces.push_back(length);
    sink->bytes.insert(sink->bytes.end(), data, data + length);
    return 1;
}

ContentStateHeader HeaderFor(uint32_t files) {
    ContentStateHeader h;
    h.Release = 10002;
    h.FileCount = files;
    h.ManifestSize = 123456;
    for (std::size_t i = 0; i < kReleaseHashSize; ++i) h.ManifestSha256[i] = static_cast<uint8_t>(0xF0 + i);
    return h;
}

std::vector<ContentFileStamp> Stamps(uint32_t n) {
    std::vector<ContentFileStamp> stamps;
    for (uint32_t i = 0; i < n; ++i) stamps.push_back({1000ull * i + 0x100000000ull, 0x01DB4C2A00000000ull + i});
    return stamps;
}

std::vector<uint8_t> StateBytes(const ContentStateHeader& h, const std::vector<ContentFileStamp>& stamps) {
    Sink sink;
    EXPECT_EQ(1, WriteContentState(h, stamps.data(), Store, &sink));
    return sink.bytes;
}

uint64_t U64At(const std::vector<uint8_t>& b, std::size_t at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | b[at + i];
    return v;
}

}  // namespace

TEST(ContentState, WritesTheLayoutAndReadsItBack) {
    const std::vector<ContentFileStamp> stamps = Stamps(3);
    const std::vector<uint8_t> bytes = StateBytes(HeaderFor(3), stamps);
    ASSERT_EQ(56u + 3 * 16, bytes.size());
    EXPECT_EQ(0, std::memcmp(bytes.data(), "QORSTAT1", 8));
    EXPECT_EQ(10002u, U64At(bytes, 8) & 0xFFFFFFFFu);
    EXPECT_EQ(3u, U64At(bytes, 8) >> 32);
    EXPECT_EQ(123456u, U64At(bytes, 16));
    EXPECT_EQ(0xF0, bytes[24]);
    EXPECT_EQ(static_cast<uint8_t>(0xF0 + 31), bytes[55]);
    EXPECT_EQ(stamps[2].Size, U64At(bytes, 56 + 32));
    EXPECT_EQ(stamps[2].LastWrite, U64At(bytes, 56 + 40));

    ContentState state;
    ASSERT_EQ(1, ParseContentState(bytes.data(), bytes.size(), &state));
    EXPECT_EQ(10002u, state.Header.Release);
    EXPECT_EQ(3u, state.Header.FileCount);
    EXPECT_EQ(123456u, state.Header.ManifestSize);
    EXPECT_EQ(0, std::memcmp(HeaderFor(3).ManifestSha256, state.Header.ManifestSha256, kReleaseHashSize));
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(stamps[i].Size, ContentStampAt(state, i).Size);
        EXPECT_EQ(stamps[i].LastWrite, ContentStampAt(state, i).LastWrite);
    }
}

TEST(ContentState, WritesInBoundedPiecesAndStopsAtTheFirstFailure) {
    const std::vector<ContentFileStamp> stamps = Stamps(600);
    Sink sink;
    ASSERT_EQ(1, WriteContentState(HeaderFor(600), stamps.data(), Store, &sink));
    EXPECT_EQ((std::vector<std::size_t>{56, 4096, 4096, 88 * 16}), sink.pieces);

    Sink failing;
    failing.failAt = 1;
    EXPECT_EQ(0, WriteContentState(HeaderFor(600), stamps.data(), Store, &failing));
    EXPECT_EQ(1u, failing.pieces.size());

    Sink empty;
    EXPECT_EQ(1, WriteContentState(HeaderFor(0), nullptr, Store, &empty));
    EXPECT_EQ(56u, empty.bytes.size());
    ContentState state;
    EXPECT_EQ(1, ParseContentState(empty.bytes.data(), empty.bytes.size(), &state));
}

TEST(ContentState, WritesNothingOutsideTheFormat) {
    const std::vector<ContentFileStamp> stamps = Stamps(1);
    for (int bend = 0; bend < 6; ++bend) {
        ContentStateHeader h = HeaderFor(1);
        if (bend == 0) h.Release = 0;
        if (bend == 1) h.Release = 0x80000000u;
        if (bend == 2) h.FileCount = kReleaseMaxFiles + 1;
        if (bend == 3) h.ManifestSize = kReleaseHeaderSize - 1;
        if (bend == 4) h.ManifestSize = kReleaseMaxBytes + 1;
        Sink sink;
        const ContentFileStamp* given = bend == 5 ? nullptr : stamps.data();
        EXPECT_EQ(0, WriteContentState(h, given, Store, &sink)) << bend;
        EXPECT_TRUE(sink.bytes.empty()) << bend;
    }
}

TEST(ContentState, RefusesWhatItNeverWrites) {
    const std::vector<uint8_t> good = StateBytes(HeaderFor(2), Stamps(2));
    ContentState state;
    for (std::size_t length = 0; length < good.size(); ++length) {
        ASSERT_EQ(1, ParseContentState(good.data(), good.size(), &state));
        EXPECT_EQ(0, ParseContentState(good.data(), length, &state)) << length;
        EXPECT_EQ(nullptr, state.Data);
        EXPECT_EQ(0u, state.Header.FileCount + state.Header.Release);
    }
    const struct {
        const char* why;
        std::size_t at;
        uint8_t value;
    } bends[] = {
        {"another magic", 7, '2'},        {"release 0 (low byte)", 8, 0x00},  {"release 2^31", 11, 0x80},
        {"one file more", 12, 3},         {"one file fewer", 12, 1},          {"manifest of 47 bytes", 16, 47},
        {"manifest past 256 MiB", 19, 0x10}, {"manifest past 4 GiB", 20, 1},
    };
    for (const auto& b : bends) {
        std::vector<uint8_t> bent = good;
        bent[b.at] = b.value;
        if (b.at == 8) bent[9] = 0;  // 10002 is 0x2712
        if (b.at == 16) bent[17] = bent[18] = 0;
        EXPECT_EQ(0, ParseContentState(bent.data(), bent.size(), &state)) << b.why;
        EXPECT_EQ(nullptr, state.Data) << b.why;
    }
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_EQ(0, ParseContentState(longer.data(), longer.size(), &state));
    EXPECT_EQ(0, ParseContentState(nullptr, 0, &state));
}

TEST(ContentState, DescribesOnlyTheManifestItWasWrittenFor) {
    ReleaseModel model;
    model.Release = 10002;
    model.AddPack(10002, 0);
    model.AddChunk(1, 20000, 10);
    model.AddChunk(2, 30000, 10);
    model.AddFile("a.bin", {0, 1});
    model.AddFile("b.bin", {1});
    const std::vector<uint8_t> bytes = model.Settle().Bytes();
    ReleaseManifest manifest;
    ASSERT_EQ(1, ParseReleaseManifest(bytes.data(), bytes.size(), &manifest));

    ContentStateHeader h = HeaderFor(2);
    h.ManifestSize = bytes.size();
    const std::vector<ContentFileStamp> stamps = {{50000, 7}, {0, 0}};  // b.bin: nothing vouched
    const std::vector<uint8_t> good = StateBytes(h, stamps);
    ContentState state;
    ASSERT_EQ(1, ParseContentState(good.data(), good.size(), &state));
    EXPECT_TRUE(ContentStateDescribes(state, manifest, h.ManifestSha256));

    uint8_t otherSha[kReleaseHashSize];
    std::memcpy(otherSha, h.ManifestSha256, sizeof otherSha);
    otherSha[31] ^= 1;
    EXPECT_FALSE(ContentStateDescribes(state, manifest, otherSha));
    for (int bend = 0; bend < 4; ++bend) {
        ContentStateHeader other = h;
        std::vector<ContentFileStamp> otherStamps = stamps;
        if (bend == 0) other.Release = 10001;
        if (bend == 1) other.ManifestSize += 1;
        if (bend == 2) other.FileCount = 1, otherStamps.resize(1);
        if (bend == 3) otherStamps[0].Size = 49999;  // a.bin vouched for at a size it never had
        const std::vector<uint8_t> bent = StateBytes(other, otherStamps);
        ASSERT_EQ(1, ParseContentState(bent.data(), bent.size(), &state));
        EXPECT_FALSE(ContentStateDescribes(state, manifest, h.ManifestSha256)) << bend;
    }
    EXPECT_FALSE(ContentStateDescribes(ContentState(), manifest, h.ManifestSha256));
}

TEST(ContentState, AStampVouchesForTheSameSizeAndTimeOnly) {
    const ContentFileStamp stamp = {4096, 0x01DB4C2A12345678ull};
    EXPECT_TRUE(StampVouches(stamp, 4096, 0x01DB4C2A12345678ull));
    EXPECT_FALSE(StampVouches(stamp, 4097, 0x01DB4C2A12345678ull));
    EXPECT_FALSE(StampVouches(stamp, 4096, 0x01DB4C2A12345679ull));
    EXPECT_FALSE(StampVouches(stamp, 4096 + (1ull << 32), 0x01DB4C2A12345678ull));
    EXPECT_FALSE(StampVouches({0, 0}, 0, 0));
}

TEST(ContentState, KeepsItsFilesUnderNamesNoReleaseMayList) {
    char name[32];
    ASSERT_EQ(1, KeptReleaseName(10002, name, sizeof name));
    EXPECT_STREQ("content.10002.release", name);
    ASSERT_EQ(1, KeptReleaseName(0x7FFFFFFF, name, sizeof name));
    EXPECT_STREQ("content.2147483647.release", name);
    char small[21];
    EXPECT_EQ(0, KeptReleaseName(10002, small, sizeof small));

    for (const char* path : {static_cast<const char*>(name), kContentStateName}) {
        ReleaseModel model;
        model.AddFile(path, {});
        const std::vector<uint8_t> bytes = model.Settle().Bytes();
        ReleaseManifest manifest;
        EXPECT_EQ(0, ParseReleaseManifest(bytes.data(), bytes.size(), &manifest)) << path;
    }
}
