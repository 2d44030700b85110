// Playback rules through lumetra-sim with key scripts: a shift over a short subtitle
// does not silence the rest, a rescale moves the end of the film, and a box closing
// leaves on the band only what the clock says belongs there.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/sim_support.h"
#include "tests/support/support.h"

namespace {

// Band rows of the default layout in a 720x576 mode, and the split between the top
// and the bottom subtitle positions.
constexpr uint32_t kBandTop = 82, kBandMiddle = 300, kBandBottom = 526;

// Runs a key script (after the release of the launching OK) and returns the
// snapshots it names, in order.
class Playback : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    simtest::scratch_dir dir;

    // Visible pixels in rows y0..y1 of each snapshot; empty when the run failed.
    std::vector<size_t> run(const std::string& film, const std::string& keys, int snaps,
                            uint32_t y0, uint32_t y1) {
        root.write_subtitles("film.tkx", film);
        std::ofstream(dir.file("k.keys")) << "up OK\n"
                                          << keys << "press EXIT\nwait 300\npress GREEN\n";
        simtest::run_result r =
            simtest::run_sim({"--headless", "--root", root.path(), "--keys", dir.file("k.keys"),
                              "--mode", "720x576", "--timeout", "90"},
                             120000);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        std::vector<size_t> visible;
        for (int i = 1; i <= snaps; ++i) {
            uint32_t w = 0, h = 0;
            std::vector<uint32_t> px;
            if (!simtest::read_png_argb(snap(i), w, h, px)) return {};
            size_t n = 0;
            for (uint32_t y = y0; y < y1 && y < h; ++y) {
                for (uint32_t x = 0; x < w; ++x) n += (px[size_t{y} * w + x] >> 24) != 0;
            }
            visible.push_back(n);
        }
        return visible;
    }
    std::string snap(int i) const { return dir.file(std::to_string(i) + ".png"); }
    std::string snap_line(int i) const { return "wait 300\nsnap " + snap(i) + "\n"; }
};

TEST_F(Playback, AShiftOverAShortSubtitleShowsTheNextInItsTime) {
    // 1..2 s, 3.20..3.24 s, 5..6 s, 7..8 s.
    const std::string film =
        "[KTF2: 4 0 ]\n{25}{50}Een\n{80}{81}Kort\n{125}{150}Drie\n{175}{200}Vier\n";
    // OK at 0; at 2.95 s the shift to 3.45 s passes the short one; at 4.8 s (clock 5.3)
    // the third is on screen.
    std::vector<size_t> band =
        run(film, "wait 800\npress OK\nwait 2950\npress CHANNELUP\nwait 1550\n" + snap_line(1), 1,
            kBandTop, kBandBottom);
    ASSERT_EQ(band.size(), 1u);
    EXPECT_GT(band[0], 200u) << "the third subtitle is shown";
}

TEST_F(Playback, ARescaledFilmPlaysToItsNewEnd) {
    // The last subtitle, at the top, 9.2..10 s; 25 <- 29.97 moves it to 11.03..11.99 s.
    const std::string film = "[KTF2: 3 0 ]\n{25}{50}Een\n{125}{150}Twee\n{230}{250}{256}Laatste\n";
    // The rescale (row 5) leaves the clock at the second; a typed 11 s lies past the
    // old end and goes to the last one; OK plays it to its end.
    std::vector<size_t> top = run(film,
                                  "wait 800\npress TV\nwait 300\npress DOWN\npress DOWN\n"
                                  "press DOWN\npress DOWN\npress OK\nwait 300\n"
                                  "press 0\npress 0\npress 0\npress 1\npress 1\n" +
                                      snap_line(1) + "press OK\nwait 1500\n" + snap_line(2),
                                  2, kBandTop, kBandMiddle);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_GT(top[0], 200u) << "the typed time reached the last subtitle";
    EXPECT_EQ(top[1], 0u) << "the clock ran on and cleared it at its end";
}

TEST_F(Playback, AClosedHelpBoxShowsOnlyWhatTheClockSays) {
    const std::string film = "[KTF2: 2 0 ]\n{25}{75}Een\n{500}{525}Twee\n";  // 1..3 s, 20..21 s
    const std::string help = "press HELP\npress HELP\npress HELP\n";
    // Stopped at 2 s: the subtitle comes back. Stopped at 3.6 s: the band stays
    // clear, and stays so once the clock runs again.
    std::vector<size_t> band = run(film,
                                   "wait 800\npress OK\nwait 2000\npress OK\n" + help +
                                       snap_line(1) + "press OK\nwait 1600\npress OK\n" + help +
                                       snap_line(2) + "press OK\nwait 1000\n" + snap_line(3),
                                   3, kBandTop, kBandBottom);
    ASSERT_EQ(band.size(), 3u);
    EXPECT_GT(band[0], 200u);
    EXPECT_EQ(band[1], 0u);
    EXPECT_EQ(band[2], 0u);
}

}  // namespace
