// ComposeFrame and PresentFrame: one frame of the window into the back buffer, then onto the screen.
#include "skin/frame_win32.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/process_state.h"
#include "common/win32_handle.h"
#include "settings/launcher_settings.h"
#include "settings/layout_values.h"
#include "skin/frame_regions.h"
#include "skin/pixels.h"
#include "skin/skin_win32.h"
#include "update/versions.h"

namespace {

constexpr std::size_t kDrawCopySize = 256;
constexpr COLORREF kOutlineGrey = 0x00666666;
constexpr COLORREF kOutlineBlack = 0x00000000;

// The last-drawn record; its built-in values differ from the start-up state so the first
// call always draws. RecordHeld is false while the record names no frame in the buffer
// (nothing drawn yet, or the last drawing failed), so that the next call draws whatever it says.
bool RecordHeld = false;
int32_t DrawnButtonStates[kButtonCount] = {1, 1, 1, 1};
int32_t DrawnProgressCurrent = 100;
int32_t DrawnProgressTotal = 100;
char DrawnStatusText[SharedText::kSize] = {0};

// What the back buffer holds now. In the ready state the record is rewritten on every call,
// yet the picture stays the same; redrawing it would change no presented pixel.
struct ComposedFrame {
    bool valid;
    int32_t buttons[kButtonCount];
    int32_t current;
    int32_t total;
    char text[SharedText::kSize];
} Composed = {};

// Counts the frames drawn into the buffer; presentation compares it with what it showed last.
unsigned DrawnGeneration = 0;
struct {
    bool valid;
    unsigned generation;
    Placement placement;
} Presented = {};

// Copies the picture's top-left corner, or with sourceAtTarget the same place of the picture.
void Blit(HDC target, HBITMAP picture, int x, int y, int width, int height, bool sourceAtTarget = false) {
    if (!picture || width <= 0 || height <= 0) return;
    HDC source = PictureDc(picture);
    if (!source) return;
    BitBlt(target, x, y, width, height, source, sourceAtTarget ? x : 0, sourceAtTarget ? y : 0, SRCCOPY);
}

// Cuts text to fit kDrawCopySize without splitting a double-byte character.
void MakeDrawingCopy(const char* text, char (&copy)[kDrawCopySize]) {
    std::size_t end = 0;
    const char* p = text;
    while (*p) {
        const char* next = CharNextA(p);
        std::size_t nextEnd = static_cast<std::size_t>(next - text);
        if (nextEnd >= kDrawCopySize || next == p) break;
        end = nextEnd;
        p = next;
    }
    std::memcpy(copy, text, end);
    copy[end] = '\0';
}

void DrawStatusLine(HDC dc) {
    char copy[kDrawCopySize];
    MakeDrawingCopy(DrawnStatusText, copy);
    wchar_t wide[kDrawCopySize];
    int units = MultiByteToWideChar(CP_ACP, 0, copy, -1, wide, kDrawCopySize);
    if (units <= 1) return;  // nothing but the terminator
    --units;
    static const struct { int dx, dy; COLORREF colour; bool text; } kPasses[9] = {
        {1, 1, kOutlineGrey, false},  {-1, -1, kOutlineGrey, false}, {1, -1, kOutlineGrey, false},
        {-1, 1, kOutlineGrey, false}, {1, 0, kOutlineBlack, false},  {-1, 0, kOutlineBlack, false},
        {0, 1, kOutlineBlack, false}, {0, -1, kOutlineBlack, false}, {0, 0, 0, true},
    };
    for (const auto& pass : kPasses) {
        SetTextColor(dc, pass.text ? TextColor : pass.colour);
        TextOutW(dc, TextX + pass.dx, TextY + pass.dy, wide, units);
    }
}

void DrawVersionLabel(HDC dc) {
    char label[256] = {0};
    FormatText(label, sizeof label, "l%d.%d.%d.%d %s", static_cast<int>(LauncherVersion.field[0]),
               static_cast<int>(LauncherVersion.field[1]), static_cast<int>(LauncherVersion.field[2]),
               static_cast<int>(LauncherVersion.field[3]), LauncherSettings.ChannelName);
    SetTextColor(dc, TextColor);
    TextOutA(dc, 20, 55, label, static_cast<int>(std::strlen(label)));
}

bool RecordMatchesShared() {
    for (int i = 0; i < kButtonCount; ++i)
        if (ButtonStates[i].load() != DrawnButtonStates[i]) return false;
    return ProgressCurrent.load() == DrawnProgressCurrent && ProgressTotal.load() == DrawnProgressTotal &&
           StatusText.Equals(DrawnStatusText);
}

bool ComposedMatchesRecord() {
    if (!Composed.valid) return false;
    for (int i = 0; i < kButtonCount; ++i)
        if (Composed.buttons[i] != DrawnButtonStates[i]) return false;
    return Composed.current == DrawnProgressCurrent && Composed.total == DrawnProgressTotal &&
           std::strcmp(Composed.text, DrawnStatusText) == 0;
}

// Outside the buttons, the bars and the two text lines a frame is the premultiplied
// background that BuildAlphaMask left in the buffer, and no frame ever draws there. So after
// the first frame only those parts are restored, drawn and given their opacity again: the
// presented pixels are the same as with a whole-window redraw.
struct ChangingParts {
    bool ready;
    std::vector<ElementRect> rects;
    std::vector<RowSpan> spans;
} Parts = {};

void FindChangingParts(HDC dc) {
    Parts.rects.assign(ElementRects, ElementRects + kElementCount);
    TEXTMETRICW metrics;
    int32_t lineHeight = GetTextMetricsW(dc, &metrics) ? metrics.tmHeight + metrics.tmExternalLeading : FontHeight;
    // Text may overhang its cell (outline, bold, diacritics): keep a margin, full width.
    constexpr int32_t kMargin = 4;
    Parts.rects.push_back({0, TextY - 1 - kMargin, WindowSize.width, TextY + 1 + lineHeight + kMargin});
    Parts.rects.push_back({0, 55 - kMargin, WindowSize.width, 55 + lineHeight + kMargin});
    Parts.spans = MergeIntoRowSpans(Parts.rects.data(), Parts.rects.size(), WindowSize.width, WindowSize.height);
}

// Draws the record into the back buffer; false when it could not (no drawing context, no
// pixels or no mask), and the buffer then holds no presentable frame.
bool DrawFrame() {
    HDC target = BackBufferDc();
    if (!target) return false;
    bool partial = Parts.ready;
    {
        if (!partial) {
            Blit(target, BackgroundImage, 0, 0, WindowSize.width, WindowSize.height);
        } else {
            for (const ElementRect& r : Parts.rects)
                Blit(target, BackgroundImage, r.left, r.top, r.right - r.left, r.bottom - r.top, true);
        }
        for (int b = 0; b < kButtonCount; ++b) {
            int32_t s = DrawnButtonStates[b];
            if (s == kButtonNormal && b != kStartButton) continue;
            const ElementRect& r = ElementRects[b];
            int index = 3 * b + s - 1;
            if (index < 0 || index >= 12) continue;
            Blit(target, SkinImages[index], r.left, r.top, r.right - r.left, r.bottom - r.top);
        }
        const ElementRect& upper = ElementRects[kElementBarCurrent];
        const ElementRect& lower = ElementRects[kElementBarTotal];
        Blit(target, SkinImages[12], upper.left, upper.top,
             BarFillWidth(upper.right - upper.left, DrawnProgressCurrent), upper.bottom - upper.top);
        Blit(target, SkinImages[13], lower.left, lower.top,
             BarFillWidth(lower.right - lower.left, DrawnProgressTotal), lower.bottom - lower.top);

        SetBkMode(target, TRANSPARENT);
        ScopedSelect selectFont(target, SkinFont);
        DrawStatusLine(target);
        DrawVersionLabel(target);
        if (!Parts.ready) FindChangingParts(target);
        GdiFlush();
    }
    if (!BackBufferPixels || !AlphaMask) return false;
    if (partial) {
        ApplyOpacityToSpans(BackBufferPixels, AlphaMask, WindowSize.width, WindowSize.height, Parts.spans);
    } else {
        std::size_t pixels = static_cast<std::size_t>(WindowSize.width) * static_cast<std::size_t>(WindowSize.height);
        ApplyOpacity(BackBufferPixels, AlphaMask, pixels);
        Parts.ready = true;
    }
    return true;
}

void TakeRecord() {
    for (int i = 0; i < kButtonCount; ++i) DrawnButtonStates[i] = ButtonStates[i].load();
    DrawnProgressCurrent = ProgressCurrent.load();
    DrawnProgressTotal = ProgressTotal.load();
    StatusText.CopyTo(DrawnStatusText, sizeof DrawnStatusText);
    // The start button's normal look is its pressed picture.
    if (DrawnButtonStates[kStartButton] == kButtonNormal) DrawnButtonStates[kStartButton] = kButtonPressed;
}

void KeepComposed() {
    Composed.valid = true;
    std::memcpy(Composed.buttons, DrawnButtonStates, sizeof Composed.buttons);
    Composed.current = DrawnProgressCurrent;
    Composed.total = DrawnProgressTotal;
    std::memcpy(Composed.text, DrawnStatusText, sizeof Composed.text);
}

}  // namespace

