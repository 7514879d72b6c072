// Making the plan of a content update and reading it back.
#include "content_plan/content_plan.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
// What becomes of a local file during the run. A file rebuilt as new file n has role n; a
// file left in place until the end has the highest role, so "role >= n" says whether it still
// holds its old content while new file n is built.
constexpr uint32_t kRoleStable = 0xFFFFFFFFu;
constexpr uint32_t kRoleUnusable = 0xFFFFFFFEu;  // never read: unknown content, or deleted first
// Fetched: where the first use of a chunk no local file can give takes it from.
constexpr uint8_t kFromPack = 1;
constexpr uint8_t kFromHeld = 2;
constexpr uint8_t kFromSaved = 3;

template <typename T>
bool Allocate(std::unique_ptr<T[]>* array, std::size_t count, T fill) {
    array->reset(new (std::nothrow) T[count ? count : 1]);
    if (!*array) return false;
    std::fill(array->get(), array->get() + count, fill);
    return true;
}

const ReleaseManifest& NewOf(const ContentPlan& p) { return *p.Input.NewRelease; }
uint32_t OldCount(const ContentPlan& p) { return p.Input.OldRelease ? p.Input.OldRelease->FileCount : 0; }

// Chunks from offset 0, each where the last ended, none empty; paths not empty.
bool CutFilesAreWhole(const ContentPlanInput& input) {
    if (input.CutFileCount > 0 && input.CutFiles == nullptr) return false;
    for (uint32_t k = 0; k < input.CutFileCount; ++k) {
        const ContentCutFile& file = input.CutFiles[k];
        if (file.Path == nullptr || file.PathLength == 0 || (file.ChunkCount > 0 && file.Chunks == nullptr)) return false;
        uint64_t next = 0;
        for (uint32_t i = 0; i < file.ChunkCount; ++i) {
            if (file.Chunks[i].Offset != next || file.Chunks[i].Length == 0) return false;
            next += file.Chunks[i].Length;
        }
    }
    return true;
}

bool CutPathsAreDistinct(const ContentPlanInput& input) {
    std::unique_ptr<uint32_t[]> order;
    if (!Allocate(&order, input.CutFileCount, 0u)) return false;
    for (uint32_t k = 0; k < input.CutFileCount; ++k) order[k] = k;
    const ContentCutFile* files = input.CutFiles;
    const auto compare = [files](uint32_t a, uint32_t b) {
        return CompareFoldedPaths(files[a].Path, files[a].PathLength, files[b].Path, files[b].PathLength);
    };
    std::sort(order.get(), order.get() + input.CutFileCount, [&compare](uint32_t a, uint32_t b) { return compare(a, b) < 0; });
    for (uint32_t i = 1; i < input.CutFileCount; ++i)
        if (compare(order[i - 1], order[i]) == 0) return false;
    return true;
}

bool AllocateAll(ContentPlan* p) {
    const ReleaseManifest& m = NewOf(*p);
    const std::size_t locals = std::size_t{OldCount(*p)} + p->Input.CutFileCount;
    return Allocate(&p->LocalFile, m.ChunkCount, kNone) && Allocate(&p->LocalOffset, m.ChunkCount, uint64_t{0}) &&
           Allocate(&p->FirstUse, m.ChunkCount, kNone) && Allocate(&p->FirstUseOffset, m.ChunkCount, uint64_t{0}) &&
           Allocate(&p->Fetched, m.ChunkCount, uint8_t{0}) && Allocate(&p->SavedAt, m.ChunkCount, uint64_t{0}) &&
           Allocate(&p->Whole, m.FileCount, uint8_t{0}) &&
           Allocate(&p->LocalCopy, m.FileCount, kNone) && Allocate(&p->Role, locals, kRoleUnusable) &&
           Allocate(&p->OldKnown, OldCount(*p), uint8_t{0}) && Allocate(&p->DeletionFile, OldCount(*p), 0u) &&
           Allocate(&p->DeletionFirst, OldCount(*p), uint8_t{0}) && Allocate(&p->FileDelta, m.FileCount, kNone) &&
           Allocate(&p->ChunkBytes, m.FileCount, uint64_t{0}) && Allocate(&p->DeltaOrder, m.FileCount, 0u);
}

