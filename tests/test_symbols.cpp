// The symbol font: every picture against the table, codes without pictures,
// measuring, colours, the two targets and clipping.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/symbols.h"
#include "tests/support/text_support.h"

using testsup::kDim;
using testsup::text_display;

namespace {

struct picture {
    uint8_t code;
    int rows[21];  // -1: a row of the menu key's label, not fixed by the table
};

// The pictures' rows, bit 15 the leftmost pixel, typed in from the table.
const picture kTable[22] =
    {
        {0x04, {0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
                0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
                0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000}},  // blank
        {0x05, {0x0000, 0x0000, 0x0000, 0x0000, 0x0CC0, 0x0CC0, 0x0CC0,
                0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0,
                0x0CC0, 0x0CC0, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000}},  // pause sign
        {0x06, {0x0000, 0x0180, 0x03C0, 0x03C0, 0x07E0, 0x07E0, 0x0E70,
                0x0E70, 0x1E78, 0x1E78, 0x3E7C, 0x3E7C, 0x7FFE, 0x7E7E,
                0xFE7F, 0xFFFF, 0xFFFF, 0x0000, 0x0000, 0x0000, 0x0000}},  // warning triangle
        {0x07, {0x0000, 0x0000, 0x0040, 0x00C0, 0x01C0, 0x03C0, 0x07C0,
                0x0FFE, 0x1FFE, 0x3FFE, 0x7FFE, 0x7FFE, 0x3FFE, 0x1FFE,
                0x0FFE, 0x07C0, 0x03C0, 0x01C0, 0x00C0, 0x0040, 0x0000}},  // arrow left
        {0x08, {0x0000, 0x0000, 0x0200, 0x0300, 0x0380, 0x03C0, 0x03E0,
                0x7FF0, 0x7FF8, 0x7FFC, 0x7FFE, 0x7FFE, 0x7FFC, 0x7FF8,
                0x7FF0, 0x03E0, 0x03C0, 0x0380, 0x0300, 0x0200, 0x0000}},  // arrow right
        {0x0E, {0x0000, 0x0000, 0x0007, 0x001F, 0x003F, 0x007F, 0x00E3,
                0x00C1, 0x019C, 0x019C, 0x019C, 0x019C, 0x019C, 0x00C1,
                0x00E3, 0x007F, 0x003F, 0x001F, 0x0007, 0x0000, 0x0000}},  // OK button, left half
        {0x0F, {0x0000, 0x0000, 0xE000, 0xF800, 0xFC00, 0xFE00, 0xFF00,
                0x9900, 0x9180, 0x8380, 0x8780, 0x8380, 0x9180, 0x9900,
                0xFF00, 0xFE00, 0xFC00, 0xF800, 0xE000, 0x0000, 0x0000}},  // OK button, right half
        {
            0x10, {0x0000, 0x0000, 0x03FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF,
                   -1,     -1,     -1,     -1,     -1,     -1,     -1,
                   0x7FFF, 0x3FFF, 0x1FFF, 0x0FFF, 0x03FF, 0x0000, 0x0000}},  // menu key, left half
        {
            0x11, {0x0000, 0x0000, 0xFFC0, 0xFFF0, 0xFFF8, 0xFFFC, 0xFFFE, -1,
                   -1,     -1,     -1,     -1,     -1,     -1,     0xFFFE, 0xFFFC,
                   0xFFF8, 0xFFF0, 0xFFC0, 0x0000, 0x0000}},  // menu key, right half
        {0x12, {0x0000, 0x0000, 0x03FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF,
                0x419C, 0xC188, 0xCFC1, 0xC3E3, 0xCFC1, 0xC188, 0x419C,
                0x7FFF, 0x3FFF, 0x1FFF, 0x0FFF, 0x03FF, 0x0000, 0x0000}},  // EXIT button, left half
        {0x13, {0x0000, 0x0000, 0xFFC0, 0xFFF0, 0xFFF8, 0xFFFC, 0xFFFE, 0xCC0E,
                0xCC0F, 0xCF3F, 0xCF3F, 0xCF3F, 0xCF3F, 0xCF3E, 0xFFFE, 0xFFFC,
                0xFFF8, 0xFFF0, 0xFFC0, 0x0000, 0x0000}},  // EXIT button, right half
        {0x14, {0x0000, 0x0000, 0x0007, 0x001F, 0x003F, 0x007F, 0x00FF, 0x00FF,
                0x01FF, 0x01FF, 0x01FF, 0x01FF, 0x01FF, 0x00FF, 0x00FF, 0x007F,
                0x003F, 0x001F, 0x0007, 0x0000, 0x0000}},  // plain button, left half
        {0x15, {0x0000, 0x0000, 0xE000, 0xF800, 0xFC00, 0xFE00, 0xFF00, 0xFF00,
                0xFF80, 0xFF80, 0xFF80, 0xFF80, 0xFF80, 0xFF00, 0xFF00, 0xFE00,
                0xFC00, 0xF800, 0xE000, 0x0000, 0x0000}},  // plain button, right half
        {0x16, {0x0000, 0x0000, 0x0007, 0x001F, 0x003F, 0x007E, 0x00FE,
                0x00FE, 0x01FE, 0x01E0, 0x01E0, 0x01E0, 0x01FE, 0x00FE,
                0x00FE, 0x007E, 0x003F, 0x001F, 0x0007, 0x0000, 0x0000}},  // plus button, left half
        {0x17, {0x0000, 0x0000, 0xE000, 0xF800, 0xFC00, 0x3E00, 0x3F00, 0x3F00,
                0x3F80, 0x0380, 0x0380, 0x0380, 0x3F80, 0x3F00, 0x3F00, 0x3E00,
                0xFC00, 0xF800, 0xE000, 0x0000, 0x0000}},  // plus button, right half
        {0x18, {0x0000, 0x0000, 0x0007, 0x001F, 0x003F, 0x007F, 0x00FF, 0x00FF,
                0x01FF, 0x01E0, 0x01E0, 0x01E0, 0x01FF, 0x00FF, 0x00FF, 0x007F,
                0x003F, 0x001F, 0x0007, 0x0000, 0x0000}},  // minus button, left half
        {0x19, {0x0000, 0x0000, 0xE000, 0xF800, 0xFC00, 0xFE00, 0xFF00, 0xFF00,
                0xFF80, 0x0780, 0x0780, 0x0780, 0xFF80, 0xFF00, 0xFF00, 0xFE00,
                0xFC00, 0xF800, 0xE000, 0x0000, 0x0000}},  // minus button, right half
        {0x1A, {0x0000, 0x0000, 0x0180, 0x03C0, 0x07E0, 0x0FF0, 0x1FF8,
                0x3FFC, 0x7FFE, 0xFFFF, 0xFFFF, 0x0FF0, 0x0FF0, 0x0FF0,
                0x0FF0, 0x0FF0, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000}},  // arrow up
        {0x1B, {0x0000, 0x0000, 0x0FF0, 0x0FF0, 0x0FF0, 0x0FF0, 0x0FF0,
                0xFFFF, 0xFFFF, 0x7FFE, 0x3FFC, 0x1FF8, 0x0FF0, 0x07E0,
                0x03C0, 0x0180, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000}},  // arrow down
        {0x1C, {0x0000, 0x0000, 0x0000, 0x0080, 0x1084, 0x0808, 0x03E0,
                0x07F0, 0x07F0, 0x37F6, 0x07F0, 0x07F0, 0x03E0, 0x0808,
                0x1084, 0x0080, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000}},  // small sun
        {0x1D, {0x0000, 0x0180, 0x6186, 0x718E, 0x399C, 0x1818, 0x03C0,
                0x07E0, 0xF7EF, 0xF7EF, 0x07E0, 0x03C0, 0x1818, 0x399C,
                0x718E, 0x6186, 0x0180, 0x0000, 0x0000, 0x0000, 0x0000}},  // large sun
        {0x1E, {0x0000, 0x0000, 0x0200, 0x0300, 0x0380, 0x03C0, 0x03E0,
                0x03F0, 0x03F8, 0x03FC, 0x03FE, 0x03FE, 0x03FC, 0x03F8,
                0x03F0, 0x03E0, 0x03C0, 0x0380, 0x0300, 0x0200, 0x0000}},  // play sign
};

constexpr uint32_t kMarker = 0x11111111;

bool bit(int row, int j) {
    return ((row >> (15 - j)) & 1) != 0;
}

}  // namespace

