// The help box: paging, the countdown, closing, and the band it leaves behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fb/screen.h"
#include "menu/menus.h"
#include "sim/model.h"
#include "sub/subtitles.h"
#include "tests/support/menu_support.h"
#include "tmr/clock.h"

namespace {

using testsup::all_pixels;
using testsup::any_pixel;
using testsup::colour;
using testsup::pixel;

class Help : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    int lh = 0;

    void SetUp() override {
        ASSERT_TRUE(testsup::open_menu_box(root));
        lh = line_heights[0];
        ASSERT_GT(lh, 0);
        // A back buffer that has never been composed into shows nothing.
        std::fill(bbuf.get(), bbuf.get() + bbuf_size / 4, 0u);
    }
    void TearDown() override {
        help_countdown = -1;
        help_page = 0;
        testsup::close_menu_box();
    }

    // The window: blue title bar above a grey body.
    bool window_shown() const {
        return pixel(sx + 50 + 400, sy + 75 - lh) == colour(4) &&
               pixel(sx + 50 + 400, sy + 80) == colour(7);
    }
    static bool band_blank() { return all_pixels(0, sy + 32, 719, ey - 1, 0); }
    // A copy of the band's pixels.
    static std::vector<uint32_t> band() {
        std::vector<uint32_t> v;
        for (int y = sy + 32; y < ey; ++y)
            for (int x = 0; x < 720; ++x) v.push_back(pixel(x, y));
        return v;
    }
    // Red banner text on the first banner line.
    bool banner() const {
        return any_pixel(sx + 54, sy + 101 - 20, sx + 54 + 426, sy + 101 + 4, colour(1));
    }
};

TEST_F(Help, PageOnePageTwoClosed) {
    menu_help_box(1);
    EXPECT_EQ(help_countdown, 300);
    EXPECT_EQ(help_page, 1);
    EXPECT_TRUE(window_shown());
    EXPECT_TRUE(banner());
    // Page 1 has 9 rows: the last at baseline sy + 101 + 10 lh, in black.
    EXPECT_TRUE(
        any_pixel(sx + 124, sy + 101 + 10 * lh - 16, sx + 486, sy + 101 + 10 * lh, colour(0)));
    auto page1 = band();

    help_countdown = 250;  // the countdown runs on
    menu_help_box(1);
    EXPECT_EQ(help_countdown, 300);
    EXPECT_EQ(help_page, 2);
    EXPECT_TRUE(window_shown());
    EXPECT_TRUE(banner());
    auto page2 = band();
    EXPECT_NE(page1, page2);
    // Page 2 has 9 rows too, the last in black at baseline sy + 101 + 10 lh.
    EXPECT_TRUE(
        any_pixel(sx + 54, sy + 101 + 10 * lh - 16, sx + 486, sy + 101 + 10 * lh, colour(0)));

    menu_help_box(1);
    EXPECT_EQ(help_countdown, -1);
    EXPECT_EQ(help_page, 0);
    EXPECT_TRUE(band_blank());

    // And round again from page 1.
    menu_help_box(1);
    EXPECT_EQ(help_page, 1);
    EXPECT_EQ(band(), page1);
}

TEST_F(Help, AfterTheCountdownItStartsAtPageOne) {
    menu_help_box(1);
    auto page1 = band();
    // The main loop closes the box when the countdown reaches 0.
    help_countdown = 0;
    menu_help_box(0);
    EXPECT_EQ(help_countdown, -1);
    EXPECT_TRUE(band_blank());
    menu_help_box(1);
    EXPECT_EQ(help_page, 1);
    EXPECT_EQ(band(), page1);

    // Even before the close: a countdown at 0 means page 1 again, not page 2.
    help_countdown = 0;
    menu_help_box(1);
    EXPECT_EQ(help_page, 1);
    EXPECT_EQ(help_countdown, 300);
    EXPECT_EQ(band(), page1);
}

TEST_F(Help, CloseRequestFromEitherPage) {
    menu_help_box(1);
    menu_help_box(0);
    EXPECT_EQ(help_countdown, -1);
    EXPECT_EQ(help_page, 0);
    EXPECT_TRUE(band_blank());
    menu_help_box(1);
    menu_help_box(1);
    menu_help_box(0);
    EXPECT_EQ(help_page, 0);
    EXPECT_TRUE(band_blank());
    // Closing a closed box clears the band all the same.
    menu_help_box(0);
    EXPECT_EQ(help_countdown, -1);
}

TEST_F(Help, ClosingPutsTheBackBufferBack) {
    // The back buffer holds the subtitle painted last.
    static subtitle painted{};
    painted_record = &painted;
    for (int position : {0, 1}) {
        // A composed subtitle: a block in the back buffer's first rows.
        const uint32_t mark = 0xff123456u + static_cast<uint32_t>(position);
        for (int y = 2; y < 6; ++y)
            for (int x = 100; x < 200; ++x) bbuf[static_cast<size_t>(y) * px_per_line + x] = mark;
        band_position = position;
        const auto row0 = static_cast<int>((bb_targets[position].load() - fb_mem) / px_per_line);
        menu_help_box(1);
        EXPECT_NE(pixel(150, row0 + 3), mark);
        menu_help_box(0);
        EXPECT_EQ(pixel(150, row0 + 3), mark) << position;
        EXPECT_EQ(pixel(99, row0 + 3), 0u);
        EXPECT_EQ(subtitle_shown.load(), 1);
        // Copied back even when no subtitle was on screen when the box opened.
        fb_clear_subtitle();
    }
    // Once the clock has passed the subtitle's end, the band stays clear.
    clock_ms = painted.end_ms + 1;
    menu_help_box(1);
    menu_help_box(0);
    EXPECT_TRUE(band_blank());
    EXPECT_EQ(subtitle_shown.load(), 0);
    painted_record = nullptr;
}

TEST_F(Help, InsetLayoutLeavesNothingBelowTheBand) {
    painting = 0;
    fb_toggle_inset();
    ASSERT_EQ(sy.load(), sy0 + 32);
    menu_help_box(1);
    EXPECT_TRUE(window_shown());
    menu_help_box(0);
    EXPECT_TRUE(all_pixels(0, sy + 32, 719, sy0 + 75 + 360 + 32, 0));
    fb_toggle_inset();
}

}  // namespace
