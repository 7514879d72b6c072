// The held folders above a name, and the creates, moves, deletes and removals made below them.
#include <cwchar>

#include "paths/game_folder_hold_win32.h"
#include "paths/game_folder_win32.h"

namespace {

constexpr unsigned long kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The longest relative name taken: a release path of 255 bytes with a partial file's suffix.
constexpr std::size_t kRelativeSize = 600;

int Fail(unsigned long code, unsigned long* error) {
    *error = code;
    return 0;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Relative, and no component that is empty, "." or "..", nor a ':' (a drive or a stream): a
// name that can only mean a place below the working directory. One trailing separator names a
// folder.
bool IsRelativeName(const wchar_t* name) {
    if (!name[0] || IsSeparator(name[0])) return false;
    const wchar_t* start = name;
    for (const wchar_t* p = name;; ++p) {
        if (*p == L':') return false;
        if (*p && !IsSeparator(*p)) continue;
        const std::size_t length = static_cast<std::size_t>(p - start);
        if (length == 0 && *p) return false;
        if (start[0] == L'.' && (length == 1 || (length == 2 && start[1] == L'.'))) return false;
        if (!*p) return true;
        start = p + 1;
    }
}

// Opens the folder name without following a link, made first when missing and create is set.
int HoldFolder(const wchar_t* name, bool create, FileHandle* out, unsigned long* error) {
    for (int attempt = 0;; ++attempt) {
        FileHandle folder(CreateFileW(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (folder) {
            BY_HANDLE_FILE_INFORMATION info;
            if (!GetFileInformationByHandle(folder.Get(), &info)) return Fail(GetLastError(), error);
            if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return Fail(kLinkRefused, error);
            // As the system answers a path through a file.
            if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_PATH_NOT_FOUND, error);
            *out = std::move(folder);
            return 1;
        }
        const DWORD code = GetLastError();
        const bool missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        if (!missing) return Fail(code, error);
        if (!create || attempt > 0) return Fail(ERROR_PATH_NOT_FOUND, error);
        // Made by name: the folder above is held and checked, and a link planted under this
        // name since makes the creation fail and the open above refuse it.
        if (!CreateDirectoryW(name, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return Fail(GetLastError(), error);
    }
}

bool Missing(unsigned long code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

}  // namespace

int GameFolderHold::Take(const wchar_t* relative, bool create, unsigned long* error) {
    Release();
    if (!GameFolderReady(error)) return 0;
    if (!IsRelativeName(relative)) return Fail(ERROR_INVALID_NAME, error);
    wchar_t name[kRelativeSize];
    const std::size_t length = std::wcslen(relative);
    if (length >= kRelativeSize) return Fail(ERROR_FILENAME_EXCED_RANGE, error);
    std::wmemcpy(name, relative, length + 1);
    for (std::size_t i = 0; i < length; ++i) {
        if (!IsSeparator(name[i])) continue;
        if (count_ == kMaxHeldFolders) {
            Release();
            return Fail(ERROR_FILENAME_EXCED_RANGE, error);
        }
        name[i] = L'\0';
        int held = HoldFolder(name, create, &held_[count_], error);
        name[i] = L'\\';
        // Where links are followed regardless of the flag, one is only seen in where the
        // folder leads, and nothing may be made below a folder before that is known.
        if (held && create) held = LiesUnderGameFolder(held_[count_].Get(), error);
        if (!held) {
            Release();
            return 0;
        }
        ++count_;
    }
    // The deepest folder's final path tells where every one above it leads.
    if (count_ > 0 && !create && !LiesUnderGameFolder(held_[count_ - 1].Get(), error)) {
        Release();
        return 0;
    }
    taken_ = true;
    return 1;
}

void GameFolderHold::Release() {
    while (count_ > 0) held_[--count_].Reset();
    taken_ = false;
}

int CreateGameFolders(const wchar_t* relative, unsigned long* error) {
    GameFolderHold hold;
    return hold.Take(relative, true, error);
}

int DeleteGameFile(const wchar_t* relative, unsigned long* error) {
    GameFolderHold hold;
    FileHandle file;
    if (!hold.Take(relative, false, error) ||
        !OpenHeldGameFile(relative, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, &file, error))
        return Missing(*error) ? 1 : 0;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.Get(), &info)) return Fail(GetLastError(), error);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED, error);
    return DisposeOpenedFile(file.Get(), error);
}

int RemoveEmptyGameFolder(const wchar_t* relative, unsigned long* error) {
    GameFolderHold hold;
    FileHandle folder;
    if (!hold.Take(relative, false, error) ||
        !OpenHeldGameFile(relative, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, &folder,
                          error))
        return Missing(*error) ? 1 : 0;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder.Get(), &info)) return Fail(GetLastError(), error);
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_DIRECTORY, error);
    folder.Reset();
    // By name, below held folders: a link swapped in since would only lose itself.
    if (RemoveDirectoryW(relative)) return 1;
    *error = GetLastError();
    return Missing(*error) ? 1 : 0;
}

