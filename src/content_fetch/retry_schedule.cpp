// The content requests' retry rules and waits.
#include "content_fetch/retry_schedule.h"

#include "content_fetch/range_request.h"

namespace {

// WinInet's and Winsock's codes for failures of the network rather than of the request. The
// numbers are the system's own (wininet.h, winerror.h); content_retry_win32.cpp checks them.
constexpr uint32_t kPassingErrors[] = {
    12002,  // ERROR_INTERNET_TIMEOUT
    12007,  // ERROR_INTERNET_NAME_NOT_RESOLVED
    12029,  // ERROR_INTERNET_CANNOT_CONNECT
    12030,  // ERROR_INTERNET_CONNECTION_ABORTED
    12031,  // ERROR_INTERNET_CONNECTION_RESET
    12032,  // ERROR_INTERNET_FORCE_RETRY
    12152,  // ERROR_HTTP_INVALID_SERVER_RESPONSE
    12163,  // ERROR_INTERNET_DISCONNECTED
    10053,  // WSAECONNABORTED
    10054,  // WSAECONNRESET
    10060,  // WSAETIMEDOUT
    10061,  // WSAECONNREFUSED
    11001,  // WSAHOST_NOT_FOUND
    11002,  // WSATRY_AGAIN
};

int IsPassingError(uint32_t error) {
    for (uint32_t e : kPassingErrors)
        if (e == error) return 1;
    return 0;
}

}  // namespace

int ContentFailureIsPassing(const ContentTry& attempt) {
    switch (attempt.Failure) {
    case kFailOpen:
        return IsPassingError(attempt.Error);
    case kFailStatus:
        // No status at all is an answer that broke off in its head.
        return attempt.Status == 0 || IsRetryableStatus(attempt.Status);
    case kFailAnswer:
    case kFailRead:
    case kFailChunk:
        return 1;
    default:
        return 0;
    }
}

int ContentFailureIsRefusal(const ContentTry& attempt) {
    return attempt.Failure == kFailStatus && attempt.Status >= 400 && attempt.Status < 500 &&
           !IsRetryableStatus(attempt.Status);
}

uint64_t NextJitter(RetryJitter& jitter) {
    uint64_t z = (jitter.State += UINT64_C(0x9E3779B97F4A7C15));
    z = (z ^ (z >> 30)) * UINT64_C(0xBF58476D1CE4E5B9);
    z = (z ^ (z >> 27)) * UINT64_C(0x94D049BB133111EB);
    return z ^ (z >> 31);
}

uint32_t ContentRetryWaitMs(uint32_t next, RetryJitter& jitter) {
    if (next < 2 || next > kContentTries) return 0;
    const uint32_t base = 1000u << (next - 2);
    return base + static_cast<uint32_t>(NextJitter(jitter) % (base / 2 + 1));
}

uint32_t CountdownSeconds(uint32_t leftMs) { return leftMs / 1000 + (leftMs % 1000 ? 1 : 0); }

uint32_t CountdownStepMs(uint32_t leftMs) {
    const uint32_t part = leftMs % 1000;
    return part ? part : (leftMs ? 1000 : 0);
}
