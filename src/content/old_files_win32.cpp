// The delete step: the installed release's files the new one no longer lists, each opened
// without following a link, checked against the old release's chunks and deleted through that
// one handle, so that what is checked is what goes; then the folders they emptied.
#include "content/old_files_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "common/failure_trace.h"
#include "content/content_run.h"
#include "content/held_file_win32.h"
#include "content/wide_path_win32.h"
#include "content_format/chunk_check_win32.h"

namespace {

bool IdentityBefore(const FileIdentity& a, const FileIdentity& b) {
    return a.Volume != b.Volume ? a.Volume < b.Volume : a.Index < b.Index;
}

// The identities of the files standing at the new release's paths, looked at once: a removed
// name may be another spelling of one of them (a case the file system folds, a short name),
// and deleting it would delete the new file.
void LearnNewFiles(const ReleaseManifest& release, OldRemovals& removals) {
    removals.NewFilesKnown = true;
    removals.NewFiles.clear();
    for (uint32_t i = 0; i < release.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(release, i);
        wchar_t wide[kWidePathSize];
        if (!WidePathOf(f.Path, f.PathLength, wide, kWidePathSize)) continue;
        FileHandle file(CreateFileW(wide, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
        FileIdentity identity;
        unsigned long error = 0;
        if (file && FileIdentityOf(file.Get(), &identity, &error)) removals.NewFiles.push_back(identity);
    }
    std::sort(removals.NewFiles.begin(), removals.NewFiles.end(), IdentityBefore);
}

bool IsNewFile(const OldRemovals& removals, const FileIdentity& identity) {
    return std::binary_search(removals.NewFiles.begin(), removals.NewFiles.end(), identity, IdentityBefore);
}

int ReadWhole(HANDLE file, uint8_t* to, uint32_t length) {
    while (length > 0) {
        DWORD got = 0;
        if (!ReadFile(file, to, length, &got, nullptr) || got == 0) return 0;
        to += got;
        length -= got;
    }
    return 1;
}

// True when the file still holds exactly the old release's bytes for it: what a player or
// another program wrote there, or a forged state claimed, is not the launcher's to delete.
bool HoldsOldBytes(HANDLE file, const ReleaseManifest& old, const ReleaseFile& f, uint8_t* buffer) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || static_cast<uint64_t>(size.QuadPart) != f.Size) return false;
    for (uint32_t r = f.FirstReference; r < f.FirstReference + f.ReferenceCount; ++r) {
        const ReleaseChunk c = ReleaseChunkAt(old, ReleaseReferenceAt(old, r));
        if (!ReadWhole(file, buffer, c.RawSize) || !ChunkHashMatches(buffer, c.RawSize, c.Sha256)) return false;
    }
    return true;
}

struct Removal {
    ContentRun* Run;
    ReleaseFile File;
    const wchar_t* Wide;
    bool Deleted;
};

const char* KeptBecause(const Removal& r, HANDLE file) {
    OldRemovals& removals = r.Run->Removals;
    if (!HoldsOldBytes(file, r.Run->Survey.OldRelease, r.File, removals.Bytes.get())) return "changed since installed";
    FileIdentity identity;
    unsigned long error = 0;
    if (!FileIdentityOf(file, &identity, &error)) return "no identity";
    if (!removals.NewFilesKnown) LearnNewFiles(r.Run->New.Manifest, removals);
    return IsNewFile(removals, identity) ? "a new file's other name" : nullptr;
}

// One try: opened without sharing writes or deletion (a holder shows as a sharing violation,
// waited for), checked, and marked for deletion through the same handle.
int RemoveOnce(void* context, unsigned long* error) {
    Removal& r = *static_cast<Removal*>(context);
    FileHandle file;
    if (!OpenGameFile(r.Wide, DELETE | GENERIC_READ | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, OPEN_EXISTING,
                      FILE_FLAG_SEQUENTIAL_SCAN, &file, error)) {
        if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND) return 1;
        return *error == kLinkRefused ? 1 : 0;  // traced by the caller's look at Deleted
    }
    if (const char* why = KeptBecause(r, file.Get())) {
        TraceFailure("content delete kept", why, std::string(r.File.Path, r.File.PathLength).c_str(), 0);
        return 1;
    }
    if (!DisposeOpenedFile(file.Get(), error)) return 0;
    r.Deleted = true;
    return 1;
}

void NoteFoldersAbove(const wchar_t* wide, OldRemovals& removals) {
    std::wstring folder(wide);
    for (std::size_t cut = folder.rfind(L'\\'); cut != std::wstring::npos && cut > 0; cut = folder.rfind(L'\\')) {
        folder.resize(cut);
        removals.Folders.push_back(folder);
    }
}

