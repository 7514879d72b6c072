// The last step of a content run: what the folder keeps once every file is in place.
#pragma once

struct ContentRun;

// Keeps content.<V>.release and content.state (each through a partial file moved into place),
// writes the version record, drops older kept releases and the cache, and reports the end.
// 1, or 0 with the stop reported (a full disk noted in run.DiskFull).
int FinishRun(ContentRun& run);