// An old file's chunks are its list in the old release when it is vouched for, the releases
// cut alike, and no cut of it was given.
void MarkOldKnown(ContentPlan* p) {
    const ContentPlanInput& in = p->Input;
    if (!in.OldRelease || !in.OldVouched || !ReleasesCutAlike(*in.OldRelease, *in.NewRelease)) return;
    for (uint32_t o = 0; o < in.OldRelease->FileCount; ++o) p->OldKnown[o] = in.OldVouched[o] ? 1 : 0;
    for (uint32_t k = 0; k < in.CutFileCount; ++k) {
        uint32_t o = 0;
        if (FindReleaseFile(*in.OldRelease, in.CutFiles[k].Path, in.CutFiles[k].PathLength, &o)) p->OldKnown[o] = 0;
    }
}

void FindLocalCopies(ContentPlan* p) {
    const ContentPlanInput& in = p->Input;
    uint32_t n = 0;
    for (uint32_t o = 0; o < OldCount(*p); ++o) {
        const ReleaseFile f = ReleaseFileAt(*in.OldRelease, o);
        if (p->OldKnown[o] && FindReleaseFile(*in.NewRelease, f.Path, f.PathLength, &n)) p->LocalCopy[n] = o;
    }
    for (uint32_t k = 0; k < in.CutFileCount; ++k)
        if (FindReleaseFile(*in.NewRelease, in.CutFiles[k].Path, in.CutFiles[k].PathLength, &n))
            p->LocalCopy[n] = OldCount(*p) + k;
}

bool OldFileMatches(const ContentPlan& p, uint32_t o, uint32_t n) {
    const ReleaseManifest& old = *p.Input.OldRelease;
    const ReleaseFile a = ReleaseFileAt(old, o);
    const ReleaseFile b = ReleaseFileAt(NewOf(p), n);
    if (a.Size != b.Size || a.ReferenceCount != b.ReferenceCount) return false;
    for (uint32_t i = 0; i < a.ReferenceCount; ++i) {
        const ReleaseChunk x = ReleaseChunkAt(old, ReleaseReferenceAt(old, a.FirstReference + i));
        const ReleaseChunk y = ReleaseChunkAt(NewOf(p), ReleaseReferenceAt(NewOf(p), b.FirstReference + i));
        if (x.RawSize != y.RawSize || std::memcmp(x.Sha256, y.Sha256, kReleaseHashSize) != 0) return false;
    }
    return true;
}

bool CutFileMatches(const ContentPlan& p, uint32_t k, uint32_t n) {
    const ContentCutFile& cut = p.Input.CutFiles[k];
    const ReleaseFile b = ReleaseFileAt(NewOf(p), n);
    if (cut.ChunkCount != b.ReferenceCount) return false;
    for (uint32_t i = 0; i < cut.ChunkCount; ++i) {
        const ReleaseChunk y = ReleaseChunkAt(NewOf(p), ReleaseReferenceAt(NewOf(p), b.FirstReference + i));
        if (cut.Chunks[i].Length != y.RawSize || std::memcmp(cut.Chunks[i].Sha256, y.Sha256, kReleaseHashSize) != 0)
            return false;
    }
    return true;
}

void MarkWhole(ContentPlan* p) {
    for (uint32_t n = 0; n < NewOf(*p).FileCount; ++n) {
        const uint32_t local = p->LocalCopy[n];
        if (local == kNone) continue;
        const bool whole = local < OldCount(*p) ? OldFileMatches(*p, local, n) : CutFileMatches(*p, local - OldCount(*p), n);
        p->Whole[n] = whole ? 1 : 0;
    }
}

// A file that must go before the new files can be made: a new path needs a folder where it
// is, or one of its folders is a new file's path.
bool InTheWay(const ReleaseManifest& release, const char* path, std::size_t length) {
    if (ReleaseHasFileInFolder(release, path, length)) return true;
    uint32_t n = 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((path[i] == '/' || path[i] == '\\') && FindReleaseFile(release, path, i, &n)) return true;
    return false;
}

// What becomes of the local file at path: rebuilt, left in place, or deleted before building.
uint32_t RoleOf(const ContentPlan& p, const char* path, std::size_t length) {
    uint32_t n = 0;
    if (FindReleaseFile(NewOf(p), path, length, &n)) return p.Whole[n] ? kRoleStable : n;
    uint32_t o = 0;
    const bool deleted = p.Input.OldRelease && FindReleaseFile(*p.Input.OldRelease, path, length, &o);
    return deleted && InTheWay(NewOf(p), path, length) ? kRoleUnusable : kRoleStable;
}

