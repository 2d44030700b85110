// The font engine: set-up and its diagnostics, line heights, the fit test,
// measuring, glyph pixels, the outline of transparent subtitles, kerning, clipping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "tests/support/text_support.h"

using testsup::kDim;
using testsup::ref_face;
using testsup::ref_glyph;
using testsup::text_display;

namespace {

// {pixel height, pixel width} of the zoom levels, typed in.
constexpr int kSizes[8][2] = {{24, 20}, {22, 18}, {26, 21}, {32, 26},
                              {34, 26}, {36, 27}, {38, 29}, {40, 30}};

// A 1-bit bitmap packed as the cache delivers it, with garbage in the padding bits
// past each row's last pixel (they must be ignored).
struct packed {
    std::vector<uint8_t> data;
    fb_bitmap b{};
};

packed pack(const ref_glyph& g, int extra_pitch = 0, uint8_t padding = 0xFF) {
    packed p;
    int pitch = (g.width + 7) / 8 + extra_pitch;
    p.data.assign(static_cast<size_t>(std::max(1, pitch * g.rows)), 0);
    for (int i = 0; i < g.rows; ++i) {
        for (int j = 0; j < pitch * 8; ++j) {
            bool on = j < g.width ? g.set(i, j) : ((padding >> (j % 8)) & 1) != 0;
            if (on) p.data[static_cast<size_t>(i * pitch + j / 8)] |= 0x80 >> (j % 8);
        }
    }
    p.b = {p.data.data(), g.width, g.rows, pitch, FT_PIXEL_MODE_MONO, 1};
    return p;
}

// The outline rule as written: each set pixel in turn, first every pixel of its
// 5 x 5 square that is still 0 becomes o, then the pixel itself becomes p. Pixels
// outside the buffer (rows, or columns past either end of a line) are dropped.
void literal(std::vector<uint32_t>& buf, int stride, const ref_glyph& g, int x, int y, uint32_t p,
             bool outline, uint32_t o) {
    const int rows = static_cast<int>(buf.size()) / stride;
    auto inside = [&](int c, int r) { return c >= 0 && c < stride && r >= 0 && r < rows; };
    for (int i = 0; i < g.rows; ++i) {
        for (int j = 0; j < g.width; ++j) {
            if (!g.set(i, j)) continue;
            int c = x + j, r = y + i;
            if (outline) {
                for (int rr = r - 2; rr <= r + 2; ++rr) {
                    for (int cc = c - 2; cc <= c + 2; ++cc) {
                        if (inside(cc, rr) && buf[rr * stride + cc] == 0) buf[rr * stride + cc] = o;
                    }
                }
            }
            if (inside(c, r)) buf[r * stride + c] = p;
        }
    }
}

ref_glyph random_glyph(std::mt19937& rng, int width, int rows, int density) {
    ref_glyph g;
    g.width = width;
    g.rows = rows;
    g.bits.resize(static_cast<size_t>(width * rows));
    for (auto& b : g.bits) b = static_cast<uint8_t>(static_cast<int>(rng() % 100) < density);
    return g;
}

int count_not(const std::vector<uint32_t>& v, uint32_t value) {
    return static_cast<int>(
        std::count_if(v.begin(), v.end(), [&](uint32_t w) { return w != value; }));
}

}  // namespace

TEST(FontVersion, AcceptsFrom236On) {
    EXPECT_FALSE(fb_font_version_ok(2, 3, 5));
    EXPECT_TRUE(fb_font_version_ok(2, 3, 6));
    EXPECT_TRUE(fb_font_version_ok(2, 3, 9));
    EXPECT_TRUE(fb_font_version_ok(2, 4, 0));
    EXPECT_TRUE(fb_font_version_ok(2, 12, 1));
    EXPECT_FALSE(fb_font_version_ok(2, 2, 9));
    EXPECT_FALSE(fb_font_version_ok(1, 9, 9));
}

