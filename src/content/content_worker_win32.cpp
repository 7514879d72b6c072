// ContentWorker: the order of an update in content mode, from the release manifest to the
// version record, and the files it keeps once every file is in place.
#include "content/content_worker_win32.h"

#include <windows.h>
#include <process.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/failure_trace.h"
#include "content/content_run.h"
#include "content/content_survey_win32.h"
#include "content/content_text.h"
#include "content/delta_base.h"
#include "content/disk_need.h"
#include "content/disk_space_win32.h"
#include "content/held_file_win32.h"
#include "content/range_fetch_win32.h"
#include "content/stored_chunk_win32.h"
#include "content/wide_partial_file_win32.h"
#include "content/wide_path_win32.h"
#include "settings/launcher_settings.h"
#include "settings/version_record.h"
#include "update/patch_info.h"
#include "update/signature_win32.h"

namespace {

// A held old file is waited for once; should the wait run out, the files after it get one try
// each, and what stays behind blocks nothing: the new release does not list it.
void DeleteOld(ContentRun& run, int beforeBuilding) {
    uint32_t waitMs = kHeldWaitMs;
    for (uint32_t i = 0; i < run.Plan.Totals.Deletions; ++i) {
        const ContentDeletion d = ContentDeletionAt(run.Plan, i);
        if ((d.BeforeBuilding != 0) != (beforeBuilding != 0)) continue;
        const ReleaseFile f = ReleaseFileAt(run.OldRelease, d.OldFile);
        wchar_t wide[kWidePathSize];
        if (!WidePathOf(f.Path, f.PathLength, wide, kWidePathSize) || IsOwnProgramName(wide)) continue;
        unsigned long error = 0;
        if (DeleteWhileHeld(wide, f.Path, f.PathLength, waitMs, &error)) continue;
        TraceFailure("content delete", std::string(f.Path, f.PathLength).c_str(), error);
        if (IsHeldFailure(wide, error)) waitMs = 0;
    }
}

struct PartialWriter {
    WidePartialFile* File;
};

int ToPartial(void* context, const uint8_t* data, std::size_t length) {
    return static_cast<PartialWriter*>(context)->File->Write(data, static_cast<unsigned long>(length)) ? 1 : 0;
}

// A failure of the run's own files: 0, with run.DiskFull set when the disk was full.
int MarkFull(ContentRun& run, unsigned long code) {
    run.NoteFailure(code);
    return 0;
}

// content.<V>.release, then content.state, each through a partial file moved into place.
int KeepRelease(ContentRun& run) {
    char name[64];
    wchar_t wide[64];
    if (!KeptReleaseName(run.Version, name, sizeof name) || !WidePathOf(name, std::strlen(name), wide, 64)) return 0;
    WidePartialFile kept("content keep");
    PartialWriter writer = {&kept};
    if (!kept.Create(wide)) return 0;
    for (std::size_t at = 0; at < run.NewLength; at += 1u << 20) {
        const std::size_t n = run.NewLength - at < (1u << 20) ? run.NewLength - at : (1u << 20);
        if (!ToPartial(&writer, run.NewBytes.get() + at, n)) return MarkFull(run, kept.LastError());
    }
    if (kept.Commit(wide, nullptr) != kCommitted) return MarkFull(run, kept.LastError());
    ContentStateHeader header = {};
    header.Release = run.Version;
    header.FileCount = run.NewRelease.FileCount;
    header.ManifestSize = run.NewLength;
    if (!Sha256Of(run.NewBytes.get(), run.NewLength, header.ManifestSha256)) return 0;
    WidePartialFile state("content keep");
    writer.File = &state;
    if (!state.Create(L"content.state") || !WriteContentState(header, run.Stamps.data(), ToPartial, &writer) ||
        state.Commit(L"content.state", nullptr) != kCommitted)
        return MarkFull(run, state.LastError());
    return 1;
}

void DropOldKept(const ContentRun& run) {
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(L"content.*.release", &found));
    if (!search) return;
    wchar_t keep[64];
    std::swprintf(keep, 64, L"content.%u.release", run.Version);
    do {
        if (CompareStringOrdinal(found.cFileName, -1, keep, -1, TRUE) != CSTR_EQUAL) DeleteFileW(found.cFileName);
    } while (FindNextFileW(search.Get(), &found));
}

