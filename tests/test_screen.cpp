// Framebuffer set-up and shut-down through the simulated driver, the screen
// geometry, the band positions and moves, the inset, the band clear and the
// back-buffer copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/app.h"
#include "app/settings.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "menu/menus.h"
#include "sub/subtitles.h"
#include "tests/support/screen_support.h"
#include "tests/support/support.h"
#include "tmr/clock.h"

namespace {

using testsup::fake_display;

constexpr int64_t L = 2880;

// Byte offset of a band target in the mapping (targets may lie outside it).
int64_t offset(const uint32_t* p) {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(p) -
                                reinterpret_cast<uintptr_t>(fb_mem));
}

stored_settings read_settings(const testsup::box_root& root) {
    std::string s = root.read("/var/tuxbox/Tresk/tresk.conf");
    stored_settings n{};
    EXPECT_EQ(s.size(), sizeof n);
    std::memcpy(&n, s.data(), std::min(s.size(), sizeof n));
    return n;
}

void write_settings(const testsup::box_root& root, const stored_settings& n) {
    root.write("/var/tuxbox/Tresk/tresk.conf",
               std::string_view(reinterpret_cast<const char*>(&n), sizeof n));
}

// ---------------------------------------------------------------- set-up

TEST(Init, ForcesTheModeFrom1280x720) {
    testsup::box_root root;
    testsup::setup_box(root, {.xres = 1280, .yres = 720});
    ASSERT_EQ(testsup::open_display(), 1);
    sim::fb_state st = sim::framebuffer();
    EXPECT_EQ(st.var.xres, 720u);
    EXPECT_EQ(st.var.yres, 576u);
    EXPECT_EQ(st.put_count, 1);
    EXPECT_TRUE(st.mapped);
    testsup::close_display();
}

TEST(Init, KeepsTheLinesOf720x480AndStillPutsTheMode) {
    testsup::box_root root;
    testsup::setup_box(root, {.xres = 720, .yres = 480});
    ASSERT_EQ(testsup::open_display(), 1);
    sim::fb_state st = sim::framebuffer();
    EXPECT_EQ(st.var.xres, 720u);
    EXPECT_EQ(st.var.yres, 480u);
    EXPECT_EQ(st.put_count, 1);
    testsup::close_display();
}

TEST(Init, PutsTheModeEvenWhenItIsAlready720x576) {
    testsup::box_root root;
    testsup::setup_box(root, {.xres = 720, .yres = 576});
    ASSERT_EQ(testsup::open_display(), 1);
    EXPECT_EQ(sim::framebuffer().put_count, 1);
    EXPECT_EQ(sim::framebuffer().var.yres, 576u);
    testsup::close_display();
}

TEST(Init, GeometryForTheDefaultArea) {
    testsup::box_root root;
    testsup::setup_box(root);  // the driver starts at 1280 x 720, line 5120 bytes
    ASSERT_EQ(testsup::open_display(), 1);
    // The stride is the one the driver reports for the new mode.
    EXPECT_EQ(fb_fix.line_length, 2880u);
    EXPECT_EQ(px_per_line, 720u);
    EXPECT_EQ(band_start, 236160);
    EXPECT_EQ(band_size, 1278720);
    ASSERT_GT(line_heights[7], 0);
    EXPECT_EQ(bbuf_size, 11520 * line_heights[7]);
    EXPECT_EQ(sy0, 50);
    EXPECT_EQ(ey0, 526);
    EXPECT_EQ(bottom_target_min, band_start);
    EXPECT_EQ(bottom_target_max, L * (526 - 4 * line_heights[zoom] - 30));
    EXPECT_EQ(offset(bb_targets[0]), bottom_target_max);
    EXPECT_EQ(offset(bb_targets[1]), band_start);
    ASSERT_NE(bbuf, nullptr);
    EXPECT_EQ(testsup::pixel(0, 0), 0u);
    testsup::close_display();
}

