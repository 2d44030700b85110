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

uint32_t barva(int i) {
    return paleta.load()[i];
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
std::vector<titulek> film() {
    std::vector<uint32_t> codes;
    for (uint32_t c = 0x21; c < 0x7F; ++c) codes.push_back(c);
    for (uint32_t c = 0xC0; c < 0x180; ++c) codes.push_back(c);
    std::vector<std::string> lines;
    for (size_t i = 0; i < codes.size(); i += 24) {
        std::string line;
        for (size_t j = i; j < std::min(codes.size(), i + 24); ++j) line += utf8(codes[j]);
        lines.push_back(line);
    }
    std::vector<titulek> records;
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
    std::lock_guard lock(znak_mutex);
    std::span<uint32_t> px = fb_pixely(0);
    char* mem = reinterpret_cast<char*>(px.data());
    const int64_t size = static_cast<int64_t>(px.size_bytes());
    const int64_t from = std::clamp<int64_t>(pas_od, 0, size);
    const int64_t end = std::clamp<int64_t>(int64_t{pas_od} + pas_delka, from, size);
    std::memset(mem + from, 0, static_cast<size_t>(end - from));
    int64_t target = static_cast<int64_t>(reinterpret_cast<uintptr_t>(bb_cil[pozice].load()) -
                                          reinterpret_cast<uintptr_t>(mem));
    int64_t source = 0;
    int64_t n = bbuf_delka;
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
        odsazeni = 0;
        pozice = 0;
        titulek_zobrazen = 0;
        akt_titulek = nullptr;
        testsup::setup_box(root_, {.xres = 720, .yres = 576});
        ASSERT_EQ(testsup::open_display(), 1);
        posun_dole = 0;
        posun_nahore = 0;
        zoom = 1;
        transp = 1;
        barva_tit = 0;
        kreslim = 0;
        bezi_timer = 0;
        fb_font_nastav_zoom();
        fb_prepocti_pas();
    }
    void TearDown() override { testsup::close_display(); }

    static std::vector<uint32_t> screen() {
        std::lock_guard lock(znak_mutex);
        std::span<uint32_t> px = fb_pixely(0);
        return {px.begin(), px.end()};
    }

    // Fills the band on screen, so that what a paint (or its absence) does shows.
    static void fill_band() { fb_vypln(0, 0, sy + 32, 719, ey - sy - 32, 5); }
    static bool band_filled() {
        return testsup::pixel(0, sy + 32) == barva(5) && testsup::pixel(0, ey - 1) == barva(5);
    }

    testsup::box_root root_;
};

TEST_F(Painter, BottomPositionPushesTheLinesDown) {
    titulek t = make_record({"Hallo"}, 0);
    fb_zobraz_titulek(&t);
    EXPECT_EQ(titulek_zobrazen, 1);
    EXPECT_EQ(akt_titulek.load(), &t);
    EXPECT_EQ(pozice, 0);
    // The background box starts h - 1 rows above the baseline h + 3 L.
    const int32_t l = vyska_radku[1];
    testsup::bb_bounds box = bb_find(barva(11));
    ASSERT_FALSE(box.empty());
    EXPECT_EQ(box.top, 3 * l + 1);
    EXPECT_EQ(box.bottom, 3 * l + 1 + l - 3 - 1);
    EXPECT_TRUE(screen_shows_bb_at(target_line(0)));
    EXPECT_EQ(target_line(0), 526 - 4 * l - 30);
}

TEST_F(Painter, TopPositionStartsAtTheTop) {
    titulek t = make_record({"Hallo"}, 0x100);
    fb_zobraz_titulek(&t);
    EXPECT_EQ(pozice, 1);
    testsup::bb_bounds box = bb_find(barva(11));
    ASSERT_FALSE(box.empty());
    EXPECT_EQ(box.top, 1);
    EXPECT_EQ(target_line(1), 82);
    EXPECT_TRUE(screen_shows_bb_at(82));
    // Nothing of it at the bottom position.
    EXPECT_EQ(testsup::pixel(box.left, target_line(0) + 1), 0u);
}

