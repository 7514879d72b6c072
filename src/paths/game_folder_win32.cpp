// The game folder taken once from the working directory, the final-path check every handle
// passes, and the opens, disposals and identities built on the held folders above a name.
#include "paths/game_folder_win32.h"

#include <cwchar>

#include "common/failure_trace.h"
#include "paths/game_folder_hold_win32.h"

namespace {

// Long enough for any folder a game is installed in and a release path below it.
constexpr std::size_t kFinalSize = 1024;

// Written under the exclusive lock only; every check reads it under the shared lock, so the
// survey's cutting threads check at once.
struct TakenFolder {
    SRWLOCK Lock = SRWLOCK_INIT;
    bool Taken = false;
    wchar_t WorkingDirectory[kFinalSize] = {};
    wchar_t Final[kFinalSize] = {};
    std::size_t FinalLength = 0;  // without a trailing "\", so a drive root is "\\?\C:"
};
TakenFolder Game;

int Fail(unsigned long code, unsigned long* error) {
    *error = code;
    return 0;
}

// The final path of handle into path (kFinalSize characters). 1, or 0 with *error.
int FinalPathOf(HANDLE handle, wchar_t* path, unsigned long* error) {
    const DWORD length = GetFinalPathNameByHandleW(handle, path, kFinalSize, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return Fail(GetLastError(), error);
    return length < kFinalSize ? 1 : Fail(ERROR_FILENAME_EXCED_RANGE, error);
}

// Takes the working directory under the exclusive lock. 1, or 0 with *error.
int TakeWorkingDirectory(const wchar_t* directory, unsigned long* error) {
    FileHandle folder(CreateFileW(L".", FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) return Fail(GetLastError(), error);
    wchar_t final[kFinalSize];
    if (!FinalPathOf(folder.Get(), final, error)) return 0;
    std::size_t length = std::wcslen(final);
    if (length > 0 && final[length - 1] == L'\\') --length;
    AcquireSRWLockExclusive(&Game.Lock);
    std::wmemcpy(Game.Final, final, length);
    Game.Final[length] = L'\0';
    Game.FinalLength = length;
    const std::size_t directoryLength = std::wcslen(directory);  // under kFinalSize: checked by the callers
    std::wmemcpy(Game.WorkingDirectory, directory, directoryLength + 1);
    Game.Taken = true;
    ReleaseSRWLockExclusive(&Game.Lock);
    return 1;
}

// Whether the game folder was taken, taking it again should the working directory have moved
// since (start-up sets it once; only a test moves it between cases). 1, or 0 with *error.
int FolderCurrent(unsigned long* error) {
    wchar_t directory[kFinalSize];
    const DWORD length = GetCurrentDirectoryW(kFinalSize, directory);
    if (length == 0) return Fail(GetLastError(), error);
    if (length >= kFinalSize) return Fail(ERROR_FILENAME_EXCED_RANGE, error);
    AcquireSRWLockShared(&Game.Lock);
    const bool taken = Game.Taken;
    const bool same = taken && std::wcscmp(directory, Game.WorkingDirectory) == 0;
    ReleaseSRWLockShared(&Game.Lock);
    if (!taken) return Fail(ERROR_INVALID_FUNCTION, error);
    return same ? 1 : TakeWorkingDirectory(directory, error);
}

}  // namespace

int TakeGameFolder(unsigned long* error) {
    wchar_t directory[kFinalSize];
    const DWORD length = GetCurrentDirectoryW(kFinalSize, directory);
    if (length == 0 || length >= kFinalSize) {
        *error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        TraceFailure("game folder", "take", nullptr, *error);
        return 0;
    }
    if (TakeWorkingDirectory(directory, error)) return 1;
    TraceFailure("game folder", "take", nullptr, *error);
    return 0;
}

const wchar_t* GameFolderFinalPath() { return Game.Final; }

int GameFolderReady(unsigned long* error) { return FolderCurrent(error); }

int LiesUnderGameFolder(HANDLE handle, unsigned long* error) {
    wchar_t path[kFinalSize];
    if (!FinalPathOf(handle, path, error)) return 0;
    const std::size_t length = std::wcslen(path);
    AcquireSRWLockShared(&Game.Lock);
    const std::size_t root = Game.FinalLength;
    const bool under = Game.Taken && length > root && path[root] == L'\\' &&
                       CompareStringOrdinal(path, static_cast<int>(root), Game.Final, static_cast<int>(root), TRUE) ==
                           CSTR_EQUAL;
    ReleaseSRWLockShared(&Game.Lock);
    return under ? 1 : Fail(kLinkRefused, error);
}

int OpenHeldGameFile(const wchar_t* relative, unsigned long access, unsigned long share, unsigned long disposition,
                     unsigned long flags, FileHandle* out, unsigned long* error) {
    FileHandle file(CreateFileW(relative, access, share, nullptr, disposition, flags | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
    if (!file) return Fail(GetLastError(), error);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.Get(), &info)) return Fail(GetLastError(), error);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return Fail(kLinkRefused, error);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(flags & FILE_FLAG_BACKUP_SEMANTICS))
        return Fail(ERROR_ACCESS_DENIED, error);
    if (!LiesUnderGameFolder(file.Get(), error)) return 0;
    *out = std::move(file);
    return 1;
}

int OpenGameFile(const wchar_t* relative, unsigned long access, unsigned long share, unsigned long disposition,
                 unsigned long flags, FileHandle* out, unsigned long* error) {
    GameFolderHold hold;
    if (!hold.Take(relative, false, error)) return 0;
    // A disposition that may truncate or write opens a name already there only once it is
    // known to be no link: where links are followed regardless, the write would come first.
    if (disposition != OPEN_EXISTING && disposition != CREATE_NEW) {
        FileHandle probe;
        const int found = OpenHeldGameFile(relative, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                           FILE_SHARE_DELETE, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, &probe, error);
        if (!found && *error != ERROR_FILE_NOT_FOUND) return 0;
    }
    return OpenHeldGameFile(relative, access, share, disposition, flags, out, error);
}

int DisposeOpenedFile(HANDLE handle, unsigned long* error) {
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return Fail(GetLastError(), error);
    if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO lifted = {};  // times of 0 stay as they are
        lifted.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
        if (lifted.FileAttributes == 0) lifted.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (!SetFileInformationByHandle(handle, FileBasicInfo, &lifted, sizeof lifted))
            return Fail(GetLastError(), error);
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
        return Fail(GetLastError(), error);
    return 1;
}

int FileIdentityOf(HANDLE handle, FileIdentity* out, unsigned long* error) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return Fail(GetLastError(), error);
    out->Volume = info.dwVolumeSerialNumber;
    out->Index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return 1;
}
