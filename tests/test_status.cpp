// The status line: the time's digits, the strip and the icon box, the icons and
// the zoom digit, the message's room, clearing, and the countdown word.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "fb/text.h"
#include "tests/support/text_support.h"
#include "tmr/clock.h"

using testsup::kDim;
using testsup::ref_face;
using testsup::text_display;

namespace {

std::vector<uint32_t> shown(text_display& d, const std::function<void()>& f) {
    d.clear();
    f();
    return d.screen();
}

// Symbol rows typed in from the table: play sign, pause sign, the two suns,
// and the EXIT button's halves.
constexpr int kPlay[21] = {0x0000, 0x0000, 0x0200, 0x0300, 0x0380, 0x03C0, 0x03E0,
                           0x03F0, 0x03F8, 0x03FC, 0x03FE, 0x03FE, 0x03FC, 0x03F8,
                           0x03F0, 0x03E0, 0x03C0, 0x0380, 0x0300, 0x0200, 0x0000};
constexpr int kPause[21] = {0x0000, 0x0000, 0x0000, 0x0000, 0x0CC0, 0x0CC0, 0x0CC0,
                            0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0,
                            0x0CC0, 0x0CC0, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000};
constexpr int kSmallSun[21] = {0x0000, 0x0000, 0x0000, 0x0080, 0x1084, 0x0808, 0x03E0,
                               0x07F0, 0x07F0, 0x37F6, 0x07F0, 0x07F0, 0x03E0, 0x0808,
                               0x1084, 0x0080, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000};
constexpr int kLargeSun[21] = {0x0000, 0x0180, 0x6186, 0x718E, 0x399C, 0x1818, 0x03C0,
                               0x07E0, 0xF7EF, 0xF7EF, 0x07E0, 0x03C0, 0x1818, 0x399C,
                               0x718E, 0x6186, 0x0180, 0x0000, 0x0000, 0x0000, 0x0000};
constexpr int kExitLeft[21] = {0x0000, 0x0000, 0x03FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF,
                               0x419C, 0xC188, 0xCFC1, 0xC3E3, 0xCFC1, 0xC188, 0x419C,
                               0x7FFF, 0x3FFF, 0x1FFF, 0x0FFF, 0x03FF, 0x0000, 0x0000};
constexpr int kExitRight[21] = {0x0000, 0x0000, 0xFFC0, 0xFFF0, 0xFFF8, 0xFFFC, 0xFFFE,
                                0xCC0E, 0xCC0F, 0xCF3F, 0xCF3F, 0xCF3F, 0xCF3F, 0xCF3E,
                                0xFFFE, 0xFFFC, 0xFFF8, 0xFFF0, 0xFFC0, 0x0000, 0x0000};

// Every pixel of the 16 x 21 picture at (x, y) is fg where its bit is set, else bg.
void expect_picture(text_display& d, const int (&rows)[21], int x, int y, uint32_t fg,
                    uint32_t bg) {
    for (int r = 0; r < 21; ++r) {
        for (int j = 0; j < 16; ++j) {
            bool on = ((rows[r] >> (15 - j)) & 1) != 0;
            EXPECT_EQ(d.px(x + j, y + r), on ? fg : bg) << "row " << r << " pixel " << j;
        }
    }
}

}  // namespace

TEST(Status, TimeDigits) {
    text_display d;
    ASSERT_TRUE(d.ok());
    struct {
        uint32_t ms;
        const char* text;
    } const cases[] = {
        {0, " Tijd: 0u 00m 00s"},
        {59999, " Tijd: 0u 00m 59s"},  // milliseconds are cut off, never carried
        {3599999, " Tijd: 0u 59m 59s"},
        {3600000, " Tijd: 1u 00m 00s"},
        {36300000, " Tijd: 9u 05m 00s"},  // from ten hours on the hour digit stays 9
        {4294967295u, " Tijd: 9u 02m 47s"},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> time = shown(d, [&] { fb_show_time(c.ms); });
        std::vector<uint32_t> text = shown(d, [&] { fb_show_status(c.text); });
        EXPECT_TRUE(time == text) << c.ms;
    }
    // Each digit position shows: different times give different pictures.
    EXPECT_FALSE(shown(d, [] { fb_show_time(0); }) == shown(d, [] { fb_show_time(59999); }));
    EXPECT_FALSE(shown(d, [] { fb_show_time(0); }) == shown(d, [] { fb_show_time(50000); }));
    EXPECT_FALSE(shown(d, [] { fb_show_time(0); }) == shown(d, [] { fb_show_time(60000); }));
    EXPECT_FALSE(shown(d, [] { fb_show_time(0); }) == shown(d, [] { fb_show_time(600000); }));
}

