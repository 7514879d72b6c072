// Writing and parsing the state file of the content mode.
#include "content/local_state.h"

#include <cstring>

#include "common/bounded_text.h"

namespace {

uint32_t U32At(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t U64At(const uint8_t* p) { return static_cast<uint64_t>(U32At(p)) | (static_cast<uint64_t>(U32At(p + 4)) << 32); }

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutU64(uint8_t* p, uint64_t v) {
    PutU32(p, static_cast<uint32_t>(v));
    PutU32(p + 4, static_cast<uint32_t>(v >> 32));
}

bool WithinBounds(const ContentStateHeader& h) {
    return h.Release >= 1 && h.Release <= kReleaseMaxVersion && h.FileCount <= kReleaseMaxFiles &&
           h.ManifestSize >= kReleaseHeaderSize && h.ManifestSize <= kReleaseMaxBytes;
}

}  // namespace

int WriteContentState(const ContentStateHeader& header, const ContentFileStamp* stamps, ContentStateWriter writer,
                      void* context) {
    if (!WithinBounds(header) || (header.FileCount > 0 && stamps == nullptr)) return 0;
    // 256 stamps a piece keeps the writer's calls few without a buffer of the state's size.
    uint8_t piece[256 * kContentStampSize];
    static_assert(sizeof piece >= kContentStateHeaderSize, "the header is written from the same buffer");
    std::memcpy(piece, kContentStateMagic, kContentStateMagicSize);
    PutU32(piece + 8, header.Release);
    PutU32(piece + 12, header.FileCount);
    PutU64(piece + 16, header.ManifestSize);
    std::memcpy(piece + 24, header.ManifestSha256, kReleaseHashSize);
    if (!writer(context, piece, kContentStateHeaderSize)) return 0;
    std::size_t used = 0;
    for (uint32_t i = 0; i < header.FileCount; ++i) {
        PutU64(piece + used, stamps[i].Size);
        PutU64(piece + used + 8, stamps[i].LastWrite);
        used += kContentStampSize;
        if (used == sizeof piece || i + 1 == header.FileCount) {
            if (!writer(context, piece, used)) return 0;
            used = 0;
        }
    }
    return 1;
}

int ParseContentState(const uint8_t* data, std::size_t length, ContentState* out) {
    *out = ContentState();
    if (data == nullptr || length < kContentStateHeaderSize) return 0;
    if (std::memcmp(data, kContentStateMagic, kContentStateMagicSize) != 0) return 0;
    ContentStateHeader h;
    h.Release = U32At(data + 8);
    h.FileCount = U32At(data + 12);
    h.ManifestSize = U64At(data + 16);
    std::memcpy(h.ManifestSha256, data + 24, kReleaseHashSize);
    if (!WithinBounds(h)) return 0;
    if (kContentStateHeaderSize + uint64_t{kContentStampSize} * h.FileCount != length) return 0;
    out->Data = data;
    out->Length = length;
    out->Header = h;
    return 1;
}

ContentFileStamp ContentStampAt(const ContentState& state, uint32_t i) {
    const uint8_t* p = state.Data + kContentStateHeaderSize + std::size_t{i} * kContentStampSize;
    return ContentFileStamp{U64At(p), U64At(p + 8)};
}

bool ContentStateDescribes(const ContentState& state, const ReleaseManifest& manifest,
                           const uint8_t manifestSha256[kReleaseHashSize]) {
    const ContentStateHeader& h = state.Header;
    if (state.Data == nullptr || manifest.Data == nullptr) return false;
    if (h.Release != manifest.Release || h.FileCount != manifest.FileCount || h.ManifestSize != manifest.Length) return false;
    if (std::memcmp(h.ManifestSha256, manifestSha256, kReleaseHashSize) != 0) return false;
    for (uint32_t i = 0; i < h.FileCount; ++i) {
        const ContentFileStamp stamp = ContentStampAt(state, i);
        if (stamp.LastWrite != 0 && stamp.Size != ReleaseFileAt(manifest, i).Size) return false;
    }
    return true;
}

bool StampVouches(const ContentFileStamp& stamp, uint64_t size, uint64_t lastWrite) {
    return stamp.LastWrite != 0 && stamp.Size == size && stamp.LastWrite == lastWrite;
}

int KeptReleaseName(uint32_t release, char* out, std::size_t size) {
    return FormatText(out, size, "content.%u.release", static_cast<unsigned>(release)) ? 1 : 0;
}
