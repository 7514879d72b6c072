// The player's speed limit for content fetches: one token bucket every fetch thread draws from,
// holding at most one second of bytes, kept in two atomics so that no thread waits on a lock.
#pragma once

#include <atomic>
#include <cstdint>

// The most the bucket holds, as time at the limit: a link idle for a while may send this much at once.
constexpr uint64_t kRateBurstUs = 1000000;

class RateLimit {
public:
    // bytesPerSecond 0 lifts the limit. The bucket starts empty, so a new limit holds from its
    // first byte (and a speed measured right after it is already the limited one).
    void Set(uint64_t bytesPerSecond, uint64_t nowUs);
    uint64_t BytesPerSecond() const { return rate_.load(); }
    // Empties the bucket without forgiving a debt: a transfer that begins now gets no burst
    // saved up before it, so its bytes over time are the limit's from the first second on.
    void Empty(uint64_t nowUs);
    // Takes bytes that have arrived (or are about to be read); the microseconds the caller waits
    // before it goes on, 0 at once. The bucket goes into debt rather than refusing: whatever the
    // sizes taken and however many threads take, the bytes over time stay at the limit.
    uint64_t Take(uint64_t bytes, uint64_t nowUs);

private:
    std::atomic<uint64_t> rate_{0};
    // When every byte taken so far is paid for at the limit; the bucket is full once it lies
    // kRateBurstUs or more in the past.
    std::atomic<uint64_t> due_{0};
};
