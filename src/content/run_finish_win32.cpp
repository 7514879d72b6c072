// FinishRun: the kept manifest and state, the version record, and the earlier kept releases and
// the cache dropped once the record names the new release.
#include "content/run_finish_win32.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "common/win32_handle.h"
#include "content/content_run.h"
#include "content/wide_partial_file_win32.h"
#include "content/wide_path_win32.h"
#include "content_format/local_state.h"
#include "paths/game_folder_win32.h"
#include "settings/version_record.h"
#include "update/signature_win32.h"

namespace {

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
    if (!KeptReleaseName(run.New.Version, name, sizeof name) || !WidePathOf(name, std::strlen(name), wide, 64))
        return 0;
    WidePartialFile kept("content keep");
    PartialWriter writer = {&kept};
    if (!kept.Create(wide)) return 0;
    for (std::size_t at = 0; at < run.New.Length; at += 1u << 20) {
        const std::size_t n = run.New.Length - at < (1u << 20) ? run.New.Length - at : (1u << 20);
        if (!ToPartial(&writer, run.New.Bytes.get() + at, n)) return MarkFull(run, kept.LastError());
    }
    if (kept.Commit(wide, nullptr) != kCommitted) return MarkFull(run, kept.LastError());
    ContentStateHeader header = {};
    header.Release = run.New.Version;
    header.FileCount = run.New.Manifest.FileCount;
    header.ManifestSize = run.New.Length;
    if (!Sha256Of(run.New.Bytes.get(), run.New.Length, header.ManifestSha256)) return 0;
    WidePartialFile state("content keep");
    writer.File = &state;
    if (!state.Create(kContentStateFile) || !WriteContentState(header, run.Stamps.data(), ToPartial, &writer) ||
        state.Commit(kContentStateFile, nullptr) != kCommitted)
        return MarkFull(run, state.LastError());
    return 1;
}

void DropOldKept(const ContentRun& run) {
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(L"content.*.release", &found));
    if (!search) return;
    wchar_t keep[64];
    std::swprintf(keep, 64, L"content.%u.release", run.New.Version);
    // Only plain files go, and through the game folder's door: a link under a kept name, or
    // a folder, stays as it is.
    constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    do {
        unsigned long error = 0;
        if (!(found.dwFileAttributes & kNotPlain) &&
            CompareStringOrdinal(found.cFileName, -1, keep, -1, TRUE) != CSTR_EQUAL)
            DeleteGameFile(found.cFileName, &error);
    } while (FindNextFileW(search.Get(), &found));
}

}  // namespace

int FinishRun(ContentRun& run) {
    if (!KeepRelease(run)) {
        run.Report->Stopped(NamedStop(kStopFile, kContentStateName));
        return 0;
    }
    CurrentVersion = static_cast<int32_t>(run.New.Version);
    WriteVersionRecord();
    DropOldKept(run);
    run.Index.Cache.Remove();
    // A verify mended (or fetched, when it was missing) every file the plan did not find whole.
    run.Report->Finished(run.New.Version, run.Verify ? 1 : 0, run.Plan.Totals.FilesToBuild);
    return 1;
}
