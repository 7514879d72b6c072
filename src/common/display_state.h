// The display state shared by start-up, the window procedure and the download worker.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/shared_text.h"

enum ButtonState : int32_t {
    kButtonNormal = 0,
    kButtonHover = 1,
    kButtonPressed = 2,
    kButtonDisabled = 3,
};

enum ButtonIndex : int {
    kStartButton = 0,
    kExitButton = 1,
    kHomePageButton = 2,
    kCommunityButton = 3,
    kButtonCount = 4,
};

// The status line, ANSI code page. Starts as "Initializing".
extern SharedText StatusText;
// 0 normal, 1 hover, 2 pressed, 3 disabled. Start-up, the worker and the downloader alone
// store 3 or 0 into entry 0; the window thread only moves enabled buttons between 0, 1, 2.
extern std::atomic<int32_t> ButtonStates[kButtonCount];
extern std::atomic<int32_t> ProgressCurrent;  // upper bar, percent of the file in transfer
extern std::atomic<int32_t> ProgressTotal;    // lower bar, percent of the run's files done
extern std::atomic<uint8_t> LaunchReady;      // the start button may start the game
extern std::atomic<int32_t> QuitRequested;    // the next tick ends the message loop

// Enables (0) or disables (3) the start button: the one writer path of those two values.
void SetStartButtonState(int32_t state);

// Window-thread update of one enabled button's state: stores newState only if the state
// still holds expected and neither is 3, so a 0 or 3 stored at the same moment by another
// thread is never overwritten. Returns whether the state now holds newState by this call.
bool MoveButtonState(std::atomic<int32_t>& state, int32_t expected, int32_t newState);

// Restores the values a process starts with (tests run several scenarios in one process).
void ResetDisplayState();
