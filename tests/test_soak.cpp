// The soak: a long, dense generated film plays while a seeded random key stream
// presses every key of the main loop's table, answers (or not) every modal screen,
// and works the file menu: loading, failing to load, deleting marked files. The
// program is left and started again whenever the stream says so. Afterwards: the
// settings file is a valid record every time the program has ended, memory has
// stayed flat, and nothing outside the subtitle directory has changed.
//
// Run as part of the suite for a few seconds; scripts/soak.sh runs it for minutes.
//   LUMETRA_SOAK_SECONDS   how long to run (default 8)
//   LUMETRA_SOAK_SEED      the key stream's seed (default 1)
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/settings.h"
#include "rc/remote.h"
#include "sim/model.h"
#include "sub/subtitles.h"
#include "tests/support/hardening_support.h"
#include "tests/support/support.h"

#if defined(__SANITIZE_ADDRESS__)
// Freed blocks wait in a quarantine before reuse; bounded, it lets the resident size
// measure the player's own memory. Options given in ASAN_OPTIONS still apply on top.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}
#endif

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

constexpr const char* kSubtitleDirPath = "/var/tuxbox/Tresk/tit/";
constexpr const char* kConf = "/var/tuxbox/Tresk/tresk.conf";

// Every key of the main loop's table, and two it ignores.
constexpr std::array<int, 30> kKeys{
    KEY_1,      KEY_2,    KEY_3,          KEY_4,           KEY_5,    KEY_6,
    KEY_7,      KEY_8,    KEY_9,          KEY_0,           KEY_UP,   KEY_LEFT,
    KEY_RIGHT,  KEY_DOWN, KEY_VOLUMEDOWN, KEY_VOLUMEUP,    KEY_HELP, KEY_MENU,
    KEY_EXIT,   KEY_OK,   KEY_TV,         KEY_VIDEO,       KEY_RED,  KEY_GREEN,
    KEY_YELLOW, KEY_BLUE, KEY_CHANNELUP,  KEY_CHANNELDOWN, KEY_F1,   KEY_POWER};

// Sequences a viewer types on purpose, so that the menus do real work.
const std::vector<std::vector<int>> kMacros{
    {KEY_MENU, KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_OK, KEY_OK},  // delete two files
    {KEY_MENU, KEY_DOWN, KEY_DOWN, KEY_OK},                    // load another file
    {KEY_MENU, KEY_YELLOW},                                    // the special file
    {KEY_MENU, KEY_3, KEY_3, KEY_OK},                          // jump by letter
    {KEY_TV, KEY_DOWN, KEY_OK},                                // rescale
    {KEY_1, KEY_2, KEY_3, KEY_4, KEY_5},                       // time entry
    {KEY_OK, KEY_CHANNELUP, KEY_CHANNELUP, KEY_CHANNELUP},     // play and skip on
    {KEY_HELP, KEY_HELP, KEY_HELP},
    {KEY_EXIT, KEY_YELLOW},  // save and close
    {KEY_EXIT, KEY_OK},      // close
};

int env_int(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::atoi(v) : fallback;
}

// A film of n dense subtitles (one to three frames each, a frame or two apart) with
// UTF-8, colour codes, pictures, several lines and random flags.
std::string generate_film(std::mt19937& rng, int n) {
    static const std::array<const char*, 8> words{"Goedenavond",
                                                  "ondertitel",
                                                  "\xc3\xa9\xc3\xa9n",
                                                  "\xe2\x82\xac 5",
                                                  "\x0b\x02rood\x0c",
                                                  "\x0e\x0f",
                                                  "lange regel met veel woorden erin",
                                                  "x"};
    std::ostringstream out;
    out << "[KTF2: " << n << " " << (rng() % 3) << " ]\n";
    long frame = 1;
    for (int i = 0; i < n; ++i) {
        const long len = 1 + static_cast<long>(rng() % 3);
        out << "{" << frame << "}{" << frame + len << "}";
        if (rng() % 2) out << "{" << (rng() % 0x400) << "}";
        const int lines = 1 + static_cast<int>(rng() % 4);
        for (int l = 0; l < lines; ++l) {
            if (l > 0) out << "|";
            out << words[rng() % words.size()] << " " << i;
        }
        out << "\n";
        frame += len + 1 + static_cast<long>(rng() % 2);
    }
    return out.str();
}

