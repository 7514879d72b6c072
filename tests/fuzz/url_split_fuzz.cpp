// URL splitting over CP949 texts. Input: the URL up to its first NUL; after the NUL, optional
// parameters for SplitHostPort: one byte of name buffer size (default 256) and two bytes of
// default port, little-endian (default 443). The text lives in a heap block of exactly its
// length plus the NUL, so any read past the terminator is an ASan report.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "update/url_split.h"

namespace {

// Offsets where CP949 characters start, walked independently of NextCp949Char: a lead byte
// 0x81..0xFE takes the next byte with it unless that is the NUL.
std::vector<std::size_t> CharacterStarts(const char* text, std::size_t length) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < length;) {
        starts.push_back(i);
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        i += (lead >= 0x81 && lead <= 0xFE && i + 1 < length) ? 2 : 1;
    }
    return starts;
}

// The model of FindCharInTextWith over CP949: offset of the first character equal to sought.
const char* FirstCharacter(const char* text, const std::vector<std::size_t>& starts, char sought) {
    if (sought == '\0') return nullptr;
    for (std::size_t start : starts)
        if (text[start] == sought) return text + start;
    return nullptr;
}

const char* Stall(const char* position) { return position; }

bool Inside(const char* p, const char* text, std::size_t length) { return p >= text && p <= text + length; }

void CheckSteps(const char* text, std::size_t length) {
    for (std::size_t i = 0; i <= length; ++i) {
        const char* next = NextCp949Char(text + i);
        if (i == length) {
            FUZZ_CHECK(next == text + i);
        } else {
            FUZZ_CHECK(next == text + i + 1 || next == text + i + 2);
            FUZZ_CHECK(next <= text + length);
        }
    }
}

void CheckFind(const char* text, std::size_t length, const std::vector<std::size_t>& starts, char sought) {
    const char* found = FindCharInTextWith(text, sought, NextCp949Char);
    FUZZ_CHECK(found == FirstCharacter(text, starts, sought));
    FUZZ_CHECK(FindCharInText(text, sought) == found);
    // A step that never moves falls back to single bytes: a plain byte search.
    const char* byByte = FindCharInTextWith(text, sought, Stall);
    FUZZ_CHECK(byByte == (sought ? static_cast<const char*>(std::memchr(text, sought, length)) : nullptr));
}

void CheckSplitUrl(const char* url, std::size_t length, const std::vector<std::size_t>& starts) {
    const char* firstSlash = FirstCharacter(url, starts, '/');
    char* host = reinterpret_cast<char*>(1);
    const char* path = "unset";
    int result = SplitUrl(url, &host, &path);
    if (!firstSlash) {
        FUZZ_CHECK(result == 1 && host == nullptr && path == nullptr);
        return;
    }
    FUZZ_CHECK(result == 0 && host != nullptr);
    // Two characters past the first "/", staying at the NUL when the text ends sooner.
    const char* hostStart = NextCp949Char(NextCp949Char(firstSlash));
    FUZZ_CHECK(Inside(hostStart, url, length));
    const std::size_t hostLength = std::strlen(host);
    if (path) {
        FUZZ_CHECK(Inside(path, url, length) && *path == '/' && path >= hostStart);
        FUZZ_CHECK(path == FindCharInTextWith(hostStart, '/', NextCp949Char));
        FUZZ_CHECK(hostLength == static_cast<std::size_t>(path - hostStart));
    } else {
        FUZZ_CHECK(FindCharInTextWith(hostStart, '/', NextCp949Char) == nullptr);
        FUZZ_CHECK(hostLength == std::strlen(hostStart));
    }
    FUZZ_CHECK(std::memcmp(host, hostStart, hostLength) == 0);
    FUZZ_CHECK(host[hostLength + 1] == '\0');  // length plus two bytes, zero-filled

    const char* dot = FirstCharacter(url, starts, '.');
    if (dot && dot >= hostStart && (!path || dot < path)) FUZZ_CHECK(path == FindUrlPath(url));
    std::free(host);
}

