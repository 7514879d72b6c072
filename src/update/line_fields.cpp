// The field readers of the signed texts.
#include "update/line_fields.h"

#include <cstring>

bool TakeWord(Field* line, const char* word) {
    const std::size_t n = std::strlen(word);
    if (line->length < n || std::memcmp(line->at, word, n) != 0) return false;
    line->at += n;
    line->length -= n;
    return true;
}

Field TakeUntilBlank(Field* line, bool* blankFollows) {
    const void* blank = std::memchr(line->at, ' ', line->length);
    const std::size_t n = blank ? static_cast<std::size_t>(static_cast<const char*>(blank) - line->at) : line->length;
    Field part = {line->at, n};
    *blankFollows = blank != nullptr;
    const std::size_t skip = blank ? n + 1 : n;
    line->at += skip;
    line->length -= skip;
    return part;
}

bool ReadNumber(Field field, uint64_t* value) {
    if (field.length == 0 || field.length > kSignedNumberDigits) return false;
    if (field.at[0] == '0' && field.length > 1) return false;
    uint64_t result = 0;
    for (std::size_t i = 0; i < field.length; ++i) {
        const char c = field.at[i];
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = result;
    return true;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool ReadHexBytes(Field field, uint8_t* out, std::size_t size) {
    if (field.length != 2 * size) return false;
    for (std::size_t i = 0; i < size; ++i) {
        const int high = HexDigit(field.at[2 * i]);
        const int low = HexDigit(field.at[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

bool ReadNumberLine(Field line, const char* word, uint64_t* value) {
    return TakeWord(&line, word) && TakeWord(&line, " ") && ReadNumber(line, value);
}

bool Lines::Next(Field* line) {
    if (position_ >= length_) return false;
    const char* start = text_ + position_;
    const char* newline = static_cast<const char*>(std::memchr(start, '\n', length_ - position_));
    // The caller made sure the text ends in "\n", so there always is one here.
    line->at = start;
    line->length = static_cast<std::size_t>(newline - start);
    position_ += line->length + 1;
    return true;
}
