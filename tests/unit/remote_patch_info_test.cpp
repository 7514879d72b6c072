// The request address of the patch-information fetch.
#include <gtest/gtest.h>

#include <string>

#include "update/remote_patch_info.h"

TEST(PatchInfoRequestUrl, BaseThenUnsignedTick) {
    struct Case { const char* base; uint32_t tick; const char* address; };
    const Case cases[] = {
        {"https://127.0.0.1:48443/L.txt", 123456, "https://127.0.0.1:48443/L.txt?tick=123456"},
        {"https://a.example/L.txt", 0, "https://a.example/L.txt?tick=0"},
        {"https://a.example/L.txt", 4294967295u, "https://a.example/L.txt?tick=4294967295"},
        {"https://a.example/L.txt?channel=live", 7, "https://a.example/L.txt?channel=live?tick=7"},
    };
    for (const Case& c : cases) {
        char out[kPatchInfoRequestSize];
        ASSERT_EQ(1, BuildPatchInfoRequestUrl(c.base, c.tick, out, sizeof out));
        EXPECT_STREQ(c.address, out);
    }
}

TEST(PatchInfoRequestUrl, AtMost1023Characters) {
    const std::string suffix = "?tick=4294967295";
    char out[kPatchInfoRequestSize];
    const std::string fits(1023 - suffix.size(), 'u');
    ASSERT_EQ(1, BuildPatchInfoRequestUrl(fits.c_str(), 4294967295u, out, sizeof out));
    EXPECT_EQ(fits + suffix, out);
    const std::string tooLong(fits + "u");
    EXPECT_EQ(0, BuildPatchInfoRequestUrl(tooLong.c_str(), 4294967295u, out, sizeof out));
    EXPECT_EQ(1023u, std::string(out).size());
}
