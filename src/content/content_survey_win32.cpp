// What the folder holds before an update: the kept state and manifest, which files their stamps
// still vouch for, and every other local file of either release cut into hashed chunks.
#include <windows.h>

#include <cstring>

#include "common/failure_trace.h"
#include "content/chunker.h"
#include "content/content_run.h"
#include "content/content_survey_win32.h"
#include "content/local_cut_win32.h"
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

// Cuts the local file at path unless it is vouched for; a missing file is simply not there.
// *found receives the stamp of the file at path, taken before it was cut (LastWrite 0: none).
void CutIfPresent(ContentRun& run, const char* path, std::size_t length, const ChunkSizes& sizes,
                  ContentFileStamp* found) {
    *found = ContentFileStamp{0, 0};
    if (IsVouched(run, path, length, found)) return;
    wchar_t wide[kWidePathSize];
    uint64_t size = 0, lastWrite = 0;
    if (!WidePathOf(path, length, wide, kWidePathSize) || !WideFileStamp(wide, &size, &lastWrite)) return;
    *found = ContentFileStamp{size, lastWrite};
    std::vector<ContentCutChunk> chunks;
    unsigned long error = 0;
    if (!CutLocalFile(wide, sizes, &chunks, &error)) {
        TraceFailure("content cut", "read", std::string(path, length).c_str(), error);
        return;
    }
    run.CutPaths.emplace_back(path, length);
    run.CutChunks.push_back(std::move(chunks));
}

}  // namespace

int SurveyFolder(ContentRun& run) {
    run.HaveOld = LoadKeptRelease(run) != 0;
    if (!run.HaveOld) EmptyReleaseManifest(&run.OldRelease);
    if (run.HaveOld) VouchOldFiles(run);
    ChunkSizes sizes;
    sizes.min = run.NewRelease.ChunkMin;
    sizes.avg = run.NewRelease.ChunkAvg;
    sizes.max = run.NewRelease.ChunkMax;
    run.Found.assign(run.NewRelease.FileCount, ContentFileStamp{0, 0});
    for (uint32_t i = 0; i < run.NewRelease.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(run.NewRelease, i);
        CutIfPresent(run, f.Path, f.PathLength, sizes, &run.Found[i]);
    }
    ContentFileStamp unused;
    for (uint32_t i = 0; run.HaveOld && i < run.OldRelease.FileCount; ++i) {
        const ReleaseFile f = ReleaseFileAt(run.OldRelease, i);
        uint32_t same = 0;  // a path both releases list was looked at above
        if (!FindReleaseFile(run.NewRelease, f.Path, f.PathLength, &same))
            CutIfPresent(run, f.Path, f.PathLength, sizes, &unused);
    }
    run.CutFiles.resize(run.CutPaths.size());
    for (std::size_t i = 0; i < run.CutPaths.size(); ++i) {
        run.CutFiles[i].Path = run.CutPaths[i].data();
        run.CutFiles[i].PathLength = run.CutPaths[i].size();
        run.CutFiles[i].Chunks = run.CutChunks[i].data();
        run.CutFiles[i].ChunkCount = static_cast<uint32_t>(run.CutChunks[i].size());
    }
    return 1;
}
