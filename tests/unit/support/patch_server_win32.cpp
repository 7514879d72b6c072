// Test-side client of the test patch server: files through Z:, faults through its control URL.
#include "support/patch_server_win32.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string UnixToWindows(const std::string& unixPath) {
    std::string out = "Z:";
    for (char c : unixPath) out += c == '/' ? '\\' : c;
    return out;
}

std::string StateDir() {
    const char* state = std::getenv("TEST_PATCH_STATE");
    return state ? UnixToWindows(state) : std::string();
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

bool PatchServerAvailable() {
    std::string state = StateDir();
    return !state.empty() && std::filesystem::exists(state + "\\ready.json");
}

int PatchServerPort() {
    const char* port = std::getenv("TEST_PATCH_PORT");
    return port ? std::atoi(port) : 48443;
}

std::string PatchServerBaseUrl() {
    return "https://127.0.0.1:" + std::to_string(PatchServerPort()) + "/Setup/live/StandaloneWindows64";
}

std::string ServerStatePath(const std::string& name) { return StateDir() + "\\" + name; }

std::string LogField(const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\": \"";
    const std::size_t start = line.find(key);
    if (start == std::string::npos) return std::string();
    const std::size_t from = start + key.size();
    return line.substr(from, line.find('"', from) - from);
}

std::string PatchServerUrl(const std::string& relative) { return PatchServerBaseUrl() + "/" + relative; }

std::string ServedPath(const std::string& relative) {
    std::string path = StateDir() + "\\root\\";
    for (char c : relative) path += c == '/' ? '\\' : c;
    return path;
}

void PutServedFile(const std::string& relative, const std::string& bytes) {
    std::filesystem::path target = ServedPath(relative);
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void RemoveServedFile(const std::string& relative) {
    std::error_code ignored;
    std::filesystem::remove(ServedPath(relative), ignored);
}

bool SetServerFaults(const std::vector<std::string>& rules) {
    std::string body = "[";
    for (std::size_t i = 0; i < rules.size(); ++i) body += (i ? "," : "") + JsonString(rules[i]);
    body += "]";
    HINTERNET root = InternetOpenA("test-control", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!root) return false;
    HINTERNET connection = InternetConnectA(root, "127.0.0.1", static_cast<INTERNET_PORT>(PatchServerPort()),
                                            nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    bool ok = false;
    if (connection) {
        HINTERNET request = HttpOpenRequestA(connection, rules.empty() ? "DELETE" : "POST", "/__control/faults",
                                             nullptr, nullptr, nullptr,
                                             INTERNET_FLAG_SECURE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
        if (request) {
            const char* headers = "Content-Type: application/json\r\n";
            ok = HttpSendRequestA(request, headers, static_cast<DWORD>(-1), body.empty() ? nullptr : &body[0],
                                  static_cast<DWORD>(body.size())) != FALSE;
            if (ok) {
                DWORD status = 0, size = sizeof status;
                ok = HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
                     status >= 200 && status < 300;
                char sink[512];
                DWORD got = 0;
                while (InternetReadFile(request, sink, sizeof sink, &got) && got > 0) {}
            }
            InternetCloseHandle(request);
        }
        InternetCloseHandle(connection);
    }
    InternetCloseHandle(root);
    return ok;
}

long LogMark() {
    std::error_code error;
    auto size = std::filesystem::file_size(StateDir() + "\\requests.log", error);
    return error ? 0 : static_cast<long>(size);
}

std::vector<std::string> RequestsSince(long mark) {
    // The server logs a request after its answer is sent, so the client can be a moment ahead
    // of the log: wait until the log has stopped growing (at most two seconds).
    long size = LogMark();
    for (int waited = 0, still = 0; waited < 2000 && still < 150; waited += 50) {
        Sleep(50);
        long now = LogMark();
        still = now == size ? still + 50 : 0;
        size = now;
    }
    std::vector<std::string> lines;
    std::ifstream in(StateDir() + "\\requests.log", std::ios::binary);
    in.seekg(mark);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) lines.push_back(line);
    return lines;
}
