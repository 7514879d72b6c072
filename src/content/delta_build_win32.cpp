// The content worker's delta road: a file made by applying its delta to the local base, read
// whole into memory and checked against the base's SHA-256 first; each chunk of the result is
// checked against its name as it completes and only then written. Any failure is traced and
// the file is made again from its chunks, in a fresh partial file: the player sees no difference.
#include "content/delta_build_win32.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "content_format/chunk_check_win32.h"
#include "paths/game_folder_win32.h"
#include "update/signature_win32.h"

namespace {

struct DeltaBuild {
    const DeltaRoad* Road;
    ReleaseFile File;
    ReleaseDelta Delta;
    WidePartialFile* Partial;
    uint64_t ReadAt;  // the next delta byte's place in the store
    uint64_t Written = 0;
    const char* Why = nullptr;  // what refused the delta, for the trace
};

int ReadStore(void* context, uint8_t* data, uint32_t size) {
    DeltaBuild& b = *static_cast<DeltaBuild*>(context);
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(b.ReadAt);
    at.OffsetHigh = static_cast<DWORD>(b.ReadAt >> 32);
    DWORD got = 0;
    if (!ReadFile(b.Road->Deltas->Store.Get(), data, size, &got, &at) || got != size) return 0;
    b.ReadAt += size;
    return 1;
}

uint32_t PieceSize(void* context, uint32_t piece) {
    const DeltaBuild& b = *static_cast<const DeltaBuild*>(context);
    const ReleaseManifest& m = *b.Road->Release;
    return ReleaseChunkAt(m, ReleaseReferenceAt(m, b.File.FirstReference + piece)).RawSize;
}

int TakePiece(void* context, uint32_t piece, const uint8_t* data, uint32_t size) {
    DeltaBuild& b = *static_cast<DeltaBuild*>(context);
    const DeltaRoad& road = *b.Road;
    const ReleaseManifest& m = *road.Release;
    const ReleaseChunk c = ReleaseChunkAt(m, ReleaseReferenceAt(m, b.File.FirstReference + piece));
    if (!ChunkHashMatches(data, size, c.Sha256)) return (b.Why = "chunk differs", 0);
    if (!b.Partial->Write(data, size)) return (b.Why = "write", 0);
    b.Written += size;
    road.Tally->BytesDone += size;
    ContentProgress p;
    p.Stage = kStageBuildingDelta;
    p.Done = road.Tally->BytesDone;
    p.ToDo = road.Plan->Totals.BytesToBuild;
    p.PartDone = b.Written;
    p.PartSize = b.File.Size ? b.File.Size : 1;
    p.FilesDone = road.Tally->FilesBuilt;
    p.Files = road.Plan->Totals.FilesToBuild;
    p.Name = b.File.Path;
    p.NameLength = b.File.PathLength;
    road.Report->Progress(p);
    return 1;
}

// The base at the file's path, whole, if it is the one the delta was made against.
bool ReadBase(DeltaBuild& b, const wchar_t* target, std::unique_ptr<uint8_t[]>* base) {
    // Not through a link: its hash would refuse an outside file anyway, but nothing of the
    // machine is read by the elevated launcher for a player's say-so.
    FileHandle file;
    unsigned long error = 0;
    const int opened = OpenGameFile(target, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, &file, &error);
    LARGE_INTEGER size = {};
    if (!opened || !GetFileSizeEx(file.Get(), &size) || static_cast<uint64_t>(size.QuadPart) != b.Delta.BaseSize)
        return (b.Why = "base size", false);
    base->reset(new (std::nothrow) uint8_t[b.Delta.BaseSize ? static_cast<std::size_t>(b.Delta.BaseSize) : 1]);
    if (!*base) return (b.Why = "memory", false);
    for (uint64_t have = 0; have < b.Delta.BaseSize;) {
        const uint64_t left = b.Delta.BaseSize - have;
        const DWORD want = left > (1u << 20) ? (1u << 20) : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(file.Get(), base->get() + have, want, &got, nullptr) || got == 0) return (b.Why = "base read", false);
        have += got;
    }
    uint8_t digest[kSha256Size];
    if (!Sha256Of(base->get(), static_cast<std::size_t>(b.Delta.BaseSize), digest) ||
        std::memcmp(digest, b.Delta.BaseSha256, kSha256Size) != 0)
        return (b.Why = "base differs", false);
    return true;
}

// The memory the delta takes, from its header, before the base is read: above the bound (or an
// address space a 32-bit build cannot give) the file takes its chunks.
bool DeltaFits(DeltaBuild& b) {
    uint8_t head[kDeltaHeadSize];
    const uint32_t n = b.Delta.StoredSize < kDeltaHeadSize ? b.Delta.StoredSize : static_cast<uint32_t>(kDeltaHeadSize);
    const uint64_t start = b.ReadAt;
    uint64_t need = 0;
    if (!ReadStore(&b, head, n)) return (b.Why = "store read", false);
    b.ReadAt = start;
    if (DeltaMemoryNeed(head, n, b.Delta.BaseSize, b.File.Size, &need) != kDeltaApplied) return (b.Why = "header", false);
    if (need > b.Road->Deltas->MemoryLimit || need > SIZE_MAX / 2) return (b.Why = "memory bound", false);
    return true;
}

int ApplyFileDelta(DeltaBuild& b, const wchar_t* target) {
    const DeltaRoad& road = *b.Road;
    if (!DeltaFits(b)) return 0;
    std::unique_ptr<uint8_t[]> base;
    if (!ReadBase(b, target, &base)) return 0;
    DeltaSource source = {ReadStore, &b, b.Delta.StoredSize};
    DeltaPieces pieces = {b.File.ReferenceCount, PieceSize, TakePiece, &b, road.Raw, road.Release->ChunkMax};
    const int result = ApplyDelta(base.get(), static_cast<std::size_t>(b.Delta.BaseSize), source, b.File.Size, pieces,
                                  road.Deltas->MemoryLimit);
    if (result == kDeltaApplied) return 1;
    if (!b.Why) b.Why = result == kDeltaNoMemory ? "memory" : result == kDeltaTooLarge ? "memory bound" : "decode";
    return 0;
}

}  // namespace

int BuildDeltaRoad(const DeltaRoad& road, uint32_t file, WidePartialFile& partial, const wchar_t* target) {
    const ContentFileRoad way = ContentRoadOf(*road.Plan, file);
    if (way.Road != kRoadDelta) return 0;
    const FetchedDeltas& deltas = *road.Deltas;
    DeltaBuild b = {&road, ReleaseFileAt(*road.Release, file), ReleaseDeltaAt(*road.Release, way.Delta), &partial,
                    deltas.At ? deltas.At[way.Delta] : kDeltaNotFetched};
    if (b.ReadAt == kDeltaNotFetched) b.Why = "not fetched";
    if (!b.Why && b.Delta.File == file && ApplyFileDelta(b, target)) return 1;
    char name[kReleaseMaxPathLength + 1];
    FormatText(name, sizeof name, "%.*s", static_cast<int>(b.File.PathLength), b.File.Path);
    TraceFailure("content delta", b.Why ? b.Why : "file", name, partial.LastError());
    road.Tally->BytesDone -= b.Written;
    partial.Discard();
    return partial.Create(target) ? 0 : -1;
}
