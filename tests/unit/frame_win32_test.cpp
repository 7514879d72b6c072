// ComposeFrame on the real skin resources: the change test, the start button's normal look,
// cropped bars, quitting.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/display_state.h"
#include "common/process_state.h"
#include "settings/layout_values.h"
#include "shell/startup_win32.h"
#include "skin/frame_win32.h"
#include "skin/skin_win32.h"

namespace {

class Frame : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool loaded = false;  // once for the suites built on this one too
        if (loaded) return;
        loaded = true;
        LoadSkinImages(GetModuleHandleA(nullptr));
        ApplySettings();
        CompleteElementRects();
        SIZE size = BitmapSize(BackgroundImage);
        WindowSize = {size.cx, size.cy};
        BackBuffer = CreateBackBuffer(WindowSize.width, WindowSize.height, &BackBufferPixels);
        AlphaMask = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size.cx) * size.cy));
        BuildAlphaMask();
        SkinFont = CreateSkinFont();
    }
    void SetUp() override {
        ResetDisplayState();
        ResetDrawnRecord();
    }

    // Pixel (x, y) of the picture, top-left origin, as 0x00RRGGBB with its alpha dropped.
    static uint32_t BufferPixel(int x, int y) {
        const uint8_t* p = BackBufferPixels + (static_cast<size_t>(WindowSize.height - 1 - y) * WindowSize.width + x) * 4;
        return (p[2] << 16) | (p[1] << 8) | p[0];
    }
    // Read through GetDIBits: the frame code keeps every picture selected in a DC of its own.
    static uint32_t ImagePixel(HBITMAP image, int x, int y) {
        SIZE size = BitmapSize(image);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = size.cx;
        info.bmiHeader.biHeight = -size.cy;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        std::vector<uint8_t> pixels(static_cast<size_t>(size.cx) * size.cy * 4);
        HDC screen = GetDC(nullptr);
        GetDIBits(screen, image, 0, size.cy, pixels.data(), &info, DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        const uint8_t* p = pixels.data() + (static_cast<size_t>(y) * size.cx + x) * 4;
        return (p[2] << 16) | (p[1] << 8) | p[0];
    }
};

}  // namespace

TEST_F(Frame, SkinHasTheLayoutSizes) {
    EXPECT_EQ(649, WindowSize.width);
    EXPECT_EQ(489, WindowSize.height);
    const ElementRect expected[6] = {{20, 349, 134, 463}, {335, 364, 429, 403}, {138, 364, 232, 403},
                                     {237, 364, 331, 403}, {141, 430, 417, 437}, {141, 418, 417, 425}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(expected[i].left, ElementRects[i].left) << i;
        EXPECT_EQ(expected[i].top, ElementRects[i].top) << i;
        EXPECT_EQ(expected[i].right, ElementRects[i].right) << i;
        EXPECT_EQ(expected[i].bottom, ElementRects[i].bottom) << i;
    }
    // Above the panel the mask is black: nothing there, not even colour.
    EXPECT_EQ(0u, AlphaMask[static_cast<size_t>(WindowSize.height - 1 - 10) * WindowSize.width + 300]);
}

TEST_F(Frame, UnchangedStateDrawsNothingMore) {
    EXPECT_TRUE(ComposeFrame());
    EXPECT_FALSE(ComposeFrame());
    ButtonStates[kExitButton] = kButtonHover;  // a hover alone makes a new frame
    EXPECT_TRUE(ComposeFrame());
    EXPECT_FALSE(ComposeFrame());
    StatusText.Set("Downloading file (a.zip)");
    EXPECT_TRUE(ComposeFrame());
    EXPECT_FALSE(ComposeFrame());
}

TEST_F(Frame, EnabledStartButtonComposesEveryTimeWithItsPressedPicture) {
    SetStartButtonState(kButtonNormal);
    EXPECT_TRUE(ComposeFrame());
    EXPECT_TRUE(ComposeFrame());
    EXPECT_TRUE(ComposeFrame());
    // Inside the start button the frame shows picture 208 (entry 1), opaque there.
    EXPECT_EQ(ImagePixel(SkinImages[1], 57, 57), BufferPixel(20 + 57, 349 + 57));
    SetStartButtonState(kButtonDisabled);
    EXPECT_TRUE(ComposeFrame());
    EXPECT_EQ(ImagePixel(SkinImages[2], 57, 57), BufferPixel(20 + 57, 349 + 57));
    EXPECT_FALSE(ComposeFrame());
}

