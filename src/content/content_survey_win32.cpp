// What the folder holds before an update: the kept state and manifest, which files their stamps
// still vouch for, and every other local file of either release cut into hashed chunks.
#include <windows.h>

#include <cstring>

#include "common/display_state.h"
#include "common/failure_trace.h"
#include "content/chunker.h"
#include "content/content_run.h"
#include "content/content_survey_win32.h"
#include "content/content_text.h"
#include "content/parallel_cut_win32.h"
#include "content/wide_path_win32.h"
#include "update/signature_win32.h"

int ReadWholeFile(const wchar_t* name, uint64_t limit, std::unique_ptr<uint8_t[]>* out, std::size_t* length) {
    FileHandle file(CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
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

int LoadKeptRelease(ContentRun& run) {
    std::size_t length = 0;
    if (!ReadWholeFile(L"content.state", kContentStateHeaderSize + uint64_t(kContentStampSize) * kReleaseMaxFiles,
                       &run.StateBytes, &length) ||
        !ParseContentState(run.StateBytes.get(), length, &run.State))
        return 0;
    char name[64];
    wchar_t wide[64];
    if (!KeptReleaseName(run.State.Header.Release, name, sizeof name) || !WidePathOf(name, std::strlen(name), wide, 64))
        return 0;
    std::size_t size = 0;
    uint8_t digest[kSha256Size];
    if (!ReadWholeFile(wide, kReleaseMaxBytes, &run.OldBytes, &size) || !Sha256Of(run.OldBytes.get(), size, digest) ||
        !ParseReleaseManifest(run.OldBytes.get(), size, &run.OldRelease))
        return 0;
    return ContentStateDescribes(run.State, run.OldRelease, digest) ? 1 : 0;
}

// Old files whose size and time are still their stamps', when the lists say the same chunks.
void VouchOldFiles(ContentRun& run) {
    run.Vouched.assign(run.OldRelease.FileCount, 0);
    if (!ReleasesCutAlike(run.OldRelease, run.NewRelease)) return;
    for (uint32_t i = 0; i < run.OldRelease.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(run.OldRelease, i);
        wchar_t wide[kWidePathSize];
        uint64_t size = 0, lastWrite = 0;
        if (WidePathOf(f.Path, f.PathLength, wide, kWidePathSize) && WideFileStamp(wide, &size, &lastWrite))
            run.Vouched[i] = StampVouches(ContentStampAt(run.State, i), size, lastWrite) ? 1 : 0;
    }
}

bool IsVouched(const ContentRun& run, const char* path, std::size_t length, ContentFileStamp* found) {
    uint32_t old = 0;
    if (!run.HaveOld || !FindReleaseFile(run.OldRelease, path, length, &old) || !run.Vouched[old]) return false;
    *found = ContentStampAt(run.State, old);  // what VouchOldFiles found there
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
// 0: none).
void QueueIfPresent(ContentRun& run, const char* path, std::size_t length, std::vector<ContentCutJob>* jobs,
                    uint64_t* bytes, ContentFileStamp* found) {
    *found = ContentFileStamp{0, 0};
    if (IsVouched(run, path, length, found)) return;
    wchar_t wide[kWidePathSize];
    uint64_t size = 0, lastWrite = 0;
    if (!WidePathOf(path, length, wide, kWidePathSize) || !WideFileStamp(wide, &size, &lastWrite)) return;
    *found = ContentFileStamp{size, lastWrite};
    jobs->emplace_back();
    jobs->back().Path = wide;
    uint32_t listed = 0;
    if (FindReleaseFile(run.NewRelease, path, length, &listed)) KnownChunks(run.NewRelease, listed, size, &jobs->back().Known);
    run.CutPaths.emplace_back(path, length);
    *bytes += size;
}

struct SurveyWatch {
    const ContentCutProgress* Progress;
    uint64_t Bytes;
    uint32_t Files;
};

// The verify's line and bars: kilobytes hashed of all, files done of all.
void ShowVerifying(void* context) {
    const SurveyWatch& watch = *static_cast<const SurveyWatch*>(context);
    const uint64_t done = watch.Progress->Bytes.load(std::memory_order_relaxed);
    const uint32_t files = watch.Progress->Files.load();
    StatusText.Format(ContentText.Verifying, static_cast<unsigned>(done >> 10), static_cast<unsigned>(watch.Bytes >> 10));
    ProgressCurrent = watch.Bytes ? static_cast<int32_t>(done * 100 / watch.Bytes) : 100;
    ProgressTotal = watch.Files ? static_cast<int32_t>(uint64_t(files) * 100 / watch.Files) : 100;
}

// Cuts the queued files on the survey's threads; a file that cannot be read (or a release whose
// sizes cut nothing) is no source.
void CutQueued(ContentRun& run, std::vector<ContentCutJob>& jobs, uint64_t bytes, const ChunkSizes& sizes) {
    ContentCutProgress progress;
    SurveyWatch watch = {&progress, bytes, static_cast<uint32_t>(jobs.size())};
    if (!jobs.empty()) CutFilesInParallel(jobs, sizes, kCutThreads, &progress, run.Verify ? ShowVerifying : nullptr, &watch);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].Cut) {
            TraceFailure("content cut", "read", run.CutPaths[i].c_str(), jobs[i].Error);
            continue;
        }
        if (kept != i) run.CutPaths[kept] = std::move(run.CutPaths[i]);  // a string moved onto itself empties
        ++kept;
        run.CutChunks.push_back(std::move(jobs[i].Chunks));
    }
    run.CutPaths.resize(kept);
}

}  // namespace

int SurveyFolder(ContentRun& run) {
    run.HaveOld = LoadKeptRelease(run) != 0;
    if (!run.HaveOld) EmptyReleaseManifest(&run.OldRelease);
    if (run.HaveOld && !run.Verify) VouchOldFiles(run);
    if (run.Verify) run.Vouched.assign(run.OldRelease.FileCount, 0);
    ChunkSizes sizes;
    sizes.min = run.NewRelease.ChunkMin;
    sizes.avg = run.NewRelease.ChunkAvg;
    sizes.max = run.NewRelease.ChunkMax;
    run.Found.assign(run.NewRelease.FileCount, ContentFileStamp{0, 0});
    std::vector<ContentCutJob> jobs;
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < run.NewRelease.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(run.NewRelease, i);
        QueueIfPresent(run, f.Path, f.PathLength, &jobs, &bytes, &run.Found[i]);
    }
    ContentFileStamp unused;
    for (uint32_t i = 0; run.HaveOld && i < run.OldRelease.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(run.OldRelease, i);
        uint32_t same = 0;  // a path both releases list was looked at above
        if (!FindReleaseFile(run.NewRelease, f.Path, f.PathLength, &same))
            QueueIfPresent(run, f.Path, f.PathLength, &jobs, &bytes, &unused);
    }
    CutQueued(run, jobs, bytes, sizes);
    run.CutFiles.resize(run.CutPaths.size());
    for (std::size_t i = 0; i < run.CutPaths.size(); ++i) {
        run.CutFiles[i].Path = run.CutPaths[i].data();
        run.CutFiles[i].PathLength = run.CutPaths[i].size();
        run.CutFiles[i].Chunks = run.CutChunks[i].data();
        run.CutFiles[i].ChunkCount = static_cast<uint32_t>(run.CutChunks[i].size());
    }
    return 1;
}
