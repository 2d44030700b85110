// The second language's place and paint: the placing rules at their limits, and on the
// simulated box at zoom 0 and 7, with the band moved as far as it goes, the inset on
// and the first language at the top, both places: the two pictures never share a row,
// each keeps its own colour and size, and either changing leaves the other's pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "tests/support/painter_support.h"
#include "tests/support/support.h"
#include "tmr/clock.h"

namespace {

using testsup::make_record;

TEST(SecondPlace, Rules) {
    struct row {
        const char* what;
        second_area area;
        second_place want;
    };
    // Band rows 82..526, line height 30 unless said.
    const row rows[] = {
        {"top, no first", {82, 526, 0, 0, 496, 30, 2, false}, {82, 2}},
        {"top, first at the bottom", {82, 526, 400, 496, 496, 30, 4, false}, {82, 4}},
        {"top, first at the top: under it", {82, 526, 82, 140, 496, 30, 2, false}, {144, 2}},
        {"above the first", {82, 526, 400, 496, 496, 30, 2, true}, {336, 2}},
        {"above, no first: over the last line", {82, 526, 0, 0, 496, 30, 1, true}, {466, 1}},
        {"above, first at the top: under it", {82, 526, 82, 140, 496, 30, 3, true}, {144, 3}},
        {"above, no first, no room over the slot: the top",
         {82, 526, 0, 0, 100, 30, 1, true},
         {82, 1}},
        {"above, no room over: under the first", {82, 526, 90, 480, 496, 10, 1, true}, {484, 1}},
        {"room for two of four lines", {82, 300, 150, 260, 296, 30, 4, true}, {86, 2}},
        {"nothing fits", {82, 200, 100, 190, 196, 30, 3, true}, {82, 0}},
        {"no lines", {82, 526, 0, 0, 496, 30, 0, false}, {82, 0}},
        {"more than four lines ask for four", {82, 526, 0, 0, 496, 30, 9, false}, {82, 4}},
    };
    for (const row& r : rows) {
        const second_place got = fb_second_place(r.area);
        EXPECT_EQ(got.from, r.want.from) << r.what;
        EXPECT_EQ(got.lines, r.want.lines) << r.what;
        if (got.lines > 0 && r.area.first_from < r.area.first_to) {
            const int64_t end = got.from + int64_t{got.lines} * r.area.line_height;
            EXPECT_TRUE(end + kSecondGap <= r.area.first_from ||
                        got.from >= r.area.first_to + kSecondGap)
                << r.what;
        }
    }
}

TEST(SecondPlace, ZoomAndColour) {
    // Level 0 (24 px) is larger than level 1 (22 px), the smallest.
    EXPECT_EQ(fb_second_zoom(0), 1);
    EXPECT_EQ(fb_second_zoom(1), 1);
    EXPECT_EQ(fb_second_zoom(2), 0);
    EXPECT_EQ(fb_second_zoom(3), 2);
    EXPECT_EQ(fb_second_zoom(7), 6);
    // Each scheme's default colour for the first and a different one for the second.
    for (int32_t scheme = 0; scheme < 4; ++scheme) {
        for (int32_t selector = 0; selector < 4; ++selector) {
            EXPECT_NE(fb_second_colour(scheme, selector),
                      colour_schemes[static_cast<size_t>(scheme)][static_cast<size_t>(selector)]);
        }
    }
    EXPECT_EQ(fb_second_colour(0, 0), 7);
    EXPECT_EQ(fb_second_colour(1, 0), 3);
}

class PainterSecond : public testing::Test {
  protected:
    void SetUp() override {
        inset_on = 0;
        band_position = 0;
        subtitle_shown = 0;
        painted_record = nullptr;
        painted_second = nullptr;
        second_on_band = 0;
        testsup::setup_box(root_, {.xres = 720, .yres = 576});
        ASSERT_EQ(testsup::open_display(), 1);
        bottom_shift = 0;
        top_shift = 0;
        zoom = 1;
        background_level = 1;
        colour_scheme = 0;
        painting = 0;
        clock_running = 0;
        second_above = 0;
        fb_font_set_zoom();
        fb_compute_band();
    }
    void TearDown() override { testsup::close_display(); }

