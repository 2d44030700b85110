// The clock's operations on the main thread, without the subtitle thread: the
// positioning operations' index and time, the shift rules, start and stop.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sub/subtitles.h"
#include "tests/support/store_support.h"
#include "tmr/clock.h"

namespace {

using testsup::ClockTest;

// Twelve subtitles: record i runs from (i + 1) * 1000 to (i + 1) * 1000 + 400 ms.
constexpr const char* kFilm =
    "[KTF2: 12 0 ]\n"
    "{25}{35}s0\n{50}{60}s1\n{75}{85}s2\n{100}{110}s3\n{125}{135}s4\n{150}{160}s5\n"
    "{175}{185}s6\n{200}{210}s7\n{225}{235}s8\n{250}{260}s9\n{275}{285}s10\n{300}{310}s11\n";

uint32_t start_of(int i) {
    return static_cast<uint32_t>(i + 1) * 1000;
}

class Clock : public ClockTest {
  protected:
    void SetUp() override {
        ClockTest::SetUp();
        ASSERT_TRUE(install("film.tkx", kFilm));
        tmr_reset();
    }
    // The clock where a positioning operation leaves it: stopped at subtitle i.
    void expect_at(int i) {
        EXPECT_EQ(current_index, i);
        EXPECT_EQ(clock_ms, start_of(i));
        EXPECT_EQ(clock_running, 0);
        EXPECT_EQ(film_ended, 0);
    }
};

TEST_F(Clock, ResetUsesTheLastEnd) {
    current_index = 4;
    clock_ms = 777;
    tmr_reset();
    EXPECT_EQ(current_index, 0);
    EXPECT_EQ(clock_ms, 0u);
    EXPECT_EQ(film_end_ms, 12410u);
}

TEST_F(Clock, SetByIndex) {
    film_ended = 1;
    tmr_go_to_subtitle(5);
    expect_at(5);
    tmr_go_to_subtitle(11);
    expect_at(11);
    tmr_go_to_subtitle(12);  // not below the count: 0
    expect_at(0);
    tmr_go_to_subtitle(7);
    tmr_go_to_subtitle(-5);  // negative: 0
    expect_at(0);
    tmr_go_to_subtitle(7);
    film_ended = 1;
    tmr_go_to_subtitle(-1);  // reset
    EXPECT_EQ(current_index, 0);
    EXPECT_EQ(clock_ms, 0u);
    EXPECT_EQ(film_ended, 0);
}

TEST_F(Clock, Steps) {
    tmr_step_subtitle(0);  // from index 0 to subtitle 1
    expect_at(1);
    current_index = 5;
    tmr_step_subtitle(0);  // elsewhere it stays
    expect_at(5);
    tmr_step_subtitle(-2);
    expect_at(3);
    tmr_step_subtitle(9);  // near the end: the last subtitle
    expect_at(11);
    tmr_step_subtitle(9);
    expect_at(11);
    current_index = 12;  // one past the last, as after showing it
    tmr_step_subtitle(-1);
    expect_at(11);
    current_index = 3;
    tmr_step_subtitle(-11);  // below 0: 0
    expect_at(0);
    current_index = 0;
    tmr_step_subtitle(-1);
    expect_at(0);
}

TEST_F(Clock, StepsStopARunningClock) {
    tmr_play();
    ASSERT_EQ(clock_running, 1);
    current_index = 4;
    tmr_step_subtitle(clock_running - 2);
    expect_at(3);
    film_ended = 1;
    tmr_step_subtitle(0);
    expect_at(3);
}

TEST_F(Clock, SetByTime) {
    tmr_go_to_time(3200);  // inside subtitle 2: its start
    expect_at(2);
    tmr_go_to_time(3400);  // its end belongs to it
    expect_at(2);
    tmr_go_to_time(3401);  // between: the next one's start
    expect_at(3);
    tmr_go_to_time(0);
    expect_at(0);
    tmr_play();
    film_ended = 1;
    tmr_go_to_time(-1);
    EXPECT_EQ(current_index, 0);
    EXPECT_EQ(clock_ms, 0u);
    EXPECT_EQ(clock_running, 0);
    EXPECT_EQ(film_ended, 0);
}

TEST_F(Clock, TimePastTheLastSubtitleStaysInsideTheArray) {
    // As after a rescale below 1: the search returns the count.
    tmr_go_to_time(12401);
    expect_at(11);
    tmr_go_to_time(2000000000);
    expect_at(11);
}

TEST_F(Clock, ShiftRules) {
    clock_ms = 500;
    tmr_shift(1);  // at 500 nothing happens, in either direction
    EXPECT_EQ(clock_ms, 500u);
    EXPECT_EQ(clock_running, 0);
    tmr_shift(-1);
    EXPECT_EQ(clock_ms, 500u);
    EXPECT_EQ(clock_running, 0);

    // Without the thread nothing advances the word between the calls.
    clock_ms = 501;
    tmr_shift(-1);  // from 501 back to 1, and the clock runs
    EXPECT_EQ(clock_ms, 1u);
    EXPECT_EQ(clock_running, 1);
    tmr_stop();

    clock_ms = 2000;
    tmr_shift(1);
    EXPECT_EQ(clock_ms, 2500u);
    EXPECT_EQ(clock_running, 1);
    tmr_stop();

    clock_ms = 2000;
    film_ended = 1;
    tmr_shift(1);  // after the end of film: nothing
    EXPECT_EQ(clock_ms, 2000u);
    EXPECT_EQ(clock_running, 0);
}

TEST_F(Clock, ShiftCountsTheTimeRunSinceTheLastAdvance) {
    clock_ms = 10000;
    tmr_play();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    // Nothing has advanced the word while the clock ran: the shift must fold the
    // 60 ms in before it adds its 500.
    tmr_shift(1);
    tmr_stop();
    EXPECT_GE(clock_ms, 10560u);
}

TEST_F(Clock, StopKeepsTheTimeRunAndStaysStopped) {
    clock_ms = 1000;
    tmr_play();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    tmr_stop();
    uint32_t stopped = clock_ms;
    EXPECT_GE(stopped, 1049u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // The stopped time does not count, however often the clock is stopped.
    tmr_stop();
    EXPECT_EQ(clock_ms, stopped);
}

TEST_F(Clock, PlayDoesNothingAfterTheEndOfFilm) {
    film_ended = 1;
    tmr_play();
    EXPECT_EQ(clock_running, 0);
}

TEST_F(Clock, ResumePosition) {
    current_index = 6;
    EXPECT_EQ(tmr_resume_index(), 6);
    film_ended = 1;
    EXPECT_EQ(tmr_resume_index(), 0);
}

TEST_F(Clock, WallClockMilliseconds) {
    int32_t a = tmr_get_ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    int32_t b = tmr_get_ms();
    // Differences only: the value itself wraps.
    EXPECT_GE(static_cast<uint32_t>(b) - static_cast<uint32_t>(a), 29u);
    EXPECT_LT(static_cast<uint32_t>(b) - static_cast<uint32_t>(a), 60000u);
}

class NoSubtitles : public ClockTest {};

TEST_F(NoSubtitles, PositioningReadsNoRecord) {
    current_index = 3;
    tmr_step_subtitle(9);
    EXPECT_EQ(current_index, 0);
    EXPECT_EQ(clock_ms, 0u);
    tmr_go_to_time(5000);
    EXPECT_EQ(current_index, 0);
    tmr_go_to_subtitle(2);
    EXPECT_EQ(current_index, 0);
    EXPECT_EQ(tmr_sub_deinit(), 0);  // no thread was started: returns at once
    EXPECT_EQ(thread_state, 2);
}

}  // namespace
