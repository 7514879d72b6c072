// Opacity and premultiplication loops over whole pictures; integer arithmetic only.
#include "skin/pixels.h"

void OpacityFromMask(const uint8_t* maskBgra, std::size_t pixelCount, uint8_t* alpha) {
    for (std::size_t i = 0; i < pixelCount; ++i, maskBgra += 4)
        alpha[i] = MaskOpacity(maskBgra[0], maskBgra[1], maskBgra[2]);
}

void ApplyOpacity(uint8_t* bgra, const uint8_t* alpha, std::size_t pixelCount) {
    for (std::size_t i = 0; i < pixelCount; ++i, bgra += 4) {
        unsigned a = alpha[i];
        // Fully opaque and fully transparent pixels are most of a skin; both need no division.
        if (a == 255) {
            bgra[3] = 255;
        } else if (a == 0) {
            bgra[0] = bgra[1] = bgra[2] = bgra[3] = 0;
        } else {
            bgra[0] = static_cast<uint8_t>(bgra[0] * a / 255u);
            bgra[1] = static_cast<uint8_t>(bgra[1] * a / 255u);
            bgra[2] = static_cast<uint8_t>(bgra[2] * a / 255u);
            bgra[3] = static_cast<uint8_t>(a);
        }
    }
}

int32_t BarFillWidth(int32_t fullWidth, int32_t percent) {
    if (percent <= 0 || fullWidth <= 0) return 0;
    if (percent >= 100) return fullWidth;
    return static_cast<int32_t>(static_cast<int64_t>(fullWidth) * percent / 100);
}
