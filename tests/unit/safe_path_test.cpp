// Relative-name rules for patch files and archive entries, directory parts, archive names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "paths/safe_path.h"

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

// Archive entry names: "." components are the folder they stand in, as every unzip tool reads
// them; what is left must pass IsSafeRelativePath.
TEST(ArchiveEntryPath, DotComponentsAreDropped) {
    struct Case {
        const char* stored;
        const char* path;
    };
    for (Case c : {Case{"./a.bin", "a.bin"}, Case{"./Data/Maps/a.bin", "Data/Maps/a.bin"}, Case{"Data/./b", "Data/b"},
                   Case{".\\a.bin", "a.bin"}, Case{".\\Data\\.\\b", "Data\\b"}, Case{"./Data/", "Data/"},
                   Case{"a/./", "a/"}, Case{"a/.", "a/"}, Case{"./././a", "a"}, Case{"./Mixed\\.\\b/c", "Mixed\\b/c"},
                   Case{"a/./b/./c.txt", "a/b/c.txt"}, Case{"./.hidden", ".hidden"}, Case{"./..a", "..a"},
                   // Names IsSafeRelativePath accepts come out as they went in.
                   Case{"Data/Maps/a.bin", "Data/Maps/a.bin"}, Case{"Data\\", "Data\\"}, Case{"a..b", "a..b"},
                   Case{"\xC6\xD0\xC4\xA1/./\xB5\xA5.bin", "\xC6\xD0\xC4\xA1/\xB5\xA5.bin"}}) {
        char path[64];
        std::memset(path, 'x', sizeof path);
        EXPECT_EQ(kEntryPathInside, ArchiveEntryPath(c.stored, path, sizeof path)) << c.stored;
        EXPECT_STREQ(c.path, path) << c.stored;
    }
}

TEST(ArchiveEntryPath, NothingButDotsIsTheFolderItself) {
    for (const char* stored : {".", "./", ".\\", "./.", "././", ".\\.\\", "./.\\"}) {
        char path[16] = "x";
        EXPECT_EQ(kEntryPathFolder, ArchiveEntryPath(stored, path, sizeof path)) << stored;
        EXPECT_STREQ("", path) << stored;
    }
}

TEST(ArchiveEntryPath, WhatIsRefusedStaysRefused) {
    for (const char* stored : {"", "..", "../a", "./../a", ".\\..\\a", "./..", "a/./..", "a/./../../b", "./../",
                               ".//a", ".\\\\a", "/./a", "\\.\\a", "a/.//b", "a//./b", "./a.", "./a ", "./. ",
                               "./ .", "./...", "./.. /x", "./C:x", "./C:\\x", "./a:s", "./CON", "Data/./nul.txt",
                               "./a?b", "./a\tb", "/", "//", ".//", "/.", "\\\\.\\PhysicalDrive0"}) {
        char path[64];
        std::memset(path, 'x', sizeof path);
        EXPECT_EQ(kEntryPathRefused, ArchiveEntryPath(stored, path, sizeof path)) << '"' << stored << '"';
        EXPECT_STREQ("", path) << stored;
    }
    char path[8] = "x";
    EXPECT_EQ(kEntryPathRefused, ArchiveEntryPath(nullptr, path, sizeof path));
    EXPECT_STREQ("", path);
}

TEST(ArchiveEntryPath, StaysInsideItsDestination) {
    char small[6];
    std::memset(small, 'x', sizeof small);
    // "./abcde" leaves five characters and the NUL: just fits; one more does not.
    EXPECT_EQ(kEntryPathInside, ArchiveEntryPath("./abcde", small, sizeof small));
    EXPECT_STREQ("abcde", small);
    EXPECT_EQ(kEntryPathRefused, ArchiveEntryPath("./abcdef", small, sizeof small));
    EXPECT_STREQ("", small);
    char guarded[2] = {'x', 'x'};
    EXPECT_EQ(kEntryPathRefused, ArchiveEntryPath("a", guarded, 0));
    EXPECT_EQ('x', guarded[0]);
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
