// The content requests' tries and the counted-down waits between them, on the worker thread.
#include "content/content_retry_win32.h"

#include <windows.h>
#include <wininet.h>

#include "common/display_state.h"
#include "common/failure_trace.h"
#include "content/content_text.h"

// retry_schedule.cpp names these failures by number, without the system's headers.
static_assert(ERROR_INTERNET_TIMEOUT == 12002 && ERROR_INTERNET_NAME_NOT_RESOLVED == 12007 &&
                  ERROR_INTERNET_CANNOT_CONNECT == 12029 && ERROR_INTERNET_CONNECTION_ABORTED == 12030 &&
                  ERROR_INTERNET_CONNECTION_RESET == 12031 && ERROR_INTERNET_FORCE_RETRY == 12032 &&
                  ERROR_HTTP_INVALID_SERVER_RESPONSE == 12152 && ERROR_INTERNET_DISCONNECTED == 12163,
              "WinInet's error numbers");
static_assert(WSAECONNABORTED == 10053 && WSAECONNRESET == 10054 && WSAETIMEDOUT == 10060 &&
                  WSAECONNREFUSED == 10061 && WSAHOST_NOT_FOUND == 11001 && WSATRY_AGAIN == 11002,
              "Winsock's error numbers");

namespace {

// A quit must not wait for a 16 s pause: the flag is looked at this often.
constexpr uint32_t kQuitLookMs = 100;

RetryJitter& Jitter() {
    static RetryJitter jitter = [] {
        LARGE_INTEGER now = {};
        QueryPerformanceCounter(&now);
        return RetryJitter{static_cast<uint64_t>(now.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32)};
    }();
    return jitter;
}

// Sleeps up to ms in short pieces; 0 as soon as the launcher is ending.
int SleepUnlessQuitting(uint32_t ms) {
    while (ms > 0) {
        if (QuitRequested.load()) return 0;
        const uint32_t piece = ms < kQuitLookMs ? ms : kQuitLookMs;
        Sleep(piece);
        ms -= piece;
    }
    return QuitRequested.load() ? 0 : 1;
}

// The line counts the seconds down, once a second; afterwards it shows what it showed before.
int WaitCountingDown(uint32_t waitMs, const char* path) {
    char before[SharedText::kSize];
    StatusText.CopyTo(before, sizeof before);
    for (uint32_t left = waitMs; left > 0;) {
        StatusText.Format(ContentText.Retrying, CountdownSeconds(left), path);
        const uint32_t step = CountdownStepMs(left);
        if (!SleepUnlessQuitting(step)) return 0;
        left -= step;
    }
    StatusText.Set(before);
    return 1;
}

}  // namespace

int TryContentRequest(const char* path, ContentAttempt attempt, void* context, ContentTry* last) {
    *last = ContentTry{kFailNone, 0, 0};
    for (uint32_t n = 1; n <= kContentTries; ++n) {
        if (n > 1 && !WaitCountingDown(ContentRetryWaitMs(n, Jitter()), path)) return 0;
        if (attempt(context, last)) return 1;
        if (!ContentFailureIsPassing(*last)) {
            TraceFailure("content request", "not tried again", path, last->Status ? last->Status : last->Error);
            return 0;
        }
        TraceFailure("content request", n < kContentTries ? "tried again" : "last try failed", path,
                     last->Status ? last->Status : last->Error);
    }
    return 0;
}

ContentTry ContentTryOf(int32_t rangeResult, const RangeAnswer& answer) {
    ContentFailure failure = kFailLocal;
    switch (rangeResult) {
    case kRangeDone: failure = kFailNone; break;
    case kRangeOpenFailed: failure = kFailOpen; break;
    case kRangeBadStatus: failure = kFailStatus; break;
    case kRangeBadAnswer: failure = kFailAnswer; break;
    case kRangeReadFailed: failure = kFailRead; break;
    default: break;
    }
    return ContentTry{failure, answer.Status, answer.Error};
}

void ShowContentFailure(uint32_t release, const char* path, const ContentTry& last) {
    if (ContentFailureIsRefusal(last))
        StatusText.Format(ContentText.Unavailable, static_cast<unsigned>(release), path);
    else
        StatusText.Format(ContentText.FetchFailed, path);
}
