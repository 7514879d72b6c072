// Release paths (UTF-8, "/" between folders) as the UTF-16 names the wide file API opens, and
// the few wide file operations the content worker needs beside them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// A release path is at most 255 bytes, so its UTF-16 form and a partial-file suffix fit here.
constexpr std::size_t kWidePathSize = 300;

// The UTF-16 name of length bytes of UTF-8 at path, "/" turned into "\\", terminated. 1, or 0
// for bytes that are not whole UTF-8 or a name that does not fit out (size characters).
int WidePathOf(const char* path, std::size_t length, wchar_t* out, std::size_t size);

// Creates every folder above the file named by path (a relative wide name); existing folders are
// fine, a link or a name leading out of the game folder is refused (kLinkRefused). 1, or 0 with
// the system's code in *error.
int CreateFoldersAbove(const wchar_t* path, unsigned long* error);

// The size and last-write time (a FILETIME as one number) of a plain file. 0 when there is no
// such file, it is a folder, or a link stands in its name.
int WideFileStamp(const wchar_t* path, uint64_t* size, uint64_t* lastWrite);
// WideFileStamp, with *linked set when it is 0 because a link stands in path (any component) or
// the name leads out of the game folder.
int WideFileStampChecked(const wchar_t* path, uint64_t* size, uint64_t* lastWrite, bool* linked);

// True when the release path names the running program's own file, ignoring case: the worker
// never writes or deletes that one.
bool IsOwnProgramName(const wchar_t* path);
