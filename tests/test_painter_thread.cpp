// One thread paints subtitles over and over while the main thread restyles them,
// moves and insets the band, switches the palette and clears and restores the
// band. The paint lock must keep every paint whole: whenever no paint is running
// and a subtitle is on screen, the screen at its band position shows exactly the
// back buffer.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "tests/support/painter_support.h"
#include "tests/support/support.h"
#include "tmr/clock.h"

namespace {

class PainterThreads : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        inset_on = 0;
        bottom_shift = 0;
        top_shift = 0;
        painted_record = nullptr;
        subtitle_shown = 0;
        testsup::setup_box(root_, {.xres = 720, .yres = 576});
        ASSERT_EQ(testsup::open_display(), 1);
        painting = 0;
    }
    void TearDown() override { testsup::close_display(); }

    testsup::box_root root_;
};

// Checked under the paint lock: a whole paint or none.
bool screen_matches_back_buffer() {
    std::lock_guard paint_lock(paint_mutex);
    if (subtitle_shown == 0 || painted_record.load() == nullptr) return true;
    return testsup::screen_shows_bb_at(testsup::target_line(band_position));
}

TEST_P(PainterThreads, PaintsStayWholeUnderRestyling) {
    // Like the subtitle thread, or without the flag, so that the main thread's
    // repaints really run against the thread's paints.
    const bool as_thread = GetParam();
    // The last one is broken into screen lines at the larger sizes.
    subtitle records[4] = {
        testsup::make_record({"Eerste regel van de ondertitel", "en de tweede regel"}, 0x01),
        testsup::make_record({"Boven in beeld"}, 0x100),
        testsup::make_record({"Een", "twee", "drie", "vier"}, 0xE4),
        testsup::make_record({"Dat had je niet moeten zeggen, want nu weet iedereen het al en "
                              "dat was echt niet de bedoeling.",
                              "\x0b\x02Morgen\x0c gaan we samen naar zee."},
                             0x06),
    };
    constexpr int kPaints = 200;
    std::atomic<int> mismatches{0};
    std::atomic<bool> done{false};

    std::thread painter([&] {
        for (int i = 0; i < kPaints; ++i) {
            if (as_thread) painting = 1;
            fb_paint_subtitle(&records[i % 4]);
            if (as_thread) painting = 0;
            if (!screen_matches_back_buffer()) mismatches++;
            if (i % 7 == 0) fb_clear_subtitle();
        }
        done = true;
    });

    int steps = 0;
    while (!done || steps < 50) {
        switch (steps++ % 10) {
            case 0:
                fb_next_colour_scheme();
                break;
            case 1:
                fb_next_background();
                break;
            case 2:
                fb_next_zoom();
                break;
            case 3:
                fb_shift_band(-1);
                break;
            case 4:
                fb_shift_band(1);
                break;
            case 5:
                fb_toggle_inset();
                break;
            case 6:
                fb_next_palette();
                break;
            case 7:
                fb_put_back_subtitle();
                break;
            case 8:
                fb_clear_subtitle();
                break;
            case 9:
                fb_shift_band(-1);
                break;
        }
        if (!screen_matches_back_buffer()) mismatches++;
    }
    painter.join();

    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(steps, 0);
    // Still in working order: a paint after it all shows where it should.
    fb_paint_subtitle(&records[0]);
    EXPECT_TRUE(testsup::screen_shows_bb_at(testsup::target_line(0)));
}

INSTANTIATE_TEST_SUITE_P(Painting, PainterThreads, testing::Bool());

}  // namespace
