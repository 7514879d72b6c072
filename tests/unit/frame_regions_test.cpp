// Merging the changing parts of a frame into row spans.
#include <gtest/gtest.h>

#include <vector>

#include "skin/frame_regions.h"

TEST(FrameRegions, OverlapsMergeAndPicturesClip) {
    const ElementRect rects[] = {{10, 0, 20, 2}, {15, 1, 30, 3}, {40, 1, 50, 2}, {-5, 9, 200, 12}};
    std::vector<RowSpan> spans = MergeIntoRowSpans(rects, 4, 100, 10);
    std::vector<RowSpan> expected = {{0, 10, 20}, {1, 10, 30}, {1, 40, 50}, {2, 15, 30}, {9, 0, 100}};
    ASSERT_EQ(expected.size(), spans.size());
    for (size_t i = 0; i < spans.size(); ++i) {
        EXPECT_EQ(expected[i].y, spans[i].y) << i;
        EXPECT_EQ(expected[i].x0, spans[i].x0) << i;
        EXPECT_EQ(expected[i].x1, spans[i].x1) << i;
    }
}

TEST(FrameRegions, OpacityOnlyInsideTheSpansOfABottomUpPicture) {
    std::vector<uint8_t> picture(4 * 3 * 4, 200), alpha(4 * 3, 0);
    ApplyOpacityToSpans(picture.data(), alpha.data(), 4, 3, {{0, 1, 3}});  // top row is memory row 2
    for (int x = 0; x < 4; ++x) {
        uint8_t expected = x >= 1 && x < 3 ? 0 : 200;
        EXPECT_EQ(expected, picture[(2 * 4 + x) * 4]) << x;
        EXPECT_EQ(200, picture[(0 * 4 + x) * 4]) << x;
    }
}
