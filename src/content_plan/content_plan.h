// The plan of an update in content mode: which files of the new release are already whole,
// where every chunk of the others comes from (a local file, a file built earlier in the same
// run, or its pack), the range requests that fetch the rest, and the files to delete.
//
// The worker carries it out in this order, and the sources are chosen so that every one is
// still there when it is read:
//   1. fetch the requests (ForEachContentRequest), then read the saved chunks (ForEachSavedChunk)
//      from their local files into memory, before any file is replaced;
//   2. build the files that need it in ascending file order, each in a partial file beside it,
//      moved into place as soon as it is whole; just before a file is built, the old files
//      marked BeforeBuilding that stand in its way go (one standing where its path needs a
//      folder, or inside a folder at its path; none of them is ever a source);
//   3. delete the other old files the new release no longer lists.
// So a local source is a file that needs no work, a file deleted only in step 3, a file nobody
// lists, or a file rebuilt at this point or later in step 2 (its old content is still in place).
// A chunk whose only local copy is in a file rebuilt earlier in step 2 (two files trading
// contents) is saved in step 1 instead of fetched, first come first served in build order while
// the saved bytes stay within Input.SaveBound; beyond it, it is fetched.
// A fetched chunk is checked against its name as it arrives, a chunk read from a local file as
// it is read; a local one that no longer matches is fetched on its own then (ReleaseChunkAt
// gives its pack, offset and stored size).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "content_format/content_release.h"

// A needed chunk joins the request before it when at most this many bytes lie between them.
constexpr uint64_t kContentMergeGap = 65536;
// The raw bytes a run saves in memory at most (Input.SaveBound of every launcher, both
// architectures alike, so that the publisher's plan names what any player's launcher fetches).
constexpr uint64_t kContentSaveBound = 64ull << 20;

// A chunk found by cutting a local file with the new release's sizes.
struct ContentCutChunk {
    uint64_t Offset;
    uint32_t Length;
    uint8_t Sha256[kReleaseHashSize];
};

// A local file the worker could not vouch for, cut whole: chunks in order, the first at offset
// 0, each where the one before ended (an empty file has none).
struct ContentCutFile {
    const char* Path;  // PathLength bytes relative to the folder, "/" or "\" between folders
    std::size_t PathLength;
    const ContentCutChunk* Chunks;
    uint32_t ChunkCount;
};

struct ContentPlanInput {
    const ReleaseManifest* NewRelease = nullptr;
    // The installed release the local state describes, or null (nothing known: a classic
    // install, a lost state). Without it nothing is vouched for and nothing is deleted.
    const ReleaseManifest* OldRelease = nullptr;
    // OldRelease->FileCount flags, non-zero for a file whose size and last-write time are still
    // its stamp's (StampVouches); null: none. Ignored when the two releases cut differently
    // (ReleasesCutAlike): the old lists then say nothing of the new chunks, and the worker cuts
    // those files instead.
    const uint8_t* OldVouched = nullptr;
    // Every other local file worth reading: files of either release not vouched for, cut with
    // the new release's sizes. At most one per path (ignoring case); a cut file's chunks
    // describe its path even where OldVouched says the old file is unchanged.
    const ContentCutFile* CutFiles = nullptr;
    uint32_t CutFileCount = 0;
    uint64_t MergeGap = kContentMergeGap;
    // NewRelease->DeltaCount flags, non-zero for a delta whose base the worker believes is the
    // local file at the delta's path (the vouched old file of its base release, or a file whose
    // chunks are that release's); null: no delta is taken. A belief, not a fact: the delta is
    // checked against the base's SHA-256 when applied, and its file falls back to chunks.
    const uint8_t* DeltaBase = nullptr;
    // NewRelease->ChunkCount flags, non-zero for a chunk an earlier run left whole in the cache;
    // null: none. A held chunk is never requested: the build reads it from the cache (and
    // fetches it on its own when it no longer decodes to its name).
    const uint8_t* Held = nullptr;
    // The raw bytes of chunks the worker may read into memory before any file is replaced, for
    // files that need what an earlier rebuild overwrites; 0: none, such chunks are fetched.
    uint64_t SaveBound = 0;
};