TEST(Init, UsesTheStrideOfADriverThatKeepsIt) {
    testsup::box_root root;
    testsup::setup_box(root, {.xres = 1280, .yres = 720, .keep_stride = true});
    ASSERT_EQ(testsup::open_display(), 1);
    EXPECT_EQ(fb_fix.line_length, 5120u);
    EXPECT_EQ(px_per_line, 1280u);
    EXPECT_EQ(band_start, 5120 * 82);
    EXPECT_EQ(band_size, 5120 * 526 - 5120 * 82);
    EXPECT_EQ(bbuf_size, 4 * 5120 * line_heights[7]);
    // A box lands where the driver's own stride puts it.
    fb_box(10, 100, 10, 20, 1, 3, 3);
    EXPECT_EQ(testsup::pixel(50, 150), palettes[0][3]);
    EXPECT_EQ(testsup::pixel(50, 149), 0u);
    testsup::close_display();
}

TEST(Init, DrawsOnlyInThirtyTwoBitModes) {
    // A driver that starts at 8 bits per pixel but can do 32 is switched to it.
    testsup::box_root root;
    testsup::setup_box(root, {.xres = 640, .yres = 480, .bits_per_pixel = 8});
    ASSERT_EQ(testsup::open_display(), 1);
    EXPECT_EQ(sim::framebuffer().var.bits_per_pixel, 32u);
    EXPECT_EQ(sim::framebuffer().put_count, 2);
    EXPECT_EQ(fb_fix.line_length, 2880u);
    testsup::close_display();

    // One that stays at 8, refusing the request or handing back its own depth, ends
    // the set-up before anything is mapped or written.
    struct driver {
        bool refuse;
        const char* line;
    };
    for (auto [refuse, line] :
         {driver{true, "fb_init: 8 bits per pixel, 32 refused (driver offers 8 bpp): "},
          driver{false, "fb_init: 8 bits per pixel, 32 refused (driver offers 8 bpp)\n"}}) {
        testsup::setup_box(root, {.xres = 640,
                                  .yres = 480,
                                  .bits_per_pixel = 8,
                                  .refuse_depth = refuse,
                                  .keep_depth = !refuse});
        auto mem = sim::fb_memory();
        std::fill(mem.begin(), mem.end(), 0x5au);
        int r = -1;
        std::string out = testsup::capture_output([&] { r = testsup::open_display(); });
        EXPECT_EQ(r, 0);
        EXPECT_NE(out.find(line), std::string::npos) << out;
        EXPECT_EQ(sim::framebuffer().var.bits_per_pixel, 8u);
        EXPECT_FALSE(sim::framebuffer().mapped);
        EXPECT_EQ(fb_mem, nullptr);
        EXPECT_TRUE(std::all_of(mem.begin(), mem.end(), [](uint32_t w) { return w == 0x5au; }));
    }
}

TEST(Init, ClearsTheWholeMapping) {
    testsup::box_root root;
    testsup::setup_box(root, {.xres = 720, .yres = 576});
    auto mem = sim::fb_memory();
    std::fill(mem.begin(), mem.end(), 0xdeadbeefu);
    ASSERT_EQ(testsup::open_display(), 1);
    EXPECT_TRUE(std::all_of(mem.begin(), mem.end(), [](uint32_t w) { return w == 0; }));
    testsup::close_display();
}

TEST(Init, ReadsTheSettingsFirst) {
    testsup::box_root root;
    write_settings(root, {3, 2, 1, 2, 0, 0, 0});
    testsup::setup_box(root);
    ASSERT_EQ(testsup::open_display(), 1);
    EXPECT_EQ(zoom, 3);
    // The bottom position follows the zoom read from the file.
    EXPECT_EQ(bottom_target_max, L * (526 - 4 * line_heights[3] - 30));
    testsup::close_display();
}

TEST(Init, ShiftsFromTheSettingsAreValidated) {
    testsup::box_root root;
    // Bottom: 10 steps, fits. Top: one line, not a whole step.
    write_settings(root, {1, 1, 0, 0, 0, static_cast<int32_t>(50 * L), static_cast<int32_t>(L)});
    testsup::setup_box(root);
    ASSERT_EQ(testsup::open_display(), 1);
    EXPECT_EQ(bottom_shift, 50 * L);
    EXPECT_EQ(offset(bb_targets[0]), bottom_target_max - 50 * L);
    EXPECT_EQ(top_shift, 0);
    EXPECT_EQ(offset(bb_targets[1]), band_start);
    testsup::close_display();

    // A bottom shift that would put the target above the band, and a top shift of
    // whole steps that is not a multiple of 4 bytes either.
    write_settings(root, {1, 1, 0, 0, 0, static_cast<int32_t>(400 * L), 5 * 2881});
    testsup::setup_box(root);
    ASSERT_EQ(testsup::open_display(), 1);
    EXPECT_EQ(bottom_shift, 0);
    EXPECT_EQ(offset(bb_targets[0]), bottom_target_max);
    EXPECT_EQ(top_shift, 0);
    testsup::close_display();
}