TEST_F(Painter, LinesAreCentredInTheField) {
    for (const char* s : {"Hallo", "Een veel langere regel met tekst", ""}) {
        titulek t = make_record({s}, 0x100);
        fb_zobraz_titulek(&t);
        testsup::bb_bounds box = bb_find(barva(11));
        ASSERT_FALSE(box.empty()) << s;
        // The box spans x .. x + m + 1 for a text measured at m pixels.
        int32_t m = box.right - box.left - 1;
        EXPECT_EQ(box.left, 41 + (628 - m) / 2) << s;
    }
}

TEST_F(Painter, FourLinesTakeTheirColoursFromTheScheme) {
    transp = 2;  // an opaque black box: the glyphs are the only other colour
    titulek t = make_record({"Aa", "Bb", "Cc", "Dd"}, 0x1B);
    const int32_t l = vyska_radku[1];
    const int kBarvy[4][4] = {{2, 6, 7, 3}, {2, 6, 3, 7}, {3, 7, 2, 6}, {7, 3, 6, 2}};
    for (int schema = 0; schema < 4; ++schema) {
        barva_tit = schema;
        fb_zobraz_titulek(&t);
        for (int i = 0; i < 4; ++i) {
            std::set<uint32_t> v = testsup::bb_values(i * l, (i + 1) * l);
            v.erase(0);
            v.erase(barva(0));
            EXPECT_EQ(v, std::set<uint32_t>{barva(kBarvy[schema][i])}) << schema << " " << i;
        }
    }
}

TEST_F(Painter, OutlineWithoutBackground) {
    transp = 0;
    titulek t = make_record({"I"}, 0x100);
    fb_zobraz_titulek(&t);
    EXPECT_TRUE(bb_find(barva(11)).empty());
    testsup::bb_bounds glyf = bb_find(barva(3));
    testsup::bb_bounds obrys = bb_find(barva(0));
    ASSERT_FALSE(glyf.empty());
    EXPECT_EQ(obrys.left, glyf.left - 2);
    EXPECT_EQ(obrys.right, glyf.right + 2);
    EXPECT_EQ(obrys.top, glyf.top - 2);
    EXPECT_EQ(obrys.bottom, glyf.bottom + 2);
}

TEST_F(Painter, ClearsTheBandAndTheBackBufferFirst) {
    titulek dlouhy = make_record({"Eerste", "Tweede", "Derde", "Vierde"}, 0);
    titulek kort = make_record({"x"}, 0x100);
    fb_zobraz_titulek(&dlouhy);
    fill_band();
    fb_zobraz_titulek(&kort);
    EXPECT_EQ(testsup::pixel(0, ey - 1), 0u);
    EXPECT_EQ(testsup::pixel(0, sy + 32), 0u);
    // Only the short line is left in the back buffer.
    testsup::bb_bounds box = bb_find(barva(11));
    EXPECT_LT(box.bottom, vyska_radku[1]);
}

TEST_F(Painter, EndOfPartStopsTheClockAndAsksToGoOn) {
    titulek t = make_record({"Einde deel 1"}, 0x200);
    bezi_timer = 1;
    infol = -1;
    fb_zobraz_titulek(&t);
    EXPECT_EQ(bezi_timer, 0);
    EXPECT_EQ(infol, 100);
    EXPECT_EQ(testsup::pixel(sx + 1, sy), barva(7));
    EXPECT_TRUE(screen_shows_bb_at(target_line(0)));

    titulek gewoon = make_record({"Verder"}, 0);
    bezi_timer = 1;
    infol = -1;
    fb_zobraz_titulek(&gewoon);
    EXPECT_EQ(bezi_timer, 1);
    EXPECT_EQ(infol, -1);
}

TEST_F(Painter, RestyleOfAnEndOfPartSubtitleDoesNotStopTheClockAgain) {
    titulek t = make_record({"Einde deel 1"}, 0x200);
    fb_zobraz_titulek(&t);
    ASSERT_EQ(bezi_timer, 0);
    // The viewer goes on while the subtitle is still on screen, then restyles it.
    bezi_timer = 1;
    fb_zmen_barvu_tit();
    fb_zmen_transp();
    EXPECT_EQ(bezi_timer, 1);
    EXPECT_EQ(akt_titulek.load(), &t);
    EXPECT_TRUE(screen_shows_bb_at(target_line(0))) << "the subtitle was repainted";
}