struct file_state {
    uintmax_t size;
    fs::file_time_type mtime;
    std::string content;
    bool operator==(const file_state&) const = default;
};

// Everything under the root outside the subtitle directory, but the settings file.
std::map<std::string, file_state> outside_snapshot(const std::string& root) {
    std::map<std::string, file_state> m;
    const std::string subtitle_path = root + kSubtitleDirPath;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string p = it->path().string();
        if (p.rfind(subtitle_path, 0) == 0 || p + "/" == subtitle_path) continue;
        if (p.find("tresk.conf") != std::string::npos) continue;
        if (!it->is_regular_file()) {
            m[p] = file_state{0, {}, it->is_directory() ? "<dir>" : "<other>"};
            continue;
        }
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        m[p] = file_state{it->file_size(), it->last_write_time(), ss.str()};
    }
    return m;
}

// The settings file as the player must leave it: one whole record of valid values.
void check_settings(const testsup::box_root& root) {
    const std::string s = root.read(kConf);
    ASSERT_EQ(s.size(), sizeof(stored_settings));
    stored_settings n;
    std::memcpy(&n, s.data(), sizeof n);
    EXPECT_GE(n.zoom, 0);
    EXPECT_LE(n.zoom, 7);
    EXPECT_GE(n.background_level, 0);
    EXPECT_LE(n.background_level, 2);
    EXPECT_TRUE(n.palette_index == 0 || n.palette_index == 1);
    EXPECT_GE(n.colour_scheme, 0);
    EXPECT_LE(n.colour_scheme, 3);
    EXPECT_GE(n.position, 0);
    EXPECT_FALSE(root.exists("/var/tuxbox/Tresk/tresk.conf.new"));
}

// The key stream, typed from the remote's read hook on the player's thread.
struct key_stream {
    std::mt19937 rng;
    std::vector<int> pending;  // the rest of a macro
    int idle = 0;
    int gap = 2;
    long keys = 0;

    void on_read(int dev) {
        if (dev != 0) return;
        if (sim::input_pending(0) != 0) {
            idle = 0;
            return;
        }
        if (++idle < gap) return;
        idle = 0;
        // Mostly quick typing; now and then a pause long enough for a countdown.
        gap =
            rng() % 50 == 0 ? 150 + static_cast<int>(rng() % 300) : 2 + static_cast<int>(rng() % 6);
        if (pending.empty()) {
            if (rng() % 6 == 0) {
                const auto& m = kMacros[rng() % kMacros.size()];
                pending.assign(m.rbegin(), m.rend());
            } else {
                pending.push_back(kKeys[rng() % kKeys.size()]);
            }
        }
        const int code = pending.back();
        pending.pop_back();
        testsup::press(code);
        ++keys;
    }
};

class Soak : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
};

