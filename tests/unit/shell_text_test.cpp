// The launcher folder cut, the updater command line and the game-start error messages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launch/launch_errors.h"
#include "shell/startup_text.h"

TEST(StartupText, LauncherFolderIsCutAtTheLastBackslash) {
    struct Case { const char* path; const char* folder; };
    for (Case c : {Case{"C:\\Games\\Client\\launcher.exe", "C:\\Games\\Client"}, Case{"C:\\launcher.exe", "C:"},
                   Case{"launcher.exe", "launcher.exe"}, Case{"\\\\x", "\\\\x"}, Case{"ab\\c", "ab"}}) {
        char path[256];
        std::strcpy(path, c.path);
        CutAtLastBackslash(path);
        EXPECT_STREQ(c.folder, path) << c.path;
    }
}

TEST(StartupText, UpdaterCommandLines) {
    char line[256];
    ASSERT_TRUE(FormatUpdaterCommand(line, sizeof line, false, 0, "1.0.0.10", "https://cdn.example.com/base"));
    EXPECT_STREQ("Updater Installer 0 1.0.0.10 https://cdn.example.com/base", line);
    ASSERT_TRUE(FormatUpdaterCommand(line, sizeof line, true, 4242, "1.1.1.25", "https://cdn.example.com/base"));
    EXPECT_STREQ("Updater Launcher 4242 1.1.1.25 https://cdn.example.com/base", line);
    std::string longUrl = "https://cdn.example.com/" + std::string(240, 'p');
    EXPECT_FALSE(FormatUpdaterCommand(line, sizeof line, true, 4242, "1.1.1.25", longUrl.c_str()));
    EXPECT_STREQ("", line);  // never a cut address
}

TEST(LaunchErrors, TableRowsInOrderAndTheGenericRow) {
    LaunchErrorMessage message;
    for (unsigned code : {1114u, 1154u, 1157u, 5097u, 5080u}) {
        DescribeLaunchError(code, &message);
        EXPECT_TRUE(message.ownedByMainWindow);
        EXPECT_EQ(0, std::strncmp(message.text, "DLL", 3)) << code;
    }
    DescribeLaunchError(2, &message);
    std::string missing = message.text;
    DescribeLaunchError(3, &message);
    EXPECT_EQ(missing, message.text);
    for (unsigned code : {11u, 13u, 31u, 32u, 33u, 193u}) {
        DescribeLaunchError(code, &message);
        EXPECT_TRUE(message.ownedByMainWindow) << code;
        EXPECT_NE(missing, message.text);
    }
    DescribeLaunchError(1400, &message);
    EXPECT_FALSE(message.ownedByMainWindow);
    // "에러:1400의 ..." in CP949
    EXPECT_EQ(0, std::strncmp(message.text, "\xBF\xA1\xB7\xAF:1400\xC0\xC7", 11));
}
