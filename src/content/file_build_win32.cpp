// The build step of a content run: the saved chunks read into memory first, then each file that
// needs it made in a partial file beside it, from its delta (delta_build_win32.cpp) or chunk by
// chunk from the chain of sources (local files, each chunk hashed as it is read; the cache; the
// packs), then moved into place.
#include "content/file_build_win32.h"

#include <windows.h>

#include <memory>
#include <new>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "content/cached_chunks_win32.h"
#include "content/content_run.h"
#include "content/delta_build_win32.h"
#include "content/held_file_win32.h"
#include "content/local_chunks_win32.h"
#include "content/old_files_win32.h"
#include "content/pack_chunks_win32.h"
#include "content/wide_partial_file_win32.h"
#include "content/wide_path_win32.h"

namespace {

// The two ends of the run's chain a chunk may enter at: the local files, or the cache; and the
// saved chunks (null: none, or they could not be kept, and the chain fetches them).
struct ChunkChain {
    LocalChunks* Local;
    CachedChunks* Cached;
    const uint8_t* Saved;
};

struct FileBuild {
    ContentRun* Run;
    ChunkChain Chain;
    ReleaseFile File;
    WidePartialFile* Partial;
    uint64_t FileDone = 0;
};

bool IsLocalKind(int kind) { return kind == kSourceOldFile || kind == kSourceCutFile || kind == kSourceBuilt; }

// The file being built and the bytes built, chunk by chunk: one file may be 4 GiB. As a file
// begins (kShowLine) the bars keep what they showed.
void ReportFile(const ContentRun& run, const ReleaseFile& f, uint64_t fileDone, ContentShow show) {
    ContentProgress p;
    p.Stage = kStageBuilding;
    p.Show = show;
    p.Done = run.Tally.BytesDone;
    p.ToDo = run.Plan.Totals.BytesToBuild;
    p.PartDone = fileDone;
    p.PartSize = f.Size ? f.Size : 1;
    p.FilesDone = run.Tally.FilesBuilt;
    p.Files = run.Plan.Totals.FilesToBuild;
    p.Name = f.Path;
    p.NameLength = f.PathLength;
    run.Report->Progress(p);
}

int BuildChunk(void* context, uint32_t reference, uint64_t, const ContentChunkSource& source) {
    FileBuild& b = *static_cast<FileBuild*>(context);
    ContentRun& run = *b.Run;
    const uint32_t chunk = ReleaseReferenceAt(run.New.Manifest, reference);
    const uint32_t size = ReleaseChunkAt(run.New.Manifest, chunk).RawSize;
    if (source.Kind == kSourceSaved && b.Chain.Saved) {
        // Hashed when it was read into memory.
        if (!b.Partial->Write(b.Chain.Saved + source.Offset, size)) return 0;
        b.FileDone += size;
        run.Tally.BytesDone += size;
        ReportFile(run, b.File, b.FileDone, kShowAll);
        return 1;
    }
    uint8_t* raw = run.Buffers.Raw.get();
    // A chunk the cache holds is read from there even where a file built earlier in this run
    // holds it too: a fetched frame was checked as it arrived and needs no second hash.
    const bool cached = ContentChunkFetched(run.Plan, chunk) || ContentChunkHeld(run.Plan, chunk);
    ChunkSource& from = IsLocalKind(source.Kind) && !cached ? static_cast<ChunkSource&>(*b.Chain.Local)
                                                             : static_cast<ChunkSource&>(*b.Chain.Cached);
    if (!from.Take(chunk, source, raw) || !b.Partial->Write(raw, size)) return 0;
    b.FileDone += size;
    run.Tally.BytesDone += size;
    ReportFile(run, b.File, b.FileDone, kShowAll);
    return 1;
}

int FailFile(const ContentRun& run, const ReleaseFile& f, const char* step, unsigned long code) {
    char name[kReleaseMaxPathLength + 1];
    FormatText(name, sizeof name, "%.*s", static_cast<int>(f.PathLength), f.Path);
    TraceFailure("content build", step, name, code);
    run.Report->Stopped(NamedStop(kStopFile, f.Path, f.PathLength));
    return 0;
}

int BuildFile(ContentRun& run, const ChunkChain& chain, uint32_t file) {
    const ReleaseFile f = ReleaseFileAt(run.New.Manifest, file);
    wchar_t wide[kWidePathSize];
    unsigned long error = 0;
    if (!WidePathOf(f.Path, f.PathLength, wide, kWidePathSize)) return FailFile(run, f, "name", ERROR_INVALID_NAME);
    if (IsOwnProgramName(wide)) return FailFile(run, f, "own program", ERROR_ACCESS_DENIED);
    ClearWayFor(run, file);
    if (!CreateFoldersAbove(wide, &error)) return FailFile(run, f, "folder", error);
    ReportFile(run, f, 0, kShowLine);
    WidePartialFile partial("content build");
    if (!partial.Create(wide)) {
        run.NoteFailure(partial.LastError());
        return FailFile(run, f, "create", partial.LastError());
    }
    const DeltaRoad road = {&run.New.Manifest, &run.Plan, &run.Deltas, run.Buffers.Raw.get(), &run.Tally, run.Report};
    const int delta = BuildDeltaRoad(road, file, partial, wide);
    if (delta < 0) {
        run.NoteFailure(partial.LastError());
        return FailFile(run, f, "create", partial.LastError());
    }
    FileBuild b = {&run, chain, f, &partial};
    chain.Local->Building(file, &partial);
    if (delta == 0 && !ForEachContentChunk(run.Plan, file, BuildChunk, &b)) {
        run.NoteFailure(partial.LastError());
        return FailFile(run, f, "chunk", GetLastError());
    }
    chain.Local->Close();  // the old file at this path may be the one replaced
    ContentFileStamp& stamp = run.Stamps[file];
    // A file another program holds is waited for, the partial kept whole meanwhile.
    if (!PlaceWhileHeld(partial, wide, f.Path, f.PathLength, kHeldWaitMs, &stamp.LastWrite, &error, *run.Report)) {
        run.NoteFailure(error);
        return FailFile(run, f, "commit", error);
    }
    stamp.Size = f.Size;
    return 1;
}

struct SaveRead {
    LocalChunks* Local;
    uint8_t* Saved;
};

int SaveChunk(void* context, uint32_t chunk, const ContentChunkSource& from, uint64_t at) {
    const SaveRead& read = *static_cast<const SaveRead*>(context);
    return read.Local->Take(chunk, from, read.Saved + at);
}

// Reads the saved chunks before any file is replaced: a later file needs them from a file
// rebuilt before it (two files trading contents). Each is hashed as it is read, one a file no
// longer holds fetched on its own. Null when there are none or they cannot all be kept: then
// each is fetched on its own where it is needed.
std::unique_ptr<uint8_t[]> SaveChunks(const ContentRun& run, LocalChunks& local) {
    const uint64_t bytes = run.Plan.Totals.SavedBytes;
    if (bytes == 0) return nullptr;
    // At most kContentSaveBound: the plan saves no more.
    std::unique_ptr<uint8_t[]> saved(new (std::nothrow) uint8_t[static_cast<std::size_t>(bytes)]);
    if (!saved) {
        TraceFailure("content build", "save", "memory", ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    SaveRead into = {&local, saved.get()};
    const int read = ForEachSavedChunk(run.Plan, SaveChunk, &into);
    local.Close();
    if (!read) {
        TraceFailure("content build", "save", "chunk", 0);
        return nullptr;
    }
    return saved;
}

}  // namespace

int BuildFiles(ContentRun& run) {
    // One chain for the run: a chunk the local files no longer hold goes to the cache, one the
    // cache does not hold whole to its pack.
    PackChunks pack(run.Link, run.New.Manifest, run.Index, run.Buffers, *run.Report);
    CachedChunks cached(run.New.Manifest, run.Plan, run.Index, run.Buffers, pack);
    LocalChunks local(run.New.Manifest, run.Survey, cached);
    const std::unique_ptr<uint8_t[]> saved = SaveChunks(run, local);
    const ChunkChain chain = {&local, &cached, saved.get()};
    for (uint32_t file = 0; file < run.New.Manifest.FileCount; ++file) {
        if (ContentFileIsWhole(run.Plan, file)) {
            // The survey's stamp of it: a second look at every unchanged file would cost as
            // much as the survey itself (10,000 files: a tenth of a second under Wine).
            const ReleaseFile f = ReleaseFileAt(run.New.Manifest, file);
            const ContentFileStamp found = run.Survey.Found[file];
            run.Stamps[file] = found.LastWrite != 0 && found.Size == f.Size ? found : ContentFileStamp{f.Size, 0};
            continue;
        }
        if (!BuildFile(run, chain, file)) return 0;
        ++run.Tally.FilesBuilt;
    }
    return 1;
}
