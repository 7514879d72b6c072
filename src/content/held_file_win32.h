// Files another program holds open (the game still running, a virus scanner, an editor): the
// content worker waits for them a while, reporting the file so that the player may close that
// program, rather than failing the update at the first refusal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "content/content_report.h"
#include "content/wide_partial_file_win32.h"

// How long one file is waited for, and how often it is tried again meanwhile: long enough to
// close a game, short enough that a player who does not is told the update failed.
constexpr uint32_t kHeldWaitMs = 30000;
constexpr uint32_t kHeldTryMs = 1000;

// A refusal that only an open handle of another program causes.
bool IsHeldCode(unsigned long code);

// Whether a failure (code) to replace or delete target means another program has it in use.
// ERROR_ACCESS_DENIED counts only when target itself still opens for writing and deletion (a
// file another program has open refuses a move over it that way, whatever it shares) or that
// open meets a hold too (a running program's image refuses writing with a sharing violation);
// a folder in its place or a file the account may not write is no hold.
bool IsHeldFailure(const wchar_t* target, unsigned long code);

// One try at replacing or deleting a file: 1 when done, else 0 with *error the system's code.
using HeldAttempt = int (*)(void* context, unsigned long* error);

// Runs attempt; while it fails because target is held (IsHeldFailure), attempt runs again every
// kHeldTryMs, for up to waitMs. The wait is reported for path (length bytes of UTF-8): its
// beginning once, HeldWaiting before each try, and its end, resumed when a try succeeded.
// 1 when a try succeeded; else 0 with *error the last failure's code: at once for a failure
// that is no hold, after waitMs, or as soon as report.Ending().
int TryWhileHeld(const wchar_t* target, const char* path, std::size_t length, uint32_t waitMs,
                 HeldAttempt attempt, void* context, unsigned long* error, ContentReport& report);

// Moves the flushed partial over target, waiting out a hold (TryWhileHeld): the partial stays
// whole and marked for deletion between tries, so a kill in the wait leaves nothing behind
// and nothing needs building again once the file is free. 1, or 0 with *error; the partial is
// discarded on failure. *lastWrite as WidePartialFile::MoveOver.
int PlaceWhileHeld(WidePartialFile& partial, const wchar_t* target, const char* path, std::size_t length,
                   uint32_t waitMs, uint64_t* lastWrite, unsigned long* error, ContentReport& report);

// Deletes target (its read-only mark lifted first), waiting out a hold. 1 when it is gone
// (or was never there), else 0 with *error.
int DeleteWhileHeld(const wchar_t* target, const char* path, std::size_t length, uint32_t waitMs,
                    unsigned long* error, ContentReport& report);
