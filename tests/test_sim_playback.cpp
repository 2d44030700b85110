// Playback rules through lumetra-sim with key scripts: a shift over a short subtitle
// does not silence the rest, a rescale moves the end of the film, a box closing leaves
// on the band only what the clock says belongs there, and the clock follows the film.
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

// Runs key scripts (after the release of the launching OK) and looks at the
// snapshots they take.
class Playback : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    simtest::scratch_dir dir;

    // One run over film; with `video`, the box has a video decoder.
    void run(const std::string& film, const std::string& keys, bool video = false) {
        root.write_subtitles("film.tkx", film);
        std::ofstream(dir.file("k.keys")) << "up OK\n"
                                          << keys << "press EXIT\nwait 300\npress GREEN\n";
        std::vector<std::string> args{"--headless", "--root",           root.path(),
                                      "--keys",     dir.file("k.keys"), "--mode",
                                      "720x576",    "--timeout",        "90"};
        if (video) args.push_back("--video");
        simtest::run_result r = simtest::run_sim(args, 120000);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
    }
    std::string snap(int i) const { return dir.file(std::to_string(i) + ".png"); }
    std::string snap_line(int i) const { return "wait 300\nsnap " + snap(i) + "\n"; }
    // Snapshot i's pixels; empty when there is none.
    std::vector<uint32_t> pixels(int i) const {
        uint32_t w = 0, h = 0;
        std::vector<uint32_t> px;
        if (!simtest::read_png_argb(snap(i), w, h, px) || w != 720) return {};
        return px;
    }
    // Visible pixels in rows y0..y1 of snapshot i.
    size_t visible(int i, uint32_t y0, uint32_t y1) const {
        std::vector<uint32_t> px = pixels(i);
        size_t n = 0;
        for (size_t k = size_t{y0} * 720; k < size_t{y1} * 720 && k < px.size(); ++k) {
            n += (px[k] >> 24) != 0;
        }
        return n;
    }
};

TEST_F(Playback, AShiftOverAShortSubtitleShowsTheNextInItsTime) {
    // 1..2 s, 3.20..3.24 s, 5..6 s, 7..8 s.
    const std::string film =
        "[KTF2: 4 0 ]\n{25}{50}Een\n{80}{81}Kort\n{125}{150}Drie\n{175}{200}Vier\n";
    // OK at 0; at 2.95 s the shift to 3.45 s passes the short one; at 4.8 s (clock 5.3)
    // the third is on screen.
    run(film, "wait 800\npress OK\nwait 2950\npress CHANNELUP\nwait 1550\n" + snap_line(1));
    EXPECT_GT(visible(1, kBandTop, kBandBottom), 200u) << "the third subtitle is shown";
}

TEST_F(Playback, ARescaledFilmPlaysToItsNewEnd) {
    // The last subtitle, at the top, 9.2..10 s; 25 <- 29.97 moves it to 11.03..11.99 s.
    const std::string film = "[KTF2: 3 0 ]\n{25}{50}Een\n{125}{150}Twee\n{230}{250}{256}Laatste\n";
    // The rescale (row 5) leaves the clock at the second; a typed 11 s lies past the
    // old end and goes to the last one; OK plays it to its end.
    run(film,
        "wait 800\npress TV\nwait 300\npress DOWN\npress DOWN\npress DOWN\npress DOWN\n"
        "press OK\nwait 300\npress 0\npress 0\npress 0\npress 1\npress 1\n" +
            snap_line(1) + "press OK\nwait 1500\n" + snap_line(2));
    EXPECT_GT(visible(1, kBandTop, kBandMiddle), 200u)
        << "the typed time reached the last subtitle";
    EXPECT_EQ(visible(2, kBandTop, kBandMiddle), 0u)
        << "the clock ran on and cleared it at its end";
}

