// PartialFile and CommitFile on real files: exclusive names, removal of what was not
// committed, and no move before the bytes are on disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <set>
#include <string>

#include "common/partial_file_win32.h"
#include "support/debug_output_win32.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

}  // namespace

// Files and folders that carry the names a partial file would take are passed over, never
// emptied; the file that is not committed leaves nothing.
TEST(PartialFile, TakesANameNoFileHasAndLeavesNothingUncommitted) {
    TempFolder folder;
    folder.Write("b.part", "client file");
    folder.Write("b.~0.part", "client file too");
    ASSERT_TRUE(CreateDirectoryA("b.~1.part", nullptr));
    {
        PartialFile file("test");
        ASSERT_TRUE(file.Create("b"));
        EXPECT_STREQ("b.~2.part", file.Name());
        ASSERT_TRUE(file.Write("never committed", 15));
        EXPECT_TRUE(folder.Exists("b.~2.part"));
    }
    EXPECT_EQ((std::set<std::string>{"b.part", "b.~0.part", "b.~1.part"}), Names(folder.path()));

    PartialFile file("test");
    ASSERT_TRUE(file.Create("b"));
    ASSERT_TRUE(file.Write("abc", 3));
    file.Discard();
    ASSERT_TRUE(file.Create("b"));
    ASSERT_TRUE(file.Write("new", 3));
    EXPECT_EQ(kCommitted, file.Commit("b"));
    EXPECT_EQ("new", folder.Read("b"));
    EXPECT_EQ("client file", folder.Read("b.part"));
    EXPECT_EQ("client file too", folder.Read("b.~0.part"));
    EXPECT_EQ((std::set<std::string>{"b", "b.part", "b.~0.part", "b.~1.part"}), Names(folder.path()));

    // A missing folder is told apart, so the caller can create it and try again.
    EXPECT_FALSE(file.Create("missing/c"));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), file.LastError());
}

// The one observable trace of the flush: a file whose bytes cannot be put on disk (here a
// handle without write access, which FlushFileBuffers refuses) never takes the target's place.
TEST(PartialFile, NothingIsMovedBeforeItsBytesAreOnDisk) {
    TempFolder folder;
    DebugOutputRecorder debug;
    folder.Write("t.bin", "old");
    folder.Write("w.part", "new");
    FileHandle readOnly(CreateFileA("w.part", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(readOnly);
    EXPECT_EQ(kCommitNotOnDisk, CommitFile(std::move(readOnly), "w.part", "t.bin", "test"));
    EXPECT_EQ("old", folder.Read("t.bin"));
    EXPECT_FALSE(folder.Exists("w.part"));
    EXPECT_TRUE(debug.Saw("launcher: test flush failed (t.bin): error " + std::to_string(ERROR_ACCESS_DENIED) + "\n"));

    // With write access the same commit goes through, over a read-only, hidden target too.
    folder.Write("w.part", "new");
    ASSERT_TRUE(SetFileAttributesA("t.bin", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    FileHandle writable(CreateFileA("w.part", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writable);
    EXPECT_EQ(kCommitted, CommitFile(std::move(writable), "w.part", "t.bin", "test"));
    EXPECT_EQ("new", folder.Read("t.bin"));
    EXPECT_FALSE(folder.Exists("w.part"));

    // A folder cannot be replaced: the target stays, the written file goes, the code is told.
    ASSERT_TRUE(CreateDirectoryA("dir", nullptr));
    PartialFile file("test");
    ASSERT_TRUE(file.Create("dir"));
    EXPECT_EQ(kCommitNotMoved, file.Commit("dir"));
    EXPECT_TRUE(fs::is_directory(folder.path() / "dir"));
    EXPECT_EQ((std::set<std::string>{"dir", "t.bin"}), Names(folder.path()));
    EXPECT_TRUE(debug.Saw("launcher: test move failed (dir): error "));
}

// A file made in a folder of its own and written through: renamed through its handle over a
// plain target in another folder and onto a new name; refused by a read-only, hidden target
// until its attributes are cleared; never over a folder. Nothing is left in the staging folder.
TEST(PartialFile, AWriteThroughFileInAStagingFolderTakesItsPlaceThroughItsHandle) {
    TempFolder folder;
    DebugOutputRecorder debug;
    ASSERT_TRUE(CreateDirectoryA("stage", nullptr));
    folder.Write("Data/plain.bin", "old");
    folder.Write("Data/ro.bin", "old");
    ASSERT_TRUE(SetFileAttributesA("Data\\ro.bin", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(CreateDirectoryA("Data\\dir.bin", nullptr));
    for (const char* target : {"Data/plain.bin", "Data/new.bin", "Data/ro.bin"}) {
        PartialFile file("test");
        ASSERT_TRUE(file.CreateIn("stage", target, true));
        EXPECT_EQ(std::string("stage\\") + fs::path(target).filename().string() + ".~0.part", file.Name());
        ASSERT_TRUE(file.Write("new", 3));
        EXPECT_EQ(kCommitted, file.Commit(target)) << target;
        EXPECT_EQ("new", folder.Read(target)) << target;
    }
    PartialFile file("test");
    ASSERT_TRUE(file.CreateIn("stage", "Data/dir.bin", true));
    EXPECT_EQ(kCommitNotMoved, file.Commit("Data/dir.bin"));
    EXPECT_TRUE(fs::is_directory(folder.path() / "Data" / "dir.bin"));
    EXPECT_TRUE(debug.Saw("launcher: test move failed (Data/dir.bin): error "));
    EXPECT_TRUE(Names(folder.path() / "stage").empty());
    EXPECT_EQ((std::set<std::string>{"dir.bin", "new.bin", "plain.bin", "ro.bin"}), Names(folder.path() / "Data"));
}
