// AES-256 against the FIPS-197 example vector, and the ConfigCipher message layout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings/aes256.h"
#include "settings/config_cipher.h"

namespace {

std::vector<uint8_t> Bytes(const char* hex) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; hex[i] && hex[i + 1]; i += 2) out.push_back(static_cast<uint8_t>(std::stoul(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

std::vector<uint8_t> Encrypt(const std::string& plain, const uint8_t* key = ConfigCipher::kConfigKey,
                             std::size_t keyLength = ConfigCipher::kConfigKeyLength) {
    std::vector<uint8_t> out(ConfigCipher::EncryptedSize(keyLength, plain.size()));
    std::size_t n = ConfigCipher::Encrypt(key, keyLength, reinterpret_cast<const uint8_t*>(plain.data()),
                                          plain.size(), out.data(), out.size());
    out.resize(n);
    return out;
}

std::string Decrypt(const std::vector<uint8_t>& message, const uint8_t* key = ConfigCipher::kConfigKey,
                    std::size_t keyLength = ConfigCipher::kConfigKeyLength) {
    std::vector<uint8_t> out(message.size() + 1);
    std::size_t n = ConfigCipher::Decrypt(key, keyLength, message.data(), message.size(), out.data(), out.size());
    return std::string(reinterpret_cast<char*>(out.data()), n);
}

}  // namespace

TEST(Aes256, Fips197AppendixC3BothDirections) {
    auto key = Bytes("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    auto plain = Bytes("00112233445566778899aabbccddeeff");
    auto expected = Bytes("8ea2b7ca516745bfeafc49904b496089");
    Aes256Key expanded;
    Aes256ExpandKey(key.data(), &expanded);
    uint8_t out[16];
    Aes256EncryptBlock(expanded, plain.data(), out);
    EXPECT_EQ(0, std::memcmp(out, expected.data(), 16));
    uint8_t back[16];
    Aes256DecryptBlock(expanded, out, back);
    EXPECT_EQ(0, std::memcmp(back, plain.data(), 16));
}

TEST(ConfigCipher, MessageSizesFollowThePlaintextLength) {
    struct Case { std::size_t length; std::size_t size; uint8_t padding; };
    for (Case c : {Case{0, 22, 0}, Case{13, 38, 3}, Case{16, 38, 0}, Case{17, 54, 15}, Case{32, 54, 0}}) {
        auto message = Encrypt(std::string(c.length, 'x'));
        ASSERT_EQ(c.size, message.size()) << c.length;
        EXPECT_EQ(c.padding, message[21]) << c.length;
        EXPECT_EQ(std::string(c.length, 'x'), Decrypt(message)) << c.length;
    }
}

TEST(ConfigCipher, SaltMakesEveryMessageDifferent) {
    auto a = Encrypt("[Version] 57\n");
    auto b = Encrypt("[Version] 57\n");
    ASSERT_EQ(a.size(), b.size());
    EXPECT_NE(0, std::memcmp(a.data(), b.data(), 21));
    EXPECT_NE(0, std::memcmp(a.data() + 22, b.data() + 22, 16));
    EXPECT_EQ("[Version] 57\n", Decrypt(a));
    EXPECT_EQ("[Version] 57\n", Decrypt(b));
}

TEST(ConfigCipher, MalformedMessages) {
    // Shorter than salt and padding byte: nothing.
    EXPECT_EQ("", Decrypt(std::vector<uint8_t>(21, 7)));
    EXPECT_EQ("", Decrypt({}));
    // A trailing partial block is ignored.
    auto message = Encrypt(std::string(16, 'a'));
    message.push_back(1);
    message.push_back(2);
    EXPECT_EQ(std::string(16, 'a'), Decrypt(message));
    // A padding count larger than the message wraps: every decrypted byte is kept.
    auto wrapped = Encrypt(std::string(16, 'b'));
    wrapped[21] = 200;
    EXPECT_EQ(16u, Decrypt(wrapped).size());
}

TEST(ConfigCipher, ZeroBytesSurviveTheRoundTrip) {
    std::string plain("a\0b\0\0c", 6);
    EXPECT_EQ(plain, Decrypt(Encrypt(plain)));
}

TEST(ConfigCipher, KeyLongerThan32BytesHasNoSalt) {
    std::vector<uint8_t> key(40, 'k');
    auto message = Encrypt("hello", key.data(), key.size());
    ASSERT_EQ(17u, message.size());
    EXPECT_EQ(11, message[0]);
    EXPECT_EQ("hello", Decrypt(message, key.data(), key.size()));
}
