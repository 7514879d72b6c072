// URL splitting for the transfer helpers: host text and path, walked character by character.
#include "update/url_split.h"

#include <cstdlib>
#include <cstring>

#include "common/bounded_text.h"

const char* NextCp949Char(const char* position) {
    const unsigned char lead = static_cast<unsigned char>(position[0]);
    if (lead == 0) return position;
    if (lead >= 0x81 && lead <= 0xFE && position[1] != '\0') return position + 2;
    return position + 1;
}

const char* FindCharInTextWith(const char* text, char sought, CharStepFunction step) {
    if (!text || sought == '\0') return nullptr;
    const char* position = text;
    while (*position != '\0') {
        if (*position == sought) return position;
        const char* next = step(position);
        // A step that does not move would loop for ever; fall back to one byte.
        position = next > position ? next : position + 1;
    }
    return nullptr;
}

const char* FindCharInText(const char* text, char sought) {
    return FindCharInTextWith(text, sought, NextAnsiChar);
}

const char* FindUrlPath(const char* url) {
    const char* dot = FindCharInText(url, '.');
    return FindCharInText(dot ? dot + 1 : url, '/');
}

int SplitUrl(const char* url, char** host, const char** path) {
    *host = nullptr;
    *path = nullptr;
    const char* firstSlash = FindCharInText(url, '/');
    if (!firstSlash) return 1;
    // Stepping rather than adding 2 keeps a URL that ends right after its "/" inside the text.
    const char* hostStart = NextAnsiChar(NextAnsiChar(firstSlash));
    // Searching from the host's own start agrees with FindUrlPath whenever the first "." is in
    // the host, and stays right for hosts without "." or with a "." only in the path.
    const char* hostEnd = FindCharInText(hostStart, '/');
    const std::size_t length = hostEnd ? static_cast<std::size_t>(hostEnd - hostStart) : std::strlen(hostStart);
    char* copy = static_cast<char*>(std::calloc(length + 2, 1));
    if (!copy) return 1;
    std::memcpy(copy, hostStart, length);
    *host = copy;
    *path = hostEnd;
    return 0;
}

int SplitHostPort(const char* hostText, unsigned defaultPort, char* name, std::size_t nameSize,
                  unsigned* port) {
    const char* nameStart = hostText;
    const char* nameEnd = nullptr;
    const char* colon = nullptr;
    if (hostText[0] == '[') {
        // An IPv6 literal holds colons of its own; only one after the bracket names a port.
        const char* close = FindCharInText(hostText, ']');
        if (!close) return 0;
        nameStart = hostText + 1;
        nameEnd = close;
        if (close[1] == ':') {
            colon = close + 1;
        } else if (close[1] != '\0') {
            return 0;
        }
    } else {
        colon = FindCharInText(hostText, ':');
        nameEnd = colon ? colon : hostText + std::strlen(hostText);
    }
    const std::size_t nameLength = static_cast<std::size_t>(nameEnd - nameStart);
    if (nameLength == 0) return 0;
    unsigned value = defaultPort;
    if (colon && colon[1] != '\0') {
        value = 0;
        for (const char* digit = colon + 1; *digit != '\0'; ++digit) {
            if (*digit < '0' || *digit > '9') return 0;
            value = value * 10 + static_cast<unsigned>(*digit - '0');
            if (value > 65535) return 0;
        }
        if (value == 0) return 0;
    }
    if (!FormatText(name, nameSize, "%.*s", static_cast<int>(nameLength), nameStart)) return 0;
    *port = value;
    return 1;
}
