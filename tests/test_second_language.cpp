// The second language chosen and remembered: TEXT on a row of the file menu chooses
// it and aligns it to the first file (EXIT stops that), TEXT on its own row, the FPS
// menu's row and deleting its file turn it off, the memory of the first file brings
// it back (and forgets a file that is gone), the memory file's optional line, and the
// keys that select it while playing.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "app/sync_memory.h"
#include "fb/painter.h"
#include "menu/list.h"
#include "menu/menus.h"
#include "menu/second_language.h"
#include "menu/sync_offer.h"
#include "sim/model.h"
#include "sub/retime.h"
#include "sub/subtitles.h"
#include "tests/support/menu_support.h"
#include "tmr/clock.h"

namespace {

using testsup::queue;

// A film of n subtitles of irregular length and spacing, in 40 ms frames, every time
// moved by shift_frames; with `scramble` the spacing is another film's.
std::string film(int n, int shift_frames, uint32_t seed = 7) {
    std::string s = "[KTF2: " + std::to_string(n) + " 0 ]\n";
    uint32_t x = seed;
    int64_t at = 100;
    for (int i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        at += 20 + (x >> 16) % 150;
        const int64_t length = 25 + (x >> 8) % 75;
        s += "{" + std::to_string(at + shift_frames) + "}{" +
             std::to_string(at + length + shift_frames) + "}regel " + std::to_string(i) + "\n";
        at += length;
    }
    return s;
}

class Second : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};

    void SetUp() override {
        ASSERT_TRUE(testsup::open_menu_box(root));
        std::lock_guard lock(subtitles_mutex);
        sub_release_second();
        sub_release(subtitles_owner, subtitle_count);
    }
    void TearDown() override {
        {
            std::lock_guard lock(subtitles_mutex);
            sub_release_second();
            sub_release(subtitles_owner, subtitle_count);
        }
        testsup::close_menu_box();
    }
    // Plays a.tkx as the first file, as the file menu leaves it.
    void play_first(const std::string& text) {
        root.write_subtitles("a.tkx", text);
        ASSERT_EQ(tmr_load_subtitles("a.tkx"), 0);
        menu_sync_file_loaded("a.tkx", true);
    }
    int menu(std::initializer_list<int> keys) {
        queue(keys);
        int r = testsup::run_modal([] { return menu_file(); });
        EXPECT_EQ(sim::input_pending_keys(0), 0u);
        return r;
    }
    std::string memory() const {
        std::ifstream in(root.host("/var/tuxbox/Tresk/tresk.sync"));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(Second, ChosenAlignedRememberedAndTurnedOff) {
    // b is a's film three seconds late: aligned, it plays three seconds earlier.
    play_first(film(80, 0));
    root.write_subtitles("b.tkx", film(80, 75));
    root.write_subtitles("c.tkx", film(80, 0, 99));
    // Rows: a, b, c. TEXT on a, the file playing, chooses nothing; TEXT on b.
    EXPECT_EQ(menu({KEY_TEXT}), -1);
    EXPECT_EQ(second_subtitles.load(), nullptr);
    EXPECT_EQ(menu({KEY_DOWN, KEY_TEXT}), -1);
    ASSERT_NE(second_subtitles.load(), nullptr);
    EXPECT_STREQ(second_name.data(), "b.tkx");
    EXPECT_EQ(second_map.shift_ms, -3000);
    EXPECT_EQ(second_map.num, second_map.den);
    EXPECT_EQ(second_subtitles[0].start_ms, subtitles[0].start_ms);
    EXPECT_STREQ(subtitles[0].lines[0].get(), "regel 0") << "the first file plays on";
    EXPECT_NE(memory().find("\n= 0 -3000 1 1 b.tkx\n"), std::string::npos) << memory();

    // The player starts again on a: b comes back on its correction and own shift.
    tmr_shift_second(1500);
    menu_sync_file_leaving();
    play_first(film(80, 0));
    ASSERT_NE(second_subtitles.load(), nullptr);
    EXPECT_STREQ(second_name.data(), "b.tkx");
    EXPECT_EQ(second_shift_ms, 1500);
    EXPECT_EQ(second_subtitles[0].start_ms, subtitles[0].start_ms);

    // c has nothing in common with a: shown as its file has it.
    EXPECT_EQ(menu({KEY_DOWN, KEY_DOWN, KEY_TEXT}), -1);
    EXPECT_STREQ(second_name.data(), "c.tkx");
    EXPECT_EQ(second_map, time_map{});
    EXPECT_EQ(second_shift_ms, 0);

    // TEXT on c's own row turns it off, and the memory forgets it.
    EXPECT_EQ(menu({KEY_DOWN, KEY_DOWN, KEY_TEXT}), -1);
    EXPECT_EQ(second_subtitles.load(), nullptr);
    EXPECT_EQ(memory().find("\n= "), std::string::npos) << memory();
}

TEST_F(Second, ARescaleGoesIntoTheRememberedCorrection) {
    play_first(film(80, 0));
    root.write_subtitles("b.tkx", film(80, 75));
    ASSERT_EQ(menu({KEY_DOWN, KEY_TEXT}), -1);
    ASSERT_EQ(second_map, (time_map{-3000, 1, 1}));
    // FPS, the second row: 25 -> 23.976, times 3125 / 2997.
    queue({KEY_DOWN, KEY_OK});
    testsup::run_modal([] {
        menu_fps();
        return 0;
    });
    EXPECT_EQ(second_map, (time_map{-3128, 3125, 2997}));
    for (int32_t i : {0, 40, 79}) {
        const subtitle& t = second_subtitles[i];
        EXPECT_EQ(t.start_ms, sub_map_time(t.own_start, second_map)) << i;
        // Within the first file's rounding of the same rate.
        EXPECT_NEAR(t.start_ms, subtitles[i].start_ms, 2.0) << i;
    }
    menu_sync_file_leaving();
    EXPECT_NE(memory().find("\n= 0 -3128 3125 2997 b.tkx\n"), std::string::npos) << memory();
}

TEST_F(Second, ExitStopsTheAlignment) {
    play_first(film(80, 0));
    root.write_subtitles("b.tkx", film(80, 75));
    // EXIT right after TEXT is read by the alignment's first question (its release
    // record stays queued: the alignment stops at the press).
    queue({KEY_DOWN, KEY_TEXT, KEY_EXIT});
    EXPECT_EQ(testsup::run_modal([] { return menu_file(); }), -1);
    ASSERT_NE(second_subtitles.load(), nullptr);
    EXPECT_EQ(second_map, time_map{});
    EXPECT_EQ(second_subtitles[0].start_ms, second_subtitles[0].own_start);
}

TEST_F(Second, GoesWithItsFileAndWithTheFpsRow) {
    play_first(film(20, 0));
    root.write_subtitles("b.tkx", film(20, 0));
    root.write_subtitles("c.tkx", film(20, 0));
    ASSERT_EQ(menu({KEY_DOWN, KEY_TEXT}), -1);
    ASSERT_STREQ(second_name.data(), "b.tkx");
    // Mark b, confirm, yes; then leave the shortened list.
    EXPECT_EQ(menu({KEY_DOWN, KEY_BLUE, KEY_OK, testsup::kDrained, KEY_GREEN, KEY_EXIT}), -1);
    EXPECT_EQ(second_subtitles.load(), nullptr);

    // The FPS menu's last row, there only with a second language.
    ASSERT_EQ(menu({KEY_DOWN, KEY_TEXT}), -1);
    ASSERT_STREQ(second_name.data(), "c.tkx");
    queue({KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_OK});
    testsup::run_modal([] {
        menu_fps();
        return 0;
    });
    EXPECT_EQ(second_subtitles.load(), nullptr);
    EXPECT_EQ(subtitles[0].start_ms, subtitles[0].own_start) << "no rate was applied";

    // Remembered once more, then its file goes while the player is off: forgotten quietly.
    ASSERT_EQ(menu({KEY_DOWN, KEY_TEXT}), -1);
    menu_sync_file_leaving();
    std::remove(root.host("/var/tuxbox/Tresk/tit/c.tkx").c_str());
    play_first(film(20, 0));
    EXPECT_EQ(second_subtitles.load(), nullptr);
    EXPECT_EQ(subtitle_count, 20);
}

TEST_F(Second, TheListAnswersTextOnlyWhenAsked) {
    const char* items[] = {"een", "twee", "drie"};
    queue({KEY_DOWN, KEY_TEXT, KEY_OK});
    EXPECT_EQ(testsup::run_modal([&] { return menu_list("T", 3, 10, items, nullptr, 1); }), 1);
    queue({KEY_DOWN, KEY_DOWN, KEY_TEXT});
    EXPECT_EQ(testsup::run_modal([&] { return menu_list("T", 3, 10, items, nullptr, 5); }), -7);
    EXPECT_EQ(menu_list_row, 2);
}

TEST_F(Second, KeysWhileItIsSelected) {
    play_first(film(20, 0));
    root.write_subtitles("b.tkx", film(20, 0));
    EXPECT_FALSE(menu_second_key(KEY_TEXT)) << "without a second language TEXT is not its";
    ASSERT_EQ(tmr_load_second("b.tkx"), 0);
    struct press {
        int key;
        bool taken;
        bool selected_after;
        int32_t shift_after;
        int32_t above_after;
    };
    second_above = 0;
    const press presses[] = {
        {KEY_CHANNELUP, false, false, 0, 0},  // not selected: the first file's key
        {KEY_TEXT, true, true, 0, 0},
        {KEY_CHANNELUP, true, true, 500, 0},
        {KEY_CHANNELUP, true, true, 1000, 0},
        {KEY_CHANNELDOWN, true, true, 500, 0},
        {KEY_VIDEO, true, true, 500, 1},
        {KEY_RIGHT, false, false, 500, 1},  // any other key leaves the selection
        {KEY_VIDEO, false, false, 500, 1},
        {KEY_TEXT, true, true, 500, 1},
        {KEY_TEXT, true, false, 500, 1},
    };
    for (const press& p : presses) {
        EXPECT_EQ(menu_second_key(p.key), p.taken) << p.key;
        EXPECT_EQ(menu_second_selected(), p.selected_after) << p.key;
        EXPECT_EQ(second_shift_ms, p.shift_after) << p.key;
        EXPECT_EQ(second_above, p.above_after) << p.key;
    }
}

class SecondMemory : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    void SetUp() override { testsup::setup_box(root); }
    void write(const std::string& text) const {
        std::ofstream(root.host("/var/tuxbox/Tresk/tresk.sync"), std::ios::binary) << text;
    }
};

