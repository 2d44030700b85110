// Whole runs of lumetra-sim through the menus: error box 11 without a subtitle
// directory, choosing from the list, deleting from the menu, paging the help box.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/sim_support.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;

namespace {

// Palette 0 (the default): red for the error box, blue for the help box and menus.
constexpr uint32_t kRed = 0xffa80000;
constexpr uint32_t kBlue = 0xff0000a8;

std::string film(const std::string& text) {
    return "[KTF2: 2 0 ]\n{100}{200}" + text + "\n{300}{400}" + text + " 2\n";
}

class MenuScenario : public ::testing::Test {
  protected:
    simtest::scratch_dir dir;

    // Runs the player over the root with the script; waits between keys are generous
    // so that every key reaches the screen it is meant for.
    simtest::run_result run(const testsup::box_root& root, const std::string& script) {
        std::ofstream(dir.file("keys")) << script;
        return simtest::run_sim({"--headless", "--root", root.path(), "--keys", dir.file("keys"),
                                 "--mode", "720x576", "--timeout", "90"},
                                120000);
    }
    std::vector<uint32_t> snap(const std::string& name) {
        uint32_t w = 0, h = 0;
        std::vector<uint32_t> px;
        EXPECT_TRUE(simtest::read_png_argb(dir.file(name), w, h, px)) << name;
        return px;
    }
    static size_t count(const std::vector<uint32_t>& px, uint32_t argb) {
        size_t n = 0;
        for (uint32_t v : px) n += v == argb;
        return n;
    }
    static std::string link(const testsup::box_root& root) {
        std::error_code ec;
        auto t = fs::read_symlink(root.host("/var/tuxbox/Tresk/tit/tresk.qst"), ec);
        return ec ? "<none>" : t.string();
    }
};

constexpr const char* kLeave = "wait 1000\npress EXIT\nwait 1000\npress GREEN\n";

TEST_F(MenuScenario, NoSubtitleDirectoryShowsError11AndEndsWithStatus0) {
    testsup::box_root root(testsup::dejavu_condensed(), false);
    auto r = run(root, "wait 1500\nsnap " + dir.file("box.png") + "\nwait 200\npress BLUE\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // The error box's red title bar and frame.
    EXPECT_GT(count(snap("box.png"), kRed), 10000u);
}

TEST_F(MenuScenario, TwoFilesWithoutALinkOpenTheListAndTheChoiceIsRemembered) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("eerste.tkx", film("eerste"));
    root.write_subtitles("tweede.tkx", film("tweede"));
    auto r = run(root, "wait 1500\nsnap " + dir.file("list.png") +
                           "\npress DOWN\nwait 500\npress OK\n" + kLeave);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_GT(count(snap("list.png"), kBlue), 12000u);  // the list's title bar
    EXPECT_EQ(link(root), "tweede.tkx");
}

TEST_F(MenuScenario, MenuWhilePlayingDeletesAMarkedFile) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("a.tkx", film("a"));
    root.write_subtitles("b.tkx", film("b"));
    root.write_subtitles("c.tkx", film("c"));
    fs::create_symlink("a.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    // Start the clock (the first OK needs a release record before it), open the menu,
    // mark b, confirm, answer yes; then the list again: choose c.
    auto r = run(root,
                 "wait 1500\nup OK\npress OK\nwait 1000\npress MENU\nwait 1000\npress DOWN\n"
                 "wait 300\npress BLUE\nwait 300\npress OK\nwait 1000\npress GREEN\nwait 1000\n"
                 "press DOWN\nwait 300\npress OK\n" +
                     std::string(kLeave));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(root.exists("/var/tuxbox/Tresk/tit/a.tkx"));
    EXPECT_FALSE(root.exists("/var/tuxbox/Tresk/tit/b.tkx"));
    EXPECT_TRUE(root.exists("/var/tuxbox/Tresk/tit/c.tkx"));
    EXPECT_EQ(link(root), "c.tkx");
}

TEST_F(MenuScenario, HelpThreeTimesWithTheClockStopped) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", film("film"));
    fs::create_symlink("film.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    // The help page opened at start-up is closed by the first handled key (RIGHT).
    std::string s = "wait 1500\npress RIGHT\nwait 1000\nsnap " + dir.file("p0.png") + "\n";
    for (int i = 1; i <= 3; ++i) {
        s += "press HELP\nwait 1000\nsnap " + dir.file("p" + std::to_string(i) + ".png") + "\n";
    }
    auto r = run(root, s + kLeave);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    auto p0 = snap("p0.png"), p1 = snap("p1.png"), p2 = snap("p2.png"), p3 = snap("p3.png");
    // The status line's icon box is blue too (65 x 32); the help box's title bar and
    // frame add far more.
    EXPECT_LT(count(p0, kBlue), 4000u);
    EXPECT_GT(count(p1, kBlue), 12000u);
    EXPECT_GT(count(p2, kBlue), 12000u);
    EXPECT_NE(p1, p2);
    EXPECT_LT(count(p3, kBlue), 4000u);
}

}  // namespace
