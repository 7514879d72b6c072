// The folders above one operation under the game folder, held open while it runs, and the
// ANSI names of the classic road and the Updater as the wide names the game folder takes.
#pragma once

#include <windows.h>

#include <cstddef>

#include "common/win32_handle.h"

// A release path is at most 255 bytes: never more components than this.
constexpr int kMaxHeldFolders = 128;

// Each folder above relative's last component, opened without following links and shared for
// reading and writing but not deletion: while held, none of them can be renamed, removed or
// swapped for a link, so a name below them reaches what was checked.
class GameFolderHold {
public:
    GameFolderHold() = default;
    GameFolderHold(const GameFolderHold&) = delete;
    GameFolderHold& operator=(const GameFolderHold&) = delete;

    // Holds the folders above relative (a relative name, "\" or "/" between components);
    // create: a missing folder is made first. Refuses a component that is a link (kLinkRefused)
    // or not a folder, and a name that is not relative. 1, or 0 with *error (ERROR_PATH_NOT_FOUND
    // for a missing folder when not creating, and for a file in a folder's place).
    int Take(const wchar_t* relative, bool create, unsigned long* error);
    void Release();
    // Whether the last Take succeeded (and nothing was released since).
    bool Holds() const { return taken_; }

private:
    FileHandle held_[kMaxHeldFolders];
    int count_ = 0;
    bool taken_ = false;
};

// Whether the game folder was taken (ERROR_INVALID_FUNCTION if not). 1, or 0 with *error.
int GameFolderReady(unsigned long* error);

// Whether handle's final path lies below the game folder; kLinkRefused when not. 1, or 0.
int LiesUnderGameFolder(HANDLE handle, unsigned long* error);

// OpenGameFile's last step, for a caller that holds the folders above relative already.
int OpenHeldGameFile(const wchar_t* relative, unsigned long access, unsigned long share, unsigned long disposition,
                     unsigned long flags, FileHandle* out, unsigned long* error);

// name (ANSI, relative to the game folder) as a wide relative name in out (size characters).
// 1, or 0 when it does not convert or fit.
int GameNameFromAnsi(const char* name, wchar_t* out, std::size_t size);

// Whether the plain file relative (ANSI) may be written, replaced or deleted by name: every
// folder above it is a plain folder under the game folder and the name itself is no link nor
// folder (a missing file passes). For code that cannot open through OpenGameFile (the classic
// road's partial files); hold the folders with hold while the file is written. 1, or 0 with
// *error.
int CheckGameName(const char* name, GameFolderHold& hold, bool create, unsigned long* error);
