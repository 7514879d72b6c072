// URL splitting: character walking in CP949, the path search, host and path, host and port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "update/url_split.h"

namespace {

const char* NextByte(const char* position) { return *position ? position + 1 : position; }

long OffsetIn(const char* text, const char* found) { return found ? static_cast<long>(found - text) : -1; }

}  // namespace

TEST(FindCharInText, TrailBytesNeverMatch) {
    struct Case { const char* text; char sought; long offset; };
    const Case cases[] = {
        {"abc", 'b', 1},          {"abc", 'x', -1},          {"", 'a', -1},   {"abc", '\0', -1},
        {"\xB0\x41", 'A', -1},    {"\xB0\x41xA", 'A', 3},    {"A\xB0\x41", 'A', 0},
        {"\x81\x41", 'A', -1},    {"\xFE\x7A", 'z', -1},     // lowest and highest lead bytes
        {"\x80\x41", 'A', 1},     {"\xFF\x41", 'A', 1},      // neither leads anything
        {"\xB0\xA1\xB0\x41" "A", 'A', 4},                    // two double-byte characters
        {"\xC7\x5C\\", '\\', 2},  {"x\xB0\xB0\xB0", '\xB0', 1},
        {"ab\xB0", '\xB0', 2},    {"ab\xB0", 'b', 1},        // a lead byte right before the NUL
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.offset, OffsetIn(c.text, FindCharInTextWith(c.text, c.sought, NextCp949Char)));
    }
    EXPECT_EQ(1, OffsetIn("\xB0\x41", FindCharInTextWith("\xB0\x41", 'A', NextByte)));
    EXPECT_EQ(nullptr, FindCharInTextWith(nullptr, 'a', NextCp949Char));
}

TEST(FindUrlPath, FirstSlashAfterTheFirstDot) {
    struct Case { const char* url; long offset; };
    const Case cases[] = {
        {"https://cdn.example.com/Setup/live/LauncherPatchInfo.txt", 23},
        {"https://127.0.0.1:48501/Setup/live", 23},
        {"https://cdn.example.com", -1},
        {"https://cdn.example.com?x=/y", 26},
        // Without a "." in the host the rule lands on the scheme's slash or in the path.
        {"https://localhost/file", 6},
        {"https://localhost/a.b/c", 21},
    };
    for (const Case& c : cases) EXPECT_EQ(c.offset, OffsetIn(c.url, FindUrlPath(c.url))) << c.url;
}

TEST(SplitUrl, HostAndPath) {
    struct Case { const char* url; int result; const char* host; long pathOffset; bool dotInHost; };
    const Case cases[] = {
        {"https://cdn.example.com/Setup/live/StandaloneWindows64/LauncherPatchInfo.txt", 0, "cdn.example.com", 23, true},
        {"https://127.0.0.1:48501/Setup/LauncherPatchInfo.txt?tick=42", 0, "127.0.0.1:48501", 23, true},
        {"http://files.example:8080", 0, "files.example:8080", -1, true},
        {"https://cdn.example.com/x?v=2?tick=9", 0, "cdn.example.com", 23, true},
        {"https://cdn.example.com/\xB0\x41/\xC7\xD1.zip", 0, "cdn.example.com", 23, true},
        {"https://localhost/file", 0, "localhost", 17, false},
        {"https://localhost:8443/file.txt", 0, "localhost:8443", 22, false},
        {"http://intranet", 0, "intranet", -1, false},
        {"x.y://host/p", 0, "host", 10, false},
        {"https:///path", 0, "", 8, false},
        {"https:/", 0, "", -1, false},
        {"no-slash-at-all.example.com", 1, nullptr, -1, false},
        {"https:\\\\127.0.0.1\\x", 1, nullptr, -1, false},
        {"", 1, nullptr, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        char* host = nullptr;
        const char* path = "unset";
        ASSERT_EQ(c.result, SplitUrl(c.url, &host, &path));
        if (c.result != 0) {
            EXPECT_EQ(nullptr, host);
            EXPECT_EQ(nullptr, path);
            continue;
        }
        EXPECT_STREQ(c.host, host);
        EXPECT_EQ('\0', host[std::strlen(c.host) + 1]);  // zero-filled past the terminator
        EXPECT_EQ(c.pathOffset, OffsetIn(c.url, path));
        if (c.dotInHost) {
            EXPECT_EQ(FindUrlPath(c.url), path);
        }
        std::free(host);
    }
}

TEST(SplitHostPort, NameAndPort) {
    const std::string longest(255, 'h');
    const std::string tooLong(256, 'h');
    struct Case { const char* text; unsigned defaultPort; int result; const char* name; unsigned port; };
    const Case cases[] = {
        {"127.0.0.1:48501", 443, 1, "127.0.0.1", 48501}, {"cdn.example.com", 443, 1, "cdn.example.com", 443},
        {"cdn.example.com", 80, 1, "cdn.example.com", 80}, {"h:", 443, 1, "h", 443},
        {"h:65535", 80, 1, "h", 65535},  {"h:0", 80, 0, nullptr, 0},     {"h:65536", 80, 0, nullptr, 0},
        {"h:99999999999", 80, 0, nullptr, 0}, {"h:12a", 80, 0, nullptr, 0}, {"h:1:2", 80, 0, nullptr, 0},
        {":443", 443, 0, nullptr, 0},    {"", 443, 0, nullptr, 0},
        {"[::1]:8443", 443, 1, "::1", 8443}, {"[::1]", 443, 1, "::1", 443}, {"[::1]x", 443, 0, nullptr, 0},
        {"[::1", 443, 0, nullptr, 0},    {longest.c_str(), 443, 1, longest.c_str(), 443},
        {tooLong.c_str(), 443, 0, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char name[256] = "unset";
        unsigned port = 7;
        ASSERT_EQ(c.result, SplitHostPort(c.text, c.defaultPort, name, sizeof name, &port));
        EXPECT_EQ(c.result ? c.port : 7u, port);
        if (c.result) {
            EXPECT_STREQ(c.name, name);
        }
    }
}
