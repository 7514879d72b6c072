// What the abandoned download worker may still touch while the process ends.
#include <gtest/gtest.h>

#include <type_traits>

#include "common/display_state.h"

// Returning from the entry point runs static destructors while the worker may still be writing
// the display state: nothing of it may have a destructor to run (a destroyed lock would be
// locked again by the worker).
TEST(DisplayState, NothingTheWorkerWritesIsTornDownAtExit) {
    EXPECT_TRUE(std::is_trivially_destructible<decltype(StatusText)>::value);
    EXPECT_TRUE(std::is_trivially_destructible<decltype(ButtonStates)>::value);
    EXPECT_TRUE(std::is_trivially_destructible<decltype(ProgressCurrent)>::value);
    EXPECT_TRUE(std::is_trivially_destructible<decltype(ProgressTotal)>::value);
    EXPECT_TRUE(std::is_trivially_destructible<decltype(LaunchReady)>::value);
    EXPECT_TRUE(std::is_trivially_destructible<decltype(QuitRequested)>::value);
}
