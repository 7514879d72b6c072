// The content mode's window: each stage's report as the line and the bars it has always shown, a
// stop of each kind, the line a wait borrows given back only when the work goes on, and the end.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "content/content_presenter_win32.h"
#include "content/content_text.h"
#include "settings/launcher_settings.h"

namespace {

constexpr int32_t kUntouched = 77;  // where both bars stand before a report

std::string StatusNow() {
    char text[SharedText::kSize];
    StatusText.CopyTo(text, sizeof text);
    return text;
}

std::string Formatted(const char* format, ...) {
    char text[SharedText::kSize];
    va_list args;
    va_start(args, format);
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    return text;
}

class ContentPresenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetDisplayState();
        StatusText.Set("before");
        ProgressCurrent = kUntouched;
        ProgressTotal = kUntouched;
    }
    void TearDown() override { ResetDisplayState(); }

    ContentPresenter presenter_;
};

ContentProgress Report(ContentStage stage, ContentShow show, uint64_t done, uint64_t toDo) {
    ContentProgress p;
    p.Stage = stage;
    p.Show = show;
    p.Done = done;
    p.ToDo = toDo;
    return p;
}

struct StageCase {
    const char* What;
    ContentProgress Progress;
    std::string Line;
    int32_t Upper;
    int32_t Lower;
};

ContentProgress Verifying(uint64_t done, uint64_t toDo, uint32_t filesDone, uint32_t files) {
    ContentProgress p = Report(kStageVerifying, kShowAll, done, toDo);
    p.FilesDone = filesDone;
    p.Files = files;
    return p;
}

ContentProgress WithRate(ContentProgress p, uint64_t rate, uint32_t secondsLeft) {
    p.Rate = rate;
    p.SecondsLeft = secondsLeft;
    return p;
}

ContentProgress WithPart(ContentProgress p, uint64_t partDone, uint64_t partSize) {
    p.PartDone = partDone;
    p.PartSize = partSize;
    return p;
}

// Two files of three built, the third a quarter done, 6 KB of 12 KB built in all.
ContentProgress Building(ContentStage stage, ContentShow show) {
    ContentProgress p = WithPart(Report(stage, show, 6 << 10, 12 << 10), 1, 4);
    p.FilesDone = 2;
    p.Files = 3;
    p.Name = "data/a.dat, not part of the name";
    p.NameLength = 10;
    return p;
}

}  // namespace

TEST_F(ContentPresenterTest, EachStageShowsItsLineAndBars) {
    const std::string building = Formatted(ContentText.Building, "data/a.dat", 6u, 12u);
    const StageCase cases[] = {
        {"checking", Report(kStageChecking, kShowAll, 0, 0), ContentText.Checking, kUntouched, kUntouched},
        {"verifying", Verifying(3 << 10, 8 << 10, 1, 4), Formatted(ContentText.Verifying, 3u, 8u), 37, 25},
        {"verifying nothing", Verifying(0, 0, 0, 0), Formatted(ContentText.Verifying, 0u, 0u), 100, 100},
        {"fetching", Report(kStageFetching, kShowAll, 5 << 10, 10 << 10), Formatted(ContentText.Fetching, 5u, 10u), 50,
         0},
        {"fetching at a rate", WithRate(Report(kStageFetching, kShowAll, 5 << 10, 10 << 10), 2 << 10, 125),
         Formatted(ContentText.FetchingRate, 5u, 10u, 2u, 2u, 5u), 50, 0},
        {"fetching, bars only", Report(kStageFetching, kShowBars, 5 << 10, 10 << 10), "before", 50, 0},
        {"fetching nothing", Report(kStageFetching, kShowBars, 0, 0), "before", 100, 0},
        {"fetching deltas", WithPart(Report(kStageFetchingDelta, kShowAll, 1 << 10, 4 << 10), 1, 3),
         Formatted(ContentText.Fetching, 1u, 4u), 33, 25},
        {"building", Building(kStageBuilding, kShowAll), building, kUntouched, 75},
        {"building, line only", Building(kStageBuilding, kShowLine), building, kUntouched, kUntouched},
        {"building, bars only", Building(kStageBuilding, kShowBars), "before", kUntouched, 75},
        {"building from a delta", WithPart(Building(kStageBuildingDelta, kShowAll), 3, 4), building, 75, 50},
    };
    for (const StageCase& c : cases) {
        SCOPED_TRACE(c.What);
        SetUp();
        presenter_.Progress(c.Progress);
        EXPECT_EQ(c.Line, StatusNow());
        EXPECT_EQ(c.Upper, ProgressCurrent.load());
        EXPECT_EQ(c.Lower, ProgressTotal.load());
    }
}

