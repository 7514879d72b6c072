// The Updater's exit codes, and the words it shows for a failed download. No platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

// One code per way the Updater can end; the README lists them.
enum UpdaterExit : int {
    kExitDone = 0,                   // the new launcher, or the installer, was started
    kExitCannotRun = 1,              // no folder or window of its own: nothing was touched
    kExitUsage = 2,                  // wrong or missing arguments: usage box, nothing touched
    kExitAlreadyRunning = 3,         // another Updater runs; its window is brought forward
    kExitLauncherStillRunning = 4,   // the launcher did not end within the wait
    kExitDownloadFailed = 5,         // connection, certificate, status, length or body
    kExitCannotWrite = 6,            // the download could not be written in the folder
    kExitWrongVersion = 7,           // the new launcher's file version is not the one asked for
    kExitWrongProcessor = 8,         // the new launcher is not a program for this processor
    kExitCannotReplace = 9,          // the launcher could not be replaced; it is as it was
    kExitNewLauncherDidNotStart = 10,  // the new launcher did not start; the old one is back
    kExitInstallerDidNotStart = 11,  // the installer was downloaded but did not start
    kExitNotVerified = 12,           // with a signing key: the signed manifest, or the file's entry
                                     // in it, refused the new launcher or installer
};

enum class DownloadResult {
    Done,
    ConnectFailed,  // no answer: name, connection, secure channel, certificate, or a redirect
                    // to an address without encryption (code: error, 12040 for that)
    BadStatus,      // an answer other than 200 (code: status)
    NoLength,       // no Content-Length, or not a number
    TooShort,       // the body ended before its length (or a read failed: code)
    TooLong,        // more bytes than its length
    TooLarge,       // a length above what the file may have (code: that limit)
    NotSignedSize,  // a length other than the size the signed manifest lists (expected: it)
    WriteFailed,    // the local file could not be created or written (code: error)
};

struct DownloadOutcome {
    DownloadResult result;
    uint32_t code;
    uint64_t received;
    uint64_t expected;
};

// Plain words for a failed download, e.g. "the server answered 404" or "connection error
// 12038: the server's certificate is for another host name". False when cut.
bool DescribeDownloadFailure(const DownloadOutcome& outcome, char* out, std::size_t size);

// The percentage of a download, 0 to 100; 0 while the length is unknown.
int DownloadPercent(uint64_t received, uint64_t expected);
