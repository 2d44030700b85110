// The subtitle file menu: which files are listed and in what order, loading,
// the link, deleting marked files, the special file, failures, and library_remove_path.
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fb/screen.h"
#include "library/library.h"
#include "menu/menus.h"
#include "rc/remote.h"
#include "sim/model.h"
#include "sub/subtitles.h"
#include "tests/support/menu_support.h"

namespace fs = std::filesystem;

namespace {

using testsup::queue;

constexpr const char* kSubtitleDirPath = "/var/tuxbox/Tresk/tit/";
constexpr const char* kLink = "/var/tuxbox/Tresk/tit/tresk.qst";

// A loadable subtitle file whose one subtitle says which file it is.
std::string film(const std::string& text) {
    return "[KTF2: 1 0 ]\n{25}{75}" + text + "\n";
}

class FileMenu : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};

    void SetUp() override {
        ASSERT_TRUE(testsup::open_menu_box(root));
        std::lock_guard lock(subtitles_mutex);
        sub_release(subtitles_owner, subtitle_count);
    }
    void TearDown() override { testsup::close_menu_box(); }

    void add(const std::string& name) { root.write_subtitles(name, film(name)); }
    bool exists(const std::string& name) const { return root.exists(kSubtitleDirPath + name); }
    std::string host(const std::string& name) const { return root.host(kSubtitleDirPath + name); }
    std::string link() const {
        std::error_code ec;
        auto t = fs::read_symlink(root.host(kLink), ec);
        return ec ? "<none>" : t.string();
    }
    // The first line of the subtitle loaded, naming its file.
    static std::string loaded() {
        if (subtitles.load() == nullptr || subtitle_count <= 0) return "<none>";
        return subtitles.load()[0].lines[0].get();
    }

    int menu(std::initializer_list<int> keys) {
        queue(keys);
        int r = testsup::run_modal([] { return menu_file(); });
        EXPECT_EQ(sim::input_pending_keys(0), 0u);
        return r;
    }
};

TEST_F(FileMenu, ListsOnlySubtitleFilesCaseInsensitivelySorted) {
    add("b.tkx");
    add("A.tkx");
    add("z.TKX");
    add("x.tkx.bak");
    add(".tkx");
    add("readme.txt");
    // Listed: "" (the file .tkx), A, b.
    EXPECT_EQ(menu({KEY_OK}), 0);
    EXPECT_EQ(loaded(), ".tkx");
    EXPECT_EQ(link(), ".tkx");
    EXPECT_EQ(menu({KEY_DOWN, KEY_OK}), 1);
    EXPECT_EQ(loaded(), "A.tkx");
    EXPECT_EQ(link(), "A.tkx");
    EXPECT_EQ(menu({KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_OK}), 2);
    EXPECT_EQ(loaded(), "b.tkx");
    EXPECT_EQ(link(), "b.tkx");
}

TEST_F(FileMenu, SortsManyNames) {
    const char* names[] = {"delta",   "Charlie", "alpha", "echo",   "Bravo", "golf",
                           "foxtrot", "hotel",   "India", "juliet", "kilo",  "Lima"};
    for (const char* n : names) add(std::string(n) + ".tkx");
    // Sorted: alpha Bravo Charlie delta echo foxtrot golf hotel India juliet | kilo Lima.
    EXPECT_EQ(menu({KEY_RIGHT, KEY_RIGHT, KEY_DOWN, KEY_OK}), 11);
    EXPECT_EQ(loaded(), "Lima.tkx");
    EXPECT_EQ(menu({KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_OK}), 3);
    EXPECT_EQ(loaded(), "delta.tkx");
    EXPECT_EQ(menu({KEY_4, KEY_4, KEY_4, KEY_OK}), 8);  // g, h, i: India
    EXPECT_EQ(loaded(), "India.tkx");
}

TEST_F(FileMenu, OneFileLoadsWithoutAMenu) {
    add("only.tkx");
    testsup::press(KEY_DOWN);
    EXPECT_EQ(testsup::run_modal([] { return menu_file(); }), 0);
    EXPECT_EQ(sim::input_pending_keys(0), 2u);  // no key was read
    EXPECT_EQ(loaded(), "only.tkx");
    EXPECT_EQ(link(), "only.tkx");
}

