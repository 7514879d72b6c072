// Renders the frame the launcher would show for a given display state, with the product's
// own composition code and skin, and writes it as raw top-down RGB bytes. End-to-end tests
// compare the real window's pixels with it.
//   render_frame OUT_FILE STATUS_HEX B0 B1 B2 B3 CURRENT TOTAL
// STATUS_HEX is the status text's bytes (ANSI code page) in hex, "-" for an empty text.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/display_state.h"
#include "common/process_state.h"
#include "settings/layout_values.h"
#include "skin/frame_win32.h"
#include "skin/skin_win32.h"
#include "update/versions_win32.h"

int main(int argc, char** argv) {
    if (argc != 9) {
        std::fprintf(stderr, "usage: render_frame OUT_FILE STATUS_HEX B0 B1 B2 B3 CURRENT TOTAL\n");
        return 2;
    }
    std::string status;
    if (std::string(argv[2]) != "-")
        for (const char* p = argv[2]; p[0] && p[1]; p += 2) {
            char byte[3] = {p[0], p[1], 0};
            status += static_cast<char>(std::strtoul(byte, nullptr, 16));
        }
    LauncherVersion = ReadLauncherVersion();
    LoadSkinImages(GetModuleHandleA(nullptr));
    ApplySettings();
    CompleteElementRects();
    SIZE size = BitmapSize(BackgroundImage);
    WindowSize = {size.cx, size.cy};
    BackBuffer = CreateBackBuffer(size.cx, size.cy, &BackBufferPixels);
    AlphaMask = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size.cx) * size.cy));
    BuildAlphaMask();
    SkinFont = CreateSkinFont();
    StatusText.Set(status.c_str());
    for (int i = 0; i < 4; ++i) ButtonStates[i] = std::atoi(argv[3 + i]);
    ProgressCurrent = std::atoi(argv[7]);
    ProgressTotal = std::atoi(argv[8]);
    ComposeFrame();
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 1;
    for (int y = 0; y < size.cy; ++y) {
        const uint8_t* row = BackBufferPixels + static_cast<size_t>(size.cy - 1 - y) * size.cx * 4;
        for (int x = 0; x < size.cx; ++x) {
            unsigned char rgb[3] = {row[x * 4 + 2], row[x * 4 + 1], row[x * 4]};
            std::fwrite(rgb, 1, 3, out);
        }
    }
    std::fclose(out);
    return 0;
}
