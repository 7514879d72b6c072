// One content request's tries: a failure that waiting may mend is followed by the schedule's
// wait, counted down on the status line; the last failure is handed back to the caller.
#pragma once

#include <atomic>
#include <cstdint>

#include "content/range_fetch_win32.h"
#include "content/retry_schedule.h"

// One try of a request: 1 when it is done, else 0 with *failure saying how it failed.
using ContentAttempt = int (*)(void* context, ContentTry* failure);

// Runs attempt up to kContentTries times. Returns 1 when a try succeeded; 0 after a failure
// that will not pass, after the last try, or when the launcher is ending during a wait.
// *last is the last failure. The line is put back as it was after each wait.
int TryContentRequest(const char* path, ContentAttempt attempt, void* context, ContentTry* last);

// What requests running side by side share while they try: Stop, once non-zero, ends a wait at
// once like a quit (0, nothing put back on the line); Waiting counts the requests counting down,
// so that whoever shows the progress leaves the line to them meanwhile. Either may be null.
struct ContentTryShared {
    const std::atomic<int32_t>* Stop;
    std::atomic<int32_t>* Waiting;
};

// TryContentRequest for one of several requests at once.
int TryContentRequestShared(const char* path, ContentAttempt attempt, void* context, const ContentTryShared& shared,
                            ContentTry* last);

// One try of a request for a file a mirror may serve: url is the file's address below the base
// chosen for this try.
using MirroredAttempt = int (*)(void* context, const char* url, ContentTry* failure);

// TryContentRequest over the content bases (mirror_list.h): each try's URL is path below the
// base chosen for it; a base that is down, refuses the file or serves a bad chunk gives way to
// the next at once, one whose failures pass after its tries. Each switch is traced. *last is
// the last base's last failure.
int TryMirroredRequest(const char* path, MirroredAttempt attempt, void* context, ContentTry* last);
// TryMirroredRequest for one of several requests at once (ContentTryShared above).
int TryMirroredRequestShared(const char* path, MirroredAttempt attempt, void* context, const ContentTryShared& shared,
                             ContentTry* last);

// The failure a finished FetchRange reports (kFailNone for kRangeDone; a sink's stop is this
// side's unless the caller knows better).
ContentTry ContentTryOf(int32_t rangeResult, const RangeAnswer& answer);

// The line for a request that failed for good: a refusal by the server names the release
// (ContentText.Unavailable), anything else is ContentText.FetchFailed.
void ShowContentFailure(uint32_t release, const char* path, const ContentTry& last);