TEST(Symbols, FontBytesFollowTheTable) {
    ASSERT_EQ(symbol_font.size(), 924u);
    for (int g = 0; g < 22; ++g) {
        for (int r = 0; r < 21; ++r) {
            if (kTable[g].rows[r] < 0) continue;
            int row = symbol_font[42 * g + 2 * r] << 8 | symbol_font[42 * g + 2 * r + 1];
            EXPECT_EQ(row, kTable[g].rows[r]) << "picture " << g << " row " << r;
        }
    }
}

TEST(Symbols, EveryCodeDrawsItsPictureOverWhatIsThere) {
    text_display d;
    ASSERT_TRUE(d.ok());
    const int x = 300, y = 200;
    for (const picture& p : kTable) {
        for (int r = 0; r < 21; ++r) {
            for (int j = 0; j < 16; ++j) d.px(x + j, y + r) = kMarker;
        }
        EXPECT_EQ(fb_draw_symbol(0, p.code, x, y, 0, 7), 16);
        for (int r = 0; r < 21; ++r) {
            if (p.rows[r] < 0) continue;
            for (int j = 0; j < 16; ++j) {
                EXPECT_EQ(d.px(x + j, y + r), bit(p.rows[r], j) ? kDim[7] : kMarker)
                    << "code " << int(p.code) << " row " << r << " pixel " << j;
            }
        }
    }
}

