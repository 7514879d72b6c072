// Release paths to UTF-16 names, folders made above a file, a file's stamp, the program's name;
// the folders and stamps through the game folder's checks.
#include "content/wide_path_win32.h"

#include <cwchar>

#include "common/win32_handle.h"
#include "paths/game_folder_win32.h"

int WidePathOf(const char* path, std::size_t length, wchar_t* out, std::size_t size) {
    if (length == 0 || length >= size || size > 0x7FFFFFFF) return 0;
    const int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, static_cast<int>(length), out,
                                            static_cast<int>(size - 1));
    if (written <= 0) return 0;
    out[written] = L'\0';
    for (int i = 0; i < written; ++i)
        if (out[i] == L'/') out[i] = L'\\';
    return 1;
}

int CreateFoldersAbove(const wchar_t* path, unsigned long* error) { return CreateGameFolders(path, error); }

int WideFileStamp(const wchar_t* path, uint64_t* size, uint64_t* lastWrite) {
    bool linked = false;
    return WideFileStampChecked(path, size, lastWrite, &linked);
}

// Through the game folder's door: a link, or a name leading out of the folder, is no file.
int WideFileStampChecked(const wchar_t* path, uint64_t* size, uint64_t* lastWrite, bool* linked) {
    FileHandle file;
    unsigned long error = 0;
    *linked = false;
    if (!OpenGameFile(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                      0, &file, &error)) {
        *linked = error == kLinkRefused;
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(file.Get(), &data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    *lastWrite = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                 data.ftLastWriteTime.dwLowDateTime;
    return 1;
}

bool IsOwnProgramName(const wchar_t* path) {
    wchar_t own[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    own[length] = L'\0';
    const wchar_t* name = std::wcsrchr(own, L'\\');
    name = name ? name + 1 : own;
    return CompareStringOrdinal(path, -1, name, -1, TRUE) == CSTR_EQUAL;
}
