// The subtitle painter on the simulated box with the real font: line positions,
// centring, colours, the copy to the band positions, the end-of-part stop, the
// three style changes with their repaint rules, what a paint costs (no font file
// reads for glyphs drawn before, a screen equal to a full clear and copy), and lines
// too wide for the band broken into screen lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "fb/text.h"
#include "tests/support/painter_support.h"
#include "tests/support/support.h"
#include "tests/support/text_support.h"
#include "tmr/clock.h"

namespace {

using testsup::bb_find;
using testsup::make_record;
using testsup::screen_shows_bb_at;
using testsup::target_line;

uint32_t colour(int i) {
    return palette.load()[i];
}

std::string utf8(uint32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// A film's worth of different characters, 24 to a line, two lines to a subtitle:
// ASCII, Latin-1 and Latin Extended-A.
std::vector<subtitle> film() {
    std::vector<uint32_t> codes;
    for (uint32_t c = 0x21; c < 0x7F; ++c) codes.push_back(c);
    for (uint32_t c = 0xC0; c < 0x180; ++c) codes.push_back(c);
    std::vector<std::string> lines;
    for (size_t i = 0; i < codes.size(); i += 24) {
        std::string line;
        for (size_t j = i; j < std::min(codes.size(), i + 24); ++j) line += utf8(codes[j]);
        lines.push_back(line);
    }
    std::vector<subtitle> records;
    for (size_t i = 0; i + 1 < lines.size(); i += 2) {
        records.push_back(make_record({lines[i].c_str(), lines[i + 1].c_str()}, 0));
    }
    return records;
}

// One step of a scenario and whether it paints the subtitle.
struct step {
    std::function<void()> run;
    bool paints;
};

// The screen a full paint leaves: the band cleared, then the whole back buffer copied
// to the target of the position, as far as the mapping reaches.
void full_clear_and_copy() {
    std::lock_guard lock(pixel_mutex);
    std::span<uint32_t> px = fb_pixels(0);
    char* mem = reinterpret_cast<char*>(px.data());
    const int64_t size = static_cast<int64_t>(px.size_bytes());
    const int64_t from = std::clamp<int64_t>(band_start, 0, size);
    const int64_t end = std::clamp<int64_t>(int64_t{band_start} + band_size, from, size);
    std::memset(mem + from, 0, static_cast<size_t>(end - from));
    int64_t target =
        static_cast<int64_t>(reinterpret_cast<uintptr_t>(bb_targets[band_position].load()) -
                             reinterpret_cast<uintptr_t>(mem));
    int64_t source = 0;
    int64_t n = bbuf_size;
    if (target < 0) {
        source = -target;
        n += target;
        target = 0;
    }
    n = std::min(n, size - target);
    if (n > 0) {
        std::memcpy(mem + target, reinterpret_cast<const char*>(bbuf.get()) + source,
                    static_cast<size_t>(n));
    }
}

class Painter : public testing::Test {
  protected:
    void SetUp() override { start(); }
    // The state a first run starts in, whatever an earlier test or the settings file
    // left.
    void start() {
        inset_on = 0;
        band_position = 0;
        subtitle_shown = 0;
        painted_record = nullptr;
        testsup::setup_box(root_, {.xres = 720, .yres = 576});
        ASSERT_EQ(testsup::open_display(), 1);
        bottom_shift = 0;
        top_shift = 0;
        zoom = 1;
        background_level = 1;
        colour_scheme = 0;
        painting = 0;
        clock_running = 0;
        fb_font_set_zoom();
        fb_compute_band();
    }
    void TearDown() override { testsup::close_display(); }

    static std::vector<uint32_t> screen() {
        std::lock_guard lock(pixel_mutex);
        std::span<uint32_t> px = fb_pixels(0);
        return {px.begin(), px.end()};
    }

    // Fills the band on screen, so that what a paint (or its absence) does shows.
    static void fill_band() { fb_fill(0, 0, sy + 32, 719, ey - sy - 32, 5); }
    static bool band_filled() {
        return testsup::pixel(0, sy + 32) == colour(5) && testsup::pixel(0, ey - 1) == colour(5);
    }

    testsup::box_root root_;
};

TEST_F(Painter, BottomPositionPushesTheLinesDown) {
    subtitle t = make_record({"Hallo"}, 0);
    fb_paint_subtitle(&t);
    EXPECT_EQ(subtitle_shown, 1);
    EXPECT_EQ(painted_record.load(), &t);
    EXPECT_EQ(band_position, 0);
    // The background box starts h - 1 rows above the baseline h + 3 L.
    const int32_t l = line_heights[1];
    testsup::bb_bounds box = bb_find(colour(11));
    ASSERT_FALSE(box.empty());
    EXPECT_EQ(box.top, 3 * l + 1);
    EXPECT_EQ(box.bottom, 3 * l + 1 + l - 3 - 1);
    EXPECT_TRUE(screen_shows_bb_at(target_line(0)));
    EXPECT_EQ(target_line(0), 526 - 4 * l - 30);
}

TEST_F(Painter, TopPositionStartsAtTheTop) {
    subtitle t = make_record({"Hallo"}, 0x100);
    fb_paint_subtitle(&t);
    EXPECT_EQ(band_position, 1);
    testsup::bb_bounds box = bb_find(colour(11));
    ASSERT_FALSE(box.empty());
    EXPECT_EQ(box.top, 1);
    EXPECT_EQ(target_line(1), 82);
    EXPECT_TRUE(screen_shows_bb_at(82));
    // Nothing of it at the bottom position.
    EXPECT_EQ(testsup::pixel(box.left, target_line(0) + 1), 0u);
}

TEST_F(Painter, LinesAreCentredInTheField) {
    for (const char* s : {"Hallo", "Een veel langere regel met tekst", ""}) {
        subtitle t = make_record({s}, 0x100);
        fb_paint_subtitle(&t);
        testsup::bb_bounds box = bb_find(colour(11));
        ASSERT_FALSE(box.empty()) << s;
        // The box spans x .. x + m + 1 for a text measured at m pixels.
        int32_t m = box.right - box.left - 1;
        EXPECT_EQ(box.left, 41 + (628 - m) / 2) << s;
    }
}

TEST_F(Painter, FourLinesTakeTheirColoursFromTheScheme) {
    background_level = 2;  // an opaque black box: the glyphs are the only other colour
    subtitle t = make_record({"Aa", "Bb", "Cc", "Dd"}, 0x1B);
    const int32_t l = line_heights[1];
    const int kSchemes[4][4] = {{2, 6, 7, 3}, {2, 6, 3, 7}, {3, 7, 2, 6}, {7, 3, 6, 2}};
    for (int schema = 0; schema < 4; ++schema) {
        colour_scheme = schema;
        fb_paint_subtitle(&t);
        for (int i = 0; i < 4; ++i) {
            std::set<uint32_t> v = testsup::bb_values(i * l, (i + 1) * l);
            v.erase(0);
            v.erase(colour(0));
            EXPECT_EQ(v, std::set<uint32_t>{colour(kSchemes[schema][i])}) << schema << " " << i;
        }
    }
}

TEST_F(Painter, OutlineWithoutBackground) {
    background_level = 0;
    subtitle t = make_record({"I"}, 0x100);
    fb_paint_subtitle(&t);
    EXPECT_TRUE(bb_find(colour(11)).empty());
    testsup::bb_bounds glyph_rows = bb_find(colour(3));
    testsup::bb_bounds outline = bb_find(colour(0));
    ASSERT_FALSE(glyph_rows.empty());
    EXPECT_EQ(outline.left, glyph_rows.left - 2);
    EXPECT_EQ(outline.right, glyph_rows.right + 2);
    EXPECT_EQ(outline.top, glyph_rows.top - 2);
    EXPECT_EQ(outline.bottom, glyph_rows.bottom + 2);
}

TEST_F(Painter, ClearsTheBandAndTheBackBufferFirst) {
    subtitle long_record = make_record({"Eerste", "Tweede", "Derde", "Vierde"}, 0);
    subtitle short_record = make_record({"x"}, 0x100);
    fb_paint_subtitle(&long_record);
    fill_band();
    fb_paint_subtitle(&short_record);
    EXPECT_EQ(testsup::pixel(0, ey - 1), 0u);
    EXPECT_EQ(testsup::pixel(0, sy + 32), 0u);
    // Only the short line is left in the back buffer.
    testsup::bb_bounds box = bb_find(colour(11));
    EXPECT_LT(box.bottom, line_heights[1]);
}

TEST_F(Painter, EndOfPartStopsTheClockAndAsksToGoOn) {
    subtitle t = make_record({"Einde deel 1"}, 0x200);
    clock_running = 1;
    status_countdown = -1;
    fb_paint_subtitle(&t);
    EXPECT_EQ(clock_running, 0);
    EXPECT_EQ(status_countdown, 100);
    EXPECT_EQ(testsup::pixel(sx + 1, sy), colour(7));
    EXPECT_TRUE(screen_shows_bb_at(target_line(0)));

    subtitle plain_record = make_record({"Verder"}, 0);
    clock_running = 1;
    status_countdown = -1;
    fb_paint_subtitle(&plain_record);
    EXPECT_EQ(clock_running, 1);
    EXPECT_EQ(status_countdown, -1);
}

TEST_F(Painter, RestyleOfAnEndOfPartSubtitleDoesNotStopTheClockAgain) {
    subtitle t = make_record({"Einde deel 1"}, 0x200);
    fb_paint_subtitle(&t);
    ASSERT_EQ(clock_running, 0);
    // The viewer goes on while the subtitle is still on screen, then restyles it.
    clock_running = 1;
    fb_next_colour_scheme();
    fb_next_background();
    EXPECT_EQ(clock_running, 1);
    EXPECT_EQ(painted_record.load(), &t);
    EXPECT_TRUE(screen_shows_bb_at(target_line(0))) << "the subtitle was repainted";
}

TEST_F(Painter, OddRecordsStayInsideTheBuffers) {
    subtitle no_lines = make_record({}, 0);
    fb_paint_subtitle(&no_lines);
    subtitle too_many = make_record({"a", "b", "c", "d"}, 0);
    too_many.line_count = 9;
    fb_paint_subtitle(&too_many);
    subtitle blank_lines{};
    blank_lines.line_count = 2;  // lines without texts
    fb_paint_subtitle(&blank_lines);
    EXPECT_EQ(painted_record.load(), &blank_lines);
    fb_paint_subtitle(nullptr);
    EXPECT_EQ(painted_record.load(), &blank_lines);
}

// ---------------------------------------------------------------- styles

TEST_F(Painter, ColourSchemeCyclesAndRepaints) {
    subtitle t = make_record({"Kleur"}, 0x100);
    fb_paint_subtitle(&t);
    const int kSchemeColours[4] = {3, 7, 6, 2};
    for (int i = 1; i <= 4; ++i) {
        fb_next_colour_scheme();
        EXPECT_EQ(colour_scheme, i & 3);
        EXPECT_FALSE(bb_find(colour(kSchemeColours[i & 3])).empty()) << i;
        EXPECT_TRUE(screen_shows_bb_at(82));
    }
}

TEST_F(Painter, BackgroundCyclesOneTwoZero) {
    subtitle t = make_record({"Achter"}, 0x100);
    fb_paint_subtitle(&t);
    fb_next_background();
    EXPECT_EQ(background_level, 2);
    EXPECT_TRUE(bb_find(colour(11)).empty());
    EXPECT_FALSE(bb_find(colour(0)).empty());
    fb_next_background();
    EXPECT_EQ(background_level, 0);
    fb_next_background();
    EXPECT_EQ(background_level, 1);
    EXPECT_FALSE(bb_find(colour(11)).empty());
}

TEST_F(Painter, ZoomCyclesAndRepaintsAtTheNewSize) {
    subtitle t = make_record({"Groot"}, 0);
    fb_paint_subtitle(&t);
    for (int i = 0; i < 8; ++i) {
        int32_t before = zoom;
        fb_next_zoom();
        EXPECT_EQ(zoom, (before + 1) % 8);
        EXPECT_EQ(ft_type_bb.height, static_cast<FT_UInt>(font_sizes[zoom][0]));
        EXPECT_EQ(ft_type_bb.width, static_cast<FT_UInt>(font_sizes[zoom][1]));
        const int32_t l = line_heights[zoom];
        EXPECT_EQ(bottom_target_max, 2880 * (526 - 4 * l - 30));
        EXPECT_EQ(bb_find(colour(11)).top, 3 * l + 1) << zoom;
        EXPECT_TRUE(screen_shows_bb_at(526 - 4 * l - 30));
    }
    EXPECT_EQ(zoom, 1);
}

TEST_F(Painter, StyleChangesWithNothingOnScreenOnlyChangeTheState) {
    subtitle t = make_record({"Weg"}, 0);
    fb_paint_subtitle(&t);
    fb_clear_subtitle();
    fill_band();
    status_countdown = -1;
    fb_next_colour_scheme();
    fb_next_background();
    fb_next_zoom();
    EXPECT_EQ(colour_scheme, 1);
    EXPECT_EQ(background_level, 2);
    EXPECT_EQ(zoom, 2);
    EXPECT_EQ(ft_type_bb.height, static_cast<FT_UInt>(font_sizes[2][0]));
    EXPECT_EQ(bottom_target_max, 2880 * (526 - 4 * line_heights[2] - 30));
    EXPECT_EQ(status_countdown, 100);  // the zoom digit was redrawn
    EXPECT_TRUE(band_filled());
    EXPECT_EQ(subtitle_shown, 0);
}

TEST_F(Painter, NoRepaintFromAReleasedRecord) {
    subtitle t = make_record({"Oud"}, 0);
    fb_paint_subtitle(&t);
    fill_band();
    painted_record = nullptr;  // what the store does when it replaces the subtitles
    fb_next_colour_scheme();
    fb_next_background();
    fb_next_zoom();
    fb_shift_band(-1);
    fb_put_back_subtitle();
    EXPECT_TRUE(band_filled());
}

TEST_F(Painter, WhileTheThreadPaintsOnlyTheSchemeChanges) {
    subtitle t = make_record({"Bezig"}, 0);
    fb_paint_subtitle(&t);
    fill_band();
    painting = 1;
    fb_next_zoom();
    fb_next_background();
    fb_next_colour_scheme();
    painting = 0;
    EXPECT_EQ(zoom, 1);
    EXPECT_EQ(background_level, 1);
    EXPECT_EQ(colour_scheme, 1);
    EXPECT_TRUE(band_filled());
    // The next paint uses the new scheme.
    fb_paint_subtitle(&t);
    EXPECT_FALSE(bb_find(colour(7)).empty());
}

TEST_F(Painter, ZoomDropsAShiftTheBandCannotHold) {
    // At zoom 1 this shift fits; at zoom 2 the bottom target would leave the band.
    const int32_t l1 = line_heights[1], l2 = line_heights[2];
    const int32_t steps = (526 - 4 * l1 - 30 - 82 - 1) / 5;
    ASSERT_GE(5 * steps, 526 - 4 * l2 - 30 - 82);
    bottom_shift = 5 * steps * 2880;
    fb_compute_band();
    ASSERT_EQ(bottom_shift, 5 * steps * 2880);
    fb_next_zoom();
    EXPECT_EQ(bottom_shift, 0);
}

TEST_F(Painter, BandMovesRepaintAtTheNewPlace) {
    subtitle t = make_record({"Omhoog"}, 0);
    fb_paint_subtitle(&t);
    const int64_t before = target_line(0);
    fb_shift_band(-1);
    EXPECT_EQ(target_line(0), before - 5);
    EXPECT_TRUE(screen_shows_bb_at(before - 5));
    // The band moves with the subtitle painted last: a top one now.
    subtitle top_record = make_record({"Boven"}, 0x100);
    fb_paint_subtitle(&top_record);
    fb_shift_band(1);
    EXPECT_EQ(top_shift, 5 * 2880);
    EXPECT_EQ(bottom_shift, 5 * 2880);
    EXPECT_TRUE(screen_shows_bb_at(87));
    EXPECT_EQ(testsup::pixel(bb_find(colour(11)).left, 82 + 1), 0u);
}

TEST_F(Painter, InsetTogglePaintsInTheNewBand) {
    subtitle t = make_record({"Inzet"}, 0);
    fb_paint_subtitle(&t);
    fb_toggle_inset();
    const int32_t l = line_heights[1];
    EXPECT_EQ(target_line(0), 494 - 4 * l - 30);
    EXPECT_TRUE(screen_shows_bb_at(494 - 4 * l - 30));
    fb_toggle_inset();
    EXPECT_TRUE(screen_shows_bb_at(526 - 4 * l - 30));
}

TEST_F(Painter, InsetToggleClearsTheStatusLineAtTheOldPlace) {
    fb_show_status("Hallo");
    ASSERT_EQ(testsup::pixel(sx + 1, 50), colour(7));
    fb_toggle_inset();
    EXPECT_EQ(status_countdown, -1);
    EXPECT_EQ(testsup::pixel(sx + 1, 50), 0u);
    EXPECT_EQ(testsup::pixel(sx + 1, 81), 0u);
}

TEST_F(Painter, PaletteSwitchTwiceRestores) {
    const int8_t before = palette_index;
    fb_next_palette();
    EXPECT_EQ(palette_index, 1 - before);
    EXPECT_EQ(palette.load(), palettes[static_cast<size_t>(1 - before)].data());
    EXPECT_EQ(status_countdown, 100);
    fb_next_palette();
    EXPECT_EQ(palette_index, before);
    EXPECT_EQ(palette.load(), palettes[static_cast<size_t>(before)].data());
}

TEST_F(Painter, PaletteSwitchDoesNotRepaint) {
    subtitle t = make_record({"Licht"}, 0x100);
    fb_paint_subtitle(&t);
    uint32_t before = colour(3);
    fb_next_palette();
    EXPECT_FALSE(bb_find(before).empty());
    EXPECT_TRUE(bb_find(colour(3)).empty());
    fb_next_palette();
}

// Every subtitle of the film through a zoom sweep, with screen text, restyles and
// subtitles of other sizes in between: after the first paint of each glyph at each
// size, nothing reads the font file again.
TEST_F(Painter, CachedGlyphsAreNeverReadFromTheFontAgain) {
    // The font engine comes up on a heap full of garbage, as after other work.
    testsup::close_display();
    std::vector<void*> blocks;
    for (size_t size = 16; size <= 2048; size += 8) {
        for (int i = 0; i < 4; ++i) {
            void* b = std::malloc(size);
            if (b == nullptr) continue;
            std::memset(b, 0x5A, size);
            blocks.push_back(b);
        }
    }
    for (void* b : blocks) std::free(b);
    start();
    std::vector<subtitle> records = film();
    ASSERT_GE(records.size(), 5u);
    auto sweep = [&](bool reversed) {
        for (int step = 0; step < 8; ++step) {
            fb_next_zoom();  // also draws the zoom digit at the screen size
            for (size_t i = 0; i < records.size(); ++i) {
                fb_paint_subtitle(&records[reversed ? records.size() - 1 - i : i]);
                if (i % 3 == 0) fb_next_background();
                if (i % 4 == 0) fb_next_colour_scheme();
            }
            // Menus and the status line draw the same characters at the screen size.
            for (const subtitle& t : records)
                fb_draw_string(t.lines[0].get(), 0, 60, 300, 0, 600, 7);
            fb_show_status(records[static_cast<size_t>(step) % records.size()].lines[1].get());
        }
    };
    sweep(false);
    const long first = sim::file_reads();
    EXPECT_GT(first, 0) << "the font is read through the device layer";
    sweep(true);
    EXPECT_EQ(sim::file_reads(), first);
}

// A long evening of varied subtitles, styles, positions, zooms, inset, band moves,
// clears and boxes drawn over the band; each screen must equal the one a full clear
// and full copy of the same record leaves.
TEST_F(Painter, EveryScreenEqualsAFullClearAndCopy) {
    std::vector<subtitle> records;
    records.push_back(
        make_record({"Dat had je niet moeten zeggen,", "want nu weet iedereen het."}, 0));
    records.push_back(make_record({"Ja."}, 0x1B));
    records.push_back(
        make_record({"Eerste", "Tweede", "Derde", "Vierde regel, lang en breed"}, 0x1B));
    // Its second line is broken into screen lines at the larger sizes.
    records.push_back(make_record(
        {"Boven", "aan het beeld, met een tweede regel die bij grote letters niet meer past"},
        0x100));
    records.push_back(make_record({"", "Lege regel erboven"}, 0x4));
    records.push_back(make_record({"ÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ gjpqy", "\x0e\x0f symbolen"}, 0x102));
    records.push_back(make_record({"Vier", "regels", "bovenaan", "het scherm"}, 0x1E4));
    std::vector<step> steps;
    auto paint = [&](size_t i) {
        return step{[&records, i] { fb_paint_subtitle(&records[i]); }, true};
    };
    const std::vector<step> restyles{
        {fb_next_zoom, true},
        {fb_next_background, true},
        {fb_next_colour_scheme, true},
        {[] { fb_shift_band(-1); }, true},
        {[] { fb_shift_band(+1); }, true},
        {fb_toggle_inset, true},
    };
    for (int round = 0; round < 60; ++round) {
        steps.push_back(paint(static_cast<size_t>(round * 5 % 7)));
        steps.push_back(paint(static_cast<size_t>((round * 3 + 1) % 7)));
        steps.push_back(restyles[static_cast<size_t>(round % 6)]);
        if (round % 4 == 1) steps.push_back(restyles[static_cast<size_t>((round / 4) % 6)]);
        if (round % 7 == 3) steps.push_back({fb_clear_subtitle, false});
        if (round % 9 == 5) {
            steps.push_back({[] { fb_fill(0, 10, sy + 40 + 13 * (sy % 7), 600, 50, 5); }, false});
        }
        if (round % 11 == 2) steps.push_back({fb_clear_subtitle, false});
    }

    std::vector<std::vector<uint32_t>> painted;
    for (const step& s : steps) {
        s.run();
        painted.push_back(screen());
    }
    testsup::close_display();
    start();
    for (size_t i = 0; i < steps.size(); ++i) {
        fb_forget_screen_rows();
        steps[i].run();
        if (steps[i].paints && subtitle_shown != 0) full_clear_and_copy();
        const std::vector<uint32_t> now = screen();
        const auto [a, b] = std::mismatch(now.begin(), now.end(), painted[i].begin());
        ASSERT_EQ(a, now.end()) << "step " << i << ", row " << (a - now.begin()) / px_per_line;
    }
}

}  // namespace

// ---------------------------------------------------------------- lines wider than the band

namespace {

// The width of the usable area main sets, less a pixel at either side.
constexpr int32_t kPole = 628;

std::vector<uint32_t> back_buffer() {
    std::lock_guard lock(pixel_mutex);
    std::span<uint32_t> px = fb_pixels(1);
    return {px.begin(), px.end()};
}

// The back buffer as the string drawer composes the record: each line whole in one
// screen line, clipped at the band's edge as menu texts are, in the line's colour.
std::vector<uint32_t> drawn_line_by_line(const subtitle& t) {
    fb_clear_back_buffer();
    const int32_t l = line_heights[zoom];
    const int32_t n = std::min(t.line_count, 4);
    int32_t y = font_sizes[zoom][0] + ((t.flags & 0x100) != 0 ? 0 : (4 - n) * l);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t colour = colour_schemes[static_cast<size_t>(colour_scheme & 3)]
                                             [static_cast<size_t>((t.flags >> (2 * i)) & 3)];
        fb_draw_string(t.lines[i].get(), 1, sx + 1, y, 1, kPole, static_cast<int8_t>(colour));
        y += l;
    }
    return back_buffer();
}

void set_zoom(int32_t z) {
    zoom = z;
    fb_font_set_zoom();
    fb_compute_band();
}

// The line colour set of screen line j of a subtitle painted at the top.
std::set<uint32_t> glyph_colours(int32_t j) {
    const int32_t l = line_heights[zoom];
    std::set<uint32_t> v = testsup::bb_values(j * l, (j + 1) * l);
    v.erase(0);
    v.erase(colour(0));
    return v;
}

const std::string kSentence = "Dat had je niet moeten zeggen, want nu weet iedereen het al.";
const std::string kLongLine =
    "Dit is een heel lange regel die bij de grootste letters op meer dan vier regels "
    "terecht zou komen, want hij gaat maar door en door over alles wat er die avond in "
    "het oude huis aan de haven gebeurde.";
const std::string kLongWord = "Hottentottententententoonstellingsterreinen";
const std::string kDoubleSpaces =
    "Twee  spaties  tussen  alle  woorden  van  deze  regel,  ook  hier.";

}  // namespace

