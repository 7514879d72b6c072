// DownloadFile against the real HTTPS test patch server, into real files.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/display_state.h"
#include "download/file_downloader.h"
#include "settings/launcher_settings.h"
#include "support/debug_output_win32.h"
#include "support/message_box_recorder.h"
#include "support/patch_server_win32.h"
#include "support/plain_http_server_win32.h"
#include "support/temp_folder.h"
#include "support/zip_writer.h"

namespace fs = std::filesystem;

namespace {

std::string Status() {
    char copy[SharedText::kSize];
    StatusText.CopyTo(copy, sizeof copy);
    return copy;
}

DWORD Attributes(const std::string& name) { return GetFileAttributesA(name.c_str()); }

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// The request-log lines that name this patch file. A line is written just after the answer's
// last byte, so wait a little for the count that is expected.
std::vector<std::string> RequestsFor(long mark, const std::string& name, std::size_t expected) {
    std::vector<std::string> found;
    for (int i = 0; i < 60; ++i) {
        found.clear();
        for (const std::string& line : RequestsSince(mark))
            if (line.find("/Player/" + name + "\"") != std::string::npos) found.push_back(line);
        if (found.size() >= expected && (expected > 0 || i >= 4)) break;
        Sleep(50);
    }
    return found;
}

// A GET of the same URL by other means, to learn what the server sends for it.
std::string FetchDirectly(const std::string& url) {
    std::string body;
    HINTERNET root = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = root ? InternetOpenUrlA(root, url.c_str(), nullptr, 0,
                                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                             : nullptr;
    char chunk[4096];
    DWORD got = 0;
    while (request && InternetReadFile(request, chunk, sizeof chunk, &got) && got > 0) body.append(chunk, got);
    if (request) InternetCloseHandle(request);
    if (root) InternetCloseHandle(root);
    return body;
}

class Download : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PatchServerAvailable()) GTEST_SKIP() << "the test patch server is not running";
        if (PatchServerBaseUrl() != LauncherSettings.PatchBaseUrl)
            GTEST_SKIP() << "built for the patch server " << LauncherSettings.PatchBaseUrl;
        ResetDisplayState();
        ClearRecordedBoxes();
        ASSERT_TRUE(SetServerFaults({}));
        mark = LogMark();
    }
    void TearDown() override {
        if (PatchServerAvailable()) SetServerFaults({});
    }
    void Serve(const std::string& name, const std::string& bytes) { PutServedFile("Player/" + name, bytes); }
    void ExpectFailure(const std::string& text, const std::string& local) {
        EXPECT_EQ(text, Status());
        EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
        EXPECT_FALSE(folder.Exists(local)) << local;
    }

    TempFolder folder;
    long mark = 0;
};

}  // namespace

TEST_F(Download, PlainFileByteForByte) {
    std::string bytes = TestBytes(200000, 7);
    Serve("dl-plain.bin", bytes);
    SetStartButtonState(kButtonDisabled);
    ASSERT_EQ(1, DownloadFile("dl-plain.bin", "/Player/"));
    EXPECT_EQ(bytes, folder.Read("dl-plain.bin"));
    EXPECT_EQ("Downloading file (dl-plain.bin)", Status());
    EXPECT_EQ(100, ProgressCurrent.load());
    EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
    EXPECT_EQ(0, QuitRequested.load());

    std::vector<std::string> requests = RequestsFor(mark, "dl-plain.bin", 1);
    ASSERT_EQ(1u, requests.size());
    EXPECT_NE(std::string::npos, requests[0].find("\"method\": \"GET\""));
    EXPECT_NE(std::string::npos, requests[0].find("\"agent\": \"MS\""));
    EXPECT_NE(std::string::npos, requests[0].find("\"path\": \"/Setup/live/StandaloneWindows64/Player/dl-plain.bin\""));
    EXPECT_EQ(std::string::npos, requests[0].find("\"Range\""));
}

