// String drawing: UTF-8 decoding, measuring and alignment, the right limit,
// colour codes on both targets, symbol codes, kerning and its resets, the
// background box of subtitle lines, the last glyph kerned to the left, and the
// places where a subtitle line is split into screen lines.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/screen.h"
#include "fb/text.h"
#include "tests/support/text_support.h"

using testsup::kDim;
using testsup::ref_face;
using testsup::text_display;

namespace {

// Draws glyphs one by one with the font engine, kerning each against the one
// before, as a string without control codes between them must come out.
int draw_glyphs(uint8_t target, std::initializer_list<std::pair<uint32_t, int8_t>> glyphs, int x,
                int y) {
    (target == 1 ? last_glyph_bb : last_glyph_fb) = 0;
    for (auto [code, colour] : glyphs) x += fb_draw_char(target, code, x, y, 100000, colour);
    return x;
}

// The target's pixels after f, with both buffers cleared before.
std::vector<uint32_t> after(text_display& d, uint8_t target, const std::function<void()>& f) {
    d.clear();
    f();
    return target == 1 ? d.back() : d.screen();
}

struct decoded {
    int32_t length;
    uint32_t code;
};

// Decodes from a heap block holding exactly the given bytes, so that a read past
// them is caught by AddressSanitizer.
decoded decode(std::initializer_list<unsigned char> bytes) {
    std::unique_ptr<unsigned char[]> s(new unsigned char[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), s.get());
    decoded r{0, 0xDEADBEEF};
    r.length = fb_decode_utf8(s.get(), &r.code);
    return r;
}

}  // namespace

TEST(Utf8, DecodesByTheRules) {
    struct {
        std::initializer_list<unsigned char> bytes;
        int32_t length;
        uint32_t code;
    } const cases[] = {
        {{'A', 0}, 1, 0x41},
        {{0x7F, 0}, 1, 0x7F},
        {{0xC3, 0xA9, 0}, 2, 0xE9},          // é
        {{0xE2, 0x82, 0xAC, 0}, 3, 0x20AC},  // €
        {{0xA9, 'x', 0}, 2, 0x278},          // a stray continuation byte leads two bytes
        {{0xC0, 0x80, 0}, 2, 0},             // over-long NUL
        {{0xC3, '(', 0}, 2, 0xE8},           // the second byte is not validated
        {{0xDF, 0xBF, 0}, 2, 0x7FF},
        {{0xF0, 0x9F, 0x98, 0x80, 0}, 3, 0x107D8},  // a 4-byte lead keeps its bit 0x10
        {{0xFF, 0xBF, 0xBF, 0}, 3, 0x1FFFF},
    };
    for (const auto& c : cases) {
        decoded r = decode(c.bytes);
        EXPECT_EQ(r.length, c.length) << std::hex << int(*c.bytes.begin());
        EXPECT_EQ(r.code, c.code) << std::hex << int(*c.bytes.begin());
    }
}

TEST(Utf8, CutOffSequencesNeverReadPastTheTerminator) {
    // The length exceeds the bytes left, so a caller skips the lead byte.
    EXPECT_EQ(decode({0xC3, 0}).length, 2);
    EXPECT_EQ(decode({0xE2, 0}).length, 3);
    EXPECT_EQ(decode({0xE2, 0x82, 0}).length, 3);
    EXPECT_EQ(decode({0xF0, 0}).length, 3);
    EXPECT_EQ(decode({0}).length, 1);
    EXPECT_EQ(decode({0}).code, 0u);
}

TEST(Text, DecodesUtf8WhileDrawing) {
    text_display d;
    ASSERT_TRUE(d.ok());
    auto str = [&](const char* s) {
        return after(d, 0, [&] { fb_draw_string(s, 0, 100, 200, 0, 600, 7); });
    };
    auto glyphs = [&](std::initializer_list<std::pair<uint32_t, int8_t>> g) {
        return after(d, 0, [&] { draw_glyphs(0, g, 100, 200); });
    };
    EXPECT_TRUE(str("\xC3\xA9\xE2\x82\xAC") == glyphs({{0xE9, 7}, {0x20AC, 7}}));
    EXPECT_TRUE(str("\xA9x") == glyphs({{0x278, 7}}));
    // A string that ends inside a sequence drops the sequence.
    EXPECT_TRUE(str("A\xC3") == glyphs({{'A', 7}}));
    EXPECT_TRUE(str("A\xE2\x82") == glyphs({{'A', 7}}));
    // An over-long NUL is nothing at all.
    EXPECT_TRUE(str("A\xC0\x80"
                    "B") == glyphs({{'A', 7}, {'B', 7}}));
}

