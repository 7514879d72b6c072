// Prints, measured in one run under the same Wine: the composition time, a whole changed frame
// against the bare layered update of the same buffer (alternating blocks), the ready state's
// tick, and the CPU share of 20 bare updates a second (the baseline of the launcher's idle
// cost in the ready state).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_stats.h"

#include "common/display_state.h"
#include "common/process_state.h"
#include "settings/layout_values.h"
#include "shell/startup_win32.h"
#include "skin/frame_win32.h"
#include "skin/skin_win32.h"

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME f) { return (static_cast<double>(f.dwHighDateTime) * 4294967296.0 + f.dwLowDateTime) / 10000.0; };
    return ms(kernel) + ms(user);
}

void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

void BareUpdate(HDC screen, HDC memory) {
    POINT destination = {LayeredPlacement.x, LayeredPlacement.y};
    SIZE size = {WindowSize.width, WindowSize.height};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(MainWindow, screen, &destination, &size, memory, &source, 0, &blend, ULW_ALPHA);
}

}  // namespace

int main() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "FrameBench";
    RegisterClassA(&windowClass);
    OsMajorVersion = 6;
    LoadSkinImages(instance);
    ApplySettings();
    CompleteElementRects();
    SIZE size = BitmapSize(BackgroundImage);
    WindowSize = {size.cx, size.cy};
    MainWindow = CreateWindowExA(WS_EX_LAYERED, "FrameBench", "frame bench", WS_POPUP, 100, 100, size.cx, size.cy,
                                 nullptr, nullptr, instance, nullptr);
    BackBuffer = CreateBackBuffer(size.cx, size.cy, &BackBufferPixels);
    AlphaMask = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size.cx) * size.cy));
    SkinFont = CreateSkinFont();
    ShowWindow(MainWindow, SW_SHOW);
    BuildAlphaMask();
    WindowOrigin = {100, 100};
    PlaceWindow();
    StatusText.Set("Downloading file (data/patch_10004.zip)");

    std::printf("architecture: %s\n", sizeof(void*) == 8 ? "x86_64" : "i686");
    const int frames = 60;   // frames per timed block
    const int blocks = 7;    // alternating blocks of each side
    HDC screen = GetDC(nullptr);
    HDC memory = BackBufferDc();
    int frameNumber = 0;
    // Composition alone: a changed progress value forces every drawing step and the opacity pass.
    std::vector<double> compose;
    for (int block = 0; block < blocks; ++block) {
        double start = Now();
        for (int i = 0; i < frames; ++i) {
            ProgressCurrent = ++frameNumber % 101;
            ComposeFrame();
        }
        compose.push_back((Now() - start) / frames);
    }
    PrintSpread("composition of a changed frame:", SpreadOf(compose), "ms");
    // A whole changed frame (a download moving the bar) against the bare layered update of the
    // same buffer, already selected in its DC.
    auto wholeFrame = [&] {
        double start = Now();
        for (int i = 0; i < frames; ++i) {
            ProgressCurrent = (++frameNumber * 7) % 101;
            ComposeFrame();
            PresentFrame();
            Pump();
        }
        return (Now() - start) / frames;
    };
    auto bareUpdate = [&] {
        double start = Now();
        for (int i = 0; i < frames; ++i) {
            BareUpdate(screen, memory);
            Pump();
        }
        return (Now() - start) / frames;
    };
    Alternate(blocks, "whole changed frame (ms):", wholeFrame, "bare UpdateLayeredWindow (ms):", bareUpdate, "",
              "whole changed frame / bare update:");
    // Ready state: the start button enabled, nothing else changing; a whole tick's frame work.
    SetStartButtonState(kButtonNormal);
    ProgressCurrent = 100;
    ProgressTotal = 100;
    ComposeFrame();
    PresentFrame();
    std::vector<double> ready;
    for (int block = 0; block < blocks; ++block) {
        double start = Now();
        for (int i = 0; i < frames; ++i)
            if (ComposeFrame()) PresentFrame();
        ready.push_back((Now() - start) / frames);
    }
    PrintSpread("ready-state tick, compose+present:", SpreadOf(ready), "ms (nothing changed on screen)");
    // 20 bare updates a second for five seconds: the CPU share of the platform's own cost.
    double cpuStart = ProcessCpuMs(), wallStart = Now();
    for (int i = 0; i < 100; ++i) {
        BareUpdate(screen, memory);
        Pump();
        Sleep(50);
    }
    double bareShare = (ProcessCpuMs() - cpuStart) / (Now() - wallStart) * 100.0;
    ReleaseDC(nullptr, screen);
    std::printf("CPU share of 20 bare updates/s:    %.2f %%\n", bareShare);
    return 0;
}