TEST_F(Download, EveryRequestReachesTheServer) {
    Serve("dl-fresh.bin", "first version");
    ASSERT_EQ(1, DownloadFile("dl-fresh.bin", "/Player/"));
    Serve("dl-fresh.bin", "second, longer version");
    ASSERT_EQ(1, DownloadFile("dl-fresh.bin", "/Player/"));
    EXPECT_EQ("second, longer version", folder.Read("dl-fresh.bin"));
    EXPECT_EQ(2u, RequestsFor(mark, "dl-fresh.bin", 2).size());
}

TEST_F(Download, ExistingReadOnlyFileIsReplaced) {
    Serve("dl-ro.bin", "new");
    folder.Write("dl-ro.bin", "old contents");
    ASSERT_TRUE(SetFileAttributesA("dl-ro.bin", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(1, DownloadFile("dl-ro.bin", "/Player/"));
    EXPECT_EQ("new", folder.Read("dl-ro.bin"));
}

TEST_F(Download, ZeroLengthFileIsAccepted) {
    Serve("dl-empty.bin", "");
    ASSERT_EQ(1, DownloadFile("dl-empty.bin", "/Player/"));
    EXPECT_TRUE(folder.Exists("dl-empty.bin"));
    EXPECT_EQ("", folder.Read("dl-empty.bin"));
    EXPECT_EQ(0, ProgressCurrent.load());
}

TEST_F(Download, SubDirectoriesOfTheNameAreCreated) {
    Serve("dl-sub/one/two/deep.bin", "deep");
    ASSERT_EQ(1, DownloadFile("dl-sub/one/two/deep.bin", "/Player/"));
    EXPECT_EQ("deep", folder.Read("dl-sub/one/two/deep.bin"));
}

TEST_F(Download, ArchivesAreUnpackedAndDeleted) {
    std::string big = TestBytes(150000, 3);
    Serve("dl-pack.zip", ZipWriter()
                             .Deflated("Pack/Sub/a.bin", big)
                             .Stored("Pack/b.txt", "bee")
                             .Directory("Pack/Empty/")
                             .Stored("top.txt", "top")
                             .Bytes());
    ASSERT_EQ(1, DownloadFile("dl-pack.zip", "/Player/"));
    EXPECT_FALSE(folder.Exists("dl-pack.zip"));
    EXPECT_EQ(big, folder.Read("Pack/Sub/a.bin"));
    EXPECT_EQ("bee", folder.Read("Pack/b.txt"));
    EXPECT_TRUE(fs::is_directory(folder.path() / "Pack" / "Empty"));
    EXPECT_EQ("top", folder.Read("top.txt"));
    EXPECT_EQ("Extracting dl-pack.zip - top.txt", Status());
    EXPECT_EQ(100, ProgressCurrent.load());

    // The last three letters decide, in any case and without a dot.
    Serve("dl-Upper.ZiP", ZipWriter().Stored("upper.txt", "U").Bytes());
    ASSERT_EQ(1, DownloadFile("dl-Upper.ZiP", "/Player/"));
    EXPECT_EQ("U", folder.Read("upper.txt"));
    EXPECT_FALSE(folder.Exists("dl-Upper.ZiP"));
    Serve("dl-nodotzip", ZipWriter().Stored("nodot.txt", "N").Bytes());
    ASSERT_EQ(1, DownloadFile("dl-nodotzip", "/Player/"));
    EXPECT_EQ("N", folder.Read("nodot.txt"));
    EXPECT_FALSE(folder.Exists("dl-nodotzip"));
    // Other names are stored as they arrive, zip bytes or not.
    Serve("dl-zip.bin", ZipWriter().Stored("never.txt", "no").Bytes());
    ASSERT_EQ(1, DownloadFile("dl-zip.bin", "/Player/"));
    EXPECT_TRUE(folder.Exists("dl-zip.bin"));
    EXPECT_FALSE(folder.Exists("never.txt"));
}

TEST_F(Download, GameExecutableIsReadOnlyAndHiddenAfterEachFile) {
    const std::string exe = LauncherSettings.GameExecutable;
    folder.Write(exe, "game");
    Serve("dl-mark.bin", "x");
    ASSERT_EQ(1, DownloadFile("dl-mark.bin", "/Player/"));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              Attributes(exe) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    // A patch that replaces the read-only, hidden executable still gets through, and the new
    // one is marked again.
    Serve("dl-game.zip", ZipWriter().Deflated(exe, "new game").Bytes());
    ASSERT_EQ(1, DownloadFile("dl-game.zip", "/Player/"));
    EXPECT_EQ("new game", folder.Read(exe));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              Attributes(exe) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    // Not after a failure.
    ASSERT_TRUE(SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(0, DownloadFile("dl-not-served.bin", "/Player/"));
    EXPECT_EQ(0u, Attributes(exe) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}

TEST_F(Download, Status206IsAcceptedLike200) {
    Serve("dl-206.bin", "partial content answer");
    ASSERT_TRUE(SetServerFaults({"Player/dl-206.bin=status:206"}));
    std::string sent = FetchDirectly(PatchServerUrl("Player/dl-206.bin"));
    ASSERT_EQ(1, DownloadFile("dl-206.bin", "/Player/"));
    EXPECT_EQ(sent, folder.Read("dl-206.bin"));
    std::vector<std::string> requests = RequestsFor(mark, "dl-206.bin", 2);
    ASSERT_EQ(2u, requests.size());
    EXPECT_NE(std::string::npos, requests[1].find("\"status\": 206"));
}

TEST_F(Download, ServerFaultsFailTheFileAndLeaveNothing) {
    folder.Write(LauncherSettings.GameExecutable, "game");
    Serve("dl-short.bin", TestBytes(100000, 4));
    Serve("dl-nolength.bin", "no length");
    Serve("dl-reset.bin", TestBytes(100000, 6));
    Serve("dl-status.bin", "body");
    ASSERT_TRUE(SetServerFaults({"Player/dl-short.bin=short:1000", "Player/dl-nolength.bin=nolength",
                                 "Player/dl-reset.bin=reset:40000",
                                 "Player/dl-status.bin=status:500"}));

    struct Case { const char* name; const char* status; };
    for (Case c : {Case{"dl-missing.bin", "Downloading failed [404] (dl-missing.bin)"},
                   Case{"dl-status.bin", "Downloading failed [500] (dl-status.bin)"},
                   Case{"dl-short.bin", "Downloading failed - read (dl-short.bin)"},
                   Case{"dl-reset.bin", "Downloading failed - read (dl-reset.bin)"},
                   Case{"dl-nolength.bin", "Downloading failed - query_size (dl-nolength.bin)"}}) {
        SetStartButtonState(kButtonNormal);
        EXPECT_EQ(0, DownloadFile(c.name, "/Player/")) << c.name;
        ExpectFailure(c.status, c.name);
    }

    EXPECT_EQ(0u, Attributes(LauncherSettings.GameExecutable) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(RecordedBoxes().empty());
    EXPECT_EQ(0, QuitRequested.load());
}

// The file a patch replaces is the old version's until the new one has arrived whole.
TEST_F(Download, FailedDownloadsLeaveTheExistingFileAsItWas) {
    Serve("dl-keep.bin", TestBytes(100000, 7));
    for (const char* fault : {"status:503", "short:1000", "reset:5000", "nolength"}) {
        SCOPED_TRACE(fault);
        folder.Write("dl-keep.bin", "old version");
        ASSERT_TRUE(SetServerFaults({std::string("Player/dl-keep.bin=") + fault}));
        EXPECT_EQ(0, DownloadFile("dl-keep.bin", "/Player/"));
        EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
        EXPECT_EQ("old version", folder.Read("dl-keep.bin"));
        EXPECT_EQ(std::set<std::string>{"dl-keep.bin"}, Names(folder.path()));
    }
    // A folder where the file should go cannot be replaced: nothing of the body is left.
    ASSERT_TRUE(SetServerFaults({}));
    ASSERT_TRUE(CreateDirectoryA("dl-folder.bin", nullptr));
    Serve("dl-folder.bin", "x");
    EXPECT_EQ(0, DownloadFile("dl-folder.bin", "/Player/"));
    EXPECT_EQ("Creating file failed. (dl-folder.bin)", Status());
    EXPECT_EQ((std::set<std::string>{"dl-folder.bin", "dl-keep.bin"}), Names(folder.path()));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, Attributes("dl-folder.bin") & FILE_ATTRIBUTE_DIRECTORY);
}

// A 302 out of TLS ends like a failed open: same text, the old file kept, no partial file left;
// one to another HTTPS address is fetched as today.
TEST_F(Download, ARedirectOutOfTlsFailsLikeAnOpenAndHttpsToHttpsIsFollowed) {
    PlainHttpServer plain("fetched in the clear");
    ASSERT_NE(0, plain.Port());
    Serve("dl-clear.bin", "over tls");
    Serve("dl-there.bin", "from the edge");
    ASSERT_TRUE(SetServerFaults({"Player/dl-clear.bin=redirect:" + plain.Url("/edge/dl-clear.bin"),
                                 "Player/dl-moved.bin=redirect:" + PatchServerUrl("Player/dl-there.bin")}));
    folder.Write("dl-clear.bin", "old version");
    DebugOutputRecorder debug;
    EXPECT_EQ(0, DownloadFile("dl-clear.bin", "/Player/"));
    EXPECT_EQ("Downloading failed - open (dl-clear.bin)", Status());
    EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
    EXPECT_EQ("old version", folder.Read("dl-clear.bin"));
    EXPECT_EQ(std::set<std::string>{"dl-clear.bin"}, Names(folder.path()));
    EXPECT_EQ(1, plain.Requests());
    EXPECT_TRUE(debug.Saw("launcher: answer over https failed (" + plain.Url("/edge/dl-clear.bin") + "): error 12040\n"));
    EXPECT_TRUE(debug.Saw("launcher: download open failed (dl-clear.bin): error 12040\n"));

    ASSERT_EQ(1, DownloadFile("dl-moved.bin", "/Player/"));
    EXPECT_EQ("from the edge", folder.Read("dl-moved.bin"));
}

// A client file whose name ends in ".part", even the name the download would try first, is a
// file like any other: the download beside it never empties it.
TEST_F(Download, FilesNamedLikePartialFilesAreLeftAlone) {
    Serve("dl-b.bin", "new b");
    folder.Write("dl-b.bin.part", "client file");
    folder.Write("dl-b.bin.~0.part", "client file too");
    ASSERT_EQ(1, DownloadFile("dl-b.bin", "/Player/"));
    EXPECT_EQ("new b", folder.Read("dl-b.bin"));
    EXPECT_EQ("client file", folder.Read("dl-b.bin.part"));
    EXPECT_EQ("client file too", folder.Read("dl-b.bin.~0.part"));
    EXPECT_EQ((std::set<std::string>{"dl-b.bin", "dl-b.bin.part", "dl-b.bin.~0.part"}), Names(folder.path()));
}

// The status line keeps its texts; the debugger output says which call failed and its code.
TEST_F(Download, FailedCallsGoToTheDebuggerOutputWithTheirCode) {
    DebugOutputRecorder debug;
    Serve("dl-nolen.bin", "no length");
    Serve("dl-cut.bin", TestBytes(100000, 6));
    ASSERT_TRUE(SetServerFaults({"Player/dl-nolen.bin=nolength", "Player/dl-cut.bin=reset:40000"}));
    EXPECT_EQ(0, DownloadFile("dl-nolen.bin", "/Player/"));
    EXPECT_EQ("Downloading failed - query_size (dl-nolen.bin)", Status());
    EXPECT_TRUE(debug.Saw("launcher: download query_size failed (dl-nolen.bin): error " +
                          std::to_string(ERROR_HTTP_HEADER_NOT_FOUND) + "\n"));
    EXPECT_EQ(0, DownloadFile("dl-cut.bin", "/Player/"));
    EXPECT_EQ("Downloading failed - read (dl-cut.bin)", Status());
    EXPECT_TRUE(debug.Saw("launcher: download read failed (dl-cut.bin): error 120"));

    folder.Write("dl-file", "a file where a folder should be");
    EXPECT_EQ(0, DownloadFile("dl-file/x.bin", "/Player/"));
    EXPECT_EQ("Creating file failed. (dl-file/x.bin)", Status());
    EXPECT_TRUE(debug.Saw("launcher: download create failed (dl-file/x.bin): error " + std::to_string(ERROR_PATH_NOT_FOUND)));
}

// Bytes past the announced length never reach the downloader: the internet library ends the
// body at the Content-Length, so the file is what was announced.
TEST_F(Download, BytesPastTheAnnouncedLengthAreNotStored) {
    std::string bytes = TestBytes(1000, 5);
    Serve("dl-long.bin", bytes);
    ASSERT_TRUE(SetServerFaults({"Player/dl-long.bin=long:5000"}));
    ASSERT_EQ(1, DownloadFile("dl-long.bin", "/Player/"));
    EXPECT_EQ(bytes, folder.Read("dl-long.bin"));
    EXPECT_EQ(100, ProgressCurrent.load());
}

TEST_F(Download, DamagedArchiveAsksForARestartAndQuits) {
    folder.Write(LauncherSettings.GameExecutable, "game");
    Serve("dl-bad.zip", ZipWriter()
                            .Stored("dl-bad-first.txt", "first")
                            .DamagedAfter("dl-bad-middle.bin", TestBytes(200000, 8), 100000)
                            .Bytes());
    SetStartButtonState(kButtonNormal);
    EXPECT_EQ(0, DownloadFile("dl-bad.zip", "/Player/"));
    std::vector<RecordedBox> boxes = RecordedBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(BoxOwner::MainWindow, boxes[0].owner);
    EXPECT_EQ(LauncherSettings.MsgAbnormalRun, boxes[0].text);
    EXPECT_EQ(LauncherSettings.ErrorCaption, boxes[0].caption);
    EXPECT_EQ(kBoxOk, boxes[0].style);
    EXPECT_EQ(1, QuitRequested.load());
    EXPECT_EQ(kButtonNormal, ButtonStates[kStartButton].load());
    EXPECT_FALSE(folder.Exists("dl-bad.zip"));
    // The first attempt deleted the archive, so the last one could not open it.
    EXPECT_EQ("Extracting dl-bad.zip - error in opening file.", Status());
    EXPECT_EQ("first", folder.Read("dl-bad-first.txt"));
    EXPECT_EQ(0u, Attributes(LauncherSettings.GameExecutable) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(1u, RequestsFor(mark, "dl-bad.zip", 1).size());
}

TEST_F(Download, ArchiveWithATraversalEntryIsRefused) {
    Serve("dl-evil.zip", ZipWriter().Stored("dl-evil-ok.txt", "ok").Stored("../dl-evil-out.txt", "out").Bytes());
    EXPECT_EQ(0, DownloadFile("dl-evil.zip", "/Player/"));
    EXPECT_EQ(1u, RecordedBoxes().size());
    EXPECT_EQ(1, QuitRequested.load());
    EXPECT_FALSE(fs::exists(folder.path().parent_path() / "dl-evil-out.txt"));
    EXPECT_FALSE(folder.Exists("dl-evil.zip"));
}

TEST_F(Download, UrlLengthLimit) {
    std::string base = LauncherSettings.PatchBaseUrl;
    // 255 characters fit the 256-byte buffer with its NUL; 256 do not.
    std::string fits(255 - base.size() - 8, 'f');
    Serve(fits, "fits");
    ASSERT_EQ(1, DownloadFile(fits.c_str(), "/Player/"));
    EXPECT_EQ("fits", folder.Read(fits));

    std::string tooLong(256 - base.size() - 8, 'g');
    Serve(tooLong, "too long");
    SetStartButtonState(kButtonNormal);
    EXPECT_EQ(0, DownloadFile(tooLong.c_str(), "/Player/"));
    ExpectFailure("Downloading failed - url_too_long (" + tooLong + ")", tooLong);
    EXPECT_TRUE(RequestsFor(mark, tooLong, 0).empty());
    RemoveServedFile("Player/" + fits);
    RemoveServedFile("Player/" + tooLong);
}

TEST_F(Download, UnsafeNamesAreRefusedBeforeAnythingIsWritten) {
    std::string drive = folder.path().root_name().string();
    fs::create_directories(folder.path() / "in");
    SetCurrentDirectoryA((folder.path() / "in").string().c_str());
    for (std::string name : {std::string("../dl-escape.bin"), std::string("..\\dl-escape.bin"),
                             std::string("sub/../../dl-escape.bin"), std::string("/dl-escape-root.bin"),
                             std::string("\\dl-escape-root.bin"), std::string("\\\\127.0.0.1\\c$\\dl-escape.bin"),
                             drive + "dl-escape.bin", drive + "\\dl-escape-root.bin", std::string("dl-ok.bin:ads"),
                             std::string("NUL"), std::string("")}) {
        SetStartButtonState(kButtonNormal);
        EXPECT_EQ(0, DownloadFile(name.c_str(), "/Player/")) << name;
        EXPECT_EQ("Downloading failed - unsafe_name (" + name + ")", Status());
        EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
    }
    SetCurrentDirectoryA(folder.path().string().c_str());
    EXPECT_FALSE(folder.Exists("dl-escape.bin"));
    EXPECT_FALSE(fs::exists(folder.path().root_path() / "dl-escape-root.bin"));
    EXPECT_FALSE(fs::exists(folder.path().parent_path() / "dl-escape.bin"));
    EXPECT_TRUE(fs::is_empty(folder.path() / "in"));
    for (const std::string& line : RequestsSince(mark)) EXPECT_EQ(std::string::npos, line.find("dl-escape")) << line;
}

TEST_F(Download, LocalFileThatCannotBeCreated) {
    folder.Write("dl-blocker", "a file where a directory should be");
    Serve("dl-blocker/x.bin", "x");
    EXPECT_EQ(0, DownloadFile("dl-blocker/x.bin", "/Player/"));
    EXPECT_EQ("Creating file failed. (dl-blocker/x.bin)", Status());
    EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
    EXPECT_TRUE(RequestsFor(mark, "dl-blocker/x.bin", 0).empty());
}

// A full disk, for real: the server fixture mounts a 1 MB file system for these tests.
TEST_F(Download, WriteFailureOnAFullDiskLeavesNoFile) {
    if (!PatchServerAvailable() || !fs::exists(ServerStatePath("full-disk.mounted")))
        GTEST_SKIP() << "no small file system was mounted for a full disk";
    fs::path here = fs::path(ServerStatePath("full-disk")) / ("download-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(here);
    ASSERT_TRUE(SetCurrentDirectoryA(here.string().c_str()));

    Serve("dl-full.bin", TestBytes(3 * 1024 * 1024, 9));
    {
        FILE* exe = std::fopen(LauncherSettings.GameExecutable, "wb");
        ASSERT_NE(nullptr, exe);
        std::fclose(exe);
    }
    SetStartButtonState(kButtonNormal);
    EXPECT_EQ(0, DownloadFile("dl-full.bin", "/Player/"));
    EXPECT_EQ("Downloading failed - write (dl-full.bin)", Status());
    EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
    EXPECT_FALSE(fs::exists(here / "dl-full.bin"));
    EXPECT_EQ(0u, Attributes(LauncherSettings.GameExecutable) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(RecordedBoxes().empty());

    SetFileAttributesA(LauncherSettings.GameExecutable, FILE_ATTRIBUTE_NORMAL);
    SetCurrentDirectoryA(folder.path().string().c_str());
    std::error_code ignored;
    fs::remove_all(here, ignored);
    RemoveServedFile("Player/dl-full.bin");
}
