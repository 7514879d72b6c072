// SHA-256 and ECDSA P-256 verification with BCrypt.
#include "update/signature_win32.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "common/win32_handle.h"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// Opened once and kept for the process: opening a provider costs more than hashing a manifest.
// Function-local statics are initialised once even when two threads get here together.
BCRYPT_ALG_HANDLE OpenProvider(const wchar_t* algorithm) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0))) return nullptr;
    return handle;
}

BCRYPT_ALG_HANDLE Sha256Provider() {
    static const BCRYPT_ALG_HANDLE provider = OpenProvider(BCRYPT_SHA256_ALGORITHM);
    return provider;
}

BCRYPT_ALG_HANDLE EcdsaP256Provider() {
    static const BCRYPT_ALG_HANDLE provider = OpenProvider(BCRYPT_ECDSA_P256_ALGORITHM);
    return provider;
}

struct KeyTraits {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle Empty() { return nullptr; }
    static void Close(Handle h) { BCryptDestroyKey(h); }
};
using KeyHandle = UniqueHandle<KeyTraits>;

}  // namespace

Sha256Stream::Sha256Stream() : hash_(nullptr) {
    BCRYPT_ALG_HANDLE provider = Sha256Provider();
    BCRYPT_HASH_HANDLE hash = nullptr;
    // No object buffer: since Windows 7 the system keeps the hash object itself.
    if (provider && Succeeded(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) hash_ = hash;
}

Sha256Stream::~Sha256Stream() { Close(); }

Sha256Stream::Sha256Stream(Sha256Stream&& other) noexcept : hash_(other.hash_) { other.hash_ = nullptr; }

Sha256Stream& Sha256Stream::operator=(Sha256Stream&& other) noexcept {
    if (this != &other) {
        Close();
        hash_ = other.hash_;
        other.hash_ = nullptr;
    }
    return *this;
}

void Sha256Stream::Close() {
    if (hash_) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(hash_));
    hash_ = nullptr;
}

bool Sha256Stream::Update(const void* data, std::size_t length) {
    if (!hash_) return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    // BCryptHashData takes a 32-bit length; a larger block goes in several calls.
    while (length > 0) {
        const ULONG piece = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
        if (!Succeeded(BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(hash_), const_cast<PUCHAR>(bytes), piece, 0))) {
            Close();
            return false;
        }
        bytes += piece;
        length -= piece;
    }
    return true;
}

bool Sha256Stream::Finish(uint8_t digest[kSha256Size]) {
    if (!hash_) return false;
    const bool done = Succeeded(BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(hash_), digest, kSha256Size, 0));
    Close();
    return done;
}

int Sha256Of(const void* data, std::size_t length, uint8_t digest[kSha256Size]) {
    Sha256Stream stream;
    return stream.Update(data, length) && stream.Finish(digest) ? 1 : 0;
}

int HashFile(const char* path, uint64_t* size, uint8_t digest[kSha256Size]) {
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return 0;
    Sha256Stream stream;
    unsigned char piece[16384];
    uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), piece, sizeof piece, &got, nullptr)) return 0;
        if (got == 0) break;
        if (!stream.Update(piece, got)) return 0;
        total += got;
    }
    if (!stream.Finish(digest)) return 0;
    *size = total;
    return 1;
}

int VerifyP256Signature(const uint8_t publicKey[kPublicKeySize], const uint8_t digest[kSha256Size],
                        const uint8_t signature[kSignatureSize]) {
    BCRYPT_ALG_HANDLE provider = EcdsaP256Provider();
    if (!provider) return 0;
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPublicKeySize];
    BCRYPT_ECCKEY_BLOB header;
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = kPublicKeySize / 2;
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, publicKey, kPublicKeySize);
    BCRYPT_KEY_HANDLE key = nullptr;
    // The import refuses a point that is not on the curve.
    if (!Succeeded(BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof blob, 0))) return 0;
    KeyHandle owned(key);
    const NTSTATUS status = BCryptVerifySignature(owned.Get(), nullptr, const_cast<PUCHAR>(digest), kSha256Size,
                                                  const_cast<PUCHAR>(signature), kSignatureSize, 0);
    return status == 0 ? 1 : 0;
}

int VerifySignedText(const uint8_t publicKey[kPublicKeySize], const char* text, std::size_t length,
                     const uint8_t signature[kSignatureSize]) {
    uint8_t digest[kSha256Size];
    if (!Sha256Of(text, length, digest)) return 0;
    return VerifyP256Signature(publicKey, digest, signature);
}

int VerifyFileAgainstManifest(const Manifest& manifest, const char* manifestPath, const char* localFile) {
    if (!FindManifestEntry(manifest, manifestPath)) return kFileUnlisted;
    uint64_t size = 0;
    uint8_t digest[kSha256Size];
    if (!HashFile(localFile, &size, digest)) return kFileUnreadable;
    return CheckFileAgainstManifest(manifest, manifestPath, size, digest);
}
