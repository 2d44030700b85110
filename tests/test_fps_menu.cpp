// The frame-rate menu: its factors, the rescale each row gives through the menu,
// and cancelling.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "menu/menus.h"
#include "sub/subtitles.h"
#include "tests/support/menu_support.h"
#include "tmr/clock.h"

namespace {

// One subtitle from frame 1 (40 ms) to frame 1500 (60 000 ms).
constexpr const char* kFilm = "[KTF2: 1 0 ]\n{1}{1500}Hello\n";

constexpr uint32_t kBits[6] = {0x3f7583a5, 0x3f857780, 0x3f75c28f,
                               0x3f855555, 0x3f997247, 0x3f558c01};
constexpr uint32_t k40[6] = {38, 41, 38, 41, 47, 33};
constexpr uint32_t k60000[6] = {57542, 62562, 57600, 62499, 71928, 50050};

TEST(FpsTable, FactorsAreTheSinglePrecisionValues) {
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(std::bit_cast<uint32_t>(fps_factors[i]), kBits[i]) << i;
        // In single precision, truncated: the times the rows give.
        EXPECT_EQ(static_cast<uint32_t>(40.0f * fps_factors[i]), k40[i]) << i;
        EXPECT_EQ(static_cast<uint32_t>(60000.0f * fps_factors[i]), k60000[i]) << i;
    }
}

class FpsMenu : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};

    void SetUp() override {
        ASSERT_TRUE(testsup::open_menu_box(root));
        root.write_subtitles("film.tkx", kFilm);
        ASSERT_EQ(sub_load_new("film.tkx"), 0);
        ASSERT_EQ(subtitle_count.load(), 1);
    }
    void TearDown() override { testsup::close_menu_box(); }

    static void run(std::initializer_list<int> keys) {
        testsup::queue(keys);
        testsup::run_modal([] {
            menu_fps();
            return 0;
        });
    }
    static uint32_t from() { return subtitles.load()[0].start_ms; }
    static uint32_t to() { return subtitles.load()[0].end_ms; }
};

TEST_F(FpsMenu, EachRowRescalesEveryTime) {
    for (int row = 0; row < 6; ++row) {
        ASSERT_EQ(sub_load_new("film.tkx"), 0);
        std::vector<int> keys(static_cast<size_t>(row), KEY_DOWN);
        for (int k : keys) testsup::press(k);
        run({KEY_OK});
        EXPECT_EQ(from(), k40[row]) << row;
        EXPECT_EQ(to(), k60000[row]) << row;
        // The clock stands stopped at the start of the (rescaled) subtitle.
        EXPECT_EQ(clock_running.load(), 0);
        EXPECT_EQ(clock_ms.load(), k40[row]) << row;
    }
}

TEST_F(FpsMenu, RescalesCompound) {
    run({KEY_OK});            // 0.95904
    run({KEY_DOWN, KEY_OK});  // 1.042709
    EXPECT_EQ(from(), 39u);   // 38 * 1.042709, truncated
    EXPECT_NEAR(static_cast<double>(to()), 60000.0, 2.0);
}

TEST_F(FpsMenu, CancelChangesNoTimeButPlacesTheClock) {
    // YELLOW, BLUE and digits mean nothing here; EXIT or RED cancel.
    run({KEY_DOWN, KEY_YELLOW, KEY_BLUE, KEY_2, KEY_EXIT});
    EXPECT_EQ(from(), 40u);
    EXPECT_EQ(to(), 60000u);
    EXPECT_EQ(clock_ms.load(), 40u);
    run({KEY_DOWN, KEY_RED});
    EXPECT_EQ(from(), 40u);
}

}  // namespace