TEST_F(Painter, OddRecordsStayInsideTheBuffers) {
    titulek nic = make_record({}, 0);
    fb_zobraz_titulek(&nic);
    titulek moc = make_record({"a", "b", "c", "d"}, 0);
    moc.pocet_radku = 9;
    fb_zobraz_titulek(&moc);
    titulek prazdny{};
    prazdny.pocet_radku = 2;  // lines without texts
    fb_zobraz_titulek(&prazdny);
    EXPECT_EQ(akt_titulek.load(), &prazdny);
    fb_zobraz_titulek(nullptr);
    EXPECT_EQ(akt_titulek.load(), &prazdny);
}

// ---------------------------------------------------------------- styles

TEST_F(Painter, ColourSchemeCyclesAndRepaints) {
    titulek t = make_record({"Kleur"}, 0x100);
    fb_zobraz_titulek(&t);
    const int kKleur[4] = {3, 7, 6, 2};
    for (int i = 1; i <= 4; ++i) {
        fb_zmen_barvu_tit();
        EXPECT_EQ(barva_tit, i & 3);
        EXPECT_FALSE(bb_find(barva(kKleur[i & 3])).empty()) << i;
        EXPECT_TRUE(screen_shows_bb_at(82));
    }
}

TEST_F(Painter, BackgroundCyclesOneTwoZero) {
    titulek t = make_record({"Achter"}, 0x100);
    fb_zobraz_titulek(&t);
    fb_zmen_transp();
    EXPECT_EQ(transp, 2);
    EXPECT_TRUE(bb_find(barva(11)).empty());
    EXPECT_FALSE(bb_find(barva(0)).empty());
    fb_zmen_transp();
    EXPECT_EQ(transp, 0);
    fb_zmen_transp();
    EXPECT_EQ(transp, 1);
    EXPECT_FALSE(bb_find(barva(11)).empty());
}

TEST_F(Painter, ZoomCyclesAndRepaintsAtTheNewSize) {
    titulek t = make_record({"Groot"}, 0);
    fb_zobraz_titulek(&t);
    for (int i = 0; i < 8; ++i) {
        int32_t pred = zoom;
        fb_zmen_zoom();
        EXPECT_EQ(zoom, (pred + 1) % 8);
        EXPECT_EQ(ft_typ_bb.height, static_cast<FT_UInt>(velikosti_fontu[zoom][0]));
        EXPECT_EQ(ft_typ_bb.width, static_cast<FT_UInt>(velikosti_fontu[zoom][1]));
        const int32_t l = vyska_radku[zoom];
        EXPECT_EQ(pas_max, 2880 * (526 - 4 * l - 30));
        EXPECT_EQ(bb_find(barva(11)).top, 3 * l + 1) << zoom;
        EXPECT_TRUE(screen_shows_bb_at(526 - 4 * l - 30));
    }
    EXPECT_EQ(zoom, 1);
}

TEST_F(Painter, StyleChangesWithNothingOnScreenOnlyChangeTheState) {
    titulek t = make_record({"Weg"}, 0);
    fb_zobraz_titulek(&t);
    fb_smaz_titobr();
    fill_band();
    infol = -1;
    fb_zmen_barvu_tit();
    fb_zmen_transp();
    fb_zmen_zoom();
    EXPECT_EQ(barva_tit, 1);
    EXPECT_EQ(transp, 2);
    EXPECT_EQ(zoom, 2);
    EXPECT_EQ(ft_typ_bb.height, static_cast<FT_UInt>(velikosti_fontu[2][0]));
    EXPECT_EQ(pas_max, 2880 * (526 - 4 * vyska_radku[2] - 30));
    EXPECT_EQ(infol, 100);  // the zoom digit was redrawn
    EXPECT_TRUE(band_filled());
    EXPECT_EQ(titulek_zobrazen, 0);
}

