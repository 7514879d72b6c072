// What the content worker's steps share through one run (content_worker_win32.cpp holds its
// order): the pieces of run_parts.h, what the survey found, the plan, the fetched deltas, the
// stamps of the files put in place and the report. A step takes the whole run only where it
// needs most of it (the build, the finish); the others take their pieces.
#pragma once

#include <cstdint>
#include <vector>

#include "content/content_report.h"
#include "content/content_survey_win32.h"
#include "content/delta_fetch_win32.h"
#include "content/old_files_win32.h"
#include "content/run_parts.h"
#include "content_format/local_state.h"
#include "content_plan/content_plan.h"

struct ContentRun {
    ContentReport* Report = nullptr;
    ContentLink Link;
    NewRelease New;
    bool Verify = false;  // no stamp vouches: every local file of either release is hashed
    FolderSurvey Survey;
    ContentPlan Plan;
    CacheIndex Index;
    ChunkBuffers Buffers;  // the worker thread's
    FetchedDeltas Deltas;
    BuildTally Tally;
    std::vector<ContentFileStamp> Stamps;  // per new file, once in place
    OldRemovals Removals;
    uint64_t DiskNeed = 0;  // the bytes the run takes on the disk, as checked before fetching
    bool DiskFull = false;  // a write or flush of the run met a full disk
    // Notes a failure of the run's own files by its code; a full disk sticks.
    void NoteFailure(unsigned long code);
};
