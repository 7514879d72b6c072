// The player's controls of a content run outside the window: the paused line with what is done,
// the run claimed once by a repair, and the speed limit kept in the user's registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "build_settings.h"
#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/win32_handle.h"
#include "content/fetch_controls_win32.h"
#include "content/content_presenter_win32.h"
#include "content/content_text.h"
#include "content/rate_choice_win32.h"

namespace {

std::string StatusNow() {
    char text[SharedText::kSize];
    StatusText.CopyTo(text, sizeof text);
    return text;
}

TEST(ContentControls, APausedFetchSaysSoWithWhatIsDoneAndResumesItsLine) {
    for (const ContentStage stage : {kStageFetching, kStageFetchingDelta}) {
        ContentPresenter presenter;
        ContentProgress p;
        p.Stage = stage;
        p.Done = 3 << 10;
        p.ToDo = 8 << 10;
        PauseContentFetch(true);
        presenter.Progress(p);
        char paused[SharedText::kSize];
        FormatText(paused, sizeof paused, ContentText.Paused, 3u, 8u);
        EXPECT_EQ(paused, StatusNow()) << stage;
        PauseContentFetch(false);
        presenter.Progress(p);
        char fetching[SharedText::kSize];
        FormatText(fetching, sizeof fetching, ContentText.Fetching, 3u, 8u);
        EXPECT_EQ(fetching, StatusNow()) << stage;
        ResetDisplayState();
    }
}

TEST(ContentControls, ARunIsClaimedOnceUntilItEnds) {
    ContentPresenter presenter;
    ASSERT_TRUE(ClaimContentRun());
    EXPECT_FALSE(ClaimContentRun());  // a second repair while the first runs starts nothing
    presenter.Stopped(ContentStop{});
    EXPECT_FALSE(ContentRunGoing());
    presenter.Began();
    EXPECT_FALSE(ClaimContentRun());
    presenter.Finished(10002, 1, 0);
    EXPECT_TRUE(ClaimContentRun());
    presenter.Stopped(ContentStop{});
    ResetDisplayState();
}

TEST(ContentControls, TheLimitIsKeptPerUserAndAForeignValueFallsBackToTheDefault) {
    RegDeleteKeyA(HKEY_CURRENT_USER, kContentChoiceKey);
    EXPECT_EQ(static_cast<uint32_t>(LAUNCHER_CONTENT_RATE_LIMIT_MBPS), SavedRateLimitMbps());
    ASSERT_TRUE(SaveRateLimitMbps(5));
    EXPECT_EQ(5u, SavedRateLimitMbps());
    ASSERT_TRUE(SaveRateLimitMbps(0));
    EXPECT_EQ(0u, SavedRateLimitMbps());  // "no limit" is a choice too, not the default
    {
        RegistryKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kContentChoiceKey, 0, KEY_SET_VALUE, key.Put()));
        RegSetValueExA(key.Get(), kRateLimitValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>("7"), 2);
    }
    EXPECT_EQ(static_cast<uint32_t>(LAUNCHER_CONTENT_RATE_LIMIT_MBPS), SavedRateLimitMbps());
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, kContentChoiceKey));
}

}  // namespace
