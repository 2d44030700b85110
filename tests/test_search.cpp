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
    std::unique_ptr<titulek[]> pole;

    void set(const std::vector<std::pair<uint32_t, uint32_t>>& casy) {
        pole = std::make_unique<titulek[]>(casy.size());
        for (size_t i = 0; i < casy.size(); ++i) {
            pole[i].pocet_radku = 0;
            pole[i].cas_od = casy[i].first;
            pole[i].cas_do = casy[i].second;
        }
        titulky = pole.get();
        pocet_titulku = static_cast<int32_t>(casy.size());
    }
    void TearDown() override {
        titulky = nullptr;
        pocet_titulku = 0;
    }
};

TEST_F(Search, TwoRecords) {
    set({{1000, 2000}, {5000, 6000}});
    EXPECT_EQ(sub_najdi_titulek(1500, 2), 0);
    EXPECT_EQ(sub_najdi_titulek(1000, 2), 0);
    EXPECT_EQ(sub_najdi_titulek(2000, 2), 0);  // both ends belong to the record
    EXPECT_EQ(sub_najdi_titulek(3000, 2), 1);  // between: the next one
    EXPECT_EQ(sub_najdi_titulek(500, 2), 0);
    EXPECT_EQ(sub_najdi_titulek(6000, 2), 1);
    EXPECT_EQ(sub_najdi_titulek(6001, 2), 2);  // past the last: the count
    EXPECT_EQ(sub_najdi_titulek(UINT32_MAX, 2), 2);
}

TEST_F(Search, MatchesALinearScanOnManyRecords) {
    std::vector<std::pair<uint32_t, uint32_t>> casy;
    for (uint32_t i = 0; i < 37; ++i) casy.push_back({100 + i * 100, 150 + i * 100});
    set(casy);
    for (uint32_t cas = 0; cas < 4000; cas += 7) {
        int32_t expected = 0;
        while (expected < 37 && casy[expected].second < cas) ++expected;
        EXPECT_EQ(sub_najdi_titulek(cas, 37), expected) << cas;
    }
}

TEST_F(Search, HintTriesTheNextRecordFirst) {
    // Out-of-order data tells the hint test from the binary search: the search
    // itself would find record 0 for time 15.
    set({{10, 20}, {30, 40}, {10, 20}});
    EXPECT_EQ(sub_najdi_titulek(15, 1), 2);
    EXPECT_EQ(sub_najdi_titulek(15, 3), 0);   // the count: no hint test
    EXPECT_EQ(sub_najdi_titulek(15, 2), 0);   // hint + 1 is the count
    EXPECT_EQ(sub_najdi_titulek(15, -1), 0);  // record 0 is not tried as a hint
    EXPECT_EQ(sub_najdi_titulek(35, 0), 1);   // the ordinary case
    EXPECT_EQ(sub_najdi_titulek(15, INT32_MAX), 0);
}

TEST_F(Search, ProbesTheUpperMiddle) {
    // Overlapping records: the first probe of [0, 1] is 1, which contains 60.
    set({{0, 100}, {50, 150}});
    EXPECT_EQ(sub_najdi_titulek(60, 2), 1);
    set({{0, 100}, {50, 150}, {120, 200}});
    EXPECT_EQ(sub_najdi_titulek(60, 3), 1);
    EXPECT_EQ(sub_najdi_titulek(130, 3), 1);
}

TEST_F(Search, SingleRecord) {
    set({{1000, 2000}});
    EXPECT_EQ(sub_najdi_titulek(0, 1), 0);
    EXPECT_EQ(sub_najdi_titulek(1999, 0), 0);
    EXPECT_EQ(sub_najdi_titulek(2001, 1), 1);
}

}  // namespace