TEST_F(Painter, NoRepaintFromAReleasedRecord) {
    titulek t = make_record({"Oud"}, 0);
    fb_zobraz_titulek(&t);
    fill_band();
    akt_titulek = nullptr;  // what the store does when it replaces the subtitles
    fb_zmen_barvu_tit();
    fb_zmen_transp();
    fb_zmen_zoom();
    fb_uprav_posun(-1);
    fb_prekresli_titulek();
    EXPECT_TRUE(band_filled());
}

TEST_F(Painter, WhileTheThreadPaintsOnlyTheSchemeChanges) {
    titulek t = make_record({"Bezig"}, 0);
    fb_zobraz_titulek(&t);
    fill_band();
    kreslim = 1;
    fb_zmen_zoom();
    fb_zmen_transp();
    fb_zmen_barvu_tit();
    kreslim = 0;
    EXPECT_EQ(zoom, 1);
    EXPECT_EQ(transp, 1);
    EXPECT_EQ(barva_tit, 1);
    EXPECT_TRUE(band_filled());
    // The next paint uses the new scheme.
    fb_zobraz_titulek(&t);
    EXPECT_FALSE(bb_find(barva(7)).empty());
}

TEST_F(Painter, ZoomDropsAShiftTheBandCannotHold) {
    // At zoom 1 this shift fits; at zoom 2 the bottom target would leave the band.
    const int32_t l1 = vyska_radku[1], l2 = vyska_radku[2];
    const int32_t kroku = (526 - 4 * l1 - 30 - 82 - 1) / 5;
    ASSERT_GE(5 * kroku, 526 - 4 * l2 - 30 - 82);
    posun_dole = 5 * kroku * 2880;
    fb_prepocti_pas();
    ASSERT_EQ(posun_dole, 5 * kroku * 2880);
    fb_zmen_zoom();
    EXPECT_EQ(posun_dole, 0);
}

TEST_F(Painter, BandMovesRepaintAtTheNewPlace) {
    titulek t = make_record({"Omhoog"}, 0);
    fb_zobraz_titulek(&t);
    const int64_t pred = target_line(0);
    fb_uprav_posun(-1);
    EXPECT_EQ(target_line(0), pred - 5);
    EXPECT_TRUE(screen_shows_bb_at(pred - 5));
    // The band moves with the subtitle painted last: a top one now.
    titulek boven = make_record({"Boven"}, 0x100);
    fb_zobraz_titulek(&boven);
    fb_uprav_posun(1);
    EXPECT_EQ(posun_nahore, 5 * 2880);
    EXPECT_EQ(posun_dole, 5 * 2880);
    EXPECT_TRUE(screen_shows_bb_at(87));
    EXPECT_EQ(testsup::pixel(bb_find(barva(11)).left, 82 + 1), 0u);
}

TEST_F(Painter, InsetTogglePaintsInTheNewBand) {
    titulek t = make_record({"Inzet"}, 0);
    fb_zobraz_titulek(&t);
    fb_prepni_posun();
    const int32_t l = vyska_radku[1];
    EXPECT_EQ(target_line(0), 494 - 4 * l - 30);
    EXPECT_TRUE(screen_shows_bb_at(494 - 4 * l - 30));
    fb_prepni_posun();
    EXPECT_TRUE(screen_shows_bb_at(526 - 4 * l - 30));
}

TEST_F(Painter, InsetToggleClearsTheStatusLineAtTheOldPlace) {
    fb_zobr_info("Hallo");
    ASSERT_EQ(testsup::pixel(sx + 1, 50), barva(7));
    fb_prepni_posun();
    EXPECT_EQ(infol, -1);
    EXPECT_EQ(testsup::pixel(sx + 1, 50), 0u);
    EXPECT_EQ(testsup::pixel(sx + 1, 81), 0u);
}

TEST_F(Painter, PaletteSwitchTwiceRestores) {
    const int8_t pred = paleta_idx;
    fb_zmen_paletu();
    EXPECT_EQ(paleta_idx, 1 - pred);
    EXPECT_EQ(paleta.load(), palety[static_cast<size_t>(1 - pred)].data());
    EXPECT_EQ(infol, 100);
    fb_zmen_paletu();
    EXPECT_EQ(paleta_idx, pred);
    EXPECT_EQ(paleta.load(), palety[static_cast<size_t>(pred)].data());
}

