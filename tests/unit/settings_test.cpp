// The built-in settings record and ApplySettings' layout values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/display_state.h"
#include "settings/launcher_settings.h"
#include "settings/layout_values.h"

TEST(LauncherSettings, HasThirtyTwoTerminatedSlots) {
    for (std::size_t i = 0; i < kSettingSlotCount; ++i)
        EXPECT_LT(std::strlen(SettingSlot(i)), kSettingSize) << i;
    EXPECT_STREQ("[QOR]", SettingSlot(0));
    EXPECT_STREQ(LauncherSettings.MsgAbnormalRun, SettingSlot(31));
}

TEST(LauncherSettings, PatchInfoUrlFollowsTheBaseUrl) {
    EXPECT_EQ(std::string(LauncherSettings.PatchBaseUrl) + "/LauncherPatchInfo.txt", LauncherSettings.PatchInfoUrl);
    EXPECT_NE('/', LauncherSettings.PatchBaseUrl[std::strlen(LauncherSettings.PatchBaseUrl) - 1]);
}

TEST(LauncherSettings, KoreanTextsAreStoredAsCp949) {
    // "에러" in CP949 and the face name Dotum.
    EXPECT_STREQ("\xBF\xA1\xB7\xAF", LauncherSettings.ErrorCaption);
    EXPECT_STREQ("140 340 00FFFFFF 00212018 \xB5\xB8\xBF\xF2 11", LauncherSettings.StatusTextStyle);
    EXPECT_STREQ("config.txt is incorrect.", LauncherSettings.MsgConfigIncorrect);
    EXPECT_NE(nullptr, std::strstr(LauncherSettings.MsgReady, "% d]"));
}

TEST(ApplySettings, ParsesLayoutFontColoursAndLinks) {
    EXPECT_EQ(1, ApplySettings());
    EXPECT_EQ(140, TextX);
    EXPECT_EQ(340, TextY);
    EXPECT_EQ(0x00FFFFFFu, TextColor);
    EXPECT_EQ(0x00212018u, TextColor2);
    EXPECT_STREQ("\xB5\xB8\xBF\xF2", FontFace);
    EXPECT_EQ(11, FontHeight);
    // "20  349" with two blanks parses like one.
    EXPECT_EQ(20, ElementRects[kElementStart].left);
    EXPECT_EQ(349, ElementRects[kElementStart].top);
    EXPECT_EQ(335, ElementRects[kElementExit].left);
    EXPECT_EQ(138, ElementRects[kElementHomePage].left);
    EXPECT_EQ(237, ElementRects[kElementCommunity].left);
    EXPECT_EQ(418, ElementRects[kElementBarCurrent].top);
    EXPECT_EQ(430, ElementRects[kElementBarTotal].top);
    EXPECT_STREQ(LauncherSettings.HomePageUrl, HomePageLink);
    EXPECT_STREQ(LauncherSettings.CommunityUrl, CommunityLink);
    char status[SharedText::kSize];
    StatusText.CopyTo(status, sizeof status);
    EXPECT_STREQ(LauncherSettings.MsgInitializing, status);
}

TEST(ApplySettings, UnparsableFieldsKeepTheirValues) {
    ElementRect rect = {5, 6, 0, 0};
    ParseElementPosition("300 300", &rect);
    EXPECT_EQ(300, rect.left);
    EXPECT_EQ(300, rect.top);
    ParseElementPosition("7 x", &rect);
    EXPECT_EQ(7, rect.left);
    EXPECT_EQ(300, rect.top);
    ParseElementPosition("", &rect);
    EXPECT_EQ(7, rect.left);
}
