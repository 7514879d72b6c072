// Pixel arithmetic of the skin: opacity from the mask picture, premultiplying, bar widths.
#pragma once

#include <cstddef>
#include <cstdint>

// A mask pixel's opacity: the mean of its three colour bytes, truncated.
inline uint8_t MaskOpacity(uint8_t blue, uint8_t green, uint8_t red) {
    return static_cast<uint8_t>((blue + green + red) / 3);
}

// value × alpha / 255, truncated: the premultiplied colour byte.
inline uint8_t Premultiply(uint8_t value, uint8_t alpha) {
    return static_cast<uint8_t>(static_cast<unsigned>(value) * alpha / 255u);
}

// alpha[i] = opacity of the BGRA pixel i of mask (its fourth byte ignored).
void OpacityFromMask(const uint8_t* maskBgra, std::size_t pixelCount, uint8_t* alpha);

// Sets each pixel's fourth byte to alpha[i] and premultiplies its colour bytes by it.
void ApplyOpacity(uint8_t* bgra, const uint8_t* alpha, std::size_t pixelCount);

// Filled width of a bar of fullWidth pixels at percent, truncated toward zero and kept
// within 0..fullWidth whatever the percentage holds.
int32_t BarFillWidth(int32_t fullWidth, int32_t percent);