TEST_F(Painter, PaletteSwitchDoesNotRepaint) {
    titulek t = make_record({"Licht"}, 0x100);
    fb_zobraz_titulek(&t);
    uint32_t pred = barva(3);
    fb_zmen_paletu();
    EXPECT_FALSE(bb_find(pred).empty());
    EXPECT_TRUE(bb_find(barva(3)).empty());
    fb_zmen_paletu();
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
    std::vector<titulek> records = film();
    ASSERT_GE(records.size(), 5u);
    auto sweep = [&](bool reversed) {
        for (int step = 0; step < 8; ++step) {
            fb_zmen_zoom();  // also draws the zoom digit at the screen size
            for (size_t i = 0; i < records.size(); ++i) {
                fb_zobraz_titulek(&records[reversed ? records.size() - 1 - i : i]);
                if (i % 3 == 0) fb_zmen_transp();
                if (i % 4 == 0) fb_zmen_barvu_tit();
            }
            // Menus and the status line draw the same characters at the screen size.
            for (const titulek& t : records) fb_ZobrString(t.radky[0].get(), 0, 60, 300, 0, 600, 7);
            fb_zobr_info(records[static_cast<size_t>(step) % records.size()].radky[1].get());
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
    std::vector<titulek> records;
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
        return step{[&records, i] { fb_zobraz_titulek(&records[i]); }, true};
    };
    const std::vector<step> restyles{
        {fb_zmen_zoom, true},
        {fb_zmen_transp, true},
        {fb_zmen_barvu_tit, true},
        {[] { fb_uprav_posun(-1); }, true},
        {[] { fb_uprav_posun(+1); }, true},
        {fb_prepni_posun, true},
    };
    for (int round = 0; round < 60; ++round) {
        steps.push_back(paint(static_cast<size_t>(round * 5 % 7)));
        steps.push_back(paint(static_cast<size_t>((round * 3 + 1) % 7)));
        steps.push_back(restyles[static_cast<size_t>(round % 6)]);
        if (round % 4 == 1) steps.push_back(restyles[static_cast<size_t>((round / 4) % 6)]);
        if (round % 7 == 3) steps.push_back({fb_smaz_titobr, false});
        if (round % 9 == 5) {
            steps.push_back({[] { fb_vypln(0, 10, sy + 40 + 13 * (sy % 7), 600, 50, 5); }, false});
        }
        if (round % 11 == 2) steps.push_back({fb_smaz_titobr, false});
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
        if (steps[i].paints && titulek_zobrazen != 0) full_clear_and_copy();
        const std::vector<uint32_t> now = screen();
        const auto [a, b] = std::mismatch(now.begin(), now.end(), painted[i].begin());
        ASSERT_EQ(a, now.end()) << "step " << i << ", row " << (a - now.begin()) / px_na_radek;
    }
}

}  // namespace

// ---------------------------------------------------------------- lines wider than the band

namespace {

// The width of the usable area main sets, less a pixel at either side.
constexpr int32_t kPole = 628;

std::vector<uint32_t> back_buffer() {
    std::lock_guard lock(znak_mutex);
    std::span<uint32_t> px = fb_pixely(1);
    return {px.begin(), px.end()};
}

// The back buffer as the string drawer composes the record: each line whole in one
// screen line, clipped at the band's edge as menu texts are, in the line's colour.
std::vector<uint32_t> drawn_line_by_line(const titulek& t) {
    bb_smaz();
    const int32_t l = vyska_radku[zoom];
    const int32_t n = std::min(t.pocet_radku, 4);
    int32_t y = velikosti_fontu[zoom][0] + ((t.flags & 0x100) != 0 ? 0 : (4 - n) * l);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t barva = barvy_tit[static_cast<size_t>(barva_tit & 3)]
                                       [static_cast<size_t>((t.flags >> (2 * i)) & 3)];
        fb_ZobrString(t.radky[i].get(), 1, sx + 1, y, 1, kPole, static_cast<int8_t>(barva));
        y += l;
    }
    return back_buffer();
}

