// Direct time entry: the display text, the digit limits, the offset and the bound
// of the last subtitle, and an entry that survives other keys.
#include <gtest/gtest.h>

#include <string>

#include "sub/subtitles.h"
#include "tests/support/store_support.h"
#include "tmr/clock.h"
#include "tmr/time_entry.h"

namespace {

using testsup::ClockTest;

// Subtitles at 0.2 s, 12 s, 12:34 and 1:23:45 of the film (frames of 40 ms), with
// an offset of 5 frames (200 ms) that the entry subtracts.
constexpr const char* kFilm =
    "[KTF2: 4 5 ]\n"
    "{5}{25}a\n"
    "{300}{310}b\n"
    "{18845}{18900}c\n"
    "{125620}{125700}d\n";

class TimeEntry : public ClockTest {
  protected:
    void SetUp() override {
        ClockTest::SetUp();
        ASSERT_TRUE(install("film.tkx", kFilm));
        tmr_reset();
        entry_place = -1;
    }
    void type(std::initializer_list<int> digits) {
        for (int d : digits) tmr_enter_digit(d);
    }
    std::string text() const { return entry_text; }
};

TEST_F(TimeEntry, FillsThePlacesAndJumps) {
    tmr_enter_digit(1);
    tmr_enter_digit(2);
    EXPECT_EQ(text(), " Tijd: 1u 2-m --s");
    EXPECT_EQ(entry_place, 2);
    EXPECT_EQ(entry_value, 3600 + 1200);
    type({3, 4, 5});
    EXPECT_EQ(text(), " Tijd: 1u 23m 45s");
    EXPECT_EQ(entry_place, -1);
    EXPECT_EQ(entry_value, 5025000 - 200);
    // 5024800 ms lies inside subtitle 3 (5024800 .. 5028000): the clock goes to its start.
    EXPECT_EQ(current_index, 3);
    EXPECT_EQ(clock_ms, 5024800u);
    EXPECT_EQ(clock_running, 0);
}

TEST_F(TimeEntry, DigitAboveThePlaceLimitAbandons) {
    current_index = 2;
    clock_ms = 777;
    tmr_enter_digit(4);  // hours go up to 3
    EXPECT_EQ(entry_place, -1);
    EXPECT_EQ(current_index, 2);
    EXPECT_EQ(clock_ms, 777u);
    // The next digit starts a new entry at the hours place.
    tmr_enter_digit(0);
    EXPECT_EQ(entry_place, 3);
    EXPECT_EQ(text(), " Tijd: 0u --m --s");
    tmr_enter_digit(6);  // tens of minutes go up to 5
    EXPECT_EQ(entry_place, -1);
    type({0, 0, 9, 5, 9});  // every limit itself is accepted
    EXPECT_EQ(entry_place, -1);
    EXPECT_EQ(text(), " Tijd: 0u 09m 59s");
}

TEST_F(TimeEntry, NegativeResultGoesToTheStart) {
    current_index = 3;
    type({0, 0, 0, 0, 0});
    EXPECT_EQ(entry_value, 0);
    EXPECT_EQ(current_index, 0);
    EXPECT_EQ(clock_ms, 200u);
}

TEST_F(TimeEntry, TimeAtOrAfterTheLastSubtitleMovesNothing) {
    current_index = 1;
    clock_ms = 12000;
    // 3:00:00 less the offset is past the last end (5028000).
    type({3, 0, 0, 0, 0});
    EXPECT_EQ(current_index, 1);
    EXPECT_EQ(clock_ms, 12000u);
    EXPECT_EQ(text(), " Tijd: -u --m --s");
    EXPECT_EQ(entry_place, -1);
}

TEST_F(TimeEntry, EntrySurvivesOtherKeys) {
    type({0, 1});
    tmr_step_subtitle(0);  // an arrow key in between
    type({2, 3, 4});
    EXPECT_EQ(text(), " Tijd: 0u 12m 34s");
    EXPECT_EQ(entry_value, 754000 - 200);
    EXPECT_EQ(current_index, 2);
    EXPECT_EQ(clock_ms, 753800u);
}

TEST_F(TimeEntry, BetweenSubtitlesGoesToTheNextOne) {
    type({0, 0, 0, 1, 5});  // 15 s less 200 ms: after subtitle 1, before 2
    EXPECT_EQ(current_index, 2);
    EXPECT_EQ(clock_ms, 753800u);
}

}  // namespace