// The documented rules of SplitHostPort, written out: the expected result, name and port.
int ModelHostPort(const char* text, unsigned defaultPort, std::size_t nameSize, std::size_t* nameStart,
                  std::size_t* nameLength, unsigned* port) {
    const std::size_t length = std::strlen(text);
    const std::vector<std::size_t> starts = CharacterStarts(text, length);
    const char* portText = nullptr;
    if (text[0] == '[') {
        const char* close = FirstCharacter(text, starts, ']');
        if (!close) return 0;
        *nameStart = 1;
        *nameLength = static_cast<std::size_t>(close - text) - 1;
        if (close[1] == ':') portText = close + 2;
        else if (close[1] != '\0') return 0;
    } else {
        const char* colon = FirstCharacter(text, starts, ':');
        *nameStart = 0;
        *nameLength = colon ? static_cast<std::size_t>(colon - text) : length;
        if (colon) portText = colon + 1;
    }
    if (*nameLength == 0) return 0;
    *port = defaultPort;
    if (portText && *portText) {
        unsigned long value = 0;
        for (const char* d = portText; *d; ++d) {
            if (*d < '0' || *d > '9') return 0;
            value = value * 10 + static_cast<unsigned long>(*d - '0');
            if (value > 65535) return 0;
        }
        if (value == 0) return 0;
        *port = static_cast<unsigned>(value);
    }
    return *nameLength < nameSize ? 1 : 0;
}

void CheckHostPort(const char* hostText, unsigned defaultPort, std::size_t nameSize) {
    std::unique_ptr<char[]> name(new char[nameSize ? nameSize : 1]);
    const unsigned kUntouched = 0xdeadu;
    unsigned port = kUntouched;
    int result = SplitHostPort(hostText, defaultPort, name.get(), nameSize, &port);

    std::size_t start = 0, length = 0;
    unsigned expectedPort = kUntouched;
    FUZZ_CHECK(result == ModelHostPort(hostText, defaultPort, nameSize, &start, &length, &expectedPort));
    if (result == 0) {
        FUZZ_CHECK(port == kUntouched);
        return;
    }
    FUZZ_CHECK(port == expectedPort);
    FUZZ_CHECK(TerminatedWithin(name.get(), nameSize));
    FUZZ_CHECK(std::strlen(name.get()) == length);
    FUZZ_CHECK(std::memcmp(name.get(), hostText + start, length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<char[]> url(new char[length + 1]);
    std::memcpy(url.get(), data, length);
    url[length] = '\0';
    const uint8_t* params = data + length + (length < size ? 1 : 0);
    const std::size_t paramCount = size - static_cast<std::size_t>(params - data);
    const std::size_t nameSize = paramCount >= 1 ? params[0] : 256;
    const unsigned defaultPort = paramCount >= 3 ? params[1] | (params[2] << 8) : 443;

    const std::vector<std::size_t> starts = CharacterStarts(url.get(), length);
    CheckSteps(url.get(), length);
    for (char sought : {'/', '.', ':', ']', '\\', '\0'}) CheckFind(url.get(), length, starts, sought);
    if (length > 0) CheckFind(url.get(), length, starts, url[length - 1]);

    // The first "/" after the first ".", or from the start without a ".".
    const char* dot = FirstCharacter(url.get(), starts, '.');
    const char* expectedPath = nullptr;
    for (std::size_t start : starts) {
        if (url[start] == '/' && (!dot || url.get() + start > dot)) {
            expectedPath = url.get() + start;
            break;
        }
    }
    FUZZ_CHECK(FindUrlPath(url.get()) == expectedPath);

    CheckSplitUrl(url.get(), length, starts);
    CheckHostPort(url.get(), defaultPort, nameSize);
    // The way the transfer code uses it: on the host text SplitUrl gives.
    char* host = nullptr;
    const char* rest = nullptr;
    if (SplitUrl(url.get(), &host, &rest) == 0) {
        CheckHostPort(host, defaultPort, nameSize);
        std::free(host);
    }
    return 0;
}
