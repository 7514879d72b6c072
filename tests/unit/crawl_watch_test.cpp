// The minimum rate a transfer's body must keep: when a window that ran out counts as a crawl.
#include <gtest/gtest.h>

#include "update/crawl_watch.h"

namespace {

constexpr CrawlLimit kLimit = {1000, 10000};  // 1000 B/s over 10 s: 10000 bytes a window
constexpr uint64_t kStart = 5000;             // the clock is never 0

// Feeds (milliseconds after the start, bytes) in order; the index of the sample that crawled, or -1.
int FirstCrawl(std::initializer_list<std::pair<uint64_t, uint64_t>> samples, CrawlLimit limit = kLimit) {
    CrawlWatch watch;
    StartCrawlWatch(&watch, limit, kStart);
    int i = 0;
    for (const auto& s : samples) {
        if (CrawlNoted(&watch, kStart + s.first, s.second)) return i;
        ++i;
    }
    return -1;
}

}  // namespace

TEST(CrawlWatch, AWindowBelowTheRateCrawlsAndOneAtItGoesOn) {
    // A drip of 16 bytes every 2 s: judged once the window has run out, not before.
    EXPECT_EQ(5, FirstCrawl({{2000, 16}, {4000, 16}, {6000, 16}, {8000, 16}, {9999, 16}, {10000, 16}}));
    // Exactly the rate over the window is enough; one byte short is not.
    EXPECT_EQ(-1, FirstCrawl({{5000, 5000}, {10000, 5000}}));
    EXPECT_EQ(1, FirstCrawl({{5000, 5000}, {10000, 4999}}));
}

TEST(CrawlWatch, BurstsAfterPausesAreAveragedOverTheWindow) {
    // An honest link that stalls 8 s and then bursts keeps the rate over each whole window.
    EXPECT_EQ(-1, FirstCrawl({{8000, 0}, {9000, 12000}, {10000, 10}, {18000, 0}, {19500, 11000}, {20000, 10}}));
    // A good first window does not excuse a crawling second one.
    EXPECT_EQ(3, FirstCrawl({{1000, 50000}, {10000, 10}, {15000, 100}, {20000, 100}}));
}

TEST(CrawlWatch, ALateCheckIsMeasuredOverAllTheTimeItTook) {
    // The reads return only when bytes arrive: 12000 bytes seen after 25 s are under the 25000
    // owed by then, though above one window's 10000.
    EXPECT_EQ(0, FirstCrawl({{25000, 12000}}));
    EXPECT_EQ(-1, FirstCrawl({{25000, 25000}}));
}

TEST(CrawlWatch, NoLimitOrAClockThatSeemsToGoBackNeverCrawls) {
    EXPECT_EQ(-1, FirstCrawl({{60000, 1}}, CrawlLimit{0, 10000}));
    EXPECT_EQ(-1, FirstCrawl({{60000, 1}}, CrawlLimit{1000, 0}));
    CrawlWatch watch;
    StartCrawlWatch(&watch, kLimit, kStart);
    EXPECT_EQ(0, CrawlNoted(&watch, kStart - 1000, 1));
    // Byte counts that would overflow the window's sum saturate instead of wrapping to few.
    EXPECT_EQ(0, CrawlNoted(&watch, kStart + 1, UINT64_MAX));
    EXPECT_EQ(0, CrawlNoted(&watch, kStart + 20000, UINT64_MAX));
}

TEST(CrawlWatch, TheBuiltLimitLeavesADripWithinOneWindowAndKeepsAModemLane) {
    // The finding's mirror: a byte every 25 s is left at the first read after the window.
    CrawlWatch drip;
    StartCrawlWatch(&drip, kCrawlLimit, kStart);
    EXPECT_EQ(0, CrawlNoted(&drip, kStart + 25000, 1));
    EXPECT_EQ(1, CrawlNoted(&drip, kStart + 50000, 1));
    // A quarter of a 56k modem's 5 KiB/s, in 4 KiB pieces, for two minutes.
    CrawlWatch lane;
    StartCrawlWatch(&lane, kCrawlLimit, kStart);
    for (uint64_t t = 3200; t <= 120000; t += 3200) EXPECT_EQ(0, CrawlNoted(&lane, kStart + t, 4096)) << t;
}
