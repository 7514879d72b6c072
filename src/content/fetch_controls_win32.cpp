// The pause and the limit as two process-wide values: an atomic flag, and one token bucket
// that every fetching thread draws from without a lock.
#include "content/fetch_controls_win32.h"

#include <windows.h>

#include <atomic>

#include "content_fetch/rate_limit.h"

namespace {

std::atomic<int32_t> FetchPaused{0};
RateLimit FetchLimit;

// Microseconds of a clock that never goes back, fine enough for the limit's small pieces.
uint64_t NowUs() {
    LARGE_INTEGER count, frequency;
    if (!QueryPerformanceCounter(&count) || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
        return GetTickCount64() * 1000;
    const uint64_t ticks = static_cast<uint64_t>(count.QuadPart), hz = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / hz * 1000000 + ticks % hz * 1000000 / hz;
}

}  // namespace

void PauseContentFetch(bool paused) { FetchPaused.store(paused ? 1 : 0); }

bool ContentFetchPaused() { return FetchPaused.load() != 0; }

void LimitContentFetch(uint64_t bytesPerSecond) { FetchLimit.Set(bytesPerSecond, NowUs()); }

void StartLimitedFetch() { FetchLimit.Empty(NowUs()); }

bool PayFetchLimit(std::size_t length, const FetchGoOn& goOn) {
    const uint64_t start = NowUs();
    const uint64_t waitUs = FetchLimit.Take(length, start);
    while (NowUs() - start < waitUs) {
        if (!goOn()) return false;
        const uint64_t leftMs = (waitUs - (NowUs() - start)) / 1000;
        Sleep(static_cast<DWORD>(leftMs < kFetchNapMs ? leftMs : kFetchNapMs));
    }
    return true;
}

bool WaitWhileFetchPaused(const FetchGoOn& goOn) {
    while (FetchPaused.load()) {
        if (!goOn()) return false;
        Sleep(kFetchNapMs);
    }
    return goOn();
}