TEST_F(ContentPresenterTest, EveryStopNamesWhatStoppedAndDisablesTheStartButton) {
    struct StopCase {
        ContentStopKind Kind;
        const char* Name;
        std::string Line;
    };
    const char* release = "Content/releases/12.release";
    const char* pack = "Content/packs/12-0.pack";
    const StopCase cases[] = {
        {kStopRelease, release, Formatted(ContentText.ReleaseFailed, release)},
        {kStopFetch, "session", Formatted(ContentText.FetchFailed, "session")},
        {kStopUnavailable, pack, Formatted(ContentText.Unavailable, 12u, pack)},
        {kStopFile, "data/b.dat", Formatted(ContentText.FileFailed, "data/b.dat")},
        {kStopDiskFull, nullptr, Formatted(ContentText.DiskFull, 4u, 5u)},  // a need rounded up, free space down
        {kStopQuiet, nullptr, "before"},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.Line);
        SetUp();
        SetStartButtonState(kButtonNormal);
        const std::string named = c.Name ? std::string(c.Name) + " and more" : std::string();
        ContentStop stop;
        stop.Kind = c.Kind;
        stop.Name = c.Name ? named.c_str() : nullptr;
        stop.NameLength = c.Name ? std::strlen(c.Name) : 0;  // a counted name: what follows is not of it
        stop.Release = 12;
        stop.NeededBytes = (3u << 20) + 1;
        stop.FreeBytes = (5u << 20) + 100;
        presenter_.Stopped(stop);
        EXPECT_EQ(c.Line, StatusNow());
        EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
        EXPECT_EQ(0, LaunchReady.load());
    }
}

// Two lanes wait at once: the line they found comes back when the last of them goes on.
TEST_F(ContentPresenterTest, TheLineComesBackAfterTheLastRetryWaitThatGoesOn) {
    presenter_.RetryWaitBegins("Content/packs/10-0.pack");
    presenter_.RetryWaitBegins("Content/packs/10-1.pack");
    presenter_.RetryWaiting(3, "Content/packs/10-1.pack");
    EXPECT_EQ(Formatted(ContentText.Retrying, 3u, "Content/packs/10-1.pack"), StatusNow());
    presenter_.RetryWaitOver(1);
    EXPECT_EQ(Formatted(ContentText.Retrying, 3u, "Content/packs/10-1.pack"), StatusNow());
    presenter_.RetryWaitOver(1);
    EXPECT_EQ("before", StatusNow());
    // A later wait keeps the line it finds then, not the first one's.
    StatusText.Set("later");
    presenter_.RetryWaitBegins("Content/packs/10-0.pack");
    presenter_.RetryWaiting(1, "Content/packs/10-0.pack");
    presenter_.RetryWaitOver(1);
    EXPECT_EQ("later", StatusNow());
}

TEST_F(ContentPresenterTest, AWaitThatEndsTheRunLeavesItsCountdown) {
    presenter_.RetryWaitBegins("Content/packs/10-0.pack");
    presenter_.RetryWaiting(2, "Content/packs/10-0.pack");
    presenter_.RetryWaitOver(0);
    EXPECT_EQ(Formatted(ContentText.Retrying, 2u, "Content/packs/10-0.pack"), StatusNow());
}

TEST_F(ContentPresenterTest, AHeldFileNamedWhileWaitedForThenTheLineBackOnceItMoves) {
    presenter_.HeldWaitBegins("data/c.dat", 10);
    presenter_.HeldWaiting("data/c.dat", 10);
    EXPECT_EQ(Formatted(ContentText.Held, "data/c.dat"), StatusNow());
    presenter_.HeldWaitOver(1);
    EXPECT_EQ("before", StatusNow());
    presenter_.HeldWaitBegins("data/c.dat", 10);
    presenter_.HeldWaiting("data/c.dat", 10);
    presenter_.HeldWaitOver(0);
    EXPECT_EQ(Formatted(ContentText.Held, "data/c.dat"), StatusNow());
}

TEST_F(ContentPresenterTest, TheEndIsReadyWithFullBarsAndTheStartButtonEnabled) {
    presenter_.Began();
    EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
    presenter_.Finished(12, 0, 0);
    EXPECT_EQ(Formatted(LauncherSettings.MsgReady, 12), StatusNow());
    EXPECT_EQ(1, LaunchReady.load());
    EXPECT_EQ(100, ProgressCurrent.load());
    EXPECT_EQ(100, ProgressTotal.load());
    EXPECT_EQ(kButtonNormal, ButtonStates[kStartButton].load());
    presenter_.Finished(12, 1, 3);
    EXPECT_EQ(Formatted(ContentText.Verified, 12, 3u), StatusNow());
}

TEST_F(ContentPresenterTest, TheRunEndsWhenTheLauncherDoes) {
    EXPECT_EQ(0, presenter_.Ending());
    QuitRequested = 1;
    EXPECT_NE(0, presenter_.Ending());
}