TEST_F(Soak, RandomKeysOverALongFilm) {
    const int seconds = env_int("LUMETRA_SOAK_SECONDS", 8);
    const unsigned seed = static_cast<unsigned>(env_int("LUMETRA_SOAK_SEED", 1));
    std::mt19937 gen(seed);

    // The box: the long film remembered, a few more files, the special file, a bad
    // one, a directory named like a film, a link to a file outside the directory,
    // and files outside that must stay as they are.
    root.write_subtitles("film.tkx", generate_film(gen, 20000));
    fs::create_symlink("film.tkx", root.host(std::string(kSubtitleDirPath) + "tresk.qst"));
    root.write_subtitles("tresk.tkx", generate_film(gen, 50));
    root.write_subtitles("kapot.tkx", "[KTF2: 5 0 ]\n{1}{2}x\n");
    fs::create_directories(root.host(std::string(kSubtitleDirPath) + "map.tkx"));
    root.write("/var/tuxbox/Tresk/buiten.tkx", generate_film(gen, 10));
    root.write("/var/tuxbox/notities.txt", "niet aankomen\n");
    fs::create_symlink("../buiten.tkx",
                       root.host(std::string(kSubtitleDirPath) + "verwijzing.tkx"));
    int generated = 0;
    auto replenish = [&] {
        int films = 0;
        for (const auto& e : fs::directory_iterator(root.host(kSubtitleDirPath))) {
            films += e.path().extension() == ".tkx";
        }
        while (films++ < 6) {
            root.write_subtitles("gen" + std::to_string(generated++) + ".tkx",
                                 generate_film(gen, 200 + static_cast<int>(gen() % 2000)));
        }
    };
    replenish();
    const auto outside = outside_snapshot(root.path());

    testsup::setup_box(root, {.xres = 720, .yres = 576});
    sim::set_sleep_scale(0.1);
    key_stream keys;
    keys.rng.seed(seed);
    sim::set_input_hook([&keys](int dev) { keys.on_read(dev); });

    const auto t0 = clock_type::now();
    const auto end = t0 + std::chrono::seconds(seconds);
    auto next_sample = t0;
    std::vector<std::pair<double, size_t>> rss;
    long passes = 0;
    int runs = 0;
    bool running = false;
    while (clock_type::now() < end) {
        if (!running) {
            saved_settings = stored_settings{1, 0, 0, 0, 0, 0, 0};
            const int r = app_start();
            ++runs;
            // 0: on a starved machine the subtitle thread may miss its 250 ms to report;
            // the player then shows error box 6 and ends cleanly, as it must.
            ASSERT_LE(r, 0);
            if (r == 0) {
                EXPECT_EQ(sim::open_descriptors(), 0);
                continue;
            }
            running = true;
        }
        if (app_pass() >= 0) {
            running = false;
            EXPECT_EQ(sim::open_descriptors(), 0);
            check_settings(root);
            replenish();
        }
        ++passes;
        if (passes % 64 == 0) replenish();
        const auto now = clock_type::now();
        if (now >= next_sample) {
            rss.emplace_back(std::chrono::duration<double>(now - t0).count(), testsup::rss_kib());
            next_sample += std::chrono::seconds(std::max(1, seconds / 20));
        }
        if (HasFatalFailure()) break;
    }
    sim::set_input_hook(nullptr);
    if (running) {
        app_shutdown(0);
        check_settings(root);
    }
    EXPECT_EQ(sim::open_descriptors(), 0);
    EXPECT_TRUE(outside_snapshot(root.path()) == outside)
        << "a file outside the subtitle directory changed";
    EXPECT_TRUE(root.exists("/var/tuxbox/Tresk/buiten.tkx"));

    size_t peak = 0;
    std::printf("soak: seed %u, %d s, %ld keys, %ld passes, %d program runs, %d films made\n", seed,
                seconds, keys.keys, passes, runs, generated);
    std::printf("soak: rss over time (s KiB):");
    for (const auto& [t, kib] : rss) {
        std::printf(" %.0f:%zu", t, kib);
        peak = std::max(peak, kib);
    }
    std::printf("\nsoak: peak rss %zu KiB\n", peak);

    // Flat memory: from a quarter of the run on, the resident size may wobble but
    // must not climb. (The sanitizer builds hold freed blocks in a quarantine of
    // bounded size; the bound leaves room for it.)
    ASSERT_GE(rss.size(), 2u);
    const size_t quarter = rss[rss.size() / 4].second;
    const size_t last = rss.back().second;
    EXPECT_LT(last, quarter + 48 * 1024)
        << "resident size grew from " << quarter << " to " << last << " KiB";
    // The stream types several keys a second even on a loaded machine.
    EXPECT_GT(keys.keys, 2 * seconds);
    EXPECT_GT(runs, 0);
}

}  // namespace
