// The launcher and installer roads: wait, download, check, swap, start.
#include "updater/updater_roads_win32.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstring>

#include "common/bounded_text.h"
#include "common/message_box.h"
#include "common/win32_handle.h"
#include "updater/authenticode_win32.h"
#include "updater/pe_machine.h"
#include "updater/update_files.h"
#include "updater/updater_download_win32.h"
#include "updater/updater_files_win32.h"
#include "updater/updater_signed_win32.h"
#include "updater/updater_text.h"
#include "updater/updater_window_win32.h"

namespace {

constexpr unsigned kBoxIconError = 0x10;  // MB_ICONERROR
constexpr const char* kCaption = "Updater";
constexpr std::size_t kMessageSize = 1024;

#if defined(_WIN64)
constexpr LauncherArchitecture kArchitecture = LauncherArchitecture::X86_64;
constexpr uint16_t kMachine = kMachineAmd64;
#else
constexpr LauncherArchitecture kArchitecture = LauncherArchitecture::I686;
constexpr uint16_t kMachine = kMachineI386;
#endif

int Fail(int exitCode, const char* format, ...) __attribute__((format(printf, 2, 3)));

int Fail(int exitCode, const char* format, ...) {
    char text[kMessageSize];
    va_list args;
    va_start(args, format);
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    HideUpdaterWindow();
    ShowMessageBox(BoxOwner::None, text, kCaption, kBoxOk | kBoxIconError);
    return exitCode;
}

void ShowStep(const char* format, const char* name) {
    char status[256];
    FormatText(status, sizeof status, format, name);
    SetUpdaterStatus(status);
}

int FailDownload(const DownloadOutcome& outcome, const char* name, const char* url, const char* download) {
    char reason[256];
    DescribeDownloadFailure(outcome, reason, sizeof reason);
    if (outcome.result == DownloadResult::WriteFailed)
        return Fail(kExitCannotWrite, "%s could not be written:\n%s.\n\nNothing was changed.", download, reason);
    return Fail(kExitDownloadFailed, "The new %s could not be downloaded from\n%s\n\nReason: %s.\n\nNothing was changed.",
                name, url, reason);
}

int FailSigned(SignedCheck check, const char* name, const char* listed, const char* detail) {
    char reason[512];
    DescribeSignedCheck(check, listed, detail, reason, sizeof reason);
    return Fail(kExitNotVerified, "The new %s was refused, because %s.\n\nNothing was changed.", name, reason);
}

// With a signing key, nothing is downloaded before the verified manifest lists it.
int CheckSignedListing(const char* base, const char* listed, const char* name) {
    if (!UpdaterHasSigningKey()) return kExitDone;
    SetUpdaterStatus("Checking the signed list of published files...");
    char detail[256] = "";
    SignedCheck check = FetchSignedManifest(base, detail, sizeof detail);
    if (check == SignedCheck::Passed) check = CheckListed(listed);
    return check == SignedCheck::Passed ? kExitDone : FailSigned(check, name, listed, detail);
}

// With a signing key, the downloaded installer must be the one the manifest lists, byte for byte.
int CheckSignedDownload(const char* listed, const char* name, const char* download) {
    if (!UpdaterHasSigningKey()) return kExitDone;
    const SignedCheck check = CheckDownloaded(listed, download);
    return check == SignedCheck::Passed ? kExitDone : FailSigned(check, name, listed, "");
}

// With a publisher, after the manifest: the file's Authenticode signature, read through handle,
// and its signer's key.
int CheckPublisher(const char* name, const char* listed, const char* file, HANDLE handle) {
    if (!UpdaterHasPublisher()) return kExitDone;
    char detail[256] = "";
    const SignedCheck check = CheckAuthenticode(handle, file, detail, sizeof detail);
    return check == SignedCheck::Passed ? kExitDone : FailSigned(check, name, listed, detail);
}

// The installer is not held like the launcher (the swap renames it by name): checked while open.
int CheckInstallerPublisher(const char* listed, const char* download) {
    if (!UpdaterHasPublisher()) return kExitDone;
    FileHandle file;
    if (!OpenFolderFile(download, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, &file))
        return Fail(kExitCannotWrite, "%s could not be opened to be checked (error %lu).\n\nNothing was changed.",
                    download, GetLastError());
    return CheckPublisher(kInstallerName, listed, download, file.Get());
}

// The launcher's process when it lies in this folder, and its file name; otherwise the name
// of the launcher found in the folder and no process to wait for.
KernelHandle OpenLauncher(uint32_t processId, char* name, std::size_t size) {
    KernelHandle process;
    if (processId != 0) process.Reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    // A process that is gone has ended; one elsewhere is not our launcher but a reused id.
    if (process && ImageInFolder(process.Get(), name, size)) return process;
    FindLauncherInFolder(name, size);
    return KernelHandle();
}

// The downloaded launcher opened for reading with nobody else allowed to write, rename or
// delete it: held from before its check until the new process has started, so the program
// started is the one checked. DELETE access lets it be moved into place through this handle.
DWORD HoldDownload(const char* download, FileHandle* held) {
    if (!OpenFolderFile(download, GENERIC_READ | DELETE, FILE_SHARE_READ, OPEN_EXISTING, 0, held))
        return GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(held->Get(), &info)) return GetLastError();
    // Only the file this run wrote is started, never what a link planted in its place names.
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_CANT_ACCESS_FILE;
    return 0;
}

