// Writing and parsing the state file of the content mode.
#include "content_format/local_state.h"

#include <cstring>

#include "common/bounded_text.h"
#include "common/little_endian.h"

namespace {

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
    StoreLe32(piece + 8, header.Release);
    StoreLe32(piece + 12, header.FileCount);
    StoreLe64(piece + 16, header.ManifestSize);
    std::memcpy(piece + 24, header.ManifestSha256, kReleaseHashSize);
    if (!writer(context, piece, kContentStateHeaderSize)) return 0;
    std::size_t used = 0;
    for (uint32_t i = 0; i < header.FileCount; ++i) {
        StoreLe64(piece + used, stamps[i].Size);
        StoreLe64(piece + used + 8, stamps[i].LastWrite);
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
    h.Release = LoadLe32(data + 8);
    h.FileCount = LoadLe32(data + 12);
    h.ManifestSize = LoadLe64(data + 16);
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
    return ContentFileStamp{LoadLe64(p), LoadLe64(p + 8)};
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
