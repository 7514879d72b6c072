// Range headers and Content-Range checks of the content transfers.
#include "content_fetch/range_request.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr uint64_t kLargestValue = UINT64_C(1) << 63;

// Reads the decimal digits at *text into *value, moving *text past them. At least one digit,
// at most 19, and below 2^63.
bool ReadNumber(const char** text, uint64_t* value) {
    const char* p = *text;
    uint64_t result = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
        if (++digits > 19) return false;
        result = result * 10 + static_cast<uint64_t>(*p - '0');
        ++p;
    }
    if (digits == 0 || result >= kLargestValue) return false;
    *text = p;
    *value = result;
    return true;
}

bool Skip(const char** text, const char* expected) {
    const char* p = *text;
    while (*expected) {
        if (*p != *expected) return false;
        ++p;
        ++expected;
    }
    *text = p;
    return true;
}

}  // namespace

int FormatRangeHeader(uint64_t first, uint64_t last, char* out, std::size_t size) {
    if (last < first || size == 0) return 0;
    const int written = std::snprintf(out, size, "Range: bytes=%" PRIu64 "-%" PRIu64 "\r\n", first, last);
    if (written < 0 || static_cast<std::size_t>(written) >= size) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int ContentRangeMatches(const char* value, uint64_t first, uint64_t last) {
    if (!value) return 0;
    const char* p = value;
    uint64_t from = 0;
    uint64_t to = 0;
    if (!Skip(&p, "bytes ") || !ReadNumber(&p, &from) || !Skip(&p, "-") || !ReadNumber(&p, &to) ||
        !Skip(&p, "/"))
        return 0;
    if (from != first || to != last) return 0;
    if (Skip(&p, "*")) return *p == '\0';
    uint64_t total = 0;
    if (!ReadNumber(&p, &total) || *p != '\0') return 0;
    return total > last ? 1 : 0;
}

int IsRetryableStatus(uint32_t status) {
    return status == 408 || status == 429 || (status >= 500 && status <= 599) ? 1 : 0;
}
