// WinInet reads that return what has arrived, watched for crawling.
#include "update/crawl_read_win32.h"

static_assert(kCrawlErrorCode == ERROR_TIMEOUT, "the crawl's code is the system's time-out code");

int ReadArrived(HINTERNET request, void* buffer, DWORD size, DWORD* got, CrawlWatch* watch, DWORD* error) {
    *got = 0;
    // A plain InternetReadFile waits until the whole buffer is full: a server that sends a byte
    // now and then would keep it (and the check below) waiting for good.
    DWORD arrived = 0;
    if (!InternetQueryDataAvailable(request, &arrived, 0, 0)) {
        *error = GetLastError();
        return 0;
    }
    // 0 means the body's end; the read then says so itself.
    const DWORD want = arrived > 0 && arrived < size ? arrived : size;
    if (!InternetReadFile(request, buffer, want, got)) {
        *error = GetLastError();
        return 0;
    }
    // The end itself is never a crawl: a body that came whole is taken, however slowly.
    if (*got > 0 && CrawlNoted(watch, GetTickCount64(), *got)) {
        *error = kCrawlErrorCode;
        return 0;
    }
    return 1;
}