TEST(Text, EmptyStringAndAlignment) {
    text_display d;
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(fb_draw_string("", 0, 40, 100, 0, 100, 7), 40);
    EXPECT_EQ(fb_draw_string("", 0, 40, 100, 1, 100, 7), 90);
    EXPECT_EQ(fb_draw_string("", 0, 40, 100, 2, 100, 7), 140);
    EXPECT_EQ(fb_draw_string("", 0, 40, 100, 5, 100, 7), 40);  // other values act as left
    EXPECT_EQ(d.screen(), std::vector<uint32_t>(d.screen().size(), 0));

    const int m = fb_draw_string("AB", 0, 0, 100, 0, 600, 7);
    ASSERT_GT(m, 0);
    const std::vector<uint32_t> left =
        after(d, 0, [&] { fb_draw_string("AB", 0, 40 + (100 - m) / 2, 100, 0, 600, 7); });
    int end = 0;
    const std::vector<uint32_t> centred =
        after(d, 0, [&] { end = fb_draw_string("AB", 0, 40, 100, 1, 100, 7); });
    EXPECT_EQ(end, 40 + (100 - m) / 2 + m);
    EXPECT_TRUE(left == centred);
    EXPECT_EQ(fb_draw_string("AB", 0, 0, 100, 2, 100, 7), 100);
    // Odd room: integer division.
    EXPECT_EQ(fb_draw_string("AB", 0, 0, 100, 1, m + 3, 7), 1 + m);
}

TEST(Text, TextWiderThanTheFieldIsCut) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(20, 24);
    const int adv = ref.glyph('n').advance;
    ASSERT_EQ(ref.kerning('n', 'n'), 0);
    for (int width : {adv, adv + 1, 3 * adv, 3 * adv + 1, 5 * adv - 1}) {
        int pen = 0;
        while (pen + adv < width) pen += adv;
        EXPECT_EQ(fb_draw_string("nnnnnnnnnn", 0, 50, 100, 0, width, 7), 50 + pen) << width;
        // Centred, the cut text is what fits, centred.
        EXPECT_EQ(fb_draw_string("nnnnnnnnnn", 0, 50, 100, 1, width, 7),
                  50 + (width - pen) / 2 + pen)
            << width;
    }
    // The right edge of the usable area cuts as well, whatever the field.
    int x = ex - 3 * adv;
    EXPECT_EQ(fb_draw_string("nnnnnnnnnn", 0, x, 100, 0, 1000, 7), x + 2 * adv);
}

TEST(Text, ColourCodesOnTheScreen) {
    text_display d;
    ASSERT_TRUE(d.ok());
    auto str = [&](const char* s, int8_t colour) {
        return after(d, 0, [&] { fb_draw_string(s, 0, 100, 200, 0, 600, colour); });
    };
    auto glyphs = [&](std::initializer_list<std::pair<uint32_t, int8_t>> g) {
        return after(d, 0, [&] { draw_glyphs(0, g, 100, 200); });
    };
    EXPECT_TRUE(str("\x0b\x03"
                    "A\x0c"
                    "B",
                    7) == glyphs({{'A', 2}, {'B', 7}}));
    EXPECT_TRUE(str("\x0b\x09X", 7) == glyphs({{'X', 6}}));
    EXPECT_TRUE(str("\x0b\x01X\x0b\x08Y", 7) == glyphs({{'X', 0}, {'Y', 7}}));
    EXPECT_TRUE(str("\x0b\x02"
                    "A\x0b\x04"
                    "B\x0c"
                    "D",
                    7) == glyphs({{'A', 1}, {'B', 3}, {'D', 1}}));
    // A restore with no change before it gives the string's colour.
    EXPECT_TRUE(str("\x0c"
                    "A",
                    4) == glyphs({{'A', 4}}));
    // A change as the last byte takes the terminator as its argument: no effect.
    EXPECT_TRUE(str("A\x0b", 7) == glyphs({{'A', 7}}));
    // Colours above 7 are lowered to 7.
    EXPECT_TRUE(str("A", 11) == glyphs({{'A', 7}}));
}