// Lines that fit, and lines that cannot be broken (a word wider than the band, or no
// screen line left), look exactly as the string drawer draws them.
TEST_F(Painter, WhatNeedsNoBreakIsDrawnAsTheStringDrawerDrawsIt) {
    struct {
        std::vector<std::string> lines;
        int32_t flags, zoom, background_level;
    } const cases[] = {
        {{"Hallo"}, 0, 1, 1},
        {{"Dat had je niet moeten zeggen,", "want nu weet iedereen het."}, 0x0C, 3, 0},
        {{"Eerste", "Tweede", "Derde", "Vierde regel"}, 0x1E4, 7, 2},
        {{"\x0b\x02rood\x0c en \x0e\x0f symbolen", ""}, 0x4, 5, 1},
        {{kLongWord}, 0, 7, 1},
        {{kSentence, kSentence, kLongLine, kSentence}, 0x1B, 7, 2},
    };
    testsup::ref_face ref;
    for (const auto& c : cases) {
        set_zoom(c.zoom);
        background_level = c.background_level;
        ref.size(font_sizes[zoom][1], font_sizes[zoom][0]);
        if (c.lines[0].find(kLongWord) != std::string::npos) {
            ASSERT_GT(testsup::fit_width(ref, kLongWord), kPole) << "the word must be too wide";
        }
        subtitle t = make_record(c.lines, c.flags);
        const std::vector<uint32_t> expected = drawn_line_by_line(t);
        fb_paint_subtitle(&t);
        EXPECT_TRUE(back_buffer() == expected) << c.lines[0] << " at zoom " << c.zoom;
        EXPECT_TRUE(screen_shows_bb_at(target_line(band_position)));
    }
}