void AssignRoles(ContentPlan* p) {
    for (uint32_t o = 0; o < OldCount(*p); ++o) {
        const ReleaseFile f = ReleaseFileAt(*p->Input.OldRelease, o);
        if (p->OldKnown[o]) p->Role[o] = RoleOf(*p, f.Path, f.PathLength);
    }
    for (uint32_t k = 0; k < p->Input.CutFileCount; ++k)
        p->Role[OldCount(*p) + k] = RoleOf(*p, p->Input.CutFiles[k].Path, p->Input.CutFiles[k].PathLength);
}

// Keeps the local copy of a chunk that stays readable longest: one left in place over any
// rebuilt file, else the file rebuilt last.
void OfferLocal(ContentPlan* p, const uint8_t* sha256, uint32_t length, uint32_t local, uint64_t offset) {
    if (p->Role[local] == kRoleUnusable) return;
    uint32_t c = 0;
    if (!FindReleaseChunk(NewOf(*p), sha256, &c) || ReleaseChunkAt(NewOf(*p), c).RawSize != length) return;
    const uint32_t held = p->LocalFile[c];
    if (held != kNone && p->Role[held] >= p->Role[local]) return;
    p->LocalFile[c] = local;
    p->LocalOffset[c] = offset;
}

void CollectLocalChunks(ContentPlan* p) {
    const ReleaseManifest* old = p->Input.OldRelease;
    for (uint32_t o = 0; o < OldCount(*p); ++o) {
        if (!p->OldKnown[o]) continue;
        const ReleaseFile f = ReleaseFileAt(*old, o);
        uint64_t offset = 0;
        for (uint32_t r = f.FirstReference; r < f.FirstReference + f.ReferenceCount; ++r) {
            const ReleaseChunk chunk = ReleaseChunkAt(*old, ReleaseReferenceAt(*old, r));
            OfferLocal(p, chunk.Sha256, chunk.RawSize, o, offset);
            offset += chunk.RawSize;
        }
    }
    for (uint32_t k = 0; k < p->Input.CutFileCount; ++k) {
        const ContentCutFile& cut = p->Input.CutFiles[k];
        for (uint32_t i = 0; i < cut.ChunkCount; ++i)
            OfferLocal(p, cut.Chunks[i].Sha256, cut.Chunks[i].Length, OldCount(*p) + k, cut.Chunks[i].Offset);
    }
}

bool LocalReadable(const ContentPlan& p, uint32_t chunk, uint32_t newFile) {
    const uint32_t local = p.LocalFile[chunk];
    return local != kNone && p.Role[local] >= newFile;
}

// A chunk whose local copy is in a file rebuilt before its first use is read from there before
// any file is replaced rather than fetched, while the bound allows: a 32-bit launcher's memory
// is scarce.
bool Save(ContentPlan* p, uint32_t c) {
    const uint32_t raw = ReleaseChunkAt(NewOf(*p), c).RawSize;
    if (p->LocalFile[c] == kNone || p->Input.SaveBound - p->Totals.SavedBytes < raw) return false;
    p->Fetched[c] = kFromSaved;
    p->SavedAt[c] = p->Totals.SavedBytes;
    p->Totals.SavedBytes += raw;
    ++p->Totals.ChunksSaved;
    return true;
}

// Where the first use of chunk c, in new file n, takes it from when no local copy is readable.
void MarkFirstUse(ContentPlan* p, uint32_t c, uint32_t n) {
    if (LocalReadable(*p, c, n)) return;
    if (p->Input.Held && p->Input.Held[c]) {
        p->Fetched[c] = kFromHeld;
        return;
    }
    if (Save(p, c)) return;
    p->Fetched[c] = kFromPack;
    p->ChunkBytes[n] += ReleaseChunkAt(NewOf(*p), c).StoredSize;
}

