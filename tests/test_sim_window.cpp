// The simulator's window under a private X server (Xvfb): keys sent through the
// window system reach the player, and the screen shows the framebuffer blended over
// the background at a whole scale factor.
#include <gtest/gtest.h>
#include <linux/input.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/picture.h"
#include "tests/support/sim_support.h"
#include "tests/support/support.h"

#if LUMETRA_HAVE_WINDOW
#include "sim/window.h"
#endif
#include "sim/key_panel.h"

namespace {

constexpr const char* kFilm = "[KTF2: 1 0]\n{0}{9000}Hallo wereld|tweede regel\n";

uint32_t blend(uint32_t over, uint32_t under) {
    uint32_t a = over >> 24, v = 0;
    for (int sh = 0; sh < 24; sh += 8) {
        v |= ((over >> sh & 0xff) * a + (under >> sh & 0xff) * (255 - a) + 127) / 255 << sh;
    }
    return v;
}

// The window's geometry once the simulator has sized it: its height a whole number of
// picture heights and its width at least the picture's. Asked again until then: on a
// loaded machine an xdotool call now and then comes back with nothing, and the window
// is mapped at another size before the simulator's own sizing reaches the X server; a
// geometry read then would send the test to the wrong part of the screen for good.
std::map<std::string, int> geometry(const simtest::x_server& x, const std::string& wid) {
    std::map<std::string, int> g;
    testsup::wait_until(
        [&] {
            g.clear();
            std::istringstream in(x.xdotool({"getwindowgeometry", "--shell", wid}));
            std::string line;
            while (std::getline(in, line)) {
                size_t eq = line.find('=');
                if (eq != std::string::npos)
                    g[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
            }
            const int f = g["HEIGHT"] / 576;
            return f > 0 && g["HEIGHT"] == 576 * f && g["WIDTH"] >= 720 * f;
        },
        60000);
    return g;
}

// The window's id once it is mapped; "" if it does not appear.
std::string find_window(const simtest::x_server& x) {
    std::string wid;
    testsup::wait_until(
        [&] {
            wid = x.xdotool({"search", "--onlyvisible", "--name", "^lumetra-sim$"});
            wid = wid.substr(0, wid.find('\n'));
            return !wid.empty();
        },
        30000);
    return wid;
}

// The window's environment: the X server, and in sanitizer builds no leak report at
// exit. SDL's renderer leaves a few blocks of the system's graphics libraries, whose
// stacks (code without frame pointers) cannot be told apart from ours for a
// suppression; the headless runs and the in-process tests keep leak checking. Under
// ThreadSanitizer, the software graphics driver's mutexes give reports in any frame
// (and halt_on_error ends the simulator mid-test); only reports with the driver's
// code on a stack are suppressed, so races in our own code still count.
std::vector<std::string> window_env(const simtest::x_server& x) {
    auto with = [](const char* name, const std::string& option) {
        const char* set = std::getenv(name);
        std::string options = set != nullptr && *set != '\0' ? std::string(set) + ":" : "";
        return std::string(name) + "=" + options + option;
    };
    return {
        x.display_env(), with("ASAN_OPTIONS", "detect_leaks=0"),
        with("TSAN_OPTIONS", "suppressions=" LUMETRA_SOURCE_DIR "/tests/support/window.tsan.supp")};
}

// Asks the running simulator for snapshot number n of its framebuffer and reads it.
bool snap_framebuffer(simtest::process& sim, const simtest::scratch_dir& dir, int n, uint32_t& w,
                      uint32_t& h, std::vector<uint32_t>& fb) {
    std::string name = dir.file("fb" + std::to_string(n) + ".png");
    sim.write_stdin("snap " + name + "\n");
    return testsup::wait_until([&] { return simtest::read_png_argb(name, w, h, fb); }, 20000);
}

// What differs between the key panel on the screen and its layout: a line whose ink does
// not end where the layout says (cut, or not drawn), ink in the panel's right margin, a
// panel that does not reach the window's right edge, a window not wholly on the screen.
// The panel is the window's part right of the picture. "" when nothing.
std::string panel_on_screen(const simtest::screen_dump& shot, std::map<std::string, int> g,
                            const sim::panel_layout& l) {
    constexpr uint32_t kBack = 0x1c2026;
    const int64_t left = g["X"] + 720 * l.scale, top = g["Y"], right = g["X"] + g["WIDTH"];
    std::string why;
    if (g["X"] < 0 || right > shot.width || top + g["HEIGHT"] > shot.height) {
        why += "the window is not wholly on the screen\n";
    }
    // Nothing in the margin, and the panel's background up to the window's edge.
    for (int64_t y = top; y < top + l.height; ++y) {
        for (int64_t x = right - l.margin; x < right; ++x) {
            if (shot.at(x, y) != kBack) {
                return why + "not the panel's background in its right margin at " +
                       std::to_string(x - left) + ", " + std::to_string(y - top) + "\n";
            }
        }
    }
    if (right - left != l.width) {
        why += "the panel is " + std::to_string(right - left) + " wide, laid out " +
               std::to_string(l.width) + "\n";
    }
    std::map<int, int> ends;  // baseline -> where its last line ends
    for (const sim::panel_line& line : l.lines) {
        ends[line.baseline] = std::max(ends[line.baseline], line.x + line.width);
    }
    for (auto [baseline, end] : ends) {
        int ink = -1;
        for (int y = baseline - l.ascent; y < baseline + l.descent; ++y) {
            for (int x = 0; x < right - left; ++x) {
                if (shot.at(left + x, top + y) != kBack) ink = std::max(ink, x);
            }
        }
        if (ink >= end || ink < end - 2 * l.scale - 1) {
            why += "baseline " + std::to_string(baseline) + ": ink to " + std::to_string(ink) +
                   ", text to " + std::to_string(end) + "\n";
        }
    }
    return why;
}

bool skip_reason(std::string& why) {
#if !LUMETRA_HAVE_WINDOW
    why = "built without SDL2";
    return true;
#endif
    if (!simtest::have_program("Xvfb") || !simtest::have_program("xdotool")) {
        why = "Xvfb and xdotool are needed (scripts/install-deps.sh installs them)";
        return true;
    }
    return false;
}

}  // namespace

#if LUMETRA_HAVE_WINDOW
TEST(SimWindowKeys, KeyboardMapsToTheRemoteAndHeldKeysRepeat) {
    EXPECT_EQ(sim::remote_code_for(SDLK_RETURN), KEY_OK);
    EXPECT_EQ(sim::remote_code_for(SDLK_ESCAPE), KEY_EXIT);
    EXPECT_EQ(sim::remote_code_for(SDLK_BACKSPACE), KEY_EXIT);
    EXPECT_EQ(sim::remote_code_for(SDLK_F1), KEY_RED);
    EXPECT_EQ(sim::remote_code_for(SDLK_g), KEY_GREEN);
    EXPECT_EQ(sim::remote_code_for(SDLK_F3), KEY_YELLOW);
    EXPECT_EQ(sim::remote_code_for(SDLK_b), KEY_BLUE);
    EXPECT_EQ(sim::remote_code_for(SDLK_0), KEY_0);
    EXPECT_EQ(sim::remote_code_for(SDLK_KP_9), KEY_9);
    EXPECT_EQ(sim::remote_code_for(SDLK_PLUS), KEY_VOLUMEUP);
    EXPECT_EQ(sim::remote_code_for(SDLK_EQUALS), KEY_VOLUMEUP);
    EXPECT_EQ(sim::remote_code_for(SDLK_MINUS), KEY_VOLUMEDOWN);
    EXPECT_EQ(sim::remote_code_for(SDLK_PAGEUP), KEY_CHANNELUP);
    EXPECT_EQ(sim::remote_code_for(SDLK_PAGEDOWN), KEY_CHANNELDOWN);
    EXPECT_EQ(sim::remote_code_for(SDLK_h), KEY_HELP);
    EXPECT_EQ(sim::remote_code_for(SDLK_m), KEY_MENU);
    EXPECT_EQ(sim::remote_code_for(SDLK_t), KEY_TV);
    EXPECT_EQ(sim::remote_code_for(SDLK_v), KEY_VIDEO);
    EXPECT_EQ(sim::remote_code_for(SDLK_UP), KEY_UP);
    EXPECT_EQ(sim::remote_code_for(SDLK_F12), -1) << "F12 is the panel's own key";
    // The film's keys act on the video decoder and send nothing to the remote.
    EXPECT_EQ(sim::remote_code_for(SDLK_SPACE), -1);
    EXPECT_EQ(sim::film_key_for(SDLK_SPACE).action, sim::video_action::pause);
    EXPECT_EQ(sim::film_key_for(SDLK_LEFTBRACKET).seconds, -10);
    EXPECT_EQ(sim::film_key_for(SDLK_RIGHTBRACKET).seconds, 10);
    EXPECT_FALSE(sim::film_key_for(SDLK_RETURN).found);
    EXPECT_EQ(sim::remote_code_for(SDLK_q), -1);
    // Every key of the player's table is reachable.
    for (int code : {KEY_0,      KEY_1,     KEY_2,         KEY_3,          KEY_4,    KEY_5,
                     KEY_6,      KEY_7,     KEY_8,         KEY_9,          KEY_UP,   KEY_DOWN,
                     KEY_LEFT,   KEY_RIGHT, KEY_VOLUMEUP,  KEY_VOLUMEDOWN, KEY_HELP, KEY_MENU,
                     KEY_EXIT,   KEY_OK,    KEY_TV,        KEY_VIDEO,      KEY_RED,  KEY_GREEN,
                     KEY_YELLOW, KEY_BLUE,  KEY_CHANNELUP, KEY_CHANNELDOWN}) {
        bool found = false;
        for (SDL_Keycode k = 0; k < 0x80 && !found; ++k) found = sim::remote_code_for(k) == code;
        for (SDL_Keycode k = SDLK_CAPSLOCK; k <= SDLK_KP_PERIOD && !found; ++k) {
            found = sim::remote_code_for(k) == code;
        }
        EXPECT_TRUE(found) << "no keyboard key sends code " << code;
    }
    EXPECT_EQ(sim::record_value_for(true, false), 1);
    EXPECT_EQ(sim::record_value_for(true, true), 2);
    EXPECT_EQ(sim::record_value_for(false, false), 0);
}
#endif

TEST(SimWindow, KeysFromTheWindowSystemReachThePlayerAndTheScreenShowsTheBlend) {
    std::string why;
    if (skip_reason(why)) GTEST_SKIP() << why;
    simtest::x_server x(2200, 1300);
    ASSERT_TRUE(x.running());
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", kFilm);
    simtest::scratch_dir dir;
    sim::picture bg;
    bg.width = sim::kTvWidth;
    bg.height = sim::kTvHeight;
    bg.argb.resize(size_t{bg.width} * bg.height);
    for (uint32_t y = 0; y < bg.height; ++y) {
        for (uint32_t xx = 0; xx < bg.width; ++xx) {
            bg.argb[size_t{y} * bg.width + xx] =
                0xff000000 | (xx * 255 / 719) << 16 | (y * 255 / 575) << 8 | ((xx ^ y) & 0xff);
        }
    }
    std::string err;
    ASSERT_TRUE(sim::write_png(dir.file("bg.png"), bg, err)) << err;

    // The key script comes from standard input, so that the test can ask for snapshots
    // of the framebuffer whenever it wants one.
    simtest::process sim({LUMETRA_SIM_BINARY, "--root", root.path(), "--keys", "-", "--scale", "2",
                          "--background", dir.file("bg.png"), "--timeout", "120"},
                         window_env(x), true);
    ASSERT_TRUE(sim.started());
    std::string wid = find_window(x);
    ASSERT_FALSE(wid.empty()) << sim.err();
    std::map<std::string, int> g = geometry(x, wid);
    sim::key_panel panel;
    ASSERT_TRUE(panel.open(root.host("/var/tuxbox/Tresk/Tresk.ttf")));
    EXPECT_EQ(g["WIDTH"], 720 * 2 + panel.natural_width(2));
    EXPECT_EQ(g["HEIGHT"], 576 * 2);

    int snaps = 0;
    uint32_t w = 0, h = 0;
    std::vector<uint32_t> fb;
    auto snap = [&] { return snap_framebuffer(sim, dir, ++snaps, w, h, fb); };
    auto band_has = [&](auto before) {
        for (uint32_t y = 400; y < 526 && y < h; ++y) {
            for (uint32_t xx = 0; xx < w; ++xx) {
                if (before(fb[size_t{y} * w + xx])) return true;
            }
        }
        return false;
    };
    // At first the subtitle stands on its half-transparent grey box.
    ASSERT_TRUE(testsup::wait_until(
        [&] { return snap() && band_has([](uint32_t p) { return p >> 24 == 0xb0; }); }, 30000));

    // BLUE held down for a while: the window sends a press, auto-repeats and a release.
    // Repeats are swallowed by the player, so the background steps once, to opaque black.
    x.xdotool({"windowfocus", "--sync", wid});
    x.xdotool({"keydown", "b"});
    x.xdotool({"sleep", "1.2"});
    x.xdotool({"keyup", "b"});
    ASSERT_TRUE(testsup::wait_until(
        [&] {
            return snap() && band_has([](uint32_t p) { return p == 0xff000000; }) &&
                   !band_has([](uint32_t p) { return p >> 24 == 0xb0; });
        },
        30000))
        << "BLUE did not reach the player";

    // The screen shows that framebuffer over the background, every pixel doubled.
    simtest::screen_dump shot;
    size_t wrong = 0;
    bool same = testsup::wait_until(
        [&] {
            // A fresh framebuffer each time: the window shows it within a frame.
            if (!snap() || w != 720 || h != 576) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!x.screenshot(shot)) return false;
            wrong = 0;
            for (uint32_t y = 0; y < 576; ++y) {
                for (uint32_t xx = 0; xx < 720; ++xx) {
                    uint32_t want = blend(fb[size_t{y} * 720 + xx], bg.argb[size_t{y} * 720 + xx]);
                    for (uint32_t d = 0; d < 4; ++d) {
                        int64_t sx = g["X"] + 2 * int64_t{xx} + (d & 1);
                        int64_t sy = g["Y"] + 2 * int64_t{y} + (d >> 1);
                        wrong += shot.at(sx, sy) != want;
                    }
                }
            }
            return wrong == 0;
        },
        20000);
    ASSERT_TRUE(same) << wrong << " screen pixels differ from the blend";
    // And the status line and the subtitle are on it where the framebuffer has them.
    size_t status = 0, subtitle = 0;
    for (uint32_t y = 0; y < 576; ++y) {
        for (uint32_t xx = 0; xx < 720; ++xx) {
            uint32_t p = fb[size_t{y} * 720 + xx];
            if (p >> 24 != 0xff) continue;
            bool shown =
                shot.at(g["X"] + 2 * int64_t{xx}, g["Y"] + 2 * int64_t{y}) == (p & 0xffffff);
            if (y >= 50 && y < 82) status += shown;
            if (y >= 400 && y < 526) subtitle += shown;
        }
    }
    EXPECT_GT(status, 5000u);
    EXPECT_GT(subtitle, 500u);