TEST(Status, StripAndIconBoxGeometry) {
    text_display d;
    ASSERT_TRUE(d.ok());
    fb_show_status("");
    // The strip: columns sx .. sx + ex (the width argument is ex), rows sy .. sy + 31.
    EXPECT_EQ(d.px(40, 50), kDim[7]);
    EXPECT_EQ(d.px(40, 81), kDim[7]);
    EXPECT_EQ(d.px(710, 50), kDim[7]);
    EXPECT_EQ(d.px(671, 81), kDim[7]);
    EXPECT_EQ(d.px(605, 60), kDim[7]);
    EXPECT_EQ(d.px(39, 60), 0u);
    EXPECT_EQ(d.px(711, 60), 0u);
    EXPECT_EQ(d.px(100, 49), 0u);
    EXPECT_EQ(d.px(100, 82), 0u);
    // The icon box: columns ex - 64 .. ex.
    EXPECT_EQ(d.px(606, 50), kDim[4]);
    EXPECT_EQ(d.px(670, 50), kDim[4]);
    EXPECT_EQ(d.px(670, 81), kDim[4]);
    EXPECT_EQ(d.px(606, 81), kDim[4]);
    EXPECT_EQ(status_countdown, 100);

    fb_clear_status();
    EXPECT_EQ(status_countdown, -1);
    EXPECT_EQ(d.screen(), std::vector<uint32_t>(d.screen().size(), 0));
    // Clearing covers the same columns and rows, and nothing else.
    auto mem = sim::fb_memory();
    std::fill(mem.begin(), mem.end(), 0x12345678u);
    fb_clear_status();
    for (int c : {40, 300, 606, 710}) {
        EXPECT_EQ(d.px(c, 50), 0u);
        EXPECT_EQ(d.px(c, 81), 0u);
        EXPECT_EQ(d.px(c, 49), 0x12345678u);
        EXPECT_EQ(d.px(c, 82), 0x12345678u);
    }
    EXPECT_EQ(d.px(39, 60), 0x12345678u);
    EXPECT_EQ(d.px(711, 60), 0x12345678u);
}

TEST(Status, IconsShowClockAndPaletteInTheSchemeColour) {
    text_display d;
    ASSERT_TRUE(d.ok());
    const int x = 670 - 64, y = 50 + 4;
    clock_running = 1;
    fb_show_icons();
    expect_picture(d, kPlay, x, y, kDim[3], kDim[4]);  // scheme 0: colour 3
    expect_picture(d, kSmallSun, x + 16, y, kDim[3], kDim[4]);

    clock_running = 0;
    palette_index = 1;
    palette = palettes[1].data();
    colour_scheme = 1;  // scheme 1: colour 7
    d.clear();
    fb_show_icons();
    expect_picture(d, kPause, x, y, 0xffffffffu, 0xff0000ffu);
    expect_picture(d, kLargeSun, x + 16, y, 0xffffffffu, 0xff0000ffu);
}