// A line wider than the band is broken at its last space that fits, into at most
// the four screen lines of the band; every line of the record keeps a screen line,
// and the last one a line may take is clipped at the edge. Each screen line is in
// the colour of its record line, at the position a record of those lines would have.
TEST_F(Painter, WideLinesBreakAtTheLastSpaceThatFits) {
    constexpr size_t kNoCut = SIZE_MAX;
    struct {
        std::vector<std::string> lines;
        int32_t flags, zoom;
        std::vector<size_t> screen_lines;  // of each record line
        size_t cut_line;                   // the line whose last screen line is clipped
    } const cases[] = {
        {{kSentence}, 0x2, 7, {2}, kNoCut},
        {{"Kort.", kSentence + " Echt waar."}, 0x100 | 0x1 | 0x8, 4, {1, 2}, kNoCut},
        {{kDoubleSpaces}, 0, 7, {2}, kNoCut},
        {{kSentence + " En nu weet ook de buurman het."}, 0x100, 7, {3}, kNoCut},
        {{kLongLine}, 0x3, 7, {4}, 0},
        {{kLongLine, "Tweede regel."}, 0x100 | 0x4, 7, {3, 1}, 0},
        {{"Een.", kLongLine, "Drie."}, 0x9, 6, {1, 2, 1}, 1},
    };
    testsup::ref_face ref;
    for (const auto& c : cases) {
        set_zoom(c.zoom);
        ref.size(font_sizes[zoom][1], font_sizes[zoom][0]);
        // The screen lines the record should take, each in its record line's colour.
        std::vector<std::string> expected_lines;
        int32_t expected_flags = c.flags & 0x100;
        for (size_t i = 0; i < c.lines.size(); ++i) {
            const std::string& line = c.lines[i];
            std::vector<std::string_view> pieces = testsup::break_at_spaces(ref, line, kPole);
            ASSERT_FALSE(pieces.empty()) << line;
            const size_t n = c.screen_lines[i];
            if (i == c.cut_line) {
                ASSERT_GT(pieces.size(), n) << line;
                pieces.resize(n);
                pieces[n - 1] = std::string_view(line).substr(
                    static_cast<size_t>(pieces[n - 1].data() - line.data()));
            } else {
                ASSERT_EQ(pieces.size(), n) << line;
            }
            for (std::string_view p : pieces) {
                expected_flags |= ((c.flags >> (2 * i)) & 3) << (2 * expected_lines.size());
                expected_lines.emplace_back(p);
            }
        }
        ASSERT_LE(expected_lines.size(), 4u);
        subtitle t = make_record(c.lines, c.flags);
        fb_paint_subtitle(&t);
        const std::vector<uint32_t> painted = back_buffer();
        EXPECT_TRUE(painted == drawn_line_by_line(make_record(expected_lines, expected_flags)))
            << c.lines[0] << " at zoom " << c.zoom << ", first screen line: " << expected_lines[0];
    }
}