    sim.close_stdin();
    sim.signal(SIGTERM);
    EXPECT_TRUE(sim.wait(60000));
}

TEST(SimWindow, HidingThePanelAndClosingTheWindowEndThePlayerCleanly) {
    std::string why;
    if (skip_reason(why)) GTEST_SKIP() << why;
    simtest::x_server x(1280, 1024);
    ASSERT_TRUE(x.running());
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", kFilm);
    simtest::process sim(
        {LUMETRA_SIM_BINARY, "--root", root.path(), "--scale", "1", "--timeout", "120"},
        window_env(x));
    ASSERT_TRUE(sim.started());
    std::string wid = find_window(x);
    ASSERT_FALSE(wid.empty()) << sim.err();
    sim::key_panel panel;
    ASSERT_TRUE(panel.open(root.host("/var/tuxbox/Tresk/Tresk.ttf")));
    EXPECT_EQ(geometry(x, wid)["WIDTH"], 720 + panel.natural_width(1));

    x.xdotool({"windowfocus", "--sync", wid});
    x.xdotool({"key", "F12"});
    EXPECT_TRUE(testsup::wait_until([&] { return geometry(x, wid)["WIDTH"] == 720; }, 20000));

    // What the window manager's close button or Ctrl-C do: SDL's quit request. The
    // player is asked with EXIT and OK, so it shuts down as usual and stores its settings.
    sim.signal(SIGTERM);
    ASSERT_TRUE(sim.wait(60000)) << sim.err();
    EXPECT_EQ(sim.status(), 0) << sim.out() << sim.err();
    EXPECT_EQ(sim.err().find("lumetra-sim:"), std::string::npos) << sim.err();
    EXPECT_TRUE(root.exists("/var/tuxbox/Tresk/tresk.conf"));
}