void set_zoom(int32_t z) {
    zoom = z;
    fb_font_nastav_zoom();
    fb_prepocti_pas();
}

// The line colour set of screen line j of a subtitle painted at the top.
std::set<uint32_t> glyph_colours(int32_t j) {
    const int32_t l = vyska_radku[zoom];
    std::set<uint32_t> v = testsup::bb_values(j * l, (j + 1) * l);
    v.erase(0);
    v.erase(barva(0));
    return v;
}

const std::string kZin = "Dat had je niet moeten zeggen, want nu weet iedereen het al.";
const std::string kLang =
    "Dit is een heel lange regel die bij de grootste letters op meer dan vier regels "
    "terecht zou komen, want hij gaat maar door en door over alles wat er die avond in "
    "het oude huis aan de haven gebeurde.";
const std::string kWoord = "Hottentottententententoonstellingsterreinen";
const std::string kSpaties = "Twee  spaties  tussen  alle  woorden  van  deze  regel,  ook  hier.";

}  // namespace

// Lines that fit, and lines that cannot be broken (a word wider than the band, or no
// screen line left), look exactly as the string drawer draws them.
TEST_F(Painter, WhatNeedsNoBreakIsDrawnAsTheStringDrawerDrawsIt) {
    struct {
        std::vector<std::string> lines;
        int32_t flags, zoom, transp;
    } const cases[] = {
        {{"Hallo"}, 0, 1, 1},
        {{"Dat had je niet moeten zeggen,", "want nu weet iedereen het."}, 0x0C, 3, 0},
        {{"Eerste", "Tweede", "Derde", "Vierde regel"}, 0x1E4, 7, 2},
        {{"\x0b\x02rood\x0c en \x0e\x0f symbolen", ""}, 0x4, 5, 1},
        {{kWoord}, 0, 7, 1},
        {{kZin, kZin, kLang, kZin}, 0x1B, 7, 2},
    };
    testsup::ref_face ref;
    for (const auto& c : cases) {
        set_zoom(c.zoom);
        transp = c.transp;
        ref.size(velikosti_fontu[zoom][1], velikosti_fontu[zoom][0]);
        if (c.lines[0].find(kWoord) != std::string::npos) {
            ASSERT_GT(testsup::fit_width(ref, kWoord), kPole) << "the word must be too wide";
        }
        titulek t = make_record(c.lines, c.flags);
        const std::vector<uint32_t> expected = drawn_line_by_line(t);
        fb_zobraz_titulek(&t);
        EXPECT_TRUE(back_buffer() == expected) << c.lines[0] << " at zoom " << c.zoom;
        EXPECT_TRUE(screen_shows_bb_at(target_line(pozice)));
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
        {{kZin}, 0x2, 7, {2}, kNoCut},
        {{"Kort.", kZin + " Echt waar."}, 0x100 | 0x1 | 0x8, 4, {1, 2}, kNoCut},
        {{kSpaties}, 0, 7, {2}, kNoCut},
        {{kZin + " En nu weet ook de buurman het."}, 0x100, 7, {3}, kNoCut},
        {{kLang}, 0x3, 7, {4}, 0},
        {{kLang, "Tweede regel."}, 0x100 | 0x4, 7, {3, 1}, 0},
        {{"Een.", kLang, "Drie."}, 0x9, 6, {1, 2, 1}, 1},
    };
    testsup::ref_face ref;
    for (const auto& c : cases) {
        set_zoom(c.zoom);
        ref.size(velikosti_fontu[zoom][1], velikosti_fontu[zoom][0]);
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
        titulek t = make_record(c.lines, c.flags);
        fb_zobraz_titulek(&t);
        const std::vector<uint32_t> painted = back_buffer();
        EXPECT_TRUE(painted == drawn_line_by_line(make_record(expected_lines, expected_flags)))
            << c.lines[0] << " at zoom " << c.zoom << ", first screen line: " << expected_lines[0];
    }
}

