// Fetching one patch file from the patch server into the working directory, unpacking it
// when it is a zip archive.
#pragma once

#include <cstddef>

constexpr std::size_t kDownloadBufferSize = 32768;
// Receives every chunk of every download; zero-filled at start, used by the worker only.
extern unsigned char DownloadBuffer[kDownloadBufferSize];

// How long the downloader waits after an archive was unpacked and again before it marks the
// game executable, in milliseconds.
constexpr unsigned long kSettlePauseMs = 500;
// Unpacking attempts for one archive before the launcher gives up and asks to be restarted.
constexpr int kMaxExtractAttempts = 1000;
// The joined URL (base address, sub-path, name) must be shorter than this.
constexpr std::size_t kUrlSize = 256;

// Downloads PatchBaseUrl + subPath + name (no separator added, no escaping) into the file
// name, relative to the working directory, creating its directories when needed. Shows
// "Downloading file (name)" and the upper bar (ProgressCurrent) meanwhile. An archive
// ("zip" as its last three letters) is unpacked with ExtractArchive into StatusText and
// deleted. After every successful file the game executable is made read-only and hidden.
// The body is written beside the name (a PartialFile) and takes its place only once whole and
// on disk; no other file is touched, one whose name ends in ".part" included.
// Returns 1 on success. On failure returns 0 with StatusText holding the reason and the
// start button disabled, leaves no partial file and leaves an existing file of that name as
// it was, and writes the failed call and its error code to the debugger output; when an archive cannot be unpacked it shows MsgAbnormalRun, sets QuitRequested and
// leaves the start button as it was. Names that would land outside the working directory are
// refused before anything is written.
// Runs on the download worker's thread; blocks for the transfer and the pauses.
int DownloadFile(const char* name, const char* subPath);
