// The Updater's command line: the two roads, and every malformed word refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "updater/updater_args.h"

namespace {

bool Parse(std::initializer_list<const char*> words, UpdaterRequest* request) {
    std::vector<const char*> argv = {"Updater"};
    argv.insert(argv.end(), words.begin(), words.end());
    return ParseUpdaterArguments(static_cast<int>(argv.size()), argv.data(), request);
}

const char* kBase = "https://127.0.0.1:48443/Setup/live/StandaloneWindows64";

}  // namespace

TEST(UpdaterArguments, TheTwoCommandLinesOfTheLauncher) {
    UpdaterRequest request;
    ASSERT_TRUE(Parse({"Launcher", "4242", "1.1.1.25", kBase}, &request));
    EXPECT_EQ(UpdateKind::Launcher, request.kind);
    EXPECT_EQ(4242u, request.processId);
    EXPECT_STREQ("1.1.1.25", request.versionText);
    EXPECT_EQ(25, request.version.field[3]);
    EXPECT_STREQ(kBase, request.base);

    ASSERT_TRUE(Parse({"Installer", "0", "1.0.0.10", "HTTPS://cdn.example.com/Setup/"}, &request));
    EXPECT_EQ(UpdateKind::Installer, request.kind);
    EXPECT_EQ(0u, request.processId);
    EXPECT_STREQ("HTTPS://cdn.example.com/Setup", request.base);  // trailing "/" dropped

    ASSERT_TRUE(Parse({"Launcher", "4294967295", "01.1.1.025", "https://localhost:1"}, &request));
    EXPECT_EQ(4294967295u, request.processId);
    EXPECT_STREQ("1.1.1.25", request.versionText);  // the path is built from the numbers
}

TEST(UpdaterArguments, AnythingElseIsRefused) {
    const std::string longBase = std::string("https://") + std::string(kBaseUrlSize, 'a');
    const std::vector<std::vector<const char*>> cases = {
        {},
        {"Launcher", "1", "1.1.1.25"},
        {"Launcher", "1", "1.1.1.25", kBase, "extra"},
        {"launcher", "1", "1.1.1.25", kBase},
        {"Patch", "1", "1.1.1.25", kBase},
        {"Installer", "7", "1.0.0.10", kBase},  // the installer road waits for nobody
        {"Launcher", "-1", "1.1.1.25", kBase},
        {"Launcher", "4294967296", "1.1.1.25", kBase},
        {"Launcher", "", "1.1.1.25", kBase},
        {"Launcher", "12a", "1.1.1.25", kBase},
        {"Launcher", "1", "1.1.1", kBase},
        {"Launcher", "1", "1.1.1.25.1", kBase},
        {"Launcher", "1", "1.1.1.65536", kBase},
        {"Launcher", "1", "1.1..25", kBase},
        {"Launcher", "1", "1.1.1.25 ", kBase},
        {"Launcher", "1", "1.1.1.-2", kBase},
        {"Launcher", "1", "1.1.1.000025", kBase},
        {"Launcher", "1", "1.1.1.25", "http://127.0.0.1/Setup"},
        {"Launcher", "1", "1.1.1.25", "https://"},
        {"Launcher", "1", "1.1.1.25", "https:///Setup"},
        {"Launcher", "1", "1.1.1.25", "https://host/a b"},
        {"Launcher", "1", "1.1.1.25", "https://host/a?x=1"},
        {"Launcher", "1", "1.1.1.25", "https://host/a#x"},
        {"Launcher", "1", "1.1.1.25", "https://host\\a"},
        {"Launcher", "1", "1.1.1.25", "https://host/a\"b"},
        {"Launcher", "1", "1.1.1.25", "https://host/\x01"},
        {"Launcher", "1", "1.1.1.25", "https://host/\xB0\xA1"},
        {"Launcher", "1", "1.1.1.25", longBase.c_str()},
    };
    for (const auto& words : cases) {
        std::vector<const char*> argv = {"Updater"};
        argv.insert(argv.end(), words.begin(), words.end());
        std::string shown;
        for (const char* w : words) shown += std::string("[") + w + "]";
        SCOPED_TRACE(shown);
        UpdaterRequest request = {};
        request.processId = 77;
        EXPECT_FALSE(ParseUpdaterArguments(static_cast<int>(argv.size()), argv.data(), &request));
        EXPECT_EQ(77u, request.processId);  // nothing written on failure
    }
    EXPECT_FALSE(ParseUpdaterArguments(0, nullptr, nullptr));
}

TEST(FileVersions, ExactComparisonOfAllFourFields) {
    FileVersion a, b;
    ASSERT_TRUE(ParseFileVersion("1.1.1.25", &a));
    ASSERT_TRUE(ParseFileVersion("1.1.1.25", &b));
    EXPECT_TRUE(SameFileVersion(a, b));
    for (const char* other : {"1.1.1.24", "1.1.1.26", "0.1.1.25", "1.1.2.25", "65535.65535.65535.65535"}) {
        ASSERT_TRUE(ParseFileVersion(other, &b)) << other;
        EXPECT_FALSE(SameFileVersion(a, b)) << other;
    }
    char text[kVersionTextSize];
    EXPECT_TRUE(FormatFileVersion(b, text, sizeof text));
    EXPECT_STREQ("65535.65535.65535.65535", text);
    EXPECT_FALSE(FormatFileVersion(b, text, 8));
}
