// Finding the subtitle for a time: the hint, the upper-middle binary search and
// the index returned when no subtitle contains the time.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "sub/subtitles.h"

namespace {

class Search : public ::testing::Test {
  protected:
    std::unique_ptr<subtitle[]> records;

    void set(const std::vector<std::pair<uint32_t, uint32_t>>& times) {
        records = std::make_unique<subtitle[]>(times.size());
        for (size_t i = 0; i < times.size(); ++i) {
            records[i].line_count = 0;
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

TEST_F(Search, TwoRecords) {
    set({{1000, 2000}, {5000, 6000}});
    EXPECT_EQ(sub_find(1500, 2), 0);
    EXPECT_EQ(sub_find(1000, 2), 0);
    EXPECT_EQ(sub_find(2000, 2), 0);  // both ends belong to the record
    EXPECT_EQ(sub_find(3000, 2), 1);  // between: the next one
    EXPECT_EQ(sub_find(500, 2), 0);
    EXPECT_EQ(sub_find(6000, 2), 1);
    EXPECT_EQ(sub_find(6001, 2), 2);  // past the last: the count
    EXPECT_EQ(sub_find(UINT32_MAX, 2), 2);
}

TEST_F(Search, MatchesALinearScanOnManyRecords) {
    std::vector<std::pair<uint32_t, uint32_t>> times;
    for (uint32_t i = 0; i < 37; ++i) times.push_back({100 + i * 100, 150 + i * 100});
    set(times);
    for (uint32_t time_ms = 0; time_ms < 4000; time_ms += 7) {
        int32_t expected = 0;
        while (expected < 37 && times[expected].second < time_ms) ++expected;
        EXPECT_EQ(sub_find(time_ms, 37), expected) << time_ms;
    }
}

TEST_F(Search, HintTriesTheNextRecordFirst) {
    // Out-of-order data tells the hint test from the binary search: the search
    // itself would find record 0 for time 15.
    set({{10, 20}, {30, 40}, {10, 20}});
    EXPECT_EQ(sub_find(15, 1), 2);
    EXPECT_EQ(sub_find(15, 3), 0);   // the count: no hint test
    EXPECT_EQ(sub_find(15, 2), 0);   // hint + 1 is the count
    EXPECT_EQ(sub_find(15, -1), 0);  // record 0 is not tried as a hint
    EXPECT_EQ(sub_find(35, 0), 1);   // the ordinary case
    EXPECT_EQ(sub_find(15, INT32_MAX), 0);
}

TEST_F(Search, ProbesTheUpperMiddle) {
    // Overlapping records: the first probe of [0, 1] is 1, which contains 60.
    set({{0, 100}, {50, 150}});
    EXPECT_EQ(sub_find(60, 2), 1);
    set({{0, 100}, {50, 150}, {120, 200}});
    EXPECT_EQ(sub_find(60, 3), 1);
    EXPECT_EQ(sub_find(130, 3), 1);
}

TEST_F(Search, SingleRecord) {
    set({{1000, 2000}});
    EXPECT_EQ(sub_find(0, 1), 0);
    EXPECT_EQ(sub_find(1999, 0), 0);
    EXPECT_EQ(sub_find(2001, 1), 1);
}

}  // namespace
