// The Updater's file work in the launcher's folder.
#include "updater/updater_files_win32.h"

#include <cstdlib>
#include <cstring>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "common/win32_handle.h"
#include "paths/game_folder_hold_win32.h"
#include "paths/game_folder_win32.h"
#include "updater/pe_machine.h"

char UpdaterFolder[kPathSize];

namespace {

constexpr const char* kLauncherProductName = "QOR Launcher";


// path (UpdaterFolder\NAME) as the relative wide name the game folder's door takes.
bool FolderName(const char* path, wchar_t* out, std::size_t size) {
    const std::size_t length = std::strlen(UpdaterFolder);
    if (std::strncmp(path, UpdaterFolder, length) != 0 || path[length] != '\\') return false;
    return GameNameFromAnsi(path + length + 1, out, size) != 0;
}

bool Refused(unsigned long code) {
    SetLastError(code);
    return false;
}

// One rename over the target, so its name never goes without a whole file: the door lifts a
// read-only target's mark (the Updater runs for the folder's owner) and gives a target that
// stays its attributes back. A link on either side is refused, never replaced or followed.
bool MoveOver(const char* from, const char* to) {
    wchar_t source[kPathSize], target[kPathSize];
    unsigned long error = 0;
    if (!FolderName(from, source, kPathSize) || !FolderName(to, target, kPathSize)) return Refused(ERROR_INVALID_NAME);
    return MoveGameFile(source, target, &error) ? true : Refused(error);
}

// A second name for the launcher's file; a copy where the volume has no links. The launcher's
// name must be a plain file of the folder, and the copy never lands on a name taken since.
bool KeepAside(const char* launcher, const char* replaced) {
    wchar_t name[kPathSize];
    FileHandle plain;
    unsigned long error = 0;
    if (!RemoveFolderFile(replaced)) return false;
    if (!FolderName(launcher, name, kPathSize)) return Refused(ERROR_INVALID_NAME);
    if (!OpenGameFile(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                      0, &plain, &error))
        return Refused(error);
    plain.Reset();
    if (CreateHardLinkA(replaced, launcher, nullptr)) return true;
    if (CopyFileA(launcher, replaced, TRUE)) return true;
    error = GetLastError();
    RemoveFolderFile(replaced);
    return Refused(error);
}

bool RunStep(SwapStep step, const char* launcher, const char* download, const char* replaced) {
    switch (step) {
    case SwapStep::KeepOldAside: return KeepAside(launcher, replaced);
    case SwapStep::MoveNewInPlace: return MoveOver(download, launcher);
    case SwapStep::PutOldBack: return MoveOver(replaced, launcher);
    case SwapStep::RemoveOld: return RemoveFolderFile(replaced);
    case SwapStep::RemoveDownload: return RemoveFolderFile(download);
    }
    return false;
}

// Runs fn(file name) for every file in the folder matching pattern.
template <typename Function>
void ForEachFile(const char* pattern, Function fn) {
    char search[kPathSize];
    if (!FolderPath(search, sizeof search, pattern)) return;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(search, &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) fn(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

void RepairProgram(const char* program) {
    char launcher[kPathSize], download[kPathSize], replaced[kPathSize];
    if (!FolderPath(launcher, sizeof launcher, program) ||
        !FolderPath(download, sizeof download, program, kDownloadSuffix) ||
        !FolderPath(replaced, sizeof replaced, program, kReplacedSuffix))
        return;
    RunSwapPlan(PlanRepair(FileExists(launcher), FileExists(replaced), FileExists(download)), program);
}

}  // namespace

bool FindUpdaterFolder() {
    const DWORD length = GetModuleFileNameA(nullptr, UpdaterFolder, sizeof UpdaterFolder);
    if (length == 0 || length >= sizeof UpdaterFolder) return false;
    char* slash = std::strrchr(UpdaterFolder, '\\');
    if (!slash) return false;
    *slash = '\0';
    // Every file the Updater replaces or deletes is checked below this folder.
    unsigned long error = 0;
    if (!SetCurrentDirectoryA(UpdaterFolder)) {
        TraceFailure("updater", "working directory", UpdaterFolder, GetLastError());
        return false;
    }
    return TakeGameFolder(&error) != 0;
}

bool RemoveFolderFile(const char* path) {
    wchar_t name[kPathSize];
    unsigned long error = 0;
    if (!FolderName(path, name, kPathSize)) return Refused(ERROR_INVALID_NAME);
    return DeleteGameFile(name, &error) ? true : Refused(error);
}

bool OpenFolderFile(const char* path, unsigned long access, unsigned long share, unsigned long disposition,
                    unsigned long flags, FileHandle* out) {
    wchar_t name[kPathSize];
    unsigned long error = 0;
    if (!FolderName(path, name, kPathSize)) return Refused(ERROR_INVALID_NAME);
    return OpenGameFile(name, access, share, disposition, flags, out, &error) ? true : Refused(error);
}

bool FolderPath(char* out, std::size_t size, const char* name, const char* suffix) {
    return FormatText(out, size, "%s\\%s%s", UpdaterFolder, name, suffix);
}

void RepairLeftovers() {
    char program[kPathSize];
    ForEachFile("*.exe.replaced", [&](const char* name) {
        if (SplitTemporaryName(name, kReplacedSuffix, program, sizeof program)) RepairProgram(program);
    });
    ForEachFile("*.exe.updating", [&](const char* name) {
        if (SplitTemporaryName(name, kDownloadSuffix, program, sizeof program)) RepairProgram(program);
    });
}

DWORD RunSwapPlan(const SwapPlan& plan, const char* launcherName) {
    char launcher[kPathSize], download[kPathSize], replaced[kPathSize];
    if (!FolderPath(launcher, sizeof launcher, launcherName) ||
        !FolderPath(download, sizeof download, launcherName, kDownloadSuffix) ||
        !FolderPath(replaced, sizeof replaced, launcherName, kReplacedSuffix))
        return ERROR_FILENAME_EXCED_RANGE;
    for (int i = 0; i < plan.count; ++i) {
        if (!RunStep(plan.steps[i], launcher, download, replaced)) {
            const DWORD error = GetLastError();
            return error ? error : ERROR_GEN_FAILURE;
        }
    }
    return 0;
}

namespace {

// The version resource of the file at path, allocated with std::malloc; null when none.
void* LoadVersionInfo(const char* path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return nullptr;
    void* info = std::malloc(size);
    if (info && !GetFileVersionInfoA(path, 0, size, info)) {
        std::free(info);
        return nullptr;
    }
    return info;
}

bool IsLauncherProgram(const char* path) {
    void* info = LoadVersionInfo(path);
    if (!info) return false;
    bool launcher = false;
    WORD* translation = nullptr;
    UINT length = 0;
    if (VerQueryValueA(info, "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
        translation && length >= 2 * sizeof(WORD)) {
        char query[64];
        char* product = nullptr;
        UINT productLength = 0;
        FormatText(query, sizeof query, "\\StringFileInfo\\%04x%04x\\ProductName", translation[0], translation[1]);
        launcher = VerQueryValueA(info, query, reinterpret_cast<void**>(&product), &productLength) && product &&
                   productLength > 0 && std::strcmp(product, kLauncherProductName) == 0;
    }
    std::free(info);
    return launcher;
}

}  // namespace

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool ImageInFolder(HANDLE process, char* name, std::size_t size) {
    char image[kPathSize];
    DWORD length = sizeof image;
    if (!process || !QueryFullProcessImageNameA(process, 0, image, &length)) return false;
    char* slash = std::strrchr(image, '\\');
    if (!slash) return false;
    *slash = '\0';
    // Both through the long form: one may have been started by a short (8.3) path.
    char imageFolder[kPathSize], ownFolder[kPathSize];
    const DWORD a = GetLongPathNameA(image, imageFolder, sizeof imageFolder);
    const DWORD b = GetLongPathNameA(UpdaterFolder, ownFolder, sizeof ownFolder);
    if (a == 0 || a >= sizeof imageFolder || b == 0 || b >= sizeof ownFolder) return false;
    if (!EqualsIgnoreCase(imageFolder, ownFolder) || !IsProgramFileName(slash + 1)) return false;
    return CopyText(name, size, slash + 1);
}

void FindLauncherInFolder(char* name, std::size_t size) {
    char found[kPathSize] = "";
    int count = 0;
    ForEachFile("*.exe", [&](const char* file) {
        char path[kPathSize];
        if (IsProgramFileName(file) && FolderPath(path, sizeof path, file) && IsLauncherProgram(path)) {
            if (count++ == 0) CopyText(found, sizeof found, file);
        }
    });
    if (count != 1 || !CopyText(name, size, found)) CopyText(name, size, kDefaultLauncherName);
}

bool ReadFixedFileVersion(const char* path, FileVersion* version) {
    void* info = LoadVersionInfo(path);
    if (!info) return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    const bool found = VerQueryValueA(info, "\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
                       length >= sizeof(VS_FIXEDFILEINFO) && fixed->dwSignature == 0xFEEF04BD;
    if (found) {
        version->field[0] = HIWORD(fixed->dwFileVersionMS);
        version->field[1] = LOWORD(fixed->dwFileVersionMS);
        version->field[2] = HIWORD(fixed->dwFileVersionLS);
        version->field[3] = LOWORD(fixed->dwFileVersionLS);
    }
    std::free(info);
    return found;
}

bool ReadFileMachine(const char* path, uint16_t* machine) {
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    unsigned char header[kPeHeaderProbeSize];
    DWORD got = 0;
    if (!ReadFile(file.Get(), header, sizeof header, &got, nullptr)) return false;
    return ReadPeMachine(header, got, machine);
}
