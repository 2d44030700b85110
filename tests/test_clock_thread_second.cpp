// The second language on the subtitle thread: both files shown and cleared in time on
// one clock, positioning and rescale moving both, the own shift moving only the
// second, the first file's shift leaving the second in its place, and the second put
// back after a box and taken off when it is turned off.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fb/screen.h"
#include "menu/menus.h"
#include "sub/subtitles.h"
#include "tests/support/store_support.h"
#include "tmr/clock.h"

namespace {

using testsup::ClockTest;
using testsup::wait_until;

class SecondThread : public ClockTest {
  protected:
    // The first file linked and played by the thread, the second chosen beside it.
    void start_with(const std::string& first, const std::string& second) {
        write_sub("first.tkx", first);
        write_sub("second.tkx", second);
        std::filesystem::create_symlink("first.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
        start_thread();
        ASSERT_EQ(tmr_load_second("second.tkx"), 0);
    }
    static bool second_shows(int32_t index) {
        return second_on_band == 1 && painted_second.load() == &second_subtitles[index];
    }
};

TEST_F(SecondThread, BothFilesShowAndClearInTimeOnOneClock) {
    // First: 200..400, 1000..1200. Second: 320..600, 800..1120 (overlapping the first's).
    start_with("[KTF2: 2 0 ]\n{5}{10}a\n{25}{30}c\n", "[KTF2: 2 0 ]\n{8}{15}x\n{20}{28}y\n");
    EXPECT_EQ(second_count, 2);
    EXPECT_EQ(subtitle_count, 2) << "the first file's count stays its own";
    tmr_play();
    ASSERT_TRUE(wait_until([] { return second_shows(0); }));
    // Cleared after its end, before the next one starts (or the next is already up).
    ASSERT_TRUE(wait_until([] { return second_on_band == 0 || second_shows(1); }));
    if (second_on_band == 0) {
        EXPECT_GT(clock_ms, 600u);
    }
    ASSERT_TRUE(wait_until([] { return second_shows(1); }));
    EXPECT_GE(clock_ms, 800u);
    ASSERT_TRUE(wait_until([] { return second_on_band == 0; }));
    EXPECT_GT(clock_ms, 1120u);
    ASSERT_TRUE(wait_until([] { return film_ended == 1; }));
    EXPECT_EQ(painted_record.load(), &subtitles[1]);
}

TEST_F(SecondThread, PositioningAndTypedTimeMoveBoth) {
    // First: 0: 1000..2000, 1: 3000..4000, 2: 5000..6000.
    // Second: 0: 1200..1800, 1: 2800..3600, 2: 5200..5400.
    start_with("[KTF2: 3 0 ]\n{25}{50}a\n{75}{100}b\n{125}{150}c\n",
               "[KTF2: 3 0 ]\n{30}{45}x\n{70}{90}y\n{130}{135}z\n");
    struct step {
        const char* what;
        void (*move)();
        int32_t first_index;  // the first file's index once its subtitle is shown
        int32_t second;       // the second-language record on the band, -1 none
    };
    const step steps[] = {
        {"typed time inside both", [] { tmr_go_to_time(3200); }, 2, 1},
        {"back to the first subtitle's start", [] { tmr_go_to_subtitle(0); }, 1, -1},
        {"ten on, clamped to the last", [] { tmr_step_subtitle(9); }, 3, -1},
        {"back one subtitle", [] { tmr_step_subtitle(-2); }, 2, 1},
    };
    for (const step& s : steps) {
        s.move();
        // The steps count from the first file's index, which moves on once it shows.
        EXPECT_TRUE(wait_until([&] { return current_index == s.first_index; })) << s.what;
        if (s.second < 0) {
            EXPECT_TRUE(wait_until([] { return second_on_band == 0; })) << s.what;
        } else {
            EXPECT_TRUE(wait_until([&] { return second_shows(s.second); })) << s.what;
        }
    }
    // The clock's start at 1000 lies before the second's 1200: it comes when the clock runs.
    tmr_go_to_subtitle(0);
    tmr_play();
    EXPECT_TRUE(wait_until([] { return second_shows(0); }));
    EXPECT_GE(clock_ms, 1200u);
}

TEST_F(SecondThread, OwnShiftMovesOnlyTheSecondAndTheFirstShiftLeavesItInPlace) {
    // First: 1000..2000. Second: 0: 1000..1480, 1: 1520..2400.
    start_with("[KTF2: 1 0 ]\n{25}{50}a\n", "[KTF2: 2 0 ]\n{25}{37}x\n{38}{60}y\n");
    tmr_go_to_subtitle(0);
    ASSERT_TRUE(wait_until([] { return second_shows(0) && subtitle_shown == 1; }));
    // +600: x is at 1600..2080, nothing of the second at 1000; the first stays.
    EXPECT_EQ(tmr_shift_second(600), 600);
    ASSERT_TRUE(wait_until([] { return second_on_band == 0; }));
    EXPECT_EQ(subtitle_shown, 1);
    EXPECT_EQ(subtitles[0].start_ms, 1000u);
    // -600 from there: y is at 320..1200, which holds the clock.
    EXPECT_EQ(tmr_shift_second(-1200), -600);
    ASSERT_TRUE(wait_until([] { return second_shows(1); }));
    EXPECT_EQ(clock_ms, 1000u);
    // The viewer's half second is the first file's: the second's shift follows the
    // clock, so the second keeps its place in the film.
    tmr_shift(1);
    EXPECT_EQ(second_shift_ms, -100);
    tmr_stop();
    tmr_shift(-1);
    EXPECT_EQ(second_shift_ms, -600);
    // The shift is held at ten minutes either way.
    EXPECT_EQ(tmr_shift_second(-700000), -600000);
}

TEST_F(SecondThread, RescaleMovesBothFiles) {
    start_with("[KTF2: 1 0 ]\n{25}{50}a\n", "[KTF2: 1 0 ]\n{1500}{1525}x\n");
    const float factor = fps_factors[3];  // 25 / 24
    tmr_rescale(factor);
    EXPECT_EQ(subtitles[0].start_ms, 1041u);
    EXPECT_EQ(second_subtitles[0].start_ms, 62499u);
    EXPECT_EQ(second_subtitles[0].end_ms, 63541u);
    // Putting the second on a correction of its own times leaves the first's.
    tmr_map_second({-500, 25, 24});
    EXPECT_EQ(second_subtitles[0].start_ms, 62000u);
    EXPECT_EQ(second_subtitles[0].end_ms, 63042u);
    EXPECT_EQ(subtitles[0].start_ms, 1041u);
}

TEST_F(SecondThread, ComesBackAfterABoxAndGoesWhenTurnedOff) {
    start_with("[KTF2: 1 0 ]\n{25}{50}a\n", "[KTF2: 1 0 ]\n{20}{60}x\n");
    tmr_go_to_subtitle(0);
    ASSERT_TRUE(wait_until([] { return second_shows(0) && subtitle_shown == 1; }));
    // Closing a box clears the whole band; the thread puts the second back.
    menu_help_box(1);
    menu_help_box(0);
    ASSERT_TRUE(wait_until([] { return second_shows(0); }));
    EXPECT_EQ(subtitle_shown, 1);

    // A file that does not load leaves the second as it was.
    EXPECT_EQ(tmr_load_second("missing.tkx"), 2);
    EXPECT_EQ(second_count, 1);
    EXPECT_EQ(tmr_load_second("../first.tkx"), 2);

    tmr_release_second();
    EXPECT_EQ(second_on_band, 0);
    EXPECT_EQ(painted_second.load(), nullptr);
    EXPECT_EQ(second_subtitles.load(), nullptr);
    EXPECT_EQ(second_name[0], '\0');
    EXPECT_EQ(subtitle_shown, 1) << "the first language stays";
    EXPECT_EQ(subtitle_count, 1);
}

}  // namespace
