// Relative-name checks and directory parts for patch files and archive entries.
#include "paths/safe_path.h"

#include <cstring>

#include "common/bounded_text.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsReservedCharacter(unsigned char c) {
    return c < 0x20 || c == 0x7f || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' ||
           c == '*' || c == ':';
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsLower(const char* text, std::size_t length, const char* lower) {
    if (std::strlen(lower) != length) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (Lower(text[i]) != lower[i]) return false;
    return true;
}

// Windows maps these names to devices whatever extension follows them, and ignores blanks
// before the extension.
bool IsDeviceName(const char* component, std::size_t length) {
    std::size_t base = 0;
    while (base < length && component[base] != '.') ++base;
    while (base > 0 && component[base - 1] == ' ') --base;
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices)
        if (EqualsLower(component, base, device)) return true;
    // Windows counts the Latin-1 superscripts 1, 2 and 3 as port numbers too; code page 949
    // writes them as A9 F6, A9 F7 and A9 F8.
    const bool digit = base == 4 && component[3] >= '1' && component[3] <= '9';
    const bool superscript = base == 5 && static_cast<unsigned char>(component[3]) == 0xA9 &&
                             static_cast<unsigned char>(component[4]) >= 0xF6 &&
                             static_cast<unsigned char>(component[4]) <= 0xF8;
    if (digit || superscript) return EqualsLower(component, 3, "com") || EqualsLower(component, 3, "lpt");
    return false;
}

bool IsSafeComponent(const char* component, std::size_t length) {
    if (length == 0) return false;
    char last = component[length - 1];
    if (last == '.' || last == ' ') return false;
    for (std::size_t i = 0; i < length; ++i)
        if (IsReservedCharacter(static_cast<unsigned char>(component[i]))) return false;
    return !IsDeviceName(component, length);
}

}  // namespace

bool IsSafeRelativePath(const char* name) {
    if (name == nullptr || name[0] == '\0' || IsSeparator(name[0])) return false;
    const char* start = name;
    for (const char* p = name;; ++p) {
        if (*p != '\0' && !IsSeparator(*p)) continue;
        std::size_t length = static_cast<std::size_t>(p - start);
        bool trailingSeparator = *p == '\0' && length == 0;
        if (!trailingSeparator && !IsSafeComponent(start, length)) return false;
        if (*p == '\0') return true;
        start = p + 1;
    }
}

EntryPathKind ArchiveEntryPath(const char* name, char* dest, std::size_t destSize) {
    if (destSize == 0) return kEntryPathRefused;
    dest[0] = '\0';
    if (name == nullptr || name[0] == '\0') return kEntryPathRefused;
    std::size_t length = 0;
    for (const char* start = name;;) {
        const char* end = start;
        while (*end != '\0' && !IsSeparator(*end)) ++end;
        const bool dot = end - start == 1 && start[0] == '.';
        // The component with the separator that ends it, if any.
        const std::size_t take = static_cast<std::size_t>(end - start) + (*end != '\0' ? 1 : 0);
        if (!dot) {
            if (length + take >= destSize) {
                dest[0] = '\0';
                return kEntryPathRefused;
            }
            std::memcpy(dest + length, start, take);
            length += take;
        }
        if (*end == '\0') break;
        start = end + 1;
    }
    dest[length] = '\0';
    if (length == 0) return kEntryPathFolder;
    if (IsSafeRelativePath(dest)) return kEntryPathInside;
    dest[0] = '\0';
    return kEntryPathRefused;
}

int DirectoryOfPath(char* dest, std::size_t destSize, const char* path) {
    if (destSize == 0) return 0;
    CopyText(dest, destSize, path);
    for (std::size_t i = std::strlen(dest); i > 1; --i) {
        if (IsSeparator(dest[i - 1])) {
            dest[i - 1] = '\0';
            return 1;
        }
    }
    return 0;
}

bool IsArchiveName(const char* name) {
    std::size_t length = std::strlen(name);
    if (length <= 3) return false;
    return EqualsLower(name + length - 3, 3, "zip");
}