TEST_F(SecondMemory, TheOptionalLineReadsBothWays) {
    // Records without the line, lines "=" in the wrong places, a bad one: each file
    // keeps only the line right after it.
    write(
        "lumetra-sync 1\n"
        "= 0 0 1 1 stray.tkx\n"
        "10 0 1 1 4 a.tkx\n"
        "= -500 1200 25 24 de tweede (nl).tkx\n"
        "x bad line\n"
        "= 0 0 1 1 after-bad.tkx\n"
        "20 0 1 1 0 b.tkx\n"
        "= 0 0 0 1 zero-rate.tkx\n"
        "30 5 1 1 2 c.tkx\n");
    sync_entry e;
    ASSERT_TRUE(app_sync_memory_recall("a.tkx", 10, e));
    EXPECT_EQ(e.position, 4);
    EXPECT_EQ(e.second.name, "de tweede (nl).tkx");
    EXPECT_EQ(e.second.shift_ms, -500);
    EXPECT_EQ(e.second.map, (time_map{1200, 25, 24}));
    ASSERT_TRUE(app_sync_memory_recall("b.tkx", 20, e));
    EXPECT_TRUE(e.second.name.empty());
    ASSERT_TRUE(app_sync_memory_recall("c.tkx", 30, e));
    EXPECT_TRUE(e.second.name.empty());
    EXPECT_EQ(e.map.shift_ms, 5);

    // A store keeps a's second language with a, and the file reads back.
    ASSERT_TRUE(app_sync_memory_store("b.tkx", 20, {{}, 1, {"x.tkx", {-40, 1, 1}, 250}}));
    ASSERT_TRUE(app_sync_memory_recall("a.tkx", 10, e));
    EXPECT_EQ(e.second.name, "de tweede (nl).tkx");
    ASSERT_TRUE(app_sync_memory_recall("b.tkx", 20, e));
    EXPECT_EQ(e.second.name, "x.tkx");
    EXPECT_EQ(e.second.shift_ms, 250);
    EXPECT_EQ(e.second.map, (time_map{-40, 1, 1}));
}

TEST_F(SecondMemory, TheLastOfSixtyFourFilesKeepsItsSecondLanguage) {
    for (int i = 0; i < kSyncMemoryEntries; ++i) {
        ASSERT_TRUE(app_sync_memory_store(("f" + std::to_string(i) + ".tkx").c_str(), 1,
                                          {{}, 0, {"s" + std::to_string(i) + ".tkx", {}, i}}));
    }
    sync_entry e;
    ASSERT_TRUE(app_sync_memory_recall("f0.tkx", 1, e));
    EXPECT_EQ(e.second.name, "s0.tkx");
    EXPECT_EQ(e.second.shift_ms, 0);
    ASSERT_TRUE(app_sync_memory_recall("f63.tkx", 1, e));
    EXPECT_EQ(e.second.name, "s63.tkx");
}

}  // namespace