TEST_F(FileMenu, TheLinkIsReplacedAndRelative) {
    add("one.tkx");
    add("two.tkx");
    fs::create_symlink("/somewhere/else.tkx", root.host(kLink));
    EXPECT_EQ(menu({KEY_DOWN, KEY_OK}), 1);
    EXPECT_EQ(link(), "two.tkx");
    // The link resolves inside the directory, wherever the directory is.
    EXPECT_TRUE(fs::equivalent(root.host(kLink), host("two.tkx")));
    EXPECT_EQ(menu({KEY_OK}), 0);
    EXPECT_EQ(link(), "one.tkx");
}

TEST_F(FileMenu, DeletesTwoMarkedFilesAndShowsTheShortenedList) {
    for (const char* n : {"a.tkx", "b.tkx", "c.tkx", "d.tkx"}) add(n);
    // Mark a and c, confirm, yes; the list comes back with b and d: choose d.
    EXPECT_EQ(menu({KEY_BLUE, KEY_DOWN, KEY_DOWN, KEY_BLUE, KEY_OK, testsup::kDrained, KEY_GREEN,
                    KEY_DOWN, KEY_DOWN, KEY_OK}),
              1);
    EXPECT_FALSE(exists("a.tkx"));
    EXPECT_TRUE(exists("b.tkx"));
    EXPECT_FALSE(exists("c.tkx"));
    EXPECT_TRUE(exists("d.tkx"));
    EXPECT_EQ(loaded(), "d.tkx");
}

TEST_F(FileMenu, AnsweringNoKeepsTheFilesAndTheList) {
    for (const char* n : {"a.tkx", "b.tkx", "c.tkx"}) add(n);
    EXPECT_EQ(menu({KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_OK, testsup::kDrained, KEY_EXIT, KEY_DOWN,
                    KEY_DOWN, KEY_OK}),
              2);
    EXPECT_TRUE(exists("a.tkx"));
    EXPECT_TRUE(exists("b.tkx"));
    EXPECT_TRUE(exists("c.tkx"));
    EXPECT_EQ(loaded(), "c.tkx");
}

TEST_F(FileMenu, DeletingRemovesOnlyTheMarkedEntries) {
    add("a.tkx");
    add("b.tkx");
    root.write("/var/tuxbox/Tresk/keep.tkx", film("outside"));
    // A listed link to a file outside the directory: the link goes, the file stays.
    fs::create_symlink("../keep.tkx", host("link.tkx"));
    fs::create_symlink("a.tkx", root.host(kLink));
    // Sorted: a, b, link. Mark link only.
    EXPECT_EQ(menu({KEY_DOWN, KEY_DOWN, KEY_BLUE, KEY_OK, testsup::kDrained, KEY_OK, KEY_EXIT}),
              -1);
    EXPECT_FALSE(exists("link.tkx"));
    EXPECT_TRUE(root.exists("/var/tuxbox/Tresk/keep.tkx"));
    EXPECT_TRUE(exists("a.tkx"));
    EXPECT_TRUE(exists("b.tkx"));
    EXPECT_TRUE(exists("tresk.qst"));
}

TEST_F(FileMenu, DirectoryNamedLikeASubtitleFile) {
    add("a.tkx");
    add("b.tkx");
    fs::create_directory(host("d.tkx"));
    // Listed as "d"; choosing it fails to read (error box 10, any key), then the list
    // again, where a is chosen.
    EXPECT_EQ(menu({KEY_DOWN, KEY_DOWN, KEY_OK, testsup::kDrained, KEY_BLUE, KEY_OK}), 0);
    EXPECT_EQ(loaded(), "a.tkx");
    EXPECT_EQ(link(), "a.tkx");
    EXPECT_TRUE(exists("d.tkx"));

    // Marked and deleted it goes while empty...
    std::initializer_list<int> del = {KEY_DOWN,          KEY_DOWN, KEY_BLUE, KEY_OK,
                                      testsup::kDrained, KEY_OK,   KEY_EXIT};
    EXPECT_EQ(menu(del), -1);
    EXPECT_FALSE(exists("d.tkx"));
    // ...and stays while not.
    fs::create_directory(host("e.tkx"));
    root.write(std::string(kSubtitleDirPath) + "e.tkx/inner.tkx", film("inner"));
    EXPECT_EQ(menu(del), -1);
    EXPECT_TRUE(exists("e.tkx/inner.tkx"));
}

