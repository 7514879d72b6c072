// A patch file checked against the verified manifest while it downloads (a launcher with a
// signing key): listed, as long as listed, and with the listed SHA-256, hashed chunk by chunk
// so that the file is never read a second time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "update/manifest.h"
#include "update/signature_win32.h"

class DownloadCheck {
public:
    // The file fetched from PatchBaseUrl + subPath + name. Without ManifestRequired every
    // call below passes and nothing is hashed.
    DownloadCheck(const char* subPath, const char* name);

    // False when a manifest is required and does not list the file: it must not be fetched.
    bool Listed() const { return !required_ || entry_ != nullptr; }
    // Hashes the next chunk. False once more bytes arrived than the manifest lists: the
    // transfer can stop there, the file is not the one published.
    bool Feed(const void* data, std::size_t length);
    // After the last chunk: true when no manifest is required, or the size and hash match.
    bool Verified();

private:
    bool required_;
    const ManifestEntry* entry_ = nullptr;
    std::optional<Sha256Stream> hash_;
    uint64_t received_ = 0;
};