// In build order: a chunk is fetched at its first use when no local copy is readable then, held
// or saved; every later use copies it from where that first use put it.
void WalkBuilds(ContentPlan* p) {
    const ReleaseManifest& m = NewOf(*p);
    for (uint32_t n = 0; n < m.FileCount; ++n) {
        if (p->Whole[n]) {
            ++p->Totals.FilesWhole;
            continue;
        }
        const ReleaseFile f = ReleaseFileAt(m, n);
        ++p->Totals.FilesToBuild;
        p->Totals.BytesToBuild += f.Size;
        uint64_t offset = 0;
        for (uint32_t r = f.FirstReference; r < f.FirstReference + f.ReferenceCount; ++r) {
            const uint32_t c = ReleaseReferenceAt(m, r);
            if (p->FirstUse[c] == kNone) {
                p->FirstUse[c] = r;
                p->FirstUseOffset[c] = offset;
                MarkFirstUse(p, c, n);
            }
            offset += ReleaseChunkAt(m, c).RawSize;
        }
    }
}

void ListDeletions(ContentPlan* p) {
    const ReleaseManifest* old = p->Input.OldRelease;
    for (uint32_t o = 0; o < OldCount(*p); ++o) {
        const ReleaseFile f = ReleaseFileAt(*old, o);
        uint32_t n = 0;
        if (FindReleaseFile(NewOf(*p), f.Path, f.PathLength, &n)) continue;
        p->DeletionFile[p->Totals.Deletions] = o;
        p->DeletionFirst[p->Totals.Deletions] = InTheWay(NewOf(*p), f.Path, f.PathLength) ? 1 : 0;
        ++p->Totals.Deletions;
    }
}

int CountRequest(void* context, const ContentFetchRequest& request) {
    ContentPlanTotals* totals = static_cast<ContentPlanTotals*>(context);
    ++totals->Requests;
    totals->Bytes += request.Length;
    return 1;
}

uint64_t RequestBytes(const ContentPlan& p) {
    ContentPlanTotals totals;
    ForEachContentRequest(p, CountRequest, &totals);
    return totals.Bytes;
}

// Sets or clears the pack fetches of the chunks a delta file would fetch first: the ones
// WalkBuilds marked for it. Held and saved chunks stay so: they cost no request, and a delta
// that fails still finds them.
void MarkDeltaChunks(ContentPlan* p, uint32_t n, uint8_t fetched) {
    const ReleaseManifest& m = NewOf(*p);
    const ReleaseFile f = ReleaseFileAt(m, n);
    for (uint32_t r = f.FirstReference; r < f.FirstReference + f.ReferenceCount; ++r) {
        const uint32_t c = ReleaseReferenceAt(m, r);
        if (p->FirstUse[c] != r || LocalReadable(*p, c, n) || p->Fetched[c] == kFromHeld ||
            p->Fetched[c] == kFromSaved)
            continue;
        p->Fetched[c] = fetched ? kFromPack : 0;
    }
}

// Per file to build: the cheapest flagged delta, kept when below the chunks it fetches first.
// A delta file's chunks still have a first use there, so later files build them from it and
// no other file's cost changes: the choices are independent.
uint32_t PickDeltas(ContentPlan* p) {
    const ReleaseManifest& m = NewOf(*p);
    for (uint32_t d = 0; d < m.DeltaCount; ++d) {
        const ReleaseDelta delta = ReleaseDeltaAt(m, d);
        if (!p->Input.DeltaBase[d] || p->Whole[delta.File]) continue;
        const uint32_t held = p->FileDelta[delta.File];
        if (held == kNone || delta.StoredSize < ReleaseDeltaAt(m, held).StoredSize) p->FileDelta[delta.File] = d;
    }
    uint32_t chosen = 0;
    for (uint32_t n = 0; n < m.FileCount; ++n) {
        const uint32_t d = p->FileDelta[n];
        if (d == kNone) continue;
        if (ReleaseDeltaAt(m, d).StoredSize < p->ChunkBytes[n])
            p->DeltaOrder[chosen++] = d;
        else
            p->FileDelta[n] = kNone;
    }
    return chosen;
}