TEST(InitFailure, FontSetUpComesBeforeTheDriver) {
    testsup::box_root root("");  // no font file
    testsup::setup_box(root);
    int r = -1;
    std::string out = testsup::capture_output([&] { r = testsup::open_display(); });
    EXPECT_EQ(r, 0);
    EXPECT_NE(out.find("fb_init: FTC_Manager_Lookup_Face"), std::string::npos) << out;
    EXPECT_EQ(sim::framebuffer().put_count, 0);
    EXPECT_FALSE(sim::framebuffer().mapped);
    EXPECT_EQ(fb_mem, nullptr);
}

struct driver_fault {
    const char* name;
    sim::fb_config cfg;
    const char* diagnostic;
    int put_count;
};

class InitDriverFailure : public testing::TestWithParam<driver_fault> {};

TEST_P(InitDriverFailure, PrintsItsLineAndReturnsZero) {
    testsup::box_root root;
    testsup::setup_box(root, GetParam().cfg);
    int r = -1;
    std::string out = testsup::capture_output([&] { r = testsup::open_display(); });
    EXPECT_EQ(r, 0);
    // perror: the text, a colon, the system's error text.
    std::string line = std::string(GetParam().diagnostic) + ": ";
    EXPECT_NE(out.find(line), std::string::npos) << out;
    EXPECT_EQ(sim::framebuffer().put_count, GetParam().put_count);
    EXPECT_FALSE(sim::framebuffer().mapped);
    EXPECT_EQ(fb_mem, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, InitDriverFailure,
    testing::Values(
        driver_fault{"FixedInfo", {.fail_fscreeninfo = true}, "fb_init: FBIOGET_FSCREENINFO", 0},
        driver_fault{"VariableInfo",
                     {.fail_vscreeninfo = true},
                     "tresk.fb_init.chyba: FBIOGET_VSCREENINFO",
                     0},
        driver_fault{"SetMode", {.fail_put = true}, "tresk.fb_init.chyba: FBIOPUT_VSCREENINFO", 1},
        // Too little video memory for 720 x 576: the driver refuses the mode.
        driver_fault{"TooLittleMemory",
                     {.xres = 640, .yres = 480, .smem_len = 640 * 480 * 4},
                     "tresk.fb_init.chyba: FBIOPUT_VSCREENINFO",
                     1},
        // The mode was put: the driver's own is put back.
        driver_fault{"Map", {.fail_mmap = true}, "fb_init: mmap!", 2},
        // No device at all: every request on the bad descriptor fails.
        driver_fault{"NoDevice", {.present = false}, "fb_init: FBIOGET_FSCREENINFO", 0}),
    [](const testing::TestParamInfo<driver_fault>& info) { return info.param.name; });

// ---------------------------------------------------------------- shut-down

TEST(Deinit, ClearsAndUnmapsAfterTheLastLook) {
    testsup::box_root root;
    testsup::setup_box(root, {.xres = 720, .yres = 576});
    ASSERT_EQ(testsup::open_display(), 1);
    fb_fill(0, 100, 100, 1, 1, 7);
    std::vector<uint32_t> seen;
    sim::set_before_clear([&](const void* mem, size_t len) {
        const auto* w = static_cast<const uint32_t*>(mem);
        seen.assign(w, w + len / 4);
    });
    testsup::close_display();
    ASSERT_EQ(seen.size(), 720u * 576u);
    EXPECT_EQ(seen[100 * 720 + 100], palettes[0][7]);
    EXPECT_FALSE(sim::framebuffer().mapped);
    EXPECT_EQ(fb_mem, nullptr);
    EXPECT_EQ(bbuf, nullptr);
    auto mem = sim::fb_memory();
    EXPECT_TRUE(std::all_of(mem.begin(), mem.end(), [](uint32_t w) { return w == 0; }));
    // Drawing after the shut-down finds no target.
    fb_fill(0, 0, 0, 10, 10, 7);
    fb_fill(1, 0, 0, 10, 10, 7);
}

TEST(Deinit, WritesTheSettingsWithTheValuesInForce) {
    testsup::box_root root;
    testsup::setup_box(root);
    ASSERT_EQ(testsup::open_display(), 1);
    bottom_shift = static_cast<int32_t>(5 * L);
    fb_compute_band();
    testsup::close_display();
    stored_settings n = read_settings(root);
    EXPECT_EQ(n.zoom, 1);
    EXPECT_EQ(n.background_level, 1);
    EXPECT_EQ(n.position, 0);
    EXPECT_EQ(n.bottom_shift, 5 * L);
}

TEST(Deinit, ResumePositionOnlyWhenAskedAndSubtitlesWereLoaded) {
    testsup::box_root root;
    testsup::setup_box(root);
    ASSERT_EQ(testsup::open_display(), 1);
    subtitles_ever_loaded = false;
    film_ended = 0;
    current_index = 7;
    saved_settings.position = -1;  // so that the record differs and is written
    fb_deinit(app_resume_position(1));
    EXPECT_EQ(read_settings(root).position, 0);

    subtitles_ever_loaded = true;
    ASSERT_EQ(testsup::open_display(), 1);
    fb_deinit(app_resume_position(0));
    EXPECT_EQ(read_settings(root).position, 0);
    ASSERT_EQ(testsup::open_display(), 1);
    fb_deinit(app_resume_position(1));
    EXPECT_EQ(read_settings(root).position, 7);
    // A failed start keeps the stored place whatever the clock says.
    current_index = 9;
    ASSERT_EQ(testsup::open_display(), 1);
    fb_deinit(app_resume_position(kKeepResumePosition));
    EXPECT_EQ(read_settings(root).position, 7);
    subtitles_ever_loaded = false;
}

// ---------------------------------------------------------------- band targets

TEST(Bands, TargetsWithoutShift) {
    fake_display d;
    EXPECT_EQ(bottom_target_min, 236160);
    EXPECT_EQ(bottom_target_max, L * (526 - 4 * 29 - 30));
    EXPECT_EQ(offset(bb_targets[0]), bottom_target_max);
    EXPECT_EQ(offset(bb_targets[1]), 236160);
}

TEST(Bands, BottomShiftIsKeptOnlyWhenItFitsAndIsWholeSteps) {
    fake_display d;
    const int64_t max = bottom_target_max;
    bottom_shift = static_cast<int32_t>(15 * L);
    fb_compute_band();
    EXPECT_EQ(bottom_shift, 15 * L);
    EXPECT_EQ(offset(bb_targets[0]), max - 15 * L);

    for (int32_t bad : {static_cast<int32_t>(15 * L + 4), static_cast<int32_t>(L),
                        static_cast<int32_t>(-5 * L), 2}) {
        bottom_shift = bad;
        fb_compute_band();
        EXPECT_EQ(bottom_shift, 0) << bad;
        EXPECT_EQ(offset(bb_targets[0]), max) << bad;
    }

    // The target must stay below the band's first line: with zoom 0 the distance
    // is exactly 58 steps, which is one too many.
    zoom = 0;
    fb_compute_band();
    ASSERT_EQ(bottom_target_max - band_start, 58 * 5 * L);
    bottom_shift = static_cast<int32_t>(58 * 5 * L);
    fb_compute_band();
    EXPECT_EQ(bottom_shift, 0);
    bottom_shift = static_cast<int32_t>(57 * 5 * L);
    fb_compute_band();
    EXPECT_EQ(bottom_shift, 57 * 5 * L);
    EXPECT_EQ(offset(bb_targets[0]), band_start + 5 * L);
}

TEST(Bands, TopShiftMovesTheSubtitleUnderTheStatusStrip) {
    fake_display d;
    top_shift = static_cast<int32_t>(3 * 5 * L);
    fb_compute_band();
    EXPECT_EQ(offset(bb_targets[1]), band_start + 15 * L);
    // Reaching the bottom position is too far.
    zoom = 0;
    top_shift = static_cast<int32_t>(58 * 5 * L);
    fb_compute_band();
    EXPECT_EQ(top_shift, 0);
    EXPECT_EQ(offset(bb_targets[1]), band_start);
    top_shift = static_cast<int32_t>(5 * L + 8);
    fb_compute_band();
    EXPECT_EQ(top_shift, 0);
}

TEST(Bands, ALargerZoomDropsAShiftThatNoLongerFits) {
    fake_display d;
    zoom = 0;
    fb_compute_band();
    bottom_shift = static_cast<int32_t>(55 * 5 * L);
    top_shift = static_cast<int32_t>(55 * 5 * L);
    fb_compute_band();
    EXPECT_EQ(bottom_shift, 55 * 5 * L);
    EXPECT_EQ(top_shift, 55 * 5 * L);
    zoom = 7;
    fb_compute_band();
    EXPECT_EQ(bottom_shift, 0);
    EXPECT_EQ(top_shift, 0);
}

// ---------------------------------------------------------------- band moves

TEST(BandMove, VolumeDownAtTheBottomUnshiftedChangesNothing) {
    fake_display d;
    uint32_t* before = bb_targets[0];
    fb_shift_band(1);
    EXPECT_EQ(bottom_shift, 0);
    EXPECT_EQ(bb_targets[0].load(), before);
}

TEST(BandMove, FirstVolumeUpMovesFiveLinesUp) {
    fake_display d;
    const int64_t max = bottom_target_max;
    fb_shift_band(-1);
    EXPECT_EQ(bottom_shift, 5 * L);
    EXPECT_EQ(offset(bb_targets[0]), max - 5 * L);
    EXPECT_EQ(top_shift, 0);
}

TEST(BandMove, BottomGoesUpUntilTheBandEndsAndBackDownToZero) {
    fake_display d;
    zoom = 0;
    fb_compute_band();
    for (int i = 0; i < 100; ++i) fb_shift_band(-1);
    // The last step that keeps the target below the band's first line; the one
    // after it is refused rather than throwing the subtitle back to the bottom.
    EXPECT_EQ(bottom_shift, 57 * 5 * L);
    EXPECT_EQ(offset(bb_targets[0]), band_start + 5 * L);
    for (int i = 0; i < 57; ++i) fb_shift_band(1);
    EXPECT_EQ(bottom_shift, 0);
    fb_shift_band(1);
    EXPECT_EQ(bottom_shift, 0);
    EXPECT_EQ(offset(bb_targets[0]), bottom_target_max);
}

TEST(BandMove, BottomRefusalWhenTheDistanceIsNotWholeSteps) {
    fake_display d;  // zoom 1: 298 lines between the band start and the target
    for (int i = 0; i < 100; ++i) fb_shift_band(-1);
    EXPECT_EQ(bottom_shift, 59 * 5 * L);
    EXPECT_EQ(offset(bb_targets[0]), band_start + 3 * L);
}

TEST(BandMove, TopPositionMovesDownAndBack) {
    fake_display d;
    zoom = 0;
    fb_compute_band();
    band_position = 1;
    fb_shift_band(-1);
    EXPECT_EQ(top_shift, 0);
    fb_shift_band(1);
    EXPECT_EQ(top_shift, 5 * L);
    EXPECT_EQ(offset(bb_targets[1]), band_start + 5 * L);
    EXPECT_EQ(bottom_shift, 0);
    for (int i = 0; i < 100; ++i) fb_shift_band(1);
    EXPECT_EQ(top_shift, 57 * 5 * L);
    EXPECT_EQ(offset(bb_targets[1]), bottom_target_max - 5 * L);
    for (int i = 0; i < 100; ++i) fb_shift_band(-1);
    EXPECT_EQ(top_shift, 0);
    EXPECT_EQ(offset(bb_targets[1]), band_start);
}

TEST(BandMove, NothingWhileTheThreadPaints) {
    fake_display d;
    painting = 1;
    fb_shift_band(-1);
    EXPECT_EQ(bottom_shift, 0);
    band_position = 1;
    fb_shift_band(1);
    EXPECT_EQ(top_shift, 0);
    fb_toggle_inset();
    EXPECT_EQ(inset_on, 0);
    EXPECT_EQ(sy, 50);
    EXPECT_EQ(ey, 526);
    painting = 0;
    fb_shift_band(1);
    EXPECT_EQ(top_shift, 5 * L);
}

TEST(BandMove, NoRepaintWithoutARecord) {
    fake_display d;
    d.fill(0x11223344);
    subtitle_shown = 1;
    painted_record = nullptr;
    fb_shift_band(-1);
    EXPECT_EQ(bottom_shift, 5 * L);
    EXPECT_EQ(d.count_not(0x11223344), 0);
}

// ---------------------------------------------------------------- inset

TEST(Inset, TogglesTheAreaAndBack) {
    fake_display d;
    fb_toggle_inset();
    EXPECT_EQ(inset_on, 1);
    EXPECT_EQ(sy, 82);
    EXPECT_EQ(ey, 494);
    EXPECT_EQ(band_start, L * 114);
    EXPECT_EQ(band_size, L * 494 - L * 114);
    EXPECT_EQ(bottom_target_min, band_start);
    EXPECT_EQ(bottom_target_max, L * (494 - 4 * 29 - 30));
    EXPECT_EQ(offset(bb_targets[1]), L * 114);
    fb_toggle_inset();
    EXPECT_EQ(inset_on, 0);
    EXPECT_EQ(sy, 50);
    EXPECT_EQ(ey, 526);
    EXPECT_EQ(band_start, 236160);
    EXPECT_EQ(band_size, 1278720);
    EXPECT_EQ(bottom_target_max, L * (526 - 4 * 29 - 30));
}

TEST(Inset, DropsAShiftTheSmallerBandCannotHold) {
    fake_display d;
    bottom_shift = static_cast<int32_t>(59 * 5 * L);
    fb_compute_band();
    ASSERT_EQ(bottom_shift, 59 * 5 * L);
    fb_toggle_inset();
    EXPECT_EQ(bottom_shift, 0);
}

TEST(Inset, ClearsTheOpenHelpBoxAtTheOldPlace) {
    fake_display d;
    d.fill(0x11223344);
    int32_t help_before = help_countdown;
    help_countdown = 10;
    subtitle_shown = 1;
    fb_toggle_inset();
    help_countdown = help_before;
    for (int y = 0; y < 576; ++y) {
        uint32_t want = (y >= 82 && y < 526) ? 0u : 0x11223344u;
        ASSERT_EQ(d.px(0, y), want) << y;
        ASSERT_EQ(d.px(719, y), want) << y;
    }
    EXPECT_EQ(subtitle_shown, 0);
}

TEST(Inset, TakesTheSubtitleOffTheOldBandToo) {
    fake_display d;
    d.fill(0x11223344);
    subtitle_shown = 1;
    painted_record = nullptr;
    fb_toggle_inset();
    // Lines 494..525 lie outside the new band but held the old one.
    for (int y = 0; y < 576; ++y) {
        uint32_t want = (y >= 82 && y < 526) ? 0u : 0x11223344u;
        ASSERT_EQ(d.px(5, y), want) << y;
    }
}

// ---------------------------------------------------------------- clear and copy

TEST(BandClear, ClearsExactlyTheBand) {
    fake_display d;
    d.fill(0x11223344);
    subtitle_shown = 1;
    fb_clear_subtitle();
    EXPECT_EQ(subtitle_shown, 0);
    for (int y = 0; y < 576; ++y) {
        uint32_t want = (y >= 82 && y < 526) ? 0u : 0x11223344u;
        ASSERT_EQ(d.px(0, y), want) << y;
        ASSERT_EQ(d.px(719, y), want) << y;
    }
}

TEST(BandClear, StaysInsideTheMappingWhateverTheGeometry) {
    fake_display d(2880, 2880 * 400);  // a mapping shorter than the band
    d.fill(0x11223344);
    fb_clear_subtitle();
    EXPECT_TRUE(d.guards_intact());
    EXPECT_EQ(d.px(0, 81), 0x11223344u);
    EXPECT_EQ(d.px(0, 82), 0u);
    EXPECT_EQ(d.px(719, 399), 0u);
    band_start = -100000;
    band_size = 2000000000;
    fb_clear_subtitle();
    EXPECT_TRUE(d.guards_intact());
    EXPECT_EQ(d.count_not(0), 0);
    d.fill(7);
    band_start = 1000;
    band_size = -5000;
    fb_clear_subtitle();
    EXPECT_EQ(d.count_not(7), 0);
}

// A record for the copy tests: the back buffer stands for it.
subtitle g_record{1, 0, 0, 1000, {}};

void pattern_bb(fake_display& d) {
    int32_t rows = bbuf_size / static_cast<int32_t>(L);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < 720; ++x) d.bb(x, y) = 0xff000000u | static_cast<uint32_t>(y << 10 | x);
    }
}

