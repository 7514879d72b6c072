// RateLimit: the shared bucket as a single "paid until" instant, moved by compare-and-swap.
#include "content_fetch/rate_limit.h"

namespace {

// Microseconds bytes take at rate, rounded up so that rounding never lets the limit be passed.
uint64_t CostUs(uint64_t bytes, uint64_t rate) {
    const uint64_t whole = bytes / rate * 1000000;
    return whole + ((bytes % rate) * 1000000 + rate - 1) / rate;
}

}  // namespace

void RateLimit::Set(uint64_t bytesPerSecond, uint64_t nowUs) {
    due_.store(nowUs);
    rate_.store(bytesPerSecond);
}

void RateLimit::Empty(uint64_t nowUs) {
    uint64_t due = due_.load();
    while (due < nowUs && !due_.compare_exchange_weak(due, nowUs)) {
    }
}

uint64_t RateLimit::Take(uint64_t bytes, uint64_t nowUs) {
    const uint64_t rate = rate_.load();
    if (rate == 0 || bytes == 0) return 0;
    const uint64_t cost = CostUs(bytes, rate);
    const uint64_t full = nowUs > kRateBurstUs ? nowUs - kRateBurstUs : 0;
    uint64_t due = due_.load();
    uint64_t next = 0;
    do {
        // Time unused beyond the burst is lost: the bucket holds no more than a second.
        next = (due > full ? due : full) + cost;
    } while (!due_.compare_exchange_weak(due, next));
    return next > nowUs ? next - nowUs : 0;
}
