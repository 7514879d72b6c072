// FetchPatchInfo end to end: the built-in address, the test patch server, "update.dat", the parse.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/launcher_settings.h"
#include "settings/version_record.h"
#include "support/patch_server_win32.h"
#include "support/temp_folder.h"
#include "update/patch_info.h"
#include "update/remote_patch_info.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kServedName = "LauncherPatchInfo.txt";
constexpr const char* kInfo = "[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n1.1.1.24\n[PLAYER]\n10001 base.zip\n10002 patch2.zip\n";
constexpr const char* kNewerInfo = "[INSTALLER]\n1.0.0.4\n[PLAYER]\n10002 patch2.zip\n10003 patch3.zip\n";

// Points the system's proxy settings at a port nothing listens on, so that preconfigured
// sessions cannot reach any server; afterwards the proxy is switched back off (the test
// prefix has no proxy of its own). WinInet reuses an idle
// keep-alive connection before it looks at the proxy, so asking for "Connection: close" a
// few times first takes every idle one out of its pool.
class UnreachableNetwork {
public:
    explicit UnreachableNetwork(const std::string& url) {
        for (int round = 0; round < 8; ++round) {
            HINTERNET session = InternetOpenA("test-drain", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
            HINTERNET request = InternetOpenUrlA(session, url.c_str(), "Connection: close\r\n", static_cast<DWORD>(-1),
                                                 INTERNET_FLAG_RELOAD | INTERNET_FLAG_SECURE, 0);
            char sink[512];
            DWORD got = 0;
            while (request && InternetReadFile(request, sink, sizeof sink, &got) && got > 0) {}
            if (request) InternetCloseHandle(request);
            if (session) InternetCloseHandle(session);
        }
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        const DWORD on = 1;
        const char refused[] = "127.0.0.1:1";
        RegSetValueExA(key_, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
        RegSetValueExA(key_, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(refused), sizeof refused);
    }
    ~UnreachableNetwork() {
        RegDeleteValueA(key_, "ProxyEnable");
        RegDeleteValueA(key_, "ProxyServer");
        RegCloseKey(key_);
    }
    UnreachableNetwork(const UnreachableNetwork&) = delete;
    UnreachableNetwork& operator=(const UnreachableNetwork&) = delete;

private:
    HKEY key_ = nullptr;
};

class RemotePatchInfo : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PatchServerAvailable()) GTEST_SKIP() << "the test patch server is not running";
        if (PatchServerUrl(kServedName) != LauncherSettings.PatchInfoUrl)
            GTEST_SKIP() << "this build fetches " << LauncherSettings.PatchInfoUrl;
        ASSERT_TRUE(SetServerFaults({}));
        ResetPatchInfo();
        CurrentVersion = 10001;
    }
    void TearDown() override {
        if (!PatchServerAvailable()) return;
        SetServerFaults({});
        RemoveServedFile(kServedName);
        ResetPatchInfo();
        CurrentVersion = 0;
    }
    // A failed fetch leaves kInfo in "update.dat" and in the state, and no partial copy.
    void ExpectTheKeptCopy() {
        EXPECT_EQ(kInfo, folder.Read("update.dat"));
        EXPECT_FALSE(fs::exists("update.dat.new"));
        EXPECT_EQ(10002, LatestVersion);
        EXPECT_STREQ("1.0.0.3", RequiredInstallerVersion);
    }
    TempFolder folder;
};

}  // namespace

TEST_F(RemotePatchInfo, FetchesStoresAndParses) {
    PutServedFile(kServedName, kInfo);
    const long mark = LogMark();
    ASSERT_EQ(1, FetchPatchInfo());
    EXPECT_EQ(kInfo, folder.Read("update.dat"));
    EXPECT_STREQ("1.0.0.3", RequiredInstallerVersion);
    EXPECT_EQ(10002, LatestVersion);
    EXPECT_EQ(10002, PatchList[0].Version);
    EXPECT_EQ(0, PatchList[1].Version);
    std::vector<std::string> requests;
    for (const std::string& line : RequestsSince(mark))
        if (LogField(line, "path") == "/Setup/live/StandaloneWindows64/LauncherPatchInfo.txt") requests.push_back(line);
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("HEAD", LogField(requests[0], "method"));
    EXPECT_EQ("GET", LogField(requests[1], "method"));
    const std::string query = LogField(requests[1], "query");
    EXPECT_EQ(query, LogField(requests[0], "query"));
    ASSERT_EQ(0u, query.rfind("tick=", 0));
    EXPECT_EQ(query.size(), 5 + std::strspn(query.c_str() + 5, "0123456789"));
    EXPECT_GT(query.size(), 5u);
}

TEST_F(RemotePatchInfo, ErrorStatusKeepsThePreviousCopy) {
    PutServedFile(kServedName, kInfo);
    ASSERT_EQ(1, FetchPatchInfo());
    for (const char* status : {"500", "404", "403", "204"}) {
        SCOPED_TRACE(status);
        ASSERT_TRUE(SetServerFaults({std::string(kServedName) + "=status:" + status}));
        EXPECT_EQ(0, FetchPatchInfo());
        ExpectTheKeptCopy();
    }
}