// Turning the size up one step at a time, RED as the viewer presses it: every glyph
// stays inside the band, and the sentence takes more screen lines instead of losing
// its end.
TEST_F(Painter, TurningTheSizeUpKeepsTheEndOfTheSentence) {
    background_level = 2;
    subtitle t = make_record({kSentence.c_str()}, 0);
    fb_paint_subtitle(&t);
    testsup::ref_face ref;
    while (zoom != 7) {
        fb_next_zoom();
        ref.size(font_sizes[zoom][1], font_sizes[zoom][0]);
        const std::vector<std::string_view> pieces =
            testsup::break_at_spaces(ref, kSentence, kPole);
        std::vector<std::string> lines(pieces.begin(), pieces.end());
        const testsup::bb_bounds glyphs = bb_find(colour(3));
        ASSERT_FALSE(glyphs.empty());
        EXPECT_GT(glyphs.left, sx) << zoom;
        EXPECT_LT(glyphs.right, ex) << zoom;
        const int32_t l = line_heights[zoom];
        EXPECT_EQ(glyphs.top / l, 4 - static_cast<int32_t>(lines.size())) << zoom;
        EXPECT_TRUE(screen_shows_bb_at(target_line(0)));
        const std::vector<uint32_t> painted = back_buffer();
        EXPECT_TRUE(painted == drawn_line_by_line(make_record(lines, 0))) << zoom;
    }
    // At the largest size the sentence no longer fits one screen line.
    EXPECT_GE(testsup::break_at_spaces(ref, kSentence, kPole).size(), 2u);
}

