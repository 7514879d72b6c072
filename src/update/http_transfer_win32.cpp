// WinInet transfer of one URL into one local file, and the HEAD probe of its length.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <cstdlib>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "common/file_replace.h"
#include "common/win32_handle.h"
#include "update/crawl_read_win32.h"
#include "update/http_transfer.h"
#include "update/https_answer_win32.h"
#include "update/url_split.h"

namespace {

// Host names are at most 255 characters; a longer host text cannot name a server.
constexpr std::size_t kHostNameSize = 256;

DWORD RequestFlags(int secure) {
    DWORD flags = INTERNET_FLAG_RELOAD;
    if (secure)
        flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
    return flags;
}

InternetHandle OpenSession(const char* userAgent) {
    InternetHandle session(InternetOpenA(userAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) TraceFailure("internet session", userAgent, GetLastError());
    return session;
}

int32_t Saturated(int64_t count) { return count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count); }

}  // namespace

int32_t ProbeContentLength(const char* host, const char* path, int secure, const char* userAgent,
                           uint32_t timeoutMs, int32_t* length) {
    InternetHandle session = OpenSession(userAgent);
    if (!session) return kProbeNoSession;
    DWORD timeout = timeoutMs;
    InternetSetOptionA(session.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);

    // The URL's own port, so that the probe reaches the server the GET will talk to.
    char name[kHostNameSize];
    unsigned port = 0;
    const unsigned defaultPort = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    if (!SplitHostPort(host, defaultPort, name, sizeof name, &port)) {
        TraceFailure("size probe: host", host, ERROR_INVALID_PARAMETER);
        return kProbeNoLength;
    }
    InternetHandle connection(InternetConnectA(session.Get(), name, static_cast<INTERNET_PORT>(port), nullptr,
                                               nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) {
        TraceFailure("size probe: connect", host, GetLastError());
        return kProbeNoLength;
    }
    InternetHandle request(HttpOpenRequestA(connection.Get(), "HEAD", path, nullptr, nullptr, nullptr,
                                            RequestFlags(secure), 0));
    if (!request) {
        TraceFailure("size probe: request", path, GetLastError());
        return kProbeNoLength;
    }

    // The probe has no address of its own; its scheme is the one secure asks for.
    const char* asked = secure ? "https://" : "http://";
    if (!HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0) || !AnswerStayedOnHttps(request.Get(), asked)) {
        const DWORD error = GetLastError();
        TraceFailure("size probe: send", path, error);
        if (error == ERROR_INTERNET_INVALID_CA && secure) {
            // Marked but not sent again: the GET refuses an unknown authority, so a length
            // from that server could never be used, and a resend would only reach it again.
            DWORD flags = 0;
            DWORD size = sizeof flags;
            if (InternetQueryOptionA(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) {
                flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
                InternetSetOptionA(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
            }
        }
        return kProbeNoLength;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr))
        return kProbeNoLength;
    *length = Saturated(value);
    return kProbeLengthRead;
}

namespace {

// HTTP_QUERY_* | HTTP_QUERY_FLAG_NUMBER of the answered request; false when not sent.
bool QueryNumber(HINTERNET request, DWORD query, DWORD* value) {
    DWORD size = sizeof *value;
    return HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, value, &size, nullptr) != 0;
}

// What is known of the GET's body before it is read.
struct Answer {
    InternetHandle session;
    InternetHandle body;
    bool strict;
    int32_t expected;   // what the progress callback is told; 0 while unknown
    int64_t announced;  // the GET's own Content-Length, or -1
    int32_t probed;     // the HEAD's length (0 when unknown); it may be stale, so it never refuses
};

// A strict fetch takes a body with a length of its own only at exactly that length. Without
// one the body ends when the server closes, which a cut looks like too (WinInet does not even
// fail a chunked body whose last chunk never came): it is taken when it ends with a line end
// (every published line does) or has exactly the probed length.
bool ReceivedWhole(const Answer& answer, int64_t received, char last) {
    if (!answer.strict) return true;
    if (answer.announced >= 0) return received == answer.announced;
    return last == '\n' || (answer.probed > 0 && received == answer.probed);
}

// Opens the GET of url. With strict set, only a 200 or 206 answer is taken.
int32_t OpenAnswer(const char* url, int secure, const char* userAgent, Answer* answer) {
    answer->session = OpenSession(userAgent);
    if (!answer->session) return kTransferNoSession;
    answer->body.Reset(InternetOpenUrlA(answer->session.Get(), url, nullptr, 0, RequestFlags(secure), 0));
    if (!answer->body || !AnswerStayedOnHttps(answer->body.Get(), url)) {
        TraceFailure("open url", url, GetLastError());
        return kTransferOpenFailed;
    }
    if (!answer->strict) return kTransferDone;
    DWORD status = 0;
    if (!QueryNumber(answer->body.Get(), HTTP_QUERY_STATUS_CODE, &status)) {
        TraceFailure("status query", url, GetLastError());
        return kTransferBadStatus;
    }
    // The same answers the patch downloads accept; a 204 would only empty the copy.
    if (status != 200 && status != 206) {
        TraceFailure("answer status", url, status);
        return kTransferBadStatus;
    }
    DWORD length = 0;
    if (QueryNumber(answer->body.Get(), HTTP_QUERY_CONTENT_LENGTH, &length)) {
        answer->announced = length;
        answer->expected = Saturated(length);
    }
    return kTransferDone;
}

// Reads the body into file (named name) in pieces, telling callback before each piece is written.
int32_t Receive(Answer& answer, HANDLE file, const char* name, TransferProgressCallback callback) {
    char piece[kTransferPieceSize];
    int64_t received = 0;
    char last = '\0';
    CrawlWatch crawl;
    StartCrawlWatch(&crawl, kCrawlLimit, GetTickCount64());
    for (;;) {
        DWORD got = 0, error = 0;
        if (!ReadArrived(answer.body.Get(), piece, sizeof piece, &got, &crawl, &error)) {
            TraceFailure(error == kCrawlErrorCode ? "read crawled" : "read", name, error);
            // Whatever has come of a crawling body, it is not known to be whole.
            if (answer.strict || error == kCrawlErrorCode) return kTransferReadFailed;
            return answer.expected > 0 && answer.expected != received ? kTransferReadFailed : kTransferDone;
        }
        received += got;
        if (got == 0) {
            if (!ReceivedWhole(answer, received, last)) return kTransferReadFailed;
            answer.expected = Saturated(received);
        } else {
            last = piece[got - 1];
        }
        if (callback && callback(Saturated(received), answer.expected) != 0) return kTransferStopped;
        if (got == 0) return kTransferDone;
        DWORD written = 0;
        if (!WriteFile(file, piece, got, &written, nullptr) || written != got) {
            TraceFailure("write", name, GetLastError());
            return kTransferWriteFailed;
        }
    }
}

// The transfer shared by the plain transfer and the complete-copy fetch.
int32_t Transfer(const char* url, const char* host, const char* path, int secure, const char* localPath,
                 const char* userAgent, uint32_t timeoutMs, TransferProgressCallback callback, bool strict) {
    Answer answer = {InternetHandle(), InternetHandle(), strict, 0, -1, 0};
    ProbeContentLength(host, path, secure, userAgent, timeoutMs, &answer.expected);
    answer.probed = answer.expected;
    const int32_t opened = OpenAnswer(url, secure, userAgent, &answer);
    if (opened != kTransferDone) return opened;
    FileHandle file(CreateFileA(localPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        TraceFailure("create file", localPath, GetLastError());
        return kTransferFileFailed;
    }
    const int32_t result = Receive(answer, file.Get(), localPath, callback);
    if (result == kTransferWriteFailed) {
        // A cut file would later be parsed as if it were whole; better none at all.
        file.Reset();
        DeleteFileA(localPath);
    }
    return result;
}

}  // namespace

int32_t TransferUrlToFile(const char* url, const char* host, const char* path, int secure,
                          const char* localPath, const char* userAgent, uint32_t timeoutMs,
                          TransferProgressCallback callback) {
    return Transfer(url, host, path, secure, localPath, userAgent, timeoutMs, callback, false);
}

int32_t DownloadCompleteUrlToFile(const char* url, const char* localPath, int secure) {
    char* host = nullptr;
    const char* path = nullptr;
    if (SplitUrl(url, &host, &path) != 0) return kTransferNoSession;
    char partial[MAX_PATH];
    if (!FormatText(partial, sizeof partial, "%s.new", localPath)) {
        std::free(host);
        return kTransferFileFailed;
    }
    int32_t result = Transfer(url, host, path, secure, partial, kDefaultUserAgent, kDefaultReceiveTimeoutMs,
                              nullptr, true);
    std::free(host);
    if (result == kTransferDone && !ReplaceFileWith(partial, localPath)) {
        TraceFailure("replace file", localPath, GetLastError());
        result = kTransferFileFailed;
    }
    if (result != kTransferDone) DeleteFileA(partial);
    return result;
}

int32_t DownloadUrlToFileEx(const char* url, const char* localPath, int secure, const char* userAgent,
                            uint32_t timeoutMs, TransferProgressCallback callback) {
    char* host = nullptr;
    const char* path = nullptr;
    if (SplitUrl(url, &host, &path) != 0) return kTransferNoSession;
    const int32_t result = TransferUrlToFile(url, host, path, secure, localPath,
                                             userAgent ? userAgent : kDefaultUserAgent,
                                             timeoutMs ? timeoutMs : kDefaultReceiveTimeoutMs, callback);
    std::free(host);
    return result;
}

int32_t DownloadUrlToFile(const char* url, const char* localPath, int secure) {
    return DownloadUrlToFileEx(url, localPath, secure, kDefaultUserAgent, kDefaultReceiveTimeoutMs, nullptr);
}
