// The simulator's front end: model set-up, the player, the key script, the time
// limit and the window.
#include "sim/frontend.h"

#include <linux/input.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "app/app.h"
#include "fb/screen.h"
#include "sim/model.h"
#include "sim/picture.h"
#include "sim/script.h"
#include "sim/snapshot.h"
#if LUMETRA_HAVE_WINDOW
#include "sim/window.h"
#endif

namespace {

// Every simulated remote's name contains what the player looks for.
constexpr const char* kRemoteName = "Lumetra simulator remote control";
// How often waiting threads look whether they should stop, in milliseconds.
constexpr int kPollMs = 100;

// A stop request that sleeping threads wait on.
class stop_signal {
  public:
    void request() {
        {
            std::lock_guard lk(m_);
            stop_ = true;
        }
        cv_.notify_all();
    }
    bool requested() {
        std::lock_guard lk(m_);
        return stop_;
    }
    // Sleeps ms milliseconds; false when a stop was requested before or during the sleep.
    bool sleep_for(std::chrono::milliseconds ms) {
        std::unique_lock lk(m_);
        return !cv_.wait_for(lk, ms, [this] { return stop_; });
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool stop_ = false;
};

// What the helper threads share; it outlives them.
struct run_state {
    sim::picture background;  // television picture, kTvWidth x kTvHeight
    stop_signal stop;
    std::atomic<bool> snapshot_taken{false};
};

[[noreturn]] void leave(int status);
bool read_file(const std::string& path, std::string& text, std::string& err);
bool wait_for_remotes(run_state& rs);
bool run_command(run_state& rs, const sim::script_command& c);
bool write_driver_state(const std::string& path, std::string& err);
void play_script(run_state& rs, const std::vector<sim::script_command>& script);
void play_stdin(run_state& rs);
void watchdog(run_state& rs, double seconds);

}  // namespace

namespace sim {

int run_frontend(const options& o) {
    std::error_code ec;
    if (!std::filesystem::is_directory(o.root, ec)) {
        say("--root: '" + o.root + "' is not a directory");
        return 2;
    }
    auto rs = std::make_unique<run_state>();
    if (o.background.empty()) {
        rs->background = test_picture(kTvWidth, kTvHeight);
    } else {
        picture p;
        std::string err;
        if (!read_picture(o.background, p, err)) {
            say("--background: cannot read '" + o.background + "': " + err);
            return 2;
        }
        rs->background = fit_picture(p, kTvWidth, kTvHeight);
    }
    std::vector<script_command> script;
    if (!o.keys.empty() && o.keys != "-") {
        std::string text, err;
        if (!read_file(o.keys, text, err)) {
            say("--keys: cannot read '" + o.keys + "': " + err);
            return 2;
        }
        script_error serr;
        if (!parse_script(text, script, serr)) {
            say(o.keys + ":" + std::to_string(serr.line) + ": " + serr.message);
            return 2;
        }
    }

    reset();
    set_root(o.root);
    fb_config fb;
    fb.present = !o.no_fb;
    fb.xres = o.mode_width;
    fb.yres = o.mode_height;
    fb.pages = o.pages;
    fb.shown_page = o.shown_page;
    fb.manual_blit = o.manual_blit;
    set_framebuffer(fb);
    if (o.video) set_video({.present = true});
    for (int i = 0; i < o.remotes; ++i) {
        add_input({std::string(kRemoteName) + " " + std::to_string(i + 1)});
    }
    if (!o.snapshot.empty()) {
        run_state* r = rs.get();
        std::string path = o.snapshot;
        // Runs on the player's thread inside its shut-down, which holds the paint
        // lock but not the pixel lock here.
        // A picture shows what the viewer sees (the page shown, and in manual-blit mode
        // what was blitted); raw memory is the memory.
        set_before_clear([r, path](const void* mem, size_t len) {
            std::vector<uint32_t> copy;
            fb_state st{};
            {
                std::lock_guard lk(pixel_mutex);
                if (is_png_name(path)) {
                    fb_scanout(copy, st);
                } else {
                    const auto* words = static_cast<const uint32_t*>(mem);
                    copy.assign(words, words + len / 4);
                    st = framebuffer();
                }
            }
            std::string err;
            if (!write_snapshot_of(path, copy.data(), copy.size() * 4, st, err)) {
                say("--snapshot: cannot write '" + path + "': " + err);
            }
            r->snapshot_taken = true;
        });
    }

    bool window = !o.headless;
#if LUMETRA_HAVE_WINDOW
    if (window) {
        std::string err;
        // Key scripts send their own release of OK (up OK) where they want one.
        if (!window_open(window_config{o.scale, &rs->background, o.keys.empty()}, err)) {
            say("cannot open the window: " + err + " (--headless runs without one)");
            return 2;
        }
    }
#else
    if (window) {
        say("built without SDL2: running headless");
        window = false;
    }
#endif

    std::thread timer;
    if (o.timeout > 0) timer = std::thread(watchdog, std::ref(*rs), o.timeout);
    std::thread keys;
    if (o.keys == "-") {
        keys = std::thread(play_stdin, std::ref(*rs));
    } else if (!script.empty()) {
        keys = std::thread(play_script, std::ref(*rs), std::cref(script));
    }

    int status = 0;
    if (window) {
#if LUMETRA_HAVE_WINDOW
        // SDL wants its own thread to be the main one: the player runs beside it.
        std::atomic<bool> done{false};
        std::thread player([&] {
            status = app_main();
            done = true;
        });
        window_loop([&] { return done.load(); });
        player.join();
        window_close();
#endif
    } else {
        status = app_main();
    }

    rs->stop.request();
    if (keys.joinable()) keys.join();
    if (timer.joinable()) timer.join();
    if (!o.snapshot.empty() && !rs->snapshot_taken) {
        say("--snapshot: the player ended without clearing the framebuffer; nothing written");
    }
    set_before_clear(nullptr);
    if (!o.driver_state.empty()) {
        std::string err;
        if (!write_driver_state(o.driver_state, err)) {
            say("--driver-state: cannot write '" + o.driver_state + "': " + err);
        }
    }
    std::fflush(stdout);
    return status;
}

void say(const std::string& text) {
    std::string line = "lumetra-sim: " + text + "\n";
    std::fputs(line.c_str(), stderr);
}

}  // namespace sim

namespace {

// Ends the process at once, the player wherever it is; what it printed is kept.
[[noreturn]] void leave(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

bool read_file(const std::string& path, std::string& text, std::string& err) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        err = std::strerror(errno);
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return true;
}

// Records sent before the player has opened its remote controls would be lost, as
// with the kernel. False when a stop came first.
bool wait_for_remotes(run_state& rs) {
    while (!sim::wait_remotes_open(kPollMs)) {
        if (rs.stop.requested()) return false;
    }
    return !rs.stop.requested();
}

// A script's command to the film on the video decoder.
void film_command(const sim::script_command& c) {
    switch (c.video) {
        case sim::video_action::play:
            sim::video_play();
            break;
        case sim::video_action::pause:
            sim::video_pause();
            break;
        case sim::video_action::seek:
            sim::video_seek(int64_t{c.value} * 1000);
            break;
        case sim::video_action::wrap:
            sim::video_wrap();
            break;
    }
}

// Carries out one command; false when a stop was requested.
bool run_command(run_state& rs, const sim::script_command& c) {
    std::string err;
    switch (c.op) {
        case sim::script_op::wait:
            return rs.stop.sleep_for(std::chrono::milliseconds(c.ms));
        case sim::script_op::press:
            sim::push_key(0, c.code, 1);
            sim::push_key(0, c.code, 0);
            break;
        case sim::script_op::event:
            if (c.report) {
                sim::push_key(0, c.code, c.value);
            } else {
                sim::push_event(0, c.type, c.code, c.value);
            }
            break;
        case sim::script_op::snap:
            if (!sim::write_snapshot(c.file, err)) {
                sim::say("snap: cannot write '" + c.file + "': " + err);
            }
            break;
        case sim::script_op::compose:
            if (!sim::write_composed(c.file, rs.background, err)) {
                sim::say("compose: cannot write '" + c.file + "': " + err);
            }
            break;
        case sim::script_op::video:
            film_command(c);
            break;
    }
    return !rs.stop.requested();
}

void play_script(run_state& rs, const std::vector<sim::script_command>& script) {
    if (!wait_for_remotes(rs)) return;
    for (const sim::script_command& c : script) {
        if (!run_command(rs, c)) return;
    }
}

// Plays a script from standard input line by line as it arrives, so that another
// program can steer the player.
void play_stdin(run_state& rs) {
    if (!wait_for_remotes(rs)) return;
    std::string pending;
    int line_no = 0;
    bool eof = false;
    while (!rs.stop.requested()) {
        size_t nl = pending.find('\n');
        if (nl == std::string::npos && !eof) {
            pollfd p{STDIN_FILENO, POLLIN, 0};
            int r = ::poll(&p, 1, kPollMs);
            if (r < 0 && errno != EINTR) return;
            if (r <= 0) continue;
            char buf[4096];
            ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                eof = true;
            } else {
                pending.append(buf, static_cast<size_t>(n));
            }
            continue;
        }
        if (nl == std::string::npos && pending.empty()) return;
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl == std::string::npos ? pending.size() : nl + 1);
        ++line_no;
        sim::script_command c;
        std::string message;
        int r = sim::parse_script_line(line, c, message);
        if (r < 0) {
            sim::say("-:" + std::to_string(line_no) + ": " + message);
            leave(2);
        }
        c.line = line_no;
        if (r > 0 && !run_command(rs, c)) return;
    }
}

// The framebuffer driver as the player left it, one "name value" a line.
bool write_driver_state(const std::string& path, std::string& err) {
    const sim::fb_state st = sim::framebuffer();
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << "mode " << st.var.xres << "x" << st.var.yres << "\n"
      << "virtual " << st.var.xres_virtual << "x" << st.var.yres_virtual << "\n"
      << "offset " << st.var.xoffset << "," << st.var.yoffset << "\n"
      << "bits_per_pixel " << st.var.bits_per_pixel << "\n"
      << "mode_requests " << st.put_count << "\n"
      << "pan_requests " << st.pan_count << "\n"
      << "blit_requests " << st.blit_count << "\n"
      << "manual_blit " << (st.manual_blit ? 1 : 0) << "\n";
    f.close();
    if (!f) {
        err = std::strerror(errno);
        return false;
    }
    return true;
}

void watchdog(run_state& rs, double seconds) {
    auto ms = std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000.0 + 0.5));
    if (!rs.stop.sleep_for(ms)) return;
    std::ostringstream s;
    s << "timeout: the player did not end within " << seconds << " s";
    sim::say(s.str());
    leave(124);
}

}  // namespace