bool ReadHeldMachine(HANDLE held, uint16_t* machine) {
    unsigned char header[kPeHeaderProbeSize];
    LARGE_INTEGER start = {};
    DWORD got = 0;
    return SetFilePointerEx(held, start, nullptr, FILE_BEGIN) && ReadFile(held, header, sizeof header, &got, nullptr) &&
           ReadPeMachine(header, got, machine);
}

int CheckNewLauncher(const UpdaterRequest& request, const char* name, const char* listed, const char* download,
                     HANDLE held) {
    if (UpdaterHasSigningKey()) {
        const SignedCheck check = CheckHeldDownload(listed, held);
        if (check != SignedCheck::Passed) return FailSigned(check, name, listed, "");
    }
    if (int refused = CheckPublisher(name, listed, download, held)) return refused;
    uint16_t machine = 0;
    if (!ReadHeldMachine(held, &machine) || machine != kMachine)
        return Fail(kExitWrongProcessor,
                    "The downloaded %s is not a program for this processor, so it was not installed.\n\n"
                    "Nothing was changed.", name);
    FileVersion found = {};
    char foundText[kVersionTextSize] = "none";
    // Read by name, which reaches the held file: nobody can write or rename it meanwhile.
    const bool hasVersion = ReadFixedFileVersion(download, &found);
    if (hasVersion) FormatFileVersion(found, foundText, sizeof foundText);
    // Another version would hand over again at every start, for ever.
    if (!hasVersion || !SameFileVersion(found, request.version))
        return Fail(kExitWrongVersion,
                    "The downloaded %s has version %s, not the required %s, so it was not installed.\n\n"
                    "Nothing was changed.", name, foundText, request.versionText);
    return kExitDone;
}

DWORD StartLauncher(const char* path) {
    char commandLine[kPathSize + 2];
    if (!FormatText(commandLine, sizeof commandLine, "\"%s\"", path)) return ERROR_FILENAME_EXCED_RANGE;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, UpdaterFolder, &startup, &process))
        return GetLastError();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

// The held download renamed over path through its own handle: a rename by name would need the
// delete sharing the hold denies. A read-only launcher refuses the rename until its mark is
// lifted; it gets its attributes back when the rename fails.
DWORD MoveHeldInPlace(HANDLE held, const char* path) {
    constexpr DWORD kPathChars = kPathSize;
    alignas(FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) + kPathChars * sizeof(WCHAR)] = {};
    FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, info->FileName, kPathChars);
    if (length <= 1) return GetLastError() ? GetLastError() : ERROR_INVALID_NAME;
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(length - 1) * sizeof(WCHAR);
    const DWORD attributes = GetFileAttributesA(path);
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (SetFileInformationByHandle(held, FileRenameInfo, info, static_cast<DWORD>(sizeof buffer))) return 0;
    const DWORD error = GetLastError();
    if (readOnly) SetFileAttributesA(path, attributes);
    return error ? error : ERROR_GEN_FAILURE;
}

// PlanSwap's steps, its move through the held download's own handle.
DWORD SwapHeldInPlace(const char* name, const char* path, HANDLE held) {
    const SwapPlan plan = PlanSwap(FileExists(path));
    for (int i = 0; i < plan.count; ++i) {
        SwapPlan step = {};
        step.steps[step.count++] = plan.steps[i];
        const DWORD error =
            plan.steps[i] == SwapStep::MoveNewInPlace ? MoveHeldInPlace(held, path) : RunSwapPlan(step, name);
        if (error) return error;
    }
    return 0;
}