TEST(FontSetup, PrintsTheLibraryVersionAndMeasuresLineHeights) {
    testsup::box_root root;
    testsup::setup_box(root, sim::fb_config{.xres = 720, .yres = 576});
    int ok = 0;
    std::string out = testsup::capture_output([&] { ok = testsup::open_display(); });
    ASSERT_EQ(ok, 1) << out;

    FT_Library lib;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    FT_Int a, b, c;
    FT_Library_Version(lib, &a, &b, &c);
    FT_Done_FreeType(lib);
    char line[64];
    std::snprintf(line, sizeof line, "fb_init: FreeType library %d.%d.%d\n", a, b, c);
    EXPECT_NE(out.find(line), std::string::npos) << out;

    ref_face ref;
    EXPECT_TRUE(FT_HAS_KERNING(ref.face()));
    EXPECT_EQ(has_kerning, 1);
    for (int z = 0; z < 8; ++z) {
        ref.size(kSizes[z][1], kSizes[z][0]);
        ref_glyph g = ref.glyph('g');
        // The pixel height, the descender of 'g' below the baseline, and 2.
        EXPECT_EQ(line_heights[z], g.rows - g.top + kSizes[z][0] + 2) << "zoom " << z;
    }
    EXPECT_EQ(ft_type_fb.width, 20u);
    EXPECT_EQ(ft_type_fb.height, 24u);
    EXPECT_EQ(ft_type_bb.width, 18u);  // zoom 1
    EXPECT_EQ(ft_type_bb.height, 22u);
    EXPECT_EQ(ft_type_bb.flags, 0x20000);
    EXPECT_EQ(ft_type_fb.face_id, static_cast<FTC_FaceID>(&ft_font_id));
    EXPECT_STREQ(ft_font_id.path, "/var/tuxbox/Tresk/Tresk.ttf");
    testsup::close_display();
    EXPECT_EQ(ft_lib, nullptr);
    EXPECT_EQ(ft_manager, nullptr);
}

TEST(FontSetup, MissingFontIsRefusedWithBothMessages) {
    testsup::box_root root("");
    testsup::setup_box(root, sim::fb_config{.xres = 720, .yres = 576});
    int ok = 1;
    std::string out = testsup::capture_output([&] { ok = testsup::open_display(); });
    EXPECT_EQ(ok, 0);
    EXPECT_NE(out.find("Chyba otevirani fontu '/var/tuxbox/Tresk/Tresk.ttf' -> 1\n"
                       "fb_init: FTC_Manager_Lookup_Face:  1\n"),
              std::string::npos)
        << out;
    testsup::close_display();
}

TEST(FontSetup, FileThatIsNoFontIsRefused) {
    testsup::box_root root("");
    root.write("/var/tuxbox/Tresk/Tresk.ttf", std::string(4000, 'x'));
    testsup::setup_box(root, sim::fb_config{.xres = 720, .yres = 576});
    int ok = 1;
    std::string out = testsup::capture_output([&] { ok = testsup::open_display(); });
    EXPECT_EQ(ok, 0);
    EXPECT_NE(out.find("Chyba otevirani fontu '/var/tuxbox/Tresk/Tresk.ttf' -> 2\n"
                       "fb_init: FTC_Manager_Lookup_Face:  2\n"),
              std::string::npos)
        << out;
    testsup::close_display();
}

TEST(FontSetup, ZoomChangeSetsTheBackBufferSize) {
    text_display d;
    ASSERT_TRUE(d.ok());
    zoom = 3;
    fb_font_set_zoom();
    EXPECT_EQ(ft_type_bb.width, 26u);
    EXPECT_EQ(ft_type_bb.height, 32u);
    ref_face ref;
    ref.size(26, 32);
    EXPECT_EQ(fb_draw_char(1, 'W', 10, 40, 700, -1), ref.glyph('W').advance);
    zoom = 7;
    fb_font_set_zoom();
    ref.size(30, 40);
    last_glyph_bb = 0;
    EXPECT_EQ(fb_draw_char(1, 'W', 10, 40, 700, -1), ref.glyph('W').advance);
}

TEST(Glyph, FitTestBoundaryAndMeasureOnly) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(20, 24);
    const int adv = ref.glyph('A').advance;
    ASSERT_GT(adv, 0);
    // At x = 100 a glyph of advance adv needs a limit beyond 100 + adv.
    EXPECT_EQ(fb_draw_char(0, 'A', 100, 100, 100 + adv, 7), -1);
    EXPECT_EQ(fb_draw_char(0, 'A', 100, 100, 100 + adv, -1), -1);
    EXPECT_EQ(count_not(d.screen(), 0), 0);
    last_glyph_fb = 0;
    EXPECT_EQ(fb_draw_char(0, 'A', 100, 100, 101 + adv, -1), adv);
    EXPECT_EQ(count_not(d.screen(), 0), 0);  // measuring draws nothing
    last_glyph_fb = 0;
    EXPECT_EQ(fb_draw_char(0, 'A', 100, 100, 101 + adv, 7), adv);
    EXPECT_GT(count_not(d.screen(), 0), 0);
}