    // The distinct pixel values of screen rows [from, to).
    static std::set<uint32_t> values(int64_t from, int64_t to) {
        std::set<uint32_t> v;
        std::lock_guard lock(pixel_mutex);
        std::span<uint32_t> px = fb_pixels(0);
        for (int64_t y = std::max<int64_t>(from, 0); y < to; ++y) {
            for (uint32_t x = 0; x < px_per_line; ++x) v.insert(px[y * px_per_line + x]);
        }
        return v;
    }
    static std::vector<uint32_t> rows(int64_t from, int64_t to) {
        std::lock_guard lock(pixel_mutex);
        std::span<uint32_t> px = fb_pixels(0);
        return {px.begin() + from * px_per_line, px.begin() + to * px_per_line};
    }
    static uint32_t colour(int i) { return palette.load()[i]; }

    testsup::box_root root_;
};

// Zoom 0 and 7, each arrangement of the band, both places of the second language, a
// long line in each language: the two never share a row and stay in the band.
TEST_F(PainterSecond, NeverOverlapAtTheExtremes) {
    const std::string long_line =
        "Een regel die veel te lang is voor de band en dus over meerdere regels breekt";
    struct arrangement {
        const char* what;
        bool inset;
        int band_moves;  // volume-up presses for the position of the first
        int32_t first_flags;
        int first_lines;
    };
    const arrangement arrangements[] = {
        {"plain, one long line", false, 0, 0, 1},
        {"band moved up as far as it goes", false, 100, 0, 4},
        {"inset on, four lines", true, 0, 0, 4},
        {"first at the top", false, 0, 0x100, 2},
        {"first at the top, moved down as far as it goes", true, -100, 0x100, 4},
    };
    for (int32_t z : {0, 7}) {
        for (const arrangement& a : arrangements) {
            for (int32_t above : {0, 1}) {
                SetUp();
                zoom = z;
                fb_font_set_zoom();
                fb_compute_band();
                if (a.inset) fb_toggle_inset();
                std::vector<std::string> first_lines(static_cast<size_t>(a.first_lines), "Eerste");
                first_lines[0] = long_line;
                subtitle first = make_record(first_lines, a.first_flags);
                fb_paint_subtitle(&first);
                for (int i = 0; i < std::abs(a.band_moves); ++i) {
                    fb_shift_band(a.band_moves > 0 ? -1 : 1);
                }
                second_above = above;
                subtitle second = make_record({long_line.c_str(), "Second"}, 0);
                fb_paint_second(&second);
                const band_rows r = fb_band_rows();
                const std::string what = std::string(a.what) + ", zoom " + std::to_string(z) +
                                         (above != 0 ? ", above" : ", top");
                ASSERT_LT(r.first_from, r.first_to) << what;
                EXPECT_GE(r.first_from, r.band_from) << what;
                EXPECT_LE(r.first_to, r.band_to) << what;
                if (r.second_from >= r.second_to) {
                    // Only when the band holds no line of the second beside the first.
                    EXPECT_EQ(z, 7) << what;
                    continue;
                }
                EXPECT_GE(r.second_from, r.band_from) << what;
                EXPECT_LE(r.second_to, r.band_to) << what;
                EXPECT_TRUE(r.second_to <= r.first_from || r.second_from >= r.first_to) << what;
                // Each picture in its own colour: the first yellow, the second white.
                const auto first_values = values(r.first_from, r.first_to);
                const auto second_values = values(r.second_from, r.second_to);
                EXPECT_TRUE(first_values.count(colour(3))) << what;
                EXPECT_FALSE(first_values.count(colour(7))) << what;
                EXPECT_TRUE(second_values.count(colour(7))) << what;
                EXPECT_FALSE(second_values.count(colour(3))) << what;
                // Directly above: the second ends right over the first.
                if (above != 0 && r.second_to <= r.first_from) {
                    EXPECT_LE(r.first_from - r.second_to, kSecondGap + line_heights[7]) << what;
                }
                TearDown();
            }
        }
    }
}

TEST_F(PainterSecond, TopByDefaultOneSizeSmallerWrappedLikeTheFirst) {
    subtitle first = make_record({"Eerste taal"}, 0);
    fb_paint_subtitle(&first);
    subtitle second = make_record(
        {"Second language with a line so long that it has to go on in the next line"}, 0);
    fb_paint_second(&second);
    const band_rows r = fb_band_rows();
    // Right under the status strip, two lines of zoom 1 (the first's, the smallest).
    EXPECT_GE(r.second_from, r.band_from);
    EXPECT_LE(r.second_from, r.band_from + 4);
    EXPECT_GT(r.second_to - r.second_from, line_heights[1]);
    EXPECT_LE(r.second_to - r.second_from, 2 * line_heights[1]);
    EXPECT_EQ(bb_zoom, 1) << "the first language's size is back for its next paint";
}

TEST_F(PainterSecond, EitherChangingLeavesTheOthersPixels) {
    subtitle first = make_record({"Eerste"}, 0);
    subtitle first_next = make_record({"Tweede ondertitel", "van de eerste taal"}, 0);
    subtitle second = make_record({"Second"}, 0);
    subtitle second_next = make_record({"Another one"}, 0);
    fb_paint_subtitle(&first);
    fb_paint_second(&second);
    band_rows r = fb_band_rows();
    const auto first_pixels = rows(r.first_from, r.first_to);
    fb_paint_second(&second_next);
    EXPECT_EQ(rows(r.first_from, r.first_to), first_pixels);
    r = fb_band_rows();
    const auto second_pixels = rows(r.second_from, r.second_to);
    fb_paint_subtitle(&first_next);
    const band_rows after = fb_band_rows();
    EXPECT_EQ(after.second_from, r.second_from);
    EXPECT_EQ(rows(r.second_from, r.second_to), second_pixels);
    // The first's clear leaves the second; the second's clear leaves the first.
    fb_clear_first();
    EXPECT_EQ(rows(r.second_from, r.second_to), second_pixels);
    EXPECT_EQ(values(after.first_from, after.first_to), std::set<uint32_t>{0u});
    fb_paint_subtitle(&first);
    r = fb_band_rows();
    const auto first_again = rows(r.first_from, r.first_to);
    fb_clear_second();
    EXPECT_EQ(rows(r.first_from, r.first_to), first_again);
    EXPECT_EQ(values(r.second_from, r.second_to), std::set<uint32_t>{0u});
    EXPECT_EQ(second_on_band, 0);
}

TEST_F(PainterSecond, ARestyleRepaintsBothAndTheKeyMovesTheSecond) {
    subtitle first = make_record({"Eerste"}, 0);
    subtitle second = make_record({"Second"}, 0);
    fb_paint_subtitle(&first);
    fb_paint_second(&second);
    const band_rows top = fb_band_rows();
    fb_next_zoom();
    fb_next_zoom();  // zoom 3: the second goes to 2
    const band_rows bigger = fb_band_rows();
    EXPECT_GT(bigger.first_to - bigger.first_from, top.first_to - top.first_from);
    EXPECT_GT(bigger.second_to - bigger.second_from, top.second_to - top.second_from);
    fb_next_colour_scheme();  // scheme 1: the first white, the second yellow
    EXPECT_TRUE(values(bigger.second_from, bigger.second_to).count(colour(3)));
    EXPECT_TRUE(values(bigger.first_from, bigger.first_to).count(colour(7)));
    fb_toggle_second_place();
    const band_rows above = fb_band_rows();
    EXPECT_LT(above.second_to, above.first_from);
    EXPECT_GE(above.second_to + kSecondGap + 2, above.first_from - 2);
    EXPECT_EQ(values(bigger.second_from, bigger.second_to), std::set<uint32_t>{0u})
        << "the old place is cleared";
    // While the thread paints, the key does nothing.
    painting = 1;
    fb_toggle_second_place();
    EXPECT_EQ(second_above, 1);
    painting = 0;
}

}  // namespace
