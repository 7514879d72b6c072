// The staging folders of ExtractArchive on real archives: gone after every archive, swept when
// a kill left one, passed by where a file or an entry takes their name, and a kill mid-archive
// (a real process ended by TerminateProcess) leaving every file whole.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "common/shared_text.h"
#include "common/win32_handle.h"
#include "download/unpack_stage_win32.h"
#include "download/zip_extract.h"
#include "support/temp_folder.h"
#include "support/zip_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kChildFolder = "UNPACK_STAGE_CHILD_FOLDER";

std::string Text(const SharedText& text) {
    char copy[SharedText::kSize];
    text.CopyTo(copy, sizeof copy);
    return copy;
}

// Every name below root, folders included, relative and with "/".
std::set<std::string> AllNames(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        names.insert(fs::relative(entry.path(), root).generic_string());
    return names;
}

std::set<std::string> Matching(const std::set<std::string>& names, const std::string& part) {
    std::set<std::string> found;
    for (const auto& name : names)
        if (name.find(part) != std::string::npos) found.insert(name);
    return found;
}

unsigned long long SizeOf(const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class Stage : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder.path() / "in");
        SetCurrentDirectoryA((folder.path() / "in").string().c_str());
    }
    void TearDown() override { SetCurrentDirectoryA(folder.path().string().c_str()); }
    int Run(const std::string& archive, const ZipWriter& zip) {
        folder.Write("in/" + archive, zip.Bytes());
        const int result = ExtractArchive(archive.c_str(), &message);
        DeleteFileA(archive.c_str());
        return result;
    }
    std::string In(const std::string& name) const { return folder.Read("in/" + name); }
    std::set<std::string> Names() const { return AllNames(folder.path() / "in"); }

    TempFolder folder;
    SharedText message{"before"};
};

}  // namespace

// Entries into several folders, folders switched back and forth: every staging folder is gone
// afterwards, and so is every partial file.
TEST_F(Stage, NoStagingFolderOutlivesAnArchive) {
    ASSERT_EQ(1, Run("a.zip", ZipWriter()
                                  .Stored("Data/a.bin", "A")
                                  .Deflated("top.txt", "T")
                                  .Stored("Data/Maps/m.bin", "M")
                                  .Stored("Data/b.bin", "B")));
    EXPECT_EQ("A", In("Data/a.bin"));
    EXPECT_EQ("B", In("Data/b.bin"));
    EXPECT_EQ("M", In("Data/Maps/m.bin"));
    EXPECT_EQ("T", In("top.txt"));
    EXPECT_EQ((std::set<std::string>{"Data", "Data/Maps", "Data/Maps/m.bin", "Data/a.bin", "Data/b.bin", "top.txt"}),
              Names());
}

// A failure mid-archive: the entries before it are in place, the failed one and those after it
// untouched, and neither a partial file nor a staging folder is left.
TEST_F(Stage, AFailureMidArchiveLeavesEarlierEntriesPlacedAndNothingStaged) {
    folder.Write("in/Data/b.bin", "old b");
    folder.Write("in/Data/c.bin", "old c");
    EXPECT_EQ(0, Run("bad.zip", ZipWriter()
                                    .Stored("Data/a.bin", "new a")
                                    .DamagedAfter("Data/b.bin", TestBytes(200000, 4), 100000)
                                    .Stored("Data/c.bin", "new c")));
    EXPECT_EQ("Extracting bad.zip - error in reading zip file", Text(message));
    EXPECT_EQ("new a", In("Data/a.bin"));
    EXPECT_EQ("old b", In("Data/b.bin"));
    EXPECT_EQ("old c", In("Data/c.bin"));
    EXPECT_EQ((std::set<std::string>{"Data", "Data/a.bin", "Data/b.bin", "Data/c.bin"}), Names());
}

// What a kill or a power cut leaves: a staging folder holding partial files nobody holds. The
// next archive into that folder sweeps them and removes the folder; a file of a player's in a
// folder of that name is kept, and so is the folder then.
TEST_F(Stage, AStagingFolderLeftByAKillIsSweptAtTheNextArchive) {
    folder.Write("in/Data/~unpack/a.bin.~0.part", "half of a");
    folder.Write("in/Data/~unpack/b.bin.~3.part", "half of b");
    fs::create_directories(folder.path() / "in" / "~unpack");
    folder.Write("in/Other/~unpack/notes.txt", "a player's notes");
    ASSERT_EQ(1, Run("a.zip", ZipWriter()
                                  .Stored("Data/a.bin", "whole a")
                                  .Stored("top.txt", "T")
                                  .Stored("Other/o.bin", "O")));
    EXPECT_EQ("whole a", In("Data/a.bin"));
    EXPECT_EQ("a player's notes", In("Other/~unpack/notes.txt"));
    EXPECT_EQ((std::set<std::string>{"Data", "Data/a.bin", "Other", "Other/o.bin", "Other/~unpack",
                                     "Other/~unpack/notes.txt", "top.txt"}),
              Names());
}