TEST(Glyph, ScreenGlyphHasItsPixelsAndNoOutline) {
    text_display d;
    ASSERT_TRUE(d.ok());
    background_level = 0;  // the outline belongs to the back buffer only
    ref_face ref;
    ref.size(20, 24);
    for (uint32_t c : {0x41u, 0x67u, 0x57u, 0xE9u}) {  // A g W é
        d.clear();
        ref_glyph g = ref.glyph(c);
        EXPECT_EQ(fb_draw_char(0, c, 200, 300, 700, 3), g.advance);
        std::vector<uint32_t> want(d.screen().size(), 0);
        literal(want, static_cast<int>(px_per_line), g, 200 + g.left, 300 - g.top, kDim[3], false,
                0);
        EXPECT_TRUE(d.screen() == want) << "code " << c;
    }
}

TEST(Glyph, BackBufferOutlineFollowsTheRuleAndTheBackground) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(18, 22);  // zoom 1
    ref_glyph g = ref.glyph('g');
    const int stride = static_cast<int>(px_per_line);
    const int x = 100, y = 40;

    background_level = 0;
    // A neighbour's pixel and a background pixel inside the outline square stay.
    d.bb(x + g.left - 2, y - g.top) = 0x12345678;
    d.bb(x + g.left + g.width + 1, y - g.top + 1) = 0x0badcafe;
    std::vector<uint32_t> want = d.back();
    literal(want, stride, g, x + g.left, y - g.top, kDim[2], true, kDim[0]);
    EXPECT_EQ(fb_draw_char(1, 'g', x, y, 700, 2), g.advance);
    EXPECT_TRUE(d.back() == want);
    EXPECT_EQ(d.bb(x + g.left - 2, y - g.top), 0x12345678u);
    EXPECT_EQ(d.bb(x + g.left + g.width + 1, y - g.top + 1), 0x0badcafeu);
    EXPECT_EQ(count_not(d.screen(), 0), 0);

    for (int t : {1, 2}) {
        d.clear();
        background_level = t;
        std::vector<uint32_t> only(d.back().size(), 0);
        literal(only, stride, g, x + g.left, y - g.top, kDim[2], false, 0);
        fb_draw_char(1, 'g', x, y, 700, 2);
        EXPECT_TRUE(d.back() == only) << "transp " << t;
    }
}

TEST(Glyph, SinglePixelGetsAFiveByFiveBlock) {
    std::vector<uint32_t> buf(40 * 30, 0);
    const uint8_t one = 0x80;
    fb_bitmap b{&one, 1, 1, 1, FT_PIXEL_MODE_MONO, 1};
    buf[9 * 40 + 12] = 0x55;  // already set: kept
    fb_draw_bitmap(buf, 40, b, 10, 10, 0xff00ff00, true, 0xff000000);
    for (int r = 0; r < 30; ++r) {
        for (int c = 0; c < 40; ++c) {
            uint32_t want = 0;
            if (r >= 8 && r <= 12 && c >= 8 && c <= 12) want = 0xff000000;
            if (r == 10 && c == 10) want = 0xff00ff00;
            if (r == 9 && c == 12) want = 0x55;
            EXPECT_EQ(buf[r * 40 + c], want) << c << "," << r;
        }
    }
}

