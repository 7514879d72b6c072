// What the folder holds before an update: the kept state and manifest, which files their stamps
// still vouch for, and every other local file of either release cut into hashed chunks.
#include "content/content_survey_win32.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "common/failure_trace.h"
#include "content/parallel_cut_win32.h"
#include "content/wide_path_win32.h"
#include "content_format/content_chunker.h"
#include "paths/game_folder_win32.h"
#include "update/signature_win32.h"

int ReadWholeFile(const wchar_t* name, uint64_t limit, std::unique_ptr<uint8_t[]>* out, std::size_t* length) {
    FileHandle file;
    unsigned long error = 0;
    OpenGameFile(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, &file, &error);
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
        static_cast<uint64_t>(size.QuadPart) > limit)
        return 0;
    *length = static_cast<std::size_t>(size.QuadPart);
    out->reset(new (std::nothrow) uint8_t[*length]);
    if (!*out) return 0;
    std::size_t have = 0;
    while (have < *length) {
        const DWORD want = *length - have > (1u << 20) ? (1u << 20) : static_cast<DWORD>(*length - have);
        DWORD got = 0;
        if (!ReadFile(file.Get(), out->get() + have, want, &got, nullptr) || got == 0) return 0;
        have += got;
    }
    return 1;
}

namespace {

// The first release path found passing through a link (Path null: none).
struct LinkedPath {
    const char* Path;
    std::size_t Length;
};

int LoadKeptRelease(FolderSurvey& survey) {
    std::size_t length = 0;
    if (!ReadWholeFile(kContentStateFile, kContentStateHeaderSize + uint64_t(kContentStampSize) * kReleaseMaxFiles,
                       &survey.StateBytes, &length) ||
        !ParseContentState(survey.StateBytes.get(), length, &survey.State))
        return 0;
    char name[64];
    wchar_t wide[64];
    if (!KeptReleaseName(survey.State.Header.Release, name, sizeof name) ||
        !WidePathOf(name, std::strlen(name), wide, 64))
        return 0;
    std::size_t size = 0;
    uint8_t digest[kSha256Size];
    if (!ReadWholeFile(wide, kReleaseMaxBytes, &survey.OldBytes, &size) ||
        !Sha256Of(survey.OldBytes.get(), size, digest) ||
        !ParseReleaseManifest(survey.OldBytes.get(), size, &survey.OldRelease))
        return 0;
    return ContentStateDescribes(survey.State, survey.OldRelease, digest) ? 1 : 0;
}

// Old files whose size and time are still their stamps', when the lists say the same chunks.
void VouchOldFiles(const ReleaseManifest& release, FolderSurvey& survey) {
    survey.Vouched.assign(survey.OldRelease.FileCount, 0);
    if (!ReleasesCutAlike(survey.OldRelease, release)) return;
    for (uint32_t i = 0; i < survey.OldRelease.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(survey.OldRelease, i);
        wchar_t wide[kWidePathSize];
        uint64_t size = 0, lastWrite = 0;
        if (WidePathOf(f.Path, f.PathLength, wide, kWidePathSize) && WideFileStamp(wide, &size, &lastWrite))
            survey.Vouched[i] = StampVouches(ContentStampAt(survey.State, i), size, lastWrite) ? 1 : 0;
    }
}

bool IsVouched(const FolderSurvey& survey, const char* path, std::size_t length, ContentFileStamp* found) {
    uint32_t old = 0;
    if (!survey.HaveOld || !FindReleaseFile(survey.OldRelease, path, length, &old) || !survey.Vouched[old])
        return false;
    *found = ContentStampAt(survey.State, old);  // what VouchOldFiles found there
    return true;
}

// The chunks the release lists for its file, when the local file has its size: checked before
// any cut, they spare an intact file the chunker.
void KnownChunks(const ReleaseManifest& release, uint32_t file, uint64_t size, std::vector<ContentCutChunk>* out) {
    const ReleaseFile f = ReleaseFileAt(release, file);
    if (f.Size != size || f.ReferenceCount == 0) return;
    out->reserve(f.ReferenceCount);
    uint64_t offset = 0;
    for (uint32_t r = f.FirstReference; r < f.FirstReference + f.ReferenceCount; ++r) {
        const ReleaseChunk c = ReleaseChunkAt(release, ReleaseReferenceAt(release, r));
        ContentCutChunk chunk;
        chunk.Offset = offset;
        chunk.Length = c.RawSize;
        std::memcpy(chunk.Sha256, c.Sha256, kReleaseHashSize);
        out->push_back(chunk);
        offset += c.RawSize;
    }
}

// Queues the local file at path to be cut unless it is vouched for; a missing file is simply
// not there. *found receives the stamp of the file at path, taken before it is cut (LastWrite
// 0: none). A path through a link is never read: the first such path becomes *linked.
void QueueIfPresent(const ReleaseManifest& release, FolderSurvey& survey, const char* path, std::size_t length,
                    std::vector<ContentCutJob>* jobs, uint64_t* bytes, ContentFileStamp* found, LinkedPath* linked) {
    *found = ContentFileStamp{0, 0};
    if (IsVouched(survey, path, length, found)) return;
    wchar_t wide[kWidePathSize];
    uint64_t size = 0, lastWrite = 0;
    bool isLinked = false;
    if (!WidePathOf(path, length, wide, kWidePathSize)) return;
    if (!WideFileStampChecked(wide, &size, &lastWrite, &isLinked)) {
        if (isLinked && !linked->Path) *linked = LinkedPath{path, length};
        return;
    }
    *found = ContentFileStamp{size, lastWrite};
    jobs->emplace_back();
    jobs->back().Path = wide;
    uint32_t listed = 0;
    if (FindReleaseFile(release, path, length, &listed)) KnownChunks(release, listed, size, &jobs->back().Known);
    survey.CutPaths.emplace_back(path, length);
    *bytes += size;
}

struct SurveyWatch {
    const ContentCutProgress* Progress;
    uint64_t Bytes;
    uint32_t Files;
    ContentReport* Report;
};

// The verify's progress, told from the waiting thread: bytes hashed of all, files done of all.
void ReportVerifying(void* context) {
    const SurveyWatch& watch = *static_cast<const SurveyWatch*>(context);
    ContentProgress progress;
    progress.Stage = kStageVerifying;
    progress.Done = watch.Progress->Bytes.load(std::memory_order_relaxed);
    progress.ToDo = watch.Bytes;
    progress.FilesDone = watch.Progress->Files.load();
    progress.Files = watch.Files;
    watch.Report->Progress(progress);
}

// Cuts the queued files on the survey's threads; a file that cannot be read (or a release whose
// sizes cut nothing) is no source.
void CutQueued(FolderSurvey& survey, std::vector<ContentCutJob>& jobs, uint64_t bytes, const ChunkSizes& sizes,
               bool verify, ContentReport& report) {
    ContentCutProgress progress;
    SurveyWatch watch = {&progress, bytes, static_cast<uint32_t>(jobs.size()), &report};
    if (!jobs.empty())
        CutFilesInParallel(jobs, sizes, kCutThreads, &progress, verify ? ReportVerifying : nullptr, &watch);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].Cut) {
            TraceFailure("content cut", "read", survey.CutPaths[i].c_str(), jobs[i].Error);
            continue;
        }
        if (kept != i) survey.CutPaths[kept] = std::move(survey.CutPaths[i]);  // a string moved onto itself empties
        ++kept;
        survey.CutChunks.push_back(std::move(jobs[i].Chunks));
    }
    survey.CutPaths.resize(kept);
}

}  // namespace

