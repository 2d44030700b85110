// Whole runs of lumetra-sim on drivers the way box software leaves them: in manual-blit
// mode, showing the second page, in the box's own 1280 x 720 mode.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sim/options.h"
#include "tests/support/sim_support.h"
#include "tests/support/support.h"

namespace {

// A subtitle on screen from the first pass on, with the clock stopped.
constexpr const char* kFilm =
    "[KTF2: 2 0]\n{0}{5000}Hallo wereld|tweede regel\n{5100}{5200}Einde\n";

std::map<std::string, std::string> read_state(const std::string& path) {
    std::ifstream in(path);
    std::map<std::string, std::string> st;
    std::string name, value;
    while (in >> name >> value) st[name] = value;
    return st;
}

// Visible pixels (alpha not 0) of a PNG's rows [y0, y1).
size_t visible_pixels(const std::string& png, uint32_t y0, uint32_t y1) {
    uint32_t w = 0, h = 0;
    std::vector<uint32_t> px;
    if (!simtest::read_png_argb(png, w, h, px)) return 0;
    size_t n = 0;
    for (uint32_t y = y0; y < std::min(y1, h); ++y) {
        for (uint32_t x = 0; x < w; ++x) n += (px[size_t{y} * w + x] >> 24) != 0;
    }
    return n;
}

struct box {
    const char* name;
    std::vector<std::string> options;
    const char* mode_after;
    const char* offset_after;
    int pans;
    bool blits;  // FBIO_BLIT taken after the first
};

class SimDisplay : public testing::TestWithParam<box> {};

// The viewer sees the subtitle while the player runs, and the box gets its mode and
// page back after it ends.
TEST_P(SimDisplay, TheSubtitleIsSeenAndTheBoxGetsItsDisplayBack) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", kFilm);
    simtest::scratch_dir dir;
    std::ofstream(dir.file("k")) << "wait 800\nsnap " << dir.file("mid.png")
                                 << "\npress EXIT\nwait 300\npress OK\n";
    std::vector<std::string> args{"--headless",
                                  "--root",
                                  root.path(),
                                  "--keys",
                                  dir.file("k"),
                                  "--timeout",
                                  "60",
                                  "--snapshot",
                                  dir.file("end.png"),
                                  "--driver-state",
                                  dir.file("state")};
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    simtest::run_result r = simtest::run_sim(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("lumetra-sim:"), std::string::npos) << r.err;
    // The band of the subtitle's bottom position, on the page shown, as blitted.
    EXPECT_GT(visible_pixels(dir.file("end.png"), 400, 526), 500u);
    EXPECT_GT(visible_pixels(dir.file("mid.png"), 400, 526), 500u);
    auto st = read_state(dir.file("state"));
    EXPECT_EQ(st["mode"], GetParam().mode_after);
    EXPECT_EQ(st["offset"], GetParam().offset_after);
    EXPECT_EQ(st["bits_per_pixel"], "32");
    EXPECT_EQ(st["pan_requests"], std::to_string(GetParam().pans));
    EXPECT_EQ(std::stoi(st["blit_requests"]) > 1, GetParam().blits) << st["blit_requests"];
    EXPECT_EQ(st["manual_blit"], GetParam().blits ? "1" : "0");
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, SimDisplay,
    testing::Values(box{"ManualBlit", {"--manual-blit"}, "1280x720", "0,0", 0, true},
                    box{"Menus1280x720", {"--mode", "1280x720"}, "1280x720", "0,0", 0, false},
                    box{"Menus1920x1080", {"--mode", "1920x1080"}, "1920x1080", "0,0", 0, false},
                    box{"SecondPageShown",
                        {"--pages", "2", "--shown-page", "1"},
                        "1280x720",
                        "0,720",
                        1,
                        false},
                    box{"All",
                        {"--mode", "1920x1080", "--pages", "2", "--shown-page", "1",
                         "--manual-blit"},
                        "1920x1080",
                        "0,1080",
                        1,
                        true}),
    [](const auto& info) { return std::string(info.param.name); });