// The fast outline against the literal rule, byte for byte: every printable glyph
// at every zoom size, drawn as overlapping runs over partly filled buffers, near
// and across every edge.
TEST(Glyph, FastOutlineMatchesTheLiteralRuleOnRealGlyphs) {
    ref_face ref;
    std::mt19937 rng(12345);
    std::vector<uint32_t> codes;
    for (uint32_t c = 0x21; c < 0x7F; ++c) codes.push_back(c);
    for (uint32_t c : {0xE9u, 0xC4u, 0xDFu, 0x20ACu, 0x141u, 0x17Du, 0x2014u, 0x40u}) {
        codes.push_back(c);
    }
    const int stride = 96, rows = 70;
    int compared = 0;
    for (auto [h, w] : kSizes) {
        ref.size(w, h);
        std::vector<ref_glyph> glyphs;
        std::vector<packed> packs;
        for (uint32_t c : codes) glyphs.push_back(ref.glyph(c));
        for (const ref_glyph& g : glyphs) packs.push_back(pack(g, static_cast<int>(rng() % 2)));
        for (int run = 0; run < 40; ++run) {
            std::vector<uint32_t> fast(stride * rows, 0);
            for (auto& p : fast) {
                if (rng() % 7 == 0) p = 0xA0000000u | (rng() & 0xFFFFFF);
            }
            std::vector<uint32_t> slow = fast;
            int x = static_cast<int>(rng() % (stride + 40)) - 30;
            int y = static_cast<int>(rng() % (rows + 40)) - 10;
            for (int k = 0; k < 6; ++k) {
                size_t i = rng() % glyphs.size();
                const ref_glyph& g = glyphs[i];
                uint32_t colour = 0xff000000u | (rng() & 0xFFFFFF);
                fb_draw_bitmap(fast, stride, packs[i].b, x + g.left, y - g.top, colour, true,
                               kDim[0]);
                literal(slow, stride, g, x + g.left, y - g.top, colour, true, kDim[0]);
                ASSERT_TRUE(fast == slow)
                    << "size " << h << " glyph " << codes[i] << " at " << x << "," << y;
                ++compared;
                // Neighbours overlap: the next pen is short of this glyph's advance.
                x += std::max(1, g.advance - static_cast<int>(rng() % 6));
            }
        }
    }
    EXPECT_EQ(compared, 8 * 40 * 6);
}

// Random bitmaps up to the widest a cache delivers, so that rows span several
// 64-bit words and the outline crosses word boundaries; also colours the literal
// rule treats specially (glyph colour 0, outline colour 0).
TEST(Glyph, FastOutlineMatchesTheLiteralRuleOnRandomBitmaps) {
    std::mt19937 rng(777);
    const int stride = 300, rows = 80;
    for (int run = 0; run < 300; ++run) {
        int width = 1 + static_cast<int>(rng() % 255);
        int height = 1 + static_cast<int>(rng() % 60);
        int density = static_cast<int>(rng() % 60);
        ref_glyph g = random_glyph(rng, width, height, density);
        packed p = pack(g, static_cast<int>(rng() % 3), static_cast<uint8_t>(rng()));
        std::vector<uint32_t> fast(stride * rows, 0);
        for (auto& px : fast) {
            if (rng() % 5 == 0) px = static_cast<uint32_t>(rng()) | 1;
        }
        std::vector<uint32_t> slow = fast;
        int x = static_cast<int>(rng() % (stride + 60)) - 40 - width / 2;
        int y = static_cast<int>(rng() % (rows + 20)) - 10 - height / 2;
        uint32_t colour = run % 10 == 0 ? 0 : 0xff000000u | (rng() & 0xFFFFFF);
        uint32_t outline = run % 13 == 0 ? 0 : kDim[0];
        bool with_outline = run % 4 != 3;
        fb_draw_bitmap(fast, stride, p.b, x, y, colour, with_outline, outline);
        literal(slow, stride, g, x, y, colour, with_outline, outline);
        ASSERT_TRUE(fast == slow) << "run " << run << " " << width << "x" << height << " at " << x
                                  << "," << y;
    }
}