TEST_F(RemotePatchInfo, UnreachableServerKeepsThePreviousCopy) {
    PutServedFile(kServedName, kNewerInfo);
    folder.Write("update.dat", kInfo);
    // As at start-up: the copy was first parsed before the installed version was read.
    CurrentVersion = 0;
    ASSERT_EQ(1, ParsePatchInfo());
    ASSERT_EQ(10001, PatchList[0].Version);
    CurrentVersion = 10001;
    long mark = 0;
    {
        UnreachableNetwork down(PatchServerUrl(kServedName));
        mark = LogMark();
        EXPECT_EQ(0, FetchPatchInfo());
    }
    ExpectTheKeptCopy();
    // The kept copy now counts from the installed version: only the step above it is pending.
    EXPECT_EQ(10002, PatchList[0].Version);
    EXPECT_EQ(0, PatchList[1].Version);
    EXPECT_EQ(1, PatchFileTotal);
    EXPECT_TRUE(RequestsSince(mark).empty());
    EXPECT_EQ(1, FetchPatchInfo());  // the proxy setting is gone again
    EXPECT_EQ(10003, LatestVersion);
}

TEST_F(RemotePatchInfo, CutCopyKeepsThePreviousOne) {
    folder.Write("update.dat", kInfo);
    ASSERT_EQ(1, ParsePatchInfo());
    PutServedFile(kServedName, std::string(kNewerInfo) + std::string(8000, '#') + "\n");
    const std::string cut = std::to_string(std::strlen(kNewerInfo) - std::strlen("0003 patch3.zip\n"));
    const std::string rule = std::string(kServedName) + "=";
    const std::string noHeadLength = rule + "status:204@1";  // the HEAD answers without a length
    // Without a length from the probe, the GET's own Content-Length still tells; a connection
    // reset is a failed read whatever was announced; without any length, a body cut in the
    // middle of a line is no whole copy either, sent in chunks (the last one never came) or not.
    for (const std::vector<std::string>& faults :
         {std::vector<std::string>{noHeadLength, rule + "short:" + cut}, {rule + "short:" + cut},
          {rule + "reset:" + cut}, {noHeadLength, rule + "nolength:" + cut}, {rule + "nolength:" + cut},
          {noHeadLength, rule + "chunked:" + cut}}) {
        SCOPED_TRACE(faults.back());
        ASSERT_TRUE(SetServerFaults(faults));
        EXPECT_EQ(0, FetchPatchInfo());
        ExpectTheKeptCopy();
    }
}

TEST_F(RemotePatchInfo, AWholeCopyIsTakenWhateverTheHeadSaid) {
    const std::string rule = std::string(kServedName) + "=";
    const std::string staleHead = rule + "status:500@1";  // the HEAD's length is that of "error 500\n"
    const std::string noHeadLength = rule + "status:204@1";
    const std::string lastLine = "10004 patch4.zip";  // no line end after it
    struct Case {
        std::vector<std::string> faults;
        std::string served;
    } cases[] = {
        {{staleHead}, kNewerInfo},                            // the GET's own length wins
        {{staleHead, rule + "nolength"}, kNewerInfo},         // no length at all: ends with a line end
        {{noHeadLength, rule + "nolength"}, kNewerInfo},
        {{rule + "nolength"}, kNewerInfo + lastLine},         // exactly the probed length
        {{noHeadLength, rule + "chunked"}, kNewerInfo},
        {{rule + "chunked"}, kNewerInfo + lastLine},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults.back() + " " + std::to_string(c.served.size()));
        folder.Write("update.dat", kInfo);
        PutServedFile(kServedName, c.served);
        ASSERT_TRUE(SetServerFaults(c.faults));
        EXPECT_EQ(1, FetchPatchInfo());
        EXPECT_EQ(c.served, folder.Read("update.dat"));
        EXPECT_FALSE(fs::exists("update.dat.new"));
    }
}

TEST_F(RemotePatchInfo, FullDiskLeavesNoTruncatedCopy) {
    if (!fs::exists(ServerStatePath("full-disk.mounted"))) GTEST_SKIP() << "no small volume was mounted for this run";
    std::string big = kNewerInfo;
    while (big.size() < 1536 * 1024) big += "# padding that no parser reads as a step\n";
    PutServedFile(kServedName, big);
    LatestVersion = 10002;
    const fs::path previous = fs::current_path();
    fs::current_path(ServerStatePath("full-disk"));
    const int result = FetchPatchInfo();
    const bool left = fs::exists("update.dat");
    fs::current_path(previous);
    EXPECT_EQ(0, result);
    EXPECT_FALSE(left);
    EXPECT_EQ(10002, LatestVersion);
}
