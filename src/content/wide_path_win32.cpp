// Release paths to UTF-16 names, folders made above a file, a file's stamp, the program's name.
#include "content/wide_path_win32.h"

#include <cwchar>

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

int CreateFoldersAbove(const wchar_t* path, unsigned long* error) {
    wchar_t folder[kWidePathSize];
    const std::size_t length = std::wcslen(path);
    if (length >= kWidePathSize) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (path[i] != L'\\') continue;
        std::wmemcpy(folder, path, i);
        folder[i] = L'\0';
        if (!CreateDirectoryW(folder, nullptr)) {
            const DWORD code = GetLastError();
            if (code != ERROR_ALREADY_EXISTS) {
                *error = code;
                return 0;
            }
        }
    }
    return 1;
}

int WideFileStamp(const wchar_t* path, uint64_t* size, uint64_t* lastWrite) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
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