TEST(Glyph, GreyBitmapsAreThresholdedAtHalfTheirRange) {
    auto draw = [](const std::vector<uint8_t>& data, int width, int pitch, uint8_t format,
                   uint8_t max) {
        std::vector<uint32_t> buf(20 * 10, 0);
        fb_bitmap b{data.data(), width, 1, pitch, format, max};
        fb_draw_bitmap(buf, 20, b, 2, 5, 7, false, 0);
        std::string row;
        for (int c = 2; c < 2 + width; ++c) row += buf[5 * 20 + c] == 7 ? '#' : '.';
        return row;
    };
    EXPECT_EQ(draw({0, 127, 128, 255, 1}, 5, 5, FT_PIXEL_MODE_GRAY, 255), "..##.");
    // 2 bits per pixel: 0 1 2 3, then 3 2 1 0.
    EXPECT_EQ(draw({0x1B, 0xE4}, 8, 2, FT_PIXEL_MODE_GRAY2, 3), "..####..");
    // 4 bits per pixel: 7 8 15 0.
    EXPECT_EQ(draw({0x78, 0xF0}, 4, 2, FT_PIXEL_MODE_GRAY4, 15), ".##.");
    // Colour: the alpha byte decides.
    EXPECT_EQ(draw({9, 9, 9, 0x7F, 0, 0, 0, 0x80, 1, 2, 3, 0xFF}, 3, 12, FT_PIXEL_MODE_BGRA, 255),
              ".##");
    // LCD bitmaps have three values per pixel and no grid of their own: nothing.
    EXPECT_EQ(draw({255, 255, 255, 255, 255, 255}, 6, 6, FT_PIXEL_MODE_LCD, 255), "......");

    // The outline of a thresholded bitmap is that of its 1-bit form.
    std::vector<uint8_t> grey = {0, 200, 0, 90, 255, 130};
    fb_bitmap gb{grey.data(), 3, 2, 3, FT_PIXEL_MODE_GRAY, 255};
    ref_glyph mono;
    mono.width = 3;
    mono.rows = 2;
    mono.bits = {0, 1, 0, 0, 1, 1};
    std::vector<uint32_t> a(30 * 20, 0), b(30 * 20, 0);
    fb_draw_bitmap(a, 30, gb, 10, 8, 5, true, 9);
    literal(b, 30, mono, 10, 8, 5, true, 9);
    EXPECT_TRUE(a == b);
}

TEST(Glyph, NothingIsWrittenOutsideTheBuffers) {
    text_display d;
    ASSERT_TRUE(d.ok());
    background_level = 0;
    ref_face ref;
    ref.size(20, 24);
    const int stride = static_cast<int>(px_per_line);
    const int rows = static_cast<int>(fb_fix.smem_len / fb_fix.line_length);
    // A tall glyph on the first line loses its top rows; one at the right edge its
    // right columns, which never reappear at the start of the next line.
    ref_glyph big = ref.glyph(0xC4);  // Ä
    fb_draw_char(0, 0xC4, 10, 5, 100000, 7);
    std::vector<uint32_t> want(d.screen().size(), 0);
    literal(want, stride, big, 10 + big.left, 5 - big.top, kDim[7], false, 0);
    EXPECT_TRUE(d.screen() == want);

    d.clear();
    fb_draw_char(0, 'W', stride - 6, 300, 100000, 7);
    for (int r = 250; r < 320; ++r) {
        for (int c = 0; c < 20; ++c) EXPECT_EQ(d.px(c, r), 0u) << c << "," << r;
    }
    EXPECT_GT(count_not(d.screen(), 0), 0);

    d.clear();
    fb_draw_char(0, 'g', 100, rows + 3, 100000, 7);  // the descender would be below the end
    fb_draw_char(0, 'g', -3, 100, 100000, 7);
    fb_draw_char(0, 'g', -1000, -1000, 100000, 7);

    // The back buffer with its outline: its top line, its bottom line, both ends.
    ref.size(18, 22);
    const int bb_rows = bbuf_size / static_cast<int>(fb_fix.line_length);
    d.clear();
    fb_draw_char(1, 'W', stride - 8, bb_rows + 4, 100000, 3);
    last_glyph_bb = 0;
    fb_draw_char(1, 0xC4, 1, 3, 100000, 3);
    std::vector<uint32_t> want_bb(d.back().size(), 0);
    ref_glyph w = ref.glyph('W');
    ref_glyph a = ref.glyph(0xC4);
    literal(want_bb, stride, w, stride - 8 + w.left, bb_rows + 4 - w.top, kDim[3], true, kDim[0]);
    literal(want_bb, stride, a, 1 + a.left, 3 - a.top, kDim[3], true, kDim[0]);
    EXPECT_TRUE(d.back() == want_bb);
    EXPECT_EQ(count_not(d.screen(), 0), 0);
}

