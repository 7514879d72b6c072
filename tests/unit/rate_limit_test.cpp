// The shared speed limit over simulated time: the rate held at each menu limit, the one-second
// burst after an idle link, a limit changed or lifted, and several threads taking at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "content_fetch/rate_limit.h"

namespace {

constexpr uint64_t kMB = 1000000;

// Takes pieces of the given sizes in turn for durationUs, each after the wait the one before
// was given, as a fetch thread does; the bytes it got through.
uint64_t Drain(RateLimit& limit, uint64_t& now, uint64_t durationUs, const std::vector<uint64_t>& sizes) {
    const uint64_t end = now + durationUs;
    uint64_t bytes = 0;
    for (std::size_t i = 0; now < end; ++i) {
        const uint64_t piece = sizes[i % sizes.size()];
        now += limit.Take(piece, now);
        if (now <= end) bytes += piece;
    }
    return bytes;
}

TEST(RateLimit, HoldsEachMenuLimitOverThirtySeconds) {
    for (uint64_t mb : {1, 2, 5, 10, 20}) {
        RateLimit limit;
        uint64_t now = 5 * kMB;
        limit.Set(mb * kMB, now);
        const uint64_t bytes = Drain(limit, now, 30 * kMB, {16384, 1000, 65536, 7});
        const double ratio = static_cast<double>(bytes) / static_cast<double>(30 * mb * kMB);
        EXPECT_GE(ratio, 0.95) << mb << " MB/s";
        EXPECT_LE(ratio, 1.02) << mb << " MB/s";
    }
}

TEST(RateLimit, IdleLinkGetsOneSecondOfBurstAndNoMore) {
    RateLimit limit;
    uint64_t now = 0;  // a clock that starts at 0: nothing before it to borrow from
    limit.Set(kMB, now);
    EXPECT_EQ(1000u, limit.Take(1000, now));  // a new limit starts with an empty bucket
    now += 10 * kMB;  // ten idle seconds fill it only to one second's worth
    EXPECT_EQ(0u, limit.Take(kMB - 1000, now));
    EXPECT_EQ(0u, limit.Take(1000, now));
    EXPECT_EQ(1u, limit.Take(1, now));
    EXPECT_EQ(250001u, limit.Take(250000, now));  // in debt: the next taker waits for it
}

TEST(RateLimit, AnEmptiedBucketKeepsItsDebtButLosesItsSavings) {
    RateLimit limit;
    uint64_t now = 0;
    limit.Set(kMB, now);
    now += 5 * kMB;
    limit.Empty(now);  // a new transfer: the idle seconds before it give no burst
    EXPECT_EQ(1000u, limit.Take(1000, now));
    EXPECT_EQ(kMB + 1000, limit.Take(kMB, now));
    limit.Empty(now);  // owed bytes stay owed
    EXPECT_EQ(kMB + 2000, limit.Take(1000, now));
}

TEST(RateLimit, ChangedOrLiftedLimitAppliesAtOnce) {
    RateLimit limit;
    uint64_t now = 3 * kMB;
    limit.Set(kMB, now);
    EXPECT_EQ(kMB, limit.Take(kMB, now));  // a second owed at 1 MB/s
    limit.Set(0, now);
    EXPECT_EQ(0u, limit.Take(100 * kMB, now));
    limit.Set(20 * kMB, now);  // the old debt is forgiven, the new rate counts from now
    EXPECT_EQ(50000u, limit.Take(kMB, now));
    EXPECT_EQ(20 * kMB, limit.BytesPerSecond());
}

TEST(RateLimit, ThreadsTakingAtOnceEachPayTheirOwnShare) {
    // Every take at the same instant from an empty bucket: the waits handed out must be exactly
    // one cost, two costs, ... so that no take was lost or counted twice between threads.
    RateLimit limit;
    const uint64_t now = 2 * kMB;
    limit.Set(kMB, now);
    constexpr int kThreads = 4, kTakes = 2000;
    std::vector<std::vector<uint64_t>> waits(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&limit, &waits, t, now] {
            for (int i = 0; i < kTakes; ++i) waits[t].push_back(limit.Take(100, now));
        });
    for (std::thread& thread : threads) thread.join();
    std::vector<uint64_t> all;
    for (const auto& w : waits) all.insert(all.end(), w.begin(), w.end());
    std::sort(all.begin(), all.end());
    for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ((i + 1) * 100, all[i]) << i;
}

}  // namespace