// A chunk dropped from the middle of a request can leave the request as long as before (the
// gap still merges it), so the deltas are kept only when the whole update is cheaper with
// them. With the chunks alone it never costs more than fetching the files whole: those
// requests cover every request of the chunks.
void ChooseDeltas(ContentPlan* p) {
    p->Totals.BytesWithoutDeltas = RequestBytes(*p);
    if (!p->Input.DeltaBase) return;
    const ReleaseManifest& m = NewOf(*p);
    const uint32_t chosen = PickDeltas(p);
    uint64_t deltaBytes = 0;
    for (uint32_t i = 0; i < chosen; ++i) {
        const ReleaseDelta delta = ReleaseDeltaAt(m, p->DeltaOrder[i]);
        deltaBytes += delta.StoredSize;
        MarkDeltaChunks(p, delta.File, 0);
    }
    if (chosen > 0 && RequestBytes(*p) + deltaBytes >= p->Totals.BytesWithoutDeltas) {
        for (uint32_t i = 0; i < chosen; ++i) {
            const uint32_t n = ReleaseDeltaAt(m, p->DeltaOrder[i]).File;
            MarkDeltaChunks(p, n, 1);
            p->FileDelta[n] = kNone;
        }
        return;
    }
    std::sort(p->DeltaOrder.get(), p->DeltaOrder.get() + chosen, [&m](uint32_t a, uint32_t b) {
        const ReleaseDelta x = ReleaseDeltaAt(m, a);
        const ReleaseDelta y = ReleaseDeltaAt(m, b);
        return x.Pack != y.Pack ? x.Pack < y.Pack : x.Offset < y.Offset;
    });
    p->Totals.DeltasFetched = chosen;
    p->Totals.DeltaBytes = deltaBytes;
}

void CountFetches(ContentPlan* p) {
    const ReleaseManifest& m = NewOf(*p);
    uint32_t lastPack = kNone;
    for (uint32_t c = 0; c < m.ChunkCount; ++c) {
        if (!p->Fetched[c] || p->Fetched[c] == kFromSaved) continue;
        const ReleaseChunk chunk = ReleaseChunkAt(m, c);
        if (p->Fetched[c] == kFromHeld) {
            ++p->Totals.ChunksHeld;
            p->Totals.HeldBytes += chunk.StoredSize;
            continue;
        }
        ++p->Totals.ChunksFetched;
        p->Totals.Ideal += chunk.StoredSize;
        if (chunk.Pack != lastPack) ++p->Totals.PacksTouched;
        lastPack = chunk.Pack;
    }
    ForEachContentRequest(*p, CountRequest, &p->Totals);
}

ContentChunkSource LocalSourceOf(const ContentPlan& p, uint32_t chunk) {
    const uint32_t local = p.LocalFile[chunk];
    const uint32_t olds = OldCount(p);
    return local < olds ? ContentChunkSource{kSourceOldFile, local, p.LocalOffset[chunk]}
                        : ContentChunkSource{kSourceCutFile, local - olds, p.LocalOffset[chunk]};
}

bool InputIsWhole(const ContentPlanInput& in) {
    if (!in.NewRelease || !in.NewRelease->Data) return false;
    if (in.OldRelease && !in.OldRelease->Data) return false;
    return CutFilesAreWhole(in) && CutPathsAreDistinct(in);
}

}  // namespace

int MakeContentPlan(const ContentPlanInput& input, ContentPlan* plan) {
    *plan = ContentPlan();
    if (!InputIsWhole(input)) return 0;
    plan->Input = input;
    if (!AllocateAll(plan)) {
        *plan = ContentPlan();
        return 0;
    }
    MarkOldKnown(plan);
    FindLocalCopies(plan);
    MarkWhole(plan);
    AssignRoles(plan);
    CollectLocalChunks(plan);
    WalkBuilds(plan);
    ChooseDeltas(plan);
    ListDeletions(plan);
    CountFetches(plan);
    return 1;
}

bool ContentFileIsWhole(const ContentPlan& plan, uint32_t newFile) { return plan.Whole[newFile] != 0; }

ContentChunkSource ContentSourceOf(const ContentPlan& plan, uint32_t newFile, uint32_t reference) {
    const ReleaseManifest& m = NewOf(plan);
    const uint32_t c = ReleaseReferenceAt(m, reference);
    if (LocalReadable(plan, c, newFile)) return LocalSourceOf(plan, c);
    const uint32_t first = plan.FirstUse[c];
    if (first == reference && plan.Fetched[c] == kFromSaved) return ContentChunkSource{kSourceSaved, 0, plan.SavedAt[c]};
    if (first == reference && plan.FileDelta[newFile] != kNone) return ContentChunkSource{kSourceDelta, newFile, plan.FirstUseOffset[c]};
    if (first == kNone || first >= reference) return ContentChunkSource{kSourceFetch, 0, 0};
    // The file holding reference first: the last one starting at or before it (empty files
    // share their start with the file after them).
    uint32_t low = 0;
    uint32_t high = m.FileCount;
    while (high - low > 1) {
        const uint32_t middle = low + (high - low) / 2;
        if (ReleaseFileAt(m, middle).FirstReference <= first)
            low = middle;
        else
            high = middle;
    }
    return ContentChunkSource{kSourceBuilt, low, plan.FirstUseOffset[c]};
}

