// Whole runs of the lumetra-sim binary through the list menu, headless, driven by key
// scripts and looked at in snapshots.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/sim_support.h"
#include "tests/support/support.h"

namespace {

constexpr const char* kFilm = "[KTF2: 1 0]\n{0}{5000}Hallo wereld\n";

}  // namespace

TEST(SimMenus, InsetLayoutKeepsTheFileListInsideItsWindow) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("tresk.tkx", kFilm);
    for (char c = 'a'; c < 'a' + 12; ++c) root.write_subtitles(std::string(1, c) + ".tkx", kFilm);
    simtest::scratch_dir dir;
    // VIDEO for the inset layout, MENU for the file list, RIGHT to the last row of the
    // first page; then out of the menu and out of the player.
    std::ofstream(dir.file("k")) << "wait 800\npress VIDEO\nwait 300\npress MENU\nwait 800\n"
                                    "press RIGHT\nwait 500\nsnap "
                                 << dir.file("menu.png")
                                 << "\npress EXIT\nwait 500\npress EXIT\nwait 500\npress OK\n";
    simtest::run_result r =
        simtest::run_sim({"--headless", "--root", root.path(), "--keys", dir.file("k"), "--mode",
                          "720x576", "--timeout", "60"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("lumetra-sim:"), std::string::npos) << r.err;

    uint32_t w = 0, h = 0;
    std::vector<uint32_t> px;
    ASSERT_TRUE(simtest::read_png_argb(dir.file("menu.png"), w, h, px));
    ASSERT_EQ(w, 720u);
    auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * w + static_cast<size_t>(x)]; };
    // The window's left frame (column sx + 40) runs down to its bottom edge; the inset
    // band ends at ey = 494.
    int bottom = -1;
    for (int y = 82 + 32; y < 494; ++y) {
        if (at(80, y) != 0) bottom = y;
    }
    ASSERT_GT(bottom, 82 + 32 + 100) << "no list window in the snapshot";
    // Not a pixel of the rows, the highlight included, below it.
    int stray = 0;
    for (int y = bottom + 1; y < static_cast<int>(h); ++y) {
        for (int x = 80; x < 620; ++x) stray += at(x, y) != 0;
    }
    EXPECT_EQ(stray, 0) << "pixels below the list window's bottom edge at row " << bottom;
    // The opaque highlight bar of the page's last row (the list body is translucent) lies
    // just inside it.
    int bar = 0;
    for (int y = bottom - 80; y < bottom - 1; ++y) bar += at(560, y) >> 24 == 0xff;
    EXPECT_GT(bar, 10) << "no highlight bar just above the bottom edge";
}
