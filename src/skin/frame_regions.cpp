// Row spans of the changing parts of a frame, and the opacity pass restricted to them.
#include "skin/frame_regions.h"

#include <algorithm>

#include "skin/pixels.h"

std::vector<RowSpan> MergeIntoRowSpans(const ElementRect* rects, std::size_t count, int32_t width, int32_t height) {
    std::vector<RowSpan> spans;
    for (int32_t y = 0; y < height; ++y) {
        std::vector<RowSpan> row;
        for (std::size_t i = 0; i < count; ++i) {
            const ElementRect& r = rects[i];
            if (y < r.top || y >= r.bottom) continue;
            int32_t x0 = std::max<int32_t>(r.left, 0), x1 = std::min<int32_t>(r.right, width);
            if (x0 < x1) row.push_back({y, x0, x1});
        }
        std::sort(row.begin(), row.end(), [](const RowSpan& a, const RowSpan& b) { return a.x0 < b.x0; });
        for (const RowSpan& s : row) {
            if (!spans.empty() && spans.back().y == y && s.x0 <= spans.back().x1)
                spans.back().x1 = std::max(spans.back().x1, s.x1);
            else
                spans.push_back(s);
        }
    }
    return spans;
}

void ApplyOpacityToSpans(uint8_t* bgra, const uint8_t* alpha, int32_t width, int32_t height,
                         const std::vector<RowSpan>& spans) {
    for (const RowSpan& s : spans) {
        if (s.y < 0 || s.y >= height) continue;
        std::size_t offset = static_cast<std::size_t>(height - 1 - s.y) * static_cast<std::size_t>(width) +
                             static_cast<std::size_t>(s.x0);
        ApplyOpacity(bgra + offset * 4, alpha + offset, static_cast<std::size_t>(s.x1 - s.x0));
    }
}
