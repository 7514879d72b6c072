// AES-256 block cipher (FIPS-197): key expansion, one-block encryption and decryption.
#pragma once

#include <cstdint>

struct Aes256Key {
    uint8_t roundKeys[240];  // 15 round keys of 16 bytes
};

void Aes256ExpandKey(const uint8_t key[32], Aes256Key* expanded);
void Aes256EncryptBlock(const Aes256Key& key, const uint8_t in[16], uint8_t out[16]);
void Aes256DecryptBlock(const Aes256Key& key, const uint8_t in[16], uint8_t out[16]);
