// The content worker's build: each file that needs it made in a partial file beside it from
// local chunks (each hashed as it is read) and the cache (checked as it arrived), or from its
// delta (content_delta_build_win32.cpp), then moved into place.
#include <windows.h>

#include <cstring>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/failure_trace.h"
#include "content/chunk_decode.h"
#include "content/content_run.h"
#include "content/content_text.h"
#include "content/held_file_win32.h"
#include "content/shown_name_win32.h"
#include "content/stored_chunk_win32.h"
#include "content/wide_partial_file_win32.h"
#include "content/wide_path_win32.h"

namespace {

struct FileBuild {
    ContentRun* Run;
    uint32_t File;
    WidePartialFile* Partial;
    FileHandle Source;  // the local file read last, kept open between its chunks
    int SourceKind = -1;
    uint32_t SourceFile = 0;
    uint64_t FileDone = 0;
    uint64_t FileSize = 0;
};

// The path a source names: (pointer, length) into a manifest or the cut list.
void SourcePath(const ContentRun& run, const ContentChunkSource& source, const char** path, std::size_t* length) {
    if (source.Kind == kSourceCutFile) {
        *path = run.CutPaths[source.File].data();
        *length = run.CutPaths[source.File].size();
        return;
    }
    const ReleaseFile f = ReleaseFileAt(source.Kind == kSourceOldFile ? run.OldRelease : run.NewRelease, source.File);
    *path = f.Path;
    *length = f.PathLength;
}

bool ReadLocal(FileBuild& b, const ContentChunkSource& source, uint32_t size) {
    ContentRun& run = *b.Run;
    if (source.Kind == kSourceBuilt && source.File == b.File) return b.Partial->ReadAt(source.Offset, run.Raw.get(), size);
    if (!b.Source || b.SourceKind != source.Kind || b.SourceFile != source.File) {
        const char* path;
        std::size_t length;
        SourcePath(run, source, &path, &length);
        wchar_t wide[kWidePathSize];
        if (!WidePathOf(path, length, wide, kWidePathSize)) return false;
        b.Source.Reset(CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
        b.SourceKind = source.Kind;
        b.SourceFile = source.File;
        if (!b.Source) return false;
    }
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(source.Offset);
    at.OffsetHigh = static_cast<DWORD>(source.Offset >> 32);
    DWORD got = 0;
    return ReadFile(b.Source.Get(), run.Raw.get(), size, &got, &at) && got == size;
}

CacheRecordHeader RecordOf(const ReleaseChunk& c) {
    CacheRecordHeader header;
    std::memcpy(header.Sha256, c.Sha256, sizeof header.Sha256);
    header.RawSize = c.RawSize;
    header.StoredSize = c.StoredSize;
    return header;
}

// Puts the chunk's bytes in run.Raw: from the cache when it was fetched or an earlier run left
// it there, else from its local source; a local or left chunk that no longer matches its name
// is fetched on its own.
bool ChunkBytes(FileBuild& b, uint32_t chunk, const ContentChunkSource& source) {
    ContentRun& run = *b.Run;
    const ReleaseChunk c = ReleaseChunkAt(run.NewRelease, chunk);
    if (ContentChunkFetched(run.Plan, chunk)) {
        // Its frame was decoded and checked against its name as it arrived, and the cache is
        // this run's own file, which nothing else may write while the worker holds it open.
        return run.Cache.ReadFrame(run.FrameAt[chunk], RecordOf(c), run.Frame.get()) &&
               DecodeChunk(run.Decoder, run.Frame.get(), c.StoredSize, run.Raw.get(), c.RawSize) == kChunkDecoded;
    }
    if (ContentChunkHeld(run.Plan, chunk)) {
        // Written by an earlier run: the file may have been changed on disk since, so its frame
        // must decode to its name again.
        if (run.Cache.ReadFrame(run.FrameAt[chunk], RecordOf(c), run.Frame.get()) &&
            DecodeStoredChunk(run.Decoder, run.Frame.get(), c, run.Raw.get()))
            return true;
        TraceFailure("content chunk", "cache", "changed since kept", ERROR_INVALID_DATA);
        return FetchOneChunk(run, chunk) != 0;
    }
    // A chunk of a delta that failed: fetched on its own, decoded into run.Raw and checked.
    if (source.Kind == kSourceDelta) return FetchOneChunk(run, chunk) != 0;
    if (ReadLocal(b, source, c.RawSize) && BytesMatchChunk(run.Raw.get(), c.RawSize, c.Sha256)) return true;
    TraceFailure("content chunk", "local", "changed since cut", 0);
    return FetchOneChunk(run, chunk) != 0;
}

// The line names the file and counts the bytes built, chunk by chunk: one file may be 4 GiB.
void ShowFile(const ContentRun& run, const ReleaseFile& f) {
    ShowNamedStatus(ContentText.Building, f.Path, f.PathLength, static_cast<unsigned>(run.BytesDone >> 10),
                    static_cast<unsigned>(run.Plan.Totals.BytesToBuild >> 10));
}

int BuildChunk(void* context, uint32_t reference, uint64_t, const ContentChunkSource& source) {
    FileBuild& b = *static_cast<FileBuild*>(context);
    ContentRun& run = *b.Run;
    const uint32_t chunk = ReleaseReferenceAt(run.NewRelease, reference);
    const uint32_t size = ReleaseChunkAt(run.NewRelease, chunk).RawSize;
    if (!ChunkBytes(b, chunk, source) || !b.Partial->Write(run.Raw.get(), size)) return 0;
    b.FileDone += size;
    run.BytesDone += size;
    // The lower bar counts the files built, this one by its part done; the upper one stays at
    // the bytes fetched.
    const uint64_t files = run.Plan.Totals.FilesToBuild ? run.Plan.Totals.FilesToBuild : 1;
    ProgressTotal = static_cast<int32_t>((run.FilesBuilt * 100 + b.FileDone * 100 / b.FileSize) / files);
    ShowFile(run, ReleaseFileAt(run.NewRelease, b.File));
    return 1;
}

int FailFile(const ReleaseFile& f, const char* step, unsigned long code) {
    char name[kReleaseMaxPathLength + 1];
    FormatText(name, sizeof name, "%.*s", static_cast<int>(f.PathLength), f.Path);
    TraceFailure("content build", step, name, code);
    ShowNamedStatus(ContentText.FileFailed, f.Path, f.PathLength);
    SetStartButtonState(kButtonDisabled);
    return 0;
}

int BuildFile(ContentRun& run, uint32_t file) {
    const ReleaseFile f = ReleaseFileAt(run.NewRelease, file);
    wchar_t wide[kWidePathSize];
    unsigned long error = 0;
    if (!WidePathOf(f.Path, f.PathLength, wide, kWidePathSize)) return FailFile(f, "name", ERROR_INVALID_NAME);
    if (IsOwnProgramName(wide)) return FailFile(f, "own program", ERROR_ACCESS_DENIED);
    if (!CreateFoldersAbove(wide, &error)) return FailFile(f, "folder", error);
    ShowFile(run, f);
    WidePartialFile partial("content build");
    if (!partial.Create(wide)) {
        run.NoteFailure(partial.LastError());
        return FailFile(f, "create", partial.LastError());
    }
    const int delta = BuildDeltaRoad(run, file, partial, wide);
    if (delta < 0) {
        run.NoteFailure(partial.LastError());
        return FailFile(f, "create", partial.LastError());
    }
    FileBuild b;
    b.Run = &run;
    b.File = file;
    b.Partial = &partial;
    b.FileSize = f.Size ? f.Size : 1;
    if (delta == 0 && !ForEachContentChunk(run.Plan, file, BuildChunk, &b)) {
        run.NoteFailure(partial.LastError());
        return FailFile(f, "chunk", GetLastError());
    }
    b.Source.Reset();  // the old file at this path may be the one replaced
    ContentFileStamp& stamp = run.Stamps[file];
    // A file another program holds is waited for, the partial kept whole meanwhile.
    if (!PlaceWhileHeld(partial, wide, f.Path, f.PathLength, kHeldWaitMs, &stamp.LastWrite, &error)) {
        run.NoteFailure(error);
        return FailFile(f, "commit", error);
    }
    stamp.Size = f.Size;
    return 1;
}

}  // namespace

int BuildFiles(ContentRun& run) {
    for (uint32_t file = 0; file < run.NewRelease.FileCount; ++file) {
        if (ContentFileIsWhole(run.Plan, file)) {
            // The survey's stamp of it: a second look at every unchanged file would cost as
            // much as the survey itself (10,000 files: a tenth of a second under Wine).
            const ReleaseFile f = ReleaseFileAt(run.NewRelease, file);
            const ContentFileStamp found = run.Found[file];
            run.Stamps[file] = found.LastWrite != 0 && found.Size == f.Size ? found : ContentFileStamp{f.Size, 0};
            continue;
        }
        if (!BuildFile(run, file)) return 0;
        ++run.FilesBuilt;
    }
    return 1;
}