TEST(Copy, TopAndBottomPositions) {
    fake_display d;
    pattern_bb(d);
    painted_record = &g_record;
    const int32_t rows = 4 * 51;
    fb_show_back_buffer(1);
    EXPECT_EQ(subtitle_shown, 1);
    EXPECT_EQ(d.px(0, 81), 0u);
    for (int y = 0; y < rows; ++y) {
        ASSERT_EQ(d.px(3, 82 + y), d.bb(3, y)) << y;
        ASSERT_EQ(d.px(719, 82 + y), d.bb(719, y)) << y;
    }
    EXPECT_EQ(d.px(0, 82 + rows), 0u);

    d.fill(0);
    const int64_t bottom = bottom_target_max / L;
    fb_show_back_buffer(0);
    EXPECT_EQ(d.px(0, bottom - 1), 0u);
    // Cut at the end of the mapping.
    for (int y = 0; y < rows && bottom + y < 576; ++y)
        ASSERT_EQ(d.px(7, bottom + y), d.bb(7, y)) << y;
    EXPECT_TRUE(d.guards_intact());

    // fb_put_back_subtitle puts it where the last subtitle was.
    d.fill(0);
    band_position = 1;
    fb_put_back_subtitle();
    EXPECT_EQ(d.px(9, 82), d.bb(9, 0));
}

