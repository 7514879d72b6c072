// The encrypted version record "config": written, read back and checked.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings/config_cipher.h"
#include "settings/launcher_settings.h"
#include "settings/version_record.h"
#include "support/message_box_recorder.h"
#include "support/temp_folder.h"

namespace {

std::string EncryptText(const std::string& plain) {
    std::vector<uint8_t> out(ConfigCipher::EncryptedSize(ConfigCipher::kConfigKeyLength, plain.size()));
    std::size_t n = ConfigCipher::Encrypt(ConfigCipher::kConfigKey, ConfigCipher::kConfigKeyLength,
                                          reinterpret_cast<const uint8_t*>(plain.data()), plain.size(),
                                          out.data(), out.size());
    return std::string(reinterpret_cast<char*>(out.data()), n);
}

std::string DecryptText(const std::string& message) {
    std::vector<uint8_t> out(message.size() + 1);
    std::size_t n = ConfigCipher::Decrypt(ConfigCipher::kConfigKey, ConfigCipher::kConfigKeyLength,
                                          reinterpret_cast<const uint8_t*>(message.data()), message.size(),
                                          out.data(), out.size());
    return std::string(reinterpret_cast<char*>(out.data()), n);
}

class VersionRecord : public ::testing::Test {
protected:
    void SetUp() override { ClearRecordedBoxes(); }
    TempFolder folder;
};

}  // namespace

TEST_F(VersionRecord, WritingFiftySevenGivesA38ByteFileThatReadsBack) {
    CurrentVersion = 57;
    ASSERT_EQ(1, WriteVersionRecord());
    std::string bytes = folder.Read("config");
    ASSERT_EQ(38u, bytes.size());
    EXPECT_EQ(3, bytes[21]);
    EXPECT_EQ("[Version] 57\n", DecryptText(bytes));
    EXPECT_FALSE(folder.Exists("config.new"));
    CurrentVersion = 0;
    EXPECT_EQ(1, ReadVersionRecord());
    EXPECT_EQ(57, CurrentVersion);
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(VersionRecord, AcceptedContents) {
    struct Case { const char* plain; int32_t version; };
    for (Case c : {Case{"[version] 7", 7}, Case{"[VERSION]\t12abc\n", 12}, Case{"[Version] -3\n", -3},
                   Case{"  [Version]   10002  trailing words", 10002}}) {
        folder.Write("config", EncryptText(c.plain));
        EXPECT_EQ(1, ReadVersionRecord()) << c.plain;
        EXPECT_EQ(c.version, CurrentVersion) << c.plain;
    }
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(VersionRecord, ZeroOrMissingVersionShowsTheVersionBox) {
    for (const char* plain : {"[Version] 0\n", "[Version]", "[Version] abc"}) {
        ClearRecordedBoxes();
        CurrentVersion = 99;
        folder.Write("config", EncryptText(plain));
        EXPECT_EQ(0, ReadVersionRecord()) << plain;
        EXPECT_EQ(0, CurrentVersion);
        auto boxes = RecordedBoxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(LauncherSettings.MsgVersionMissing, boxes[0].text);
        EXPECT_EQ(LauncherSettings.ErrorCaption, boxes[0].caption);
        EXPECT_EQ(BoxOwner::MainWindow, boxes[0].owner);
    }
}

TEST_F(VersionRecord, EmptyGarbageOrHugeFilesShowTheIncorrectBox) {
    std::string huge(static_cast<std::size_t>(kMaxVersionRecordSize) + 1, 'x');
    for (const std::string& bytes : {std::string(), std::string("plain text, not a message"),
                                     EncryptText("Version 5"), huge}) {
        ClearRecordedBoxes();
        folder.Write("config", bytes);
        EXPECT_EQ(0, ReadVersionRecord());
        EXPECT_EQ(0, CurrentVersion);
        auto boxes = RecordedBoxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(LauncherSettings.MsgConfigIncorrect, boxes[0].text);
        EXPECT_EQ(BoxOwner::MainWindow, boxes[0].owner);
    }
}

TEST_F(VersionRecord, MissingFileIsQuiet) {
    CurrentVersion = 42;
    EXPECT_EQ(0, ReadVersionRecord());
    EXPECT_EQ(42, CurrentVersion);
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(VersionRecord, LongTokensAreCutNotOverrun) {
    folder.Write("config", EncryptText("[Version] " + std::string(600, '9')));
    EXPECT_EQ(1, ReadVersionRecord());
    EXPECT_EQ(2147483647, CurrentVersion);
    folder.Write("config", EncryptText(std::string(600, '[') + " 5"));
    EXPECT_EQ(0, ReadVersionRecord());
}

TEST_F(VersionRecord, ReplacingKeepsTheOldRecordUntilTheNewOneIsComplete) {
    CurrentVersion = 10003;
    ASSERT_EQ(1, WriteVersionRecord());
    // A stale temporary from an interrupted write does not matter: it is rewritten.
    folder.Write("config.new", "partial");
    CurrentVersion = 10004;
    ASSERT_EQ(1, WriteVersionRecord());
    EXPECT_EQ("[Version] 10004\n", DecryptText(folder.Read("config")));
    EXPECT_FALSE(folder.Exists("config.new"));
}

TEST_F(VersionRecord, UnwritableFolderShowsTheOpenBox) {
    std::filesystem::create_directory(folder.path() / "config.new");  // blocks the temporary
    CurrentVersion = 5;
    EXPECT_EQ(0, WriteVersionRecord());
    auto boxes = RecordedBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Can't open Config", boxes[0].text);
    EXPECT_EQ("Error", boxes[0].caption);
    EXPECT_EQ(BoxOwner::None, boxes[0].owner);
}
