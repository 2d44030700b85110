// Remote-control key sequences driven through the main loop with subtitles loaded:
// every key of the table, the exit prompt, the help box and its countdown, the time
// entry, the FPS menu and the file menu (which loads, fails to load and deletes files).
//
// The player runs as the box runs it (start-up, passes, shut-down; a program that
// ends is started again), on the fuzzer's thread, with every sleep scaled to nothing.
// Keys are typed the way a viewer types them: the remote's read hook queues the next
// key only after the player has found the queue empty twice in a row, so a modal
// screen's drain never eats it. Once the input's keys are used up, a pass that keeps
// reading without returning is a modal screen waiting for an answer: the hook then
// answers with cancelling keys until the pass returns.
//
// Key byte: bits 0-4 choose the key (the 28 keys of the table, two the player
// ignores, and two pauses of 160 idle reads, long enough for a status-line or
// help-box countdown to run out in two); bit 5 adds an auto-repeat record; bit 6
// leaves out the release record.
#include <linux/input.h>
#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/app.h"
#include "fuzz/fuzz_support.h"
#include "sim/model.h"

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kPause = 0;
constexpr std::array<uint16_t, 32> kKeys{
    KEY_1,          KEY_2,        KEY_3,     KEY_4,      KEY_5,    KEY_6,         KEY_7,
    KEY_8,          KEY_9,        KEY_0,     KEY_UP,     KEY_LEFT, KEY_RIGHT,     KEY_DOWN,
    KEY_VOLUMEDOWN, KEY_VOLUMEUP, KEY_HELP,  KEY_MENU,   KEY_EXIT, KEY_OK,        KEY_TV,
    KEY_VIDEO,      KEY_RED,      KEY_GREEN, KEY_YELLOW, KEY_BLUE, KEY_CHANNELUP, KEY_CHANNELDOWN,
    KEY_F1,         0xffff,       kPause,    kPause};
// Answers that end every modal screen, tried in turn.
constexpr std::array<uint16_t, 4> kCancel{KEY_EXIT, KEY_EXIT, KEY_RED, KEY_OK};
constexpr size_t kMaxKeys = 256;
// Empty reads before the next key: the first ends a drain, the second is a poll.
constexpr int kIdleReads = 2;
constexpr int kPauseReads = 160;
// A pass still reading after this many reads once the keys are used up is modal.
constexpr int kModalReads = 8;
// Cancelling keys sent in one input before the player counts as stuck.
constexpr int kMaxCancels = 200;

constexpr const char* kSubtitleDirPath = "/var/tuxbox/Tresk/tit/";

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

// The typing state, read and written by the hook and the pass loop (one thread).
struct typist {
    const uint8_t* keys = nullptr;
    size_t count = 0;
    size_t next = 0;
    int idle = 0;           // empty reads since the last key
    int wait = kIdleReads;  // empty reads wanted before the next key
    int pass_reads = 0;     // reads in the current pass
    int cancels = 0;
} g;

bool g_running = false;

void press(uint8_t b) {
    const uint16_t code = kKeys[b & 31];
    sim::push_key(0, code, 1);
    if (b & 0x20) sim::push_key(0, code, 2);
    if ((b & 0x40) == 0) sim::push_key(0, code, 0);
}

void on_read(int dev) {
    if (dev != 0) return;
    g.pass_reads++;
    if (sim::input_pending(0) != 0) {
        g.idle = 0;
        return;
    }
    if (++g.idle < g.wait) return;
    g.idle = 0;
    g.wait = kIdleReads;
    if (g.next < g.count) {
        const uint8_t b = g.keys[g.next++];
        if (kKeys[b & 31] == kPause) {
            g.wait = kPauseReads;
        } else {
            press(b);
        }
        return;
    }
    if (g.pass_reads < kModalReads) return;
    if (++g.cancels > kMaxCancels)
        fuzzsup::check_failed("a modal screen does not end", __FILE__, __LINE__);
    const uint16_t code = kCancel[static_cast<size_t>(g.cancels) % kCancel.size()];
    sim::push_key(0, code, 1);
    sim::push_key(0, code, 0);
}

// Modification times of the subtitle directory and of its parent (the settings file)
// as the last restore left them: any file made, removed or renamed there changes them.
timespec g_subtitle_dir_mtime{};
timespec g_conf_mtime{};

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool mtime(const std::string& path, timespec& t) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    t = st.st_mtim;
    return true;
}

void restore_directory() {
    std::error_code ec;
    const std::string subtitle_path = fuzzsup::host(kSubtitleDirPath);
    const std::string box_dir = fuzzsup::host("/var/tuxbox/Tresk");
    timespec t1{};
    timespec t2{};
    if (mtime(subtitle_path, t1) && mtime(box_dir, t2) && same_time(t1, g_subtitle_dir_mtime) &&
        same_time(t2, g_conf_mtime)) {
        return;
    }
    fs::create_directories(subtitle_path, ec);
    for (const auto& f : kFiles) {
        fuzzsup::write_file(std::string(kSubtitleDirPath) + f.name, f.content,
                            std::strlen(f.content));
    }
    for (int i = 0; i < kExtra; ++i) {
        std::string name = "f" + std::to_string(i) + ".tkx";
        std::string content = "[KTF2: 1 0 ]\n{" + std::to_string(i) + "}{200}" + name + "\n";
        fuzzsup::write_file(kSubtitleDirPath + name, content.data(), content.size());
    }
    fs::create_directories(subtitle_path + "map.tkx", ec);
    fs::remove(subtitle_path + "tresk.qst", ec);
    fs::create_symlink("a.tkx", subtitle_path + "tresk.qst", ec);
    // A program started by this input starts from the default settings.
    fs::remove(fuzzsup::host("/var/tuxbox/Tresk/tresk.conf"), ec);
    mtime(subtitle_path, g_subtitle_dir_mtime);
    mtime(box_dir, g_conf_mtime);
}

// Starts the program; false when it ended at once. That is a finding when the display
// or the remote could not be brought up (status 1), but not when the subtitle thread
// failed to report within its 250 ms (error box 6, then a clean end with status 0):
// a fuzzer starved at nice 19 on a busy machine gets there.
bool start() {
    const int r = app_start();
    if (r > 0) fuzzsup::check_failed("start-up failed", __FILE__, __LINE__);
    g_running = r < 0;
    if (!g_running) FUZZ_CHECK(sim::open_descriptors() == 0);
    return g_running;
}

// At exit, before the statics go: the subtitle thread must not be waiting on the
// clock's condition variable when it is destroyed, so the program is shut down.
void stop_player() {
    sim::set_input_hook(nullptr);
    if (g_running) app_shutdown(0);
    g_running = false;
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
    sim::set_input_hook(on_read);
    std::atexit(stop_player);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    restore_directory();
    g = typist{data, size < kMaxKeys ? size : kMaxKeys};
    // Passes until every key is typed and a pass has found nothing more to read.
    for (;;) {
        if (!g_running && !start()) {
            if (g.next >= g.count) break;
            continue;
        }
        const bool keys_left = g.next < g.count || g.wait > kIdleReads;
        g.pass_reads = 0;
        if (app_pass() >= 0) {
            g_running = false;
            FUZZ_CHECK(sim::open_descriptors() == 0);
            if (g.next >= g.count) break;
            continue;
        }
        if (!keys_left && sim::input_pending(0) == 0) break;
    }
    // Between passes the framebuffer and the remote are open, and nothing else.
    if (g_running) FUZZ_CHECK(sim::open_descriptors() == 2);
    return 0;
}
