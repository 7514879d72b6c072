// DownloadFile over WinInet: the transfer into a local file, its checks and the archive road.
#include "download/file_downloader.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/file_replace.h"
#include "common/message_box.h"
#include "common/text_scan.h"
#include "common/win32_handle.h"
#include "download/download_check.h"
#include "download/progress.h"
#include "download/safe_path.h"
#include "download/zip_extract.h"
#include "settings/launcher_settings.h"

unsigned char DownloadBuffer[kDownloadBufferSize];

namespace {

constexpr DWORD kUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE |
                            INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
constexpr DWORD kQuerySize = 256;
constexpr DWORD kGameExecutableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

int Fail(const char* format, const char* name) {
    StatusText.Format(format, name);
    SetStartButtonState(kButtonDisabled);
    return 0;
}

// The failure clean-up once the local file exists: it must be closed before it can be deleted.
int FailAndDelete(const char* partial, StdioFile& file, InternetHandle& request, InternetHandle& root) {
    SetStartButtonState(kButtonDisabled);
    file.Reset();
    request.Reset();
    root.Reset();
    DeleteFileA(partial);
    return 0;
}

int UnpackArchive(const char* name) {
    for (int attempt = 0; attempt < kMaxExtractAttempts; ++attempt) {
        if (ExtractArchive(name, &StatusText)) {
            Sleep(kSettlePauseMs);
            DeleteFileA(name);
            return 1;
        }
        // A retry then finds no archive: in effect only the first attempt can succeed.
        DeleteFileA(name);
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

    // The body goes to a file of its own and replaces the game's file only once it arrived
    // whole, so a failed download never destroys the file it was to replace.
    char partial[kPartialNameSize];
    if (!FormatText(partial, sizeof partial, "%s%s", name, kPartialSuffix))
        return Fail("Creating file failed. (%s)", name);

    StatusText.Format("Downloading file (%s)", name);
    StdioFile file(std::fopen(partial, "wb"));
    if (!file) {
        MakeParentDirectories(name);
        file.Reset(std::fopen(partial, "wb"));
    }
    if (!file) return Fail("Creating file failed. (%s)", name);

    InternetHandle root(InternetOpenA("MS", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!root) root.Reset(InternetOpenA("MS", INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, nullptr, nullptr, 0));
    InternetHandle request;
    if (root) request.Reset(InternetOpenUrlA(root.Get(), url, nullptr, 0, kUrlFlags, 0));
    if (!request) {
        StatusText.Format("Downloading failed - open (%s)", name);
        return FailAndDelete(partial, file, request, root);
    }

    char query[kQuerySize] = {};
    DWORD length = kQuerySize;
    if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE, query, &length, nullptr)) {
        StatusText.Format("Downloading failed - query_status (%s)", name);
        return FailAndDelete(partial, file, request, root);
    }
    query[kQuerySize - 1] = '\0';
    int32_t status = ReadLeadingDecimal(query);
    if (status != 200 && status != 206) {
        StatusText.Format("Downloading failed [%d] (%s)", static_cast<int>(status), name);
        return FailAndDelete(partial, file, request, root);
    }

    length = kQuerySize;
    if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_CONTENT_LENGTH, query, &length, nullptr)) {
        StatusText.Format("Downloading failed - query_size (%s)", name);
        return FailAndDelete(partial, file, request, root);
    }
    query[kQuerySize - 2] = '\0';
    query[kQuerySize - 1] = '\0';
    int64_t expected = ReadLeadingDecimal(query);

    int64_t received = 0;
    bool writeFailed = false;
    bool unverified = false;
    for (;;) {
        DWORD got = 0;
        // Its own result is not looked at: a broken transfer delivers 0 bytes and then fails
        // the size check below.
        InternetReadFile(request.Get(), DownloadBuffer, sizeof DownloadBuffer, &got);
        if (got == 0) break;
        if (std::fwrite(DownloadBuffer, 1, got, file.Get()) != got) {
            writeFailed = true;
            break;
        }
        if (!check.Feed(DownloadBuffer, got)) {
            unverified = true;
            break;
        }
        received += got;
        ProgressCurrent = TransferPercent(received, expected);
        Sleep(0);
    }
    request.Reset();
    root.Reset();
    // Buffered bytes reach the disk only at the close: a full disk may show up only there.
    if (std::fclose(file.Release()) != 0) writeFailed = true;

    if (writeFailed) {
        StatusText.Format("Downloading failed - write (%s)", name);
        return FailAndDelete(partial, file, request, root);
    }
    if (unverified) {
        StatusText.Format("Downloading failed - verify (%s)", name);
        return FailAndDelete(partial, file, request, root);
    }
    if (received != expected) {
        StatusText.Format("Downloading failed - read (%s)", name);
        return FailAndDelete(partial, file, request, root);
    }
    if (!check.Verified()) {
        StatusText.Format("Downloading failed - verify (%s)", name);
        return FailAndDelete(partial, file, request, root);
    }

    SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
    if (!ReplaceFileWith(partial, name)) {
        DeleteFileA(partial);
        return Fail("Creating file failed. (%s)", name);
    }

    if (IsArchiveName(name) && !UnpackArchive(name)) return 0;

    Sleep(kSettlePauseMs);
    SetFileAttributesA(LauncherSettings.GameExecutable, kGameExecutableAttributes);
    return 1;
}
