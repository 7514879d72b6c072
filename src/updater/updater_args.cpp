// The Updater's command line and file versions: strict parsing, no platform calls.
#include "updater/updater_args.h"

#include <cstring>

#include "common/bounded_text.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Up to maxDigits decimal digits at *text, not above limit; advances *text past them.
bool ReadNumber(const char** text, uint32_t limit, int maxDigits, uint32_t* value) {
    const char* p = *text;
    uint32_t number = 0;
    int digits = 0;
    while (IsDigit(*p)) {
        if (++digits > maxDigits) return false;
        number = number * 10 + static_cast<uint32_t>(*p - '0');
        ++p;
    }
    if (digits == 0 || number > limit) return false;
    *value = number;
    *text = p;
    return true;
}

bool ParseProcessId(const char* text, uint32_t* id) {
    // Ten digits hold every 32-bit value; the limit check keeps the product in range.
    uint64_t number = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        if (!IsDigit(*p) || ++digits > 10) return false;
        number = number * 10 + static_cast<uint64_t>(*p - '0');
    }
    if (digits == 0 || number > UINT32_MAX) return false;
    *id = static_cast<uint32_t>(number);
    return true;
}

bool StartsWithHttps(const char* text) {
    const char* scheme = "https://";
    for (std::size_t i = 0; scheme[i]; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != scheme[i]) return false;
    }
    return true;
}

// The address is handed to the system as it is: nothing in it may end a word, start a query
// or fragment, or be read as a Windows path separator.
bool IsPlainUrlCharacter(unsigned char c) {
    return c > 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '?' && c != '#' && c != '<' && c != '>';
}

bool ParseBase(const char* text, char* base, std::size_t size) {
    if (!StartsWithHttps(text)) return false;
    for (const char* p = text; *p; ++p)
        if (!IsPlainUrlCharacter(static_cast<unsigned char>(*p))) return false;
    if (!CopyText(base, size, text)) return false;
    std::size_t length = std::strlen(base);
    while (length > 0 && base[length - 1] == '/') base[--length] = '\0';
    const std::size_t schemeLength = std::strlen("https://");
    // A host is needed: "https://" alone or "https:///path" names no server.
    return length > schemeLength && base[schemeLength] != '/';
}

}  // namespace

bool ParseFileVersion(const char* text, FileVersion* version) {
    const char* p = text;
    FileVersion parsed = {};
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *p++ != '.') return false;
        uint32_t field = 0;
        if (!ReadNumber(&p, 65535, 5, &field)) return false;
        parsed.field[i] = static_cast<uint16_t>(field);
    }
    if (*p != '\0') return false;
    *version = parsed;
    return true;
}

bool SameFileVersion(const FileVersion& a, const FileVersion& b) {
    for (int i = 0; i < 4; ++i)
        if (a.field[i] != b.field[i]) return false;
    return true;
}

bool FormatFileVersion(const FileVersion& version, char* out, std::size_t size) {
    return FormatText(out, size, "%u.%u.%u.%u", static_cast<unsigned>(version.field[0]),
                      static_cast<unsigned>(version.field[1]), static_cast<unsigned>(version.field[2]),
                      static_cast<unsigned>(version.field[3]));
}

bool ParseUpdaterArguments(int argc, const char* const* argv, UpdaterRequest* request) {
    if (argc != 5 || !argv) return false;
    for (int i = 1; i < 5; ++i)
        if (!argv[i]) return false;
    UpdaterRequest parsed = {};
    if (std::strcmp(argv[1], "Launcher") == 0) {
        parsed.kind = UpdateKind::Launcher;
    } else if (std::strcmp(argv[1], "Installer") == 0) {
        parsed.kind = UpdateKind::Installer;
    } else {
        return false;
    }
    if (!ParseProcessId(argv[2], &parsed.processId)) return false;
    // The installer road has no process to wait for: the launcher always gives 0 there.
    if (parsed.kind == UpdateKind::Installer && parsed.processId != 0) return false;
    if (!ParseFileVersion(argv[3], &parsed.version)) return false;
    // Written back from the numbers, so "01.1.1.25" and "1.1.1.25" fetch the same path.
    if (!FormatFileVersion(parsed.version, parsed.versionText, sizeof parsed.versionText)) return false;
    if (!ParseBase(argv[4], parsed.base, sizeof parsed.base)) return false;
    *request = parsed;
    return true;
}
