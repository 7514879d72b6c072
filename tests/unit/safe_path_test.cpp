// Relative-name rules for patch files and archive entries, directory parts, archive names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "download/safe_path.h"

TEST(SafeRelativePath, NamesThatStayInside) {
    for (const char* name : {"a.bin", "Data/Maps/a.bin", "Data\\Maps\\a.bin", "Data/Mixed\\b.txt",
                             "Data/Maps/", "Data\\", "..a", "a..b", ".hidden", "a/.config/b",
                             "my file.txt", "Brevanta.exe", "console.txt", "nul2.txt", "com10",
                             "lpt0.bin", "COM", "auxiliary/x", "x.con", "\xB0\xA1\xB3\xAA.txt",
                             "\xC6\xD0\xC4\xA1/\xB5\xA5\xC0\xCC\xC5\xCD.bin"}) {
        EXPECT_TRUE(IsSafeRelativePath(name)) << name;
    }
}

TEST(SafeRelativePath, NamesThatCouldLeaveTheFolder) {
    for (const char* name : {
             "", "..", "../a.txt", "..\\a.txt", "a/../../b.txt", "a\\..\\..\\b", "a/..", "a/../",
             ".", "./a.txt", "a/./b", "...", "a/.../b", ". .", ".. /x", "a/.. /b",
             "/a.txt", "\\a.txt", "/", "\\", "\\\\server\\share\\a.txt", "//server/share/a",
             "\\\\?\\C:\\a.txt", "\\\\.\\PhysicalDrive0",
             "C:a.txt", "C:\\a.txt", "c:/Windows/x.dll", "Z:", "a.txt:stream", "a.txt::$DATA",
             "dir/a.txt:ads", "a//b", "a\\\\b", "a/\\b", "a//",
             "trailing.", "trailing ", "dir./a", "dir /a",
             "CON", "con", "Nul", "nul.txt", "NUL .txt", "aux.zip", "PRN", "COM1", "com9.log",
             "LPT1", "lpt3.dat", "CONIN$", "conout$", "Data/NUL", "Data/com1.bin/x",
             "data/LPT\xA9\xF7.zip", "COM\xA9\xF6", "lpt\xA9\xF8.txt",
             "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\tb", "a\nb", "a\x01" "b", "a\x7f" "b"}) {
        EXPECT_FALSE(IsSafeRelativePath(name)) << '"' << name << '"';
    }
    EXPECT_FALSE(IsSafeRelativePath(nullptr));
}

TEST(DirectoryOfPath, CutsAtTheLastSeparatorAfterTheFirstCharacter) {
    struct Case {
        const char* path;
        int result;
        const char* directory;
    };
    for (Case c : {Case{"Data/Maps/a.bin", 1, "Data/Maps"}, Case{"Data\\Maps\\a.bin", 1, "Data\\Maps"},
                   Case{"Data/Maps/", 1, "Data/Maps"}, Case{"Data\\Maps\\", 1, "Data\\Maps"},
                   Case{"a/b\\c", 1, "a/b"}, Case{"a.bin", 0, "a.bin"}, Case{"/a.bin", 0, "/a.bin"},
                   Case{"\\", 0, "\\"}, Case{"", 0, ""}, Case{"//a", 1, "/"}, Case{"a/", 1, "a"}}) {
        char directory[64];
        std::memset(directory, 'x', sizeof directory);
        EXPECT_EQ(c.result, DirectoryOfPath(directory, sizeof directory, c.path)) << c.path;
        EXPECT_STREQ(c.directory, directory) << c.path;
    }
}

TEST(DirectoryOfPath, StaysInsideItsDestination) {
    char small[8];
    std::memset(small, 'x', sizeof small);
    // Only the part that fits is searched: "abcdefg" has no separator.
    EXPECT_EQ(0, DirectoryOfPath(small, sizeof small, "abcdefgh/i"));
    EXPECT_STREQ("abcdefg", small);
    EXPECT_EQ(1, DirectoryOfPath(small, sizeof small, "ab/cdefghijk"));
    EXPECT_STREQ("ab", small);
    char guarded[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(0, DirectoryOfPath(guarded, 0, "a/b"));
    EXPECT_EQ('x', guarded[0]);
}

TEST(ArchiveName, LastThreeLettersZipInAnyCase) {
    for (const char* name : {"a.zip", "A.ZIP", "patch.Zip", "x.zIP", "datazip", "Data/Maps/m.zip", "abcZiP"})
        EXPECT_TRUE(IsArchiveName(name)) << name;
    for (const char* name : {"zip", "ZIP", "Zip", "", "a.zi", "a.zipx", "a.bin", "zip.txt", "a.gz", "a.zi p"})
        EXPECT_FALSE(IsArchiveName(name)) << name;
    EXPECT_TRUE(IsArchiveName(".zip"));
}
