// The second language through lumetra-sim, headless, with snapshots: chosen in the file
// menu (TEXT) and aligned to the first file, at the top and directly above the first,
// at zoom 1 and 7 with a long line in each language, after a frame-rate rescale, and
// following the film on the video decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fb/primitives.h"
#include "tests/support/sim_support.h"
#include "tests/support/support.h"

namespace {

constexpr const char* kLongFirst =
    "Dit is een hele lange regel die bij de grootste letter nooit op een regel past";
constexpr const char* kLongSecond =
    "This is a very long line that never fits on a single line at the largest size";

// A film in 40 ms frames: a long line from 0 to 5 s, then irregular subtitles, one of
// them from 59 to 67 s; the second language is the same film in other words, every
// time delay_frames later, so that it needs aligning.
std::string film(bool second, int delay_frames) {
    std::vector<std::string> lines;
    auto add = [&](int64_t from, int64_t to, const std::string& text) {
        lines.push_back("{" + std::to_string(from + delay_frames) + "}{" +
                        std::to_string(to + delay_frames) + "}" + text);
    };
    add(0, 125, second ? kLongSecond : kLongFirst);
    uint32_t x = 11;
    int64_t at = 150;
    for (int i = 0; at < 6000; ++i) {
        if (at >= 1400 && at < 1700) {
            add(1475, 1675, second ? "Sixty seconds" : "Zestig seconden");
            at = 1700;
            continue;
        }
        x = x * 1103515245u + 12345u;
        const int64_t length = 25 + (x >> 8) % 75;
        add(at, at + length, (second ? "Line " : "Regel ") + std::to_string(i));
        at += length + 20 + (x >> 16) % 100;
    }
    std::string s = "[KTF2: " + std::to_string(lines.size()) + " 0 ]\n";
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

// Rows of the band that hold the first language's colour and the second's.
struct rows_seen {
    int first_top = -1, first_bottom = -1, second_top = -1, second_bottom = -1;
    bool both() const { return first_top >= 0 && second_top >= 0; }
    bool apart() const { return first_bottom < second_top || second_bottom < first_top; }
};

class SimSecond : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    simtest::scratch_dir dir;

    void SetUp() override {
        root.write_subtitles("a.tkx", film(false, 0));
        root.write_subtitles("b.tkx", film(true, 75));
        std::filesystem::create_symlink("a.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    }
    // One run: the help box closed, b chosen as the second language, then keys; the
    // script ends with a save and close.
    void run(std::string keys, bool video = false) {
        // Snapshots go to the scratch directory.
        for (size_t at = keys.find("snap "); at != std::string::npos;
             at = keys.find("snap ", at + 5)) {
            keys.insert(at + 5, dir.file(""));
        }
        std::ofstream(dir.file("k.keys"))
            << "up OK\nwait 1500\npress MENU\nwait 800\npress DOWN\npress TEXT\nwait 3000\n"
            << keys << "press EXIT\nwait 300\npress YELLOW\n";
        std::vector<std::string> args = {"--headless", "--root",           root.path(),
                                         "--keys",     dir.file("k.keys"), "--mode",
                                         "720x576",    "--timeout",        "60"};
        if (video) args.push_back("--video");
        simtest::run_result r = simtest::run_sim(args, 120000);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    std::string snap(const std::string& name) const { return dir.file(name + ".png"); }
    // The rows of the subtitle band (below the status strip) with each language's colour,
    // in either palette: the first language's lines are yellow, the second's white.
    rows_seen seen(const std::string& name) const {
        rows_seen r;
        uint32_t w = 0, h = 0;
        std::vector<uint32_t> px;
        if (!simtest::read_png_argb(snap(name), w, h, px)) return r;
        for (uint32_t y = 82; y < std::min<uint32_t>(h, 526); ++y) {
            bool first = false, second = false;
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t p = px[size_t{y} * w + x];
                for (const auto& pal : palettes) {
                    first = first || p == pal[3];
                    second = second || p == pal[7];
                }
            }
            const int row = static_cast<int>(y);
            if (first) {
                if (r.first_top < 0) r.first_top = row;
                r.first_bottom = row;
            }
            if (second) {
                if (r.second_top < 0) r.second_top = row;
                r.second_bottom = row;
            }
        }
        return r;
    }
    std::string memory() const { return root.read("/var/tuxbox/Tresk/tresk.sync"); }
};

TEST_F(SimSecond, TopAndAboveAtZoomOneAndSevenAfterAligning) {
    std::string keys = "snap top1.png\npress TEXT\npress VIDEO\nwait 500\nsnap above1.png\n";
    for (int i = 0; i < 6; ++i) keys += "press RED\nwait 300\n";
    keys += "wait 500\nsnap above7.png\npress TEXT\npress VIDEO\nwait 500\nsnap top7.png\n";
    run(keys);
    // Aligned three seconds earlier: both long lines are on the band at the start.
    EXPECT_NE(memory().find("\n= 0 -3000 1 1 b.tkx\n"), std::string::npos) << memory();
    for (const char* name : {"top1", "above1", "above7", "top7"}) {
        const rows_seen r = seen(name);
        ASSERT_TRUE(r.both()) << name;
        EXPECT_TRUE(r.apart()) << name;
    }
    const rows_seen top1 = seen("top1"), above1 = seen("above1");
    const rows_seen above7 = seen("above7"), top7 = seen("top7");
    // At the top: right under the status strip, above a first language at the bottom.
    EXPECT_LT(top1.second_top, 82 + 12);
    EXPECT_LT(top7.second_top, 82 + 12);
    EXPECT_GT(top1.first_top, 300);
    // Above: over the first language, close to it.
    EXPECT_LT(above1.second_bottom, above1.first_top);
    EXPECT_LT(above1.first_top - above1.second_bottom, 40);
    EXPECT_LT(above7.second_bottom, above7.first_top);
    EXPECT_GT(above1.second_top, 200);
    // The long lines wrap: at zoom 7 each language takes more rows than at zoom 1.
    EXPECT_GT(above7.first_bottom - above7.first_top, above1.first_bottom - above1.first_top);
    EXPECT_GT(top7.second_bottom - top7.second_top, top1.second_bottom - top1.second_top);
}

TEST_F(SimSecond, ARescaleMovesBoth) {
    // TV, the second row (25 -> 23.976, times longer): both files move together, and the
    // clock goes to the next subtitle, with the second language's beside it.
    run("press TV\nwait 600\npress DOWN\npress OK\nwait 1500\nsnap rescale.png\n");
    const rows_seen r = seen("rescale");
    ASSERT_TRUE(r.both());
    EXPECT_TRUE(r.apart());
}

TEST_F(SimSecond, FollowingTheFilmCarriesBoth) {
    run("press OK\nwait 800\nvideo seek +60\nwait 2000\nsnap follow.png\n", true);
    const rows_seen r = seen("follow");
    ASSERT_TRUE(r.both());
    EXPECT_TRUE(r.apart());
}

}  // namespace