namespace {

// Marks that make a move over a file refuse.
constexpr DWORD kInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The attributes of the plain file to (INVALID_FILE_ATTRIBUTES when there is none), its
// read-only, hidden and system marks lifted so that a move may replace it. 1, or 0 with *error.
int ReadyTarget(const wchar_t* to, DWORD* attributes, unsigned long* error) {
    *attributes = INVALID_FILE_ATTRIBUTES;
    FileHandle target;
    if (!OpenHeldGameFile(to, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, &target, error))
        return *error == ERROR_FILE_NOT_FOUND ? 1 : 0;
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(target.Get(), FileBasicInfo, &basic, sizeof basic)) return Fail(GetLastError(), error);
    if (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED, error);
    *attributes = basic.FileAttributes;
    if (!(basic.FileAttributes & kInTheWay)) return 1;
    FILE_BASIC_INFO lifted = {};
    lifted.FileAttributes = basic.FileAttributes & ~kInTheWay;
    if (lifted.FileAttributes == 0) lifted.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(target.Get(), FileBasicInfo, &lifted, sizeof lifted) ? 1 : Fail(GetLastError(), error);
}

}  // namespace

int MoveGameFile(const wchar_t* from, const wchar_t* to, unsigned long* error) {
    GameFolderHold fromHold, toHold;
    FileHandle source;
    if (!fromHold.Take(from, false, error) || !toHold.Take(to, false, error) ||
        !OpenHeldGameFile(from, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, 0, &source, error))
        return 0;
    source.Reset();
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (!ReadyTarget(to, &attributes, error)) return 0;
    // A rename replaces the name it lands on, never what a link there would lead to; the
    // folders both names pass through stay held until it is done.
    if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 1;
    *error = GetLastError();
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kInTheWay)) SetFileAttributesW(to, attributes);
    return 0;
}

int GameNameFromAnsi(const char* name, wchar_t* out, std::size_t size) {
    if (size == 0 || size > 0x7FFFFFFF) return 0;
    const int written = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, out, static_cast<int>(size));
    return written > 0 ? 1 : 0;
}

int CheckGameName(const char* name, GameFolderHold& hold, bool create, unsigned long* error) {
    wchar_t wide[kRelativeSize];
    if (!GameNameFromAnsi(name, wide, kRelativeSize)) return Fail(ERROR_INVALID_NAME, error);
    if (!hold.Take(wide, create, error)) return 0;
    const std::size_t length = std::wcslen(wide);
    if (IsSeparator(wide[length - 1])) return 1;  // a folder, held itself
    FileHandle file;
    if (OpenHeldGameFile(wide, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, &file, error))
        return 1;
    return *error == ERROR_FILE_NOT_FOUND ? 1 : 0;
}