int SurveyFolder(const NewRelease& release, bool verify, ContentReport& report, FolderSurvey* survey) {
    const ReleaseManifest& m = release.Manifest;
    survey->HaveOld = LoadKeptRelease(*survey) != 0;
    if (!survey->HaveOld) EmptyReleaseManifest(&survey->OldRelease);
    if (survey->HaveOld && !verify) VouchOldFiles(m, *survey);
    if (verify) survey->Vouched.assign(survey->OldRelease.FileCount, 0);
    ChunkSizes sizes;
    sizes.min = m.ChunkMin;
    sizes.avg = m.ChunkAvg;
    sizes.max = m.ChunkMax;
    survey->Found.assign(m.FileCount, ContentFileStamp{0, 0});
    std::vector<ContentCutJob> jobs;
    uint64_t bytes = 0;
    LinkedPath linked = {nullptr, 0};
    for (uint32_t i = 0; i < m.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(m, i);
        QueueIfPresent(m, *survey, f.Path, f.PathLength, &jobs, &bytes, &survey->Found[i], &linked);
    }
    ContentFileStamp unused;
    for (uint32_t i = 0; survey->HaveOld && i < survey->OldRelease.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(survey->OldRelease, i);
        uint32_t same = 0;  // a path both releases list was looked at above
        if (!FindReleaseFile(m, f.Path, f.PathLength, &same))
            QueueIfPresent(m, *survey, f.Path, f.PathLength, &jobs, &bytes, &unused, &linked);
    }
    // Before anything is read, fetched or written: an update through a link would reach
    // whatever the link names, outside the game folder.
    if (linked.Path) {
        TraceFailure("content survey", "link", std::string(linked.Path, linked.Length).c_str(), kLinkRefused);
        report.Stopped(NamedStop(kStopLink, linked.Path, linked.Length));
        return 0;
    }
    CutQueued(*survey, jobs, bytes, sizes, verify, report);
    survey->CutFiles.resize(survey->CutPaths.size());
    for (std::size_t i = 0; i < survey->CutPaths.size(); ++i) {
        survey->CutFiles[i].Path = survey->CutPaths[i].data();
        survey->CutFiles[i].PathLength = survey->CutPaths[i].size();
        survey->CutFiles[i].Chunks = survey->CutChunks[i].data();
        survey->CutFiles[i].ChunkCount = static_cast<uint32_t>(survey->CutChunks[i].size());
    }
    return 1;
}
