// The speed over the last seconds and the time left: steady, changing and stalled transfers,
// samples that come too often or out of order, and the rounding of the time left.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "content_fetch/rate_meter.h"

namespace {

// A stretch of a transfer: durationMs long, a sample every stepMs, bytesPerSecond moving.
struct Stretch {
    uint64_t durationMs;
    uint64_t stepMs;
    uint64_t bytesPerSecond;
};

struct Feed {
    RateMeter meter;
    uint64_t now = 1000;  // a clock that does not start at 0
    uint64_t bytes = 0;
    void Run(const std::vector<Stretch>& stretches) {
        AddRateSample(&meter, now, bytes);
        for (const Stretch& s : stretches)
            for (uint64_t t = s.stepMs; t <= s.durationMs; t += s.stepMs) {
                now += s.stepMs;
                bytes += s.bytesPerSecond * s.stepMs / 1000;
                AddRateSample(&meter, now, bytes);
            }
    }
};

}  // namespace

TEST(RateMeter, AveragesTheLastFiveSecondsOfSamples) {
    struct Case {
        const char* name;
        std::vector<Stretch> stretches;
        bool known;
        uint64_t rate;
    } cases[] = {
        {"no samples but the first", {}, false, 0},
        {"less than a second", {{900, 100, 1000000}}, false, 0},
        {"steady", {{3000, 100, 1000000}}, true, 1000000},
        {"longer than the window, the ring wrapped", {{20000, 100, 2000000}}, true, 2000000},
        // 3 s at 1 MB/s and 2 s at 3 MB/s inside the window: 9 MB in 5 s.
        {"sped up", {{8000, 100, 1000000}, {2000, 100, 3000000}}, true, 1800000},
        {"stalled for the whole window", {{10000, 100, 5000000}, {6000, 100, 0}}, true, 0},
        {"stalled for part of it", {{10000, 100, 5000000}, {2500, 100, 0}}, true, 2500000},
        // Far more often than the caller means to: merged, the window still spans 5 s.
        {"a sample every 5 ms", {{8000, 5, 1000000}}, true, 1000000},
        {"samples seconds apart", {{12000, 3000, 1000000}}, true, 1000000},
        // Nothing for longer than the window: the last step alone is within it.
        {"one gap longer than the window", {{6000, 6000, 1000000}}, false, 0},
    };
    for (const Case& c : cases) {
        Feed feed;
        feed.Run(c.stretches);
        EXPECT_EQ(c.known, RateKnown(feed.meter)) << c.name;
        const uint64_t rate = BytesPerSecond(feed.meter);
        EXPECT_NEAR(static_cast<double>(c.rate), static_cast<double>(rate), c.rate / 50.0 + 1) << c.name;
    }
}

TEST(RateMeter, ASampleFromThePastOrWithFewerBytesChangesNothingBack) {
    Feed feed;
    feed.Run({{2000, 100, 1000000}});
    const uint64_t rate = BytesPerSecond(feed.meter);
    AddRateSample(&feed.meter, feed.now - 500, feed.bytes + 50000000);  // the clock went back: ignored
    EXPECT_EQ(rate, BytesPerSecond(feed.meter));
    // A retried range counts nothing twice and nothing less: fewer bytes are the same bytes.
    AddRateSample(&feed.meter, feed.now + 100, feed.bytes - 300000);
    EXPECT_LT(BytesPerSecond(feed.meter), rate);
    EXPECT_GT(BytesPerSecond(feed.meter), rate * 8 / 10);
}

TEST(RateMeter, TimeLeftRoundsUpAndSaysWhenItCannotTell) {
    struct Case {
        uint64_t left, rate;
        uint32_t seconds;
    } cases[] = {
        {0, 0, 0},  // nothing left: done, whatever the speed
        {1, 0, kSecondsLeftUnknown},
        {1000, 1000, 1},
        {1001, 1000, 2},
        {1, 1000000, 1},
        {250000000, 6250000, 40},
        {UINT64_MAX, 1, kSecondsLeftMax},
    };
    for (const Case& c : cases) EXPECT_EQ(c.seconds, SecondsLeft(c.left, c.rate)) << c.left << " at " << c.rate;
}
