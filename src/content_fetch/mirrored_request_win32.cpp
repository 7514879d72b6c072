// The content requests' tries and the counted-down waits between them, on the thread that asks.
#include "content_fetch/mirrored_request_win32.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "content_fetch/content_mirrors.h"
#include "content_fetch/mirror_list.h"
#include "settings/launcher_settings.h"
#include "update/crawl_watch.h"

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

// A quit must not wait for a 16 s pause: the watch is asked this often.
constexpr uint32_t kQuitLookMs = 100;

// One generator per thread: requests running side by side draw their waits apart, unraced.
RetryJitter& Jitter() {
    static thread_local RetryJitter jitter = [] {
        LARGE_INTEGER now = {};
        QueryPerformanceCounter(&now);
        const uint64_t ids = (static_cast<uint64_t>(GetCurrentProcessId()) << 32) | GetCurrentThreadId();
        return RetryJitter{static_cast<uint64_t>(now.QuadPart) ^ ids};
    }();
    return jitter;
}

bool Stopping(const FetchWatch& watch, const ContentTryShared& shared) {
    return watch.Ending() || (shared.Stop && shared.Stop->load());
}

// Sleeps up to ms in short pieces; 0 as soon as the launcher is ending or the run stops.
int SleepUnlessQuitting(uint32_t ms, const FetchWatch& watch, const ContentTryShared& shared) {
    while (ms > 0) {
        if (Stopping(watch, shared)) return 0;
        const uint32_t piece = ms < kQuitLookMs ? ms : kQuitLookMs;
        Sleep(piece);
        ms -= piece;
    }
    return Stopping(watch, shared) ? 0 : 1;
}

// The seconds left are told once a second; the watch hears when the wait is over, and whether
// the request goes on. Waiting counts the wait before the watch hears of it and after it heard
// the end, so that whoever reports the progress meanwhile leaves the line alone.
int WaitCountingDown(uint32_t waitMs, const char* path, FetchWatch& watch, const ContentTryShared& shared) {
    if (shared.Waiting) shared.Waiting->fetch_add(1);
    watch.RetryWaitBegins(path);
    int waited = 1;
    for (uint32_t left = waitMs; left > 0 && waited;) {
        watch.RetryWaiting(CountdownSeconds(left), path);
        const uint32_t step = CountdownStepMs(left);
        waited = SleepUnlessQuitting(step, watch, shared);
        left -= step;
    }
    watch.RetryWaitOver(waited);
    if (shared.Waiting) shared.Waiting->fetch_sub(1);
    return waited;
}

struct BufferSink {
    uint8_t* Data;
    uint64_t Size;
    uint64_t Have;
};

int ToBuffer(void* context, const uint8_t* data, std::size_t length) {
    BufferSink& sink = *static_cast<BufferSink*>(context);
    if (length > sink.Size - sink.Have) return 1;
    std::memcpy(sink.Data + sink.Have, data, length);
    sink.Have += length;
    return 0;
}

void TraceLeftOut(void*, const char* entry, std::size_t length, const char* why) {
    char line[512];
    FormatText(line, sizeof line, "launcher: content mirror left out (%.*s): %s\n", static_cast<int>(length), entry, why);
    OutputDebugStringA(line);
}

// The list is the build's, read once; the health is shared by the requests that run at once.
const MirrorList& ContentBases() {
    static const MirrorList bases = [] {
        MirrorList list;
        ParseMirrorList(ContentMirrorsBuilt, LauncherSettings.PatchBaseUrl, &list, TraceLeftOut, nullptr);
        return list;
    }();
    return bases;
}

MirrorHealth Health;  // static storage: every base starts not cooling

void TraceSwitch(const char* path, const char* from, const char* to, const ContentTry& failure, uint32_t tries) {
    static const char* const kKinds[] = {"", "no connection", "status", "a wrong answer", "the body broke off",
                                         "a chunk failed its hash", "this side"};
    const char* kind = failure.Failure >= 0 && failure.Failure <= kFailLocal ? kKinds[failure.Failure] : "";
    if (failure.Failure == kFailRead && failure.Error == kCrawlErrorCode) kind = "the body crawled";
    char why[96];
    if (failure.Failure == kFailStatus && failure.Status)
        FormatText(why, sizeof why, "status %u", static_cast<unsigned>(failure.Status));
    else if (failure.Error)
        FormatText(why, sizeof why, "%s, error %u", kind, static_cast<unsigned>(failure.Error));
    else
        CopyText(why, kind);
    char line[640];
    FormatText(line, sizeof line, "launcher: content mirror switch (%s): %s -> %s, %s after %u %s\n", path, from, to,
               why, static_cast<unsigned>(tries), tries == 1 ? "try" : "tries");
    OutputDebugStringA(line);
}