TEST(SimWindow, FirstEnterInTheWindowStartsTheClock) {
    std::string why;
    if (skip_reason(why)) GTEST_SKIP() << why;
    simtest::x_server x(1280, 1024);
    ASSERT_TRUE(x.running());
    testsup::box_root root(testsup::dejavu_condensed());
    // Due at 1 s: on screen only once the clock runs.
    root.write_subtitles("film.tkx", "[KTF2: 1 0]\n{25}{9000}Hallo wereld|tweede regel\n");
    simtest::scratch_dir dir;
    sim::picture black;
    black.width = sim::kTvWidth;
    black.height = sim::kTvHeight;
    black.argb.assign(size_t{black.width} * black.height, 0xff000000);
    std::string err;
    ASSERT_TRUE(sim::write_png(dir.file("black.png"), black, err)) << err;
    // No key script: a person at the keyboard.
    simtest::process sim({LUMETRA_SIM_BINARY, "--root", root.path(), "--scale", "1", "--background",
                          dir.file("black.png"), "--timeout", "120"},
                         window_env(x));
    ASSERT_TRUE(sim.started());
    std::string wid = find_window(x);
    ASSERT_FALSE(wid.empty()) << sim.err();
    std::map<std::string, int> g = geometry(x, wid);

    simtest::screen_dump shot;
    auto count = [&](int y0, int y1, auto before) {
        size_t n = 0;
        for (int y = y0; y < y1; ++y) {
            for (int xx = 0; xx < 720; ++xx) n += before(shot.at(g["X"] + xx, g["Y"] + y));
        }
        return n;
    };
    // The start message is up, so the player reads its remote control.
    ASSERT_TRUE(testsup::wait_until(
        [&] {
            return x.screenshot(shot) && count(50, 82, [](uint32_t p) { return p != 0; }) > 5000;
        },
        30000))
        << "the start message did not come up\n"
        << sim.out() << sim.err();
    x.xdotool({"windowfocus", "--sync", wid});
    x.xdotool({"key", "Return"});
    // The clock runs: the subtitle comes up on its half-transparent grey box.
    EXPECT_TRUE(testsup::wait_until(
        [&] {
            const uint32_t box = blend(0xb0666666, 0);
            return x.screenshot(shot) &&
                   count(82, 526, [box](uint32_t p) { return p == box; }) > 500;
        },
        30000))
        << "the first Enter did not start the clock\n"
        << sim.err();

    sim.signal(SIGTERM);
    ASSERT_TRUE(sim.wait(60000)) << sim.err();
    EXPECT_EQ(sim.status(), 0) << sim.out() << sim.err();
}

