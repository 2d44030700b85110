// The box's display under its own software, through the simulated driver: the mode and
// page given back at every way out, the first page panned to, the manual blit, and a
// depth the player cannot draw in.
#include <gtest/gtest.h>
#include <linux/input.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "menu/menus.h"
#include "menu/window.h"
#include "rc/remote.h"
#include "sim/picture.h"
#include "tests/support/menu_support.h"
#include "tests/support/painter_support.h"
#include "tests/support/support.h"

namespace {

// The box software's own menus: 1280 x 720, double-buffered.
constexpr sim::fb_config kBoxMenus{.xres = 1280, .yres = 720};

std::atomic<int> signals_seen{0};
extern "C" void count_signal(int) {
    signals_seen++;
}

bool all_zero() {
    auto mem = sim::fb_memory();
    return std::all_of(mem.begin(), mem.end(), [](uint32_t w) { return w == 0; });
}

// Visible pixels (alpha not 0) of what the viewer sees.
size_t seen_pixels() {
    sim::picture p;
    sim::grab_framebuffer(p);
    return static_cast<size_t>(
        std::count_if(p.argb.begin(), p.argb.end(), [](uint32_t w) { return (w >> 24) != 0; }));
}

// Visible pixels the player has written where it draws: the first page of the memory.
size_t drawn_pixels() {
    std::lock_guard lock(pixel_mutex);
    const sim::fb_state st = sim::framebuffer();
    auto mem = sim::fb_memory();
    const size_t stride = st.fix.line_length / 4;
    size_t n = 0;
    for (size_t y = 0; y < st.var.yres; ++y) {
        for (size_t x = 0; x < st.var.xres && y * stride + x < mem.size(); ++x) {
            n += (mem[y * stride + x] >> 24) != 0;
        }
    }
    return n;
}

sighandler_t disposition(int sig) {
    struct sigaction now {};
    sigaction(sig, nullptr, &now);
    return now.sa_handler;
}

// A way out of the player after the mode was set; returns what it left behind for the
// caller to look at (the driver is inspected afterwards).
struct way_out {
    const char* name;
    sim::fb_config cfg;
    int remotes;
    std::function<void()> run;
    bool screen_cleared;  // the player drew, so the end clears
};

class ModeGivenBack : public testing::TestWithParam<way_out> {};

TEST_P(ModeGivenBack, TheDriverEndsInTheModeAndPageItStartedIn) {
    testsup::box_root root(testsup::dejavu_condensed());
    sim::fb_config cfg = GetParam().cfg;
    testsup::setup_box(root, cfg, GetParam().remotes);
    auto mem = sim::fb_memory();
    std::fill(mem.begin(), mem.end(), 0x5au);  // the box software's picture
    const sim::fb_state before = sim::framebuffer();
    signals_seen = 0;

    testsup::capture_output(GetParam().run);

    const sim::fb_state after = sim::framebuffer();
    EXPECT_GE(after.put_count, 2) << "the player's mode, then the driver's back";
    EXPECT_EQ(after.var.xres, before.var.xres);
    EXPECT_EQ(after.var.yres, before.var.yres);
    EXPECT_EQ(after.var.yres_virtual, before.var.yres_virtual);
    EXPECT_EQ(after.var.yoffset, before.var.yoffset);
    EXPECT_EQ(after.var.bits_per_pixel, before.var.bits_per_pixel);
    if (GetParam().screen_cleared) {
        EXPECT_TRUE(all_zero()) << "cleared before the mode went back";
    }
    // Handlers are the program's own again after every way out.
    EXPECT_NE(disposition(SIGTERM), SIG_IGN);
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_TRUE(now.sa_handler == SIG_DFL || now.sa_handler == count_signal);
}

// Opens the display, draws, and lets a signal arrive. The test's own handler stands for
// the default action (which would end the test): the player's handler gives the display
// back and then passes the signal on to it.
void signal_after_drawing(int sig) {
    struct sigaction mine {};
    mine.sa_handler = count_signal;
    sigemptyset(&mine.sa_mask);
    sigaction(sig, &mine, nullptr);
    ASSERT_EQ(testsup::open_display(), 1);
    fb_fill(0, 100, 100, 50, 20, 7);
    EXPECT_NE(disposition(sig), count_signal) << "the player's handler is in place";
    const int puts = sim::framebuffer().put_count;
    raise(sig);
    EXPECT_EQ(signals_seen, 1) << "the signal goes on to what was there before";
    EXPECT_EQ(disposition(sig), count_signal);
    EXPECT_EQ(sim::framebuffer().put_count, puts + 1);
    // The process would have ended; a shut-down that runs anyway puts nothing twice.
    testsup::close_display();
    EXPECT_EQ(sim::framebuffer().put_count, puts + 1);
    signal(sig, SIG_DFL);
}

INSTANTIATE_TEST_SUITE_P(
    WaysOut, ModeGivenBack,
    testing::Values(way_out{"NormalEnd", kBoxMenus, 1,
                            [] {
                                ASSERT_EQ(testsup::open_display(), 1);
                                fb_show_status("Hallo");
                                testsup::close_display();
                            },
                            true},
                    way_out{"SecondPageShown",
                            {.xres = 1280, .yres = 720, .pages = 2, .shown_page = 1},
                            1,
                            [] {
                                ASSERT_EQ(testsup::open_display(), 1);
                                testsup::close_display();
                            },
                            true},
                    // The player ends in its start-up, after its mode was put.
                    way_out{"MappingFails",
                            {.xres = 1280, .yres = 720, .fail_mmap = true},
                            1,
                            [] { EXPECT_EQ(testsup::open_display(), 0); },
                            false},
                    way_out{"NoRemoteControl",
                            {.xres = 1280, .yres = 720, .pages = 2, .shown_page = 1},
                            0,
                            [] { EXPECT_EQ(app_start(), 1); },
                            true},
                    way_out{"SixteenBitDisplay",
                            {.xres = 1280, .yres = 720, .bits_per_pixel = 16, .keep_depth = true},
                            1,
                            [] { EXPECT_EQ(app_start(), 1); },
                            false},
                    way_out{"Sigterm",
                            {.xres = 1920, .yres = 1080, .pages = 2, .shown_page = 1},
                            1,
                            [] { signal_after_drawing(SIGTERM); },
                            true},
                    way_out{"Sigint", kBoxMenus, 1, [] { signal_after_drawing(SIGINT); }, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Signals, AnIgnoredSignalStaysIgnoredAndTheHandlersGoWithTheDisplay) {
    testsup::box_root root;
    testsup::setup_box(root, kBoxMenus);
    signal(SIGINT, SIG_IGN);
    ASSERT_EQ(testsup::open_display(), 1);
    EXPECT_EQ(disposition(SIGINT), SIG_IGN) << "started in the background: still ignored";
    EXPECT_NE(disposition(SIGTERM), SIG_DFL);
    testsup::close_display();
    EXPECT_EQ(disposition(SIGINT), SIG_IGN);
    EXPECT_EQ(disposition(SIGTERM), SIG_DFL);
    signal(SIGINT, SIG_DFL);
}

TEST(Pages, ThePlayerDrawsOnThePageTheViewerSees) {
    struct driver {
        sim::fb_config cfg;
        int pans;  // at start-up, and when the mode alone does not bring the page back
    };
    for (auto [cfg, pans] :
         {driver{{.xres = 1280, .yres = 720, .pages = 2, .shown_page = 1}, 1},
          driver{{.xres = 720, .yres = 576, .pages = 2, .shown_page = 1}, 1},
          driver{{.xres = 1280, .yres = 720, .pages = 2}, 0}, driver{kBoxMenus, 0}}) {
        SCOPED_TRACE(testing::Message() << cfg.xres << "x" << cfg.yres << " page " << cfg.shown_page
                                        << " of " << cfg.pages);
        testsup::box_root root;
        testsup::setup_box(root, cfg);
        ASSERT_EQ(testsup::open_display(), 1);
        EXPECT_EQ(sim::framebuffer().var.yoffset, 0u);
        EXPECT_EQ(sim::framebuffer().pan_count, pans);
        EXPECT_EQ(seen_pixels(), 0u);
        fb_fill(0, 100, 100, 50, 20, 7);
        EXPECT_GE(drawn_pixels(), 1000u);
        EXPECT_EQ(seen_pixels(), drawn_pixels());
        testsup::close_display();
        EXPECT_EQ(sim::framebuffer().var.yoffset, cfg.shown_page * cfg.yres);
    }
}

// A drawing on a driver in manual-blit mode; after it the viewer sees all it drew.
struct drawing {
    const char* name;
    std::function<void()> draw;
};

TEST(ManualBlit, EveryChangeIsBlittedOnceAndTheModeIsNeverSwitched) {
    testsup::box_root root(testsup::dejavu_condensed());
    testsup::setup_box(root, {.xres = 1280, .yres = 720, .manual_blit = true});
    ASSERT_EQ(testsup::open_display(), 1);
    ASSERT_EQ(rc_init(), 1);
    last_code = 0;
    EXPECT_EQ(sim::framebuffer().blits_done, 1) << "the cleared screen at start-up";
    static subtitle two_lines = testsup::make_record({"Hallo wereld", "tweede regel"}, 0);
    const drawing steps[] = {
        {"subtitle", [] { fb_paint_subtitle(&two_lines); }},
        {"subtitle cleared", [] { fb_clear_subtitle(); }},
        {"status line", [] { fb_show_status("Druk: OK"); }},
        {"status line cleared", [] { fb_clear_status(); }},
        {"status icons", [] { fb_show_icons(); }},
        {"icons cleared", [] { fb_clear_status(); }},
        {"repaint", [] { fb_put_back_subtitle(); }},
        {"help box", [] { menu_help_box(1); }},
        {"help box closed", [] { menu_help_box(0); }},
    };
    for (const drawing& d : steps) {
        SCOPED_TRACE(d.name);
        const int blits = sim::framebuffer().blits_done;
        const size_t drawn = drawn_pixels();
        d.draw();
        EXPECT_NE(drawn_pixels(), drawn) << "the step changes the screen";
        EXPECT_EQ(seen_pixels(), drawn_pixels());
        // Glyphs, lines and the copy: one blit for each change (closing the help box
        // clears, then puts the subtitle back).
        EXPECT_GE(sim::framebuffer().blits_done, blits + 1);
        EXPECT_LE(sim::framebuffer().blits_done, blits + 2);
    }
    // A paint of four lines of text is one blit, however many glyphs it has.
    static subtitle four_lines =
        testsup::make_record({"Een lange regel ondertitels", "nog een", "en nog een", "vier"}, 0);
    int blits = sim::framebuffer().blits_done;
    fb_paint_subtitle(&four_lines);
    EXPECT_EQ(sim::framebuffer().blits_done, blits + 1);

    // A dialog is on screen while it waits for its answer; answered, it is gone.
    blits = sim::framebuffer().blits_done;
    fb_clear_subtitle();
    auto answer = testsup::start_modal([] { return menu_dialog(1, 15, "Wissen?"); });
    EXPECT_TRUE(testsup::wait_until([] { return seen_pixels() > 1000; }));
    EXPECT_EQ(seen_pixels(), drawn_pixels()) << "the whole dialog, not a part";
    testsup::queue({testsup::kDrained, KEY_OK});
    EXPECT_EQ(testsup::finish_modal(answer), 1);
    EXPECT_EQ(seen_pixels(), 0u);
    EXPECT_LE(sim::framebuffer().blits_done, blits + 4);

    rc_deinit();
    testsup::close_display();
    EXPECT_EQ(seen_pixels(), 0u) << "the end's clear is blitted too";
    EXPECT_EQ(sim::framebuffer().manual_blit_switches, 0);
    EXPECT_TRUE(sim::framebuffer().manual_blit) << "left as the box software set it";
}

TEST(ManualBlit, ADriverThatRefusesTheFirstBlitIsNeverAskedAgain) {
    struct driver {
        const char* name;
        sim::fb_config cfg;
        bool asked_again;
    };
    for (auto [name, cfg, asked_again] :
         {driver{"no manual blit (ENOTTY)", kBoxMenus, false},
          driver{"refuses (EINVAL)", {.manual_blit = true, .blit_errno = EINVAL}, false},
          driver{"passing failure (EIO)", {.manual_blit = true, .blit_errno = EIO}, true}}) {
        SCOPED_TRACE(name);
        testsup::box_root root(testsup::dejavu_condensed());
        testsup::setup_box(root, cfg);
        ASSERT_EQ(testsup::open_display(), 1);
        EXPECT_EQ(sim::framebuffer().blit_count, 1);
        static subtitle line = testsup::make_record({"Hallo"}, 0);
        for (int i = 0; i < 3; ++i) {
            fb_paint_subtitle(&line);
            fb_show_status("Druk");
            fb_clear_subtitle();
        }
        testsup::close_display();
        if (asked_again) {
            EXPECT_GE(sim::framebuffer().blit_count, 10);
        } else {
            EXPECT_EQ(sim::framebuffer().blit_count, 1);
        }
    }
}

TEST(Depth, ASixteenBitDisplayEndsTheStartSayingWhichDepthItOffers) {
    struct driver {
        bool refuse;
        const char* line;
    };
    for (auto [refuse, line] :
         {driver{true, "fb_init: 16 bits per pixel, 32 refused (driver offers 16 bpp): "},
          driver{false, "fb_init: 16 bits per pixel, 32 refused (driver offers 16 bpp)\n"}}) {
        testsup::box_root root;
        testsup::setup_box(root, {.xres = 1280,
                                  .yres = 720,
                                  .bits_per_pixel = 16,
                                  .refuse_depth = refuse,
                                  .keep_depth = !refuse});
        int status = -1;
        std::string out = testsup::capture_output([&] { status = app_start(); });
        EXPECT_EQ(status, 1);
        EXPECT_NE(out.find(line), std::string::npos) << out;
        EXPECT_EQ(sim::framebuffer().var.bits_per_pixel, 16u);
        EXPECT_EQ(sim::framebuffer().var.xres, 1280u);
        EXPECT_FALSE(sim::framebuffer().mapped);
    }
}

}  // namespace
