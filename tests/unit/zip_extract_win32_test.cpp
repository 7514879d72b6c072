// ExtractArchive, ExtractEntry and MakeParentDirectories over real zip files on disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <set>
#include <string>

#include "common/shared_text.h"
#include "download/zip_extract.h"
#include "iowin32.h"
#include "support/temp_folder.h"
#include "support/zip_writer.h"

namespace fs = std::filesystem;

namespace {

std::string Text(const SharedText& text) {
    char copy[SharedText::kSize];
    text.CopyTo(copy, sizeof copy);
    return copy;
}

bool IsDirectory(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class Extract : public ::testing::Test {
protected:
    // Each test works in a sub-folder "in" of its temporary folder, so "outside" is a real,
    // checkable place.
    void SetUp() override {
        fs::create_directories(folder.path() / "in");
        SetCurrentDirectoryA((folder.path() / "in").string().c_str());
    }
    void TearDown() override { SetCurrentDirectoryA(folder.path().string().c_str()); }
    int Run(const std::string& archive, const ZipWriter& zip) {
        folder.Write("in/" + archive, zip.Bytes());
        return ExtractArchive(archive.c_str(), &message);
    }
    std::string In(const std::string& name) const { return folder.Read("in/" + name); }
    bool ExistsIn(const std::string& name) const { return folder.Exists("in/" + name); }
    std::set<std::string> NamesIn() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder.path() / "in"))
            names.insert(entry.path().filename().string());
        return names;
    }

    TempFolder folder;
    SharedText message{"before"};
};

}  // namespace

TEST_F(Extract, StoredAndDeflatedEntriesByteForByte) {
    std::string big = TestBytes(300000, 1);  // several 64 KB reads
    std::string small = "plain text\r\n";
    ASSERT_EQ(1, Run("p.zip", ZipWriter().Deflated("big.bin", big).Stored("small.txt", small).Deflated("empty.bin", "")));
    EXPECT_EQ(big, In("big.bin"));
    EXPECT_EQ(small, In("small.txt"));
    EXPECT_TRUE(ExistsIn("empty.bin"));
    EXPECT_EQ("", In("empty.bin"));
    EXPECT_EQ("Extracting p.zip - empty.bin", Text(message));
    // The archive is closed: the caller can delete it.
    EXPECT_TRUE(DeleteFileA("p.zip"));
}

TEST_F(Extract, SubDirectoriesWithoutDirectoryEntriesAreCreated) {
    ASSERT_EQ(1, Run("s.zip", ZipWriter()
                                  .Deflated("Data/Maps/a.bin", "A")
                                  .Stored("Data/b.txt", "B")
                                  .Deflated("Data\\Win\\Deep\\c.bin", "C")
                                  .Stored("top.txt", "T")));
    EXPECT_EQ("A", In("Data/Maps/a.bin"));
    EXPECT_EQ("B", In("Data/b.txt"));
    EXPECT_EQ("C", In("Data/Win/Deep/c.bin"));
    EXPECT_EQ("T", In("top.txt"));
    EXPECT_EQ("Extracting s.zip - top.txt", Text(message));
}

TEST_F(Extract, DirectoryEntryCreatesItsDirectoryAndSaysSo) {
    ASSERT_EQ(1, Run("d.zip", ZipWriter().Directory("Empty/Dir/")));
    EXPECT_TRUE(IsDirectory("Empty"));
    EXPECT_TRUE(IsDirectory("Empty\\Dir"));
    EXPECT_EQ("Extracting d.zip - creating directory: Empty/Dir/\n", Text(message));

    ASSERT_EQ(1, Run("e.zip", ZipWriter().Directory("Back\\Slash\\").Stored("Back\\Slash\\f.txt", "F")));
    EXPECT_TRUE(IsDirectory("Back\\Slash"));
    EXPECT_EQ("F", In("Back/Slash/f.txt"));
}

