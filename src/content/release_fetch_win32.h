// The first step of a content run: the release manifest of the newest version, fetched from the
// patch base (or made from a delta) and checked against the signed manifest before it is parsed.
#pragma once

#include <cstdint>

#include "content/content_report.h"
#include "content/run_parts.h"
#include "content_fetch/retry_schedule.h"

// Fetches, checks and parses Content/releases/<release->Version>.release into *release (from a
// listed delta when the folder keeps its base, release_delta_fetch_win32.h). 1, or
// 0 with the stop reported: unlisted, of a size out of bounds, refused or unreachable, not its
// hash, or not a release manifest of that version.
int FetchNewRelease(const ContentLink& link, ContentReport& report, NewRelease* release);

// The stop of a request that failed for good with last: the server refusing path
// (ContentFailureIsRefusal) names release (kStopUnavailable), anything else is kStopFetch. Name
// points at path.
ContentStop RequestStop(uint32_t release, const char* path, const ContentTry& last);
