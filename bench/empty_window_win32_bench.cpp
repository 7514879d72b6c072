// The empty program of the start-up benchmark: a layered popup of the launcher's size that
// shows one plain frame as soon as it can, then idles until it is ended (or 30 s pass). What
// Wine's own process start costs up to a first frame, without anything of the launcher's.
#include <windows.h>

#include <cstring>

namespace {

constexpr int kWidth = 649;
constexpr int kHeight = 489;
// Opaque, premultiplied: 0xAARRGGBB as the DIB holds it.
constexpr unsigned kColour = 0xFF306090u;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER || message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void PresentPlainFrame(HWND window) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        unsigned* pixels = static_cast<unsigned*>(bits);
        for (int i = 0; i < kWidth * kHeight; ++i) pixels[i] = kColour;
        HGDIOBJ old = SelectObject(memory, bitmap);
        POINT source = {0, 0};
        SIZE size = {kWidth, kHeight};
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        UpdateLayeredWindow(window, screen, nullptr, &size, memory, &source, 0, &blend, ULW_ALPHA);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "EmptyBenchClass";
    if (!RegisterClassA(&windowClass)) return 1;
    HWND window = CreateWindowExA(WS_EX_LAYERED, windowClass.lpszClassName, "QOR Empty", WS_POPUP, 100, 100, kWidth,
                                  kHeight, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOW);
    PresentPlainFrame(window);
    SetTimer(window, 1, 30000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
