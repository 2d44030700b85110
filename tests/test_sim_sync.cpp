// Sync that learns, through lumetra-sim with a video decoder: subtitles timed at 23.976
// against a film at 25. The film is paused at each sync and moved by whole seconds, so
// each sync is exact however busy the machine is; the video model runs at 90 kHz.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sim_support.h"
#include "tests/support/support.h"

namespace {

constexpr int kLines = 30;
// Film time of line i, ms, counted from the film's moment of the first sync (line 0).
int64_t film_ms(int i) {
    return int64_t{20000} * i;
}
// The file's own start of line i: film time from 10 s on, scaled by 25 / 23.976, in
// whole 40 ms frames.
int64_t own_ms(int i) {
    return (film_ms(i) + 10000) * 25000 / 23976 / 40 * 40;
}

class SimSync : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    simtest::scratch_dir dir;

    void SetUp() override {
        std::string file = "[KTF2: " + std::to_string(kLines) + " 0 ]\n";
        for (int i = 0; i < kLines; ++i) {
            const int64_t from = own_ms(i) / 40;
            file += "{" + std::to_string(from) + "}{" + std::to_string(from + 50) + "}Regel " +
                    std::to_string(i) + "\n";
        }
        root.write_subtitles("film.tkx", file);
        root.write_subtitles("tweede.tkx", "[KTF2: 1 0 ]\n{25}{50}Tweede\n");
    }
    // One run of the player with its decoder; the script ends with a save and close.
    void run(const std::string& keys) {
        std::ofstream(dir.file("k.keys")) << "up OK\nwait 500\n"
                                          << keys << "press EXIT\nwait 300\npress YELLOW\n";
        simtest::run_result r =
            simtest::run_sim({"--headless", "--root", root.path(), "--keys", dir.file("k.keys"),
                              "--mode", "720x576", "--video", "--timeout", "30"},
                             90000);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    std::string snap(const std::string& name) const { return dir.file(name + ".png"); }
    // Visible pixels in a rectangle of a snapshot.
    size_t visible(const std::string& name, uint32_t x0, uint32_t y0, uint32_t x1,
                   uint32_t y1) const {
        uint32_t w = 0, h = 0;
        std::vector<uint32_t> px;
        if (!simtest::read_png_argb(snap(name), w, h, px) || w != 720) return 0;
        size_t n = 0;
        for (uint32_t y = y0; y < y1 && y < h; ++y) {
            for (uint32_t x = x0; x < x1; ++x) n += (px[size_t{y} * w + x] >> 24) != 0;
        }
        return n;
    }
    // The memory's line for film.tkx: shift, num, den, position; false if none.
    bool remembered(int64_t& shift, int64_t& num, int64_t& den, int& position) const {
        std::istringstream in(root.read("/var/tuxbox/Tresk/tresk.sync"));
        std::string line;
        while (std::getline(in, line)) {
            long long size = 0, s = 0, n = 0, d = 0;
            int p = 0;
            char name[64] = {};
            if (std::sscanf(line.c_str(), "%lld %lld %lld %lld %d %63s", &size, &s, &n, &d, &p,
                            name) == 6 &&
                std::string(name) == "film.tkx") {
                shift = s, num = n, den = d, position = p;
                return true;
            }
        }
        return false;
    }
};

TEST_F(SimSync, TwoSyncsCorrectTheDriftWhichTheFileKeepsUntilOrigineel) {
    // film.tkx chosen in the file menu the first start shows.
    // Sync A: the film paused where line 0 is spoken, the clock put on line 0, OK.
    // Sync B: OK stops, the film 3 minutes on (line 9), the typed time 0:03:10 puts
    // the clock on line 9, OK. The question comes; OK applies it. The film plays on
    // to line 12 (1 s into it): line 12 shows, which uncorrected it would not (it
    // came 8 s late).
    run("press OK\nwait 400\nvideo pause\npress LEFT\nwait 300\npress OK\nwait 300\npress OK\nwait "
        "300\n"
        "video seek +180\nwait 300\npress 0\npress 0\npress 3\npress 1\npress 0\nwait 300\n"
        "press OK\nwait 600\nsnap " +
        snap("question") + "\npress OK\nwait 300\nvideo seek +61\nvideo play\nwait 500\nsnap " +
        snap("line12") + "\n");
    EXPECT_GT(visible("question", 80, 130, 520, 220), 5000u) << "the question's box";
    EXPECT_GT(visible("line12", 0, 440, 720, 520), 200u) << "line 12 on the band";
    int64_t shift = 0, num = 0, den = 0;
    int position = 0;
    ASSERT_TRUE(remembered(shift, num, den, position)) << root.read("/var/tuxbox/Tresk/tresk.sync");
    ASSERT_EQ(num, 2997);
    ASSERT_EQ(den, 3125);
    // The clock followed the film from sync B (line 9's start at film_ms(9)): line i
    // shows at film time film_ms(9) + (its corrected start - line 9's).
    auto corrected = [&](int i) { return (own_ms(i) * num + den / 2) / den + shift; };
    EXPECT_EQ(corrected(9), own_ms(9)) << "the line synced stays";
    std::string figures;
    for (int i = 9; i < kLines; ++i) {
        const int64_t error = film_ms(9) + corrected(i) - corrected(9) - film_ms(i);
        figures += " " + std::to_string(error);
        EXPECT_LE(std::llabs(error), 100) << "line " << i;
    }
    std::printf("error of lines 9..29 after the correction (ms):%s\n", figures.c_str());

    // Started again: the correction is restored and said so. Another file chosen and
    // film.tkx again: the correction and the position come back, the clock stopped.
    // Then "Origineel", the FPS menu's seventh row, puts the file on its own times.
    run("snap " + snap("restored") +
        "\npress MENU\nwait 400\npress DOWN\npress OK\nwait 400\n"
        "press MENU\nwait 400\npress OK\nwait 400\nsnap " +
        snap("again") +
        "\nwait 300\npress TV\nwait 300\npress DOWN\npress DOWN\npress DOWN\npress DOWN\n"
        "press DOWN\npress DOWN\npress OK\nwait 300\n");
    for (const char* name : {"restored", "again"}) {
        EXPECT_GT(visible(name, 40, 50, 600, 82), 10000u) << name << ": the status line";
        EXPECT_GT(visible(name, 0, 440, 720, 520), 200u) << name << ": the resumed line";
    }
    ASSERT_TRUE(remembered(shift, num, den, position));
    EXPECT_EQ(shift, 0);
    EXPECT_EQ(num, 1);
    EXPECT_EQ(den, 1);
    EXPECT_GT(position, 9) << "still where the viewer was";
}

}  // namespace
