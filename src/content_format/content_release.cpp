// Parsing the release manifest in place, and reading its tables.
#include "content_format/content_release.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/bounded_text.h"
#include "common/little_endian.h"
#include "content_format/content_chunker.h"
#include "paths/name_fold.h"
#include "paths/safe_path.h"
#include "paths/short_name_alias.h"

namespace {

const uint8_t* PackBytes(const ReleaseManifest& m, uint32_t i) { return m.Data + m.PacksAt + std::size_t{i} * kReleasePackSize; }
const uint8_t* ChunkBytes(const ReleaseManifest& m, uint32_t i) { return m.Data + m.ChunksAt + std::size_t{i} * kReleaseChunkSize; }
const uint8_t* FileBytes(const ReleaseManifest& m, uint32_t i) { return m.Data + m.FilesAt + std::size_t{i} * kReleaseFileSize; }
const uint8_t* DeltaBytes(const ReleaseManifest& m, uint32_t i) { return m.Data + m.DeltasAt + std::size_t{i} * kReleaseDeltaSize; }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool FoldedEquals(const char* text, std::size_t length, const char* name) {
    return CompareFoldedNames(text, length, name, std::strlen(name)) == 0;
}

// The header's counts and sizes, and where each table starts; the tables end exactly at length.
bool ReadHeader(const uint8_t* data, std::size_t length, ReleaseManifest* m) {
    if (length < kReleaseHeaderSize || length > kReleaseMaxBytes) return false;
    if (std::memcmp(data, kReleaseMagic, kReleaseMagicSize) != 0) return false;
    m->Release = LoadLe32(data + 8);
    m->ChunkMin = LoadLe32(data + 12);
    m->ChunkAvg = LoadLe32(data + 16);
    m->ChunkMax = LoadLe32(data + 20);
    m->PackCount = LoadLe32(data + 24);
    m->ChunkCount = LoadLe32(data + 28);
    m->FileCount = LoadLe32(data + 32);
    m->ReferenceCount = LoadLe32(data + 36);
    m->DeltaCount = LoadLe32(data + 40);
    m->PathBytes = LoadLe32(data + 44);
    if (m->Release < 1 || m->Release > kReleaseMaxVersion) return false;
    ChunkSizes sizes;
    sizes.min = m->ChunkMin;
    sizes.avg = m->ChunkAvg;
    sizes.max = m->ChunkMax;
    if (!ReleaseChunkSizesValid(sizes)) return false;
    if (m->PackCount > kReleaseMaxPacks || m->ChunkCount > kReleaseMaxChunks || m->FileCount > kReleaseMaxFiles ||
        m->ReferenceCount > kReleaseMaxReferences || m->DeltaCount > uint64_t{kReleaseMaxDeltasPerFile} * m->FileCount || m->PathBytes > kReleaseMaxPathBytes)
        return false;
    // With the counts bounded the tables end below 3 GiB: neither these 64-bit sums nor the
    // offsets kept in size_t (32 bits on i686) can wrap.
    uint64_t at = kReleaseHeaderSize;
    m->PacksAt = static_cast<std::size_t>(at);
    at += uint64_t{kReleasePackSize} * m->PackCount;
    m->ChunksAt = static_cast<std::size_t>(at);
    at += uint64_t{kReleaseChunkSize} * m->ChunkCount;
    m->FilesAt = static_cast<std::size_t>(at);
    at += uint64_t{kReleaseFileSize} * m->FileCount;
    m->ReferencesAt = static_cast<std::size_t>(at);
    at += uint64_t{kReleaseReferenceSize} * m->ReferenceCount;
    m->DeltasAt = static_cast<std::size_t>(at);
    at += uint64_t{kReleaseDeltaSize} * m->DeltaCount;
    m->PathsAt = static_cast<std::size_t>(at);
    at += m->PathBytes;
    return at == length;
}

// Ascending (release, index) makes every pack distinct and the manifest canonical.
bool CheckPacks(const ReleaseManifest& m) {
    for (uint32_t i = 0; i < m.PackCount; ++i) {
        const ReleasePack pack = ReleasePackAt(m, i);
        if (pack.Release > m.Release || pack.Size >= (1ull << 32)) return false;
        if (i > 0) {
            const ReleasePack before = ReleasePackAt(m, i - 1);
            const bool ascending = before.Release < pack.Release || (before.Release == pack.Release && before.Index < pack.Index);
            if (!ascending) return false;
        }
    }
    return true;
}

// In (pack, offset) order, each chunk after the end of the one before it in the same pack:
// a pack is frames back to back, so two chunks can never share bytes, and the plan's merging
// of neighbours relies on it.
bool CheckChunks(const ReleaseManifest& m) {
    uint32_t lastPack = 0;
    uint64_t lastEnd = 0;
    for (uint32_t i = 0; i < m.ChunkCount; ++i) {
        const ReleaseChunk chunk = ReleaseChunkAt(m, i);
        if (chunk.RawSize < 1 || chunk.RawSize > m.ChunkMax || chunk.StoredSize < 1 || chunk.Pack >= m.PackCount) return false;
        const uint64_t end = uint64_t{chunk.Offset} + chunk.StoredSize;
        if (end > ReleasePackAt(m, chunk.Pack).Size) return false;
        if (i > 0 && (chunk.Pack < lastPack || (chunk.Pack == lastPack && chunk.Offset < lastEnd))) return false;
        lastPack = chunk.Pack;
        lastEnd = end;
    }
    return true;
}

// The files the launcher and the Updater keep in the folder's top level, which is the client
// folder: a release writing one would forge the launcher's own state or programs. The Updater
// also takes any "<name>.updating" or "<name>.replaced" there for a program of its own to repair.
// Compared folded, as NTFS compares names: "CONTENT.STATE" or "Config" opens the same file.
const char* const kReservedTopNames[] = {"config", "config.new", "launcher.exe", "Updater.exe", "QOR_Installer.exe"};
const char* const kReservedTopPrefixes[] = {"update.", "content."};
const char* const kReservedTopSuffixes[] = {".updating", ".replaced"};

bool IsReservedTopLevelName(const char* path, std::size_t length) {
    std::size_t first = 0;
    while (first < length && !IsSeparator(path[first])) ++first;
    for (const char* name : kReservedTopNames)
        if (FoldedEquals(path, first, name)) return true;
    for (const char* prefix : kReservedTopPrefixes)
        if (FoldedStartsWith(path, first, prefix, std::strlen(prefix))) return true;
    for (const char* suffix : kReservedTopSuffixes)
        if (FoldedEndsWith(path, first, suffix, std::strlen(suffix))) return true;
    return false;
}

// Paths are UTF-8, so that a name means the same on every player's Windows whatever its
// code page: whole sequences only, no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const char* text, std::size_t length) {
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    for (std::size_t i = 0; i < length;) {
        const uint8_t lead = p[i];
        std::size_t extra = 0;
        uint32_t low = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) extra = 1, low = 0x80;
        else if (lead >= 0xE0 && lead <= 0xEF) extra = 2, low = 0x800;
        else if (lead >= 0xF0 && lead <= 0xF4) extra = 3, low = 0x10000;
        else return false;
        if (length - i <= extra) return false;
        uint32_t code = lead & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

// COM and LPT with a superscript one, two or three reach a port too; the safe-path rules know
// them in CP949, a release spells them in UTF-8 (C2 B9, C2 B2, C2 B3).
bool IsUtf8SuperscriptPort(const char* component, std::size_t length) {
    std::size_t base = 0;
    while (base < length && component[base] != '.') ++base;
    while (base > 0 && component[base - 1] == ' ') --base;
    if (base != 5 || static_cast<uint8_t>(component[3]) != 0xC2) return false;
    const uint8_t digit = static_cast<uint8_t>(component[4]);
    if (digit != 0xB9 && digit != 0xB2 && digit != 0xB3) return false;
    return FoldedEquals(component, 3, "com") || FoldedEquals(component, 3, "lpt");
}

bool HasUtf8SuperscriptPort(const char* path, std::size_t length) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= length; ++i) {
        if (i < length && path[i] != '/') continue;
        if (IsUtf8SuperscriptPort(path + start, i - start)) return true;
        start = i + 1;
    }
    return false;
}