TEST_F(Frame, BarsAreCroppedNotStretched) {
    ProgressCurrent = 33;
    ProgressTotal = 50;
    ASSERT_TRUE(ComposeFrame());
    EXPECT_EQ(ImagePixel(SkinImages[12], 90, 3), BufferPixel(141 + 90, 418 + 3));
    EXPECT_NE(ImagePixel(SkinImages[12], 91, 3), BufferPixel(141 + 91, 418 + 3));
    EXPECT_EQ(ImagePixel(SkinImages[13], 137, 3), BufferPixel(141 + 137, 430 + 3));
    EXPECT_EQ(ImagePixel(BackgroundImage, 141 + 138, 433), BufferPixel(141 + 138, 430 + 3));
    ProgressCurrent = 100;
    ASSERT_TRUE(ComposeFrame());
    EXPECT_EQ(ImagePixel(SkinImages[12], 275, 3), BufferPixel(141 + 275, 418 + 3));
}

TEST_F(Frame, StatusTextIsDrawnAndAQuitStopsComposing) {
    StatusText.Set("");
    ASSERT_TRUE(ComposeFrame());
    uint32_t empty = BufferPixel(TextX + 3, TextY + 5);
    StatusText.Set("\xB0\xA1\xB0\xA1 WWWW MMMM");  // CP949 Hangul and Latin
    ASSERT_TRUE(ComposeFrame());
    bool changed = false;
    for (int x = TextX; x < TextX + 60 && !changed; ++x)
        for (int y = TextY; y < TextY + 12 && !changed; ++y) changed = BufferPixel(x, y) != empty;
    EXPECT_TRUE(changed);
    QuitRequested = 1;
    StatusText.Set("anything new");
    EXPECT_FALSE(ComposeFrame());
}

TEST_F(Frame, PartialRedrawPresentsTheSamePixelsAsAWholeRedraw) {
    const size_t bytes = static_cast<size_t>(WindowSize.width) * WindowSize.height * 4;
    ASSERT_TRUE(ComposeFrame());  // whole redraw, the changing parts found
    struct State { int32_t buttons[4]; int32_t current, total; const char* text; };
    const State states[] = {
        {{3, 1, 0, 2}, 33, 66, "Downloading file (data/a.zip)"},
        {{0, 0, 1, 0}, 100, 100, "\xB0\xA1\xB0\xA1 ready 10004"},
        {{2, 0, 0, 1}, 0, 5, ""},
    };
    for (const State& s : states) {
        for (int i = 0; i < 4; ++i) ButtonStates[i] = s.buttons[i];
        ProgressCurrent = s.current;
        ProgressTotal = s.total;
        StatusText.Set(s.text);
        ASSERT_TRUE(ComposeFrame());
        std::vector<uint8_t> partial(BackBufferPixels, BackBufferPixels + bytes);
        ResetDrawnRecord();
        ASSERT_TRUE(ComposeFrame());
        size_t first = 0;
        while (first < bytes && partial[first] == BackBufferPixels[first]) ++first;
        EXPECT_EQ(bytes, first) << s.text << ": first difference at x " << (first / 4) % WindowSize.width
                                << ", y " << WindowSize.height - 1 - static_cast<int>(first / 4 / WindowSize.width);
    }
}

TEST_F(Frame, AFrameThatCouldNotBeDrawnIsDrawnAtTheNextCall) {
    ASSERT_TRUE(ComposeFrame());  // the disabled start button
    const HBITMAP buffer = BackBuffer;
    for (bool ready : {true, false}) {
        SCOPED_TRACE(ready ? "ready" : "hover");
        if (ready) {
            SetStartButtonState(kButtonNormal);
        } else {
            SetStartButtonState(kButtonDisabled);
            ButtonStates[kExitButton] = kButtonHover;
        }
        ReleaseBackBufferDc();
        BackBuffer = nullptr;  // no drawing context can be made for it
        EXPECT_FALSE(ComposeFrame());
        BackBuffer = buffer;
        EXPECT_TRUE(ComposeFrame());
        EXPECT_EQ(ImagePixel(SkinImages[ready ? 1 : 2], 57, 57), BufferPixel(20 + 57, 349 + 57));
    }
    EXPECT_EQ(ImagePixel(SkinImages[3], 47, 19), BufferPixel(335 + 47, 364 + 19));  // the exit button's hover
}

