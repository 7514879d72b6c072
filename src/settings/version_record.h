// The version record "config": the installed client version, encrypted with ConfigCipher.
#pragma once

#include <atomic>
#include <cstdint>

// The installed client version; written by start-up, then only by the download worker.
extern std::atomic<int32_t> CurrentVersion;

// What the decrypted text of a version record says.
enum class VersionRecordText {
    Incorrect,       // the first token is not "[Version]"
    VersionMissing,  // "[Version]" without a non-zero number after it
    Version,         // "[Version] N" with N non-zero
};

// Reads the decrypted record text: the key "[Version]" (any letter case) as its first token,
// the number as the second ("%d" with 32-bit saturation). *version receives that number
// unless the result is Incorrect, when it is left untouched.
VersionRecordText ParseVersionRecordText(const char* plain, int32_t* version);

// Reads "config" from the working directory. Returns 1 when it held a non-zero version
// (now in CurrentVersion); 0 otherwise, after a message box when the file was there but
// unusable (CurrentVersion is then 0). A missing file gives 0 without a box.
int ReadVersionRecord();

// Stores CurrentVersion in "config". The new record is written beside it and replaces it in
// one step, so a crash never leaves an empty or half-written record. 1 on success.
int WriteVersionRecord();

// Larger files cannot be a version record; they take the incorrect-file road unread.
constexpr long kMaxVersionRecordSize = 64 * 1024;