TEST(Copy, NothingToPutBackWithoutARecord) {
    fake_display d;
    pattern_bb(d);
    painted_record = nullptr;
    fb_show_back_buffer(1);
    fb_put_back_subtitle();
    EXPECT_EQ(d.count_not(0), 0);
    EXPECT_EQ(subtitle_shown, 0);
}

TEST(Copy, IsShortenedAtTheEndOfTheMapping) {
    // A large zoom-7 line height: at the bottom position with zoom 0 the copy of
    // 240 lines from line 372 would run 36 lines past the mapping.
    fake_display d(2880, 2880 * 576, 60);
    zoom = 0;
    fb_compute_band();
    pattern_bb(d);
    painted_record = &g_record;
    ASSERT_EQ(bottom_target_max / L, 372);
    fb_show_back_buffer(0);
    EXPECT_TRUE(d.guards_intact());
    EXPECT_EQ(d.px(0, 372), d.bb(0, 0));
    EXPECT_EQ(d.px(719, 575), d.bb(719, 575 - 372));
}

TEST(Copy, TargetAboveTheMappingIsCutAtItsStart) {
    fake_display d;
    ey = 100;  // the bottom target lands before the first line
    fb_compute_band();
    pattern_bb(d);
    painted_record = &g_record;
    const int64_t target = bottom_target_max / L;
    ASSERT_LT(target, 0);
    fb_show_back_buffer(0);
    EXPECT_TRUE(d.guards_intact());
    EXPECT_EQ(d.px(5, 0), d.bb(5, -target));
    EXPECT_EQ(d.px(5, 4 * 51 + target - 1), d.bb(5, 4 * 51 - 1));
    EXPECT_EQ(d.px(5, 4 * 51 + target), 0u);
}

TEST(Targets, PixelSpansOfBothBuffers) {
    fake_display d;
    EXPECT_EQ(fb_pixels(0).data(), fb_mem);
    EXPECT_EQ(fb_pixels(0).size(), 720u * 576u);
    EXPECT_EQ(fb_pixels(1).data(), bbuf.get());
    EXPECT_EQ(fb_pixels(1).size(), 720u * 4u * 51u);
    EXPECT_EQ(fb_pixels(7).data(), bbuf.get());
}

}  // namespace
