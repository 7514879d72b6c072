// The game folder's one door: plain paths work, and a link anywhere in a name (made as Wine
// makes a junction, a symbolic link on the host) refuses every open, create, move and delete,
// leaving the folder it leads to as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "paths/game_folder_hold_win32.h"
#include "paths/game_folder_win32.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

using UnixName = char*(CDECL*)(const wchar_t*);

// The host's name of a Windows path (Wine's own export), freed by the caller.
std::string HostName(const fs::path& path) {
    // Through void*: the export's real type is not FARPROC's.
    const auto convert = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    if (!convert) return std::string();
    char* name = convert(path.wstring().c_str());
    if (!name) return std::string();
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// A symbolic link on the host, as a junction is under Wine: made by the host's ln, bounded.
bool MakeHostLink(const fs::path& link, const fs::path& target) {
    const std::string from = HostName(link), to = HostName(target);
    if (from.empty() || to.empty()) return false;
    std::wstring command = L"Z:\\bin\\ln -s \"" + fs::path(to).wstring() + L"\" \"" + fs::path(from).wstring() + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // Wine's handle of a host program may be signalled before it ran: the link is waited for.
    bool made = false;
    for (int tries = 0; tries < 100 && !made; ++tries) {
        made = GetFileAttributesW(link.wstring().c_str()) != INVALID_FILE_ATTRIBUTES;
        if (!made) Sleep(50);
    }
    if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return made;
}

std::string Contents(const fs::path& path) {
    std::string bytes;
    if (FILE* f = _wfopen(path.wstring().c_str(), L"rb")) {
        char buffer[256];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
        std::fclose(f);
    }
    return bytes;
}

class GameFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        outside = fs::temp_directory_path() /
                  ("launcher-outside-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(outside);
        folder.Write("plain.dat", "plain");
        FILE* victim = _wfopen((outside / "victim.dat").wstring().c_str(), L"wb");
        ASSERT_TRUE(victim);
        std::fputs("victim", victim);
        std::fclose(victim);
        ASSERT_TRUE(MakeHostLink(folder.path() / "x", outside));
        ASSERT_TRUE(MakeHostLink(folder.path() / "f", outside / "victim.dat"));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(outside, ignored);
    }
    // Nothing outside was written, made or removed.
    void ExpectOutsideUntouched() {
        EXPECT_EQ("victim", Contents(outside / "victim.dat"));
        std::size_t entries = 0;
        for (auto it = fs::directory_iterator(outside); it != fs::directory_iterator(); ++it) ++entries;
        EXPECT_EQ(1u, entries);
    }

    TempFolder folder;
    fs::path outside;
    unsigned long error = 0;
};

TEST_F(GameFolderTest, PlainPathsCreateMoveAndDelete) {
    ASSERT_EQ(1, CreateGameFolders(L"a\\b\\new.dat", &error)) << error;
    FileHandle file;
    ASSERT_EQ(1, OpenGameFile(L"a\\b\\new.dat", GENERIC_WRITE, 0, CREATE_NEW, 0, &file, &error)) << error;
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "new", 3, &written, nullptr));
    FileIdentity first, second;
    ASSERT_EQ(1, FileIdentityOf(file.Get(), &first, &error));
    file.Reset();
    ASSERT_TRUE(SetFileAttributesW(L"plain.dat", FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(1, MoveGameFile(L"a\\b\\new.dat", L"plain.dat", &error)) << error;  // read-only target replaced
    EXPECT_EQ("new", folder.Read("plain.dat"));
    ASSERT_EQ(1, OpenGameFile(L"plain.dat", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, &file, &error));
    ASSERT_EQ(1, FileIdentityOf(file.Get(), &second, &error));
    EXPECT_TRUE(SameFile(first, second));
    file.Reset();
    EXPECT_EQ(0, RemoveEmptyGameFolder(L"a", &error));  // still holds b
    EXPECT_EQ(1, RemoveEmptyGameFolder(L"a\\b", &error)) << error;
    EXPECT_EQ(1, RemoveEmptyGameFolder(L"a", &error)) << error;
    EXPECT_FALSE(folder.Exists("a"));
    ASSERT_TRUE(SetFileAttributesW(L"plain.dat", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(1, DeleteGameFile(L"plain.dat", &error)) << error;
    EXPECT_FALSE(folder.Exists("plain.dat"));
    EXPECT_EQ(1, DeleteGameFile(L"missing\\never.dat", &error));  // never there is gone
    EXPECT_EQ(0, OpenGameFile(L"missing\\never.dat", GENERIC_READ, 0, OPEN_EXISTING, 0, &file, &error));
    EXPECT_EQ(static_cast<unsigned long>(ERROR_PATH_NOT_FOUND), error);
    // Names that could only leave the folder never reach the system.
    for (const wchar_t* name : {L"..\\plain.dat", L"a\\..\\..\\x", L"C:\\Windows\\x", L"\\x", L"a\\\\b", L"p.dat:s"}) {
        EXPECT_EQ(0, OpenGameFile(name, GENERIC_READ, 0, OPEN_EXISTING, 0, &file, &error)) << fs::path(name);
        EXPECT_EQ(static_cast<unsigned long>(ERROR_INVALID_NAME), error);
    }
}

TEST_F(GameFolderTest, LinkComponentRefusedForEveryOperation) {
    FileHandle file;
    EXPECT_EQ(0, OpenGameFile(L"x\\victim.dat", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, &file, &error));
    EXPECT_EQ(kLinkRefused, error);
    EXPECT_EQ(0, OpenGameFile(L"x\\made.dat", GENERIC_WRITE, 0, CREATE_NEW, 0, &file, &error));
    EXPECT_EQ(kLinkRefused, error);
    EXPECT_EQ(0, OpenGameFile(L"f", GENERIC_WRITE, 0, CREATE_ALWAYS, 0, &file, &error));  // never truncated
    EXPECT_EQ(kLinkRefused, error);
    EXPECT_EQ(0, CreateGameFolders(L"x\\sub\\deeper\\a.dat", &error));
    EXPECT_EQ(kLinkRefused, error);
    EXPECT_EQ(0, MoveGameFile(L"plain.dat", L"x\\victim.dat", &error));
    EXPECT_EQ(kLinkRefused, error);
    EXPECT_EQ(0, MoveGameFile(L"plain.dat", L"f", &error));
    EXPECT_EQ(kLinkRefused, error);
    EXPECT_EQ(0, MoveGameFile(L"x\\victim.dat", L"taken.dat", &error));
    EXPECT_EQ(kLinkRefused, error);
    EXPECT_EQ(0, DeleteGameFile(L"x\\victim.dat", &error));
    EXPECT_EQ(kLinkRefused, error);
    EXPECT_EQ(0, DeleteGameFile(L"f", &error));
    EXPECT_EQ(kLinkRefused, error);
    EXPECT_EQ(0, RemoveEmptyGameFolder(L"x", &error));
    EXPECT_EQ(kLinkRefused, error);
    GameFolderHold hold;
    EXPECT_EQ(0, CheckGameName("x\\", hold, true, &error));
    EXPECT_EQ(0, CheckGameName("x/victim.dat", hold, false, &error));
    EXPECT_EQ(1, CheckGameName("plain.dat", hold, false, &error)) << error;
    EXPECT_EQ(1, CheckGameName("stage\\", hold, true, &error)) << error;  // made and held
    EXPECT_TRUE(folder.Exists("stage"));
    ExpectOutsideUntouched();
    EXPECT_EQ("plain", folder.Read("plain.dat"));
    EXPECT_TRUE(folder.Exists("x") && folder.Exists("f"));
}

}  // namespace
