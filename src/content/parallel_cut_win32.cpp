// CutFilesInParallel: threads taking jobs by an atomic index, each with its own read block and
// hash objects (inside CutLocalFile); the jobs' slots are the only results they share.
#include "content/parallel_cut_win32.h"

#include <windows.h>
#include <process.h>

#include <new>

#include "common/failure_trace.h"
#include "common/win32_handle.h"
#include "content/local_cut_win32.h"

namespace {

constexpr DWORD kTickMilliseconds = 100;

struct CutShare {
    std::vector<ContentCutJob>* Jobs;
    ChunkSizes Sizes;
    std::atomic<uint32_t> Next{0};
    ContentCutProgress* Progress;
};

void CutJob(CutShare& share, ContentCutJob& job) {
    job.Chunks.clear();
    uint64_t counted = 0;
    if (!job.Known.empty() && FileHasChunks(job.Path.c_str(), job.Known, &job.Error, &share.Progress->Bytes, &counted)) {
        job.Chunks.swap(job.Known);  // an intact file: its cut would find these very chunks
        job.Cut = 1;
        return;
    }
    share.Progress->Bytes.fetch_sub(counted);  // read again from the start
    job.Cut = CutLocalFile(job.Path.c_str(), share.Sizes, &job.Chunks, &job.Error, &share.Progress->Bytes);
}

unsigned __stdcall CutJobs(void* argument) {
    CutShare& share = *static_cast<CutShare*>(argument);
    for (;;) {
        const uint32_t i = share.Next.fetch_add(1);
        if (i >= share.Jobs->size()) return 0;
        ContentCutJob& job = (*share.Jobs)[i];
        // A file whose chunks do not fit in memory is no source, and the process goes on.
        try {
            CutJob(share, job);
        } catch (const std::bad_alloc&) {
            job.Chunks = std::vector<ContentCutChunk>();
            job.Cut = 0;
            job.Error = ERROR_NOT_ENOUGH_MEMORY;
        }
        share.Progress->Files.fetch_add(1);
    }
}

}  // namespace

int CutFilesInParallel(std::vector<ContentCutJob>& jobs, const ChunkSizes& sizes, uint32_t threads,
                       ContentCutProgress* progress, void (*tick)(void* context), void* context) {
    Chunker probe;
    if (threads == 0 || !ChunkerStart(probe, sizes)) return 0;
    CutShare share;
    share.Jobs = &jobs;
    share.Sizes = sizes;
    share.Progress = progress;
    if (threads > kCutThreads) threads = kCutThreads;
    if (threads > jobs.size()) threads = jobs.empty() ? 1 : static_cast<uint32_t>(jobs.size());
    KernelHandle owned[kCutThreads];
    HANDLE waits[kCutThreads];
    DWORD started = 0;
    for (uint32_t t = 0; t < threads; ++t) {
        unsigned id = 0;
        const uintptr_t thread = _beginthreadex(nullptr, 0, CutJobs, &share, 0, &id);
        if (!thread) {
            TraceFailure("thread start", "CutJobs", GetLastError());
            break;
        }
        owned[started] = KernelHandle(reinterpret_cast<HANDLE>(thread));
        waits[started] = owned[started].Get();
        ++started;
    }
    if (started == 0) CutJobs(&share);  // what no thread took, this one does
    while (started > 0 && WaitForMultipleObjects(started, waits, TRUE, kTickMilliseconds) == WAIT_TIMEOUT) {
        if (tick) tick(context);
    }
    // share lives on this stack: however the wait above ended, no thread may outlive it.
    for (DWORD t = 0; t < started; ++t) WaitForSingleObject(waits[t], INFINITE);
    if (tick) tick(context);
    return 1;
}