TEST_F(Playback, AClosedHelpBoxShowsOnlyWhatTheClockSays) {
    const std::string film = "[KTF2: 2 0 ]\n{25}{75}Een\n{500}{525}Twee\n";  // 1..3 s, 20..21 s
    const std::string help = "press HELP\npress HELP\npress HELP\n";
    // Stopped at 2 s: the subtitle comes back. Stopped at 3.6 s: the band stays
    // clear, and stays so once the clock runs again.
    run(film, "wait 800\npress OK\nwait 2000\npress OK\n" + help + snap_line(1) +
                  "press OK\nwait 1600\npress OK\n" + help + snap_line(2) +
                  "press OK\nwait 1000\n" + snap_line(3));
    EXPECT_GT(visible(1, kBandTop, kBandBottom), 200u);
    EXPECT_EQ(visible(2, kBandTop, kBandBottom), 0u);
    EXPECT_EQ(visible(3, kBandTop, kBandBottom), 0u);
}

}  // namespace

namespace {

// 1..1.6 s at the bottom, 3..6 s at the top, 62..66 s at the bottom.
constexpr const char* kFilmToFollow =
    "[KTF2: 3 0 ]\n{25}{40}Een\n{75}{150}{256}Twee\n{1550}{1650}Drie\n";
// OK at 0; the film pauses at 1.5 s for 3 s, plays on, and jumps a minute on.
constexpr const char* kFollowKeys =
    "wait 800\nsnap {0}\npress OK\nwait 1200\nsnap {1}\nwait 200\nvideo pause\nwait 2800\n"
    "snap {2}\nvideo play\nwait 2000\nsnap {3}\nvideo seek +60\nwait 500\nsnap {4}\n";

std::string with_snaps(std::string keys, const std::vector<std::string>& files) {
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string mark = "{" + std::to_string(i) + "}";
        keys.replace(keys.find(mark), mark.size(), files[i]);
    }
    return keys;
}

}  // namespace

TEST_F(Playback, TheSubtitlesFollowTheFilmThroughAPauseAndAJump) {
    run(kFilmToFollow, with_snaps(kFollowKeys, {snap(0), snap(1), snap(2), snap(3), snap(4)}),
        true);
    EXPECT_GT(visible(1, kBandMiddle, kBandBottom), 200u) << "the first on time, at 1.2 s";
    // At 4.5 s the film has stood for 3 s: its clock is at 1.5 s, the second waits.
    EXPECT_EQ(visible(2, kBandTop, kBandMiddle), 0u) << "held back by the pause";
    EXPECT_GT(visible(3, kBandTop, kBandMiddle), 200u) << "shown 3 s late, at film time 3.5 s";
    EXPECT_EQ(visible(4, kBandTop, kBandMiddle), 0u) << "the jump cleared it";
    EXPECT_GT(visible(4, kBandMiddle, kBandBottom), 200u) << "the third, a minute on";

    // Without a decoder the film commands change nothing: the clock runs on its own.
    run(kFilmToFollow, with_snaps(kFollowKeys, {snap(10), snap(11), snap(12), snap(13), snap(14)}));
    EXPECT_GT(visible(12, kBandTop, kBandMiddle), 200u) << "the second at 4.5 s, as today";
    EXPECT_EQ(visible(13, kBandTop, kBandMiddle), 0u) << "and gone at 6.5 s";
    EXPECT_EQ(visible(14, kBandMiddle, kBandBottom), 0u);
    // The start message tells that the clock follows the film.
    std::vector<uint32_t> following = pixels(0), manual = pixels(10);
    ASSERT_EQ(following.size(), manual.size());
    size_t differing = 0;
    for (size_t k = 50 * 720; k < 82 * 720; ++k) differing += following[k] != manual[k];
    EXPECT_GT(differing, 100u);
}

TEST_F(Playback, AWrapOfTheFilmsTimeStampChangesNothingVisible) {
    // 2.5..4 s; the time stamp wraps 2 s after OK.
    run("[KTF2: 1 0 ]\n{63}{100}Na de sprong\n",
        "video wrap\nwait 800\npress OK\nwait 2700\n" + snap_line(1), true);
    EXPECT_GT(visible(1, kBandMiddle, kBandBottom), 200u);
}
