// Following the film on the box's video decoder: the sync point, pauses, jumps, the
// 33-bit wrap, shifts and positioning against the film, and a decoder that is
// missing, held by another program or failing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "fb/screen.h"
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
    const uint32_t held = clock_ms;
    EXPECT_TRUE(with_film());
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_EQ(clock_ms, held);
    EXPECT_EQ(current_index, 1);
    sim::video_play();
    ASSERT_TRUE(wait_until([] { return current_index == 2; }));
    EXPECT_EQ(film_paused, 0);
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
    EXPECT_EQ(film_paused, 1);
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

}  // namespace
