// The HTTP transfer helpers against the real test patch server: every result code, the
// requests they make, and the certificates they accept.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/debug_output_win32.h"
#include "support/patch_server_win32.h"
#include "support/plain_http_server_win32.h"
#include "support/temp_folder.h"
#include "update/http_transfer.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kServedBase = "/Setup/live/StandaloneWindows64/";

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Bytes that a text-mode write or a NUL-terminated copy would change.
std::string Payload(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes.replace(3, 4, "\r\n\0\n", 4);
}

std::vector<std::string> RequestsFor(long mark, const std::string& name) {
    std::vector<std::string> found;
    for (const std::string& line : RequestsSince(mark))
        if (LogField(line, "path") == kServedBase + ("transfer/" + name)) found.push_back(line);
    return found;
}

std::vector<std::pair<int32_t, int32_t>> Calls;
std::size_t StopAtCall = 0;  // 1-based; 0 never stops

int32_t RecordProgress(int32_t received, int32_t expected) {
    Calls.emplace_back(received, expected);
    return Calls.size() == StopAtCall ? 1 : 0;
}

class HttpTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PatchServerAvailable()) GTEST_SKIP() << "the test patch server is not running";
        ASSERT_TRUE(SetServerFaults({}));
        Calls.clear();
        StopAtCall = 0;
    }
    void TearDown() override {
        if (PatchServerAvailable()) SetServerFaults({});
    }
    std::string Serve(const std::string& name, const std::string& bytes) {
        PutServedFile("transfer/" + name, bytes);
        return PatchServerUrl("transfer/" + name);
    }
    int32_t Download(const std::string& url, const std::string& local) {
        return DownloadUrlToFileEx(url.c_str(), local.c_str(), 1, nullptr, 0, RecordProgress);
    }
    TempFolder folder;
};

}  // namespace

TEST_F(HttpTransfer, ReplacesTheFileAndReportsEachPieceBeforeTheEnd) {
    const std::string data = Payload(5000);
    folder.Write("pieces.bin", std::string(9000, 'o'));
    ASSERT_EQ(kTransferDone, Download(Serve("pieces.bin", data), "pieces.bin"));
    EXPECT_EQ(data, folder.Read("pieces.bin"));
    ASSERT_GE(Calls.size(), 4u);  // at least three pieces of 2048 bytes, then the end
    int32_t before = 0;
    for (std::size_t i = 0; i + 1 < Calls.size(); ++i) {
        EXPECT_EQ(5000, Calls[i].second) << "call " << i;
        EXPECT_GT(Calls[i].first, before) << "call " << i;
        EXPECT_LE(Calls[i].first - before, 2048) << "call " << i;
        before = Calls[i].first;
    }
    EXPECT_EQ(std::make_pair(5000, 5000), Calls.back());
}

TEST_F(HttpTransfer, UrlWithoutSlashFailsBeforeAnyRequest) {
    const long mark = LogMark();
    const std::string url = "https:\\\\127.0.0.1:" + std::to_string(PatchServerPort()) + "\\Setup\\x.txt";
    EXPECT_EQ(kTransferNoSession, Download(url, "out.txt"));
    EXPECT_FALSE(folder.Exists("out.txt"));
    EXPECT_TRUE(Calls.empty());
    EXPECT_TRUE(RequestsSince(mark).empty());
}

TEST_F(HttpTransfer, RefusedConnectionLeavesTheOldFile) {
    folder.Write("out.txt", "old");
    DebugOutputRecorder debugger;
    // Nothing listens on port 1.
    EXPECT_EQ(kTransferOpenFailed, Download("https://127.0.0.1:1/Setup/x.txt", "out.txt"));
    EXPECT_EQ("old", folder.Read("out.txt"));
    EXPECT_TRUE(Calls.empty());
    // The operator's debugger learns why: the stage, the address and WinInet's code.
    EXPECT_TRUE(debugger.Saw("launcher: open url failed (https://127.0.0.1:1/Setup/x.txt): error 12029\n"));
}

TEST_F(HttpTransfer, MissingFolderFailsAfterTheRequest) {
    const std::string url = Serve("folder.txt", "body");
    const long mark = LogMark();
    DebugOutputRecorder debugger;
    EXPECT_EQ(kTransferFileFailed, Download(url, "missing\\out.txt"));
    EXPECT_FALSE(folder.Exists("missing"));
    EXPECT_TRUE(debugger.Saw("launcher: create file failed (missing\\out.txt): error 3\n"));
    const std::vector<std::string> requests = RequestsFor(mark, "folder.txt");
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("GET", LogField(requests[1], "method"));
}