// 1 to 255 bytes of UTF-8, "/" between folders (so neither "\" nor a NUL that would end the
// name early, nor a trailing "/"), and the safe-path rules on what is left.
bool IsAcceptablePath(const char* path, std::size_t length) {
    if (length < 1 || length > kReleaseMaxPathLength) return false;
    if (std::memchr(path, '\0', length) || std::memchr(path, '\\', length) || path[length - 1] == '/') return false;
    if (!IsValidUtf8(path, length) || HasUtf8SuperscriptPort(path, length)) return false;
    char name[kReleaseMaxPathLength + 1];
    std::memcpy(name, path, length);
    name[length] = '\0';
    return IsSafeRelativePath(name) && !HasShortNameAliasShape(path, length) && !IsReservedTopLevelName(path, length);
}

bool ByteOrderBefore(const ReleaseFile& a, const ReleaseFile& b) {
    const int order = std::memcmp(a.Path, b.Path, std::min(a.PathLength, b.PathLength));
    return order < 0 || (order == 0 && a.PathLength < b.PathLength);
}

// One file's references: chunks that exist and whose sizes add up to the file's.
bool CheckReferences(const ReleaseManifest& m, const ReleaseFile& file) {
    uint64_t sum = 0;
    for (uint32_t r = file.FirstReference; r < file.FirstReference + file.ReferenceCount; ++r) {
        const uint32_t chunk = ReleaseReferenceAt(m, r);
        if (chunk >= m.ChunkCount) return false;
        sum += ReleaseChunkAt(m, chunk).RawSize;
    }
    return sum == file.Size;
}

