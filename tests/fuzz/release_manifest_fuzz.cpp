// The release manifest as a patch server could send it. Input: the manifest's bytes, in a
// heap block of exactly their length (so a read past them is caught).
//
// A refused input must leave an empty manifest. An accepted one must have every table inside
// the input and every rule hold when read back through the accessors: chunks inside their
// packs and found by their names, files' sizes the sums of their chunks, paths safe,
// ascending and found ignoring case, deltas inside their packs; and writing the manifest
// again from the accessors must give the input byte for byte (nothing was skipped or read
// twice).
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "content_format/content_chunker.h"
#include "content_format/content_release.h"
#include "paths/safe_path.h"
#include "fuzz_support.h"

namespace {

void Put(std::vector<uint8_t>* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutBytes(std::vector<uint8_t>* out, const uint8_t* p, std::size_t n) { out->insert(out->end(), p, p + n); }

bool Within(const ReleaseManifest& m, const void* p, std::size_t n) {
    const uint8_t* at = static_cast<const uint8_t*>(p);
    return at >= m.Data && at <= m.Data + m.Length && n <= static_cast<std::size_t>(m.Data + m.Length - at);
}

void CheckChunks(const ReleaseManifest& m) {
    for (uint32_t i = 0; i < m.ChunkCount; ++i) {
        const ReleaseChunk c = ReleaseChunkAt(m, i);
        FUZZ_CHECK(Within(m, c.Sha256, kReleaseHashSize));
        FUZZ_CHECK(c.RawSize >= 1 && c.RawSize <= m.ChunkMax && c.StoredSize >= 1 && c.Pack < m.PackCount);
        FUZZ_CHECK(uint64_t{c.Offset} + c.StoredSize <= ReleasePackAt(m, c.Pack).Size);
        uint32_t found = 0;
        FUZZ_CHECK(FindReleaseChunk(m, c.Sha256, &found) == 1 && found == i);
    }
}

void CheckFiles(const ReleaseManifest& m) {
    uint64_t reference = 0;
    for (uint32_t i = 0; i < m.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(m, i);
        FUZZ_CHECK(f.FirstReference == reference);
        reference += f.ReferenceCount;
        FUZZ_CHECK(reference <= m.ReferenceCount);
        uint64_t sum = 0;
        for (uint32_t r = f.FirstReference; r < f.FirstReference + f.ReferenceCount; ++r) {
            const uint32_t chunk = ReleaseReferenceAt(m, r);
            FUZZ_CHECK(chunk < m.ChunkCount);
            sum += ReleaseChunkAt(m, chunk).RawSize;
        }
        FUZZ_CHECK(sum == f.Size);
        FUZZ_CHECK(f.PathLength >= 1 && f.PathLength <= kReleaseMaxPathLength);
        FUZZ_CHECK(Within(m, f.Path, f.PathLength) && f.Path >= reinterpret_cast<const char*>(m.Data + m.PathsAt));
        char name[kReleaseMaxPathLength + 1];
        std::memcpy(name, f.Path, f.PathLength);
        name[f.PathLength] = '\0';
        FUZZ_CHECK(std::strlen(name) == f.PathLength && IsSafeRelativePath(name));
        FUZZ_CHECK(!std::strchr(name, '\\') && name[f.PathLength - 1] != '/');
        if (i > 0) {
            const ReleaseFile before = ReleaseFileAt(m, i - 1);
            FUZZ_CHECK(CompareFoldedPaths(before.Path, before.PathLength, f.Path, f.PathLength) != 0);
        }
        uint32_t found = 0;
        FUZZ_CHECK(FindReleaseFile(m, f.Path, f.PathLength, &found) == 1 && found == i);
    }
    FUZZ_CHECK(reference == m.ReferenceCount);
}

void CheckDeltas(const ReleaseManifest& m) {
    for (uint32_t i = 0; i < m.DeltaCount; ++i) {
        const ReleaseDelta d = ReleaseDeltaAt(m, i);
        FUZZ_CHECK(Within(m, d.BaseSha256, kReleaseHashSize) && Within(m, d.Sha256, kReleaseHashSize));
        FUZZ_CHECK(d.File < m.FileCount && d.BaseRelease < m.Release && d.Pack < m.PackCount);
        FUZZ_CHECK(uint64_t{d.Offset} + d.StoredSize <= ReleasePackAt(m, d.Pack).Size);
    }
}

// The manifest written again from what the accessors give.
std::vector<uint8_t> Rewrite(const ReleaseManifest& m) {
    std::vector<uint8_t> out;
    PutBytes(&out, reinterpret_cast<const uint8_t*>(kReleaseMagic), kReleaseMagicSize);
    for (uint32_t v : {m.Release, m.ChunkMin, m.ChunkAvg, m.ChunkMax, m.PackCount, m.ChunkCount, m.FileCount,
                       m.ReferenceCount, m.DeltaCount, m.PathBytes})
        Put(&out, v, 4);
    for (uint32_t i = 0; i < m.PackCount; ++i) {
        const ReleasePack p = ReleasePackAt(m, i);
        Put(&out, p.Release, 4), Put(&out, p.Index, 4), Put(&out, p.Size, 8);
    }
    for (uint32_t i = 0; i < m.ChunkCount; ++i) {
        const ReleaseChunk c = ReleaseChunkAt(m, i);
        PutBytes(&out, c.Sha256, kReleaseHashSize);
        for (uint32_t v : {c.RawSize, c.StoredSize, c.Pack, c.Offset}) Put(&out, v, 4);
    }
    uint64_t pathOffset = 0;
    for (uint32_t i = 0; i < m.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(m, i);
        Put(&out, f.Size, 8), Put(&out, f.FirstReference, 4), Put(&out, f.ReferenceCount, 4);
        Put(&out, pathOffset, 4), Put(&out, f.PathLength, 2), Put(&out, 0, 2);
        pathOffset += f.PathLength;
    }
    for (uint32_t i = 0; i < m.ReferenceCount; ++i) Put(&out, ReleaseReferenceAt(m, i), 4);
    for (uint32_t i = 0; i < m.DeltaCount; ++i) {
        const ReleaseDelta d = ReleaseDeltaAt(m, i);
        Put(&out, d.File, 4), Put(&out, d.BaseRelease, 4);
        PutBytes(&out, d.BaseSha256, kReleaseHashSize);
        Put(&out, d.BaseSize, 8), Put(&out, d.Pack, 4), Put(&out, d.Offset, 4), Put(&out, d.StoredSize, 4);
        PutBytes(&out, d.Sha256, kReleaseHashSize);
        Put(&out, 0, 4);
    }
    for (uint32_t i = 0; i < m.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(m, i);
        PutBytes(&out, reinterpret_cast<const uint8_t*>(f.Path), f.PathLength);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(bytes.get(), data, size);
    ReleaseManifest m;
    const int result = ParseReleaseManifest(bytes.get(), size, &m);
    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 0) {
        FUZZ_CHECK(m.Data == nullptr && m.Length == 0 && m.Release == 0);
        FUZZ_CHECK(m.PackCount == 0 && m.ChunkCount == 0 && m.FileCount == 0 && m.ReferenceCount == 0);
        FUZZ_CHECK(m.DeltaCount == 0 && m.PathBytes == 0 && !m.ChunksByHash && !m.FilesByFoldedPath);
        return 0;
    }
    FUZZ_CHECK(m.Data == bytes.get() && m.Length == size);
    FUZZ_CHECK(m.Release >= 1 && m.Release <= kReleaseMaxVersion);
    FUZZ_CHECK(m.ChunkMin >= kReleaseChunkMinLimit && m.ChunkMin < m.ChunkAvg && m.ChunkAvg < m.ChunkMax);
    FUZZ_CHECK(m.ChunkMax <= kChunkSizeLimit && (m.ChunkAvg & (m.ChunkAvg - 1)) == 0);
    FUZZ_CHECK(m.PathsAt + uint64_t{m.PathBytes} == size);
    for (uint32_t i = 0; i < m.PackCount; ++i) {
        const ReleasePack p = ReleasePackAt(m, i);
        FUZZ_CHECK(p.Release <= m.Release && p.Size < (1ull << 32));
    }
    CheckChunks(m);
    CheckFiles(m);
    CheckDeltas(m);
    const std::vector<uint8_t> again = Rewrite(m);
    if (again.size() != size || std::memcmp(again.data(), data, size) != 0)
        FuzzFail(__FILE__, __LINE__, "an accepted manifest is not what its accessors write again");
    return 0;
}
