// Progress bar arithmetic and decimal header values.
#include <gtest/gtest.h>

#include <cstdint>

#include "download/progress.h"

TEST(TransferPercent, SinglePrecisionTruncated) {
    struct Case {
        int64_t received, expected;
        int32_t percent;
    };
    for (Case c : {Case{0, 100, 0}, Case{1, 100, 1}, Case{50, 100, 50}, Case{99, 100, 99},
                   Case{100, 100, 100}, Case{1, 3, 33}, Case{2, 3, 66}, Case{32768, 1000000, 3},
                   Case{999999, 1000000, 99}, Case{1, 1000000, 0}, Case{7, 7, 100},
                   Case{2147483647, 2147483647, 100}, Case{1073741823, 2147483647, 50}}) {
        EXPECT_EQ(c.percent, TransferPercent(c.received, c.expected)) << c.received << "/" << c.expected;
    }
}

TEST(TransferPercent, KeptWithinTheBar) {
    // More than announced, no length announced (0), a negative length: never past 0..100.
    struct Case {
        int64_t received, expected;
        int32_t percent;
    };
    for (Case c : {Case{101, 100, 100}, Case{1000000, 1, 100}, Case{4000000000LL, 1, 100},
                   Case{1, 0, 100}, Case{32768, 0, 100}, Case{0, 0, 0}, Case{5, -1, 0},
                   Case{0, -10, 0}, Case{4294967296LL, 2147483647, 100}}) {
        EXPECT_EQ(c.percent, TransferPercent(c.received, c.expected)) << c.received << "/" << c.expected;
    }
}

TEST(CompletedPercent, IntegerDivisionTruncating) {
    EXPECT_EQ(0, CompletedPercent(0, 3));
    EXPECT_EQ(33, CompletedPercent(1, 3));
    EXPECT_EQ(66, CompletedPercent(2, 3));
    EXPECT_EQ(100, CompletedPercent(3, 3));
    EXPECT_EQ(80, CompletedPercent(4, 5));
    EXPECT_EQ(99, CompletedPercent(1599, 1600));
    EXPECT_EQ(0, CompletedPercent(0, 0));
    EXPECT_EQ(0, CompletedPercent(5, 0));
    EXPECT_EQ(0, CompletedPercent(5, -1));
}
