// Whole runs of the lumetra-sim binary, headless, driven by key scripts.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/picture.h"
#include "tests/support/sim_support.h"
#include "tests/support/support.h"

namespace {

// One subtitle file whose first subtitle starts at frame 0, so that it is on screen
// from the first pass on, with the clock stopped.
constexpr const char* kFilm =
    "[KTF2: 2 0]\n{0}{5000}Hallo wereld|tweede regel\n{5100}{5200}Einde\n";

std::string write_script(const simtest::scratch_dir& dir, const std::string& name,
                         const std::string& text) {
    std::ofstream(dir.file(name)) << text;
    return dir.file(name);
}

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

uint32_t blend(uint32_t over, uint32_t under) {
    uint32_t a = over >> 24, v = 0xff000000;
    for (int sh = 0; sh < 24; sh += 8) {
        v |= ((over >> sh & 0xff) * a + (under >> sh & 0xff) * (255 - a) + 127) / 255 << sh;
    }
    return v;
}

size_t count_visible(const std::vector<uint32_t>& px, uint32_t w, uint32_t y0, uint32_t y1) {
    size_t n = 0;
    for (uint32_t y = y0; y < y1; ++y) {
        for (uint32_t x = 0; x < w; ++x) n += (px[size_t{y} * w + x] >> 24) != 0;
    }
    return n;
}

}  // namespace

TEST(SimScenario, ExitThenOkEndsWithStatusZeroAndTheExitSnapshot) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", kFilm);
    simtest::scratch_dir dir;
    std::string keys = write_script(dir, "k", "press EXIT\nwait 500\npress OK\n");
    simtest::run_result r =
        simtest::run_sim({"--headless", "--root", root.path(), "--keys", keys, "--mode", "720x480",
                          "--timeout", "60", "--snapshot", dir.file("end.png")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("lumetra-sim:"), std::string::npos) << r.err;
    // Taken just before the shut-down clears the screen: the subtitle is still there,
    // in the 480 lines the player keeps from the driver's mode.
    uint32_t w = 0, h = 0;
    std::vector<uint32_t> px;
    ASSERT_TRUE(simtest::read_png_argb(dir.file("end.png"), w, h, px));
    EXPECT_EQ(w, 720u);
    EXPECT_EQ(h, 480u);
    EXPECT_GT(count_visible(px, w, 0, h), 500u);
    EXPECT_TRUE(root.exists("/var/tuxbox/Tresk/tresk.conf")) << "the shut-down stored the settings";
}

TEST(SimScenario, ExitThenExitCancelsAndTheTimeoutEndsTheRun) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", kFilm);
    simtest::scratch_dir dir;
    std::string keys = write_script(dir, "k", "press EXIT\nwait 500\npress EXIT\n");
    simtest::run_result r =
        simtest::run_sim({"--headless", "--root", root.path(), "--keys", keys, "--timeout", "4"});
    EXPECT_EQ(r.status, 124) << r.out << r.err;
    EXPECT_NE(r.err.find("lumetra-sim: timeout"), std::string::npos) << r.err;
    EXPECT_FALSE(root.exists("/var/tuxbox/Tresk/tresk.conf")) << "the player never shut down";
}