TEST(Text, ColourCodesInTheBackBufferUseTheScheme) {
    text_display d;
    ASSERT_TRUE(d.ok());
    background_level = 0;  // no box; outlines
    auto str = [&](const char* s) {
        return after(d, 1, [&] { fb_draw_string(s, 1, 100, 40, 0, 600, 7); });
    };
    auto glyphs = [&](std::initializer_list<std::pair<uint32_t, int8_t>> g) {
        return after(d, 1, [&] { draw_glyphs(1, g, 100, 40); });
    };
    colour_scheme = 0;  // scheme 0: 3 7 6 2
    EXPECT_TRUE(str("\x0b\x03"
                    "A\x0c"
                    "B") == glyphs({{'A', 2}, {'B', 7}}));
    EXPECT_TRUE(str("\x0b\x09X") == glyphs({{'X', 7}}));  // 9 & 3 = 1
    colour_scheme = 2;                                    // scheme 2: 6 2 7 3
    EXPECT_TRUE(str("\x0b\x05X\x0b\x04Y") == glyphs({{'X', 2}, {'Y', 6}}));
    EXPECT_EQ(d.screen(), std::vector<uint32_t>(d.screen().size(), 0));
}

TEST(Text, SymbolCodesStandOnTheBaselineAndAlwaysMoveThePen) {
    text_display d;
    ASSERT_TRUE(d.ok());
    const int x = 100, y = 200;
    EXPECT_EQ(fb_draw_string("\x0e\x0f", 0, x, y, 0, 600, 4), x + 32);
    EXPECT_EQ(d.px(x + 13, y - 21 + 2), kDim[4]);  // OK left row 2: 0007
    EXPECT_EQ(d.px(x + 12, y - 21 + 2), 0u);
    EXPECT_EQ(d.px(x + 16, y - 21 + 2), kDim[4]);  // OK right row 2: E000

    // Past the field and past the limit, a picture still moves the pen by 16 and
    // is drawn; a glyph after it no longer fits.
    d.clear();
    EXPECT_EQ(fb_draw_string("\x1e\x1e\x1e"
                             "A",
                             0, x, y, 0, 20, 7),
              x + 48);
    EXPECT_EQ(d.px(x + 32 + 6, y - 21 + 2), kDim[7]);   // play sign row 2: 0200
    EXPECT_EQ(d.px(x + 32 + 6, y - 21 + 19), kDim[7]);  // row 19: 0200, just above the baseline
    for (int c = x + 48; c < x + 80; ++c) {
        for (int r = y - 30; r < y + 10; ++r) EXPECT_EQ(d.px(c, r), 0u);
    }
    // A field narrower than the pictures: centring leaves x where it is.
    EXPECT_EQ(fb_draw_string("\x14\x15\x14\x15", 0, x, y, 1, 40, 7), x + 64);
    // Codes without a picture take no room and draw nothing.
    d.clear();
    EXPECT_EQ(fb_draw_string("\x01\x09\x0a\x0d\x1f", 0, x, y, 0, 600, 7), x);
    EXPECT_EQ(d.screen(), std::vector<uint32_t>(d.screen().size(), 0));
}

