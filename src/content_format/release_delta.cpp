// Release-manifest delta names and their application in memory.
#include "content_format/release_delta.h"

#include <cstring>

#include "common/bounded_text.h"
#include "content_format/delta_apply.h"

namespace {

constexpr uint32_t kLargestRelease = 0x7FFFFFFFu;

// Reads a decimal release number at *at up to the byte stop; 1, or 0 for none, a leading zero,
// a number out of range or a missing stop.
int ReadRelease(const char** at, char stop, uint32_t* out) {
    const char* p = *at;
    if (*p < '1' || *p > '9') return 0;
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<uint64_t>(*p - '0');
        if (value > kLargestRelease) return 0;
    }
    if (*p != stop) return 0;
    *out = static_cast<uint32_t>(value);
    *at = p + 1;
    return 1;
}

// The whole result is one piece, gathered straight into the caller's buffer.
struct WholeOut {
    uint32_t Size;
};

uint32_t WholeSize(void* context, uint32_t) { return static_cast<WholeOut*>(context)->Size; }

int TakeWhole(void*, uint32_t, const uint8_t*, uint32_t) { return 1; }

struct MemoryDelta {
    const uint8_t* Data;
    std::size_t Left;
};

int ReadMemory(void* context, uint8_t* data, uint32_t size) {
    MemoryDelta& d = *static_cast<MemoryDelta*>(context);
    if (size > d.Left) return 0;
    std::memcpy(data, d.Data, size);
    d.Data += size;
    d.Left -= size;
    return 1;
}

}  // namespace

int ReleaseDeltaPath(uint32_t release, uint32_t base, char* out, std::size_t size) {
    return FormatText(out, size, "%s%u-%u.delta", kReleaseDeltaFolder, static_cast<unsigned>(release),
                      static_cast<unsigned>(base))
               ? 1
               : 0;
}

int ReleaseDeltaBase(const char* path, uint32_t release, uint32_t* base) {
    const std::size_t folder = std::strlen(kReleaseDeltaFolder);
    if (std::strncmp(path, kReleaseDeltaFolder, folder) != 0) return 0;
    const char* at = path + folder;
    uint32_t named = 0, from = 0;
    if (!ReadRelease(&at, '-', &named) || named != release || !ReadRelease(&at, '.', &from)) return 0;
    if (std::strcmp(at, "delta") != 0 || from >= release) return 0;
    *base = from;
    return 1;
}

int ApplyReleaseDelta(const uint8_t* base, std::size_t baseSize, const uint8_t* delta, std::size_t deltaSize,
                      uint8_t* out, std::size_t outSize) {
    // A release manifest is at most 256 MiB, so one piece of it fits the pieces' 32-bit sizes.
    if (outSize == 0 || outSize > UINT32_MAX || deltaSize == 0) return kDeltaSizeDiffers;
    WholeOut whole{static_cast<uint32_t>(outSize)};
    MemoryDelta source{delta, deltaSize};
    const DeltaSource reader{ReadMemory, &source, deltaSize};
    const DeltaPieces pieces{1, WholeSize, TakeWhole, &whole, out, whole.Size};
    return ApplyDelta(base, baseSize, reader, outSize, pieces, kDeltaMemoryLimit);
}
