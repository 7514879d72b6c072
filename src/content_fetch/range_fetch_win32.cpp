// WinInet single-range GETs of chunk data.
#include "content_fetch/range_fetch_win32.h"

#include "common/failure_trace.h"
#include "content_fetch/range_request.h"
#include "update/crawl_read_win32.h"
#include "update/https_answer_win32.h"

namespace {

constexpr DWORD kPieceSize = 64 * 1024;
constexpr std::size_t kHeaderSize = 96;

thread_local int WholeBodySeen = 0;

DWORD ContentRequestFlags(int secure) {
    // Packs run to gigabytes: never through WinInet's cache, and never an old copy from it.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                  INTERNET_FLAG_KEEP_CONNECTION;
    if (secure)
        flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
    return flags;
}

bool QueryNumber(HINTERNET request, DWORD query, DWORD* value) {
    DWORD size = sizeof *value;
    return HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, value, &size, nullptr) != 0;
}

// Whether the answer's own length, when it gives one, is the one its status promises.
bool LengthFits(HINTERNET request, uint64_t expected) {
    char text[32];
    DWORD size = sizeof text;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return true;
    uint64_t length = 0;
    for (DWORD i = 0; i < size; ++i) {
        if (text[i] < '0' || text[i] > '9' || length > (UINT64_MAX - 9) / 10) return false;
        length = length * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return size > 0 && length == expected;
}

// Checks the status and the announced bytes; sets answer->WholeBody for a 200.
int32_t CheckAnswer(HINTERNET request, const char* url, uint64_t first, uint64_t last, RangeAnswer* answer) {
    DWORD status = 0;
    if (!QueryNumber(request, HTTP_QUERY_STATUS_CODE, &status)) {
        answer->Error = GetLastError();
        TraceFailure("content status query", url, answer->Error);
        return kRangeBadStatus;
    }
    answer->Status = status;
    if (status == 200) {
        answer->WholeBody = 1;
        WholeBodySeen = 1;
        TraceFailure("content range ignored", url, status);
        return kRangeDone;
    }
    if (status != 206) {
        TraceFailure("content answer status", url, status);
        return kRangeBadStatus;
    }
    char range[128];
    DWORD size = sizeof range;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, range, &size, nullptr) ||
        !ContentRangeMatches(range, first, last) || !LengthFits(request, last - first + 1)) {
        TraceFailure("content range answer", url, status);
        return kRangeBadAnswer;
    }
    return kRangeDone;
}

// Reads the body up to the range's end, throwing away what lies before first in a whole body.
int32_t Receive(HINTERNET request, const char* url, uint64_t first, uint64_t last, const CrawlLimit& limit,
                RangeSink sink, void* context, RangeAnswer* answer) {
    uint8_t piece[kPieceSize];  // on the stack: several transfers may run at once
    uint64_t position = answer->WholeBody ? 0 : first;
    CrawlWatch crawl;
    StartCrawlWatch(&crawl, limit, GetTickCount64());
    const bool readOn = answer->WholeBody && answer->ReadOn;
    while (position <= last || readOn) {
        const uint64_t left = position <= last ? last - position + 1 : kPieceSize;
        const DWORD want = left < kPieceSize ? static_cast<DWORD>(left) : kPieceSize;
        DWORD got = 0, error = 0;
        if (!ReadArrived(request, piece, want, &got, &crawl, &error)) {
            answer->Error = error;
            TraceFailure(error == kCrawlErrorCode ? "content read crawled" : "content read", url, error);
            return kRangeReadFailed;
        }
        if (got == 0 && position > last) return kRangeDone;  // a whole file read to its end
        if (got == 0) {
            TraceFailure("content read short", url, ERROR_HANDLE_EOF);
            return kRangeReadFailed;
        }
        const uint8_t* data = piece;
        DWORD length = got;
        if (position < first) {
            const uint64_t skip = first - position;
            if (skip >= got) {
                position += got;
                continue;
            }
            data += skip;
            length -= static_cast<DWORD>(skip);
            position = first;
        }
        const int taken = sink(context, data, length);
        if (taken == kRangeSinkEnough) return kRangeDone;
        if (taken != 0) return kRangeStopped;
        position += length;
        answer->Delivered += length;
    }
    return kRangeDone;
}

// WinInet holds back requests past its limit of connections per server (2 for HTTP/1.1 on older
// systems): the lanes would wait for each other. The limit is the process's; a higher one stays.
void AllowContentConnections(DWORD option) {
    DWORD connections = 0, size = sizeof connections;
    if (InternetQueryOptionA(nullptr, option, &connections, &size) && connections >= kContentFetchLanes) return;
    connections = kContentFetchLanes;
    if (!InternetSetOptionA(nullptr, option, &connections, sizeof connections))
        TraceFailure("content connections", "per server", GetLastError());
}

}  // namespace

int TakeWholeBodySeen() {
    const int seen = WholeBodySeen;
    WholeBodySeen = 0;
    return seen;
}

InternetHandle OpenContentSession() {
    AllowContentConnections(INTERNET_OPTION_MAX_CONNS_PER_SERVER);
    AllowContentConnections(INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER);
    InternetHandle session(InternetOpenA(kContentUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) {
        TraceFailure("content session", kContentUserAgent, GetLastError());
        return session;
    }
    DWORD timeout = kContentReceiveTimeoutMs;
    InternetSetOptionA(session.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(session.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(session.Get(), INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
    return session;
}

int32_t FetchRange(HINTERNET session, const char* url, int secure, uint64_t first, uint64_t last,
                   RangeSink sink, void* context, RangeAnswer* answer) {
    return FetchRangeWithin(session, url, secure, first, last, kCrawlLimit, sink, context, answer);
}

int32_t FetchRangeWithin(HINTERNET session, const char* url, int secure, uint64_t first, uint64_t last,
                         const CrawlLimit& limit, RangeSink sink, void* context, RangeAnswer* answer) {
    *answer = RangeAnswer{0, 0, 0, 0, answer->ReadOn};
    char header[kHeaderSize];
    if (!FormatRangeHeader(first, last, header, sizeof header)) return kRangeBadAnswer;
    InternetHandle request(InternetOpenUrlA(session, url, header, static_cast<DWORD>(-1), ContentRequestFlags(secure), 0));
    if (!request || !AnswerStayedOnHttps(request.Get(), url)) {
        answer->Error = GetLastError();
        TraceFailure("content open url", url, answer->Error);
        return kRangeOpenFailed;
    }
    const int32_t checked = CheckAnswer(request.Get(), url, first, last, answer);
    if (checked != kRangeDone) return checked;
    return Receive(request.Get(), url, first, last, limit, sink, context, answer);
}
