// Pixel arithmetic, element rectangles, centring and the button polling rules.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "common/display_state.h"
#include "skin/layout.h"
#include "skin/pixels.h"

TEST(SkinPixels, OpacityFromTheMaskAndPremultiplying) {
    uint8_t mask[8] = {255, 255, 254, 7, 0, 0, 0, 255};
    uint8_t alpha[2];
    OpacityFromMask(mask, 2, alpha);
    EXPECT_EQ(254, alpha[0]);
    EXPECT_EQ(0, alpha[1]);

    uint8_t pixels[12] = {200, 100, 50, 9, 200, 100, 50, 9, 10, 20, 30, 0};
    uint8_t opacity[3] = {128, 0, 255};
    ApplyOpacity(pixels, opacity, 3);
    EXPECT_EQ(100, pixels[0]);
    EXPECT_EQ(50, pixels[1]);
    EXPECT_EQ(25, pixels[2]);
    EXPECT_EQ(128, pixels[3]);
    for (int i = 4; i < 8; ++i) EXPECT_EQ(0, pixels[i]);
    EXPECT_EQ(10, pixels[8]);
    EXPECT_EQ(30, pixels[10]);
    EXPECT_EQ(255, pixels[11]);
}

TEST(SkinPixels, FastPathsAgreeWithTheFormulaForEveryValue) {
    std::vector<uint8_t> pixels(256 * 256 * 4);
    std::vector<uint8_t> alpha(256 * 256);
    for (int a = 0; a < 256; ++a)
        for (int v = 0; v < 256; ++v) {
            std::size_t i = static_cast<std::size_t>(a) * 256 + v;
            pixels[i * 4] = pixels[i * 4 + 1] = pixels[i * 4 + 2] = static_cast<uint8_t>(v);
            alpha[i] = static_cast<uint8_t>(a);
        }
    ApplyOpacity(pixels.data(), alpha.data(), alpha.size());
    for (int a = 0; a < 256; ++a)
        for (int v = 0; v < 256; ++v) {
            std::size_t i = static_cast<std::size_t>(a) * 256 + v;
            ASSERT_EQ(v * a / 255, pixels[i * 4]) << v << " " << a;
            ASSERT_EQ(a, pixels[i * 4 + 3]);
        }
}

TEST(SkinPixels, BarWidths) {
    EXPECT_EQ(0, BarFillWidth(276, 0));
    EXPECT_EQ(91, BarFillWidth(276, 33));
    EXPECT_EQ(138, BarFillWidth(276, 50));
    EXPECT_EQ(276, BarFillWidth(276, 100));
    EXPECT_EQ(276, BarFillWidth(276, 250));  // out of range is kept inside the bar
    EXPECT_EQ(0, BarFillWidth(276, -5));
}

TEST(SkinLayout, RectanglesAndCentring) {
    ElementRect exit = {300, 300, 0, 0};
    CompleteElementRect(&exit, 94, 39);
    EXPECT_EQ(394, exit.right);
    EXPECT_EQ(339, exit.bottom);

    Origin full = CentreOrigin(1920, 1017, 23, 649, 489);
    EXPECT_EQ(635, full.x);
    EXPECT_EQ(275, full.y);
    EXPECT_EQ(-4, CentreOrigin(640, 480, 23, 649, 489).x);  // -9 / 2 truncates toward zero
}

namespace {

struct Buttons {
    ElementRect rects[4] = {{20, 349, 134, 463}, {335, 364, 429, 403}, {138, 364, 232, 403}, {237, 364, 331, 403}};
    std::atomic<int32_t> states[4];
    Buttons(int a, int b, int c, int d) {
        states[0] = a;
        states[1] = b;
        states[2] = c;
        states[3] = d;
    }
};

}  // namespace

TEST(SkinLayout, HitTestEdgesAreOutside) {
    Buttons b(0, 0, 0, 0);
    EXPECT_EQ(1, HitTestButton(b.rects, b.states, 336, 365));  // left + 1, top + 1
    EXPECT_EQ(1, HitTestButton(b.rects, b.states, 428, 402));  // right - 1, bottom - 1
    EXPECT_EQ(4, HitTestButton(b.rects, b.states, 335, 380));  // x = left
    EXPECT_EQ(4, HitTestButton(b.rects, b.states, 380, 364));  // y = top
    EXPECT_EQ(4, HitTestButton(b.rects, b.states, 429, 380));  // x = right
    EXPECT_EQ(4, HitTestButton(b.rects, b.states, 380, 403));  // y = bottom
    b.states[0] = kButtonDisabled;
    EXPECT_EQ(4, HitTestButton(b.rects, b.states, 77, 406));   // a disabled button is not hit
    EXPECT_TRUE(InCloseRegion(581, 69));
    EXPECT_FALSE(InCloseRegion(580, 10));
    EXPECT_FALSE(InCloseRegion(600, 70));
}

TEST(SkinLayout, PollingMovesOnlyEnabledButtons) {
    Buttons b(3, 2, 1, 0);
    EXPECT_TRUE(UpdateButtonStates(b.rects, b.states, 380, 380, false));  // over exit, button up
    EXPECT_EQ(3, b.states[0]);
    EXPECT_EQ(1, b.states[1]);
    EXPECT_EQ(0, b.states[2]);
    EXPECT_FALSE(UpdateButtonStates(b.rects, b.states, 77, 406, true));  // on the disabled start button
    EXPECT_EQ(3, b.states[0]);
    EXPECT_EQ(0, b.states[1]);
}

TEST(SkinLayout, PressStopsTheScanLeavingLaterButtonsAlone) {
    Buttons b(0, 1, 1, 1);
    EXPECT_TRUE(UpdateButtonStates(b.rects, b.states, 77, 406, true));
    EXPECT_EQ(2, b.states[0]);
    EXPECT_EQ(1, b.states[1]);
    EXPECT_EQ(1, b.states[2]);
    EXPECT_EQ(1, b.states[3]);
}
