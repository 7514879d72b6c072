// The Updater's file work in the launcher's folder.
#include "updater/updater_files_win32.h"

#include <cstdlib>
#include <cstring>

#include "common/bounded_text.h"
#include "common/win32_handle.h"
#include "updater/pe_machine.h"

char UpdaterFolder[kPathSize];

namespace {

constexpr const char* kLauncherProductName = "QOR Launcher";


// Read-only copies are the Updater's to replace and delete: it runs for the folder's owner.
void MakeWritable(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool RemoveFile(const char* path) {
    MakeWritable(path);
    return DeleteFileA(path) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// One rename over the target, so its name never goes without a whole file. A target that
// stays keeps its attributes.
bool MoveOver(const char* from, const char* to) {
    const DWORD attributes = GetFileAttributesA(to);
    MakeWritable(to);
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = GetLastError();
    if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(to, attributes);
    SetLastError(error);
    return false;
}

// A second name for the launcher's file; a copy where the volume has no links.
bool KeepAside(const char* launcher, const char* replaced) {
    RemoveFile(replaced);
    if (CreateHardLinkA(replaced, launcher, nullptr)) return true;
    if (CopyFileA(launcher, replaced, FALSE)) return true;
    const DWORD error = GetLastError();
    RemoveFile(replaced);
    SetLastError(error);
    return false;
}

bool RunStep(SwapStep step, const char* launcher, const char* download, const char* replaced) {
    switch (step) {
    case SwapStep::KeepOldAside: return KeepAside(launcher, replaced);
    case SwapStep::MoveNewInPlace: return MoveOver(download, launcher);
    case SwapStep::PutOldBack: return MoveOver(replaced, launcher);
    case SwapStep::RemoveOld: return RemoveFile(replaced);
    case SwapStep::RemoveDownload: return RemoveFile(download);
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
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) fn(found.cFileName);
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
    return true;
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
