// One content request's tries: a failure that waiting may mend is followed by the schedule's
// wait, told to the request's FetchWatch as a countdown; the last failure is handed back to the
// caller, who decides what a request that failed for good means.
#pragma once

#include <atomic>
#include <cstdint>

#include "content_fetch/fetch_watch.h"
#include "content_fetch/range_fetch_win32.h"
#include "content_fetch/retry_schedule.h"

// One try of a request: 1 when it is done, else 0 with *failure saying how it failed.
using ContentAttempt = int (*)(void* context, ContentTry* failure);

// Runs attempt up to kContentTries times. Returns 1 when a try succeeded; 0 after a failure
// that will not pass, after the last try, or when watch.Ending() during a wait. Each wait is
// told to watch (RetryWaitBegins, RetryWaiting once a second, RetryWaitOver). *last is the last
// failure.
int TryContentRequest(const char* path, ContentAttempt attempt, void* context, FetchWatch& watch, ContentTry* last);

// What requests running side by side share while they try: Stop, once non-zero, ends a wait at
// once like the launcher's end (RetryWaitOver(0)); Waiting counts the requests counting down,
// so that whoever reports the progress leaves the line to them meanwhile. Either may be null.
struct ContentTryShared {
    const std::atomic<int32_t>* Stop;
    std::atomic<int32_t>* Waiting;
};

// TryContentRequest for one of several requests at once.
int TryContentRequestShared(const char* path, ContentAttempt attempt, void* context, FetchWatch& watch,
                            const ContentTryShared& shared, ContentTry* last);

// One try of a request for a file a mirror may serve: url is the file's address below the base
// chosen for this try.
using MirroredAttempt = int (*)(void* context, const char* url, ContentTry* failure);

// TryContentRequest over the content bases (mirror_list.h): each try's URL is path below the
// base chosen for it; a base that is down, refuses the file or serves a bad chunk gives way to
// the next at once, one whose failures pass after its tries. Each switch is traced. *last is
// the last base's last failure.
int TryMirroredRequest(const char* path, MirroredAttempt attempt, void* context, FetchWatch& watch, ContentTry* last);
// TryMirroredRequest for one of several requests at once (ContentTryShared above).
int TryMirroredRequestShared(const char* path, MirroredAttempt attempt, void* context, FetchWatch& watch,
                             const ContentTryShared& shared, ContentTry* last);

// The failure a finished FetchRange reports (kFailNone for kRangeDone; a sink's stop is this
// side's unless the caller knows better).
ContentTry ContentTryOf(int32_t rangeResult, const RangeAnswer& answer);

// One try's single range read whole into memory: the size bytes of url from first into out.
// 1, or 0 with *failure (ContentTryOf) and the failure traced under path.
int FetchRangeInto(HINTERNET session, int secure, const char* path, const char* url, uint64_t first, uint64_t size,
                   uint8_t* out, ContentTry* failure);