void TraceStep(const char* path, const ContentTry& failure, MirrorStep step, uint32_t tries) {
    const char* what = step == kStepRetry ? "tried again" : step == kStepNextMirror ? "given to the next mirror"
                       : tries >= kContentTries                                   ? "last try failed"
                                                                                  : "not tried again";
    TraceFailure("content request", what, path, failure.Status ? failure.Status : failure.Error);
}

}  // namespace

int TryMirroredRequest(const char* path, MirroredAttempt attempt, void* context, FetchWatch& watch, ContentTry* last) {
    return TryMirroredRequestShared(path, attempt, context, watch, ContentTryShared{nullptr, nullptr}, last);
}

int TryMirroredRequestShared(const char* path, MirroredAttempt attempt, void* context, FetchWatch& watch,
                             const ContentTryShared& shared, ContentTry* last) {
    const MirrorList& bases = ContentBases();
    *last = ContentTry{kFailLocal, 0, 0};
    uint32_t tried = 0;
    int32_t base = ChooseMirror(Health, bases.Count, tried, GetTickCount64());
    for (uint32_t here = 0; base >= 0;) {
        if (here > 0 && !WaitCountingDown(ContentRetryWaitMs(here + 1, Jitter()), path, watch, shared)) return 0;
        char url[1024];
        if (!FormatText(url, sizeof url, "%s/%s", bases.Base[base], path)) return 0;
        ++here;
        TakeWholeBodySeen();
        const int served = attempt(context, url, last);
        if (TakeWholeBodySeen() && NoteMirrorIgnoresRanges(Health, static_cast<uint32_t>(base)))
            TraceFailure("content mirror ignores ranges", bases.Base[base], path, 200);
        if (served) {
            NoteMirrorServed(Health, static_cast<uint32_t>(base));
            return 1;
        }
        tried |= 1u << base;
        const uint64_t now = GetTickCount64();
        const int32_t next = ChooseMirror(Health, bases.Count, tried, now);
        const MirrorStep step = StepAfterFailure(*last, here, next >= 0);
        TraceStep(path, *last, step, here);
        if (step == kStepRetry) continue;
        if (last->Failure != kFailLocal) NoteMirrorFailed(Health, static_cast<uint32_t>(base), now);
        if (step == kStepStop) return 0;
        TraceSwitch(path, bases.Base[base], bases.Base[next], *last, here);
        base = next;
        here = 0;
    }
    return 0;
}

int TryContentRequest(const char* path, ContentAttempt attempt, void* context, FetchWatch& watch, ContentTry* last) {
    return TryContentRequestShared(path, attempt, context, watch, ContentTryShared{nullptr, nullptr}, last);
}

int TryContentRequestShared(const char* path, ContentAttempt attempt, void* context, FetchWatch& watch,
                            const ContentTryShared& shared, ContentTry* last) {
    *last = ContentTry{kFailNone, 0, 0};
    for (uint32_t n = 1; n <= kContentTries; ++n) {
        if (n > 1 && !WaitCountingDown(ContentRetryWaitMs(n, Jitter()), path, watch, shared)) return 0;
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

int FetchRangeInto(HINTERNET session, int secure, const char* path, const char* url, uint64_t first, uint64_t size,
                   uint8_t* out, ContentTry* failure) {
    BufferSink sink = {out, size, 0};
    RangeAnswer answer = {};
    const int32_t result = FetchRange(session, url, secure, first, first + size - 1, ToBuffer, &sink, &answer);
    if (result == kRangeDone && sink.Have == size) return 1;
    *failure = ContentTryOf(result, answer);
    TraceFailure("content fetch", path, answer.Error ? answer.Error : answer.Status);
    return 0;
}
