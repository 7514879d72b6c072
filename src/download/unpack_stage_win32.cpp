// UnpackStage over CreateDirectoryA, FindFirstFileA and RemoveDirectoryA.
#include "download/unpack_stage_win32.h"

#include <windows.h>

#include <cstring>

#include "common/bounded_text.h"
#include "common/win32_handle.h"
#include "download/zip_extract.h"
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

// Deletes the partial files a kill or a power cut left in a staging folder. One still open
// (by a launcher that is still ending) refuses, and is passed over by name anyway.
void SweepLeftovers(const char* folder) {
    char pattern[MAX_PATH];
    if (!FormatText(pattern, sizeof pattern, "%s\\*.part", folder)) return;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(pattern, &found));
    if (!search) return;
    do {
        char path[MAX_PATH];
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            FormatText(path, sizeof path, "%s\\%s", folder, found.cFileName))
            DeleteFileA(path);
    } while (FindNextFileA(search.Get(), &found));
}

// Makes the folder, or finds one of ours already there; false when it cannot be used.
bool MakeStage(const char* folder, const char* name) {
    if (CreateDirectoryA(folder, nullptr)) return true;
    DWORD code = GetLastError();
    if (code == ERROR_PATH_NOT_FOUND) {
        MakeParentDirectories(name);
        if (CreateDirectoryA(folder, nullptr)) return true;
        code = GetLastError();
    }
    if (code != ERROR_ALREADY_EXISTS) return false;
    const DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
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
        usable_ = MakeStage(folder_, name);
    }
    return usable_ ? folder_ : nullptr;
}

void UnpackStage::Leave() {
    if (usable_) RemoveDirectoryA(folder_);
    usable_ = false;
    folder_[0] = '\0';
}