TEST(SimWindow, TheFilmKeysPauseAndSeekTheFilmTheSubtitlesFollow) {
    std::string why;
    if (skip_reason(why)) GTEST_SKIP() << why;
    simtest::x_server x(1280, 1024);
    ASSERT_TRUE(x.running());
    testsup::box_root root(testsup::dejavu_condensed());
    // One subtitle, from 3 s to a minute.
    root.write_subtitles("film.tkx", "[KTF2: 1 0]\n{75}{1500}Na drie seconden\n");
    simtest::scratch_dir dir;
    simtest::process sim({LUMETRA_SIM_BINARY, "--root", root.path(), "--keys", "-", "--scale", "1",
                          "--video", "--timeout", "120"},
                         window_env(x), true);
    ASSERT_TRUE(sim.started());
    std::string wid = find_window(x);
    ASSERT_FALSE(wid.empty()) << sim.err();
    int snaps = 0;
    auto band_pixels = [&] {
        uint32_t w = 0, h = 0;
        std::vector<uint32_t> fb;
        snap_framebuffer(sim, dir, ++snaps, w, h, fb);
        size_t n = 0;
        for (size_t k = size_t{400} * w; k < size_t{526} * w && k < fb.size(); ++k) {
            n += (fb[k] >> 24) != 0;
        }
        return n;
    };

    // OK, and Space at once: the film stands, so does the clock, and at 4 s nothing shows.
    sim.write_stdin("up OK\nwait 500\npress OK\n");
    x.xdotool({"windowfocus", "--sync", wid});
    x.xdotool({"key", "space"});
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_EQ(band_pixels(), 0u) << "the clock stood with the film";
    // ] jumps the film 10 s on, into the subtitle.
    x.xdotool({"key", "bracketright"});
    EXPECT_TRUE(testsup::wait_until([&] { return band_pixels() > 200; }, 20000)) << sim.err();

    sim.close_stdin();
    sim.signal(SIGTERM);
    EXPECT_TRUE(sim.wait(60000));
}

