// The simulator's front end: model set-up, the player, the key script, the time
// limit and the window.
#include "sim/frontend.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
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
#include "web/server.h"
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
    std::string driver_state;  // --driver-state FILE, or ""
    std::mutex state_lock;     // the first way out writes the driver's state, once
    bool state_written = false;
};

// SIGTERM and SIGINT in a headless run with --driver-state. The player's own
// handlers (fb/display.cpp) give the display back and then hand the signal on to the
// disposition they found: this one, which only notes the signal and wakes
// watch_signals through a pipe; that thread writes the driver's state and ends the
// process by the signal, as it would have ended without it.
constexpr std::array<int, 2> kWatchedSignals{SIGTERM, SIGINT};
std::atomic<int> caught_signal{0};
std::atomic<int> wake_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

class signal_watch {
  public:
    signal_watch() = default;
    signal_watch(const signal_watch&) = delete;
    signal_watch& operator=(const signal_watch&) = delete;
    ~signal_watch() { stop(); }
    bool start(run_state& rs);
    // Puts the dispositions back and ends the thread; rs.stop has been requested.
    void stop();

  private:
    std::array<struct sigaction, kWatchedSignals.size()> previous_{};
    std::array<bool, kWatchedSignals.size()> installed_{};
    std::thread thread_;
    int read_fd_ = -1;
};

[[noreturn]] void leave(run_state& rs, int status);
[[noreturn]] void end_by_signal(run_state& rs, int sig);
void write_state_once(run_state& rs);
bool read_file(const std::string& path, std::string& text, std::string& err);
bool wait_for_remotes(run_state& rs);
bool run_command(run_state& rs, const sim::script_command& c);
bool write_driver_state(const std::string& path, std::string& err);
void play_script(run_state& rs, const std::vector<sim::script_command>& script);
void play_stdin(run_state& rs);
void watchdog(run_state& rs, double seconds);
void watch_signals(run_state& rs, int read_fd);

}  // namespace

namespace sim {

int run_frontend(const options& o) {
    std::error_code ec;
    if (!std::filesystem::is_directory(o.root, ec)) {
        say("--root: '" + o.root + "' is not a directory");
        return 2;
    }
    auto rs = std::make_unique<run_state>();
    rs->driver_state = o.driver_state;
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

    signal_watch signals;
    if (!window && !o.driver_state.empty() && !signals.start(*rs)) {
        say("--driver-state: cannot watch SIGTERM and SIGINT; a signal leaves nothing written");
    }

    // --web: the page on 127.0.0.1 only; the player starts it after its start-up.
    web_options web;
    web.address = "127.0.0.1";
    web.port = o.web_port;
    const web_options* web_wanted = o.web_port >= 0 ? &web : nullptr;
    int status = 0;
    if (window) {
#if LUMETRA_HAVE_WINDOW
        // SDL wants its own thread to be the main one: the player runs beside it.
        std::atomic<bool> done{false};
        std::thread player([&] {
            status = app_main(web_wanted);
            done = true;
        });
        window_loop([&] { return done.load(); });
        player.join();
        window_close();
#endif
    } else {
        status = app_main(web_wanted);
    }

    rs->stop.request();
    if (keys.joinable()) keys.join();
    if (timer.joinable()) timer.join();
    signals.stop();
    if (!o.snapshot.empty() && !rs->snapshot_taken) {
        say("--snapshot: the player ended without clearing the framebuffer; nothing written");
    }
    set_before_clear(nullptr);
    write_state_once(*rs);
    // A signal that came as the player ended still ends the process by it.
    if (const int sig = caught_signal.load(); sig != 0) end_by_signal(*rs, sig);
    std::fflush(stdout);
    return status;
}

void say(const std::string& text) {
    std::string line = "lumetra-sim: " + text + "\n";
    std::fputs(line.c_str(), stderr);
}

}  // namespace sim

namespace {

// Ends the process at once, the player wherever it is; what it printed is kept, and
// the driver's state is written as at every way out.
[[noreturn]] void leave(run_state& rs, int status) {
    web_stop();
    write_state_once(rs);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

// Ends the process by sig, as the signal would have without --driver-state.
[[noreturn]] void end_by_signal(run_state& rs, int sig) {
    web_stop();
    write_state_once(rs);
    std::fflush(stdout);
    std::fflush(stderr);
    ::signal(sig, SIG_DFL);
    sigset_t only{};
    sigemptyset(&only);
    sigaddset(&only, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(sig);
    std::_Exit(128 + sig);
}

void write_state_once(run_state& rs) {
    std::lock_guard lk(rs.state_lock);
    if (rs.state_written || rs.driver_state.empty()) return;
    rs.state_written = true;
    std::string err;
    if (!write_driver_state(rs.driver_state, err)) {
        sim::say("--driver-state: cannot write '" + rs.driver_state + "': " + err);
    }
}

extern "C" void note_signal(int sig) {
    const int saved_errno = errno;
    caught_signal.store(sig);
    const char byte = 0;
    // Non-blocking: a full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = ::write(wake_fd.load(), &byte, 1);
    errno = saved_errno;
}

bool signal_watch::start(run_state& rs) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    read_fd_ = fds[0];
    wake_fd = fds[1];
    thread_ = std::thread(watch_signals, std::ref(rs), read_fd_);
    for (size_t i = 0; i < kWatchedSignals.size(); ++i) {
        struct sigaction was {};
        // A signal the simulator was started with ignored stays ignored, as in the player.
        if (sigaction(kWatchedSignals[i], nullptr, &was) != 0 || was.sa_handler == SIG_IGN)
            continue;
        struct sigaction act {};
        act.sa_handler = note_signal;
        sigemptyset(&act.sa_mask);
        act.sa_flags = SA_RESTART;
        previous_[i] = was;
        installed_[i] = sigaction(kWatchedSignals[i], &act, nullptr) == 0;
    }
    return true;
}

void signal_watch::stop() {
    for (size_t i = 0; i < kWatchedSignals.size(); ++i) {
        if (installed_[i]) sigaction(kWatchedSignals[i], &previous_[i], nullptr);
        installed_[i] = false;
    }
    if (thread_.joinable()) thread_.join();
    const int write_fd = wake_fd.exchange(-1);
    if (write_fd >= 0) ::close(write_fd);
    if (read_fd_ >= 0) ::close(read_fd_);
    read_fd_ = -1;
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
            leave(rs, 2);
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
    leave(rs, 124);
}

void watch_signals(run_state& rs, int read_fd) {
    while (!rs.stop.requested()) {
        pollfd p{read_fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        char byte = 0;
        while (::read(read_fd, &byte, 1) == 1) {
        }
        if (const int sig = caught_signal.load(); sig != 0) end_by_signal(rs, sig);
    }
}

}  // namespace
