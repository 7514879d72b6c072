// The Updater's transfer: WinInet without any of the launcher's certificate leniency.
#include "updater/updater_download_win32.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>

#include "common/bounded_text.h"
#include "common/win32_handle.h"
#include "update/crawl_read_win32.h"
#include "update/https_answer_win32.h"
#include "updater/updater_files_win32.h"
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

// Reads the body piece by piece up to exactly expected bytes, handing each to store(piece,
// length, offset), which returns 0 or the system error that stops it. shownName null: no
// progress is shown.
template <typename Store>
DownloadOutcome ReadBody(HINTERNET request, uint64_t expected, const char* shownName, Store store) {
    uint64_t received = 0;
    // A server that sends a byte now and then would hold the Updater, and the player, for good.
    CrawlWatch crawl;
    StartCrawlWatch(&crawl, kCrawlLimit, GetTickCount64());
    for (;;) {
        DWORD got = 0, error = 0;
        if (!ReadArrived(request, Piece, kPieceSize, &got, &crawl, &error))
            return Outcome(DownloadResult::TooShort, error, received, expected);
        if (got == 0) break;
        if (got > expected - received) return Outcome(DownloadResult::TooLong, 0, received + got, expected);
        if (DWORD error = store(Piece, got, received))
            return Outcome(DownloadResult::WriteFailed, error, received, expected);
        received += got;
        if (shownName) ShowProgress(shownName, received, expected);
    }
    if (received != expected) return Outcome(DownloadResult::TooShort, 0, received, expected);
    return Outcome(DownloadResult::Done, 0, received, expected);
}

// An answer whose body may be read: 200 with a Content-Length (in expected).
struct Answer {
    InternetHandle session;
    InternetHandle request;
    uint64_t expected = 0;
};

DownloadOutcome Open(const char* url, Answer* answer) {
    answer->session.Reset(InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!answer->session) return Outcome(DownloadResult::ConnectFailed, GetLastError());
    SetTimeouts(answer->session.Get());
    answer->request.Reset(InternetOpenUrlA(answer->session.Get(), url, nullptr, 0, kRequestFlags, 0));
    // What it runs with administrator rights never comes over a redirect to plain HTTP.
    if (!answer->request || !AnswerStayedOnHttps(answer->request.Get(), url))
        return Outcome(DownloadResult::ConnectFailed, GetLastError());

    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(answer->request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr))
        return Outcome(DownloadResult::BadStatus, 0);
    if (status != 200) return Outcome(DownloadResult::BadStatus, status);
    if (!QueryLength(answer->request.Get(), &answer->expected)) return Outcome(DownloadResult::NoLength);
    return Outcome(DownloadResult::Done);
}

DownloadOutcome Fetch(const char* url, const char* path, const char* shownName, int64_t signedSize) {
    Answer answer;
    const DownloadOutcome opened = Open(url, &answer);
    if (opened.result != DownloadResult::Done) return opened;
    // Refused before the file exists: ReadBody then stops any byte past the announced length,
    // so with the two equal nothing beyond the signed size is ever written.
    if (signedSize != kNoSignedSize && answer.expected != static_cast<uint64_t>(signedSize))
        return Outcome(DownloadResult::NotSignedSize, 0, 0, answer.expected);
    FileHandle file;
    if (!OpenFolderFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, &file))
        return Outcome(DownloadResult::WriteFailed, GetLastError());
    ShowProgress(shownName, 0, answer.expected);
    const DownloadOutcome outcome =
        ReadBody(answer.request.Get(), answer.expected, shownName, [&](const void* piece, DWORD length, uint64_t) {
            DWORD written = 0;
            if (WriteFile(file.Get(), piece, length, &written, nullptr) && written == length) return DWORD{0};
            const DWORD error = GetLastError();
            return error ? error : DWORD{ERROR_WRITE_FAULT};
        });
    if (outcome.result != DownloadResult::Done) return outcome;
    if (!FlushFileBuffers(file.Get()))
        return Outcome(DownloadResult::WriteFailed, GetLastError(), outcome.received, outcome.expected);
    return outcome;
}

}  // namespace

DownloadOutcome DownloadToFile(const char* url, const char* path, const char* shownName, int64_t signedSize) {
    DownloadOutcome outcome = Fetch(url, path, shownName, signedSize);
    // A cut or refused file must never be taken for a whole one by a later step.
    if (outcome.result != DownloadResult::Done) RemoveFolderFile(path);
    return outcome;
}

DownloadOutcome DownloadToMemory(const char* url, void* buffer, uint32_t capacity, uint32_t* length) {
    Answer answer;
    const DownloadOutcome opened = Open(url, &answer);
    if (opened.result != DownloadResult::Done) return opened;
    // Refused unread: the buffer is all the room there is.
    if (answer.expected > capacity) return Outcome(DownloadResult::TooLarge, capacity, 0, answer.expected);
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    const DownloadOutcome outcome =
        ReadBody(answer.request.Get(), answer.expected, nullptr, [&](const void* piece, DWORD size, uint64_t offset) {
            // ReadBody never passes the announced length, which fits the buffer.
            std::memcpy(bytes + offset, piece, size);
            return DWORD{0};
        });
    if (outcome.result == DownloadResult::Done) *length = static_cast<uint32_t>(outcome.received);
    return outcome;
}
