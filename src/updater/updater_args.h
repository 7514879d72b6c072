// The Updater's command line: which update, the launcher process to wait for, the version
// the server requires and the patch base address; and the exact version check.
#pragma once

#include <cstddef>
#include <cstdint>

enum class UpdateKind { Launcher, Installer };

constexpr std::size_t kVersionTextSize = 32;
// The launcher's hand-over command line holds at most 255 characters, its base fewer.
constexpr std::size_t kBaseUrlSize = 512;

// A fixed file version a.b.c.d: four 16-bit fields, most significant first.
struct FileVersion {
    uint16_t field[4];
};

struct UpdaterRequest {
    UpdateKind kind;
    uint32_t processId;  // the launcher to wait for; 0 when there is none
    FileVersion version;
    char versionText[kVersionTextSize];
    char base[kBaseUrlSize];  // "https://host[:port]/path", no trailing "/"
};

// Reads argv[1] to argv[4]: "Launcher PID VERSION BASE" or "Installer 0 VERSION BASE"
// (argv[0] is the program). PID is decimal; VERSION is exactly four decimal numbers of at
// most 65535 joined by "."; BASE is an https:// address of printable ASCII without blanks,
// quotes, angle brackets, backslashes, "?" or "#" (trailing "/" are dropped). Anything else, or any other
// number of words, gives false: the Updater then touches nothing.
bool ParseUpdaterArguments(int argc, const char* const* argv, UpdaterRequest* request);

// "a.b.c.d" as above into *version; false for any other text.
bool ParseFileVersion(const char* text, FileVersion* version);

bool SameFileVersion(const FileVersion& a, const FileVersion& b);

// "a.b.c.d" into out; false when it does not fit.
bool FormatFileVersion(const FileVersion& version, char* out, std::size_t size);
