// The version record's message format: salt, padding count, AES-256 ECB blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ConfigCipher {

// The built-in key text (11 bytes, no terminator).
extern const uint8_t kConfigKey[11];
constexpr std::size_t kConfigKeyLength = 11;

// Size of the message for a plaintext of plainLength bytes under a key of keyLength bytes.
std::size_t EncryptedSize(std::size_t keyLength, std::size_t plainLength);

// Writes the message into out (capacity outCapacity). Returns the bytes written, or 0 when
// out is too small (a real message always holds at least the padding byte).
std::size_t Encrypt(const uint8_t* key, std::size_t keyLength, const uint8_t* plain,
                    std::size_t plainLength, uint8_t* out, std::size_t outCapacity);

// Decrypts message into out and returns the plaintext length. out needs messageLength bytes
// at most: a malformed message whose header claims more padding than it holds keeps every
// decrypted byte, which never exceeds the message's own length.
std::size_t Decrypt(const uint8_t* key, std::size_t keyLength, const uint8_t* message,
                    std::size_t messageLength, uint8_t* out, std::size_t outCapacity);

}  // namespace ConfigCipher