constexpr int kSourceFetch = 0;    // fetched from its pack (the chunk's first use in this run)
constexpr int kSourceOldFile = 1;  // File: an old release file, vouched for, as it is now
constexpr int kSourceCutFile = 2;  // File: an index into CutFiles, as it is now
constexpr int kSourceBuilt = 3;    // File: a new release file built earlier in this run (or
                                   // the file being built itself, at an offset it has written)
constexpr int kSourceDelta = 4;    // comes out of File's delta (a kRoadDelta file); when that
                                   // delta fails, the chunk is fetched on its own
constexpr int kSourceSaved = 5;    // read into memory before the build (ForEachSavedChunk); Offset:
                                   // where among the saved bytes; one that did not match when read
                                   // is fetched on its own

// How a file of the new release is made.
constexpr int kRoadWhole = 0;   // already in place: nothing fetched, nothing written
constexpr int kRoadChunks = 1;  // built from local chunks and fetched ones
constexpr int kRoadDelta = 2;   // its delta applied to the local base (chunks when that fails)

struct ContentFileRoad {
    int Road;
    uint32_t Delta;  // kRoadDelta: the delta's index in NewRelease
    uint64_t Bytes;  // what this road fetches for the file: the delta's stored size, or the
                     // stored sizes of the chunks fetched for it first
};

struct ContentChunkSource {
    int Kind;
    uint32_t File;
    uint64_t Offset;
};

// One single-range GET: bytes Offset .. Offset + Length - 1 of pack Pack. It holds the fetched
// chunks among FirstChunk .. LastChunk (manifest order, inclusive); the bytes of the others
// between them are thrown away.
struct ContentFetchRequest {
    uint32_t Pack;
    uint64_t Offset;
    uint64_t Length;
    uint32_t FirstChunk;
    uint32_t LastChunk;
};

struct ContentDeletion {
    uint32_t OldFile;
    int BeforeBuilding;
};

struct ContentPlanTotals {
    uint64_t Bytes = 0;  // the requests' lengths added up
    uint64_t Ideal = 0;  // the fetched chunks' stored sizes added up
    uint32_t Requests = 0;
    uint32_t PacksTouched = 0;
    uint32_t ChunksFetched = 0;
    uint32_t ChunksHeld = 0;  // chunks the build takes from the cache an earlier run left
    uint64_t HeldBytes = 0;   // ... their stored sizes added up (in neither Bytes nor Ideal)
    uint32_t ChunksSaved = 0;  // chunks read from local files into memory before the build
    uint64_t SavedBytes = 0;   // ... their raw sizes added up: the memory they take
    uint32_t FilesWhole = 0;
    uint32_t FilesToBuild = 0;
    uint64_t BytesToBuild = 0;  // the sizes of the files to build added up
    uint32_t Deletions = 0;
    uint32_t DeltasFetched = 0;
    uint64_t DeltaBytes = 0;  // the chosen deltas' stored sizes added up (not in Bytes)
    // Bytes the requests would take with every file on chunks (no delta); equals Bytes when
    // no delta is chosen. Deltas are dropped whenever Bytes + DeltaBytes would not be below it.
    uint64_t BytesWithoutDeltas = 0;
};

// Everything the plan keeps, allocated once by MakeContentPlan: 33 bytes per chunk of the new
// release, 21 per new file, 4 per local file (old files, then cut files), 6 per old file, and
// while it runs 4 per cut file. The releases and cut files it was made from must outlive it.
struct ContentPlan {
    ContentPlanInput Input;
    ContentPlanTotals Totals;
    std::unique_ptr<uint32_t[]> LocalFile;        // per new chunk: its best local source, or none
    std::unique_ptr<uint64_t[]> LocalOffset;      // ... at this offset
    std::unique_ptr<uint32_t[]> FirstUse;         // per new chunk: the first reference built, or none
    std::unique_ptr<uint64_t[]> FirstUseOffset;   // ... at this offset in its file
    std::unique_ptr<uint8_t[]> Fetched;           // per new chunk: fetched, held, saved, or neither
    std::unique_ptr<uint64_t[]> SavedAt;          // per new chunk: where among the saved bytes
    std::unique_ptr<uint8_t[]> Whole;             // per new file
    std::unique_ptr<uint32_t[]> LocalCopy;        // per new file: the local file at its path, or none
    std::unique_ptr<uint32_t[]> Role;             // per local file: what becomes of it
    std::unique_ptr<uint8_t[]> OldKnown;          // per old file: its chunks are the old list
    std::unique_ptr<uint32_t[]> DeletionFile;     // Totals.Deletions old files
    std::unique_ptr<uint8_t[]> DeletionFirst;
    std::unique_ptr<uint32_t[]> FileDelta;        // per new file: the delta it takes, or none
    std::unique_ptr<uint64_t[]> ChunkBytes;       // per new file: stored sizes of the chunks fetched for it first
    std::unique_ptr<uint32_t[]> DeltaOrder;       // Totals.DeltasFetched deltas, in (pack, offset) order
};

