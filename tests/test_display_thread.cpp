// Both threads draw on a driver in manual-blit mode: the subtitle thread paints and
// clears while the main thread draws the status line. Whatever the interleaving, the
// viewer ends up seeing exactly what was drawn, and never more than one blit a drawing.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "fb/painter.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "sim/picture.h"
#include "tests/support/painter_support.h"
#include "tests/support/support.h"

namespace {

std::vector<uint32_t> memory_picture() {
    sim::picture p;
    std::lock_guard lock(pixel_mutex);
    const sim::fb_state st = sim::framebuffer();
    auto mem = sim::fb_memory();
    sim::copy_visible_area(mem, st.var.xres, st.var.yres, st.fix.line_length, p);
    return p.argb;
}

TEST(DisplayThreads, WhatTheViewerSeesCatchesUpWithBothThreads) {
    testsup::box_root root(testsup::dejavu_condensed());
    testsup::setup_box(root, {.xres = 1280, .yres = 720, .manual_blit = true});
    ASSERT_EQ(testsup::open_display(), 1);
    static subtitle lines[2] = {testsup::make_record({"Hallo wereld", "tweede regel"}, 0),
                                testsup::make_record({"Boven"}, 0x100)};
    constexpr int kRounds = 60;
    const int blits_before = sim::framebuffer().blits_done;
    std::atomic<bool> go{false};
    std::thread subtitles([&] {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < kRounds; ++i) {
            fb_paint_subtitle(&lines[i % 2]);
            if (i % 3 == 2) fb_clear_subtitle();
        }
    });
    go = true;
    for (int i = 0; i < kRounds; ++i) {
        fb_show_status(i % 2 == 0 ? "Druk: OK" : "Tijd");
        sim::picture seen;
        sim::grab_framebuffer(seen);  // the window looks at the screen meanwhile
    }
    subtitles.join();

    sim::picture seen;
    sim::grab_framebuffer(seen);
    EXPECT_EQ(seen.argb, memory_picture()) << "the last change of each thread was blitted";
    const int blits = sim::framebuffer().blits_done - blits_before;
    EXPECT_GE(blits, kRounds);
    EXPECT_LE(blits, kRounds + kRounds + kRounds / 3);
    testsup::close_display();
}

}  // namespace
