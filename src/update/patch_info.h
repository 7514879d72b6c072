// The patch information file ("update.dat", published as LauncherPatchInfo.txt) and the
// state its parser fills: required installer and launcher versions, newest client version,
// and the pending patch steps.
#pragma once

#include <cstdint>

#include "update/patch_limits.h"

constexpr int kMaxPatchSteps = 100;
constexpr int kStepFileNameSize = kMaxFileNameLength + 1;
constexpr int kVersionTextSize = kMaxVersionTextLength + 1;

struct PatchStep {
    int32_t Version;    // 0 marks the end of the list
    int32_t FileCount;  // leading entries of FileNames in use, 0 to 16
    char FileNames[kMaxStepFiles][kStepFileNameSize];
};

extern char RequiredInstallerVersion[kVersionTextSize];
extern char RequiredLauncherVersion[kVersionTextSize];
extern int32_t LatestVersion;
// The highest version of the whole [PLAYER] section, past the kMaxPatchSteps slots that bound
// LatestVersion and PatchList: the release a content launcher brings any folder to in one run.
// 0 without a [PLAYER] line; every parse of an opened file sets it anew.
extern int32_t NewestPlayerVersion;
extern PatchStep PatchList[kMaxPatchSteps];
extern int32_t PatchFileTotal;

// What the parser could not keep of a step's line. Such a step is stored as far as it fits,
// but applying it would record a version whose files were not all written, so the download
// worker refuses it. One entry per PatchList record, cleared with it.
constexpr uint8_t kStepExtraNames = 1;   // more names than FileNames holds
constexpr uint8_t kStepNameCut = 2;      // a name longer than a FileNames entry holds
constexpr uint8_t kStepLineCut = 4;      // the line was longer than one read (kMaxLineLength);
                                         // its rest is skipped, never read as a line of its own
extern uint8_t PatchStepFlaws[kMaxPatchSteps];

// Parses "update.dat" from the working directory against CurrentVersion. Returns 1 when the
// file was opened and read, 0 when it could not be opened (state untouched). Tokens longer
// than their fields (31-byte versions, 63-byte names) are cut, never written past the field.
// A line longer than kMaxLineLength is read in pieces, each a line of its own, except in
// [PLAYER]: there the rest of the line is skipped, since a piece of a step's line read as
// a step would fetch its "names" and record its "version".
int ParsePatchInfo();

// The same parse over any file name (the launcher always uses "update.dat").
int ParsePatchInfoFile(const char* path);

// Zeroes the whole state, as at process start.
void ResetPatchInfo();
