// The fetch step of a content run: the plan's range requests into content.cache, up to
// kContentFetchLanes at once, each on a thread of its own with its own buffers, every chunk
// decoded and checked against its name before it is kept.
#pragma once

#include <cstdint>

#include "content/content_report.h"
#include "content/run_parts.h"
#include "content_plan/content_plan.h"

// Fetches every chunk the plan fetches into index.Cache (noting index.FrameAt), reporting the
// bytes done, the speed and the time left while the worker waits for the lanes; the first
// request that fails for good stops the others. 1 once the cache is flushed; 0 with the stop
// reported (a failure of the cache itself: see index.Cache.LastError()).
int FetchRequests(const ContentLink& link, const ReleaseManifest& release, const ContentPlan& plan, CacheIndex& index,
                  ContentReport& report);
