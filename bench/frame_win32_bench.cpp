// Prints, measured in one run under the same Wine: the composition time, the presentation
// time, the bare layered update of the same buffer, and the CPU share of 20 bare updates a
// second (the baseline of the launcher's idle cost in the ready state).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "common/display_state.h"
#include "settings/layout_values.h"
#include "shell/process_state.h"
#include "shell/startup_win32.h"
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

    const int rounds = 300;
    // Full composition: a changed progress value forces every drawing step and the opacity pass.
    double composeTotal = 0;
    for (int i = 0; i < rounds; ++i) {
        ProgressCurrent = i % 101;
        double start = Now();
        ComposeFrame();
        composeTotal += Now() - start;
    }
    // Presentation of a new frame each time (a download moving the bar).
    double presentTotal = 0;
    for (int i = 0; i < rounds; ++i) {
        ProgressCurrent = (i * 7) % 101;
        ComposeFrame();
        double start = Now();
        PresentFrame();
        presentTotal += Now() - start;
        Pump();
    }
    // Ready state: the start button enabled, nothing else changing; a whole tick's frame work.
    SetStartButtonState(kButtonNormal);
    ProgressCurrent = 100;
    ProgressTotal = 100;
    ComposeFrame();
    PresentFrame();
    double readyTotal = 0;
    for (int i = 0; i < rounds; ++i) {
        double start = Now();
        if (ComposeFrame()) PresentFrame();
        readyTotal += Now() - start;
    }
    // The same buffer, already selected in its DC, handed straight to the layered update.
    HDC screen = GetDC(nullptr);
    HDC memory = BackBufferDc();
    double bareTotal = 0;
    for (int i = 0; i < rounds; ++i) {
        double start = Now();
        BareUpdate(screen, memory);
        bareTotal += Now() - start;
        Pump();
    }
    // 20 bare updates a second for five seconds: the CPU share of the platform's own cost.
    double cpuStart = ProcessCpuMs(), wallStart = Now();
    for (int i = 0; i < 100; ++i) {
        BareUpdate(screen, memory);
        Pump();
        Sleep(50);
    }
    double bareShare = (ProcessCpuMs() - cpuStart) / (Now() - wallStart) * 100.0;
    ReleaseDC(nullptr, screen);

    std::printf("composition of a changed frame:    %.3f ms per frame\n", composeTotal / rounds);
    std::printf("presentation of a changed frame:   %.3f ms per frame\n", presentTotal / rounds);
    std::printf("bare UpdateLayeredWindow:          %.3f ms per frame\n", bareTotal / rounds);
    std::printf("whole changed frame / bare update: %.2f\n", (composeTotal + presentTotal) / bareTotal);
    std::printf("ready-state tick, compose+present: %.3f ms (nothing changed on screen)\n", readyTotal / rounds);
    std::printf("CPU share of 20 bare updates/s:    %.2f %%\n", bareShare);
    return 0;
}
