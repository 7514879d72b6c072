// The version record "config": its cipher and the reading of its text. The input serves as a
// message to decrypt, as a plaintext to encrypt and read back, as a decrypted record text,
// and as the bytes of a "config" file read by ReadVersionRecord in a scratch folder.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "settings/config_cipher.h"
#include "settings/launcher_settings.h"
#include "settings/version_record.h"
#include "support/message_box_recorder.h"

namespace {

using ConfigCipher::kConfigKey;
using ConfigCipher::kConfigKeyLength;

// Exactly capacity bytes on the heap, so ASan sees a write one past the end.
std::unique_ptr<uint8_t[]> Buffer(std::size_t capacity) {
    return std::unique_ptr<uint8_t[]>(new uint8_t[capacity ? capacity : 1]);
}

std::string Decrypt(const uint8_t* key, std::size_t keyLength, const uint8_t* message, std::size_t size) {
    auto out = Buffer(size);
    std::size_t n = ConfigCipher::Decrypt(key, keyLength, message, size, out.get(), size);
    FUZZ_CHECK(n <= size);
    return std::string(reinterpret_cast<const char*>(out.get()), n);
}

std::vector<uint8_t> Encrypt(const std::string& plain) {
    std::size_t size = ConfigCipher::EncryptedSize(kConfigKeyLength, plain.size());
    auto out = Buffer(size);
    std::size_t n = ConfigCipher::Encrypt(kConfigKey, kConfigKeyLength, reinterpret_cast<const uint8_t*>(plain.data()),
                                          plain.size(), out.get(), size);
    FUZZ_CHECK(n == size);
    return std::vector<uint8_t>(out.get(), out.get() + n);
}

void CheckDecryptBounds(const uint8_t* data, std::size_t size) {
    std::string full = Decrypt(kConfigKey, kConfigKeyLength, data, size);
    // The salt and the padding byte come first; only whole blocks after them are decrypted.
    const std::size_t header = 32 - kConfigKeyLength + 1;
    FUZZ_CHECK(size >= header || full.empty());
    if (size >= header) FUZZ_CHECK(full.size() <= (size - header) / 16 * 16);

    // A smaller buffer receives the same bytes, cut at its end.
    std::size_t capacity = full.size() / 2 + (size & 7);
    auto small = Buffer(capacity);
    std::size_t n = ConfigCipher::Decrypt(kConfigKey, kConfigKeyLength, data, size, small.get(), capacity);
    FUZZ_CHECK(n <= capacity && n <= full.size());
    FUZZ_CHECK(std::memcmp(small.get(), full.data(), n) == 0);
    FUZZ_CHECK(n == full.size() || n == capacity);

    // Any key length, the input's own first bytes as the key: bounds hold all the same.
    std::size_t keyLength = size % 41;
    Decrypt(data, keyLength, data, size);
}

void CheckRoundTrip(const uint8_t* data, std::size_t size) {
    std::string plain(reinterpret_cast<const char*>(data), size);
    std::vector<uint8_t> message = Encrypt(plain);
    FUZZ_CHECK(Decrypt(kConfigKey, kConfigKeyLength, message.data(), message.size()) == plain);

    std::size_t exact = message.size();
    auto tooSmall = Buffer(exact - 1);
    FUZZ_CHECK(ConfigCipher::Encrypt(kConfigKey, kConfigKeyLength, data, size, tooSmall.get(), exact - 1) == 0);
}

// ReadVersionRecord reads "config" from the working directory; it runs in the scratch folder
// and the process's own directory comes back right after.
int ReadRecordIn(ScratchFolder& folder) {
    static int home = open(".", O_RDONLY | O_DIRECTORY);
    if (home < 0 || chdir(folder.path().c_str()) != 0) FuzzFail(__FILE__, __LINE__, "cannot enter the scratch folder");
    ClearRecordedBoxes();
    int result = ReadVersionRecord();
    if (fchdir(home) != 0) FuzzFail(__FILE__, __LINE__, "cannot leave the scratch folder");
    return result;
}

// What ReadVersionRecord must have done for a record whose text reads as expected.
void CheckReadAgrees(int result, VersionRecordText expected, int32_t version) {
    std::vector<RecordedBox> boxes = RecordedBoxes();
    switch (expected) {
    case VersionRecordText::Version:
        FUZZ_CHECK(result == 1);
        FUZZ_CHECK(CurrentVersion == version && version != 0);
        FUZZ_CHECK(boxes.empty());
        return;
    case VersionRecordText::VersionMissing:
    case VersionRecordText::Incorrect:
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(CurrentVersion == 0);
        FUZZ_CHECK(boxes.size() == 1);
        FUZZ_CHECK(boxes[0].text == (expected == VersionRecordText::Incorrect ? LauncherSettings.MsgConfigIncorrect
                                                                              : LauncherSettings.MsgVersionMissing));
        FUZZ_CHECK(boxes[0].caption == LauncherSettings.ErrorCaption);
        FUZZ_CHECK(boxes[0].owner == BoxOwner::MainWindow);
        return;
    }
    FuzzFail(__FILE__, __LINE__, "unknown VersionRecordText");
}

VersionRecordText ParseText(const std::string& text, int32_t* version) {
    const int32_t kUntouched = 0x5a5a5a5a;
    *version = kUntouched;
    VersionRecordText kind = ParseVersionRecordText(text.c_str(), version);
    switch (kind) {
    case VersionRecordText::Incorrect: FUZZ_CHECK(*version == kUntouched); *version = 0; break;
    case VersionRecordText::VersionMissing: FUZZ_CHECK(*version == 0); break;
    case VersionRecordText::Version: FUZZ_CHECK(*version != 0); break;
    }
    return kind;
}

void CheckRecordText(const uint8_t* data, std::size_t size, ScratchFolder& folder) {
    // The text as the decrypting reader sees it: up to its first NUL.
    std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    int32_t version = 0;
    VersionRecordText kind = ParseText(text, &version);

    std::vector<uint8_t> message = Encrypt(text);
    if (!folder.Write("config", message.data(), message.size())) FuzzFail(__FILE__, __LINE__, "cannot write config");
    CheckReadAgrees(ReadRecordIn(folder), kind, version);

    // Whatever WriteVersionRecord stores for a non-zero version reads back as that version.
    int32_t written = 0;
    if (size >= 4) std::memcpy(&written, data, sizeof written);
    if (written != 0) {
        char record[64];
        std::snprintf(record, sizeof record, "[Version] %d\n", static_cast<int>(written));
        int32_t back = 0;
        FUZZ_CHECK(ParseText(record, &back) == VersionRecordText::Version && back == written);
    }
}

void CheckRawFile(const uint8_t* data, std::size_t size, ScratchFolder& folder) {
    if (!folder.Write("config", data, size)) FuzzFail(__FILE__, __LINE__, "cannot write config");
    int result = ReadRecordIn(folder);
    std::string plain = Decrypt(kConfigKey, kConfigKeyLength, data, size);
    int32_t version = 0;
    VersionRecordText kind = ParseText(plain.c_str(), &version);
    CheckReadAgrees(result, kind, version);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // Encrypt draws its salt from rand(): the same input must always run the same way.
    std::srand(1);
    ScratchFolder& folder = ScratchFolder::Get();
    CheckDecryptBounds(data, size);
    CheckRoundTrip(data, size);
    CheckRecordText(data, size, folder);
    CheckRawFile(data, size, folder);
    return 0;
}
