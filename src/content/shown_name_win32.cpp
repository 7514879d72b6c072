// ShownNameIn over MultiByteToWideChar and WideCharToMultiByte, one character at a time so
// that a cut never falls inside a double-byte character or a surrogate pair.
#include "content/shown_name_win32.h"

#include <windows.h>

#include <cstring>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "content_format/content_release.h"

namespace {

int AsciiOnly(const char* path, std::size_t length, char* out, std::size_t size) {
    std::size_t n = 0;
    for (; n < length && n + 1 < size; ++n) {
        const unsigned char c = static_cast<unsigned char>(path[n]);
        out[n] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    out[n] = '\0';
    return 0;
}

// One character (one UTF-16 unit, or a surrogate pair) in the code page, or '?' where it has
// none; UTF-8 takes no replacement character of ours and needs none.
int OneCharacter(unsigned codePage, const wchar_t* unit, int units, char* out, int room) {
    BOOL replaced = FALSE;
    const bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8);
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(codePage, flags, unit, units, out, room, utf8 ? nullptr : "?",
                                      utf8 ? nullptr : &replaced);
    if (n > 0 && replaced && room >= 1) {
        out[0] = '?';  // a surrogate pair may come out as "??": one character, one mark
        return 1;
    }
    return n;
}

}  // namespace

int ShownNameIn(unsigned codePage, const char* path, std::size_t length, char* out, std::size_t size) {
    if (size == 0) return 0;
    if (length > kReleaseMaxPathLength) return AsciiOnly(path, length, out, size);
    wchar_t wide[kReleaseMaxPathLength];
    int units = 0;
    if (length > 0) {
        units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, static_cast<int>(length), wide,
                                    static_cast<int>(kReleaseMaxPathLength));
        if (units <= 0) return AsciiOnly(path, length, out, size);
    }
    std::size_t have = 0;
    for (int i = 0; i < units;) {
        const int step = IS_HIGH_SURROGATE(wide[i]) && i + 1 < units && IS_LOW_SURROGATE(wide[i + 1]) ? 2 : 1;
        char bytes[8];
        const int n = OneCharacter(codePage, wide + i, step, bytes, sizeof bytes);
        if (n <= 0 || have + static_cast<std::size_t>(n) + 1 > size) break;
        std::memcpy(out + have, bytes, static_cast<std::size_t>(n));
        have += static_cast<std::size_t>(n);
        i += step;
    }
    out[have] = '\0';
    return 1;
}

void ShowNamedStatus(const char* format, const char* path, std::size_t length, unsigned first, unsigned second) {
    // The line without the name says how much room the name has; a longer name is cut there,
    // on a character, rather than by the status buffer in the middle of one.
    char rest[SharedText::kSize];
    FormatText(rest, sizeof rest, format, "", first, second);
    const std::size_t used = std::strlen(rest);
    char name[SharedText::kSize];
    ShownNameIn(CP_ACP, path, length, name, used < sizeof name ? sizeof name - used : 1);
    StatusText.Format(format, name, first, second);
}