namespace {

// The launcher's window as start-up makes it: layered, shown, at a known place on the screen.
class Presentation : public Frame {
protected:
    void SetUp() override {
        Frame::SetUp();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "PresentationTest";
        RegisterClassA(&windowClass);
        MainWindow = CreateWindowExA(WS_EX_LAYERED, "PresentationTest", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     windowClass.hInstance, nullptr);
        ASSERT_NE(nullptr, MainWindow);
        OsMajorVersion = 6;
        WindowOrigin = {40, 30};
        ShowWindow(MainWindow, SW_SHOW);
        SetWindowPos(MainWindow, HWND_TOP, WindowOrigin.x, WindowOrigin.y, WindowSize.width, WindowSize.height, 0);
        PlaceWindow();
    }
    void TearDown() override {
        DestroyWindow(MainWindow);
        MainWindow = nullptr;
        OsMajorVersion = 4;
    }
    // What the screen shows at a point of the window.
    static uint32_t ScreenPixel(int x, int y) {
        HDC screen = GetDC(nullptr);
        COLORREF c = GetPixel(screen, WindowOrigin.x + x, WindowOrigin.y + y);
        ReleaseDC(nullptr, screen);
        return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
    // What the system does when it drops a layered window's picture: the window shows another.
    static void ReplaceWhatTheWindowShows() {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = WindowSize.width;
        info.bmiHeader.biHeight = WindowSize.height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP black = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        std::memset(bits, 0, static_cast<size_t>(WindowSize.width) * WindowSize.height * 4);
        for (size_t i = 3; i < static_cast<size_t>(WindowSize.width) * WindowSize.height * 4; i += 4)
            static_cast<uint8_t*>(bits)[i] = 255;
        HDC source = CreateCompatibleDC(nullptr);
        HGDIOBJ previous = SelectObject(source, black);
        HDC screen = GetDC(nullptr);
        POINT at = {WindowOrigin.x, WindowOrigin.y};
        SIZE size = {WindowSize.width, WindowSize.height};
        POINT origin = {0, 0};
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        UpdateLayeredWindow(MainWindow, screen, &at, &size, source, &origin, 0, &blend, ULW_ALPHA);
        ReleaseDC(nullptr, screen);
        SelectObject(source, previous);
        DeleteDC(source);
        DeleteObject(black);
    }
};

}  // namespace

TEST_F(Presentation, APaintRequestOrADisplayChangeShowsTheFrameAgain) {
    for (int32_t start : {kButtonNormal, kButtonDisabled}) {
        SetStartButtonState(start);
        if (ComposeFrame()) PresentFrame();
        const uint32_t frame = BufferPixel(20 + 57, 349 + 57);  // opaque inside the start button
        ASSERT_NE(0u, frame);
        ASSERT_EQ(frame, ScreenPixel(20 + 57, 349 + 57));
        for (UINT message : {static_cast<UINT>(WM_PAINT), static_cast<UINT>(WM_DISPLAYCHANGE)}) {
            SCOPED_TRACE(::testing::Message() << "start button " << start << ", message " << message);
            ReplaceWhatTheWindowShows();
            ASSERT_EQ(0u, ScreenPixel(20 + 57, 349 + 57));
            SendMessageA(MainWindow, message, 0, 0);
            EXPECT_EQ(frame, ScreenPixel(20 + 57, 349 + 57));
        }
    }
}

TEST(SkinRelease, DeletesEveryPictureTheBackBufferAndTheFont) {
    // A second skin of its own, so the one the frame tests draw with stays.
    const HBITMAP keptBackground = BackgroundImage, keptMask = MaskImage, keptBuffer = BackBuffer;
    HBITMAP keptImages[kSkinImageSlots];
    std::memcpy(keptImages, SkinImages, sizeof keptImages);
    const HFONT keptFont = SkinFont;
    uint8_t* const keptMaskBytes = AlphaMask;
    uint8_t* const keptPixels = BackBufferPixels;

    LoadSkinImages(GetModuleHandleA(nullptr));
    SkinFont = CreateSkinFont();
    BackBuffer = CreateBackBuffer(64, 32, &BackBufferPixels);
    AlphaMask = static_cast<uint8_t*>(std::malloc(64 * 32));
    std::vector<HGDIOBJ> objects = {BackgroundImage, MaskImage, BackBuffer, SkinFont};
    objects.insert(objects.end(), SkinImages, SkinImages + 14);
    for (HGDIOBJ object : objects) ASSERT_NE(0u, GetObjectType(object));
    ASSERT_NE(nullptr, BackBufferDc());  // the buffer selected in its DC, as after a frame

    ReleaseSkin();
    for (HGDIOBJ object : objects) EXPECT_EQ(0u, GetObjectType(object)) << object;
    EXPECT_EQ(nullptr, BackgroundImage);
    EXPECT_EQ(nullptr, BackBuffer);
    EXPECT_EQ(nullptr, AlphaMask);

    BackgroundImage = keptBackground;
    MaskImage = keptMask;
    BackBuffer = keptBuffer;
    std::memcpy(SkinImages, keptImages, sizeof keptImages);
    SkinFont = keptFont;
    AlphaMask = keptMaskBytes;
    BackBufferPixels = keptPixels;
}
