// Window geometry: element rectangles from bitmap sizes, centring, hit tests of the buttons.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/layout_values.h"

// right = left + width, bottom = top + height.
void CompleteElementRect(ElementRect* rect, int32_t width, int32_t height);

struct Origin {
    int32_t x;
    int32_t y;
};

// x = (fullWidth − width) / 2, y = (fullHeight + caption − height) / 2, truncating toward zero.
Origin CentreOrigin(int32_t fullScreenWidth, int32_t fullScreenHeight, int32_t captionHeight,
                    int32_t width, int32_t height);

// Strictly inside: left < x < right and top < y < bottom.
bool StrictlyInside(const ElementRect& rect, int32_t x, int32_t y);

// Index 0 to 3 of the first button, in index order, not disabled and strictly containing the
// point; 4 when there is none.
int HitTestButton(const ElementRect* rects, const std::atomic<int32_t>* states, int32_t x, int32_t y);

// One poll of the four buttons for a cursor at (x, y) in window coordinates: each enabled
// button becomes normal, hover or pressed; the scan stops at the first pressed one. A
// disabled button is never touched, and a 0 or 3 stored by another thread at the same moment
// is never overwritten. Returns whether the point lies in an enabled button.
bool UpdateButtonStates(const ElementRect* rects, std::atomic<int32_t>* states, int32_t x, int32_t y,
                        bool leftButtonDown);

// The close region in window coordinates: the top-right corner that shows the close mark.
inline bool InCloseRegion(int32_t x, int32_t y) { return x > 580 && y < 70; }
