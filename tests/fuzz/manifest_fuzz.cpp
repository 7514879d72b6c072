// The signed manifest as a server could send it (its signature checked or not, the parser is
// what reads it). Input: the text's bytes, in a heap block of exactly their length.
//
// A refused text must leave an empty manifest. An accepted one must be the canonical text of
// what was parsed, byte for byte (so no two texts mean the same manifest and nothing was
// skipped), with every path terminated in its field, in ascending order, found by the lookup,
// and every file check of an entry against itself verified.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "update/manifest.h"

namespace {

std::string Canonical(const Manifest& m) {
    std::string text = std::string(kManifestFormatLine) + "\n";
    text += "sequence " + std::to_string(m.Sequence) + "\n";
    if (m.HasExpiry) text += "expires " + std::to_string(m.Expires) + "\n";
    for (uint32_t i = 0; i < m.FileCount; ++i) {
        const ManifestEntry& e = m.Files[i];
        text += "file " + std::string(e.Path) + " " + std::to_string(e.Size) + " ";
        char hex[3];
        for (uint8_t byte : e.Sha256) {
            std::snprintf(hex, sizeof hex, "%02x", byte);
            text += hex;
        }
        text += "\n";
    }
    return text;
}

void CheckEntries(const Manifest& m) {
    FUZZ_CHECK(m.FileCount <= kManifestMaxFiles);
    for (uint32_t i = 0; i < m.FileCount; ++i) {
        const ManifestEntry& e = m.Files[i];
        FUZZ_CHECK(TerminatedWithin(e.Path, kManifestPathSize));
        FUZZ_CHECK(e.Path[0] != '\0');
        for (const char* p = e.Path; *p; ++p) FUZZ_CHECK(static_cast<unsigned char>(*p) > 0x20 && *p != 0x7F);
        if (i > 0) FUZZ_CHECK(std::strcmp(m.Files[i - 1].Path, e.Path) < 0);
        FUZZ_CHECK(FindManifestEntry(m, e.Path) == &e);
        FUZZ_CHECK(CheckFileAgainstManifest(m, e.Path, e.Size, e.Sha256) == kFileVerified);
        FUZZ_CHECK(CheckFileAgainstManifest(m, e.Path, e.Size + 1, e.Sha256) == kFileSizeDiffers);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static Manifest manifest;
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    if (size) std::memcpy(text.get(), data, size);

    const int result = ParseManifest(text.get(), size, &manifest);
    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 0) {
        FUZZ_CHECK(manifest.Sequence == 0 && manifest.HasExpiry == 0 && manifest.FileCount == 0);
        return 0;
    }
    CheckEntries(manifest);
    FUZZ_CHECK(manifest.Sequence < 1000000000000000000ull);
    const std::string canonical = Canonical(manifest);
    if (canonical.size() != size || std::memcmp(canonical.data(), data, size) != 0)
        FuzzFail(__FILE__, __LINE__, "an accepted text is not the canonical text of what was parsed");
    return 0;
}
