// Words for failed downloads and the download percentage.
#include "updater/updater_text.h"

#include "common/bounded_text.h"

namespace {

struct ErrorWords {
    uint32_t code;
    const char* words;
};

// WinInet's codes for what a player or an operator can act on.
constexpr ErrorWords kConnectErrors[] = {
    {12002, "the server did not answer in time"},
    {12007, "the server's name could not be resolved"},
    {12029, "no connection to the server could be made"},
    {12030, "the connection was closed"},
    {12031, "the connection was reset"},
    {12037, "the server's certificate has expired or is not yet valid"},
    {12038, "the server's certificate is for another host name"},
    {12040, "the server sent it on to an address without encryption"},
    {12044, "the server asked for a client certificate"},
    {12045, "the server's certificate is from an unknown authority"},
    {12057, "the server's certificate could not be checked"},
    {12157, "the secure channel could not be set up"},
    {12175, "the secure channel could not be set up"},
};

const char* ConnectWords(uint32_t code) {
    for (const ErrorWords& entry : kConnectErrors)
        if (entry.code == code) return entry.words;
    return "the connection failed";
}

}  // namespace

bool DescribeDownloadFailure(const DownloadOutcome& outcome, char* out, std::size_t size) {
    const unsigned long long received = outcome.received;
    const unsigned long long expected = outcome.expected;
    const unsigned code = outcome.code;
    switch (outcome.result) {
    case DownloadResult::Done:
        return CopyText(out, size, "done");
    case DownloadResult::ConnectFailed:
        return FormatText(out, size, "connection error %u: %s", code, ConnectWords(code));
    case DownloadResult::BadStatus:
        return FormatText(out, size, "the server answered %u", code);
    case DownloadResult::NoLength:
        return CopyText(out, size, "the server's answer has no length");
    case DownloadResult::TooShort:
        return FormatText(out, size, "the download ended after %llu of %llu bytes", received, expected);
    case DownloadResult::TooLong:
        return FormatText(out, size, "the server sent more than the %llu bytes it announced", expected);
    case DownloadResult::TooLarge:
        return FormatText(out, size, "the server announced %llu bytes, more than the %u this file may have", expected,
                          code);
    case DownloadResult::NotSignedSize:
        return FormatText(out, size, "the server announced %llu bytes, not the size the signed list of published "
                          "files gives", expected);
    case DownloadResult::WriteFailed:
        return FormatText(out, size, "the file could not be written (error %u)", code);
    }
    return CopyText(out, size, "unknown failure");
}

int DownloadPercent(uint64_t received, uint64_t expected) {
    if (expected == 0) return 0;
    if (received >= expected) return 100;
    // received < expected here; past 2^64 / 100 the product would wrap.
    const uint64_t percent = received > UINT64_MAX / 100 ? received / (expected / 100) : received * 100 / expected;
    return percent > 99 ? 99 : static_cast<int>(percent);
}
