// The scheme test that every transfer applies to the address its answer came from.
#include <gtest/gtest.h>

#include "update/https_address.h"

TEST(IsHttpsAddress, OnlyTheWholeSchemeInAnyCaseCounts) {
    EXPECT_EQ(1, IsHttpsAddress("https://127.0.0.1:48443/Setup/live/x.zip"));
    EXPECT_EQ(1, IsHttpsAddress("HTTPS://cdn.example/edge"));
    EXPECT_EQ(1, IsHttpsAddress("hTtPs://"));
    EXPECT_EQ(0, IsHttpsAddress("http://127.0.0.1:48443/Setup/live/x.zip"));
    EXPECT_EQ(0, IsHttpsAddress("https:/one-slash"));
    EXPECT_EQ(0, IsHttpsAddress("https"));
    EXPECT_EQ(0, IsHttpsAddress(" https://leading-space"));
    EXPECT_EQ(0, IsHttpsAddress("httpss://"));
    EXPECT_EQ(0, IsHttpsAddress("ftp://host/"));
    EXPECT_EQ(0, IsHttpsAddress(""));
    EXPECT_EQ(0, IsHttpsAddress(nullptr));
}
