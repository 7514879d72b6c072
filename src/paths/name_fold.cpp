// Folding UTF-8 names unit by unit with the upper-case table, and the comparisons built on it.
#include "paths/name_fold.h"

#include "paths/upcase_table.h"

namespace {

constexpr uint32_t kLoneByte = 0x110000;

// The code point of the whole, shortest UTF-8 sequence at p[0] (n bytes left) and its length
// in *size; 0 and *size 0 when there is none.
uint32_t DecodeUtf8(const uint8_t* p, std::size_t n, std::size_t* size) {
    *size = 0;
    const uint8_t lead = p[0];
    std::size_t extra = 0;
    uint32_t low = 0;
    if (lead < 0x80) {
        *size = 1;
        return lead;
    }
    if (lead >= 0xC2 && lead <= 0xDF) extra = 1, low = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF) extra = 2, low = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4) extra = 3, low = 0x10000;
    else return 0;
    if (n <= extra) return 0;
    uint32_t code = lead & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (p[k] & 0x3F);
    }
    if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    *size = extra + 1;
    return code;
}

}  // namespace

uint16_t UpcaseUnit(uint16_t unit) {
    std::size_t low = 0;
    std::size_t high = kUpcaseRunCount;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const UpcaseRun& run = kUpcaseRuns[middle];
        if (unit < run.First) {
            high = middle;
        } else if (unit > run.Last) {
            low = middle + 1;
        } else {
            if ((unit - run.First) % run.Stride != 0) return unit;
            return static_cast<uint16_t>(static_cast<uint32_t>(unit) + static_cast<uint32_t>(run.Delta));
        }
    }
    return unit;
}

uint32_t NextFoldedUnit(const char* text, std::size_t length, std::size_t* at) {
    const auto* p = reinterpret_cast<const uint8_t*>(text) + *at;
    if (p[0] < 0x80 && p[0] != '/' && p[0] != '\\') {
        // Most names are ASCII: sorting a million paths should not search the table per letter.
        *at += 1;
        return p[0] >= 'a' && p[0] <= 'z' ? p[0] - ('a' - 'A') : p[0];
    }
    std::size_t size = 0;
    const uint32_t code = DecodeUtf8(p, length - *at, &size);
    if (size == 0) {
        *at += 1;
        return kLoneByte + p[0];
    }
    *at += size;
    if (code == '/' || code == '\\') return 0;
    return code <= 0xFFFF ? UpcaseUnit(static_cast<uint16_t>(code)) : code;
}

int CompareFoldedNames(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    std::size_t i = 0;
    std::size_t k = 0;
    while (i < aLength && k < bLength) {
        const uint32_t x = NextFoldedUnit(a, aLength, &i);
        const uint32_t y = NextFoldedUnit(b, bLength, &k);
        if (x != y) return x < y ? -1 : 1;
    }
    if (i == aLength && k == bLength) return 0;
    return i == aLength ? -1 : 1;
}

bool FoldedStartsWith(const char* text, std::size_t length, const char* prefix, std::size_t prefixLength) {
    std::size_t i = 0;
    std::size_t k = 0;
    while (k < prefixLength) {
        if (i == length || NextFoldedUnit(text, length, &i) != NextFoldedUnit(prefix, prefixLength, &k)) return false;
    }
    return true;
}

bool FoldedEndsWith(const char* text, std::size_t length, const char* suffix, std::size_t suffixLength) {
    // Folding keeps UTF-8 sequences whole but may change their length (U+0250 becomes U+2C6F), so
    // the suffix is tried at every sequence start of the text.
    std::size_t start = 0;
    while (start <= length) {
        if (CompareFoldedNames(text + start, length - start, suffix, suffixLength) == 0) return true;
        if (start == length) break;
        NextFoldedUnit(text, length, &start);
    }
    return false;
}

bool FoldedIsInside(const char* folder, std::size_t folderLength, const char* path, std::size_t pathLength) {
    std::size_t i = 0;
    std::size_t k = 0;
    while (k < folderLength) {
        if (i == pathLength || NextFoldedUnit(path, pathLength, &i) != NextFoldedUnit(folder, folderLength, &k)) return false;
    }
    return i < pathLength && NextFoldedUnit(path, pathLength, &i) == 0 && i < pathLength;
}
