// TakeVerifyArgument: a walk over the words of a command line, quotes followed.
#include "content/verify_argument.h"

#include <cstring>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Where the word starting at at ends; *quoted is set when any of it was inside quotes.
// Backslashes before a quote escape it, as the C runtime reads them.
std::size_t WordEnd(const char* text, std::size_t at, bool* quoted) {
    bool inside = false;
    *quoted = false;
    while (text[at] && (inside || !IsBlank(text[at]))) {
        if (text[at] == '\\') {
            while (text[at] == '\\') ++at;
            if (text[at] == '"') ++at;  // escaped or not, it is part of this word
            continue;
        }
        if (text[at] == '"') {
            inside = !inside;
            *quoted = true;
        }
        ++at;
    }
    return at;
}

// Cuts [from, to) out of text, which is length bytes long.
void CutOut(char* text, std::size_t length, std::size_t from, std::size_t to) {
    std::memmove(text + from, text + to, length - to + 1);
}

}  // namespace

int TakeVerifyArgument(char* commandLine) {
    if (!commandLine) return 0;
    const std::size_t word = sizeof kVerifyArgument - 1;
    int taken = 0;
    std::size_t at = 0;
    for (;;) {
        const std::size_t blanks = at;
        while (IsBlank(commandLine[at])) ++at;
        if (!commandLine[at]) return taken;
        bool quoted = false;
        const std::size_t end = WordEnd(commandLine, at, &quoted);
        if (quoted || end - at != word || std::memcmp(commandLine + at, kVerifyArgument, word) != 0) {
            at = end;
            continue;
        }
        taken = 1;
        std::size_t from = blanks, to = end;
        if (blanks == 0) {  // the first word: the blanks after it go with it
            while (IsBlank(commandLine[to])) ++to;
        }
        CutOut(commandLine, std::strlen(commandLine), from, to);
        at = from;
    }
}