// A word wider than the band is clipped at the edge, and the text after it goes on in
// the next screen line.
TEST_F(Painter, AWordWiderThanTheBandIsClippedAndTheTextGoesOn) {
    set_zoom(7);
    subtitle t = make_record({("Kijk: " + kLongWord + " is een woord.").c_str()}, 0x100);
    fb_paint_subtitle(&t);
    const std::vector<uint32_t> painted = back_buffer();
    EXPECT_TRUE(painted == drawn_line_by_line(
                               make_record({"Kijk:", kLongWord.c_str(), "is een woord."}, 0x100)));
}

// The pieces of a line keep its colour, and the inline colour codes keep working across
// the break: a code before it colours the text after it until its 0x0C.
TEST_F(Painter, BrokenLinesKeepTheirColours) {
    background_level = 2;
    set_zoom(7);
    testsup::ref_face ref;
    ref.size(font_sizes[zoom][1], font_sizes[zoom][0]);
    const std::string long_tail =
        " en dan gaat de tekst nog een hele tijd verder in deze kleur, over de hele breedte van "
        "het beeld, tot";
    struct {
        std::vector<std::string> lines;
        int32_t flags;
        std::vector<std::set<uint32_t>> colours;  // of each screen line
    } const cases[] = {
        {{kSentence}, 0x1, {{colour(7)}, {colour(7)}}},
        {{"\x0b\x02" + kSentence}, 0x1, {{colour(6)}, {colour(6)}}},
        {{"Begin\x0b\x02" + long_tail + " aan het eind\x0c."},
         0x1,
         {{colour(7), colour(6)}, {colour(6)}, {colour(6), colour(7)}}},
        // A code left open does not reach into the next line of the record.
        {{"\x0b\x03" + kSentence, "Tweede."}, 0x4, {{colour(2)}, {colour(2)}, {colour(7)}}},
    };
    for (const auto& c : cases) {
        // The text without its codes takes as many screen lines as the case says.
        std::string without_codes;
        for (size_t i = 0; i < c.lines[0].size(); ++i) {
            if (c.lines[0][i] == '\x0b') {
                ++i;
            } else if (c.lines[0][i] != '\x0c') {
                without_codes += c.lines[0][i];
            }
        }
        ASSERT_EQ(testsup::break_at_spaces(ref, without_codes, kPole).size() + c.lines.size() - 1,
                  c.colours.size())
            << without_codes;
        subtitle t = make_record(c.lines, c.flags | 0x100);
        fb_paint_subtitle(&t);
        for (size_t j = 0; j < 4; ++j) {
            const std::set<uint32_t> expected =
                j < c.colours.size() ? c.colours[j] : std::set<uint32_t>{};
            EXPECT_EQ(glyph_colours(static_cast<int32_t>(j)), expected)
                << without_codes << ", screen line " << j;
        }
    }
}
