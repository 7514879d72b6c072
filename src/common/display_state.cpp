// Storage and the few writer rules of the shared display state.
#include "common/display_state.h"

SharedText StatusText("Initializing");
std::atomic<int32_t> ButtonStates[kButtonCount] = {{kButtonDisabled}, {kButtonNormal},
                                                    {kButtonNormal}, {kButtonNormal}};
std::atomic<int32_t> ProgressCurrent{0};
std::atomic<int32_t> ProgressTotal{0};
std::atomic<uint8_t> LaunchReady{0};
std::atomic<int32_t> QuitRequested{0};

void SetStartButtonState(int32_t state) { ButtonStates[kStartButton].store(state); }

bool MoveButtonState(std::atomic<int32_t>& state, int32_t expected, int32_t newState) {
    if (expected == kButtonDisabled || newState == kButtonDisabled) return false;
    if (expected == newState) return true;
    return state.compare_exchange_strong(expected, newState);
}

void ResetDisplayState() {
    StatusText.Set("Initializing");
    ButtonStates[0] = kButtonDisabled;
    for (int i = 1; i < kButtonCount; ++i) ButtonStates[i] = kButtonNormal;
    ProgressCurrent = 0;
    ProgressTotal = 0;
    LaunchReady = 0;
    QuitRequested = 0;
}
