// The minimum-rate rule of transfers that still deliver bytes.
#include "update/crawl_watch.h"

void StartCrawlWatch(CrawlWatch* watch, const CrawlLimit& limit, uint64_t nowMs) {
    *watch = CrawlWatch{limit, nowMs, 0};
}

int CrawlNoted(CrawlWatch* watch, uint64_t nowMs, uint64_t bytes) {
    const uint64_t room = UINT64_MAX - watch->WindowBytes;
    watch->WindowBytes += bytes < room ? bytes : room;
    if (watch->Limit.WindowMs == 0 || watch->Limit.MinBytesPerSecond == 0) return 0;
    // A clock read before the start (another thread's sample) counts as no time gone by.
    const uint64_t span = nowMs > watch->WindowStart ? nowMs - watch->WindowStart : 0;
    if (span < watch->Limit.WindowMs) return 0;
    // Owed over the whole span, not the nominal window: the check comes only when a read
    // returns, and a crawl checked late must still be measured over all the time it took.
    const uint64_t rate = watch->Limit.MinBytesPerSecond;
    const uint64_t owed = span / 1000 * rate + span % 1000 * rate / 1000;
    if (watch->WindowBytes < owed) return 1;
    watch->WindowStart = nowMs;
    watch->WindowBytes = 0;
    return 0;
}
