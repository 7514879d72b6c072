// The build step of a content run: each file that needs it made in a partial file beside it,
// from its delta or from its chunks (a local file, the cache or its pack: chunk_source.h), then
// moved into place, waiting a while for a file another program holds.
#pragma once

struct ContentRun;

// Builds every file the plan does not find whole, in ascending order, and notes each file's
// stamp in run.Stamps (the survey's for a whole one). 1, or 0 with the stop reported for the
// file that failed.
int BuildFiles(ContentRun& run);
