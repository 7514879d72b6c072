// Finds a message box by its caption, reports its text and owner as one JSON line (UTF-8),
// and optionally presses its OK button. Used by end-to-end tests so no box ever blocks them.
//   box_probe CAPTION_AS_UTF8_HEX [--dismiss] [--timeout MS]
// Exit code 0 when found, 1 when no such box appeared in time.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The caption arrives as hex of its UTF-8 bytes: Wine would decode a raw non-ASCII argument
// with the Unix locale's character set, which the test machine may not have.
std::string FromHex(const char* hex) {
    std::string out;
    for (std::size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        char byte[3] = {hex[i], hex[i + 1], 0};
        out += static_cast<char>(std::strtoul(byte, nullptr, 16));
    }
    return out;
}

std::wstring Widen(const char* utf8) {
    wchar_t buffer[512];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer, 512);
    return n > 0 ? std::wstring(buffer) : std::wstring();
}

std::string Narrow(const wchar_t* wide) {
    char buffer[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr);
    return n > 0 ? std::string(buffer) : std::string();
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

struct Search {
    std::wstring caption;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    wchar_t className[64] = {0};
    GetClassNameW(window, className, 64);
    if (std::wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    wchar_t title[512] = {0};
    GetWindowTextW(window, title, 512);
    if (search->caption == title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Lists the top-level windows on stderr, to tell why a box was not found.
BOOL CALLBACK ListWindow(HWND window, LPARAM) {
    wchar_t className[64] = {0}, title[256] = {0};
    GetClassNameW(window, className, 64);
    GetWindowTextW(window, title, 256);
    std::fprintf(stderr, "window class=%s title=%s visible=%d\n", Narrow(className).c_str(), Narrow(title).c_str(),
                 IsWindowVisible(window) ? 1 : 0);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: box_probe CAPTION_UTF8_HEX [--dismiss] [--timeout MS]\n");
        return 2;
    }
    bool dismiss = false;
    int timeout = 10000;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dismiss") == 0) dismiss = true;
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) timeout = std::atoi(argv[++i]);
    }
    Search search = {Widen(FromHex(argv[1]).c_str()), nullptr};
    DWORD start = GetTickCount();
    while (!search.found && static_cast<int>(GetTickCount() - start) < timeout) {
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(100);
    }
    if (!search.found) {
        EnumWindows(ListWindow, 0);
        std::printf("{\"found\": false}\n");
        return 1;
    }
    wchar_t text[2048] = {0};
    GetDlgItemTextW(search.found, 0xFFFF, text, 2048);  // the message text's static control
    HWND owner = GetWindow(search.found, GW_OWNER);
    wchar_t ownerTitle[512] = {0};
    if (owner) GetWindowTextW(owner, ownerTitle, 512);
    LONG exStyle = GetWindowLongW(search.found, GWL_EXSTYLE);
    std::printf("{\"found\": true, \"text\": %s, \"owner\": %s, \"topmost\": %s}\n", Json(Narrow(text)).c_str(),
                Json(Narrow(ownerTitle)).c_str(), (exStyle & WS_EX_TOPMOST) ? "true" : "false");
    std::fflush(stdout);
    if (dismiss) {
        HWND ok = GetDlgItem(search.found, IDOK);
        if (ok) SendMessageW(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
        else PostMessageW(search.found, WM_CLOSE, 0, 0);
    }
    return 0;
}
