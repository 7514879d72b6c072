// Cutting many local files at once, one file per thread at a time, so hashing uses every core
// the survey is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "content_format/content_chunker.h"
#include "content_plan/content_plan.h"

// The survey reads with at most this many threads: two keep both cores of a small machine
// hashing, and a spinning disk is not asked for more places at once.
constexpr uint32_t kCutThreads = 2;

// One file to cut. Only the thread that takes it writes its results.
struct ContentCutJob {
    std::wstring Path;                    // the local file's name
    std::vector<ContentCutChunk> Known;   // the release's chunks for it, or none: checked
                                          // first, and the file cut only when it differs
    std::vector<ContentCutChunk> Chunks;  // its chunks, when Cut is 1
    unsigned long Error = 0;              // the code of a failed open or read, or 0
    int Cut = 0;                          // 1 when the file was cut from start to end
};

// What the threads have done so far, for a status line on the waiting thread.
struct ContentCutProgress {
    std::atomic<uint64_t> Bytes{0};
    std::atomic<uint32_t> Files{0};
};

// Cuts every job with sizes, each by exactly one of up to threads threads taking the next job
// in turn. The calling thread waits, calling tick(context) about every 100 ms and once at the
// end; when no thread can be started it cuts the jobs itself. 1 when every job was tried (each
// job's Cut says whether it was cut), 0 when sizes are unusable or threads is 0.
int CutFilesInParallel(std::vector<ContentCutJob>& jobs, const ChunkSizes& sizes, uint32_t threads,
                       ContentCutProgress* progress, void (*tick)(void* context), void* context);
