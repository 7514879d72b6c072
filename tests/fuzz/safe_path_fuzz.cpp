// Relative names from the patch server and from archives. Input: the name up to its first NUL,
// in a heap block of exactly its length plus the NUL.
//
// IsSafeRelativePath is compared with a model written from what Windows does with a name
// (the way the launcher hands it to the ANSI file functions in code page 949), and every name
// it accepts is resolved component by component: it must never climb out of the folder. The
// same holds for archive entry names after ArchiveEntryPath has dropped their "." components:
// the stored name and the name created both stay inside, and the result is the model's.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "paths/safe_path.h"
#include "fuzz_support.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> Components(const std::string& name) {
    std::vector<std::string> parts(1);
    for (char c : name) {
        if (IsSeparator(c)) parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Windows reserves these names in every folder, whatever extension follows and with blanks
// before it; the COM and LPT numbers include the Latin-1 superscripts 1, 2 and 3, which code
// page 949 writes as A9 F6, A9 F7, A9 F8.
bool WindowsDevice(const std::string& component) {
    std::string base = LowerAscii(component.substr(0, component.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"})
        if (base == device) return true;
    const std::string stem = base.substr(0, 3);
    if (stem != "com" && stem != "lpt") return false;
    const std::string number = base.substr(3);
    if (number.size() == 1 && number[0] >= '1' && number[0] <= '9') return true;
    return number == "\xA9\xF6" || number == "\xA9\xF7" || number == "\xA9\xF8";
}

bool ReservedByte(unsigned char c) { return c < 0x20 || c == 0x7f || std::strchr("<>\"|?*:", c) != nullptr; }

bool ModelSafe(const std::string& name) {
    if (name.empty() || IsSeparator(name[0])) return false;
    const std::vector<std::string> parts = Components(name);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part.empty()) {
            if (i + 1 == parts.size()) continue;  // the one trailing separator of a folder entry
            return false;
        }
        for (char c : part)
            if (ReservedByte(static_cast<unsigned char>(c))) return false;
        if (part.back() == '.' || part.back() == ' ') return false;
        if (WindowsDevice(part)) return false;
    }
    return true;
}

// Where the name leads when Windows resolves it from the folder: trailing dots and blanks
// of a component are dropped, a component left with nothing but had two dots or more is the
// parent (".." and "...", ". ." alike), one with a single dot stays. True when it leaves the
// folder at any point, or is absolute or names a drive to begin with.
bool Escapes(const std::string& name) {
    if (name.empty() || IsSeparator(name[0]) || name.find(':') != std::string::npos) return true;
    int depth = 0;
    for (std::string part : Components(name)) {
        const auto dots = std::count(part.begin(), part.end(), '.');
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        if (!part.empty()) {
            ++depth;
        } else if (dots >= 2 && --depth < 0) {
            return true;
        }
    }
    return false;
}

// An entry name with its "." components, each with the separator after it, left out.
std::string WithoutDotComponents(const std::string& name) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const bool last = end == name.size();
        if (name.compare(start, end - start, ".") != 0) out += name.substr(start, end - start + (last ? 0 : 1));
        if (last) return out;
        start = end + 1;
    }
}

void CheckEntryPath(const char* text, const std::string& name, bool safe) {
    char path[256];
    const EntryPathKind kind = ArchiveEntryPath(text, path, sizeof path);
    FUZZ_CHECK(TerminatedWithin(path, sizeof path));
    const std::string expected = WithoutDotComponents(name);
    const bool fits = expected.size() < sizeof path;
    if (kind == kEntryPathInside) {
        FUZZ_CHECK(path == expected && IsSafeRelativePath(path));
        FUZZ_CHECK(!Escapes(name) && !Escapes(path));
    } else if (kind == kEntryPathFolder) {
        FUZZ_CHECK(!name.empty() && expected.empty() && path[0] == '\0');
        FUZZ_CHECK(!Escapes(name));
    } else {
        FUZZ_CHECK(kind == kEntryPathRefused && path[0] == '\0');
        FUZZ_CHECK(name.empty() || (!expected.empty() && (!fits || !ModelSafe(expected))));
    }
    // A name the patch-name rules accept has no "." component: it comes out as it went in.
    if (safe && name.size() < sizeof path) FUZZ_CHECK(kind == kEntryPathInside && path == name);
}

void CheckDirectoryOf(const char* text, const std::string& path, std::size_t destSize) {
    std::unique_ptr<char[]> dest(new char[destSize]);
    const int result = DirectoryOfPath(dest.get(), destSize, text);
    if (destSize == 0) {
        FUZZ_CHECK(result == 0);
        return;
    }
    // The copy, cut to the buffer, then cut at its last separator that is not its first byte.
    std::string copy = path.substr(0, destSize - 1);
    std::size_t cut = std::string::npos;
    for (std::size_t i = copy.size(); i > 1; --i) {
        if (IsSeparator(copy[i - 1])) {
            cut = i - 1;
            break;
        }
    }
    FUZZ_CHECK(TerminatedWithin(dest.get(), destSize));
    FUZZ_CHECK(result == (cut != std::string::npos ? 1 : 0));
    FUZZ_CHECK(dest.get() == (cut != std::string::npos ? copy.substr(0, cut) : copy));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // Names come from patch lines (63 bytes) and archive entries (255); paths are built in
    // 1024-byte buffers. Longer inputs only slow the search down.
    if (size > 1024) return 0;
    const std::size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), data, length);
    text[length] = '\0';
    const std::string name(text.get(), length);

    const bool safe = IsSafeRelativePath(text.get());
    const bool modelSafe = ModelSafe(name);
    if (safe && !modelSafe) FuzzFail(__FILE__, __LINE__, "IsSafeRelativePath accepts a name Windows would not keep as given");
    if (!safe && modelSafe) FuzzFail(__FILE__, __LINE__, "IsSafeRelativePath refuses a name its rules allow");
    if (safe) FUZZ_CHECK(!Escapes(name));
    CheckEntryPath(text.get(), name, safe);

    for (std::size_t destSize : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, length, length + 1,
                                 length + 2, std::size_t{260}})
        CheckDirectoryOf(text.get(), name, destSize);

    const std::string lower = LowerAscii(name);
    FUZZ_CHECK(IsArchiveName(text.get()) == (length > 3 && lower.compare(length - 3, 3, "zip") == 0));
    return 0;
}
