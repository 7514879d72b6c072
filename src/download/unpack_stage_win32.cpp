// UnpackStage over CreateDirectoryA, FindFirstFileA and RemoveDirectoryA.
#include "download/unpack_stage_win32.h"

#include <windows.h>

#include <cstring>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "common/win32_handle.h"
#include "download/zip_extract.h"
#include "paths/game_folder_win32.h"
#include "paths/safe_path.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// True when a component of name is the staging folder's name: its entry cannot be staged there.
bool PassesThroughStage(const char* name) {
    const std::size_t length = std::strlen(kUnpackStageName);
    for (const char* start = name;;) {
        const char* end = start;
        while (*end && !IsSeparator(*end)) ++end;
        if (static_cast<std::size_t>(end - start) == length && _strnicmp(start, kUnpackStageName, length) == 0)
            return true;
        if (!*end) return false;
        start = end + 1;
    }
}

// Deletes the partial files a kill or a power cut left in a staging folder (held, and checked
// to be no link). One still open (by a launcher that is still ending) refuses, and is passed
// over by name anyway; a link or folder under such a name is left alone.
void SweepLeftovers(const char* folder) {
    char pattern[MAX_PATH];
    if (!FormatText(pattern, sizeof pattern, "%s\\*.part", folder)) return;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(pattern, &found));
    if (!search) return;
    do {
        char path[MAX_PATH];
        wchar_t wide[MAX_PATH];
        unsigned long error = 0;
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            FormatText(path, sizeof path, "%s\\%s", folder, found.cFileName) && GameNameFromAnsi(path, wide, MAX_PATH))
            DeleteGameFile(wide, &error);
    } while (FindNextFileA(search.Get(), &found));
}

// Whether the folder (ANSI) is a plain folder under the game folder.
bool IsFolder(const char* folder, GameFolderHold& hold) {
    char held[MAX_PATH];
    unsigned long error = 0;
    return FormatText(held, sizeof held, "%s\\", folder) && CheckGameName(held, hold, false, &error);
}

// Makes the folder (the ones above it as MakeParentDirectories makes them), or finds one of ours
// already there, held in hold; false when it cannot be used (a file or a link in its place or
// above it).
bool MakeStage(const char* folder, const char* name, GameFolderHold& hold) {
    char held[MAX_PATH];
    unsigned long error = 0;
    if (!FormatText(held, sizeof held, "%s\\", folder)) return false;
    if (!CheckGameName(held, hold, false, &error) && error == ERROR_PATH_NOT_FOUND) {
        // The folders above are made as MakeParentDirectories makes them, to its depth; only
        // the stage itself is made here.
        char above[MAX_PATH];
        const bool nested = DirectoryOfPath(above, sizeof above, name) != 0;
        if (nested && !IsFolder(above, hold)) MakeParentDirectories(name);
        if (!nested || IsFolder(above, hold)) CheckGameName(held, hold, true, &error);
    }
    if (!hold.Holds()) {
        if (error == kLinkRefused) TraceFailure("unpack stage", "refused", folder, error);
        return false;
    }
    SweepLeftovers(folder);
    return true;
}

}  // namespace

const char* UnpackStage::For(const char* name) {
    if (PassesThroughStage(name)) return nullptr;
    char directory[kFolderSize];
    char folder[kFolderSize];
    const bool inFolder = DirectoryOfPath(directory, sizeof directory, name) != 0;
    if (!(inFolder ? FormatText(folder, sizeof folder, "%s\\%s", directory, kUnpackStageName)
                   : CopyText(folder, sizeof folder, kUnpackStageName)))
        return nullptr;
    if (std::strcmp(folder, folder_) != 0) {
        Leave();
        CopyText(folder_, sizeof folder_, folder);
        usable_ = MakeStage(folder_, name, hold_);
    }
    return usable_ ? folder_ : nullptr;
}

void UnpackStage::Leave() {
    // Let go first: the hold shares no deletion, not even with this process.
    hold_.Release();
    wchar_t wide[kFolderSize];
    unsigned long error = 0;
    if (usable_ && GameNameFromAnsi(folder_, wide, kFolderSize)) RemoveEmptyGameFolder(wide, &error);
    usable_ = false;
    folder_[0] = '\0';
}