bool ComposeFrame() {
    if (QuitRequested.load()) return false;
    if (RecordHeld && RecordMatchesShared()) return false;

    TakeRecord();
    if (!ComposedMatchesRecord()) {
        if (!DrawFrame()) {
            // Not counted as drawn, so the next call tries again, in the ready state too.
            RecordHeld = false;
            Composed.valid = false;
            return false;
        }
        ++DrawnGeneration;
        KeepComposed();
    }
    RecordHeld = true;
    return true;
}

void PresentFrame() {
    // A layered window keeps the picture it was given: handing it the same pixels at the same
    // place again changes nothing on the screen, so the ready state's every-tick frame is free.
    bool layered = OsMajorVersion >= 5;
    if (layered && Presented.valid && Presented.generation == DrawnGeneration &&
        std::memcmp(&Presented.placement, &LayeredPlacement, sizeof LayeredPlacement) == 0)
        return;
    WindowDc screen(nullptr);
    if (!screen) return;
    HDC memory = BackBufferDc();
    if (!memory) return;
    if (layered) {
        POINT destination = {LayeredPlacement.x, LayeredPlacement.y};
        SIZE size = {LayeredPlacement.width, LayeredPlacement.height};
        POINT source = {0, 0};
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        if (UpdateLayeredWindow(MainWindow, screen.Get(), &destination, &size, memory, &source, 0, &blend,
                                ULW_ALPHA))
            Presented = {true, DrawnGeneration, LayeredPlacement};
    } else if (WindowDc window(MainWindow); window) {
        BitBlt(window.Get(), 0, 0, WindowSize.width, WindowSize.height, memory, 0, 0, SRCCOPY);
    }
}

void PresentFrameAgain() {
    Presented.valid = false;
    PresentFrame();
}

void ResetDrawnRecord() {
    RecordHeld = false;
    for (int32_t& s : DrawnButtonStates) s = 1;
    DrawnProgressCurrent = 100;
    DrawnProgressTotal = 100;
    DrawnStatusText[0] = '\0';
    Composed.valid = false;
    Parts.ready = false;
    Presented.valid = false;
}