TEST_F(FileMenu, DeletingDownToOneFileLoadsIt) {
    add("a.tkx");
    add("b.tkx");
    // After the deletion the directory holds one file, which is loaded without a menu.
    testsup::queue({KEY_BLUE, KEY_OK, testsup::kDrained, KEY_GREEN, KEY_EXIT});
    EXPECT_EQ(testsup::run_modal([] { return menu_file(); }), 0);
    EXPECT_FALSE(exists("a.tkx"));
    EXPECT_EQ(loaded(), "b.tkx");
    EXPECT_EQ(sim::input_pending_keys(0), 2u);  // EXIT was not needed
}

TEST_F(FileMenu, OneFileThatFailsToLoadOffersAWayOut) {
    root.write_subtitles("bad.tkx", "not a subtitle file\n");
    // Error box 9, any key; then the one-row list, which EXIT leaves.
    EXPECT_EQ(menu({testsup::kDrained, KEY_OK, KEY_EXIT}), -1);
    EXPECT_EQ(subtitles.load(), nullptr);
    EXPECT_EQ(link(), "<none>");
}

TEST_F(FileMenu, SpecialFileWithYellow) {
    add("a.tkx");
    add("b.tkx");
    root.write_subtitles("tresk.tkx", film("special"));
    EXPECT_EQ(menu({KEY_DOWN, KEY_YELLOW}), -3);
    EXPECT_EQ(loaded(), "special");
    EXPECT_EQ(link(), "tresk.tkx");
}

TEST_F(FileMenu, YellowIgnoredWithoutALargeEnoughSpecialFile) {
    add("a.tkx");
    add("b.tkx");
    EXPECT_EQ(menu({KEY_YELLOW, KEY_DOWN, KEY_OK}), 1);
    EXPECT_EQ(loaded(), "b.tkx");
    // 20 bytes is not enough (and it is listed like any other file).
    root.write_subtitles("tresk.tkx", std::string(20, 'x'));
    EXPECT_EQ(menu({KEY_YELLOW, KEY_OK}), 0);
    EXPECT_EQ(loaded(), "a.tkx");
}

TEST_F(FileMenu, NothingToListShowsError11) {
    // An empty directory, files without the extension, and no directory at all.
    for (int step = 0; step < 3; ++step) {
        if (step == 1) root.write_subtitles("a.txt", film("a"));
        if (step == 2) fs::remove_all(root.host("/var/tuxbox/Tresk/tit"));
        testsup::queue({testsup::kDrained, KEY_OK});
        EXPECT_EQ(testsup::run_modal([] { return menu_file(); }), -1) << step;
        // The error box took the press of OK; its release is left.
        EXPECT_EQ(sim::input_pending_keys(0), 1u);
        rc_read_key();
        EXPECT_EQ(subtitles.load(), nullptr);
    }
}

TEST_F(FileMenu, CancelReturnsMinusOne) {
    add("a.tkx");
    add("b.tkx");
    EXPECT_EQ(menu({KEY_DOWN, KEY_EXIT}), -1);
    EXPECT_EQ(subtitles.load(), nullptr);
    EXPECT_EQ(link(), "<none>");
}

TEST_F(FileMenu, NamesWithMoreDots) {
    add("film.part1.tkx");
    add("film.part2.tkx");
    EXPECT_EQ(menu({KEY_DOWN, KEY_OK}), 1);
    EXPECT_EQ(loaded(), "film.part2.tkx");
    EXPECT_EQ(link(), "film.part2.tkx");
}

TEST_F(FileMenu, RemovePath) {
    add("f.tkx");
    fs::create_directory(host("empty"));
    fs::create_directory(host("full"));
    add("full/x");
    fs::create_symlink("f.tkx", host("l1"));
    fs::create_symlink("full", host("l2"));
    EXPECT_EQ(library_remove_path("/var/tuxbox/Tresk/tit/l1"), 0);
    EXPECT_TRUE(exists("f.tkx"));
    EXPECT_EQ(library_remove_path("/var/tuxbox/Tresk/tit/l2"), 0);
    EXPECT_TRUE(exists("full/x"));
    EXPECT_EQ(library_remove_path("/var/tuxbox/Tresk/tit/f.tkx"), 0);
    EXPECT_FALSE(exists("f.tkx"));
    EXPECT_EQ(library_remove_path("/var/tuxbox/Tresk/tit/empty"), 0);
    EXPECT_FALSE(exists("empty"));
    EXPECT_EQ(library_remove_path("/var/tuxbox/Tresk/tit/full"), -1);
    EXPECT_TRUE(exists("full"));
    EXPECT_EQ(library_remove_path("/var/tuxbox/Tresk/tit/missing"), -1);
}

}  // namespace