TEST(Text, KerningStopsAtPicturesAndAtTheStringsEdge) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(20, 24);
    const int t = ref.glyph('T').advance, o = ref.glyph('o').advance;
    const int k = ref.kerning('T', 'o');
    ASSERT_LT(k, 0);
    EXPECT_EQ(fb_draw_string("To", 0, 100, 200, 0, 600, 7), 100 + t + k + o);
    EXPECT_EQ(fb_draw_string("T\x04o", 0, 100, 200, 0, 600, 7), 100 + t + 16 + o);
    EXPECT_EQ(fb_draw_string("T\x09o", 0, 100, 200, 0, 600, 7), 100 + t + o);
    EXPECT_EQ(fb_draw_string("T\x0ao", 0, 100, 200, 0, 600, 7), 100 + t + o);
    // Colour codes do not reset it.
    EXPECT_EQ(fb_draw_string("T\x0b\x02o\x0c", 0, 100, 200, 0, 600, 7), 100 + t + k + o);
    // Each string starts afresh.
    fb_draw_string("T", 0, 100, 200, 0, 600, 7);
    EXPECT_EQ(fb_draw_string("o", 0, 100, 200, 0, 600, 7), 100 + o);
}

TEST(Text, MissingGlyphIsSkippedWithItsMessage) {
    text_display d;
    ASSERT_TRUE(d.ok());
    const int ab = fb_draw_string("AB", 0, 100, 200, 0, 600, 7);
    std::vector<uint32_t> want = d.screen();
    d.clear();
    int32_t r = 0;
    std::string out = testsup::capture_output([&] {
        r = fb_draw_string(
            "A\xe4\xb9\x81"
            "B",
            0, 100, 200, 0, 600, 7);
    });
    EXPECT_EQ(r, ab);
    EXPECT_TRUE(d.screen() == want);
    // Once measuring, once drawing.
    EXPECT_EQ(out,
              "Chyba FT_Get_Char_Index: \"A\" - 4E41\nChyba FT_Get_Char_Index: \"A\" - 4E41\n");
}

// The drawing pass draws exactly the glyphs the measuring pass accepted, also when
// the last one is kerned to the left ("To", "AV", "y."), and the background box
// reaches past it.
TEST(Text, LastGlyphKernedLeftIsDrawn) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(20, 24);
    for (auto [a, b] : {std::pair<uint32_t, uint32_t>{'T', 'o'}, {'A', 'V'}, {'y', '.'}}) {
        ASSERT_LT(ref.kerning(a, b), 0) << char(a) << char(b);
        const char s[3] = {static_cast<char>(a), static_cast<char>(b), 0};
        for (int align : {0, 1, 2}) {
            int end = 0;
            std::vector<uint32_t> got =
                after(d, 0, [&] { end = fb_draw_string(s, 0, 41, 200, align, 628, 7); });
            const int m = ref.glyph(a).advance + ref.glyph(b).advance + ref.kerning(a, b);
            int start = 41 + (align == 1 ? (628 - m) / 2 : align == 2 ? 628 - m : 0);
            EXPECT_EQ(end, start + m) << s << " align " << align;
            std::vector<uint32_t> want = after(d, 0, [&] {
                draw_glyphs(0, {{a, 7}, {b, 7}}, start, 200);
            });
            EXPECT_TRUE(got == want) << s << " align " << align;
        }
    }

    // The field's width still cuts where the measuring pass does: the pen before
    // kerning plus the advance must stay short of it.
    const int t = ref.glyph('T').advance, o = ref.glyph('o').advance, k = ref.kerning('T', 'o');
    EXPECT_EQ(fb_draw_string("To", 0, 100, 200, 0, t + o + 1, 7), 100 + t + k + o);
    EXPECT_EQ(fb_draw_string("To", 0, 100, 200, 0, t + o, 7), 100 + t);
    // ex cuts when the text as measured reaches it.
    const int m = t + k + o;
    EXPECT_EQ(fb_draw_string("To", 0, ex - m - 1, 200, 0, 1000, 7), ex - 1);
    EXPECT_EQ(fb_draw_string("To", 0, ex - m, 200, 0, 1000, 7), ex - m + t);
}