int Finish(ContentRun& run) {
    if (!KeepRelease(run)) {
        StatusText.Format(ContentText.FileFailed, "content.state");
        SetStartButtonState(kButtonDisabled);
        return 0;
    }
    CurrentVersion = static_cast<int32_t>(run.Version);
    WriteVersionRecord();
    DropOldKept(run);
    run.Cache.Remove();
    if (run.Verify) {
        // Every file the plan did not find whole was mended (or fetched, when it was missing).
        StatusText.Format(ContentText.Verified, static_cast<int>(run.Version), run.Plan.Totals.FilesToBuild);
    } else {
        StatusText.Format(LauncherSettings.MsgReady, static_cast<int>(run.Version));
    }
    LaunchReady = 1;
    ProgressCurrent = 100;
    ProgressTotal = 100;
    SetStartButtonState(kButtonNormal);
    return 1;
}

// The deltas whose base the survey found in place (content/delta_base.h), for the plan.
const uint8_t* MarkBases(ContentRun& run) {
    run.DeltaBase.assign(run.NewRelease.DeltaCount + 1, 0);
    DeltaBaseInput in;
    in.NewRelease = &run.NewRelease;
    in.OldRelease = run.HaveOld ? &run.OldRelease : nullptr;
    in.State = run.HaveOld ? &run.State : nullptr;
    in.Found = run.Found.data();
    in.CutFiles = run.CutFiles.data();
    in.CutFileCount = static_cast<uint32_t>(run.CutFiles.size());
    MarkDeltaBases(in, run.DeltaBase.data());
    return run.DeltaBase.data();
}

// The buffers a run needs, sized by the new release once: one chunk, one frame, the cache index.
int Prepare(ContentRun& run) {
    const uint32_t chunkMax = run.NewRelease.ChunkMax;
    run.Raw.reset(new (std::nothrow) uint8_t[chunkMax]);
    run.Frame.reset(new (std::nothrow) uint8_t[StoredChunkBound(chunkMax)]);
    run.FrameAt.reset(new (std::nothrow) uint64_t[run.NewRelease.ChunkCount + 1]);
    run.Stamps.assign(run.NewRelease.FileCount, ContentFileStamp{0, 0});
    if (!run.Raw || !run.Frame || !run.FrameAt || !run.Decoder.Good()) return 0;
    ReadHeldChunks(run);
    ContentPlanInput input;
    input.NewRelease = &run.NewRelease;
    input.OldRelease = run.HaveOld ? &run.OldRelease : nullptr;
    input.OldVouched = run.HaveOld ? run.Vouched.data() : nullptr;
    input.CutFiles = run.CutFiles.data();
    input.CutFileCount = static_cast<uint32_t>(run.CutFiles.size());
    input.Held = run.Held.data();
    input.DeltaBase = MarkBases(run);
    return MakeContentPlan(input, &run.Plan);
}

// Every file the new release lists must be one the worker may write.
int RefuseOwnProgram(const ContentRun& run) {
    for (uint32_t i = 0; i < run.NewRelease.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(run.NewRelease, i);
        wchar_t wide[kWidePathSize];
        if (WidePathOf(f.Path, f.PathLength, wide, kWidePathSize) && IsOwnProgramName(wide)) {
            TraceFailure("content release", "own program", std::string(f.Path, f.PathLength).c_str(), 0);
            return 1;
        }
    }
    return 0;
}

// The refusal of a disk without room: the bytes checked before fetching, the free ones now.
void ShowDiskFull(const ContentRun& run) {
    uint64_t freeBytes = 0, cluster = 0;
    FolderFreeSpace(&freeBytes, &cluster);
    StatusText.Format(ContentText.DiskFull, MegabytesNeeded(run.DiskNeed), MegabytesFree(freeBytes));
    SetStartButtonState(kButtonDisabled);
}