TEST(Status, ZoomDigitAndX) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(20, 24);
    for (int z : {0, 3, 7}) {
        zoom = z;
        d.clear();
        fb_show_icons();
        const uint32_t digit = static_cast<uint32_t>('1' + z);
        testsup::ref_glyph g = ref.glyph(digit);
        testsup::ref_glyph xg = ref.glyph('x');
        // The digit at the pen after the two symbols, baseline sy + 24; 'x' after it,
        // kerned against it, baseline sy + 22.
        const int pen = 670 - 32;
        const int pen_x = pen + g.advance + ref.kerning(digit, 'x');
        int set = 0;
        for (int i = 0; i < g.rows; ++i) {
            for (int j = 0; j < g.width; ++j) {
                if (!g.set(i, j)) continue;
                ++set;
                EXPECT_EQ(d.px(pen + g.left + j, 74 - g.top + i), kDim[3]) << "zoom " << z;
            }
        }
        for (int i = 0; i < xg.rows; ++i) {
            for (int j = 0; j < xg.width; ++j) {
                if (!xg.set(i, j)) continue;
                ++set;
                EXPECT_EQ(d.px(pen_x + xg.left + j, 72 - xg.top + i), kDim[3]) << "zoom " << z;
            }
        }
        int coloured = 0;
        for (int r = 50; r < 82; ++r) {
            for (int c = pen; c <= 670; ++c) coloured += d.px(c, r) == kDim[3];
        }
        EXPECT_EQ(coloured, set) << "zoom " << z;
    }
}

TEST(Status, MessageKeepsClearOfTheIcons) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(20, 24);
    testsup::ref_glyph w = ref.glyph('W');
    ASSERT_EQ(ref.kerning('W', 'W'), 0);
    fb_show_status(std::string(60, 'W').c_str());
    // Left-aligned from sx in a field of ex - sx - 69 pixels.
    int pen = 40;
    while (pen + w.advance < 670 - 69) pen += w.advance;
    pen -= w.advance;  // the last W drawn
    int rightmost = -1;
    for (int c = 40; c <= 710; ++c) {
        for (int r = 50; r < 82; ++r) {
            if (d.px(c, r) == kDim[0]) rightmost = c;
        }
    }
    int ink = -1;
    for (int i = 0; i < w.rows; ++i) {
        for (int j = 0; j < w.width; ++j) {
            if (w.set(i, j)) ink = std::max(ink, j);
        }
    }
    EXPECT_EQ(rightmost, pen + w.left + ink);
    EXPECT_LT(rightmost, 670 - 64);
    EXPECT_EQ(d.px(40 + w.left, 74 - w.top), kDim[0]);  // W's top-left stroke
}

TEST(Status, IconsAloneLeaveTheMessage) {
    text_display d;
    ASSERT_TRUE(d.ok());
    clock_running = 0;
    fb_show_status("Hallo");
    std::vector<uint32_t> before = d.screen();
    status_countdown = 3;
    clock_running = 1;
    fb_show_icons();
    EXPECT_EQ(status_countdown, 100);
    std::vector<uint32_t> after = d.screen();
    const size_t stride = px_per_line;
    int changed = 0;
    for (size_t r = 0; r < after.size() / stride; ++r) {
        for (size_t c = 0; c < stride; ++c) {
            if (before[r * stride + c] == after[r * stride + c]) continue;
            ++changed;
            EXPECT_TRUE(c >= 606 && c <= 670 && r >= 50 && r <= 81) << c << "," << r;
        }
    }
    EXPECT_GT(changed, 0);  // pause became play
}

TEST(Status, ExitButtonOfTheStartMessage) {
    text_display d;
    ASSERT_TRUE(d.ok());
    const char* start = "Druk: \x0e\x0f om te starten \x0b\x02\x12\x13\x0c om te sluiten";
    fb_show_status(start);
    std::vector<uint32_t> keep = d.screen();
    // The pen where the EXIT button starts: measure the text before it.
    const int pen = fb_draw_string("Druk: \x0e\x0f om te starten ", 0, 40, 74, 0, 1000, -1);
    expect_picture(d, kExitLeft, pen, 74 - 21, kDim[1], kDim[7]);
    expect_picture(d, kExitRight, pen + 16, 74 - 21, kDim[1], kDim[7]);
    EXPECT_TRUE(d.screen() == keep);  // measuring drew nothing
}
