// SHA-256 and ECDSA P-256 through the system's own crypto (BCrypt, Windows 7 and later): the
// hash of downloads and manifests, the manifest's signature check, and the check of a file on
// disk against a verified manifest (for anything that installs what it downloaded).
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/manifest.h"

// SHA-256 of data handed over in pieces, in the order given. Owns a system hash object;
// move-only. Good() is false when the system could not create one, and every call then fails.
class Sha256Stream {
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(Sha256Stream&& other) noexcept;
    Sha256Stream& operator=(Sha256Stream&& other) noexcept;
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;

    bool Good() const { return hash_ != nullptr; }
    bool Update(const void* data, std::size_t length);
    // Writes the digest of everything fed so far; the stream is spent afterwards.
    bool Finish(uint8_t digest[kSha256Size]);

private:
    void Close();
    void* hash_;  // BCRYPT_HASH_HANDLE, kept opaque so that callers need no <bcrypt.h>
};

// The digest of one block of bytes. Returns 1, or 0 when the system could not hash.
int Sha256Of(const void* data, std::size_t length, uint8_t digest[kSha256Size]);

// The size and digest of a whole file, read once from start to end. Returns 1, or 0 when
// it could not be opened or read.
int HashFile(const char* path, uint64_t* size, uint8_t digest[kSha256Size]);

// Whether signature (r || s) is publicKey's (X || Y, a point of NIST P-256) ECDSA signature of
// the 32-byte digest. Returns 1 only for a good signature; 0 for a wrong one, a key that is
// not on the curve, or a system without ECDSA.
int VerifyP256Signature(const uint8_t publicKey[kPublicKeySize], const uint8_t digest[kSha256Size],
                        const uint8_t signature[kSignatureSize]);

// VerifyP256Signature over the SHA-256 of exactly length bytes of text.
int VerifySignedText(const uint8_t publicKey[kPublicKeySize], const char* text, std::size_t length,
                     const uint8_t signature[kSignatureSize]);

// The file could not be read (see the kFile* results of manifest.h for the others).
constexpr int kFileUnreadable = 4;

// Hashes localFile and checks it against manifestPath's entry of a verified manifest:
// kFileVerified, kFileUnlisted, kFileSizeDiffers, kFileHashDiffers or kFileUnreadable. An
// unlisted path is refused before the file is read.
int VerifyFileAgainstManifest(const Manifest& manifest, const char* manifestPath, const char* localFile);
