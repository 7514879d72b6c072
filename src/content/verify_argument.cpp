// TakeVerifyArgument and TakeChannelArgument: a walk over the words of a command line, quotes
// followed.
#include "content/verify_argument.h"

#include <cstring>

#include "common/bounded_text.h"

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

bool IsWord(const char* text, std::size_t at, std::size_t end, bool quoted, const char* word) {
    return !quoted && end - at == std::strlen(word) && std::memcmp(text + at, word, end - at) == 0;
}

// Removes every unquoted word (with the next word too when withValue, which then goes to
// value, the last one found winning, or "" when it is quoted or missing). Returns how many.
int TakeWords(char* commandLine, const char* word, bool withValue, char* value, std::size_t valueSize) {
    if (!commandLine) return 0;
    int taken = 0;
    std::size_t at = 0;
    for (;;) {
        const std::size_t blanks = at;
        while (IsBlank(commandLine[at])) ++at;
        if (!commandLine[at]) return taken;
        bool quoted = false;
        std::size_t end = WordEnd(commandLine, at, &quoted);
        if (!IsWord(commandLine, at, end, quoted, word)) {
            at = end;
            continue;
        }
        ++taken;
        if (withValue) {
            std::size_t next = end;
            while (IsBlank(commandLine[next])) ++next;
            const std::size_t valueEnd = WordEnd(commandLine, next, &quoted);
            const std::size_t length = valueEnd - next;
            value[0] = '\0';
            if (!quoted && length < valueSize) {
                std::memcpy(value, commandLine + next, length);
                value[length] = '\0';
            }
            end = valueEnd;
        }
        std::size_t from = blanks, to = end;
        if (blanks == 0) {  // the first word: the blanks after it go with it
            while (IsBlank(commandLine[to])) ++to;
        }
        CutOut(commandLine, std::strlen(commandLine), from, to);
        at = from;
    }
}

}  // namespace

int TakeVerifyArgument(char* commandLine) { return TakeWords(commandLine, kVerifyArgument, false, nullptr, 0) ? 1 : 0; }

int TakeChannelArgument(char* commandLine, char* name, std::size_t size) {
    if (size > 0) name[0] = '\0';
    char value[kChannelArgumentValueSize] = "";
    if (!TakeWords(commandLine, kChannelArgument, true, value, sizeof value)) return 0;
    if (!IsChannelName(value)) return -1;
    return CopyText(name, size, value) ? 1 : -1;
}