// Reference ranges and paths both follow each other from 0 to the end of their tables.
bool CheckFiles(const ReleaseManifest& m) {
    uint64_t nextReference = 0;
    uint64_t nextPath = 0;
    for (uint32_t i = 0; i < m.FileCount; ++i) {
        const uint8_t* p = FileBytes(m, i);
        if (LoadLe16(p + 22) != 0) return false;  // flags
        if (LoadLe32(p + 8) != nextReference || LoadLe32(p + 16) != nextPath) return false;
        const ReleaseFile file = ReleaseFileAt(m, i);
        nextReference += file.ReferenceCount;
        nextPath += file.PathLength;
        if (nextReference > m.ReferenceCount || nextPath > m.PathBytes) return false;
        if (!CheckReferences(m, file)) return false;
        if (!IsAcceptablePath(file.Path, file.PathLength)) return false;
        if (i > 0 && !ByteOrderBefore(ReleaseFileAt(m, i - 1), file)) return false;
    }
    return nextReference == m.ReferenceCount && nextPath == m.PathBytes;
}

bool CheckDeltas(const ReleaseManifest& m) {
    for (uint32_t i = 0; i < m.DeltaCount; ++i) {
        const ReleaseDelta delta = ReleaseDeltaAt(m, i);
        if (delta.File >= m.FileCount || delta.BaseRelease >= m.Release || delta.Pack >= m.PackCount) return false;
        if (uint64_t{delta.Offset} + delta.StoredSize > ReleasePackAt(m, delta.Pack).Size) return false;
        if (LoadLe32(DeltaBytes(m, i) + 92) != 0) return false;  // reserved
    }
    return true;
}

// The indexes 0..count-1 in the order less gives, into *out; null when there is no memory.
template <typename Less>
const uint32_t* SortedOrder(std::unique_ptr<uint32_t[]>* out, uint32_t count, Less less) {
    out->reset(new (std::nothrow) uint32_t[count ? count : 1]);
    uint32_t* order = out->get();
    if (!order) return nullptr;
    for (uint32_t i = 0; i < count; ++i) order[i] = i;
    std::sort(order, order + count, less);
    return order;
}

bool IndexChunksByHash(ReleaseManifest* m) {
    const ReleaseManifest& view = *m;
    const uint32_t* order = SortedOrder(&m->ChunksByHash, m->ChunkCount, [&view](uint32_t a, uint32_t b) {
        return std::memcmp(ChunkBytes(view, a), ChunkBytes(view, b), kReleaseHashSize) < 0;
    });
    if (!order) return false;
    for (uint32_t i = 1; i < m->ChunkCount; ++i)
        if (std::memcmp(ChunkBytes(view, order[i - 1]), ChunkBytes(view, order[i]), kReleaseHashSize) == 0) return false;
    return true;
}

// In the folded order a path NTFS takes for another sits right beside it, and so does the
// first path inside a folder whose name is, folded, also a file's ("ö" and "Ö/x").
bool IndexFilesByFoldedPath(ReleaseManifest* m) {
    const ReleaseManifest& view = *m;
    const uint32_t* order = SortedOrder(&m->FilesByFoldedPath, m->FileCount, [&view](uint32_t a, uint32_t b) {
        const ReleaseFile fa = ReleaseFileAt(view, a);
        const ReleaseFile fb = ReleaseFileAt(view, b);
        return CompareFoldedPaths(fa.Path, fa.PathLength, fb.Path, fb.PathLength) < 0;
    });
    if (!order) return false;
    for (uint32_t i = 1; i < m->FileCount; ++i) {
        const ReleaseFile a = ReleaseFileAt(view, order[i - 1]);
        const ReleaseFile b = ReleaseFileAt(view, order[i]);
        if (CompareFoldedNames(a.Path, a.PathLength, b.Path, b.PathLength) == 0 ||
            FoldedIsInside(a.Path, a.PathLength, b.Path, b.PathLength))
            return false;
    }
    return true;
}

bool ParseInto(const uint8_t* data, std::size_t length, ReleaseManifest* m) {
    if (data == nullptr || !ReadHeader(data, length, m)) return false;
    m->Data = data;
    m->Length = length;
    return CheckPacks(*m) && CheckChunks(*m) && CheckFiles(*m) && CheckDeltas(*m) && IndexChunksByHash(m) &&
           IndexFilesByFoldedPath(m);
}

}  // namespace

