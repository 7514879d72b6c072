// Reading the signed texts a publisher writes (the manifest, the root document): lines that
// each end in "\n", fields separated by one blank, numbers and hex written one way only, so
// that one text has one reading.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kSignedNumberDigits = 18;

// One line of a text without its "\n"; readers only ever move forward over it.
struct Field {
    const char* at;
    std::size_t length;
};

// Takes word from the front of *line; false (and *line untouched) when it is not there.
bool TakeWord(Field* line, const char* word);

// The text up to the next blank (or the whole rest), and the blank itself when there is one.
Field TakeUntilBlank(Field* line, bool* blankFollows);

// Decimal without leading zeros, 1 to kSignedNumberDigits digits.
bool ReadNumber(Field field, uint64_t* value);

// Exactly 2 * size lowercase hex digits into out.
bool ReadHexBytes(Field field, uint8_t* out, std::size_t size);

// A line "<word> <number>" and nothing else.
bool ReadNumberLine(Field line, const char* word, uint64_t* value);

// The lines of a text whose every line ends in "\n" (the caller checks the last byte).
class Lines {
public:
    Lines(const char* text, std::size_t length) : text_(text), length_(length) {}
    bool Next(Field* line);
    // Where the next line starts: the length of the text read so far.
    std::size_t Position() const { return position_; }

private:
    const char* text_;
    std::size_t length_;
    std::size_t position_ = 0;
};
