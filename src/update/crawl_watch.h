// When a transfer that still delivers bytes is too slow to be worth waiting for: the minimum
// rate over a window that a body must keep once it has begun.
#pragma once

#include <cstdint>

// 1 KiB/s over 30 s. The window is long enough that an honest link which pauses for a while
// and then bursts (a mobile link, a busy Wi-Fi) averages above the rate, and a 56k modem's
// 5 KiB/s shared by the content mode's four lanes still keeps each above it; a server that
// drips a few bytes every few seconds stays thousands of times below it and is left within
// one window. A body that stops altogether is ended sooner by the receive time-outs.
constexpr uint32_t kCrawlMinBytesPerSecond = 1024;
constexpr uint64_t kCrawlWindowMs = 30000;

// The system code a transfer ended for crawling reports (ERROR_TIMEOUT, "the time-out period
// expired"): distinct from WinInet's own time-out, so that whoever retries can tell the two.
constexpr uint32_t kCrawlErrorCode = 1460;

struct CrawlLimit {
    uint32_t MinBytesPerSecond;
    uint64_t WindowMs;
};
constexpr CrawlLimit kCrawlLimit = {kCrawlMinBytesPerSecond, kCrawlWindowMs};

// One body's progress since the start of its current window. Times are milliseconds of a
// clock that never goes back (GetTickCount64).
struct CrawlWatch {
    CrawlLimit Limit;
    uint64_t WindowStart;
    uint64_t WindowBytes;
};

// Starts watching a body whose first byte is awaited from nowMs on.
void StartCrawlWatch(CrawlWatch* watch, const CrawlLimit& limit, uint64_t nowMs);

// Notes that bytes more arrived by nowMs. Returns 1 when the window that has just run out
// (at least Limit.WindowMs since its start) brought fewer bytes than the minimum rate asks
// for over its whole length; else 0, a full window that kept the rate starting the next.
// A window of 0 ms or a rate of 0 never crawls.
int CrawlNoted(CrawlWatch* watch, uint64_t nowMs, uint64_t bytes);
