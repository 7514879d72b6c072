// Parsing the signed manifest and checking files and freshness against it.
#include "update/manifest.h"

#include <cstring>

#include "common/bounded_text.h"
#include "update/line_fields.h"

namespace {

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
    return ReadHexBytes(line, entry->Sha256, kSha256Size);
}

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

int CheckManifestFreshness(const Manifest& manifest, uint64_t keptSequence, int64_t now, int expiryRequired) {
    if (manifest.Sequence < keptSequence) return kManifestRolledBack;
    if (expiryRequired && !manifest.HasExpiry) return kManifestExpired;
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