// Makes the plan. A file whose local copy is a flagged base (DeltaBase) takes its cheapest
// flagged delta when that is smaller than the chunks fetched for it first; later files that
// need one of those chunks build it from that file. Per-request overhead is not counted.
// 1, or 0 when the input is inconsistent (no new release, a cut file whose
// chunks do not follow each other from 0, two cut files with one path, a flag array missing)
// or memory runs out; the plan is then empty.
int MakeContentPlan(const ContentPlanInput& input, ContentPlan* plan);

// True when the new release's file needs no work: its local copy already has exactly its
// chunks in order.
bool ContentFileIsWhole(const ContentPlan& plan, uint32_t newFile);

// Where the chunk of reference (one of newFile's references) comes from while newFile is built.
// For a kRoadDelta file, a chunk it would have fetched is kSourceDelta (the builder takes it
// from the applied delta, or fetches it alone when the delta fails).
ContentChunkSource ContentSourceOf(const ContentPlan& plan, uint32_t newFile, uint32_t reference);

// Calls visit for every chunk of newFile in order, with its reference, its offset in the file
// and its source; stops when visit returns 0. Returns 1 when every chunk was visited.
typedef int (*ContentChunkVisitor)(void* context, uint32_t reference, uint64_t offset, const ContentChunkSource& source);
int ForEachContentChunk(const ContentPlan& plan, uint32_t newFile, ContentChunkVisitor visit, void* context);

// Calls visit for every request, per pack in ascending offset, packs in manifest order; stops
// when visit returns 0. Returns 1 when every request was visited.
typedef int (*ContentRequestVisitor)(void* context, const ContentFetchRequest& request);
int ForEachContentRequest(const ContentPlan& plan, ContentRequestVisitor visit, void* context);

// Deletion i, below Totals.Deletions, in the old release's file order.
ContentDeletion ContentDeletionAt(const ContentPlan& plan, uint32_t i);

// True when chunk (of the new release) is fetched.
bool ContentChunkFetched(const ContentPlan& plan, uint32_t chunk);
// True when chunk is read from the cache an earlier run left (Input.Held), not fetched: no
// request covers its bytes.
bool ContentChunkHeld(const ContentPlan& plan, uint32_t chunk);

// True when chunk is saved: read from its local file into memory before any file is replaced.
bool ContentChunkSaved(const ContentPlan& plan, uint32_t chunk);

// Calls visit for every saved chunk in manifest order, with the local file to read it from now
// (kSourceOldFile or kSourceCutFile) and where among the saved bytes (Totals.SavedBytes) it goes;
// stops when visit returns 0. Returns 1 when every one was visited.
typedef int (*ContentSavedVisitor)(void* context, uint32_t chunk, const ContentChunkSource& from, uint64_t at);
int ForEachSavedChunk(const ContentPlan& plan, ContentSavedVisitor visit, void* context);

// The road chosen for newFile.
ContentFileRoad ContentRoadOf(const ContentPlan& plan, uint32_t newFile);

// Calls visit for every delta the plan takes (an index into NewRelease's deltas), in pack and
// offset order; stops when visit returns 0. Returns 1 when every one was visited. Each is one
// single-range GET of its pack; ForEachContentRequest never covers a delta.
typedef int (*ContentDeltaVisitor)(void* context, uint32_t delta);
int ForEachContentDelta(const ContentPlan& plan, ContentDeltaVisitor visit, void* context);
