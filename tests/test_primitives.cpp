// Fills, boxes and palettes, pixel by pixel, on a hand-made display.
#include <gtest/gtest.h>

#include <climits>

#include "fb/primitives.h"
#include "fb/screen.h"
#include "tests/support/screen_support.h"

namespace {

using testsup::fake_display;

uint32_t colour(int i) {
    return palette.load()[i];
}

TEST(Palettes, EntriesOfBothPalettes) {
    EXPECT_EQ(palettes[0][1], 0xffa80000u);
    EXPECT_EQ(palettes[1][1], 0xffff0000u);
    EXPECT_EQ(palettes[0][7], 0xffa8a8a8u);
    EXPECT_EQ(palettes[1][7], 0xffffffffu);
    EXPECT_EQ(palettes[0][8], 0u);
    EXPECT_EQ(palettes[1][10], 0x30001020u);
    EXPECT_EQ(palettes[0][11], 0xb0666666u);
    EXPECT_EQ(palettes[1][11], 0xb0222222u);
    // The bright palette follows the dim one directly.
    EXPECT_EQ(palettes[0].data() + 12, palettes[1].data());
    EXPECT_EQ(palette.load(), palettes[0].data());
}

TEST(Fill, TwoPixelsForWidthOne) {
    fake_display d;
    fb_fill(0, 10, 20, 1, 1, 4);
    EXPECT_EQ(d.px(10, 20), palettes[0][4]);
    EXPECT_EQ(d.px(11, 20), palettes[0][4]);
    EXPECT_EQ(d.count_not(0), 2);
    EXPECT_EQ(d.count_bb_not(0), 0);
}

TEST(Fill, EmptySizesDrawNothing) {
    fake_display d;
    fb_fill(0, 10, 20, 0, 5, 7);
    fb_fill(0, 10, 20, 5, 0, 7);
    fb_fill(0, 10, 20, -3, 5, 7);
    fb_fill(0, 10, 20, 5, -3, 7);
    EXPECT_EQ(d.count_not(0), 0);
}

TEST(Fill, WidthIsInclusiveHeightIsNot) {
    fake_display d;
    fb_fill(0, 100, 200, 8, 3, 2);
    EXPECT_EQ(d.count_not(0), 9 * 3);
    for (int y = 200; y < 203; ++y) {
        EXPECT_EQ(d.px(99, y), 0u);
        EXPECT_EQ(d.px(100, y), colour(2));
        EXPECT_EQ(d.px(108, y), colour(2));
        EXPECT_EQ(d.px(109, y), 0u);
    }
    EXPECT_EQ(d.px(100, 203), 0u);
}

TEST(Fill, BackBufferTarget) {
    fake_display d;
    fb_fill(1, 5, 6, 2, 2, 3);
    EXPECT_EQ(d.count_not(0), 0);
    EXPECT_EQ(d.count_bb_not(0), 3 * 2);
    EXPECT_EQ(d.bb(5, 6), colour(3));
    EXPECT_EQ(d.bb(7, 7), colour(3));
    // Any non-zero target is the back buffer.
    fb_fill(2, 0, 0, 1, 1, 3);
    EXPECT_EQ(d.bb(0, 0), colour(3));
    EXPECT_EQ(d.count_bb_not(0), 3 * 2 + 2);
    EXPECT_EQ(d.count_not(0), 0);
}

TEST(Fill, StridesByLineLength) {
    // A driver with a wider line than the visible 720 pixels.
    fake_display d(1280 * 4, 1280 * 4 * 576);
    fb_fill(0, 700, 10, 30, 2, 1);
    EXPECT_EQ(d.px(700, 10), colour(1));
    EXPECT_EQ(d.px(730, 11), colour(1));
    EXPECT_EQ(d.count_not(0), 31 * 2);
}

TEST(Fill, TakesThePaletteAtDrawingTime) {
    fake_display d;
    fb_fill(0, 0, 0, 1, 1, 1);
    palette = palettes[1].data();
    fb_fill(0, 2, 0, 1, 1, 1);
    EXPECT_EQ(d.px(1, 0), 0xffa80000u);
    EXPECT_EQ(d.px(2, 0), 0xffff0000u);
    palette = palettes[0].data();
}

TEST(FillClip, RightEdgeDoesNotWrapIntoNextLine) {
    fake_display d;
    fb_fill(0, 700, 10, 100, 2, 7);
    EXPECT_EQ(d.px(719, 10), colour(7));
    EXPECT_EQ(d.px(719, 11), colour(7));
    EXPECT_EQ(d.px(0, 11), 0u);
    EXPECT_EQ(d.px(0, 12), 0u);
    EXPECT_EQ(d.count_not(0), 20 * 2);
}

TEST(FillClip, LeftAndTopEdges) {
    fake_display d;
    fb_fill(0, -5, -3, 9, 5, 7);
    // Columns -5..4, rows -3..1: what is left is columns 0..4 of rows 0 and 1.
    EXPECT_EQ(d.count_not(0), 5 * 2);
    EXPECT_EQ(d.px(4, 1), colour(7));
    EXPECT_EQ(d.px(5, 1), 0u);
    EXPECT_TRUE(d.guards_intact());
}

TEST(FillClip, HugeAndExtremeArgumentsStayInside) {
    fake_display d;
    fb_fill(0, -100000, -100000, 1000000, 1000000, 7);
    EXPECT_EQ(d.count_not(colour(7)), 0);
    d.fill(0);
    fb_fill(0, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 5);
    fb_fill(0, INT_MAX, INT_MAX, INT_MAX, INT_MAX, 5);
    fb_fill(0, 0, 575, 719, INT_MAX, 5);
    fb_fill(0, 0, 576, 719, 10, 5);  // the first line after the mapping
    fb_fill(0, 720, 0, 10, 10, 5);   // the first column after the line
    fb_fill(1, -10, -10, 100000, 100000, 4);
    fb_fill(1, INT_MAX, 0, 10, 10, 4);
    EXPECT_TRUE(d.guards_intact());
    // Only the last line of the mapping was reachable.
    EXPECT_EQ(d.count_not(0), 720);
    EXPECT_EQ(d.px(0, 575), colour(5));
    EXPECT_EQ(d.count_bb_not(colour(4)), 0);
}

TEST(FillClip, MappingNotAWholeNumberOfLines) {
    // Half a line of memory after the last whole line: left alone.
    fake_display d(2880, 2880 * 10 + 1440);
    fb_fill(0, 0, 0, 719, 20, 7);
    EXPECT_EQ(d.count_not(0), 720 * 10);
    EXPECT_EQ(d.px(0, 10), 0u);
    EXPECT_TRUE(d.guards_intact());
}

TEST(FillClip, PaletteIndexOutsideTheTableDrawsNothing) {
    fake_display d;
    fb_fill(0, 0, 0, 10, 10, 12);
    fb_fill(0, 0, 0, 10, 10, -1);
    fb_fill(0, 0, 0, 10, 10, 1000);
    EXPECT_EQ(d.count_not(0), 0);
}

// fb_box places at (sx + x, sy + y); the fake display has sx 40, sy 50.
TEST(Box, FilledBoxWithFrame) {
    fake_display d;
    fb_box(10, 20, 10, 20, 0, 7, 4);  // X 50, Y 70, h 10, w 20
    const uint32_t r = colour(4), v = colour(7);
    // Rows 70..77 (h - 2 rows), columns 50..70.
    for (int x = 50; x <= 70; ++x) {
        EXPECT_EQ(d.px(x, 70), r) << x;
        EXPECT_EQ(d.px(x, 71), r) << x;
        EXPECT_EQ(d.px(x, 76), r) << x;
        EXPECT_EQ(d.px(x, 77), r) << x;
        EXPECT_EQ(d.px(x, 78), 0u) << x;
        EXPECT_EQ(d.px(x, 69), 0u) << x;
    }
    for (int y = 72; y <= 75; ++y) {
        EXPECT_EQ(d.px(49, y), 0u);
        EXPECT_EQ(d.px(50, y), r);
        EXPECT_EQ(d.px(51, y), r);
        for (int x = 52; x <= 67; ++x) EXPECT_EQ(d.px(x, y), v) << x << "," << y;
        EXPECT_EQ(d.px(68, y), r);
        EXPECT_EQ(d.px(69, y), r);
        // The rightmost column belongs to the bars only.
        EXPECT_EQ(d.px(70, y), 0u);
    }
    EXPECT_EQ(d.count_not(0), 21 * 4 + 20 * 4);
}

TEST(Box, StyleOneSidesEndTwoRowsAboveTheBottom) {
    fake_display d;
    fb_box(0, 0, 12, 30, 1, 7, 1);  // X 40, Y 50
    const uint32_t f = colour(1), v = colour(7);
    // Sides on rows Y .. Y + h - 5 (50..57), over the top bar.
    for (int y = 50; y <= 57; ++y) {
        EXPECT_EQ(d.px(40, y), f) << y;
        EXPECT_EQ(d.px(41, y), f) << y;
        EXPECT_EQ(d.px(68, y), f) << y;
        EXPECT_EQ(d.px(69, y), f) << y;
    }
    // Bars in the fill colour; the bottom bar on rows Y + h - 4, Y + h - 3.
    EXPECT_EQ(d.px(42, 50), v);
    EXPECT_EQ(d.px(70, 50), v);
    for (int x = 40; x <= 70; ++x) {
        EXPECT_EQ(d.px(x, 58), v) << x;
        EXPECT_EQ(d.px(x, 59), v) << x;
        EXPECT_EQ(d.px(x, 60), 0u) << x;
    }
    EXPECT_EQ(d.px(70, 54), 0u);
}

TEST(Box, StyleTwoLeavesTheInteriorAlone) {
    fake_display d;
    d.fill(0x12345678);
    fb_box(0, 0, 10, 10, 2, 7, 4);  // X 40, Y 50
    const uint32_t r = colour(4);
    EXPECT_EQ(d.px(40, 50), r);
    EXPECT_EQ(d.px(50, 51), r);  // bars in the frame colour, to X + w
    EXPECT_EQ(d.px(44, 53), 0x12345678u);
    EXPECT_EQ(d.px(41, 53), r);
    EXPECT_EQ(d.px(48, 53), r);
    EXPECT_EQ(d.px(45, 56), r);
    EXPECT_EQ(d.px(45, 57), r);
    EXPECT_EQ(d.px(45, 58), 0x12345678u);
}

TEST(Box, HeightFive) {
    fake_display d;
    fb_box(0, 0, 5, 10, 0, 7, 4);  // X 40, Y 50
    const uint32_t r = colour(4);
    // Top bar on rows 50, 51, sides on row 50 only, interior row 52 under the
    // bottom bar on rows 51, 52.
    for (int x = 40; x <= 50; ++x) {
        EXPECT_EQ(d.px(x, 50), r) << x;
        EXPECT_EQ(d.px(x, 51), r) << x;
        EXPECT_EQ(d.px(x, 52), r) << x;
        EXPECT_EQ(d.px(x, 53), 0u) << x;
    }
    EXPECT_EQ(d.count_not(0), 11 * 3);
}

TEST(Box, HeightFiveStyleOneShowsTheSideOnTheTopRowOnly) {
    fake_display d;
    fb_box(0, 0, 5, 10, 1, 7, 4);
    const uint32_t r = colour(4), v = colour(7);
    EXPECT_EQ(d.px(40, 50), r);
    EXPECT_EQ(d.px(41, 50), r);
    EXPECT_EQ(d.px(42, 50), v);
    EXPECT_EQ(d.px(48, 50), r);
    EXPECT_EQ(d.px(49, 50), r);
    EXPECT_EQ(d.px(50, 50), v);
    EXPECT_EQ(d.px(40, 51), v);
    EXPECT_EQ(d.px(40, 52), v);
}

TEST(Box, HeightFourOrLessHasNoInteriorAndNoSides) {
    fake_display d;
    fb_box(0, 10, 4, 10, 0, 7, 4);  // Y 60: bottom bar at Y + 0, on the top bar
    EXPECT_EQ(d.count_not(0), 11 * 2);
    EXPECT_EQ(d.px(45, 60), colour(4));
    EXPECT_EQ(d.px(45, 61), colour(4));
    d.fill(0);
    fb_box(0, 10, 2, 10, 1, 7, 4);  // bottom bar at Y - 2, above the top bar
    EXPECT_EQ(d.count_not(0), 11 * 4);
    EXPECT_EQ(d.px(45, 58), colour(7));
    EXPECT_EQ(d.px(45, 61), colour(7));
    EXPECT_EQ(d.px(45, 62), 0u);
}

TEST(Box, ClipsSidesAndBars) {
    fake_display d;
    fb_box(660, -100, 1000, 40, 0, 7, 4);  // X 700 .. 740, Y -50 .. 947
    fb_box(-100, 500, 100, 70, 0, 7, 4);
    fb_box(INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0, 7, 4);
    fb_box(INT_MIN, INT_MIN, INT_MAX, INT_MAX, 1, 7, 4);
    EXPECT_TRUE(d.guards_intact());
    d.fill(0);
    fb_box(660, 0, 20, 40, 0, 7, 4);
    // Left sides at 700, 701; the right ones at 738, 739 are beyond the line.
    EXPECT_EQ(d.px(700, 55), colour(4));
    EXPECT_EQ(d.px(701, 55), colour(4));
    EXPECT_EQ(d.px(719, 55), colour(7));
    EXPECT_EQ(d.px(0, 56), 0u);
    EXPECT_EQ(d.px(1, 56), 0u);
    EXPECT_TRUE(d.guards_intact());
}

}  // namespace