// A client file where the staging folder would go, and entries whose own names pass through
// the staging name: all are unpacked beside their files instead, and the file is untouched.
TEST_F(Stage, AFileOrAnEntryTakingTheStagingNameIsLeftAsItIs) {
    folder.Write("in/Data/~unpack", "a client file");
    ASSERT_EQ(1, Run("a.zip", ZipWriter()
                                  .Stored("Data/a.bin", "A")
                                  .Stored("~UNPACK/x.txt", "X")
                                  .Stored("Sub/~unpack", "an entry of that name")));
    EXPECT_EQ("a client file", In("Data/~unpack"));
    EXPECT_EQ("A", In("Data/a.bin"));
    EXPECT_EQ("X", In("~UNPACK/x.txt"));
    EXPECT_EQ("an entry of that name", In("Sub/~unpack"));
    EXPECT_EQ((std::set<std::string>{"Data", "Data/a.bin", "Data/~unpack", "Sub", "Sub/~unpack", "~UNPACK",
                                     "~UNPACK/x.txt"}),
              Names());
}

// Targets that refuse the move until their attributes are cleared: every one replaced, each
// attribute alone and together; a folder where a file should go stays a folder.
TEST_F(Stage, ReadOnlyHiddenAndSystemTargetsAreReplaced) {
    const DWORD kinds[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
    ZipWriter zip;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "Data/t" + std::to_string(i) + ".bin";
        folder.Write("in/" + name, "old");
        ASSERT_TRUE(SetFileAttributesA(name.c_str(), kinds[i]));
        zip.Stored(name, "new " + std::to_string(i));
    }
    ASSERT_EQ(1, Run("r.zip", zip));
    for (int i = 0; i < 4; ++i) EXPECT_EQ("new " + std::to_string(i), In("Data/t" + std::to_string(i) + ".bin"));

    fs::create_directories(folder.path() / "in" / "Data" / "dir.bin");
    EXPECT_EQ(0, Run("d.zip", ZipWriter().Stored("Data/dir.bin", "file")));
    EXPECT_EQ("Extracting d.zip - can't create extracted file Data/dir.bin", Text(message));
    EXPECT_TRUE(fs::is_directory(folder.path() / "in" / "Data" / "dir.bin"));
    EXPECT_TRUE(Matching(Names(), "~unpack").empty());
    EXPECT_TRUE(Matching(Names(), ".part").empty());
}

// The child side of the kill test: unpacks the archive it is given in the folder it is given.
TEST(StageChild, UnpacksUntilKilled) {
    const char* where = std::getenv(kChildFolder);
    if (!where) GTEST_SKIP() << "run by the kill test only";
    ASSERT_TRUE(SetCurrentDirectoryA(where));
    SharedText message;
    ExtractArchive("kill.zip", &message);
}

// A real kill mid-archive (this test program started again on the child test, ended with
// TerminateProcess once some entries are in place): every file is whole, the old version or
// the new one; no partial file is left outside a staging folder, and the next archive leaves
// none at all, nor any staging folder.
TEST_F(Stage, AKillMidArchiveLeavesEveryFileWholeAndTheNextRunCleansUp) {
    constexpr int kEntries = 1500;
    const std::string oldBytes(3000, 'o');
    const std::string newBytes(5000, 'n');
    ZipWriter zip;
    for (int i = 0; i < kEntries; ++i) {
        const std::string name = "Data/e" + std::to_string(i) + ".bin";
        folder.Write("in/" + name, oldBytes);
        zip.Deflated(name, newBytes);
    }
    folder.Write("in/kill.zip", zip.Bytes());

    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    const std::string where = (folder.path() / "in").string();
    ASSERT_TRUE(SetEnvironmentVariableA(kChildFolder, where.c_str()));
    std::string command = std::string("\"") + self + "\" --gtest_filter=StageChild.UnpacksUntilKilled";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    const BOOL ok = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                   &startup, &started);
    SetEnvironmentVariableA(kChildFolder, nullptr);
    ASSERT_TRUE(ok);
    KernelHandle process(started.hProcess);
    KernelHandle thread(started.hThread);
    // Killed once a tenth of the entries are in, or after 60 s whatever it reached. Only the
    // size is looked at: a reader holding the file open would make the child's move fail.
    const std::string watched = "Data\\e" + std::to_string(kEntries / 10) + ".bin";
    for (int waited = 0; waited < 6000 && SizeOf(watched) != newBytes.size(); ++waited)
        if (WaitForSingleObject(process.Get(), 10) == WAIT_OBJECT_0) break;
    TerminateProcess(process.Get(), 9);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 30000));

    int placed = 0;
    for (int i = 0; i < kEntries; ++i) {
        const std::string bytes = In("Data/e" + std::to_string(i) + ".bin");
        ASSERT_TRUE(bytes == oldBytes || bytes == newBytes) << i;
        placed += bytes == newBytes;
    }
    EXPECT_GT(placed, 0);
    EXPECT_LT(placed, kEntries);
    for (const auto& name : Matching(Names(), ".part")) EXPECT_EQ(0u, name.find("Data/~unpack/")) << name;

    // The step is done again, as the next start does.
    ASSERT_EQ(1, ExtractArchive("kill.zip", &message));
    for (int i = 0; i < kEntries; ++i) ASSERT_EQ(newBytes, In("Data/e" + std::to_string(i) + ".bin")) << i;
    EXPECT_TRUE(Matching(Names(), ".part").empty());
    EXPECT_TRUE(Matching(Names(), "~unpack").empty());
}
