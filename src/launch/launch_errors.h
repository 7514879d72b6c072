// Why the game could not be started: the message for a system error code.
#pragma once

#include <cstddef>
#include <cstdint>

struct LaunchErrorMessage {
    bool ownedByMainWindow;  // the generic message has no owner
    char text[512];
};

// Looks the code up in the error table (rows tested in order) and fills the message; the
// generic row formats the code into its text.
void DescribeLaunchError(uint32_t code, LaunchErrorMessage* message);

constexpr const char* kLaunchErrorCaption = "Error";