void EmptyReleaseManifest(ReleaseManifest* manifest) { *manifest = ReleaseManifest(); }

int ParseReleaseManifest(const uint8_t* data, std::size_t length, ReleaseManifest* out) {
    EmptyReleaseManifest(out);
    if (ParseInto(data, length, out)) return 1;
    EmptyReleaseManifest(out);
    return 0;
}

ReleasePack ReleasePackAt(const ReleaseManifest& m, uint32_t i) {
    const uint8_t* p = PackBytes(m, i);
    return ReleasePack{LoadLe32(p), LoadLe32(p + 4), LoadLe64(p + 8)};
}

ReleaseChunk ReleaseChunkAt(const ReleaseManifest& m, uint32_t i) {
    const uint8_t* p = ChunkBytes(m, i);
    return ReleaseChunk{p, LoadLe32(p + 32), LoadLe32(p + 36), LoadLe32(p + 40), LoadLe32(p + 44)};
}

ReleaseFile ReleaseFileAt(const ReleaseManifest& m, uint32_t i) {
    const uint8_t* p = FileBytes(m, i);
    // Only paths checked to lie within the table are ever handed out (the parser looks at
    // the offset before it builds a path from it).
    const char* path = reinterpret_cast<const char*>(m.Data + m.PathsAt + LoadLe32(p + 16));
    return ReleaseFile{LoadLe64(p), LoadLe32(p + 8), LoadLe32(p + 12), path, LoadLe16(p + 20)};
}

uint32_t ReleaseReferenceAt(const ReleaseManifest& m, uint32_t i) {
    return LoadLe32(m.Data + m.ReferencesAt + std::size_t{i} * kReleaseReferenceSize);
}

ReleaseDelta ReleaseDeltaAt(const ReleaseManifest& m, uint32_t i) {
    const uint8_t* p = DeltaBytes(m, i);
    return ReleaseDelta{LoadLe32(p), LoadLe32(p + 4), p + 8, LoadLe64(p + 40), LoadLe32(p + 48), LoadLe32(p + 52), LoadLe32(p + 56), p + 60};
}

namespace {

// Binary search of an index table sorted by what compare(entry) orders against the key
// (negative: the entry sorts before it); 1 with *index the entry found, else 0.
template <class Compare>
int FindInOrder(const uint32_t* order, std::size_t count, Compare compare, uint32_t* index) {
    std::size_t low = 0;
    std::size_t high = count;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const int found = compare(order[middle]);
        if (found == 0) {
            *index = order[middle];
            return 1;
        }
        if (found < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return 0;
}

}  // namespace

int FindReleaseChunk(const ReleaseManifest& m, const uint8_t sha256[kReleaseHashSize], uint32_t* index) {
    return FindInOrder(m.ChunksByHash.get(), m.ChunkCount,
                       [&](uint32_t chunk) { return std::memcmp(ChunkBytes(m, chunk), sha256, kReleaseHashSize); }, index);
}

int FindReleaseFile(const ReleaseManifest& m, const char* path, std::size_t length, uint32_t* index) {
    return FindInOrder(m.FilesByFoldedPath.get(), m.FileCount, [&](uint32_t file) {
        const ReleaseFile entry = ReleaseFileAt(m, file);
        return CompareFoldedPaths(entry.Path, entry.PathLength, path, length);
    }, index);
}

bool ReleaseHasFileInFolder(const ReleaseManifest& m, const char* folder, std::size_t length) {
    if (length == 0 || length > kReleaseMaxPathLength) return false;
    // The paths inside the folder are the ones that start with "<folder>/": in the folded order
    // the first of them is the first path not below that text.
    char prefix[kReleaseMaxPathLength + 1];
    std::memcpy(prefix, folder, length);
    prefix[length] = '/';
    std::size_t low = 0;
    std::size_t high = m.FileCount;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const ReleaseFile entry = ReleaseFileAt(m, m.FilesByFoldedPath[middle]);
        if (CompareFoldedPaths(entry.Path, entry.PathLength, prefix, length + 1) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == m.FileCount) return false;
    const ReleaseFile first = ReleaseFileAt(m, m.FilesByFoldedPath[low]);
    return FoldedIsInside(folder, length, first.Path, first.PathLength);
}

int CompareFoldedPaths(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    return CompareFoldedNames(a, aLength, b, bLength);
}

bool ReleasesCutAlike(const ReleaseManifest& a, const ReleaseManifest& b) {
    return a.ChunkMin == b.ChunkMin && a.ChunkAvg == b.ChunkAvg && a.ChunkMax == b.ChunkMax;
}

int PackPathOf(const ReleasePack& pack, char* out, std::size_t size) {
    return FormatText(out, size, "Content/packs/%u-%u.pack", pack.Release, pack.Index) ? 1 : 0;
}
