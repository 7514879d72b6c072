// The scanners of texts from files and servers: numbers and tokens.
#include "common/text_scan.h"

bool IsBlankOrNewline(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

const char* NextToken(const char* text, char* dest, std::size_t destSize, bool* found) {
    while (*text && IsBlankOrNewline(*text)) ++text;
    std::size_t n = 0;
    if (found) *found = *text != '\0';
    while (*text && !IsBlankOrNewline(*text)) {
        if (n + 1 < destSize) dest[n++] = *text;
        ++text;
    }
    if (destSize) dest[n] = '\0';
    return text;
}

int32_t ReadLeadingDecimal(const char* text, const char** end) {
    const char* p = text;
    while (IsBlankOrNewline(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') {
        if (end) *end = text;
        return 0;
    }
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > 2147483648LL) value = 2147483648LL;
    }
    if (end) *end = p;
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    return static_cast<int32_t>(value);
}
