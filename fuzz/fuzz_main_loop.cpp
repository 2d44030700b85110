// Remote-control key sequences driven through the main loop with subtitles loaded:
// every key of the table, the exit prompt, the help box, the time entry, the FPS
// menu and the file menu (which loads, fails to load and deletes files).
//
// The player runs on a thread of its own for the whole process, as the box runs it
// (start-up, passes, shut-down; a program that ends is started again), with every
// sleep scaled to nothing. Each input byte is one key; a key is sent only once the
// player polls for one (the queue is empty and it has read twice since), so a modal
// screen's drain does not eat it. At the end of an input, open modal screens are
// cancelled until the player stands between two passes, where it waits for the next input.
//
// Key byte: bits 0-4 choose the key (the 28 keys of the table and four the player
// ignores); bit 5 adds an auto-repeat record; bit 6 leaves out the release record.
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "app/app.h"
#include "fuzz/fuzz_support.h"
#include "sim/model.h"

namespace fs = std::filesystem;

namespace {

constexpr std::array<uint16_t, 32> kKeys{
    KEY_1,     KEY_2,     KEY_3,     KEY_4,          KEY_5,           KEY_6,    KEY_7,
    KEY_8,     KEY_9,     KEY_0,     KEY_UP,         KEY_LEFT,        KEY_RIGHT, KEY_DOWN,
    KEY_VOLUMEDOWN, KEY_VOLUMEUP, KEY_HELP, KEY_MENU, KEY_EXIT,       KEY_OK,   KEY_TV,
    KEY_VIDEO, KEY_RED,   KEY_GREEN, KEY_YELLOW,     KEY_BLUE,        KEY_CHANNELUP,
    KEY_CHANNELDOWN, KEY_F1, KEY_POWER, KEY_RESERVED, 0xffff};
// Keys that end every modal screen, tried in turn when an input leaves one open.
constexpr std::array<uint16_t, 4> kCancel{KEY_EXIT, KEY_EXIT, KEY_RED, KEY_OK};
constexpr size_t kMaxKeys = 256;
// How long the player may take to poll again before it counts as hung.
constexpr auto kHang = std::chrono::seconds(20);

constexpr const char* kTit = "/var/tuxbox/Tresk/tit/";

struct seed_file {
    const char* name;
    const char* content;
};

// The subtitle directory every input starts with.
const std::array<seed_file, 8> kFiles{{
    {"a.tkx",
     "[KTF2: 6 0 ]\n{0}{10}Eerste|regel\n{12}{20}{256}Boven\n"
     "{25}{40}{3}Kleur \x0b\x02X\x0c|twee\n{45}{60}\x0e\x0f knop\n{70}{80}a|b|c|d|e\n"
     "{100}{130}Laatste \xc3\xa9\xe2\x82\xac\n"},
    {"B lang.tkx",
     "[KTF2: 12 5 ]\n{1}{2}1\n{3}{4}2\n{5}{6}3\n{7}{8}4\n{9}{10}5\n{11}{12}6\n"
     "{13}{14}7\n{15}{16}8\n{17}{18}9\n{19}{20}10\n{21}{22}11\n{23}{24}12\n"},
    {"bad.tkx", "[KTF2: 3 0 ]\n{1}{2}x\n"},
    {"empty.tkx", ""},
    {"c.tkx", "\xef\xbb\xbf[KTF2: 1 0 ]\n{0}{99999}Lang|lang|lang|lang\n"},
    {"d.tkx", "[KTF2: 2 0 ]\n{4294967295}{1}wrap\n{-5}{-1}neg\n"},
    {"zz.tkx", "[KTF2: 1 0 ]\n{10}{10}zz\n"},
    {"tresk.tkx", "[KTF2: 2 0 ]\n{0}{50}Speciaal\n{60}{90}bestand\n"},
}};
// Enough further names for a list of more than one page.
constexpr int kExtra = 9;

std::mutex g_m;
std::condition_variable g_cv;
bool g_paused = true;
std::atomic<bool> g_at_boundary{false};
std::atomic<uint64_t> g_passes{0};
bool g_quit = false;       // the process is exiting: shut the program down
bool g_quit_done = false;
bool g_running = false;  // player thread only

[[noreturn]] void hung(const char* where) {
    std::fprintf(stderr, "fuzz: the player stopped polling (%s)\n", where);
    std::abort();
}

// The player: start-up when needed, then passes, stopping between two passes
// whenever the fuzzer asks.
void player() {
    for (;;) {
        {
            std::unique_lock lk(g_m);
            g_at_boundary = true;
            g_cv.notify_all();
            g_cv.wait(lk, [] { return !g_paused || g_quit; });
            if (g_quit) {
                if (g_running) konec(0);
                g_quit_done = true;
                g_cv.notify_all();
                return;
            }
            g_at_boundary = false;
            g_cv.notify_all();
        }
        if (!g_running) {
            int r = app_start();
            if (r >= 0) {
                std::fprintf(stderr, "fuzz: start-up failed with %d\n", r);
                std::abort();
            }
            g_running = true;
        }
        if (app_pass() >= 0) g_running = false;
        g_passes++;
    }
}

void restore_directory() {
    std::error_code ec;
    const std::string tit = fuzzsup::host(kTit);
    fs::create_directories(tit, ec);
    for (const auto& f : kFiles) {
        fuzzsup::write_file(std::string(kTit) + f.name, f.content, std::strlen(f.content));
    }
    for (int i = 0; i < kExtra; ++i) {
        std::string name = "f" + std::to_string(i) + ".tkx";
        std::string content = "[KTF2: 1 0 ]\n{" + std::to_string(i) + "}{200}" + name + "\n";
        fuzzsup::write_file(kTit + name, content.data(), content.size());
    }
    fs::create_directories(tit + "map.tkx", ec);
    fs::remove(tit + "tresk.qst", ec);
    fs::create_symlink("a.tkx", tit + "tresk.qst", ec);
    // Each input starts from the default settings.
    fs::remove(fuzzsup::host("/var/tuxbox/Tresk/tresk.conf"), ec);
}

// Waits until the queue is empty and the player has read from it twice since: it
// is then in a poll loop, past any drain.
void wait_polling() {
    const auto deadline = std::chrono::steady_clock::now() + kHang;
    while (sim::input_pending(0) != 0) {
        if (std::chrono::steady_clock::now() > deadline) hung("keys not read");
        std::this_thread::yield();
    }
    const uint64_t r0 = sim::input_reads(0);
    while (sim::input_reads(0) < r0 + 2) {
        if (std::chrono::steady_clock::now() > deadline) hung("no poll");
        std::this_thread::yield();
    }
}

void send(uint8_t b) {
    const uint16_t code = kKeys[b & 31];
    sim::push_event(0, EV_KEY, code, 1);
    if (b & 0x20) sim::push_event(0, EV_KEY, code, 2);
    if ((b & 0x40) == 0) sim::push_event(0, EV_KEY, code, 0);
}

// Lets the player go on, and waits until it has left the boundary.
void resume() {
    std::unique_lock lk(g_m);
    g_paused = false;
    g_cv.notify_all();
    g_cv.wait(lk, [] { return !g_at_boundary; });
}

// Stops the player between two passes, cancelling whatever modal screen is open.
void settle() {
    {
        std::lock_guard lk(g_m);
        g_paused = true;
    }
    for (size_t attempt = 0;; ++attempt) {
        const auto deadline = std::chrono::steady_clock::now() + kHang;
        // Between passes already, or polling in a modal screen (reads go on, no pass ends)?
        for (;;) {
            if (g_at_boundary) return;
            if (sim::input_pending(0) == 0) {
                const uint64_t r0 = sim::input_reads(0);
                const uint64_t p0 = g_passes;
                while (sim::input_reads(0) < r0 + 4 && g_passes == p0 && !g_at_boundary) {
                    if (std::chrono::steady_clock::now() > deadline) hung("settling");
                    std::this_thread::yield();
                }
                if (g_passes == p0) break;  // polling, yet no pass ends: modal
            }
            if (std::chrono::steady_clock::now() > deadline) hung("settling");
            std::this_thread::yield();
        }
        if (attempt >= 64) hung("a modal screen does not end");
        send(static_cast<uint8_t>(
            std::find(kKeys.begin(), kKeys.end(), kCancel[attempt % kCancel.size()]) -
            kKeys.begin()));
    }
}

// At exit, before the statics go: nobody may still wait on the player's condition
// variables when they are destroyed, so the program is shut down as konec does it.
void stop_player() {
    std::unique_lock lk(g_m);
    g_quit = true;
    g_cv.notify_all();
    g_cv.wait(lk, [] { return g_quit_done; });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsup::make_root(true);
    restore_directory();
    sim::fb_config cfg;
    cfg.xres = 720;
    cfg.yres = 576;
    sim::set_framebuffer(cfg);
    sim::add_input({"fuzz remote control"});
    sim::set_sleep_scale(0);
    std::thread(player).detach();
    std::atexit(stop_player);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    restore_directory();
    resume();
    auto t0 = std::chrono::steady_clock::now();
    auto us = [&] { return (long)std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count(); };
    for (size_t i = 0; i < size && i < kMaxKeys; ++i) {
        wait_polling();
        fprintf(stderr, "  key %zu (%d) at %ld us reads %lu passes %lu\n", i, kKeys[data[i]&31], us(), (unsigned long)sim::input_reads(0), (unsigned long)g_passes.load());
        send(data[i]);
    }
    settle();
    fprintf(stderr, "  settled at %ld us\n", us());
    // Between passes: the framebuffer and the remote are open while the program runs,
    // and nothing at all once it has ended.
    const int open = sim::open_descriptors();
    FUZZ_CHECK(open == (g_running ? 2 : 0));
    return 0;
}