// A glyph of no advance (a combining accent) refused by the measuring pass once
// pictures have filled the field would still fit before the drawing limit; it
// stays undrawn, as the measuring pass decided.
TEST(Text, DrawsOnlyTheGlyphsMeasured) {
    text_display d;
    ASSERT_TRUE(d.ok());
    int with = 0, without = 0;
    std::vector<uint32_t> a =
        after(d, 0, [&] { with = fb_draw_string("\x1e\x1e\xcc\x81", 0, 100, 200, 0, 20, 7); });
    std::vector<uint32_t> b =
        after(d, 0, [&] { without = fb_draw_string("\x1e\x1e", 0, 100, 200, 0, 20, 7); });
    EXPECT_EQ(with, 132);
    EXPECT_EQ(without, 132);
    EXPECT_TRUE(a == b);
    // In a wide field the accent is measured and drawn.
    std::vector<uint32_t> c =
        after(d, 0, [&] { fb_draw_string("\x1e\x1e\xcc\x81", 0, 100, 200, 0, 200, 7); });
    EXPECT_FALSE(c == b);
}

TEST(Text, BackgroundBoxOfASubtitleLine) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ASSERT_EQ(zoom, 1);
    const int h = 22, box_h = line_heights[1] - 3;
    const int x = 41, y = 22;
    const int m = fb_draw_string("Hallo", 1, x, y, 0, 628, 7) - x;
    ASSERT_GT(m, 0);
    for (int t : {1, 2}) {
        background_level = t;
        d.clear();
        fb_draw_string("Hallo", 1, x, y, 0, 628, 7);
        const uint32_t colour = t == 1 ? kDim[11] : kDim[0];
        // Columns x .. x + m + 1, rows from h - 1 above the baseline, box_h rows.
        const int top = y - h + 1, bottom = top + box_h - 1, right = x + m + 1;
        for (int c : {x, x + m / 2, right}) {
            EXPECT_EQ(d.bb(c, top), colour) << c;
            EXPECT_EQ(d.bb(c, bottom), colour) << c;
            EXPECT_EQ(d.bb(c, bottom + 1), 0u) << c;
            if (top > 0) {
                EXPECT_EQ(d.bb(c, top - 1), 0u) << c;
            }
        }
        for (int r : {top, bottom}) {
            EXPECT_EQ(d.bb(x - 1, r), 0u);
            EXPECT_EQ(d.bb(right + 1, r), 0u);
        }
    }
    // An empty line still gets a box two columns wide.
    background_level = 1;
    d.clear();
    fb_draw_string("", 1, 300, 60, 0, 628, 7);
    EXPECT_EQ(d.bb(300, 60 - h + 1), kDim[11]);
    EXPECT_EQ(d.bb(301, 60 - h + 1), kDim[11]);
    EXPECT_EQ(d.bb(302, 60 - h + 1), 0u);
    EXPECT_EQ(d.bb(301, 60 - h + box_h), kDim[11]);
    EXPECT_EQ(d.bb(301, 60 - h + box_h + 1), 0u);
    // No box without a background, and never on the screen.
    background_level = 0;
    d.clear();
    fb_draw_string("Hallo", 1, x, y, 0, 628, 7);
    EXPECT_EQ(d.bb(x, y - h + 1), 0u);
    EXPECT_EQ(d.bb(x + m + 1, y - h + 1), 0u);
    background_level = 1;
    d.clear();
    fb_draw_string("Hallo", 0, x, 300, 0, 628, 7);
    EXPECT_EQ(d.px(x, 300 - h + 1), 0u);
    EXPECT_EQ(d.back(), std::vector<uint32_t>(d.back().size(), 0));
}

TEST(Text, BackgroundBoxCoversALastGlyphKernedLeft) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(18, 22);  // zoom 1
    const int t = ref.glyph('T').advance, o = ref.glyph('o').advance, k = ref.kerning('T', 'o');
    ASSERT_LT(k, 0);
    background_level = 2;
    const int x = 41, y = 22, top = y - 22 + 1;
    EXPECT_EQ(fb_draw_string("To", 1, x, y, 0, 628, 7), x + t + k + o);
    // The box reaches one column past the 'o' measured without its kerning.
    const int right = x + t + o + 1;
    EXPECT_EQ(d.bb(right, top), kDim[0]);
    EXPECT_EQ(d.bb(right + 1, top), 0u);
    // Every pixel of the text lies inside the box.
    for (int r = 0; r < 60; ++r) {
        for (int c = right + 1; c < right + 20; ++c) EXPECT_EQ(d.bb(c, r), 0u) << c << "," << r;
    }
}

