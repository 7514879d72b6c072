// ContentPresenter: the content engine's reports turned into the status line, the two bars and
// the start button, with the figures the window has always shown for each stage.
#include "content/content_presenter_win32.h"

#include <atomic>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "content/fetch_controls_win32.h"
#include "content/content_text.h"
#include "content/shown_name_win32.h"
#include "content_plan/disk_need.h"
#include "settings/launcher_settings.h"

namespace {

// Set by the run's first report, cleared by its last: read by the window's menu.
std::atomic<int32_t> RunGoing{0};

unsigned Kilobytes(uint64_t bytes) { return static_cast<unsigned>(bytes >> 10); }

// done of all, in percent; nothing to do is all done.
int32_t Percent(uint64_t done, uint64_t all) { return all ? static_cast<int32_t>(done * 100 / all) : 100; }

// A file being built: an empty one counts as one byte, so it is never done before it begins.
uint64_t FilePercent(const ContentProgress& p) { return p.PartDone * 100 / (p.PartSize ? p.PartSize : 1); }

// The bars a report sets, each -1 where the bar keeps its value.
struct Bars {
    int32_t Upper;
    int32_t Lower;
};

Bars BarsOf(const ContentProgress& p) {
    switch (p.Stage) {
    case kStageVerifying:
        return Bars{Percent(p.Done, p.ToDo), Percent(p.FilesDone, p.Files)};
    case kStageFetching:
        return Bars{Percent(p.Done, p.ToDo), 0};  // the files built: none yet
    case kStageFetchingDelta:
        return Bars{Percent(p.PartDone, p.PartSize), Percent(p.Done, p.ToDo)};
    case kStageBuilding: {
        // The files built, this one by its part done; the upper bar stays at the bytes fetched.
        const uint64_t files = p.Files ? p.Files : 1;
        return Bars{-1, static_cast<int32_t>((uint64_t{p.FilesDone} * 100 + FilePercent(p)) / files)};
    }
    case kStageBuildingDelta:
        return Bars{static_cast<int32_t>(FilePercent(p)), Percent(p.Done, p.ToDo)};
    default:
        return Bars{-1, -1};
    }
}

void ShowLine(const ContentProgress& p) {
    switch (p.Stage) {
    case kStageChecking:
        StatusText.Set(ContentText.Checking);
        break;
    case kStageVerifying:
        StatusText.Format(ContentText.Verifying, Kilobytes(p.Done), Kilobytes(p.ToDo));
        break;
    case kStageFetching:
    case kStageFetchingDelta:  // no rate: a delta is one request, most often shorter than the meter's window
        if (ContentFetchPaused()) {
            StatusText.Format(ContentText.Paused, Kilobytes(p.Done), Kilobytes(p.ToDo));
            break;
        }
        // The engine sends no rate until the meter knows one and the time left with it.
        if (p.Rate)
            StatusText.Format(ContentText.FetchingRate, Kilobytes(p.Done), Kilobytes(p.ToDo), Kilobytes(p.Rate),
                              p.SecondsLeft / 60, p.SecondsLeft % 60);
        else
            StatusText.Format(ContentText.Fetching, Kilobytes(p.Done), Kilobytes(p.ToDo));
        break;
    case kStageBuilding:
    case kStageBuildingDelta:
        ShowNamedStatus(ContentText.Building, p.Name, p.NameLength, Kilobytes(p.Done), Kilobytes(p.ToDo));
        break;
    }
}

// The branded failure texts take a terminated name; a report's name is a counted one.
void CopyName(const ContentStop& stop, char* out, std::size_t size) {
    FormatText(out, size, "%.*s", static_cast<int>(stop.Name ? stop.NameLength : 0), stop.Name ? stop.Name : "");
}

}  // namespace

bool ContentRunGoing() { return RunGoing.load() != 0; }

bool ClaimContentRun() {
    int32_t idle = 0;
    return RunGoing.compare_exchange_strong(idle, 1);
}

void ContentPresenter::Began() {
    RunGoing.store(1);
    SetStartButtonState(kButtonDisabled);
}

void ContentPresenter::Progress(const ContentProgress& progress) {
    if (progress.Show != kShowLine) {
        const Bars bars = BarsOf(progress);
        if (bars.Upper >= 0) ProgressCurrent = bars.Upper;
        if (bars.Lower >= 0) ProgressTotal = bars.Lower;
    }
    if (progress.Show != kShowBars) ShowLine(progress);
}

void ContentPresenter::Borrow() {
    LockHeld hold(lock_);
    if (borrowed_++ == 0) StatusText.CopyTo(before_, sizeof before_);
}

void ContentPresenter::GiveBack(int resumed) {
    LockHeld hold(lock_);
    if (borrowed_ > 0 && --borrowed_ == 0 && resumed) StatusText.Set(before_);
}

void ContentPresenter::HeldWaitBegins(const char*, std::size_t) { Borrow(); }

void ContentPresenter::HeldWaiting(const char* path, std::size_t length) {
    ShowNamedStatus(ContentText.Held, path, length);
}

void ContentPresenter::HeldWaitOver(int resumed) { GiveBack(resumed); }

void ContentPresenter::RetryWaitBegins(const char*) { Borrow(); }

void ContentPresenter::RetryWaiting(unsigned secondsLeft, const char* path) {
    StatusText.Format(ContentText.Retrying, secondsLeft, path);
}

void ContentPresenter::RetryWaitOver(int resumed) { GiveBack(resumed); }

void ContentPresenter::Stopped(const ContentStop& stop) {
    char name[SharedText::kSize];
    CopyName(stop, name, sizeof name);
    switch (stop.Kind) {
    case kStopRelease:
        StatusText.Format(ContentText.ReleaseFailed, name);
        break;
    case kStopFetch:
        StatusText.Format(ContentText.FetchFailed, name);
        break;
    case kStopUnavailable:
        StatusText.Format(ContentText.Unavailable, static_cast<unsigned>(stop.Release), name);
        break;
    case kStopFile:
        ShowNamedStatus(ContentText.FileFailed, stop.Name ? stop.Name : "", stop.Name ? stop.NameLength : 0);
        break;
    case kStopTooLarge:
        StatusText.Format(ContentText.TooLarge, name);
        break;
    case kStopMemory:
        StatusText.Format(ContentText.OutOfMemory, name);
        break;
    case kStopLink:
        ShowNamedStatus(ContentText.Linked, stop.Name ? stop.Name : "", stop.Name ? stop.NameLength : 0);
        break;
    case kStopDiskFull:
        StatusText.Format(ContentText.DiskFull, MegabytesNeeded(stop.NeededBytes), MegabytesFree(stop.FreeBytes));
        break;
    case kStopQuiet:
        break;
    }
    SetStartButtonState(kButtonDisabled);
    RunGoing.store(0);
}

void ContentPresenter::Finished(uint32_t release, int verify, uint32_t repaired) {
    if (verify)
        StatusText.Format(ContentText.Verified, static_cast<int>(release), repaired);
    else
        StatusText.Format(LauncherSettings.MsgReady, static_cast<int>(release));
    LaunchReady = 1;
    ProgressCurrent = 100;
    ProgressTotal = 100;
    SetStartButtonState(kButtonNormal);
    RunGoing.store(0);
}

int ContentPresenter::Ending() const { return QuitRequested.load() != 0 ? 1 : 0; }
