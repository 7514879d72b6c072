// The content mode's own status texts: a table beside the settings record's 32 fixed slots,
// so the classic messages keep their places. Korean defaults in CP949 (English in README.md),
// brandable through the messages file (cmake/branding.cmake) as ContentChecking=..., and so on.
#pragma once

struct ContentTexts {
    const char* Checking;  // Checking files...
    const char* Fetching;  // Downloading (%u / %u KB)
    // Downloading (%u / %u KB, %u KB/s, %u:%02u left): done, to fetch, the speed over the last
    // 5 s, the minutes and seconds left at it
    const char* FetchingRate;
    const char* Building;  // Building %s (%u / %u KB)
    const char* ReleaseFailed;  // Release check failed (%s)
    const char* FetchFailed;  // Downloading failed (%s)
    const char* FileFailed;  // Building failed (%s)
    const char* DiskFull;  // Not enough disk space (%u MB needed, %u MB free)
    const char* Retrying;  // Retrying in %u s (%s): the seconds left, the file asked for
    const char* Unavailable;  // Release %u is not on the server (%s): the server refused the file
    const char* Held;  // File in use: %s (close the program that uses it): another program holds it
    const char* Verifying;  // Verifying files (%u / %u KB)
    const char* Verified;  // Ready to start. [Version: %d] %u files repaired
    const char* Linked;  // Links are not followed (%s): a release path passes through a link
    const char* TooLarge;  // The release is too large for a 32-bit launcher (%s)
    const char* OutOfMemory;  // Not enough memory (%s)
    const char* Paused;  // Paused (%u / %u KB): done, to fetch
    // The window's menu (right-click or the context-menu key)
    const char* MenuPause;  // Pause
    const char* MenuResume;  // Resume
    const char* MenuSpeed;  // Speed limit
    const char* MenuSpeedOff;  // No limit
    const char* MenuSpeedRate;  // %u MB/s
    const char* MenuRepair;  // Repair the game files
    const char* MenuOpenFolder;  // Open the game folder
    // Release channels (--channel NAME)
    const char* ChannelMissing;  // The server has no channel %s; the launcher stays on %s
};

extern ContentTexts ContentText;