TEST_F(HttpTransfer, CallbackStopsBeforeThePieceIsWritten) {
    const std::string data = Payload(6000);
    const std::string url = Serve("stop.bin", data);
    for (std::size_t stopAt : {1u, 2u}) {
        Calls.clear();
        StopAtCall = stopAt;
        EXPECT_EQ(kTransferStopped, Download(url, "stop.bin"));
        ASSERT_EQ(stopAt, Calls.size());
        EXPECT_EQ(6000, Calls[0].second);
        ASSERT_TRUE(folder.Exists("stop.bin"));
        EXPECT_EQ(data.substr(0, stopAt == 1 ? 0 : Calls[0].first), folder.Read("stop.bin"));
    }
}

TEST_F(HttpTransfer, CutBodies) {
    struct Case { std::vector<std::string> faults; int32_t result; };
    // A HEAD answered 204 carries no length, so the probe cannot tell one.
    const Case cases[] = {
        {{"transfer/cut.bin=reset:3000"}, kTransferReadFailed},
        {{"transfer/cut.bin=status:204@1", "transfer/cut.bin=reset:3000"}, kTransferDone},
        {{"transfer/cut.bin=short:3000"}, kTransferDone},
    };
    const std::string data = Payload(20000);
    const std::string url = Serve("cut.bin", data);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults.back() + (c.faults.size() > 1 ? " without a length" : ""));
        ASSERT_TRUE(SetServerFaults(c.faults));
        EXPECT_EQ(c.result, Download(url, "cut.bin"));
        const std::string stored = folder.Read("cut.bin");
        EXPECT_LE(stored.size(), 3000u);
        EXPECT_EQ(data.substr(0, stored.size()), stored);
    }
}

TEST_F(HttpTransfer, NoContentLengthAnywhere) {
    const std::string data = Payload(7000);
    const std::string url = Serve("nolength.bin", data);
    ASSERT_TRUE(SetServerFaults({"transfer/nolength.bin=status:204@1", "transfer/nolength.bin=nolength"}));
    EXPECT_EQ(kTransferDone, Download(url, "nolength.bin"));
    EXPECT_EQ(data, folder.Read("nolength.bin"));
    ASSERT_GE(Calls.size(), 2u);
    for (std::size_t i = 0; i + 1 < Calls.size(); ++i) EXPECT_EQ(0, Calls[i].second) << "call " << i;
    EXPECT_EQ(std::make_pair(7000, 7000), Calls.back());
}

TEST_F(HttpTransfer, HeadThenGetWithTheAgentAndNothingElse) {
    const std::string url = Serve("log.txt", "logged\n") + "?tick=42";
    for (const char* agent : {"downslib", "MS"}) {
        const long mark = LogMark();
        ASSERT_EQ(kTransferDone, agent == std::string("MS")
                                     ? DownloadUrlToFileEx(url.c_str(), "log.txt", 1, agent, 5000, nullptr)
                                     : DownloadUrlToFile(url.c_str(), "log.txt", 1));
        const std::vector<std::string> requests = RequestsFor(mark, "log.txt");
        ASSERT_EQ(2u, requests.size());
        EXPECT_EQ("HEAD", LogField(requests[0], "method"));
        EXPECT_EQ("GET", LogField(requests[1], "method"));
        for (const std::string& line : requests) {
            SCOPED_TRACE(line);
            EXPECT_EQ(agent, LogField(line, "agent"));
            EXPECT_EQ("tick=42", LogField(line, "query"));
            EXPECT_NE(std::string::npos, line.find("\"body_length\": 0,"));
            EXPECT_EQ(std::string::npos, line.find("\"Range\":"));
            EXPECT_EQ(std::string::npos, line.find("\"Authorization\":"));
        }
    }
}

TEST_F(HttpTransfer, ProbeAsksTheUrlsOwnPort) {
    Serve("probe.bin", Payload(12345));
    const std::string host = "127.0.0.1:" + std::to_string(PatchServerPort());
    const std::string path = std::string(kServedBase) + "transfer/probe.bin";
    int32_t length = -5;
    EXPECT_EQ(kProbeLengthRead, ProbeContentLength(host.c_str(), path.c_str(), 1, "downslib", 3000, &length));
    EXPECT_EQ(12345, length);
    length = -5;
    EXPECT_EQ(kProbeNoLength, ProbeContentLength(host.c_str(), path.c_str(), 0, "downslib", 3000, &length));
    EXPECT_EQ(-5, length);
}

