// The 8.3 alias shape of a name component.
#include "paths/short_name_alias.h"

namespace {

// Code points in text: every byte but UTF-8 continuation bytes starts one.
std::size_t CharacterCount(const char* text, std::size_t length) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++count;
    return count;
}

bool EndsInTildeDigits(const char* stem, std::size_t length) {
    std::size_t digits = 0;
    while (digits < length && stem[length - 1 - digits] >= '0' && stem[length - 1 - digits] <= '9') ++digits;
    return digits > 0 && digits < length && stem[length - 1 - digits] == '~';
}

}  // namespace

bool IsShortNameAliasShape(const char* component, std::size_t length) {
    std::size_t dot = 0;
    while (dot < length && component[dot] != '.') ++dot;
    if (dot < length) {
        const std::size_t extension = length - dot - 1;
        for (std::size_t i = dot + 1; i < length; ++i)
            if (component[i] == '.') return false;
        const std::size_t characters = CharacterCount(component + dot + 1, extension);
        if (characters < 1 || characters > 3) return false;
    }
    const std::size_t stemCharacters = CharacterCount(component, dot);
    return stemCharacters >= 1 && stemCharacters <= 8 && EndsInTildeDigits(component, dot);
}

bool HasShortNameAliasShape(const char* path, std::size_t length) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= length; ++i) {
        if (i < length && path[i] != '/' && path[i] != '\\') continue;
        if (IsShortNameAliasShape(path + start, i - start)) return true;
        start = i + 1;
    }
    return false;
}