// bsdtar (the tar that Windows ships) names its entries "./Data/a.bin" after a first "./": "."
// is the folder it stands in, as every unzip tool reads it.
TEST_F(Extract, DotComponentsNameTheFolderTheyStandIn) {
    ASSERT_EQ(1, Run("bsd.zip", ZipWriter()
                                    .Directory("./")
                                    .Stored("./top.txt", "T")
                                    .Directory("./Data/")
                                    .Directory("./Data/Maps/")
                                    .Deflated("./Data/Maps/a.bin", "A")
                                    .Stored("Data/./b.txt", "B")
                                    .Stored(".\\Win\\.\\c.bin", "C")
                                    .Directory("./Data/./Deep/./")
                                    .Directory("./.")));
    EXPECT_EQ("T", In("top.txt"));
    EXPECT_EQ("A", In("Data/Maps/a.bin"));
    EXPECT_EQ("B", In("Data/b.txt"));
    EXPECT_EQ("C", In("Win/c.bin"));
    EXPECT_TRUE(IsDirectory("Data\\Deep"));
    EXPECT_EQ((std::set<std::string>{"Data", "Win", "bsd.zip", "top.txt"}), NamesIn());
    EXPECT_EQ("Extracting bsd.zip - creating directory: ./.\n", Text(message));

    ASSERT_EQ(1, Run("dot.zip", ZipWriter().Stored("./Data/Maps/a.bin", "new A")));
    EXPECT_EQ("new A", In("Data/Maps/a.bin"));
    EXPECT_EQ("Extracting dot.zip - Data/Maps/a.bin", Text(message));
}

// An entry the library cannot inflate would fail only once reached: the archive is refused
// before any entry, the ones before it included, is written.
TEST_F(Extract, AnEntryOfAMethodNotReadRefusesTheWholeArchive) {
    folder.Write("in/first.txt", "installed");
    const struct {
        unsigned short method;
        const char* label;
    } methods[] = {{9, "9"}, {12, "12"}, {14, "14"}, {93, "93"}};
    for (const auto& m : methods) {
        const std::string archive = std::string("m") + m.label + ".zip";
        EXPECT_EQ(0, Run(archive, ZipWriter()
                                      .Stored("first.txt", "new")
                                      .Directory("Dir/")
                                      .Deflated("Dir/ok.bin", "ok")
                                      .WithMethod("Dir/packed.bin", "packed data", m.method)
                                      .Stored("last.txt", "last")));
        EXPECT_EQ("Extracting " + archive + " - unsupported compression method " + m.label + " (Dir/packed.bin)",
                  Text(message));
        EXPECT_EQ("installed", In("first.txt"));
        EXPECT_EQ((std::set<std::string>{"first.txt", archive}), NamesIn());
        EXPECT_TRUE(DeleteFileA(archive.c_str()));
    }
}

