// Element rectangles, centring and the button polling rules.
#include "skin/layout.h"

#include "common/display_state.h"

void CompleteElementRect(ElementRect* rect, int32_t width, int32_t height) {
    rect->right = rect->left + width;
    rect->bottom = rect->top + height;
}

Origin CentreOrigin(int32_t fullScreenWidth, int32_t fullScreenHeight, int32_t captionHeight,
                    int32_t width, int32_t height) {
    // C++ division truncates toward zero, as the placement requires (-9 / 2 is -4).
    return Origin{(fullScreenWidth - width) / 2, (fullScreenHeight + captionHeight - height) / 2};
}

bool StrictlyInside(const ElementRect& rect, int32_t x, int32_t y) {
    return rect.left < x && x < rect.right && rect.top < y && y < rect.bottom;
}

int HitTestButton(const ElementRect* rects, const std::atomic<int32_t>* states, int32_t x, int32_t y) {
    for (int i = 0; i < kButtonCount; ++i) {
        if (states[i].load() == kButtonDisabled) continue;
        if (StrictlyInside(rects[i], x, y)) return i;
    }
    return kButtonCount;
}

bool UpdateButtonStates(const ElementRect* rects, std::atomic<int32_t>* states, int32_t x, int32_t y,
                        bool leftButtonDown) {
    bool overButton = false;
    for (int i = 0; i < kButtonCount; ++i) {
        int32_t current = states[i].load();
        if (current == kButtonDisabled) continue;
        if (StrictlyInside(rects[i], x, y)) {
            overButton = true;
            if (leftButtonDown) {
                MoveButtonState(states[i], current, kButtonPressed);
                break;
            }
            MoveButtonState(states[i], current, kButtonHover);
        } else {
            MoveButtonState(states[i], current, kButtonNormal);
        }
    }
    return overButton;
}
