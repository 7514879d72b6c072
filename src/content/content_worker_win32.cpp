// ContentWorker: the order of an update in content mode, from the release manifest to the
// version record, each step in a file of its own, and the refusals that stop a run before its
// first fetch.
#include "content/content_worker_win32.h"

#include <windows.h>
#include <process.h>

#include <cstring>
#include <new>
#include <string>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "content/chunk_fetch_win32.h"
#include "content/content_presenter_win32.h"
#include "content/content_run.h"
#include "content/content_survey_win32.h"
#include "content/delta_fetch_win32.h"
#include "content/disk_space_win32.h"
#include "content/file_build_win32.h"
#include "content/old_files_win32.h"
#include "content/parallel_cut_win32.h"
#include "content/release_fetch_win32.h"
#include "content/run_finish_win32.h"
#include "content/run_plan_win32.h"
#include "content/wide_path_win32.h"
#include "content_fetch/range_fetch_win32.h"
#include "content_format/cache_record.h"
#include "content_plan/disk_need.h"
#include "content_plan/memory_need.h"
#include "settings/launcher_settings.h"
#include "update/patch_info.h"

void ContentRun::NoteFailure(unsigned long code) { DiskFull = DiskFull || IsDiskFullCode(code); }

namespace {

int StopNamed(ContentReport& report, ContentStopKind kind, const char* name) {
    report.Stopped(NamedStop(kind, name));
    return 0;
}

// The buffers a run needs, sized by the new release once: the worker's chunk and frame, a stamp
// per new file, then the cache index and the plan.
int Prepare(ContentRun& run) {
    const ReleaseManifest& m = run.New.Manifest;
    run.Stamps.assign(m.FileCount, ContentFileStamp{0, 0});
    if (!run.Buffers.Make(m.ChunkMax)) return 0;
    return PlanRun(run.New, run.Survey, &run.Index, &run.Plan);
}

// Every file the new release lists must be one the worker may write.
int RefuseOwnProgram(const ContentRun& run) {
    const ReleaseManifest& m = run.New.Manifest;
    for (uint32_t i = 0; i < m.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(m, i);
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
    ContentStop stop;
    stop.Kind = kStopDiskFull;
    stop.NeededBytes = run.DiskNeed;
    stop.FreeBytes = freeBytes;
    run.Report->Stopped(stop);
}

// Everything the run will write, against the free space, before anything is fetched or
// deleted: 1 when it fits (or the disk cannot tell, and a full disk is met when it comes).
int RoomForRun(ContentRun& run) {
    uint64_t freeBytes = 0, cluster = 0;
    if (!FolderFreeSpace(&freeBytes, &cluster)) return 1;
    if (cluster < 512 || cluster > (1u << 20)) cluster = 0;
    const ContentDiskNeed need = ContentDiskNeedOf(run.Plan, run.New.Length, cluster);
    run.DiskNeed = need.Total;
    // The plan fetches only what an earlier cache does not hold, and that cache stays: only
    // what this run cuts off it (a torn tail, or all of it when it holds nothing useful) is freed.
    uint64_t cacheSize = 0, lastWrite = 0;
    if (!WideFileStamp(kContentCacheFile, &cacheSize, &lastWrite) || cacheSize < run.Index.Keep)
        cacheSize = run.Index.Keep;
    if (ContentDiskSuffices(need, freeBytes, cacheSize - run.Index.Keep)) return 1;
    TraceFailure("content disk", "refused", "too little free space", ERROR_DISK_FULL);
    run.DiskFull = true;
    ShowDiskFull(run);
    return 0;
}

// After a failed step, which reported its stop: a full disk anywhere on the way shows its own
// text in place of the step's.
int Stopped(ContentRun& run) {
    run.NoteFailure(run.Index.Cache.LastError());
    if (run.DiskFull) ShowDiskFull(run);
    return 0;
}

// A stop that names the release being installed.
int StopRelease(const ContentRun& run, ContentStopKind kind) {
    char release[64];
    FormatText(release, sizeof release, "Content/releases/%u.release", run.New.Version);
    return StopNamed(*run.Report, kind, release);
}

// The release could not be checked against the folder, or its cache not made: the line names it.
int RefuseRun(const ContentRun& run) { return StopRelease(run, kStopRelease); }

// The fetches, the build and the deletions, once the cache is open. Nothing installed is touched
// before every fetch has succeeded, and nothing is deleted before every new file is in place
// but what stands where a new file goes: a run that fails leaves the recorded release whole.
int FetchAndBuild(ContentRun& run) {
    ContentReport& report = *run.Report;
    const ReleaseManifest& m = run.New.Manifest;
    if (!FetchRequests(run.Link, m, run.Plan, run.Index, report) ||
        !FetchDeltas(run.Link, m, run.Plan, report, &run.Deltas) || !BuildFiles(run))
        return Stopped(run);
    DeleteOldFiles(run);
    return FinishRun(run) ? 1 : Stopped(run);
}

int RunUpdate(ContentRun& run) {
    ContentReport& report = *run.Report;
    run.Link.Session = OpenContentSession();
    run.Link.Secure = std::strncmp(LauncherSettings.PatchBaseUrl, "https://", 8) == 0 ? 1 : 0;
    if (!run.Link.Session) return StopNamed(report, kStopFetch, "session");
    if (!FetchNewRelease(run.Link, report, &run.New)) return 0;
    if (!ContentMemoryFits(run.New.Manifest, run.New.Length, kContentFetchLanes + kCutThreads)) {
        TraceFailure("content release", "too large for this launcher", ERROR_NOT_ENOUGH_MEMORY);
        return StopRelease(run, kStopTooLarge);
    }
    ContentProgress checking;
    checking.Stage = kStageChecking;
    report.Progress(checking);
    if (RefuseOwnProgram(run)) return RefuseRun(run);
    if (!SurveyFolder(run.New, run.Verify, report, &run.Survey)) return 0;  // it named the link
    if (!Prepare(run)) return RefuseRun(run);
    if (!RoomForRun(run)) return 0;
    if (!run.Index.Cache.Open(kContentCacheFile, run.Index.Keep)) {
        if (IsDiskFullCode(run.Index.Cache.LastError())) return Stopped(run);
        return RefuseRun(run);
    }
    return FetchAndBuild(run);
}

}  // namespace

unsigned __stdcall ContentWorker(void* verify) {
    // The run's threads report through it until RunUpdate returns: it outlives them all.
    ContentPresenter presenter;
    presenter.Began();
    ContentRun* run = new (std::nothrow) ContentRun;
    if (!run) return 0;
    run->Report = &presenter;
    run->New.Version = static_cast<uint32_t>(NewestPlayerVersion);
    // A run that fails, whatever the cause, keeps the verified chunks in the cache: the next
    // start takes them from there. Only FinishRun removes it, once the record names the release.
    run->Verify = reinterpret_cast<intptr_t>(verify) != 0;
    int done = 0;
    // The release's counts are bounded before anything is sized by them; an allocation that
    // fails all the same fails this run, with its text, rather than ending the process.
    try {
        done = RunUpdate(*run);
    } catch (const std::bad_alloc&) {
        TraceFailure("content run", "out of memory", ERROR_NOT_ENOUGH_MEMORY);
        StopRelease(*run, kStopMemory);
    }
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
    ContentPresenter presenter;
    StopNamed(presenter, kStopFetch, "thread");
    return false;
}
