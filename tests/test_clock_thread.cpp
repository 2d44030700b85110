// The subtitle thread: start-up and stop, showing and clearing in time, the end of
// film, positioning while it runs, a shift that skips a short subtitle, and what the
// band shows when a box closes.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "fb/screen.h"
#include "menu/menus.h"
#include "sim/model.h"
#include "sub/subtitles.h"
#include "tests/support/store_support.h"
#include "tmr/clock.h"

namespace {

using testsup::ClockTest;
using testsup::wait_until;

class Thread : public ClockTest {
  protected:
    // Installs a film as the linked file and starts the thread over it.
    void start_with(const std::string& film) {
        write_sub("film.tkx", film);
        std::filesystem::create_symlink("film.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
        start_thread();
    }
};

TEST_F(Thread, StartsStopsAndReleases) {
    start_with("[KTF2: 2 0 ]\n{25}{50}a\n{75}{100}b\n");
    EXPECT_EQ(thread_state, 0);
    ASSERT_NE(subtitles.load(), nullptr);
    EXPECT_EQ(subtitle_count, 2);
    EXPECT_EQ(film_end_ms, 4010u);
    EXPECT_EQ(current_index, 0);
    EXPECT_EQ(tmr_sub_deinit(), 0);
    thread_started = false;
    EXPECT_EQ(thread_state, 2);
    EXPECT_EQ(subtitles.load(), nullptr);
    EXPECT_EQ(subtitle_count, 0);
    EXPECT_TRUE(subtitles_ever_loaded);
}

TEST_F(Thread, RunsWithoutSubtitles) {
    start_thread();
    EXPECT_EQ(subtitles.load(), nullptr);
    tmr_play();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(current_index, 0);
    EXPECT_EQ(film_ended, 0);
}

TEST_F(Thread, ResumePositionSurvivesTheStart) {
    start_with("[KTF2: 5 0 ]\n{25}{30}a\n{50}{55}b\n{75}{80}c\n{100}{105}d\n{125}{130}e\n");
    // As main does right after tmr_sub_init returns.
    tmr_go_to_subtitle(3);
    // The stopped clock stands inside subtitle 3: the thread shows it and moves on.
    ASSERT_TRUE(wait_until([] { return current_index == 4; }));
    EXPECT_EQ(clock_ms, 4000u);
    EXPECT_EQ(clock_running, 0);
    EXPECT_EQ(painted_record.load(), &subtitles[3]);
}

TEST_F(Thread, ShowsAndClearsInTimeAndEndsTheFilmOnce) {
    // 40 ms frames: 200..400, 600..800, 1000..1200 ms.
    start_with("[KTF2: 3 0 ]\n{5}{10}a\n{15}{20}b\n{25}{30}c\n");
    auto start = std::chrono::steady_clock::now();
    tmr_play();
    // The first subtitle is painted in its interval, then cleared once its end has
    // passed (observed together: this thread may be held off meanwhile).
    ASSERT_TRUE(wait_until([] { return current_index >= 1; }));
    ASSERT_TRUE(wait_until([] { return subtitle_shown == 0 || current_index >= 2; }));
    if (current_index == 1) {
        EXPECT_GT(clock_ms, 400u);
    }
    ASSERT_TRUE(wait_until([] { return current_index == 3; }));
    ASSERT_TRUE(wait_until([] { return film_ended == 1; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1210));
    EXPECT_EQ(clock_running, 0);
    EXPECT_GT(clock_ms, 1210u);
    EXPECT_EQ(tmr_resume_index(), 0);
    EXPECT_EQ(painted_record.load(), &subtitles[2]);
    EXPECT_TRUE(wait_until([] { return subtitle_shown == 0; }));

    // Only once: while the flag stands nothing starts the clock again.
    tmr_play();
    tmr_shift(1);
    EXPECT_EQ(clock_running, 0);

    // A positioning operation clears the flag; the end comes again once the time passes.
    tmr_go_to_subtitle(2);
    EXPECT_EQ(film_ended, 0);
    ASSERT_TRUE(wait_until([] { return current_index == 3; }));
    EXPECT_EQ(tmr_resume_index(), 3);
    tmr_play();
    ASSERT_TRUE(wait_until([] { return film_ended == 1; }));
}

TEST_F(Thread, JumpShowsTheTargetAtOnce) {
    start_with("[KTF2: 3 0 ]\n{250}{300}a\n{500}{550}b\n{750}{800}c\n");
    tmr_go_to_time(21000);
    ASSERT_TRUE(wait_until([] { return current_index == 2; }));
    EXPECT_EQ(clock_ms, 20000u);
    EXPECT_EQ(painted_record.load(), &subtitles[1]);
    tmr_step_subtitle(-2);
    ASSERT_TRUE(wait_until([] { return current_index == 1; }));
    EXPECT_EQ(painted_record.load(), &subtitles[0]);
}

TEST_F(Thread, ForwardShiftSkipsAShortSubtitleButShowsTheNext) {
    // 0: 1000..1100; 1: 1200..1400 (short); 2: 1600..1680; end of film after 1690.
    start_with("[KTF2: 3 0 ]\n{25}{27}a\n{30}{35}b\n{40}{42}c\n");
    tmr_go_to_subtitle(0);
    ASSERT_TRUE(wait_until([] { return current_index == 1; }));
    // From 1000 to 1500, running: subtitle 1 lies wholly in the jump and stays unshown,
    // but the index moves past it, so subtitle 2 is shown in its time.
    tmr_shift(1);
    ASSERT_TRUE(wait_until([] { return current_index != 1; }));
    EXPECT_EQ(current_index, 2);
    EXPECT_EQ(painted_record.load(), &subtitles[0]);
    ASSERT_TRUE(wait_until([] { return film_ended == 1; }));
    EXPECT_EQ(current_index, 3);
    EXPECT_EQ(painted_record.load(), &subtitles[2]);
}

TEST_F(Thread, AClosingBoxShowsWhatTheClockSaysBelongsOnTheBand) {
    // 0: 600..1000; 1: 20000..20200.
    start_with("[KTF2: 2 0 ]\n{15}{25}a\n{500}{505}b\n");
    tmr_go_to_subtitle(0);
    ASSERT_TRUE(wait_until([] { return current_index == 1 && subtitle_shown == 1; }));
    // Stopped inside the interval: the subtitle comes back.
    menu_help_box(1);
    menu_help_box(0);
    EXPECT_EQ(subtitle_shown, 1);
    // Past its end: the thread clears it, and a box closing leaves the band clear.
    tmr_shift(1);
    ASSERT_TRUE(wait_until([] { return subtitle_shown == 0; }));
    tmr_stop();
    menu_help_box(1);
    menu_help_box(0);
    EXPECT_EQ(subtitle_shown, 0);
    // Back inside its interval, running (the index stays past it): the box puts it
    // back, and the thread clears it again at its end.
    menu_help_box(1);
    tmr_shift(-1);
    menu_help_box(0);
    EXPECT_EQ(subtitle_shown, 1);
    ASSERT_TRUE(wait_until([] { return subtitle_shown == 0; }));
    EXPECT_GT(clock_ms, 1000u);
    EXPECT_EQ(current_index, 1);
}

TEST_F(Thread, StopTakesEffectWhileTheThreadSleeps) {
    start_with("[KTF2: 1 0 ]\n{250}{300}a\n");
    tmr_play();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    tmr_stop();
    uint32_t stopped = clock_ms;
    EXPECT_GE(stopped, 29u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(clock_ms, stopped);
    EXPECT_EQ(current_index, 0);
}

TEST_F(Thread, ReplacementWhileRunning) {
    start_with("[KTF2: 2 0 ]\n{5}{2500}a\n{2600}{2700}b\n");
    tmr_play();
    ASSERT_TRUE(wait_until([] { return current_index == 1; }));
    write_sub("other.tkx", "[KTF2: 2 0 ]\n{0}{5}x\n{10}{15}y\n");
    ASSERT_EQ(sub_load_new("other.tkx"), 0);
    // Stopped at time 0 inside the new subtitle 0, which the thread shows.
    ASSERT_TRUE(wait_until([] { return current_index == 1; }));
    EXPECT_EQ(painted_record.load(), &subtitles[0]);
    EXPECT_EQ(clock_running, 0);
}

TEST_F(Thread, StartsAndStopsAgainAndAgain) {
    write_sub("film.tkx", "[KTF2: 2 0 ]\n{0}{5}a\n{6}{8}b\n");
    std::filesystem::create_symlink("film.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(tmr_sub_init(), 0) << i;
        // Stopped at 0 inside the first subtitle: the new thread shows it.
        tmr_go_to_subtitle(0);
        ASSERT_TRUE(wait_until([] { return current_index == 1; })) << i;
        tmr_play();
        ASSERT_EQ(tmr_sub_deinit(), 0);
        ASSERT_EQ(thread_state, 2);
        ASSERT_EQ(subtitles.load(), nullptr);
    }
}

// Holds the first thread the player starts until released; later ones run at once.
struct late_first_thread {
    std::mutex m;
    std::condition_variable cv;
    int started = 0;
    bool released = false;

    void release() {
        std::lock_guard lk(m);
        released = true;
        cv.notify_all();
    }
};

TEST_F(Thread, ALateThreadEndsWithoutTouchingALaterStart) {
    write_sub("film.tkx",
              "[KTF2: 5 0 ]\n{25}{30}a\n{50}{55}b\n{75}{80}c\n{100}{105}d\n{125}{130}e\n");
    std::filesystem::create_symlink("film.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    // Threads of earlier tests have ended.
    ASSERT_TRUE(wait_until([] { return sim::threads_running() == 0; }));
    auto late = std::make_shared<late_first_thread>();
    sim::set_thread_hook([late] {
        std::unique_lock lk(late->m);
        if (late->started++ == 0) late->cv.wait(lk, [&] { return late->released; });
    });
    // Whatever fails below, the held thread is let go and ended before the test does.
    struct releaser {
        std::shared_ptr<late_first_thread> late;
        ~releaser() {
            late->release();
            wait_until([] { return sim::threads_running() <= 1; });
        }
    } guard{late};

    // The start gives up on the thread, and the program ends as after error box 6...
    EXPECT_EQ(tmr_sub_init(), 6);
    EXPECT_EQ(thread_state, 2);
    EXPECT_EQ(tmr_sub_deinit(), 0);
    EXPECT_EQ(subtitles.load(), nullptr);
    // ...and starts again, this time with a thread that reports in time.
    ASSERT_EQ(tmr_sub_init(), 0);
    thread_started = true;
    ASSERT_EQ(sim::threads_running(), 2);
    tmr_go_to_subtitle(3);
    ASSERT_TRUE(wait_until([] { return current_index == 4; }));

    // Now the first thread runs at last: it must end without resetting the clock of
    // the later start or running beside its thread.
    late->release();
    ASSERT_TRUE(wait_until([] { return sim::threads_running() == 1; }));
    EXPECT_EQ(current_index, 4);
    EXPECT_EQ(clock_ms, 4000u);
    EXPECT_EQ(thread_state, 0);
    EXPECT_EQ(tmr_sub_deinit(), 0);
    thread_started = false;
    EXPECT_EQ(thread_state, 2);
    EXPECT_TRUE(wait_until([] { return sim::threads_running() == 0; }));
}

TEST_F(Thread, DeinitWithoutAThreadDoesNotWait) {
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tmr_sub_deinit(), 0);
    EXPECT_EQ(thread_state, 2);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

}  // namespace
