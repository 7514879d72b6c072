// Channel names and what they become: a folder of the patch address and a floor value name.
#include <gtest/gtest.h>

#include <string>

#include "settings/launcher_settings.h"
#include "update/patch_channel.h"

TEST(PatchChannel, OnlyShortLowercaseNamesPass) {
    for (const char* name : {"live", "beta", "a", "nightly-2", "0"}) EXPECT_EQ(1, IsChannelName(name)) << name;
    EXPECT_EQ(1, IsChannelName(std::string(32, 'z').c_str()));
    for (const char* name : {"", "Beta", "../x", "a/b", "a b", "a.b", "a%2f", "beta\\x"})
        EXPECT_EQ(0, IsChannelName(name)) << name;
    EXPECT_EQ(0, IsChannelName(std::string(33, 'z').c_str()));
    EXPECT_EQ(0, IsChannelName(nullptr));
}

// live keeps the address and the value name launchers had before channels.
TEST(PatchChannel, LiveKeepsTodaysAddressAndFloor) {
    char out[512];
    ASSERT_EQ(1, ChannelPatchInfoUrl("live", out, sizeof out));
    EXPECT_STREQ(LauncherSettings.PatchInfoUrl, out);
    ASSERT_EQ(1, ChannelPatchInfoUrl("beta", out, sizeof out));
    EXPECT_EQ(std::string(LauncherSettings.PatchBaseUrl) + "/channels/beta/LauncherPatchInfo.txt", out);
    EXPECT_EQ(0, ChannelPatchInfoUrl("Beta", out, sizeof out));
    EXPECT_EQ(0, ChannelPatchInfoUrl("beta", out, 20));
    ASSERT_EQ(1, ChannelFloorValueName("live", out, sizeof out));
    EXPECT_STREQ("ManifestSequence", out);
    ASSERT_EQ(1, ChannelFloorValueName("beta", out, sizeof out));
    EXPECT_STREQ("ManifestSequence.beta", out);
    EXPECT_EQ(0, ChannelFloorValueName("../x", out, sizeof out));
}
