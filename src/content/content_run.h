// What one run of the content worker holds, shared by its steps (fetch, build, finish).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/win32_handle.h"
#include "content/chunk_decode.h"
#include "content/content_cache_win32.h"
#include "content/content_plan.h"
#include "content/delta_apply.h"
#include "content/disk_need.h"
#include "content/local_state.h"
#include "content/release_manifest.h"


struct ContentRun {
    InternetHandle Session;
    int Secure = 0;
    uint32_t Version = 0;  // the release this run installs
    bool Verify = false;   // no stamp vouches: every local file of either release is hashed
    std::unique_ptr<uint8_t[]> NewBytes;
    std::size_t NewLength = 0;
    ReleaseManifest NewRelease;
    std::unique_ptr<uint8_t[]> OldBytes;
    std::unique_ptr<uint8_t[]> StateBytes;
    ReleaseManifest OldRelease;
    ContentState State;
    bool HaveOld = false;
    std::vector<uint8_t> Vouched;                       // per old file
    std::vector<std::string> CutPaths;                  // per cut file
    std::vector<std::vector<ContentCutChunk>> CutChunks;
    std::vector<ContentCutFile> CutFiles;
    ContentPlan Plan;
    ContentCache Cache;
    std::unique_ptr<uint64_t[]> FrameAt;  // per new chunk: where the cache holds its frame
    std::vector<uint8_t> Held;            // per new chunk: a whole record an earlier run left
    uint64_t CacheKeep = 0;               // the bytes of the earlier cache kept (0: started over)
    ChunkDecoder Decoder;
    std::unique_ptr<uint8_t[]> Raw;    // one chunk's bytes, ChunkMax
    std::unique_ptr<uint8_t[]> Frame;  // one stored chunk, StoredChunkBound(ChunkMax)
    // Per new file: the stamp the survey found at its path (the kept one for a vouched file),
    // LastWrite 0 where it found nothing; a file left whole keeps it, unread and unlooked-at.
    std::vector<ContentFileStamp> Found;
    std::vector<ContentFileStamp> Stamps;  // per new file, once in place
    std::vector<uint8_t> DeltaBase;  // per new delta: the survey believes its base is in place
    // content.delta: the fetched deltas back to back, deleted by the system when closed (a kill
    // leaves nothing); DeltaAt per new delta: where it starts there, kDeltaNotFetched if not.
    FileHandle DeltaStore;
    std::unique_ptr<uint64_t[]> DeltaAt;
    uint64_t DeltaEnd = 0;
    uint64_t DeltaMemoryLimit = kDeltaMemoryLimit;
    uint64_t BytesDone = 0;
    uint32_t FilesBuilt = 0;  // of Plan.Totals.FilesToBuild, for the lower bar
    uint64_t DiskNeed = 0;  // the bytes the run takes on the disk, as checked before fetching
    bool DiskFull = false;  // a write or flush of the run met a full disk
    // Notes a failure of the run's own files by its code; a full disk sticks.
    void NoteFailure(unsigned long code) { DiskFull = DiskFull || IsDiskFullCode(code); }
};

// The steps, each 1 when done; on failure the status text names what failed.
int FetchNewRelease(ContentRun& run);
int FetchRequests(ContentRun& run);
int FetchOneChunk(ContentRun& run, uint32_t chunk);
int BuildFiles(ContentRun& run);
// Notes Held, FrameAt and CacheKeep from the cache an earlier run left (none: nothing held).
void ReadHeldChunks(ContentRun& run);
// Fetches the deltas the plan takes into DeltaStore, each checked against its SHA-256 as it
// arrives; one that cannot be fetched is left out (its file takes its chunks). 1, or 0 when
// the launcher is ending.
int FetchDeltas(ContentRun& run);
// A kRoadDelta file made in partial (just created for target) from its delta: 1 when every
// chunk came out of it and was written; 0 when the file is to take its chunks, in partial made
// anew; -1 when the partial file could not be made anew (partial.LastError()).
class WidePartialFile;
int BuildDeltaRoad(ContentRun& run, uint32_t file, WidePartialFile& partial, const wchar_t* target);

constexpr uint64_t kDeltaNotFetched = ~0ull;

// The URL of a published file below the patch base: 1, or 0 when it does not fit.
int ContentUrl(const char* path, char* out, std::size_t size);
// "Content/packs/<R>-<N>.pack" of pack p of the new release.
int PackPath(const ContentRun& run, uint32_t pack, char* out, std::size_t size);
