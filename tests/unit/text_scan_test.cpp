// The shared scanners of numbers and tokens.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/text_scan.h"

TEST(TextScan, LeadingDecimals) {
    struct Case { const char* text; int32_t value; std::size_t consumed; };
    for (Case c : {Case{"12abc", 12, 2}, Case{"  -3 x", -3, 4}, Case{"+7", 7, 2}, Case{"abc", 0, 0}, Case{"-", 0, 0},
                   Case{"", 0, 0}, Case{"99999999999", 2147483647, 11}, Case{"-99999999999", -2147483647 - 1, 12}}) {
        const char* end = nullptr;
        EXPECT_EQ(c.value, ReadLeadingDecimal(c.text, &end)) << c.text;
        EXPECT_EQ(c.consumed, static_cast<std::size_t>(end - c.text)) << c.text;
    }
}

TEST(TextScan, HeaderNumbersLikePercentDWithoutOverflow) {
    struct Case {
        const char* text;
        int32_t value;
    };
    for (Case c : {Case{"200", 200}, Case{"206", 206}, Case{"  404", 404}, Case{"0", 0}, Case{"\t\r\n 7", 7},
                   Case{"2147483647", 2147483647}, Case{"2147483648", 2147483647}, Case{"-2147483648", INT32_MIN},
                   Case{"-99999999999999", INT32_MIN}, Case{"- 5", 0}, Case{"1 2", 1}}) {
        EXPECT_EQ(c.value, ReadLeadingDecimal(c.text)) << '"' << c.text << '"';
    }
}

TEST(TextScan, TokensAreCutAtTheirBuffer) {
    char token[4];
    bool found = false;
    const char* rest = NextToken(" \tabcdef ghi", token, sizeof token, &found);
    EXPECT_TRUE(found);
    EXPECT_STREQ("abc", token);
    rest = NextToken(rest, token, sizeof token, &found);
    EXPECT_STREQ("ghi", token);
    NextToken(rest, token, sizeof token, &found);
    EXPECT_FALSE(found);
    EXPECT_STREQ("", token);
}