// The key panel on the screen: every row's text ends inside it, wrapped where the screen
// leaves too little room for it at the scale chosen, also once hidden and shown again
// with F12 and with the key sent last on its bottom line.
TEST(SimWindow, TheKeyPanelShowsEveryRowWholeWrappingOnNarrowScreens) {
    std::string why;
    if (skip_reason(why)) GTEST_SKIP() << why;
    const struct {
        int screen_width, screen_height;
        const char* scale;  // the --scale argument; "" = none: the largest that fits
        int want_scale;
        bool wraps;
    } cases[] = {
        {1600, 1000, "", 1, false},  // a common screen
        {3400, 1900, "", 3, false},  // the largest that fits: 4 is too high
        {1024, 768, "", 1, true},    // too narrow at scale 1
        {2000, 1250, "2", 2, true},  // too narrow at the scale asked for
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.screen_width) + "x" + std::to_string(c.screen_height) +
                     " scale " + c.scale);
        simtest::x_server x(c.screen_width, c.screen_height);
        ASSERT_TRUE(x.running());
        testsup::box_root root(testsup::dejavu_condensed());
        root.write_subtitles("film.tkx", kFilm);
        std::vector<std::string> args{LUMETRA_SIM_BINARY, "--root", root.path(), "--timeout",
                                      "120"};
        if (*c.scale != '\0') args.insert(args.end(), {"--scale", c.scale});
        simtest::process sim(args, window_env(x));
        ASSERT_TRUE(sim.started());
        std::string wid = find_window(x);
        ASSERT_FALSE(wid.empty()) << sim.err();
        std::map<std::string, int> g = geometry(x, wid);
        int f = g["HEIGHT"] / 576;
        // Everything below is laid out at this factor: nothing is worth checking without it.
        ASSERT_EQ(f, c.want_scale) << sim.err();
        EXPECT_EQ(g["HEIGHT"], 576 * f);

        // As wide as the screen leaves beside the picture (less the room kept for a
        // window frame), no wider than it needs, and no narrower than its least width.
        sim::key_panel panel;
        ASSERT_TRUE(panel.open(root.host("/var/tuxbox/Tresk/Tresk.ttf")));
        const int room = c.screen_width - 32 - 720 * f;
        int width = g["WIDTH"] - 720 * f;
        EXPECT_EQ(width, std::clamp(room, panel.least_width(f), panel.natural_width(f)));
        EXPECT_EQ(panel.layout(f, width, "").wrapped, c.wraps);

        simtest::screen_dump shot;
        std::string differs;
        auto shows = [&](const std::string& last_key) {
            const sim::panel_layout l = panel.layout(f, width, last_key);
            return testsup::wait_until(
                [&] {
                    g = geometry(x, wid);
                    differs = x.screenshot(shot) ? panel_on_screen(shot, g, l) : "no screenshot";
                    return differs.empty();
                },
                20000);
        };
        EXPECT_TRUE(shows("")) << differs;

        x.xdotool({"windowfocus", "--sync", wid});
        x.xdotool({"key", "Next"});
        EXPECT_TRUE(shows("CHANNELDOWN")) << differs;
        x.xdotool({"key", "F12"});
        EXPECT_TRUE(
            testsup::wait_until([&] { return geometry(x, wid)["WIDTH"] == 720 * f; }, 20000));
        x.xdotool({"key", "F12"});
        EXPECT_TRUE(shows("CHANNELDOWN")) << "shown again with F12\n" << differs;

        // Made smaller by hand, to the next scale down and less wide than the panel
        // would like: it wraps there.
        if (f > 1) {
            const int f2 = f - 1;
            width = (panel.least_width(f2) + panel.natural_width(f2)) / 2;
            x.xdotool(
                {"windowsize", wid, std::to_string(720 * f2 + width), std::to_string(576 * f2)});
            f = f2;
            EXPECT_TRUE(shows("CHANNELDOWN")) << "resized to scale " << f2 << "\n" << differs;
        }

        sim.signal(SIGTERM);
        EXPECT_TRUE(sim.wait(60000)) << sim.err();
    }
}
