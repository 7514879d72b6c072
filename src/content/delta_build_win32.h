// A file of the new release made from its delta against the file at its path (the base),
// every piece checked against its chunk's name as it comes out.
#pragma once

#include <cstdint>

#include "content/content_report.h"
#include "content/delta_fetch_win32.h"
#include "content/run_parts.h"
#include "content/wide_partial_file_win32.h"
#include "content_plan/content_plan.h"

// What the delta road reads and counts.
struct DeltaRoad {
    const ReleaseManifest* Release;
    const ContentPlan* Plan;
    const FetchedDeltas* Deltas;
    uint8_t* Raw;  // one chunk's bytes, ChunkMax: where each piece comes out
    BuildTally* Tally;
    ContentReport* Report;
};

// A kRoadDelta file made in partial (just created for target) from its delta: 1 when every
// chunk came out of it and was written; 0 when the file is to take its chunks, in partial made
// anew; -1 when the partial file could not be made anew (partial.LastError()).
int BuildDeltaRoad(const DeltaRoad& road, uint32_t file, WidePartialFile& partial, const wchar_t* target);
