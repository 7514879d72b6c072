// The Updater's transfer: WinInet without any of the launcher's certificate leniency.
#include "updater/updater_download_win32.h"

#include <windows.h>
#include <wininet.h>

#include "common/bounded_text.h"
#include "common/win32_handle.h"
#include "updater/updater_window_win32.h"

namespace {

// The launcher's patch-file flags without its two IGNORE_CERT ones: this program starts
// what it fetches with administrator rights.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE;
constexpr DWORD kTimeoutMs = 15000;
constexpr DWORD kPieceSize = 32768;
constexpr const char* kUserAgent = "Updater";

unsigned char Piece[kPieceSize];  // the update thread is the only one that downloads

DownloadOutcome Outcome(DownloadResult result, uint32_t code = 0, uint64_t received = 0, uint64_t expected = 0) {
    return DownloadOutcome{result, code, received, expected};
}

void SetTimeouts(HINTERNET session) {
    DWORD timeout = kTimeoutMs;
    InternetSetOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(session, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

// The Content-Length as a whole decimal number; false when absent or anything else.
bool QueryLength(HINTERNET request, uint64_t* length) {
    char text[32] = {};
    DWORD size = sizeof text - 1;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
    uint64_t value = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        // Eighteen digits stay far below the 64-bit limit.
        if (*p < '0' || *p > '9' || ++digits > 18) return false;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
    }
    if (digits == 0) return false;
    *length = value;
    return true;
}

void ShowProgress(const char* shownName, uint64_t received, uint64_t expected) {
    const int percent = DownloadPercent(received, expected);
    char status[256];
    FormatText(status, sizeof status, "Downloading %s... %d%%", shownName, percent);
    SetUpdaterStatus(status);
    SetUpdaterProgress(percent);
}

DownloadOutcome ReadBody(HINTERNET request, HANDLE file, uint64_t expected, const char* shownName) {
    uint64_t received = 0;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, Piece, kPieceSize, &got))
            return Outcome(DownloadResult::TooShort, GetLastError(), received, expected);
        if (got == 0) break;
        if (got > expected - received) return Outcome(DownloadResult::TooLong, 0, received + got, expected);
        DWORD written = 0;
        if (!WriteFile(file, Piece, got, &written, nullptr) || written != got)
            return Outcome(DownloadResult::WriteFailed, GetLastError(), received, expected);
        received += got;
        ShowProgress(shownName, received, expected);
    }
    if (received != expected) return Outcome(DownloadResult::TooShort, 0, received, expected);
    if (!FlushFileBuffers(file)) return Outcome(DownloadResult::WriteFailed, GetLastError(), received, expected);
    return Outcome(DownloadResult::Done, 0, received, expected);
}

DownloadOutcome Fetch(const char* url, const char* path, const char* shownName) {
    InternetHandle session(InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return Outcome(DownloadResult::ConnectFailed, GetLastError());
    SetTimeouts(session.Get());
    InternetHandle request(InternetOpenUrlA(session.Get(), url, nullptr, 0, kRequestFlags, 0));
    if (!request) return Outcome(DownloadResult::ConnectFailed, GetLastError());

    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return Outcome(DownloadResult::BadStatus, 0);
    if (status != 200) return Outcome(DownloadResult::BadStatus, status);
    uint64_t expected = 0;
    if (!QueryLength(request.Get(), &expected)) return Outcome(DownloadResult::NoLength);

    FileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Outcome(DownloadResult::WriteFailed, GetLastError());
    ShowProgress(shownName, 0, expected);
    return ReadBody(request.Get(), file.Get(), expected, shownName);
}

}  // namespace

DownloadOutcome DownloadToFile(const char* url, const char* path, const char* shownName) {
    DownloadOutcome outcome = Fetch(url, path, shownName);
    // A cut or refused file must never be taken for a whole one by a later step.
    if (outcome.result != DownloadResult::Done) DeleteFileA(path);
    return outcome;
}