TEST(Glyph, MissingGlyphPrintsItsCodeAndTakesNoRoom) {
    text_display d;
    ASSERT_TRUE(d.ok());
    int32_t r = -5;
    // U+4E41 is not in DejaVu Sans; %c shows its low byte, 'A'.
    std::string out =
        testsup::capture_output([&] { r = fb_draw_char(0, 0x4E41, 100, 100, 700, 7); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(out, "Chyba FT_Get_Char_Index: \"A\" - 4E41\n");
    EXPECT_EQ(count_not(d.screen(), 0), 0);
}

TEST(Glyph, KernsAgainstThePreviousGlyphOfTheTarget) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(20, 24);
    const int k = ref.kerning('T', 'o');
    ASSERT_LT(k, 0);  // DejaVu Sans kerns "To"
    ref_glyph t = ref.glyph('T');
    ref_glyph o = ref.glyph('o');
    const int x = 100, y = 200;
    EXPECT_EQ(fb_draw_char(0, 'T', x, y, 700, 7), t.advance);
    const int x2 = x + t.advance;
    // The fit test leaves kerning out: the pen before kerning plus the advance.
    EXPECT_EQ(fb_draw_char(0, 'o', x2, y, x2 + o.advance, 7), -1);
    EXPECT_EQ(fb_draw_char(0, 'o', x2, y, x2 + o.advance + 1, 7), o.advance + k);
    std::vector<uint32_t> want(d.screen().size(), 0);
    const int stride = static_cast<int>(px_per_line);
    literal(want, stride, t, x + t.left, y - t.top, kDim[7], false, 0);
    literal(want, stride, o, x2 + k + o.left, y - o.top, kDim[7], false, 0);
    EXPECT_TRUE(d.screen() == want);

    // Each target remembers its own last glyph: a glyph in the back buffer between
    // 'T' and 'o' on the screen does not take the kerning away.
    d.clear();
    last_glyph_fb = 0;
    last_glyph_bb = 0;
    fb_draw_char(0, 'T', x, y, 700, 7);
    fb_draw_char(1, 'x', 10, 40, 700, 7);
    EXPECT_EQ(fb_draw_char(0, 'o', x2, y, 700, 7), o.advance + k);
}

// Kerning must be that of the size being drawn, whatever was drawn before: the
// cache switches the face's active size only when it renders a glyph it lacks.
TEST(Glyph, KerningIsAlwaysThatOfTheSizeDrawn) {
    text_display d;
    ASSERT_TRUE(d.ok());
    ref_face ref;
    ref.size(20, 24);
    const int k_screen = ref.kerning('T', 'o');
    ref.size(18, 22);
    const int k_sub = ref.kerning('T', 'o');
    ASSERT_NE(k_screen, k_sub);  // otherwise this case shows nothing

    auto kern = [](uint8_t target) {
        relaxed<uint32_t>& last = target == 1 ? last_glyph_bb : last_glyph_fb;
        last = 0;
        fb_draw_char(target, 'T', 100, 40, 700, 7);
        int32_t with = fb_draw_char(target, 'o', 130, 40, 700, 7);
        last = 0;
        int32_t alone = fb_draw_char(target, 'o', 130, 40, 700, 7);
        return with - alone;
    };
    EXPECT_EQ(kern(0), k_screen);  // renders both at the screen size
    EXPECT_EQ(kern(1), k_sub);     // renders both at the subtitle size
    EXPECT_EQ(kern(0), k_screen);  // both cached: no render switches the size
    EXPECT_EQ(kern(1), k_sub);
    EXPECT_EQ(kern(0), k_screen);
}

// Advances and kerning are kept between paints; a display brought up with another
// font must measure with that font, not with the figures of the one before.
TEST(Glyph, KeptFiguresGoWithTheFont) {
    const std::string sans = testsup::dejavu_sans(), condensed = testsup::dejavu_condensed();
    ref_face wide(sans), narrow(condensed);
    wide.size(20, 24);
    narrow.size(20, 24);
    ASSERT_NE(wide.glyph('o').advance, narrow.glyph('o').advance);  // else this shows nothing
    for (const std::string& font : {sans, condensed, sans}) {
        text_display d(font);
        ASSERT_TRUE(d.ok());
        ref_face ref(font);
        ref.size(20, 24);
        const int t = ref.glyph('T').advance;
        const int o = ref.glyph('o').advance;
        for (int pass = 0; pass < 2; ++pass) {  // the second one from the kept figures
            last_glyph_fb = 0;
            EXPECT_EQ(fb_draw_char(0, 'T', 100, 40, 700, -1), t) << font;
            EXPECT_EQ(fb_draw_char(0, 'o', 130, 40, 700, -1), o + ref.kerning('T', 'o')) << font;
        }
    }
}
