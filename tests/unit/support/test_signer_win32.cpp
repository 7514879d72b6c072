// Test keys and signatures through BCrypt.
#include "support/test_signer_win32.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "update/signature_win32.h"

TestSigner::TestSigner() : key_(nullptr) {
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    BCryptOpenAlgorithmProvider(&provider, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (provider && BCryptGenerateKeyPair(provider, &key, 256, 0) >= 0 && BCryptFinalizeKeyPair(key, 0) >= 0) {
        key_ = key;
        unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPublicKeySize];
        ULONG length = 0;
        if (BCryptExportKey(key, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof blob, &length, 0) >= 0 &&
            length == sizeof blob)
            std::memcpy(publicKey_, blob + sizeof(BCRYPT_ECCKEY_BLOB), kPublicKeySize);
    }
    if (provider) BCryptCloseAlgorithmProvider(provider, 0);
}

TestSigner::~TestSigner() {
    if (key_) BCryptDestroyKey(static_cast<BCRYPT_KEY_HANDLE>(key_));
}

std::string TestSigner::Sign(const std::string& text) const {
    uint8_t digest[kSha256Size];
    unsigned char signature[kSignatureSize];
    ULONG length = 0;
    if (!key_ || !Sha256Of(text.data(), text.size(), digest) ||
        BCryptSignHash(static_cast<BCRYPT_KEY_HANDLE>(key_), nullptr, digest, sizeof digest, signature,
                       sizeof signature, &length, 0) < 0)
        return std::string();
    return std::string(reinterpret_cast<char*>(signature), length);
}

std::string ManifestSizeAndHash(const std::string& data) {
    uint8_t digest[kSha256Size] = {};
    Sha256Of(data.data(), data.size(), digest);
    static const char digits[] = "0123456789abcdef";
    std::string line = std::to_string(data.size()) + " ";
    for (uint8_t byte : digest) {
        line += digits[byte >> 4];
        line += digits[byte & 15];
    }
    return line;
}
