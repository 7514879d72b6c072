// A throw-away P-256 key for tests, made and used through BCrypt: signed manifests for the
// keyed fetch and the download checks, without any key kept in the repository.
#pragma once

#include <cstdint>
#include <string>

#include "update/manifest.h"

class TestSigner {
public:
    TestSigner();  // a new key pair
    ~TestSigner();
    TestSigner(const TestSigner&) = delete;
    TestSigner& operator=(const TestSigner&) = delete;

    // X || Y, as the launcher keeps a built-in key.
    const uint8_t* PublicKey() const { return publicKey_; }
    // The 64-byte r || s signature of text's SHA-256.
    std::string Sign(const std::string& text) const;

private:
    void* key_;  // BCRYPT_KEY_HANDLE
    uint8_t publicKey_[kPublicKeySize] = {};
};

// "size hash" of data as a manifest line writes them.
std::string ManifestSizeAndHash(const std::string& data);
