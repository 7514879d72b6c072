// The shared display state under ThreadSanitizer: a worker-like writer and a window-like reader.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/display_state.h"

namespace {

constexpr int kRounds = 20000;
constexpr int kTextKinds = 7;

// Texts of very different lengths, so a copy taken half-way through a rewrite would show.
std::string FormattedText(int kind) {
    char text[SharedText::kSize];
    std::snprintf(text, sizeof text, "Downloading file (%s) %d", std::string(kind * 140, 'a' + kind).c_str(), kind);
    return text;
}

std::string PlainText(int kind) { return std::string(1 + kind * 97, 'A' + kind); }

}  // namespace

TEST(DisplayStateRaces, ReaderNeverSeesATornTextAndTheStartButtonIsNeverLost) {
    ResetDisplayState();
    std::set<std::string> written{"Initializing"};
    for (int k = 0; k < kTextKinds; ++k) {
        written.insert(FormattedText(k));
        written.insert(PlainText(k));
    }

    std::atomic<bool> done{false};
    std::atomic<int> lostDisabled{0};
    std::atomic<int> badButton{0};
    std::thread writer([&] {
        for (int i = 0; i < kRounds; ++i) {
            int k = i % kTextKinds;
            StatusText.Format("Downloading file (%s) %d", std::string(k * 140, 'a' + k).c_str(), k);
            StatusText.Set(PlainText(k).c_str());
            ProgressCurrent = i % 101;
            ProgressTotal = (i / 7) % 101;
            // The reader's hover and press moves must never undo a disable.
            SetStartButtonState(kButtonDisabled);
            for (int spin = 0; spin < 20; ++spin)
                if (ButtonStates[kStartButton].load() != kButtonDisabled) ++lostDisabled;
            SetStartButtonState(kButtonNormal);
            for (int spin = 0; spin < 20; ++spin) {
                int32_t state = ButtonStates[kStartButton].load();
                if (state < kButtonNormal || state > kButtonPressed) ++badButton;
            }
        }
        done = true;
    });

    std::vector<std::string> torn;
    int moves = 0;
    int snapshots = 0;
    while (!done.load()) {
        char copy[SharedText::kSize];
        StatusText.CopyTo(copy, sizeof copy);
        ++snapshots;
        if (!written.count(copy) && torn.size() < 5) torn.push_back(copy);
        StatusText.Equals(copy);
        int32_t seen = ButtonStates[kStartButton].load();
        int32_t next = seen == kButtonNormal ? kButtonHover : seen == kButtonHover ? kButtonPressed : kButtonHover;
        if (MoveButtonState(ButtonStates[kStartButton], seen, next) && seen != next) ++moves;
        // A disabled entry is never moved, whatever the caller believes it holds.
        EXPECT_FALSE(MoveButtonState(ButtonStates[kStartButton], kButtonDisabled, kButtonHover));
        int32_t current = ProgressCurrent.load();
        if (current < 0 || current > 100) torn.push_back("progress out of range");
    }
    writer.join();

    EXPECT_TRUE(torn.empty()) << torn.size() << " torn snapshots, first: " << (torn.empty() ? "" : torn[0]);
    EXPECT_EQ(0, lostDisabled.load());
    EXPECT_EQ(0, badButton.load());
    EXPECT_GT(snapshots, 100);
    EXPECT_GT(moves, 0) << "the reader never raced the writer";
    EXPECT_TRUE(written.count(PlainText((kRounds - 1) % kTextKinds)));
    EXPECT_TRUE(StatusText.Equals(PlainText((kRounds - 1) % kTextKinds).c_str()));
}
