// Following the film on the box's video decoder: the sync point, pauses, jumps, the
// 33-bit wrap, shifts and positioning against the film, and a decoder that is
// missing, held by another program or failing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "app/app.h"
#include "fb/screen.h"
#include "rc/remote.h"
#include "sim/model.h"
#include "sub/subtitles.h"
#include "tests/support/store_support.h"
#include "tmr/clock.h"
#include "tmr/film.h"

namespace {

using testsup::wait_until;

// 0: 400..800 ms; 1: 1200..1600; 2: 60800..62000; 3: 3000000..3000400.
constexpr const char* kFilm =
    "[KTF2: 4 0 ]\n{10}{20}a\n{30}{40}b\n{1520}{1550}c\n{75000}{75010}d\n";

class Film : public testsup::ClockTest {
  protected:
    uint64_t start_pts = 0;

    void SetUp() override {
        ClockTest::SetUp();
        write_sub("film.tkx", kFilm);
        std::filesystem::create_symlink("film.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    }
    void TearDown() override {
        ClockTest::TearDown();
        tmr_film_close();
    }
    // Starts the player's side as main does: the decoder, then the thread.
    void start(const sim::video_config& video) {
        sim::set_video(video);
        ASSERT_TRUE(tmr_film_open());
        start_thread();
    }
    // OK: the clock starts at 0 and takes its sync point.
    void play() {
        start_pts = sim::video_pts();
        tmr_play();
    }
    // The film's time since play(), in ms.
    int64_t film_ms() const { return tmr_film_ms(start_pts, sim::video_pts()); }
    // Whether the clock agrees with the film (plus an offset) within a few frames.
    bool with_film(int64_t offset = 0) const {
        return std::llabs(int64_t{clock_ms.load()} - film_ms() - offset) < 150;
    }
};

TEST_F(Film, PausesAndJumpsOfTheFilmCarryTheSubtitles) {
    start({.present = true});
    play();
    ASSERT_TRUE(wait_until([] { return current_index == 1; }));
    EXPECT_EQ(painted_record.load(), &subtitles[0]);

    // The film stands: so does the clock (with the pause icon), and subtitle 1 waits.
    sim::video_pause();
    ASSERT_TRUE(wait_until([] { return film_paused == 1; }));
    EXPECT_EQ(clock_running, 1);
    EXPECT_EQ(status_playing, 0) << "the icon shows the pause";
    const uint32_t held = clock_ms;
    EXPECT_TRUE(with_film());
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_EQ(clock_ms, held);
    EXPECT_EQ(current_index, 1);
    sim::video_play();
    ASSERT_TRUE(wait_until([] { return current_index == 2; }));
    EXPECT_EQ(film_paused, 0);
    EXPECT_EQ(status_playing, 1);
    EXPECT_TRUE(with_film());

    // A minute forward (into subtitle 2): the index follows by search and it shows.
    sim::video_seek(60000);
    ASSERT_TRUE(wait_until([] { return current_index == 3; }));
    EXPECT_EQ(painted_record.load(), &subtitles[2]);
    EXPECT_TRUE(with_film());
    // And back before subtitle 0: the band is cleared and the index goes back with
    // the film, so subtitle 0 shows again.
    sim::video_seek(-61000);
    ASSERT_TRUE(wait_until([] { return clock_ms < 10000; }));
    ASSERT_TRUE(wait_until([] { return current_index == 1; }));
    EXPECT_EQ(painted_record.load(), &subtitles[0]);
}

// The film's pause key pressed before OK, then a seek while it stands: the clock
// starts standing and still moves with the film, and the subtitle there shows.
TEST_F(Film, ASeekOfAFilmPausedBeforeTheStartMovesTheStandingClock) {
    start({.present = true});
    sim::video_pause();
    play();
    ASSERT_TRUE(wait_until([] { return film_paused == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(clock_ms, 150u);
    sim::video_seek(61000);
    ASSERT_TRUE(wait_until([] { return current_index == 3; }));
    EXPECT_EQ(painted_record.load(), &subtitles[2]);
    // The decoder's state is not asked at every reading: the stamp that moved with
    // the seek must stand again for a moment before the pause is seen anew.
    ASSERT_TRUE(wait_until([] { return film_paused == 1; }));
    EXPECT_TRUE(with_film()) << clock_ms << " " << film_ms();
}

TEST_F(Film, ShiftsAndStepsMoveTheSubtitlesAgainstThePlayingFilm) {
    start({.present = true});
    play();
    ASSERT_TRUE(wait_until([] { return clock_ms > 600; }));
    // Half a second on: the clock stays ahead of the film by it.
    tmr_shift(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(with_film(500)) << clock_ms << " " << film_ms();
    // A step keeps following: the clock runs on from the subtitle's start.
    tmr_step_subtitle(0);
    EXPECT_EQ(clock_running, 1);
    EXPECT_TRUE(tmr_following());
    ASSERT_TRUE(wait_until([] { return clock_ms > 1300; }));
    // OK stops the clock and the following: the film goes on, the subtitles do not.
    tmr_stop();
    const uint32_t stopped = clock_ms;
    sim::video_seek(30000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(clock_ms, stopped);
    EXPECT_FALSE(tmr_following());
    // OK again takes a new sync point at the clock's time.
    play();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(with_film(stopped)) << clock_ms << " " << film_ms();
}

TEST_F(Film, AWrapOfTheTimeStampChangesNothing) {
    start({.present = true});
    sim::video_wrap();
    play();
    // The stamp wraps 2 s after the start; the clock runs straight through.
    ASSERT_TRUE(wait_until([] { return sim::video_pts() < 90000 * 10; }));
    ASSERT_TRUE(wait_until([] { return clock_ms > 2300; }));
    EXPECT_EQ(film_paused, 0);
    EXPECT_TRUE(with_film());
    EXPECT_EQ(current_index, 2);
    EXPECT_EQ(tmr_film_ms(kPtsWrap - 90, 90), 2);
    EXPECT_EQ(tmr_film_ms(90, kPtsWrap - 90), -2);
}

TEST_F(Film, AFailingReadLeavesTheClockRunningOnItsOwn) {
    start({.present = true});
    play();
    ASSERT_TRUE(wait_until([] { return clock_ms > 100; }));
    sim::video_fail_pts(true);
    // A seek the player cannot see: the clock runs on, it does not stand.
    sim::video_seek(5000);
    const uint32_t before = clock_ms;
    ASSERT_TRUE(wait_until([before] { return clock_ms > before + 400; }));
    EXPECT_EQ(film_paused, 0);
    // Reading again, the clock catches up with the film.
    sim::video_fail_pts(false);
    ASSERT_TRUE(wait_until([this] { return clock_ms > 5000 && with_film(); }));
}

TEST_F(Film, WithoutAUsableDecoderTheClockIsManual) {
    const sim::video_config cases[] = {
        {.present = false},
        {.present = true, .fail_open = true},
        {.present = true, .fail_pts = true},
    };
    for (const sim::video_config& video : cases) {
        sim::set_video(video);
        EXPECT_FALSE(tmr_film_open());
        EXPECT_FALSE(tmr_film_present());
        EXPECT_FALSE(sim::video_open()) << "nothing is left open";
    }
    start_thread();
    tmr_play();
    EXPECT_FALSE(tmr_following());
    // A film that stands does not stop the manual clock.
    sim::video_pause();
    ASSERT_TRUE(wait_until([] { return clock_ms > 400; }));
    EXPECT_EQ(film_paused, 0);
}

TEST(FilmGap, ASecondOrMoreEitherWayIsAJump) {
    const struct {
        int64_t difference;
        film_gap gap;
    } cases[] = {
        {0, film_gap::none},       {100, film_gap::none},   {-100, film_gap::none},
        {101, film_gap::drift},    {-101, film_gap::drift}, {999, film_gap::drift},
        {-999, film_gap::drift},   {1000, film_gap::jump},  {-1000, film_gap::jump},
        {3600000, film_gap::jump},
    };
    for (const auto& c : cases) EXPECT_EQ(tmr_film_gap(c.difference), c.gap) << c.difference;
}

// The decoder's state is asked at most once a second while its time stamp is read at
// every reading, and never again once the request failed; a pause is still seen.
TEST_F(Film, TheDecodersStateIsAskedSeldomAndNotAfterItFailed) {
    for (bool fail : {false, true}) {
        start({.present = true, .fail_status = fail});
        play();
        const uint64_t pts_before = sim::video_pts_requests();
        const uint64_t status_before = sim::video_status_requests();
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        EXPECT_GT(sim::video_pts_requests() - pts_before, 20u) << "read every 50 ms";
        const uint64_t asked = sim::video_status_requests() - status_before;
        if (fail) {
            EXPECT_EQ(asked, 0u) << "the request failed at opening";
        } else {
            EXPECT_GE(asked, 1u);
            EXPECT_LE(asked, 3u);
        }
        sim::video_pause();
        ASSERT_TRUE(wait_until([] { return film_paused == 1; })) << fail;
        sim::video_play();
        ASSERT_TRUE(wait_until([] { return film_paused == 0; })) << fail;
        EXPECT_TRUE(with_film());
        tmr_sub_deinit();
        thread_started = false;
        tmr_film_close();
    }
}

// Menus opened while the clock follows the film: the film runs on behind them, and
// the clock comes back to it; a rescale keeps the film's current time in place.
TEST_F(Film, MenusLeftWithoutAChoiceKeepTheFilmsClock) {
    write_sub("tweede.tkx", kFilm);
    ASSERT_EQ(rc_init(), 1);
    testsup::press(KEY_EXIT);  // a release: the remote's guard against the launching OK
    while (rc_read_key() >= 0) {
    }
    start({.present = true});
    play();
    ASSERT_TRUE(wait_until([] { return current_index == 1; }));
    // The key that opens the menu goes through the main loop's table; the one that
    // leaves it comes 1.2 s later, while the film runs on.
    const struct {
        const char* what;
        int open;
        int leave;
    } cases[] = {
        {"file menu", KEY_MENU, KEY_EXIT},
        {"FPS menu", KEY_TV, KEY_EXIT},
        {"FPS menu, red", KEY_TV, KEY_RED},
    };
    for (const auto& c : cases) {
        std::thread keys([&c] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
            testsup::press(c.leave);
        });
        app_key(c.open);
        keys.join();
        EXPECT_EQ(clock_running, 1) << c.what;
        EXPECT_TRUE(with_film()) << c.what << ": " << clock_ms << " " << film_ms();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(with_film()) << c.what << ": " << clock_ms << " " << film_ms();
    }
    // The film a minute on (inside subtitle 2, 60.8..62 s), a rescale 25 -> 23.976
    // there: subtitle 2 keeps its place about the film's time, the clock stays with
    // the film, and the subtitle shows.
    sim::video_seek(61000 - film_ms());
    ASSERT_TRUE(wait_until([] { return current_index == 3; }));
    const uint32_t start2 = subtitles[2].start_ms, end2 = subtitles[2].end_ms;
    std::thread keys([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        testsup::press(KEY_DOWN);
        testsup::press(KEY_OK);
    });
    app_key(KEY_TV);
    keys.join();
    EXPECT_TRUE(with_film()) << clock_ms << " " << film_ms();
    const int64_t now = clock_ms;
    // About the time of the choice: the start and end move by 1.042709 times their
    // distance from it, so less than 200 ms for a subtitle this close.
    EXPECT_LT(std::llabs(int64_t{subtitles[2].start_ms} - start2), 200) << now;
    EXPECT_LT(std::llabs(int64_t{subtitles[2].end_ms} - end2), 200) << now;
    EXPECT_GT(subtitles[3].start_ms, 3000000u + 14000u) << "a far subtitle moves by the rate";
    EXPECT_EQ(last_end_ms, static_cast<int32_t>(subtitles[3].end_ms));
    EXPECT_EQ(film_end_ms, subtitles[3].end_ms + 10);
    ASSERT_TRUE(wait_until([] { return current_index == 3; }));
    EXPECT_EQ(painted_record.load(), &subtitles[2]);
    rc_deinit();
}

}  // namespace

namespace {

// The second language follows the film on the same clock: a jump of the film takes it
// off and brings the one at the new place.
TEST_F(Film, TheSecondLanguageFollowsTheFilmsJumps) {
    // Second: 0: 300..900; 1: 61000..61800.
    write_sub("second.tkx", "[KTF2: 2 0 ]\n{8}{22}x\n{1525}{1545}y\n");
    start({.present = true});
    ASSERT_EQ(tmr_load_second("second.tkx"), 0);
    play();
    ASSERT_TRUE(wait_until(
        [] { return second_on_band == 1 && painted_second.load() == &second_subtitles[0]; }));
    sim::video_seek(60600);
    ASSERT_TRUE(wait_until(
        [] { return second_on_band == 1 && painted_second.load() == &second_subtitles[1]; }));
    EXPECT_TRUE(with_film());
    EXPECT_GE(clock_ms, 61000u);
    // Back to the start of the film: the clock follows, the one of the later place goes.
    sim::video_seek(-61000);
    ASSERT_TRUE(wait_until([] {
        return clock_ms < 3000 &&
               (second_on_band == 0 || painted_second.load() == &second_subtitles[0]);
    }));
}

}  // namespace