TEST_F(Extract, ReadOnlyAndHiddenFilesAreOverwritten) {
    folder.Write("in/ro.txt", "old old old");
    folder.Write("in/sub/hidden.txt", "old");
    ASSERT_TRUE(SetFileAttributesA("ro.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA("sub\\hidden.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(1, Run("r.zip", ZipWriter().Stored("ro.txt", "new").Deflated("sub/hidden.txt", "fresh")));
    EXPECT_EQ("new", In("ro.txt"));
    EXPECT_EQ("fresh", In("sub/hidden.txt"));
}

TEST_F(Extract, EmptyArchiveCountsAsUnpackedAndLeavesTheMessage) {
    EXPECT_EQ(22u, ZipWriter().Bytes().size());
    EXPECT_EQ(1, Run("none.zip", ZipWriter()));
    EXPECT_EQ("before", Text(message));
    EXPECT_EQ(1, Run("comment.zip", ZipWriter().Comment("no entries here")));
    EXPECT_EQ("before", Text(message));
    EXPECT_TRUE(DeleteFileA("comment.zip"));
    // An end record that announces entries is no empty archive.
    EXPECT_EQ(0, Run("liar.zip", ZipWriter().AnnounceEntries(2)));
    EXPECT_EQ("Extracting liar.zip - error in opening file.", Text(message));
}

TEST_F(Extract, SixteenLevelsAreCreatedButNotSeventeen) {
    std::string sixteen;
    for (int i = 1; i <= 16; ++i) sixteen += "L" + std::to_string(i) + "/";
    ASSERT_EQ(1, Run("ok.zip", ZipWriter().Stored(sixteen + "f.txt", "ok")));
    EXPECT_EQ("ok", In(sixteen + "f.txt"));

    std::string seventeen;
    for (int i = 1; i <= 17; ++i) seventeen += "M" + std::to_string(i) + "/";
    EXPECT_EQ(0, Run("deep.zip", ZipWriter().Stored(seventeen + "f.txt", "no")));
    EXPECT_EQ("Extracting deep.zip - can't create extracted file " + seventeen + "f.txt", Text(message));
    std::string levels;
    for (int i = 1; i <= 16; ++i) levels += "M" + std::to_string(i) + "\\";
    EXPECT_TRUE(IsDirectory(levels.c_str()));
    EXPECT_FALSE(IsDirectory((levels + "M17").c_str()));
}

TEST_F(Extract, DamagedMiddleEntryStopsTheArchive) {
    std::string data = TestBytes(200000, 2);
    // The damaged entry's file is the old version's until the entry arrives whole.
    folder.Write("in/middle.bin", "previous version");
    EXPECT_EQ(0, Run("bad.zip", ZipWriter()
                                    .Deflated("first.bin", "first")
                                    .DamagedAfter("middle.bin", data, 100000)
                                    .Stored("last.bin", "last")));
    EXPECT_EQ("Extracting bad.zip - error in reading zip file", Text(message));
    EXPECT_EQ("first", In("first.bin"));
    EXPECT_EQ("previous version", In("middle.bin"));
    EXPECT_EQ((std::set<std::string>{"bad.zip", "first.bin", "middle.bin"}), NamesIn());
    EXPECT_TRUE(DeleteFileA("bad.zip"));
}

// Data that inflates without error can still be the wrong data: only its CRC-32 tells. A stored
// entry with one byte changed is damaged data, and the file it was to replace stays.
TEST_F(Extract, AnEntryThatDoesNotMatchItsCrcKeepsTheOldFile) {
    const std::string data = TestBytes(100000, 3);
    std::string bytes = ZipWriter().Stored("first.txt", "first").Stored("crc.bin", data).Stored("last.txt", "last").Bytes();
    const std::size_t at = bytes.find(data);
    ASSERT_NE(std::string::npos, at);
    bytes[at + 70000] = static_cast<char>(bytes[at + 70000] ^ 0x20);
    folder.Write("in/crc.bin", "previous version");
    folder.Write("in/crc.zip", bytes);

    EXPECT_EQ(0, ExtractArchive("crc.zip", &message));
    EXPECT_EQ("Extracting crc.zip - error in reading zip file", Text(message));
    EXPECT_EQ("first", In("first.txt"));
    EXPECT_EQ("previous version", In("crc.bin"));
    EXPECT_EQ((std::set<std::string>{"crc.bin", "crc.zip", "first.txt"}), NamesIn());

    zlib_filefunc_def functions;
    fill_win32_filefunc(&functions);
    unzFile zip = unzOpen2("crc.zip", &functions);
    ASSERT_NE(nullptr, zip);
    ASSERT_EQ(UNZ_OK, unzGoToNextFile(zip));
    char entryMessage[kEntryMessageSize];
    EXPECT_EQ(UNZ_CRCERROR, ExtractEntry(zip, entryMessage, sizeof entryMessage));
    EXPECT_STREQ("error in reading zip file", entryMessage);
    unzClose(zip);
}

// Entries and client files whose names end in ".part" are files like any other: unpacking the
// entry beside them never empties them.
TEST_F(Extract, FilesNamedLikePartialFilesSurvive) {
    folder.Write("in/b.part", "client file");
    folder.Write("in/sub/b.~0.part", "client file too");
    ASSERT_EQ(1, Run("p.zip", ZipWriter()
                                  .Stored("a.part", "entry a.part")
                                  .Deflated("a", "entry a")
                                  .Stored("b", "entry b")
                                  .Stored("sub/b", "entry sub/b")));
    EXPECT_EQ("entry a.part", In("a.part"));
    EXPECT_EQ("entry a", In("a"));
    EXPECT_EQ("entry b", In("b"));
    EXPECT_EQ("client file", In("b.part"));
    EXPECT_EQ("entry sub/b", In("sub/b"));
    EXPECT_EQ("client file too", In("sub/b.~0.part"));
    EXPECT_EQ((std::set<std::string>{"a", "a.part", "b", "b.part", "p.zip", "sub"}), NamesIn());
}

TEST_F(Extract, ArchiveLevelFailures) {
    folder.Write("in/text.zip", "this is not a zip archive at all");
    EXPECT_EQ(0, ExtractArchive("text.zip", &message));
    EXPECT_EQ("Extracting text.zip - error in opening file.", Text(message));

    EXPECT_EQ(0, ExtractArchive("missing.zip", &message));
    EXPECT_EQ("Extracting missing.zip - error in opening file.", Text(message));

    // The end record promises a third entry the central directory does not hold.
    EXPECT_EQ(0, Run("short.zip", ZipWriter().Stored("one.txt", "1").Stored("two.txt", "2").AnnounceEntries(3)));
    EXPECT_EQ("Extracting short.zip - error while getting next file in", Text(message));
    EXPECT_EQ("1", In("one.txt"));
    EXPECT_EQ("2", In("two.txt"));
    EXPECT_TRUE(DeleteFileA("short.zip"));
}

TEST_F(Extract, EntryThatCannotBeOpened) {
    EXPECT_EQ(0, Run("h.zip", ZipWriter().Stored("good.txt", "g").BadLocalHeader("broken.txt", "b")));
    EXPECT_EQ("Extracting h.zip - error -103 with zipfile in unzOpenCurrentFilePassword\n", Text(message));
    EXPECT_EQ("g", In("good.txt"));
    EXPECT_FALSE(ExistsIn("broken.txt"));
}

TEST_F(Extract, UnsafeEntryNamesAreRefusedBeforeAnythingIsWritten) {
    std::string drive = folder.path().root_name().string();  // "C:"
    const std::string names[] = {
        "../escape.txt", "..\\escape.txt", "sub/../../escape.txt", "sub\\..\\..\\escape.txt",
        "../", "/escape-root.txt", "\\escape-root.txt", "\\\\127.0.0.1\\share\\escape.txt",
        drive + "escape-drive.txt", drive + "\\escape-root.txt", "good.txt:ads", "CON", "sub/nul.txt",
        "../../escape/", std::string(300, 'n'), "./../escape.txt", ".\\..\\escape.txt", "sub/./../../escape.txt",
        ".//escape-root.txt", "./sub/./nul.txt"};
    int index = 0;
    for (const std::string& name : names) {
        std::string archive = "u" + std::to_string(index++) + ".zip";
        ZipWriter zip;
        zip.Stored("first-" + archive + ".txt", "kept");
        if (!name.empty() && name.back() == '/') zip.Directory(name);
        else zip.Stored(name, "payload");
        zip.Stored("after-" + archive + ".txt", "never");
        EXPECT_EQ(0, Run(archive, zip)) << name;
        std::string shown = name.substr(0, 255);
        EXPECT_EQ("Extracting " + archive + " - refused unsafe entry name " + shown, Text(message)) << name;
        EXPECT_EQ("kept", In("first-" + archive + ".txt"));
        EXPECT_FALSE(ExistsIn("after-" + archive + ".txt")) << name;
    }
    // Nothing landed beside the folder, above it, at the drive's root or in a stream.
    EXPECT_FALSE(folder.Exists("escape.txt"));
    EXPECT_FALSE(fs::exists(folder.path().parent_path() / "escape.txt"));
    EXPECT_FALSE(fs::exists(folder.path().parent_path() / "escape"));
    EXPECT_FALSE(fs::exists(folder.path().root_path() / "escape-root.txt"));
    EXPECT_FALSE(fs::exists(folder.path().root_path() / "escape-drive.txt"));
    EXPECT_FALSE(folder.Exists("in/escape-drive.txt"));
    EXPECT_FALSE(ExistsIn("good.txt"));
    EXPECT_FALSE(fs::exists(folder.path() / "in" / "sub"));
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        (void)entry;
        ++count;
    }
    EXPECT_EQ(1u, count) << "only the working folder beside nothing else";
}

TEST_F(Extract, ExtractEntryReturnsTheRefusalCode) {
    folder.Write("in/x.zip", ZipWriter().Stored("../x.txt", "x").Bytes());
    zlib_filefunc_def functions;
    fill_win32_filefunc(&functions);
    unzFile zip = unzOpen2("x.zip", &functions);
    ASSERT_NE(nullptr, zip);
    char entryMessage[kEntryMessageSize];
    EXPECT_EQ(kEntryUnsafeName, ExtractEntry(zip, entryMessage, sizeof entryMessage));
    EXPECT_STREQ("refused unsafe entry name ../x.txt", entryMessage);
    unzClose(zip);
}

TEST_F(Extract, MakeParentDirectories) {
    EXPECT_EQ(0, MakeParentDirectories("a.bin"));
    EXPECT_EQ(1, MakeParentDirectories("Data/Maps/a.bin"));
    EXPECT_TRUE(IsDirectory("Data\\Maps"));
    EXPECT_FALSE(ExistsIn("Data/Maps/a.bin"));
    // Existing levels are passed over; the result is the last level's.
    EXPECT_EQ(0, MakeParentDirectories("Data/Maps/b.bin"));
    EXPECT_EQ(1, MakeParentDirectories("Data\\Maps\\Sub\\"));
    EXPECT_TRUE(IsDirectory("Data\\Maps\\Sub"));
    // An empty component ends the creation there.
    EXPECT_EQ(1, MakeParentDirectories("One//Two/c.bin"));
    EXPECT_TRUE(IsDirectory("One"));
    EXPECT_FALSE(IsDirectory("Two"));
    EXPECT_FALSE(IsDirectory("One\\Two"));
    EXPECT_EQ(0, MakeParentDirectories("/Root/d.bin"));
    EXPECT_FALSE(IsDirectory("Root"));
}