TEST(SimScenario, MissingDevicesEndThePlayerWithStatusOne) {
    testsup::box_root root(testsup::dejavu_condensed());
    simtest::run_result r = simtest::run_sim(
        {"--headless", "--root", root.path(), "--remotes", "0", "--timeout", "60"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("rc_init: No RC?"), std::string::npos) << r.out << r.err;

    r = simtest::run_sim({"--headless", "--root", root.path(), "--no-fb", "--timeout", "60"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("Nelze otevrit!"), std::string::npos) << r.out << r.err;
}

TEST(SimScenario, ScriptFromStandardInputSnapsAndComposesTheSameMoment) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", kFilm);
    simtest::scratch_dir dir;
    sim::picture bg;
    bg.width = 360;
    bg.height = 288;
    bg.argb.assign(360 * 288, 0xff336699);
    std::string err;
    ASSERT_TRUE(sim::write_png(dir.file("bg.png"), bg, err)) << err;
    simtest::process sim({LUMETRA_SIM_BINARY, "--headless", "--root", root.path(), "--keys", "-",
                          "--background", dir.file("bg.png"), "--timeout", "120"},
                         {}, true);
    ASSERT_TRUE(sim.started());

    // Three pictures of one moment, asked for until the start message and the subtitle
    // are up and nothing moved between them.
    size_t raw_size = 0, status = 0, subtitle = 0, png_vs_raw = 0, tv_vs_blend = 0;
    int round = 0;
    bool consistent = testsup::wait_until(
        [&] {
            std::string n = std::to_string(++round);
            sim.write_stdin("snap " + dir.file(n + ".raw") + "\nsnap " + dir.file(n + ".png") +
                            "\ncompose " + dir.file(n + "tv.png") + "\n");
            uint32_t w = 0, h = 0, tw = 0, th = 0;
            std::vector<uint32_t> px, tv;
            // The commands run in order: once the last file is whole, so are the others.
            if (!testsup::wait_until(
                    [&] { return simtest::read_png_argb(dir.file(n + "tv.png"), tw, th, tv); },
                    20000) ||
                !simtest::read_png_argb(dir.file(n + ".png"), w, h, px) || w != 720 || h != 576 ||
                tw != 720 || th != 576) {
                return false;
            }
            std::string raw = read_bytes(dir.file(n + ".raw"));
            raw_size = raw.size();
            if (raw_size != 1280u * 720u * 4u) return false;
            status = count_visible(px, w, 50, 82);
            subtitle = count_visible(px, w, 400, 526);
            png_vs_raw = tv_vs_blend = 0;
            for (uint32_t y = 0; y < h; ++y) {
                for (uint32_t x = 0; x < w; ++x) {
                    uint32_t word;  // rows 2880 bytes apart in the player's mode
                    std::memcpy(&word, raw.data() + (size_t{y} * 720 + x) * 4, 4);
                    png_vs_raw += word != px[size_t{y} * w + x];
                }
            }
            for (size_t i = 0; i < tv.size(); ++i) tv_vs_blend += tv[i] != blend(px[i], 0xff336699);
            return status > 5000 && subtitle > 500 && png_vs_raw == 0 && tv_vs_blend == 0;
        },
        40000);
    EXPECT_TRUE(consistent) << "raw " << raw_size << " bytes, status line " << status
                            << " pixels, subtitle " << subtitle << ", PNG differs from raw in "
                            << png_vs_raw << ", composed picture from the blend in " << tv_vs_blend;

    sim.write_stdin("press EXIT\nwait 500\npress OK\n");
    ASSERT_TRUE(sim.wait(60000));
    EXPECT_EQ(sim.status(), 0) << sim.out() << sim.err();
}

TEST(SimScenario, BadCommandLinesAndScriptsStopBeforeThePlayerRuns) {
    testsup::box_root root(testsup::dejavu_condensed());
    simtest::scratch_dir dir;
    std::string bad = write_script(dir, "bad.keys", "wait 10\n# fine\nfly away\n");

    struct expectation {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<expectation> cases = {
        {{"--headless", "--bogus"}, "lumetra-sim: unknown option '--bogus'"},
        {{"--headless", "--mode", "wide"}, "lumetra-sim: --mode: bad mode 'wide'"},
        {{"--headless", "--root", dir.file("nowhere")}, "is not a directory"},
        {{"--headless", "--root", root.path(), "--keys", dir.file("none.keys")},
         "lumetra-sim: --keys: cannot read"},
        {{"--headless", "--root", root.path(), "--keys", bad},
         "lumetra-sim: " + bad + ":3: unknown command 'fly'"},
        {{"--headless", "--root", root.path(), "--background", bad},
         "lumetra-sim: --background: cannot read"},
    };
    for (const expectation& c : cases) {
        simtest::run_result r = simtest::run_sim(c.args, 30000);
        EXPECT_EQ(r.status, 2) << c.message << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << "the player did not start";
    }

    // From standard input the script is read as it comes: a bad line ends the run there.
    simtest::run_result r =
        simtest::run_sim({"--headless", "--root", root.path(), "--keys", "-", "--timeout", "60"},
                         60000, "wait 10\npress NOPE\n");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("lumetra-sim: -:2: unknown key 'NOPE'"), std::string::npos) << r.err;

    r = simtest::run_sim({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: lumetra-sim"), std::string::npos);
}