// Everything the run will write, against the free space, before anything is fetched or
// deleted: 1 when it fits (or the disk cannot tell, and a full disk is met when it comes).
int RoomForRun(ContentRun& run) {
    uint64_t freeBytes = 0, cluster = 0;
    if (!FolderFreeSpace(&freeBytes, &cluster)) return 1;
    if (cluster < 512 || cluster > (1u << 20)) cluster = 0;
    const ContentDiskNeed need = ContentDiskNeedOf(run.Plan, run.NewLength, cluster);
    run.DiskNeed = need.Total;
    // The plan fetches only what an earlier cache does not hold, and that cache stays: only
    // what this run cuts off it (a torn tail, or all of it when it holds nothing useful) is freed.
    uint64_t cacheSize = 0, lastWrite = 0;
    if (!WideFileStamp(L"content.cache", &cacheSize, &lastWrite) || cacheSize < run.CacheKeep)
        cacheSize = run.CacheKeep;
    if (ContentDiskSuffices(need, freeBytes, cacheSize - run.CacheKeep)) return 1;
    TraceFailure("content disk", "refused", "too little free space", ERROR_DISK_FULL);
    run.DiskFull = true;
    ShowDiskFull(run);
    return 0;
}

// After a failed step: a full disk anywhere on the way shows its own text in place of the
// step's.
int Stopped(ContentRun& run) {
    run.NoteFailure(run.Cache.LastError());
    if (run.DiskFull) ShowDiskFull(run);
    return 0;
}

// The release could not be checked against the folder, or its cache not made: the line names it.
int RefuseRun(const ContentRun& run) {
    char release[64];
    FormatText(release, sizeof release, "Content/releases/%u.release", run.Version);
    StatusText.Format(ContentText.ReleaseFailed, release);
    SetStartButtonState(kButtonDisabled);
    return 0;
}

int RunUpdate(ContentRun& run) {
    run.Session = OpenContentSession();
    run.Secure = std::strncmp(LauncherSettings.PatchBaseUrl, "https://", 8) == 0 ? 1 : 0;
    if (!run.Session || !FetchNewRelease(run)) {
        if (!run.Session) StatusText.Format(ContentText.FetchFailed, "session");
        SetStartButtonState(kButtonDisabled);
        return 0;
    }
    StatusText.Set(ContentText.Checking);
    if (RefuseOwnProgram(run) || !SurveyFolder(run) || !Prepare(run)) return RefuseRun(run);
    if (!RoomForRun(run)) return 0;
    if (!run.Cache.Open(L"content.cache", run.CacheKeep)) {
        if (IsDiskFullCode(run.Cache.LastError())) return Stopped(run);
        return RefuseRun(run);
    }
    DeleteOld(run, 1);
    if (!FetchRequests(run) || !FetchDeltas(run) || !BuildFiles(run)) return Stopped(run);
    DeleteOld(run, 0);
    return Finish(run) ? 1 : Stopped(run);
}

}  // namespace

unsigned __stdcall ContentWorker(void* verify) {
    SetStartButtonState(kButtonDisabled);
    ContentRun* run = new (std::nothrow) ContentRun;
    if (!run) return 0;
    run->Version = static_cast<uint32_t>(LatestVersion);
    // A run that fails, whatever the cause, keeps the verified chunks in the cache: the next
    // start takes them from there. Only Finish removes it, once the record names the release.
    run->Verify = reinterpret_cast<intptr_t>(verify) != 0;
    const int done = RunUpdate(*run);
    delete run;
    return static_cast<unsigned>(done);
}

bool StartContentWorker(bool verify) {
    unsigned threadId = 0;
    void* argument = reinterpret_cast<void*>(static_cast<intptr_t>(verify ? 1 : 0));
    const uintptr_t thread = _beginthreadex(nullptr, 0, ContentWorker, argument, 0, &threadId);
    if (thread) {
        CloseHandle(reinterpret_cast<HANDLE>(thread));
        return true;
    }
    const DWORD error = GetLastError();
    TraceFailure("thread start", "ContentWorker", error);
    StatusText.Format(ContentText.FetchFailed, "thread");
    SetStartButtonState(kButtonDisabled);
    return false;
}