// Coordinates and widths at the ends of their range draw nothing outside the
// buffers and overflow nothing (the sanitizer builds watch the arithmetic).
TEST(Text, ExtremeCoordinatesAreHarmless) {
    text_display d;
    ASSERT_TRUE(d.ok());
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    for (uint8_t target : {0, 1}) {
        for (int t : {0, 1}) {
            background_level = t;
            fb_draw_string("Hallo \x0e\x0f", target, kMax - 5, kMin + 3, 1, kMax, 7);
            fb_draw_string("Hallo \x0e\x0f", target, kMin, kMax, 2, kMax, 7);
            fb_draw_string("Hallo \x0e\x0f", target, kMin + 10, 40, 0, kMin, 7);
            fb_draw_string("Hallo \x0e\x0f", target, 100, kMax - 1, 0, 600, 7);
        }
    }
    EXPECT_EQ(d.screen(), std::vector<uint32_t>(d.screen().size(), 0));
    EXPECT_EQ(d.back(), std::vector<uint32_t>(d.back().size(), 0));
    // Partly visible text keeps the part on the buffer.
    background_level = 0;
    fb_draw_string("Hallo", 1, -8, 3, 0, 600, 7);
    EXPECT_NE(d.back(), std::vector<uint32_t>(d.back().size(), 0));
}

// Where a subtitle line is split into screen lines: before the last run of spaces at
// which it fits, the run dropped; a word wider than the field clipped and the text going
// on after the next space; the last piece allowed clipped at the field's edge.
TEST(Text, SplitsLinesAtTheLastSpaceThatFits) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(18, 22);                   // the back buffer's zoom 1
    constexpr size_t kClip = SIZE_MAX;  // the end is where the field cuts the text
    struct {
        std::string text;
        const char* field_for;  // the field is the narrowest that takes this text
        size_t max;
        std::vector<std::array<size_t, 3>> pieces;  // from, end, rest
    } const cases[] = {
        {"een twee", "een twee", 4, {{0, 8, 8}}},
        {"een twee drie", "een twee", 4, {{0, 8, 9}, {9, 13, 13}}},
        {"een twee  drie   ", "een twee", 4, {{0, 8, 10}, {10, 17, 17}}},
        {"een twee drie vier vijf zes", "een twee", 2, {{0, 8, 9}, {9, kClip, 27}}},
        {"een twee drie", "een twee", 1, {{0, kClip, 13}}},
        {"", "een", 4, {{0, 0, 0}}},
        // Only a colour code after the break: nothing left to show.
        {"een twee \x0c", "een twee", 4, {{0, 8, 9}}},
        // A colour argument 0x20 is no space.
        {"ab\x0b cd ef", "abcd", 4, {{0, 6, 7}, {7, 9, 9}}},
        {"abcdefgh\x0b ij kl", "abcd", 4, {{0, kClip, 13}, {13, 15, 15}}},
        {"ab abcdefghijklmnop cd", "abcd", 4, {{0, 2, 3}, {3, kClip, 20}, {20, 22, 22}}},
        // Leading spaces are no place to break.
        {"   abcdefgh ab", "abcd", 4, {{0, kClip, 12}, {12, 14, 14}}},
    };
    for (const auto& c : cases) {
        const int width = testsup::fit_width(ref, c.field_for);
        std::array<text_piece, 4> pieces;
        const size_t n =
            fb_split_line(c.text.c_str(), 1, 41, width, std::span(pieces).first(c.max));
        ASSERT_EQ(n, c.pieces.size()) << c.text;
        for (size_t i = 0; i < n; ++i) {
            std::array<size_t, 3> expected = c.pieces[i];
            if (expected[1] == kClip) {
                const std::string rest = c.text.substr(expected[0]);
                expected[1] = expected[0] + testsup::fit_end(ref, rest, width);
            }
            EXPECT_EQ(pieces[i].from, expected[0]) << c.text << " piece " << i;
            EXPECT_EQ(pieces[i].end, expected[1]) << c.text << " piece " << i;
            EXPECT_EQ(pieces[i].rest, expected[2]) << c.text << " piece " << i;
        }
    }
}