// WinInet follows a 302 by itself; where it led decides. Out of TLS is refused like a failed
// open, although the plain server did answer; to another HTTPS address is taken.
TEST_F(HttpTransfer, RedirectsOutOfTlsAreRefusedAndToHttpsFollowed) {
    PlainHttpServer plain("fetched in the clear\n");
    ASSERT_NE(0, plain.Port());
    const std::string clear = plain.Url("/edge/clear.txt");
    Serve("clear.txt", "served over tls\n");
    const std::string there = Serve("there.txt", "from the other address\n");
    ASSERT_TRUE(SetServerFaults({"transfer/clear.txt=redirect:" + clear, "transfer/moved.txt=redirect:" + there}));
    folder.Write("clear.txt", "old");
    {
        DebugOutputRecorder debugger;
        EXPECT_EQ(kTransferOpenFailed, Download(PatchServerUrl("transfer/clear.txt"), "clear.txt"));
        EXPECT_TRUE(debugger.Saw("launcher: answer over https failed (" + clear + "): error 12040\n"));
        EXPECT_TRUE(debugger.Saw("launcher: open url failed (" + PatchServerUrl("transfer/clear.txt") + "): error 12040\n"));
    }
    EXPECT_EQ("old", folder.Read("clear.txt"));
    EXPECT_TRUE(Calls.empty());
    EXPECT_EQ(kTransferOpenFailed, DownloadCompleteUrlToFile(PatchServerUrl("transfer/clear.txt").c_str(), "clear.txt", 1));
    EXPECT_EQ("old", folder.Read("clear.txt"));
    EXPECT_FALSE(folder.Exists("clear.txt.new"));
    // The HEAD and the GET of each transfer reached the plain server: the check, not WinInet, refused.
    EXPECT_EQ(4, plain.Requests());

    const std::string host = "127.0.0.1:" + std::to_string(PatchServerPort());
    const std::string path = std::string(kServedBase) + "transfer/clear.txt";
    int32_t length = -5;
    EXPECT_EQ(kProbeNoLength, ProbeContentLength(host.c_str(), path.c_str(), 1, "downslib", 3000, &length));
    EXPECT_EQ(-5, length);

    EXPECT_EQ(kTransferDone, DownloadCompleteUrlToFile(PatchServerUrl("transfer/moved.txt").c_str(), "moved.txt", 1));
    EXPECT_EQ("from the other address\n", folder.Read("moved.txt"));
    EXPECT_EQ(5, plain.Requests());
}

TEST_F(HttpTransfer, FullDiskIsAFailureAndLeavesNoFile) {
    if (!fs::exists(ServerStatePath("full-disk.mounted"))) GTEST_SKIP() << "no small volume was mounted for this run";
    const std::string target = ServerStatePath("full-disk\\http-transfer.bin");
    EXPECT_EQ(kTransferWriteFailed, DownloadUrlToFile(Serve("big.bin", Payload(1536 * 1024)).c_str(), target.c_str(), 1));
    EXPECT_FALSE(fs::exists(target));
}

// A date or host-name mismatch is accepted with the secure option, an unknown authority never.
TEST_F(HttpTransfer, CertificatePosture) {
    struct Case { const char* cert; int secure; int32_t result; std::size_t requests; };
    const Case cases[] = {
        // Without the secure option first, before any connection to these servers was accepted.
        {"expired", 0, kTransferOpenFailed, 0},
        {"wrong-host", 0, kTransferOpenFailed, 0},
        {"expired", 1, kTransferDone, 2},
        {"wrong-host", 1, kTransferDone, 2},
        {"untrusted", 1, kTransferOpenFailed, 0},
    };
    const std::string body = "certificate test\n";
    Serve("cert.txt", body);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cert) + " secure " + std::to_string(c.secure));
        const std::string ready = ReadWhole(ServerStatePath(std::string("ready-") + c.cert + ".json"));
        const std::size_t key = ready.find("\"port\": ");
        const int port = key == std::string::npos ? 0 : std::atoi(ready.c_str() + key + 8);
        ASSERT_NE(0, port) << "no server announced for " << c.cert;
        const std::string log = ServerStatePath(std::string("requests-") + c.cert + ".log");
        const std::size_t mark = ReadWhole(log).size();
        folder.Write("cert.txt", "old");
        const std::string url = "https://127.0.0.1:" + std::to_string(port) + kServedBase + "transfer/cert.txt";
        EXPECT_EQ(c.result, DownloadUrlToFile(url.c_str(), "cert.txt", c.secure));
        EXPECT_EQ(c.result == kTransferDone ? body : "old", folder.Read("cert.txt"));
        const std::string logged = ReadWhole(log).substr(mark);
        EXPECT_EQ(c.requests, static_cast<std::size_t>(std::count(logged.begin(), logged.end(), '\n')));
    }
}