int ForEachContentChunk(const ContentPlan& plan, uint32_t newFile, ContentChunkVisitor visit, void* context) {
    const ReleaseManifest& m = NewOf(plan);
    const ReleaseFile f = ReleaseFileAt(m, newFile);
    uint64_t offset = 0;
    for (uint32_t r = f.FirstReference; r < f.FirstReference + f.ReferenceCount; ++r) {
        if (!visit(context, r, offset, ContentSourceOf(plan, newFile, r))) return 0;
        offset += ReleaseChunkAt(m, ReleaseReferenceAt(m, r)).RawSize;
    }
    return 1;
}

int ForEachContentRequest(const ContentPlan& plan, ContentRequestVisitor visit, void* context) {
    const ReleaseManifest& m = NewOf(plan);
    ContentFetchRequest request = {};
    bool open = false;
    bool heldBetween = false;  // a held chunk since the request's last one: never fetched again
    // Chunks are in (pack, offset) order and never share bytes, so one pass in manifest
    // order meets each pack's needed chunks in ascending offset.
    for (uint32_t c = 0; c < m.ChunkCount; ++c) {
        if (plan.Fetched[c] == kFromHeld) heldBetween = true;
        if (plan.Fetched[c] != kFromPack) continue;
        const ReleaseChunk chunk = ReleaseChunkAt(m, c);
        const uint64_t end = request.Offset + request.Length;
        const bool merge =
            open && !heldBetween && chunk.Pack == request.Pack && chunk.Offset - end <= plan.Input.MergeGap;
        heldBetween = false;
        if (merge) {
            request.Length = chunk.Offset + uint64_t{chunk.StoredSize} - request.Offset;
            request.LastChunk = c;
            continue;
        }
        if (open && !visit(context, request)) return 0;
        request = ContentFetchRequest{chunk.Pack, chunk.Offset, chunk.StoredSize, c, c};
        open = true;
    }
    return open ? visit(context, request) : 1;
}

ContentDeletion ContentDeletionAt(const ContentPlan& plan, uint32_t i) {
    return ContentDeletion{plan.DeletionFile[i], plan.DeletionFirst[i]};
}

bool ContentChunkFetched(const ContentPlan& plan, uint32_t chunk) { return plan.Fetched[chunk] == kFromPack; }

bool ContentChunkHeld(const ContentPlan& plan, uint32_t chunk) { return plan.Fetched[chunk] == kFromHeld; }

bool ContentChunkSaved(const ContentPlan& plan, uint32_t chunk) { return plan.Fetched[chunk] == kFromSaved; }

int ForEachSavedChunk(const ContentPlan& plan, ContentSavedVisitor visit, void* context) {
    for (uint32_t c = 0; c < NewOf(plan).ChunkCount; ++c)
        if (plan.Fetched[c] == kFromSaved && !visit(context, c, LocalSourceOf(plan, c), plan.SavedAt[c])) return 0;
    return 1;
}

ContentFileRoad ContentRoadOf(const ContentPlan& plan, uint32_t newFile) {
    if (plan.Whole[newFile]) return ContentFileRoad{kRoadWhole, 0, 0};
    const uint32_t d = plan.FileDelta[newFile];
    if (d != kNone) return ContentFileRoad{kRoadDelta, d, ReleaseDeltaAt(NewOf(plan), d).StoredSize};
    return ContentFileRoad{kRoadChunks, 0, plan.ChunkBytes[newFile]};
}

int ForEachContentDelta(const ContentPlan& plan, ContentDeltaVisitor visit, void* context) {
    for (uint32_t i = 0; i < plan.Totals.DeltasFetched; ++i)
        if (!visit(context, plan.DeltaOrder[i])) return 0;
    return 1;
}
