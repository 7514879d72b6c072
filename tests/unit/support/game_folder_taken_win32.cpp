// The unit tests' game folder: taken once before the first case, as start-up takes it, and
// followed from then on into each case's own working directory.
#include <gtest/gtest.h>

#include "paths/game_folder_win32.h"

namespace {

class GameFolderTaken : public ::testing::Environment {
public:
    void SetUp() override {
        unsigned long error = 0;
        ASSERT_EQ(1, TakeGameFolder(&error)) << error;
    }
};

::testing::Environment* const Registered = ::testing::AddGlobalTestEnvironment(new GameFolderTaken);

}  // namespace
