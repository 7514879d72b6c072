// Range headers, Content-Range checks and which statuses are tried again.
#include <gtest/gtest.h>

#include <cstdint>

#include "content_fetch/range_request.h"

TEST(RangeHeader, NamesInclusiveBytesAndRefusesWhatDoesNotFit) {
    char out[64];
    ASSERT_EQ(1, FormatRangeHeader(0, 0, out, sizeof out));
    EXPECT_STREQ("Range: bytes=0-0\r\n", out);
    ASSERT_EQ(1, FormatRangeHeader(UINT64_C(4294967296), UINT64_C(18446744073709551614), out, sizeof out));
    EXPECT_STREQ("Range: bytes=4294967296-18446744073709551614\r\n", out);
    EXPECT_EQ(0, FormatRangeHeader(10, 9, out, sizeof out));
    char small[20];
    EXPECT_EQ(0, FormatRangeHeader(100, 200, small, sizeof small));
    EXPECT_STREQ("", small);
}

TEST(ContentRange, OnlyTheExactRangeOfABodyThatHoldsIt) {
    struct Case {
        const char* value;
        int expected;
    } cases[] = {
        {"bytes 100-199/5000", 1},
        {"bytes 100-199/*", 1},
        {"bytes 100-199/200", 1},
        {"bytes 100-199/199", 0},  // a total that cannot hold the range
        {"bytes 100-198/5000", 0},
        {"bytes 101-199/5000", 0},
        {"bytes 0-199/5000", 0},
        {"bytes */5000", 0},       // what a 416 carries
        {"bytes 100-199/5000 ", 0},
        {"bytes  100-199/5000", 0},
        {"Bytes 100-199/5000", 0},
        {"items 100-199/5000", 0},
        {"bytes +100-199/5000", 0},
        {"bytes 100-199/", 0},
        {"bytes 100-199", 0},
        {"bytes 100-199/*x", 0},
        {"", 0},
        {"bytes 100-199/99999999999999999999", 0},  // above 2^63
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, ContentRangeMatches(c.value, 100, 199)) << c.value;
    EXPECT_EQ(0, ContentRangeMatches(nullptr, 100, 199));
    EXPECT_EQ(1, ContentRangeMatches("bytes 9223372036854775806-9223372036854775806/*", UINT64_C(9223372036854775806),
                                     UINT64_C(9223372036854775806)));
}

TEST(RetryableStatus, WaitingHelpsOnlyTimeOutsThrottlingAndServerErrors) {
    for (uint32_t status : {408u, 429u, 500u, 502u, 503u, 504u, 599u}) EXPECT_EQ(1, IsRetryableStatus(status)) << status;
    for (uint32_t status : {0u, 200u, 206u, 301u, 400u, 403u, 404u, 416u, 499u, 600u})
        EXPECT_EQ(0, IsRetryableStatus(status)) << status;
}
