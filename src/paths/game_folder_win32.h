// The one place that creates, replaces and deletes files under the game folder. The launcher
// runs elevated in a folder every user may write, so a junction, symbolic link or mount point
// planted there could turn a write or delete onto any file of the machine: every component of
// a path is opened without following links and refused when it is one, and every handle's
// final path must lie under the game folder before anything is written or deleted through it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/win32_handle.h"

// The code a path refused by these rules fails with: a component that is a link, or a final
// path outside the game folder.
constexpr unsigned long kLinkRefused = ERROR_CANT_RESOLVE_FILENAME;

// Takes the working directory, which start-up made the launcher's (or the Updater's) folder,
// as the game folder, resolved once to its final path. 1, or 0 with *error. Until it has run,
// every call below refuses with ERROR_INVALID_FUNCTION.
int TakeGameFolder(unsigned long* error);

// The game folder's final path as GetFinalPathNameByHandleW gives it ("\\?\C:\Games\X").
const wchar_t* GameFolderFinalPath();

// Opens relative (a wide relative name, "\" between components) under the game folder: every
// folder above it must be a plain folder (no reparse point) inside the game folder; the last
// component is opened with FILE_FLAG_OPEN_REPARSE_POINT added to flags and refused when it is a
// reparse point, or a folder unless flags holds FILE_FLAG_BACKUP_SEMANTICS; then the handle's
// final path must lie under the game folder. access, share, disposition and flags as
// CreateFileW takes them. 1 with *out owning the handle, or 0 with *error.
int OpenGameFile(const wchar_t* relative, unsigned long access, unsigned long share, unsigned long disposition,
                 unsigned long flags, FileHandle* out, unsigned long* error);

// Creates every folder above relative's last component that is missing, refusing a component
// that is a link or not a folder. 1, or 0 with *error.
int CreateGameFolders(const wchar_t* relative, unsigned long* error);

// Moves the file from over to (both relative), replacing a plain file there: both sides
// checked as OpenGameFile checks them; a link or folder at to is refused, never replaced.
// 1, or 0 with *error.
int MoveGameFile(const wchar_t* from, const wchar_t* to, unsigned long* error);

// Deletes the plain file relative (its read-only mark lifted first) through a handle opened as
// OpenGameFile opens it, never through a link. 1 when it is gone or was never there, else 0
// with *error.
int DeleteGameFile(const wchar_t* relative, unsigned long* error);

// Marks the file behind handle (opened with DELETE, and FILE_WRITE_ATTRIBUTES for a read-only
// one) for deletion as the handle closes, its read-only mark lifted first. 1, or 0 with *error.
int DisposeOpenedFile(HANDLE handle, unsigned long* error);

// Removes the folder relative when it is empty, a plain folder under the game folder. 1 when
// it is gone (or was never there), 0 with *error when it holds anything or is refused.
int RemoveEmptyGameFolder(const wchar_t* relative, unsigned long* error);

// A file's identity on its volume: two names with the same identity are one file.
struct FileIdentity {
    uint32_t Volume = 0;
    uint64_t Index = 0;
};

// The identity of the file behind handle. 1, or 0 with *error.
int FileIdentityOf(HANDLE handle, FileIdentity* out, unsigned long* error);

inline bool SameFile(const FileIdentity& a, const FileIdentity& b) { return a.Volume == b.Volume && a.Index == b.Index; }