// Rows 7-13 of the menu key carry a label of five letters cut out of the body.
TEST(Symbols, MenuKeyLabelRows) {
    text_display d;
    ASSERT_TRUE(d.ok());
    fb_draw_symbol(0, 0x10, 100, 100, 0, 7);
    fb_draw_symbol(0, 0x11, 116, 100, 0, 7);
    auto set = [&](int p, int r) { return d.px(100 + p, 100 + r) == kDim[7]; };
    for (int r = 7; r <= 13; ++r) {
        const bool edge = r >= 8 && r <= 12;
        EXPECT_EQ(set(0, r), edge) << "row " << r;
        EXPECT_EQ(set(31, r), edge) << "row " << r;
        for (int p : {1, 2, 29, 30}) EXPECT_TRUE(set(p, r)) << "row " << r << " pixel " << p;
    }
    // Columns 3-28 hold the letters: runs of 4 or 5 columns with a clear pixel,
    // separated by single fully set columns.
    std::vector<int> widths;
    int run = 0;
    for (int p = 3; p <= 28; ++p) {
        bool full = true;
        for (int r = 7; r <= 13; ++r) full = full && set(p, r);
        if (full) {
            EXPECT_GT(run, 0) << "pixel " << p;
            widths.push_back(run);
            run = 0;
        } else {
            ++run;
        }
    }
    widths.push_back(run);
    ASSERT_EQ(widths.size(), 5u);
    for (int w : widths) EXPECT_TRUE(w == 4 || w == 5) << w;
}

TEST(Symbols, CodesWithoutPicturesTakeNoRoom) {
    text_display d;
    ASSERT_TRUE(d.ok());
    for (int c = 0; c < 256; ++c) {
        const bool has = (c >= 0x04 && c <= 0x08) || (c >= 0x0E && c <= 0x1E);
        EXPECT_EQ(fb_draw_symbol(0, static_cast<uint8_t>(c), 50, 60, 0, 7), has ? 16 : 0)
            << "code " << c;
        // Nothing drawn for a code without a picture, nor for the blank picture 0x04.
        auto mem = sim::fb_memory();
        const bool blank = std::all_of(mem.begin(), mem.end(), [](uint32_t w) { return w == 0; });
        EXPECT_EQ(blank, !has || c == 0x04) << "code " << c;
        d.clear();
    }
}