// Turning the size up one step at a time, RED as the viewer presses it: every glyph
// stays inside the band, and the sentence takes more screen lines instead of losing
// its end.
TEST_F(Painter, TurningTheSizeUpKeepsTheEndOfTheSentence) {
    transp = 2;
    titulek t = make_record({kZin.c_str()}, 0);
    fb_zobraz_titulek(&t);
    testsup::ref_face ref;
    while (zoom != 7) {
        fb_zmen_zoom();
        ref.size(velikosti_fontu[zoom][1], velikosti_fontu[zoom][0]);
        const std::vector<std::string_view> pieces = testsup::break_at_spaces(ref, kZin, kPole);
        std::vector<std::string> lines(pieces.begin(), pieces.end());
        const testsup::bb_bounds glyphs = bb_find(barva(3));
        ASSERT_FALSE(glyphs.empty());
        EXPECT_GT(glyphs.left, sx) << zoom;
        EXPECT_LT(glyphs.right, ex) << zoom;
        const int32_t l = vyska_radku[zoom];
        EXPECT_EQ(glyphs.top / l, 4 - static_cast<int32_t>(lines.size())) << zoom;
        EXPECT_TRUE(screen_shows_bb_at(target_line(0)));
        const std::vector<uint32_t> painted = back_buffer();
        EXPECT_TRUE(painted == drawn_line_by_line(make_record(lines, 0))) << zoom;
    }
    // At the largest size the sentence no longer fits one screen line.
    EXPECT_GE(testsup::break_at_spaces(ref, kZin, kPole).size(), 2u);
}

// A word wider than the band is clipped at the edge, and the text after it goes on in
// the next screen line.
TEST_F(Painter, AWordWiderThanTheBandIsClippedAndTheTextGoesOn) {
    set_zoom(7);
    titulek t = make_record({("Kijk: " + kWoord + " is een woord.").c_str()}, 0x100);
    fb_zobraz_titulek(&t);
    const std::vector<uint32_t> painted = back_buffer();
    EXPECT_TRUE(painted ==
                drawn_line_by_line(make_record({"Kijk:", kWoord.c_str(), "is een woord."}, 0x100)));
}

// The pieces of a line keep its colour, and the inline colour codes keep working across
// the break: a code before it colours the text after it until its 0x0C.
TEST_F(Painter, BrokenLinesKeepTheirColours) {
    transp = 2;
    set_zoom(7);
    testsup::ref_face ref;
    ref.size(velikosti_fontu[zoom][1], velikosti_fontu[zoom][0]);
    const std::string verder =
        " en dan gaat de tekst nog een hele tijd verder in deze kleur, over de hele breedte van "
        "het beeld, tot";
    struct {
        std::vector<std::string> lines;
        int32_t flags;
        std::vector<std::set<uint32_t>> colours;  // of each screen line
    } const cases[] = {
        {{kZin}, 0x1, {{barva(7)}, {barva(7)}}},
        {{"\x0b\x02" + kZin}, 0x1, {{barva(6)}, {barva(6)}}},
        {{"Begin\x0b\x02" + verder + " aan het eind\x0c."},
         0x1,
         {{barva(7), barva(6)}, {barva(6)}, {barva(6), barva(7)}}},
        // A code left open does not reach into the next line of the record.
        {{"\x0b\x03" + kZin, "Tweede."}, 0x4, {{barva(2)}, {barva(2)}, {barva(7)}}},
    };
    for (const auto& c : cases) {
        // The text without its codes takes as many screen lines as the case says.
        std::string zonder_codes;
        for (size_t i = 0; i < c.lines[0].size(); ++i) {
            if (c.lines[0][i] == '\x0b') {
                ++i;
            } else if (c.lines[0][i] != '\x0c') {
                zonder_codes += c.lines[0][i];
            }
        }
        ASSERT_EQ(testsup::break_at_spaces(ref, zonder_codes, kPole).size() + c.lines.size() - 1,
                  c.colours.size())
            << zonder_codes;
        titulek t = make_record(c.lines, c.flags | 0x100);
        fb_zobraz_titulek(&t);
        for (size_t j = 0; j < 4; ++j) {
            const std::set<uint32_t> expected =
                j < c.colours.size() ? c.colours[j] : std::set<uint32_t>{};
            EXPECT_EQ(glyph_colours(static_cast<int32_t>(j)), expected)
                << zonder_codes << ", screen line " << j;
        }
    }
}