int SwapAndStart(const char* name, const char* path, FileHandle& held) {
    ShowStep("Installing %s...", name);
    if (DWORD error = SwapHeldInPlace(name, path, held.Get())) {
        held.Reset();
        RepairLeftovers();
        return Fail(kExitCannotReplace, "%s could not be replaced (error %lu); it was left as it was.\n\n"
                    "Close every program that uses it and start the launcher again.", path, error);
    }
    ShowStep("Starting %s...", name);
    const DWORD error = StartLauncher(path);
    // Held until here: the new process has its image mapped, or never will.
    held.Reset();
    if (error) {
        RunSwapPlan(PlanUndo(), name);
        return Fail(kExitNewLauncherDidNotStart,
                    "The new %s could not be started (error %lu).\n\nThe previous launcher was put back.", path,
                    error);
    }
    // A copy that is still locked stays until the next run clears it.
    RunSwapPlan(PlanFinish(), name);
    return kExitDone;
}

int OsMajorVersion() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) ? static_cast<int>(info.dwMajorVersion) : 0;
}

// Started the way the launcher starts the game.
int StartInstaller(const char* path) {
    ShowStep("Starting %s...", kInstallerName);
    SHELLEXECUTEINFOA execute = {};
    execute.cbSize = sizeof execute;
    execute.lpVerb = OsMajorVersion() == 6 ? "runas" : nullptr;
    execute.lpFile = path;
    execute.lpDirectory = UpdaterFolder;
    execute.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&execute))
        return Fail(kExitInstallerDidNotStart, "%s could not be started (error %lu).", path, GetLastError());
    return kExitDone;
}

}  // namespace

int RunLauncherRoad(const UpdaterRequest& request) {
    char name[kPathSize];
    KernelHandle process = OpenLauncher(request.processId, name, sizeof name);
    if (process) {
        ShowStep("Waiting for %s to close...", name);
        // Never ended by force: it may be in the middle of writing the game's files.
        if (WaitForSingleObject(process.Get(), kLauncherWaitMs) == WAIT_TIMEOUT)
            return Fail(kExitLauncherStillRunning,
                        "%s is still running after %lu seconds, so it was not updated.\n\n"
                        "Close it and start it again. Nothing was changed.", name, kLauncherWaitMs / 1000);
        process.Reset();
    }
    RepairLeftovers();
    char listed[kManifestPathSize], url[kBaseUrlSize + 64], path[kPathSize], download[kPathSize];
    if (!BuildLauncherPath(listed, sizeof listed, request.versionText, kArchitecture) ||
        !BuildServerUrl(url, sizeof url, request.base, listed) || !FolderPath(path, sizeof path, name) ||
        !FolderPath(download, sizeof download, name, kDownloadSuffix))
        return Fail(kExitCannotWrite, "The path of %s in\n%s\nis too long.\n\nNothing was changed.", name, UpdaterFolder);
    if (int refused = CheckSignedListing(request.base, listed, name)) return refused;
    const DownloadOutcome outcome = DownloadToFile(url, download, name, SignedSizeOf(listed));
    if (outcome.result != DownloadResult::Done) return FailDownload(outcome, name, url, download);
    FileHandle held;
    if (DWORD error = HoldDownload(download, &held)) {
        held.Reset();
        RemoveFolderFile(download);
        return Fail(kExitCannotWrite, "%s could not be opened to be checked (error %lu).\n\nNothing was changed.",
                    download, error);
    }
    if (int refused = CheckNewLauncher(request, name, listed, download, held.Get())) {
        held.Reset();
        RemoveFolderFile(download);
        return refused;
    }
    return SwapAndStart(name, path, held);
}

int RunInstallerRoad(const UpdaterRequest& request) {
    RepairLeftovers();
    char listed[kManifestPathSize], url[kBaseUrlSize + 64], path[kPathSize], download[kPathSize];
    if (!BuildInstallerPath(listed, sizeof listed, request.versionText) ||
        !BuildServerUrl(url, sizeof url, request.base, listed) || !FolderPath(path, sizeof path, kInstallerName) ||
        !FolderPath(download, sizeof download, kInstallerName, kDownloadSuffix))
        return Fail(kExitCannotWrite, "The path of %s in\n%s\nis too long.", kInstallerName, UpdaterFolder);
    if (int refused = CheckSignedListing(request.base, listed, kInstallerName)) return refused;
    const DownloadOutcome outcome = DownloadToFile(url, download, kInstallerName, SignedSizeOf(listed));
    if (outcome.result != DownloadResult::Done) return FailDownload(outcome, kInstallerName, url, download);
    if (int refused = CheckSignedDownload(listed, kInstallerName, download)) {
        RemoveFolderFile(download);
        return refused;
    }
    if (int refused = CheckInstallerPublisher(listed, download)) {
        RemoveFolderFile(download);
        return refused;
    }
    if (DWORD error = RunSwapPlan(PlanSwap(false), kInstallerName)) {
        RemoveFolderFile(download);
        return Fail(kExitCannotWrite, "%s could not be written (error %lu).", path, error);
    }
    return StartInstaller(path);
}
