// The parts of the window a frame can change: outside them every frame shows the background
// unchanged, so a frame redraws and re-applies opacity only inside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "settings/layout_values.h"

struct RowSpan {
    int32_t y;   // picture row, top-down
    int32_t x0;  // first column
    int32_t x1;  // one past the last column
};

// Merged, non-overlapping spans covering every rectangle (clipped to the picture), by row.
std::vector<RowSpan> MergeIntoRowSpans(const ElementRect* rects, std::size_t count, int32_t width, int32_t height);

// ApplyOpacity over just the spans of a bottom-up BGRA picture and its alpha table.
void ApplyOpacityToSpans(uint8_t* bgra, const uint8_t* alpha, int32_t width, int32_t height,
                         const std::vector<RowSpan>& spans);
