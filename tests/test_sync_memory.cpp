// The memory of each file's sync: round trip, least recently used out at 64 files,
// a replaced file, a damaged or foreign file; and a file chosen again in the player.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/sync_memory.h"
#include "menu/menus.h"
#include "menu/sync_offer.h"
#include "sub/subtitles.h"
#include "tests/support/menu_support.h"
#include "tmr/clock.h"
#include "tmr/sync.h"

namespace {

class SyncMemory : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    void SetUp() override { testsup::setup_box(root); }
    std::string path() const { return root.host("/var/tuxbox/Tresk/tresk.sync"); }
    std::string contents() const {
        std::ifstream in(path());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(SyncMemory, KeepsSixtyFourFilesByNameAndSize) {
    sync_entry e;
    EXPECT_FALSE(app_sync_memory_recall("a.tkx", 10, e)) << "no file yet";
    const sync_entry to25{{7373, 2997, 3125}, 41};
    ASSERT_TRUE(app_sync_memory_store("a.tkx", 1200, to25));
    ASSERT_TRUE(app_sync_memory_recall("a.tkx", 1200, e));
    EXPECT_EQ(e.map, to25.map);
    EXPECT_EQ(e.position, 41);
    EXPECT_FALSE(app_sync_memory_recall("a.tkx", 1201, e)) << "another size: a replaced file";
    EXPECT_TRUE(app_sync_memory_store("a.tkx", 1201, {{-500, 1, 1}, 3}));
    EXPECT_FALSE(app_sync_memory_recall("a.tkx", 1200, e)) << "the old file's sync went";
    // Names with blanks and odd bytes come back as they were.
    ASSERT_TRUE(app_sync_memory_store("de film (2).tkx", 5, {{1, 2, 3}, 4}));
    ASSERT_TRUE(app_sync_memory_recall("de film (2).tkx", 5, e));
    EXPECT_EQ(e.map, (time_map{1, 2, 3}));
    EXPECT_FALSE(app_sync_memory_store("twee\nregels.tkx", 5, {}));

    // 64 more files: the least recently used go, a recalled-and-stored one stays.
    for (int i = 0; i < kSyncMemoryEntries; ++i) {
        if (i == 40) app_sync_memory_store("a.tkx", 1201, {{-500, 1, 1}, 3});
        ASSERT_TRUE(
            app_sync_memory_store(("f" + std::to_string(i) + ".tkx").c_str(), i, {{i, 1, 1}, i}));
    }
    EXPECT_FALSE(app_sync_memory_recall("de film (2).tkx", 5, e));
    EXPECT_TRUE(app_sync_memory_recall("a.tkx", 1201, e));
    EXPECT_FALSE(app_sync_memory_recall("f0.tkx", 0, e));
    ASSERT_TRUE(app_sync_memory_recall("f63.tkx", 63, e));
    EXPECT_EQ(e.position, 63);
    size_t lines = 0;
    for (char c : contents()) lines += c == '\n';
    EXPECT_EQ(lines, 1u + kSyncMemoryEntries);
    app_sync_memory_forget("f63.tkx", 63);
    EXPECT_FALSE(app_sync_memory_recall("f63.tkx", 63, e));
    EXPECT_TRUE(app_sync_memory_recall("f62.tkx", 62, e));
}

TEST_F(SyncMemory, AForeignOrEmptyFileIsIgnoredAndRewritten) {
    const char* foreign[] = {
        "",
        "\n\n",
        "\x7f"
        "ELF binary",
        "lumetra-sync 2\n10 0 1 1 0 a.tkx\n",
    };
    for (const char* text : foreign) {
        std::ofstream(path(), std::ios::binary) << text;
        sync_entry e;
        EXPECT_FALSE(app_sync_memory_recall("a.tkx", 10, e)) << text;
        ASSERT_TRUE(app_sync_memory_store("b.tkx", 20, {{2500, 3125, 2997}, 7})) << text;
        EXPECT_EQ(contents(), "lumetra-sync 1\n20 2500 3125 2997 7 b.tkx\n") << text;
    }
    // A memory that cannot be written loses the memory, nothing else.
    sim::fail_call("fopen", EACCES, -1, "tresk.sync.new");
    EXPECT_FALSE(app_sync_memory_store("c.tkx", 1, {}));
    sim::clear_faults();
    EXPECT_EQ(contents(), "lumetra-sync 1\n20 2500 3125 2997 7 b.tkx\n");
}

// A file edited by hand or copied from another system: blank lines, CR LF, no final
// line end, bad lines among good ones, a line far too long. Every valid entry is
// recalled, and the next store keeps them all, in their order, behind the new one.
TEST_F(SyncMemory, AnUntidyFileKeepsEveryValidEntry) {
    std::ifstream sample(std::string(LUMETRA_SOURCE_DIR) + "/tests/samples/sync_memory/untidy.sync",
                         std::ios::binary);
    std::stringstream text;
    text << sample.rdbuf();
    ASSERT_FALSE(text.str().empty());
    std::ofstream(path(), std::ios::binary)
        << text.str() << "\r\n1 0 1 1 0 " << std::string(1500, 'n') << "\n2 0 1 1 0 c.tkx";
    const struct {
        const char* name;
        uint64_t size;
        bool kept;
        time_map map;
        int32_t position;
    } entries[] = {
        {"a.tkx", 1200, true, {7373, 2997, 3125}, 41},
        {"nul.tkx", 10, false, {}, 0},  // zero numerator
        {"min.tkx", 30, false, {}, 0},  // negative position
        {"de film (2).tkx", 59, true, {-500, 1, 1}, 3},
        {"b.tkx", 20, true, {2500, 3125, 2997}, 7},  // CR LF then more after it
        {"c.tkx", 2, true, {}, 0},                   // after the long line, no line end
    };
    for (const auto& x : entries) {
        sync_entry e;
        ASSERT_EQ(app_sync_memory_recall(x.name, x.size, e), x.kept) << x.name;
        if (!x.kept) continue;
        EXPECT_EQ(e.map, x.map) << x.name;
        EXPECT_EQ(e.position, x.position) << x.name;
    }
    ASSERT_TRUE(app_sync_memory_store("d.tkx", 4, {{-1, 1, 1}, 1}));
    EXPECT_EQ(contents(),
              "lumetra-sync 1\n4 -1 1 1 1 d.tkx\n1200 7373 2997 3125 41 a.tkx\n"
              "59 -500 1 1 3 de film (2).tkx\n20 2500 3125 2997 7 b.tkx\n2 0 1 1 0 c.tkx\n");
}

// More entries than the memory holds: the first 64 count, the rest are the least
// recently used and go at the next store.
TEST_F(SyncMemory, AnOverfullFileKeepsItsFirstSixtyFourEntries) {
    std::string text = "lumetra-sync 1\n";
    for (int i = 0; i < kSyncMemoryEntries + 6; ++i)
        text += std::to_string(i) + " " + std::to_string(i) + " 1 1 0 f" + std::to_string(i) + "\n";
    std::ofstream(path(), std::ios::binary) << text;
    sync_entry e;
    for (int i : {0, kSyncMemoryEntries - 1}) {
        ASSERT_TRUE(app_sync_memory_recall(("f" + std::to_string(i)).c_str(), i, e)) << i;
        EXPECT_EQ(e.map, (time_map{i, 1, 1}));
    }
    EXPECT_FALSE(app_sync_memory_recall(("f" + std::to_string(kSyncMemoryEntries)).c_str(),
                                        kSyncMemoryEntries, e));
    ASSERT_TRUE(app_sync_memory_store("f0", 0, {{5, 1, 1}, 0}));
    const std::string now = contents();
    EXPECT_EQ(now.rfind("lumetra-sync 1\n0 5 1 1 0 f0\n1 1 1 1 0 f1\n", 0), 0u) << now;
    size_t lines = 0;
    for (char c : now) lines += c == '\n';
    EXPECT_EQ(lines, 1u + kSyncMemoryEntries);
    EXPECT_TRUE(app_sync_memory_recall(("f" + std::to_string(kSyncMemoryEntries - 1)).c_str(),
                                       kSyncMemoryEntries - 1, e));
}

// A memory that exists but cannot be read to its end (no permission, a read error
// half way) is not rewritten: what could not be read would be lost with it.
TEST_F(SyncMemory, AFileThatCannotBeReadWholeIsLeftAsItIs) {
    const std::string text =
        "lumetra-sync 1\n10 100 1 1 0 a.tkx\n20 200 1 1 0 b.tkx\n30 300 1 1 0 c.tkx\n";
    std::ofstream(path(), std::ios::binary) << text;
    const long two_lines = static_cast<long>(text.find("20 "));
    sync_entry e;
    sim::fail_call("fread", EIO, 1, "tresk.sync", two_lines);
    EXPECT_TRUE(app_sync_memory_recall("a.tkx", 10, e)) << "what was read is used";
    struct way {
        const char* what;
        const char* call;
        int err;
        long after_bytes;
    };
    for (const way& w : {way{"no permission", "fopen", EACCES, 0},
                         way{"a read error after the first entry", "fread", EIO, two_lines}}) {
        const int injected = sim::faults_injected();
        sim::fail_call(w.call, w.err, 1, "tresk.sync", w.after_bytes);
        EXPECT_FALSE(app_sync_memory_store("d.tkx", 40, {})) << w.what;
        EXPECT_EQ(contents(), text) << w.what;
        sim::fail_call(w.call, w.err, 1, "tresk.sync", w.after_bytes);
        app_sync_memory_forget("a.tkx", 10);
        EXPECT_EQ(contents(), text) << w.what;
        EXPECT_EQ(sim::faults_injected(), injected + 2) << "each armed fault was hit";
    }
    sim::clear_faults();
    EXPECT_TRUE(app_sync_memory_store("d.tkx", 40, {}));
    EXPECT_TRUE(app_sync_memory_recall("c.tkx", 30, e)) << "readable again: rewritten with all";
}

// Through the file and FPS menus: a corrected file left for another and chosen again
// comes back with its correction and position, the clock stopped; "Origineel" puts it
// back on its own times and forgets it.
class SyncMemoryMenus : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    void SetUp() override {
        ASSERT_TRUE(testsup::open_menu_box(root));
        root.write_subtitles("a.tkx",
                             "[KTF2: 3 0 ]\n{25}{50}Een\n{4500}{4550}Twee\n{9000}{9050}Drie\n");
        root.write_subtitles("b.tkx", "[KTF2: 1 0 ]\n{25}{50}Ander\n");
    }
    void TearDown() override { testsup::close_menu_box(); }
    static int choose(std::initializer_list<int> keys) {
        testsup::queue(keys);
        return testsup::run_modal([] { return menu_file(); });
    }
};

TEST_F(SyncMemoryMenus, AFileChosenAgainComesBackWithItsSync) {
    ASSERT_EQ(choose({KEY_OK}), 0);  // a.tkx
    const uint32_t own[3] = {subtitles[0].start_ms, subtitles[1].start_ms, subtitles[2].start_ms};
    // The correction two syncs would give, about the second line, and the clock there.
    const time_map to25 = tmr_sync_compose({}, own[1], 2997, 3125);
    tmr_apply_map(to25);
    tmr_sync_reset(to25);
    tmr_go_to_subtitle(1);
    const uint32_t corrected = subtitles[2].start_ms;
    EXPECT_EQ(subtitles[1].start_ms, own[1]);
    EXPECT_EQ(corrected, 352627u) << "180 s + 180 s * 23.976 / 25, rounded";

    ASSERT_EQ(choose({KEY_DOWN, KEY_OK}), 1);  // b.tkx
    EXPECT_EQ(subtitles[0].start_ms, 1000u) << "the other file on its own times";
    ASSERT_EQ(choose({KEY_OK}), 0);  // a.tkx again
    EXPECT_EQ(subtitles[2].start_ms, corrected);
    EXPECT_EQ(tmr_sync_applied(), to25);
    EXPECT_EQ(current_index, 1) << "at its position";
    EXPECT_EQ(clock_ms, own[1]);
    EXPECT_EQ(clock_running, 0);
    EXPECT_EQ(last_end_ms, static_cast<int32_t>(subtitles[2].end_ms));

    // "Origineel", the seventh row; the six rows before it are the rates.
    testsup::queue({KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_OK});
    testsup::run_modal([] {
        menu_fps();
        return 0;
    });
    for (int i = 0; i < 3; ++i) EXPECT_EQ(subtitles[i].start_ms, own[i]) << i;
    EXPECT_EQ(tmr_sync_applied(), time_map{});
    sync_entry e;
    EXPECT_FALSE(app_sync_memory_recall("a.tkx", 59, e)) << "a.tkx is 59 bytes";
}

}  // namespace
