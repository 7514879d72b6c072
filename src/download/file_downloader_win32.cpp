// DownloadFile over WinInet: the transfer into a local file, its checks and the archive road.
#include "download/file_downloader.h"

#include <windows.h>
#include <wininet.h>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/failure_trace.h"
#include "common/message_box.h"
#include "common/partial_file_win32.h"
#include "common/text_scan.h"
#include "common/win32_handle.h"
#include "download/download_check.h"
#include "download/progress.h"
#include "download/zip_extract.h"
#include "paths/game_folder_hold_win32.h"
#include "paths/game_folder_win32.h"
#include "paths/safe_path.h"
#include "settings/launcher_settings.h"
#include "update/https_answer_win32.h"

unsigned char DownloadBuffer[kDownloadBufferSize];

namespace {

constexpr DWORD kUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE |
                            INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
constexpr DWORD kQuerySize = 256;
constexpr DWORD kGameExecutableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
constexpr const char* kArea = "download";

int Fail(const char* format, const char* name) {
    StatusText.Format(format, name);
    SetStartButtonState(kButtonDisabled);
    return 0;
}

// A failed call of the transfer: its code goes to the debugger output, the player's text to
// the status line.
bool FailedCall(const char* step, const char* text, const char* name) {
    TraceFailure(kArea, step, name, GetLastError());
    StatusText.Format(text, name);
    return false;
}

// The root handle and the request of the URL; the root is tried direct first, then with the
// system's proxy settings without automatic discovery.
bool OpenRequest(const char* url, const char* name, InternetHandle& root, InternetHandle& request) {
    root.Reset(InternetOpenA("MS", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!root) root.Reset(InternetOpenA("MS", INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, nullptr, nullptr, 0));
    if (!root) return FailedCall("open", "Downloading failed - open (%s)", name);
    request.Reset(InternetOpenUrlA(root.Get(), url, nullptr, 0, kUrlFlags, 0));
    // An answer that reached the launcher in the clear is refused like no answer at all.
    if (!request || !AnswerStayedOnHttps(request.Get(), url)) return FailedCall("open", "Downloading failed - open (%s)", name);
    return true;
}

// The status must be 200 or 206 and the length announced; expected receives that length.
bool CheckAnswer(HINTERNET request, const char* name, int64_t* expected) {
    char query[kQuerySize] = {};
    DWORD length = kQuerySize;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, query, &length, nullptr))
        return FailedCall("query_status", "Downloading failed - query_status (%s)", name);
    query[kQuerySize - 1] = '\0';
    const int32_t status = ReadLeadingDecimal(query);
    if (status != 200 && status != 206) {
        StatusText.Format("Downloading failed [%d] (%s)", static_cast<int>(status), name);
        return false;
    }
    length = kQuerySize;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, query, &length, nullptr))
        return FailedCall("query_size", "Downloading failed - query_size (%s)", name);
    query[kQuerySize - 2] = '\0';
    query[kQuerySize - 1] = '\0';
    *expected = ReadLeadingDecimal(query);
    return true;
}

// Every piece of the body into the file and through the check, the upper bar following; then
// the size and, for a launcher with a signing key, the hash.
bool ReceiveBody(HINTERNET request, PartialFile& file, DownloadCheck& check, int64_t expected, const char* name) {
    int64_t received = 0;
    for (;;) {
        DWORD got = 0;
        // A broken transfer delivers 0 bytes and then fails the size check below; its code is
        // kept for the operator only.
        if (!InternetReadFile(request, DownloadBuffer, sizeof DownloadBuffer, &got))
            TraceFailure(kArea, "read", name, GetLastError());
        if (got == 0) break;
        if (!file.Write(DownloadBuffer, got)) {
            StatusText.Format("Downloading failed - write (%s)", name);
            return false;
        }
        // More bytes than the manifest lists: not the published file, no need to read on.
        if (!check.Feed(DownloadBuffer, got)) {
            StatusText.Format("Downloading failed - verify (%s)", name);
            return false;
        }
        received += got;
        ProgressCurrent = TransferPercent(received, expected);
        Sleep(0);
    }
    if (received != expected) {
        StatusText.Format("Downloading failed - read (%s)", name);
        return false;
    }
    if (check.Verified()) return true;
    StatusText.Format("Downloading failed - verify (%s)", name);
    return false;
}

// The body of the URL into file; false with the failure text in the status line.
bool Fetch(const char* url, const char* name, PartialFile& file, DownloadCheck& check) {
    InternetHandle root;
    InternetHandle request;
    int64_t expected = 0;
    return OpenRequest(url, name, root, request) && CheckAnswer(request.Get(), name, &expected) &&
           ReceiveBody(request.Get(), file, check, expected, name);
}

// The unpacked archive goes, through the game folder's door like every deletion.
void DeleteArchive(const char* name) {
    wchar_t wide[MAX_PATH];
    unsigned long error = 0;
    if (GameNameFromAnsi(name, wide, MAX_PATH)) DeleteGameFile(wide, &error);
}

int UnpackArchive(const char* name) {
    for (int attempt = 0; attempt < kMaxExtractAttempts; ++attempt) {
        if (ExtractArchive(name, &StatusText)) {
            Sleep(kSettlePauseMs);
            DeleteArchive(name);
            return 1;
        }
        // A retry then finds no archive: in effect only the first attempt can succeed.
        DeleteArchive(name);
    }
    ShowMessageBox(BoxOwner::MainWindow, LauncherSettings.MsgAbnormalRun, LauncherSettings.ErrorCaption, kBoxOk);
    QuitRequested = 1;
    return 0;
}

}  // namespace

int DownloadFile(const char* name, const char* subPath) {
    // The launcher runs elevated: a name from the server must not reach outside its folder.
    if (!IsSafeRelativePath(name)) return Fail("Downloading failed - unsafe_name (%s)", name);
    char url[kUrlSize];
    if (!FormatText(url, sizeof url, "%s%s%s", LauncherSettings.PatchBaseUrl, subPath, name))
        return Fail("Downloading failed - url_too_long (%s)", name);
    // A launcher with a signing key fetches only what the operator signed.
    DownloadCheck check(subPath, name);
    if (!check.Listed()) return Fail("Downloading failed - verify (%s)", name);

    StatusText.Format("Downloading file (%s)", name);
    // The folders above name stay held, never a link, until the file is in place.
    GameFolderHold hold;
    PartialFile file(kArea);
    if (!CreateBeside(file, name, hold)) return Fail("Creating file failed. (%s)", name);
    if (!Fetch(url, name, file, check)) {
        SetStartButtonState(kButtonDisabled);
        file.Discard();
        return 0;
    }
    const CommitResult committed = file.Commit(name);
    if (committed == kCommitNotOnDisk) return Fail("Downloading failed - write (%s)", name);
    if (committed == kCommitNotMoved) return Fail("Creating file failed. (%s)", name);

    if (IsArchiveName(name) && !UnpackArchive(name)) return 0;

    Sleep(kSettlePauseMs);
    SetFileAttributesA(LauncherSettings.GameExecutable, kGameExecutableAttributes);
    return 1;
}