TEST(Symbols, PlaySignPixelMeasuringAndLimit) {
    text_display d;
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(fb_draw_symbol(0, 0x07, 100, 50, 0, -1), 16);
    EXPECT_EQ(d.screen(), std::vector<uint32_t>(d.screen().size(), 0));
    // The limit is not used: a picture at limit - 1 is drawn in full.
    EXPECT_EQ(fb_draw_symbol(0, 0x1E, 100, 50, 101, 7), 16);
    EXPECT_EQ(d.px(106, 52), kDim[7]);  // row 2 is 0200
    EXPECT_EQ(d.px(105, 52), 0u);
    EXPECT_EQ(d.px(113, 59), kDim[7]);  // row 9 is 03FC: pixels 6..13
    EXPECT_EQ(d.px(114, 59), 0u);
}

TEST(Symbols, HalvesJoinIntoOneButton) {
    text_display d;
    ASSERT_TRUE(d.ok());
    int x = 200;
    x += fb_draw_symbol(0, 0x0E, x, 80, 0, 2);
    x += fb_draw_symbol(0, 0x0F, x, 80, 0, 2);
    EXPECT_EQ(x, 232);
    for (int r = 0; r < 21; ++r) {
        long row = static_cast<long>(kTable[5].rows[r]) << 16 | kTable[6].rows[r];
        for (int p = 0; p < 32; ++p) {
            EXPECT_EQ(d.px(200 + p, 80 + r) != 0, ((row >> (31 - p)) & 1) != 0) << r << "," << p;
        }
    }
}

TEST(Symbols, TargetsAndColours) {
    text_display d;
    ASSERT_TRUE(d.ok());
    fb_draw_symbol(1, 0x15, 10, 5, 0, 3);  // the back buffer
    EXPECT_EQ(d.bb(10, 5 + 4), kDim[3]);   // row 4 is FC00
    EXPECT_EQ(d.screen(), std::vector<uint32_t>(d.screen().size(), 0));
    fb_draw_symbol(2, 0x15, 10, 5, 0, 3);  // any other target is the screen
    EXPECT_EQ(d.px(10, 5 + 4), kDim[3]);
    // Only the low four bits of the colour count.
    fb_draw_symbol(0, 0x15, 40, 5, 0, 0x16);
    EXPECT_EQ(d.px(40, 5 + 4), kDim[6]);
    // The bright palette is read at drawing time.
    palette = palettes[1].data();
    fb_draw_symbol(0, 0x15, 70, 5, 0, 3);
    EXPECT_EQ(d.px(70, 5 + 4), 0xffffff00u);
}

TEST(Symbols, NothingIsWrittenOutsideTheBuffers) {
    text_display d;
    ASSERT_TRUE(d.ok());
    const int stride = static_cast<int>(px_per_line);
    const int rows = static_cast<int>(fb_fix.smem_len / fb_fix.line_length);
    // Past the right end of a line: the rest never wraps into the next line.
    fb_draw_symbol(0, 0x14, stride - 8, 100, 0, 7);
    for (int r = 100; r < 122; ++r) {
        for (int c = 0; c < 10; ++c) EXPECT_EQ(d.px(c, r), 0u);
    }
    EXPECT_EQ(d.px(stride - 1, 100 + 8), kDim[7]);  // row 8 of 01FF: pixels 7..15
    fb_draw_symbol(0, 0x14, -8, 200, 0, 7);
    EXPECT_EQ(d.px(0, 200 + 8), kDim[7]);
    EXPECT_EQ(d.px(stride - 1, 199 + 8), 0u);
    fb_draw_symbol(0, 0x14, 100, -10, 0, 7);
    EXPECT_EQ(d.px(100 + 8, 0), kDim[7]);  // row 10
    fb_draw_symbol(0, 0x14, 100, rows - 10, 0, 7);
    EXPECT_EQ(d.px(100 + 8, rows - 1), kDim[7]);  // row 9
    fb_draw_symbol(0, 0x14, -100000, 1 << 30, 0, 7);
    const int bb_rows = bbuf_size / static_cast<int>(fb_fix.line_length);
    fb_draw_symbol(1, 0x14, stride - 15, bb_rows - 3, 0, 7);
    EXPECT_EQ(d.bb(stride - 1, bb_rows - 1), kDim[7]);  // row 2 of 0007: pixels 13..15
    EXPECT_EQ(d.bb(stride - 2, bb_rows - 1), kDim[7]);
    EXPECT_EQ(d.bb(0, bb_rows - 1), 0u);
}
