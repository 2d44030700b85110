// The frame-rate rescale in single precision, bit for bit.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <vector>

#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

// The six factors of the FPS menu, by their single-precision bits.
constexpr std::array<uint32_t, 6> kBits{0x3f7583a5, 0x3f857780, 0x3f75c28f,
                                        0x3f855555, 0x3f997247, 0x3f558c01};

float factor(int row) {
    return std::bit_cast<float>(kBits[row]);
}

class Rescale : public ::testing::Test {
  protected:
    std::unique_ptr<subtitle[]> records;

    void set(const std::vector<std::pair<uint32_t, uint32_t>>& times) {
        records = std::make_unique<subtitle[]>(times.size());
        for (size_t i = 0; i < times.size(); ++i) {
            records[i].start_ms = times[i].first;
            records[i].end_ms = times[i].second;
        }
        subtitles = records.get();
        subtitle_count = static_cast<int32_t>(times.size());
    }
    void TearDown() override {
        subtitles = nullptr;
        subtitle_count = 0;
    }
};

TEST_F(Rescale, TableOfTheSixFactors) {
    constexpr std::array<uint32_t, 6> k40{38, 41, 38, 41, 47, 33};
    constexpr std::array<uint32_t, 6> k60000{57542, 62562, 57600, 62499, 71928, 50050};
    for (int row = 0; row < 6; ++row) {
        set({{40, 60000}});
        sub_rescale(factor(row));
        EXPECT_EQ(records[0].start_ms, k40[row]) << row;
        EXPECT_EQ(records[0].end_ms, k60000[row]) << row;
    }
}

TEST_F(Rescale, EveryRecordBothEndsAndCompounding) {
    set({{40, 60000}, {100000, 100040}});
    sub_rescale(factor(0));
    sub_rescale(factor(1));
    // Back to within a millisecond, not exactly.
    EXPECT_EQ(records[0].start_ms, 39u);
    EXPECT_EQ(records[0].end_ms, 59999u);
    EXPECT_EQ(records[1].start_ms, 100000u);
    EXPECT_EQ(records[1].end_ms, 100039u);
}

TEST_F(Rescale, TimesAreRoundedToSinglePrecisionFirst) {
    // 2^24 + 1 has no float of its own: it rounds to 2^24 (ties to even), and
    // 2^24 + 3 to 2^24 + 4, before the multiplication by 1.
    set({{16777217, 16777219}});
    sub_rescale(1.0f);
    EXPECT_EQ(records[0].start_ms, 16777216u);
    EXPECT_EQ(records[0].end_ms, 16777220u);
}

TEST_F(Rescale, ResultsPastTheRangeSaturate) {
    set({{4000000000u, 4294967295u}});
    sub_rescale(factor(4));
    EXPECT_EQ(records[0].start_ms, UINT32_MAX);
    EXPECT_EQ(records[0].end_ms, UINT32_MAX);
}

TEST_F(Rescale, EndOfFilmAndTypedTimeBoundFollowTheRecordsButTheOffsetStays) {
    // 25 <- 29.97 stretches the film: its end and the bound of a typed time must move
    // out with the last subtitle; the slower rate shrinks them again.
    time_offset_ms = 1200;
    for (int row : {4, 5}) {
        set({{1000, 2000}, {9200, 10000}});
        last_end_ms = 10000;
        film_end_ms = 10010;
        sub_rescale(factor(row));
        EXPECT_EQ(last_end_ms, static_cast<int32_t>(records[1].end_ms)) << row;
        EXPECT_EQ(film_end_ms, records[1].end_ms + 10) << row;
        EXPECT_EQ(time_offset_ms, 1200);
    }
    EXPECT_EQ(film_end_ms, 8351u);
}

TEST_F(Rescale, NothingLoadedIsANoOp) {
    set({{40, 60000}});
    subtitle_count = 0;
    sub_rescale(factor(0));
    EXPECT_EQ(records[0].start_ms, 40u);
    subtitles = nullptr;
    subtitle_count = 1;
    sub_rescale(factor(0));  // must not touch a missing array
}

}  // namespace
