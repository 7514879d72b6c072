// The release manifest of the content mode (Content/releases/<V>.release): its strict parser,
// read in place over the caller's bytes, and the accessors and lookups the plan works with.
//
// Binary and little-endian; docs/content-format.md is its contract. Every field is read byte by
// byte, so the parser is right on any host and never reads unaligned; every sum and bound is
// computed in 64 bits, so the i686 build accepts exactly what the x86_64 build accepts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

constexpr std::size_t kReleaseMagicSize = 8;
constexpr const char kReleaseMagic[kReleaseMagicSize + 1] = "QORCONT1";
constexpr std::size_t kReleaseHeaderSize = 48;
constexpr std::size_t kReleasePackSize = 16;
constexpr std::size_t kReleaseChunkSize = 48;
constexpr std::size_t kReleaseFileSize = 24;
constexpr std::size_t kReleaseReferenceSize = 4;
constexpr std::size_t kReleaseDeltaSize = 96;

constexpr uint32_t kReleaseMaxPacks = 65536;
constexpr uint32_t kReleaseMaxChunks = 1u << 24;
constexpr uint32_t kReleaseMaxFiles = 1u << 20;
constexpr uint32_t kReleaseMaxReferences = 1u << 26;
constexpr uint32_t kReleaseMaxPathBytes = 1u << 28;
constexpr uint64_t kReleaseMaxBytes = 256ull * 1024 * 1024;
constexpr uint32_t kReleaseMaxVersion = 0x7FFFFFFFu;
// A file may have a delta from each of this many earlier releases.
constexpr uint32_t kReleaseMaxDeltasPerFile = 16;
constexpr std::size_t kReleaseMaxPathLength = 255;
// The chunk sizes a release may ask the launcher to cut with: ReleaseChunkSizesValid
// (content_chunker.h).

constexpr std::size_t kReleaseHashSize = 32;

struct ReleasePack {
    uint32_t Release;  // Content/packs/<Release>-<Index>.pack
    uint32_t Index;
    uint64_t Size;  // below 2^32
};

struct ReleaseChunk {
    const uint8_t* Sha256;  // 32 bytes inside the manifest's buffer
    uint32_t RawSize;
    uint32_t StoredSize;  // the zstd frame's length in its pack
    uint32_t Pack;        // below PackCount
    uint32_t Offset;      // Offset + StoredSize is within the pack
};

struct ReleaseFile {
    uint64_t Size;  // the sum of its chunks' RawSize
    uint32_t FirstReference;
    uint32_t ReferenceCount;
    const char* Path;  // PathLength bytes inside the manifest's buffer, not terminated
    uint32_t PathLength;
};

struct ReleaseDelta {
    uint32_t File;
    uint32_t BaseRelease;
    const uint8_t* BaseSha256;
    uint64_t BaseSize;
    uint32_t Pack;
    uint32_t Offset;
    uint32_t StoredSize;
    const uint8_t* Sha256;
};

// A parsed manifest refers into the bytes it was parsed from: they must stay unchanged and
// alive as long as it is used (the accessors' pointers point into them). Besides those bytes it
// owns two index arrays: 4 bytes per chunk (chunks in ascending SHA-256, for FindReleaseChunk)
// and 4 bytes per file (files in folded path order, for FindReleaseFile), allocated
// once by the parser, which needs nothing else: at most 68 MiB (2^24 chunks, 2^20 files)
// beside the bytes themselves, about 9% of them for a manifest of 64 KiB chunks. Move-only; an empty manifest (the default, and what a refused input leaves)
// has every count 0 and Data null.
struct ReleaseManifest {
    const uint8_t* Data = nullptr;
    std::size_t Length = 0;
    uint32_t Release = 0;
    uint32_t ChunkMin = 0;
    uint32_t ChunkAvg = 0;
    uint32_t ChunkMax = 0;
    uint32_t PackCount = 0;
    uint32_t ChunkCount = 0;
    uint32_t FileCount = 0;
    uint32_t ReferenceCount = 0;
    uint32_t DeltaCount = 0;
    uint32_t PathBytes = 0;
    // Where each table starts in Data.
    std::size_t PacksAt = 0;
    std::size_t ChunksAt = 0;
    std::size_t FilesAt = 0;
    std::size_t ReferencesAt = 0;
    std::size_t DeltasAt = 0;
    std::size_t PathsAt = 0;
    std::unique_ptr<uint32_t[]> ChunksByHash;
    std::unique_ptr<uint32_t[]> FilesByFoldedPath;
};

// Parses exactly length bytes. Returns 1 when they are a whole manifest that keeps every rule
// of the format; 0 otherwise (also when the index arrays cannot be allocated), and *out is then
// empty, so a refused input never leaves part of itself behind.
int ParseReleaseManifest(const uint8_t* data, std::size_t length, ReleaseManifest* out);

void EmptyReleaseManifest(ReleaseManifest* manifest);

// Entry i of a table; i must be below that table's count.
ReleasePack ReleasePackAt(const ReleaseManifest& manifest, uint32_t i);
ReleaseChunk ReleaseChunkAt(const ReleaseManifest& manifest, uint32_t i);
ReleaseFile ReleaseFileAt(const ReleaseManifest& manifest, uint32_t i);
// The chunk index that reference i names (below ChunkCount).
uint32_t ReleaseReferenceAt(const ReleaseManifest& manifest, uint32_t i);
ReleaseDelta ReleaseDeltaAt(const ReleaseManifest& manifest, uint32_t i);

// The index of the chunk named by this SHA-256: 1 and *index, or 0. O(log ChunkCount).
int FindReleaseChunk(const ReleaseManifest& manifest, const uint8_t sha256[kReleaseHashSize], uint32_t* index);

// The index of the file whose path NTFS takes for path (length bytes): equal once both are
// folded by the upper-case table of paths/name_fold.h: 1 and *index, or 0. "/" and "\" are
// the same here. A parsed release never holds two paths that fold alike.
int FindReleaseFile(const ReleaseManifest& manifest, const char* path, std::size_t length, uint32_t* index);

// True when some file's path lies inside the folder named by folder (length bytes, no trailing
// separator), compared folded as FindReleaseFile does: the folder must exist for that file.
bool ReleaseHasFileInFolder(const ReleaseManifest& manifest, const char* folder, std::size_t length);

// The order in which FindReleaseFile searches: CompareFoldedNames (paths/name_fold.h), code
// points upper-cased as NTFS does, a separator ("/" or "\") below everything, so that a
// folder's entries follow its own name. Negative, 0 or positive like memcmp.
int CompareFoldedPaths(const char* a, std::size_t aLength, const char* b, std::size_t bLength);

// True when both releases cut files into chunks with the same three sizes: only then can the
// chunk lists of one describe local files for the other.
bool ReleasesCutAlike(const ReleaseManifest& a, const ReleaseManifest& b);

// "Content/packs/<R>-<N>.pack", where pack is published. 1, or 0 when it does not fit size bytes.
int PackPathOf(const ReleasePack& pack, char* out, std::size_t size);