// Deletes old file o (checked as RemoveOnce does), waiting up to *waitMs for a holder; a wait
// that runs out spends the bound for the files after it.
void RemoveOldFile(ContentRun& run, uint32_t o, uint32_t* waitMs) {
    const ReleaseFile f = ReleaseFileAt(run.Survey.OldRelease, o);
    wchar_t wide[kWidePathSize];
    if (!WidePathOf(f.Path, f.PathLength, wide, kWidePathSize) || IsOwnProgramName(wide)) return;
    Removal removal = {&run, f, wide, false};
    unsigned long error = 0;
    if (TryWhileHeld(wide, f.Path, f.PathLength, *waitMs, RemoveOnce, &removal, &error, *run.Report)) {
        if (removal.Deleted) NoteFoldersAbove(wide, run.Removals);
        return;
    }
    TraceFailure("content delete", std::string(f.Path, f.PathLength).c_str(), error);
    if (IsHeldFailure(wide, error)) *waitMs = 0;
}

// Removes the noted folders that are empty now, deepest first, so that a folder emptied of
// folders goes too; a folder holding anything (a player's file) stays.
void RemoveEmptiedFolders(OldRemovals& removals) {
    std::sort(removals.Folders.begin(), removals.Folders.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() != b.size() ? a.size() > b.size() : a < b; });
    removals.Folders.erase(std::unique(removals.Folders.begin(), removals.Folders.end()), removals.Folders.end());
    for (const std::wstring& folder : removals.Folders) {
        unsigned long error = 0;
        if (!RemoveEmptyGameFolder(folder.c_str(), &error) && error != ERROR_DIR_NOT_EMPTY)
            TraceFailure("content delete", "folder", error);
    }
    removals.Folders.clear();
}

// Sizes the bookkeeping once; false when memory runs out (nothing is deleted then).
bool Ready(ContentRun& run) {
    OldRemovals& removals = run.Removals;
    if (removals.Bytes) return true;
    removals.Settled.assign(run.Plan.Totals.Deletions, 0);
    for (uint32_t i = 0; i < run.Plan.Totals.Deletions; ++i)
        if (ContentDeletionAt(run.Plan, i).BeforeBuilding) removals.Blockers.push_back(i);
    const uint32_t chunkMax = run.Survey.OldRelease.ChunkMax ? run.Survey.OldRelease.ChunkMax : 1;
    removals.Bytes.reset(new (std::nothrow) uint8_t[chunkMax]);
    return removals.Bytes != nullptr;
}

// True when one of the two release paths is a folder above the other, compared as the release
// compares its paths.
bool OneHoldsTheOther(const ReleaseFile& a, const ReleaseFile& b) {
    const ReleaseFile& shorter = a.PathLength < b.PathLength ? a : b;
    const ReleaseFile& longer = a.PathLength < b.PathLength ? b : a;
    if (shorter.PathLength == longer.PathLength || longer.Path[shorter.PathLength] != '/') return false;
    return CompareFoldedPaths(shorter.Path, shorter.PathLength, longer.Path, shorter.PathLength) == 0;
}

}  // namespace

void ClearWayFor(ContentRun& run, uint32_t newFile) {
    const ReleaseFile n = ReleaseFileAt(run.New.Manifest, newFile);
    bool cleared = false;
    uint32_t waitMs = kHeldWaitMs;
    if (run.Plan.Totals.Deletions == 0 || !Ready(run)) return;
    for (const uint32_t i : run.Removals.Blockers) {
        const ContentDeletion d = ContentDeletionAt(run.Plan, i);
        if (run.Removals.Settled[i]) continue;
        if (!OneHoldsTheOther(ReleaseFileAt(run.Survey.OldRelease, d.OldFile), n)) continue;
        run.Removals.Settled[i] = 1;
        RemoveOldFile(run, d.OldFile, &waitMs);
        cleared = true;
    }
    if (cleared) RemoveEmptiedFolders(run.Removals);
}

void DeleteOldFiles(ContentRun& run) {
    if (run.Plan.Totals.Deletions == 0 || !Ready(run)) return;
    // Every new file is in place now: identities learnt before the build are looked at again.
    run.Removals.NewFilesKnown = false;
    uint32_t waitMs = kHeldWaitMs;
    for (uint32_t i = 0; i < run.Plan.Totals.Deletions; ++i) {
        if (run.Removals.Settled[i]) continue;
        run.Removals.Settled[i] = 1;
        RemoveOldFile(run, ContentDeletionAt(run.Plan, i).OldFile, &waitMs);
    }
    RemoveEmptiedFolders(run.Removals);
}
