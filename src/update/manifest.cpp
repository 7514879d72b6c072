// Parsing the signed manifest and checking files and freshness against it.
#include "update/manifest.h"

#include <cstring>

#include "common/bounded_text.h"

namespace {

// One line of the text without its "\n"; the parser only ever moves forward over it.
struct Field {
    const char* at;
    std::size_t length;
};

bool TakeWord(Field* line, const char* word) {
    const std::size_t n = std::strlen(word);
    if (line->length < n || std::memcmp(line->at, word, n) != 0) return false;
    line->at += n;
    line->length -= n;
    return true;
}

// The text up to the next blank (or the whole rest), and the blank itself when there is one.
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
    if (field.length == 0 || field.length > kManifestNumberDigits) return false;
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

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ReadHash(Field field, uint8_t out[kSha256Size]) {
    if (field.length != 2 * kSha256Size) return false;
    for (std::size_t i = 0; i < kSha256Size; ++i) {
        const int high = HexDigit(field.at[2 * i]);
        const int low = HexDigit(field.at[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

bool IsPathByte(unsigned char c) { return c > 0x20 && c != 0x7F; }

bool ReadPath(Field field, char out[kManifestPathSize]) {
    if (field.length == 0 || field.length >= kManifestPathSize) return false;
    for (std::size_t i = 0; i < field.length; ++i)
        if (!IsPathByte(static_cast<unsigned char>(field.at[i]))) return false;
    std::memcpy(out, field.at, field.length);
    out[field.length] = '\0';
    return true;
}

// "file <path> <size> <hash>" into entry.
bool ReadFileLine(Field line, ManifestEntry* entry) {
    bool blank = false;
    if (!TakeWord(&line, "file ")) return false;
    if (!ReadPath(TakeUntilBlank(&line, &blank), entry->Path) || !blank) return false;
    if (!ReadNumber(TakeUntilBlank(&line, &blank), &entry->Size) || !blank) return false;
    return ReadHash(line, entry->Sha256);
}

// A line "<word> <number>" and nothing else.
bool ReadNumberLine(Field line, const char* word, uint64_t* value) {
    return TakeWord(&line, word) && TakeWord(&line, " ") && ReadNumber(line, value);
}

// The lines of a text whose every line ends in "\n".
class Lines {
public:
    Lines(const char* text, std::size_t length) : text_(text), length_(length) {}
    bool Next(Field* line) {
        if (position_ >= length_) return false;
        const char* start = text_ + position_;
        const char* newline = static_cast<const char*>(std::memchr(start, '\n', length_ - position_));
        // The caller made sure the text ends in "\n", so there always is one here.
        line->at = start;
        line->length = static_cast<std::size_t>(newline - start);
        position_ += line->length + 1;
        return true;
    }

private:
    const char* text_;
    std::size_t length_;
    std::size_t position_ = 0;
};

bool ParseInto(const char* text, std::size_t length, Manifest* out) {
    if (length == 0 || length > kManifestMaxBytes || text[length - 1] != '\n') return false;
    if (std::memchr(text, '\0', length) != nullptr) return false;
    Lines lines(text, length);
    Field line;
    if (!lines.Next(&line) || line.length != std::strlen(kManifestFormatLine) ||
        std::memcmp(line.at, kManifestFormatLine, line.length) != 0)
        return false;
    if (!lines.Next(&line) || !ReadNumberLine(line, "sequence", &out->Sequence)) return false;
    bool more = lines.Next(&line);
    if (more && ReadNumberLine(line, "expires", &out->Expires)) {
        out->HasExpiry = 1;
        more = lines.Next(&line);
    }
    for (; more; more = lines.Next(&line)) {
        if (out->FileCount == kManifestMaxFiles) return false;
        ManifestEntry& entry = out->Files[out->FileCount];
        if (!ReadFileLine(line, &entry)) return false;
        // Ascending order makes a path listed twice (which of its hashes would count?)
        // impossible, and lets a lookup halve the list.
        if (out->FileCount > 0 && std::strcmp(out->Files[out->FileCount - 1].Path, entry.Path) >= 0) return false;
        ++out->FileCount;
    }
    return true;
}

void Empty(Manifest* manifest) {
    manifest->Sequence = 0;
    manifest->HasExpiry = 0;
    manifest->Expires = 0;
    // Entries past FileCount are never read; clearing the count is enough.
    manifest->FileCount = 0;
}

}  // namespace

int ParseManifest(const char* text, std::size_t length, Manifest* out) {
    Empty(out);
    if (ParseInto(text, length, out)) return 1;
    Empty(out);
    return 0;
}

const ManifestEntry* FindManifestEntry(const Manifest& manifest, const char* path) {
    std::size_t low = 0;
    std::size_t high = manifest.FileCount;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const int order = std::strcmp(manifest.Files[middle].Path, path);
        if (order == 0) return &manifest.Files[middle];
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return nullptr;
}

int CheckManifestFreshness(const Manifest& manifest, uint64_t keptSequence, int64_t now) {
    if (manifest.Sequence < keptSequence) return kManifestRolledBack;
    // A clock before 1970 cannot be trusted to be before any expiry either.
    if (manifest.HasExpiry && (now < 0 || static_cast<uint64_t>(now) >= manifest.Expires)) return kManifestExpired;
    return kManifestFresh;
}

int CheckFileAgainstManifest(const Manifest& manifest, const char* path, uint64_t size,
                             const uint8_t sha256[kSha256Size]) {
    const ManifestEntry* entry = FindManifestEntry(manifest, path);
    if (!entry) return kFileUnlisted;
    if (entry->Size != size) return kFileSizeDiffers;
    if (std::memcmp(entry->Sha256, sha256, kSha256Size) != 0) return kFileHashDiffers;
    return kFileVerified;
}

int ManifestPathOf(const char* subPath, const char* name, char* out, std::size_t size) {
    while (*subPath == '/') ++subPath;
    if (!FormatText(out, size, "%s%s", subPath, name)) return 0;
    return out[0] != '\0' && std::strlen(out) < kManifestPathSize ? 1 : 0;
}
