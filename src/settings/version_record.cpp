// Reading and writing the encrypted version record.
#include "settings/version_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bounded_text.h"
#include "common/text_scan.h"
#include "common/file_replace.h"
#include "common/message_box.h"
#include "settings/config_cipher.h"
#include "settings/launcher_settings.h"

std::atomic<int32_t> CurrentVersion{0};

namespace {

constexpr const char* kRecordName = "config";
constexpr const char* kRecordTempName = "config.new";
constexpr std::size_t kTokenMax = 255;

int RejectAsIncorrect() {
    ShowMessageBox(BoxOwner::MainWindow, LauncherSettings.MsgConfigIncorrect,
                   LauncherSettings.ErrorCaption, kBoxOk);
    return 0;
}

}  // namespace

VersionRecordText ParseVersionRecordText(const char* plain, int32_t* version) {
    char key[kTokenMax + 1];
    char number[kTokenMax + 1];
    const char* rest = NextToken(plain, key, sizeof key);
    NextToken(rest, number, sizeof number);
    if (key[0] == '\0' || !EqualsIgnoreCase(key, "[Version]")) return VersionRecordText::Incorrect;
    *version = ReadLeadingDecimal(number);
    return *version == 0 ? VersionRecordText::VersionMissing : VersionRecordText::Version;
}

int ReadVersionRecord() {
    FILE* file = std::fopen(kRecordName, "rb");
    if (!file) return 0;
    CurrentVersion = 0;

    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    if (length < 0 || length > kMaxVersionRecordSize || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return RejectAsIncorrect();
    }
    std::size_t size = static_cast<std::size_t>(length);
    uint8_t* message = static_cast<uint8_t*>(std::malloc(size + 1));
    char* plain = static_cast<char*>(std::malloc(size + 1));
    if (!message || !plain) {
        std::free(message);
        std::free(plain);
        std::fclose(file);
        return RejectAsIncorrect();
    }
    std::size_t got = std::fread(message, 1, size, file);
    std::fclose(file);

    std::size_t plainLength = ConfigCipher::Decrypt(ConfigCipher::kConfigKey, ConfigCipher::kConfigKeyLength,
                                                    message, got, reinterpret_cast<uint8_t*>(plain), size);
    plain[plainLength] = '\0';
    std::free(message);

    int32_t version = 0;
    VersionRecordText text = ParseVersionRecordText(plain, &version);
    std::free(plain);

    if (text == VersionRecordText::Incorrect) return RejectAsIncorrect();

    CurrentVersion = version;
    if (text == VersionRecordText::VersionMissing) {
        ShowMessageBox(BoxOwner::MainWindow, LauncherSettings.MsgVersionMissing,
                       LauncherSettings.ErrorCaption, kBoxOk);
        return 0;
    }
    return 1;
}

int WriteVersionRecord() {
    char plain[256] = {0};
    FormatText(plain, sizeof plain, "[Version] %d\n", static_cast<int>(CurrentVersion));
    std::size_t plainLength = std::strlen(plain);
    uint8_t message[512];
    std::size_t messageLength = ConfigCipher::Encrypt(ConfigCipher::kConfigKey, ConfigCipher::kConfigKeyLength,
                                                      reinterpret_cast<const uint8_t*>(plain), plainLength,
                                                      message, sizeof message);

    FILE* file = std::fopen(kRecordTempName, "wb");
    if (!file) {
        ShowMessageBox(BoxOwner::None, "Can't open Config", "Error", kBoxOk);
        return 0;
    }
    bool written = std::fwrite(message, 1, messageLength, file) == messageLength;
    written = std::fflush(file) == 0 && written;
    written = FlushFileToDisk(file) && written;
    written = std::fclose(file) == 0 && written;
    if (!written || !ReplaceFileWith(kRecordTempName, kRecordName)) {
        std::remove(kRecordTempName);
        ShowMessageBox(BoxOwner::None, "Can't open Config", "Error", kBoxOk);
        return 0;
    }
    return 1;
}