// Every way out of a run writes the driver's state. After SIGTERM or SIGINT the run
// ends by the signal, and the state shows the box's mode and page, which the player's
// signal handler put back; after the time limit or a bad line on standard input, the
// player's own mode, which it still held.
TEST(SimDisplayWaysOut, TheDriverStateIsWrittenWhicheverWayTheRunEnds) {
    const struct {
        const char* name;
        int sig;              // sent once the player runs; 0 none
        const char* timeout;  // --timeout
        const char* line;     // sent on standard input once the player runs
        int status;
        const char* mode;
        const char* offset;
        const char* mode_requests;
    } ways[] = {
        {"SIGTERM", SIGTERM, "600", "", 128 + SIGTERM, "1920x1080", "0,1080", "2"},
        {"SIGINT", SIGINT, "600", "", 128 + SIGINT, "1920x1080", "0,1080", "2"},
        {"time limit", 0, "10", "", 124, "720x576", "0,0", "1"},
        {"bad line", 0, "600", "bogus\n", 2, "720x576", "0,0", "1"},
    };
    for (const auto& w : ways) {
        struct sigaction ours {};
        if (w.sig != 0 && sigaction(w.sig, nullptr, &ours) == 0 && ours.sa_handler == SIG_IGN) {
            std::printf("%s skipped: ignored here, and so in the simulator\n", w.name);
            continue;
        }
        testsup::box_root root(testsup::dejavu_condensed());
        root.write_subtitles("film.tkx", kFilm);
        simtest::scratch_dir dir;
        simtest::process sim({LUMETRA_SIM_BINARY, "--headless", "--root", root.path(), "--keys",
                              "-", "--mode", "1920x1080", "--pages", "2", "--shown-page", "1",
                              "--timeout", w.timeout, "--driver-state", dir.file("state")},
                             {}, true);
        ASSERT_TRUE(sim.started()) << w.name;
        // Key scripts play once the player has opened its remote control, after it
        // took the display over.
        sim.write_stdin("snap " + dir.file("running.png") + "\n");
        ASSERT_TRUE(testsup::wait_until(
            [&] { return std::filesystem::exists(dir.file("running.png")); }, 60000))
            << w.name << ": " << sim.err();
        sim.write_stdin(w.line);
        if (w.sig != 0) sim.signal(w.sig);
        ASSERT_TRUE(sim.wait(60000)) << w.name;
        EXPECT_EQ(sim.status(), w.status) << w.name << ": " << sim.err();
        auto st = read_state(dir.file("state"));
        EXPECT_EQ(st["mode"], w.mode) << w.name;
        EXPECT_EQ(st["offset"], w.offset) << w.name;
        EXPECT_EQ(st["mode_requests"], w.mode_requests) << w.name;
        EXPECT_EQ(st["manual_blit"], "0") << w.name;
    }
}

TEST(SimDisplayOptions, PagesAndBlitOptionsAreCheckedAndDocumented) {
    struct line {
        std::vector<const char*> args;
        const char* error;  // "" when accepted
    };
    for (const line& l : {line{{"--pages", "2", "--shown-page", "1", "--manual-blit"}, ""},
                          line{{"--pages=4", "--shown-page=3"}, ""},
                          line{{"--pages", "0"}, "--pages: bad number '0' (1 to 4)"},
                          line{{"--pages", "5"}, "--pages: bad number '5' (1 to 4)"},
                          line{{"--shown-page", "1"}, "--shown-page: page 1 needs --pages 2"},
                          line{{"--shown-page", "x"}, "--shown-page: bad number 'x' (0 to 3)"},
                          line{{"--manual-blit=1"}, "option '--manual-blit' takes no value"},
                          line{{"--driver-state"}, "option '--driver-state' needs a value"}}) {
        sim::options o;
        std::string err;
        const bool ok = sim::parse_options(l.args, o, err);
        EXPECT_EQ(ok, std::string(l.error).empty()) << err;
        if (!ok) {
            EXPECT_NE(err.find(l.error), std::string::npos) << err;
        }
    }
    sim::options o;
    std::string err;
    const char* args[] = {"--pages", "2", "--shown-page", "1", "--manual-blit"};
    ASSERT_TRUE(sim::parse_options(args, o, err));
    EXPECT_EQ(o.pages, 2u);
    EXPECT_EQ(o.shown_page, 1u);
    EXPECT_TRUE(o.manual_blit);
    for (const char* opt :
         {"--pages N", "--shown-page N", "--manual-blit", "--driver-state FILE"}) {
        EXPECT_NE(sim::usage().find(opt), std::string_view::npos) << opt;
    }
}

}  // namespace
