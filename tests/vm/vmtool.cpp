// Guest-side tool of the virtual-machine test, linked statically into the initramfs.
//
//   vmtool keys SCRIPT OUTDIR   remote control: a uinput device named "... remote control"
//                               that plays SCRIPT once the player has opened it
//   vmtool probe                prints what the kernel's framebuffer and evdev drivers answer
//   vmtool watch PID OUTDIR     samples the process's memory every 50 ms until it ends and
//                               writes the sample of its largest resident set as
//                               OUTDIR/peak.status, peak.smaps_rollup and peak.smaps
//
// Key script, one command a line ('#' starts a comment):
//   wait MS          sleep
//   press KEY        key down and a report (the report record carries value 0)
//   repeat KEY N MS  N auto-repeat records, MS apart, each followed by a report with value 1
//                    as the kernel's own auto-repeat sends them
//   release KEY      key up and a report
//   tap KEY          press, 100 ms, release
//   dump NAME        once the picture stands still, copy the framebuffer memory to
//                    OUTDIR/NAME.raw and its geometry to NAME.info
//   shot NAME        ask the host for a screen dump (the file OUTDIR/NAME.shot) and wait
//                    until it has taken it (the file OUTDIR/NAME.ack)
//   waitclose        wait until the player has closed the device
// KEY is a name (OK, EXIT, RED, ..., A) or a decimal key code.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr const char* kDeviceName = "Lumetra VM remote control";
constexpr int kOpenDeadlineMs = 120000;
constexpr int kAckDeadlineMs = 120000;
constexpr int kSettleMs = 300;
constexpr int kSettleDeadlineMs = 15000;

struct key_name {
    std::string_view name;
    int code;
};

constexpr std::array kKeys{
    key_name{"OK", KEY_OK},
    key_name{"EXIT", KEY_EXIT},
    key_name{"RED", KEY_RED},
    key_name{"GREEN", KEY_GREEN},
    key_name{"YELLOW", KEY_YELLOW},
    key_name{"BLUE", KEY_BLUE},
    key_name{"UP", KEY_UP},
    key_name{"DOWN", KEY_DOWN},
    key_name{"LEFT", KEY_LEFT},
    key_name{"RIGHT", KEY_RIGHT},
    key_name{"HELP", KEY_HELP},
    key_name{"MENU", KEY_MENU},
    key_name{"TV", KEY_TV},
    key_name{"VIDEO", KEY_VIDEO},
    key_name{"VOLUMEUP", KEY_VOLUMEUP},
    key_name{"VOLUMEDOWN", KEY_VOLUMEDOWN},
    key_name{"CHANNELUP", KEY_CHANNELUP},
    key_name{"CHANNELDOWN", KEY_CHANNELDOWN},
    key_name{"0", KEY_0},
    key_name{"1", KEY_1},
    key_name{"2", KEY_2},
    key_name{"3", KEY_3},
    key_name{"4", KEY_4},
    key_name{"5", KEY_5},
    key_name{"6", KEY_6},
    key_name{"7", KEY_7},
    key_name{"8", KEY_8},
    key_name{"9", KEY_9},
    key_name{"A", KEY_A},
};

// A descriptor closed on scope exit.
class fd_guard {
  public:
    explicit fd_guard(int fd = -1) : fd_(fd) {}
    ~fd_guard() {
        if (fd_ >= 0) ::close(fd_);
    }
    fd_guard(const fd_guard&) = delete;
    fd_guard& operator=(const fd_guard&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// One line on standard error, stamped with the time since boot (as in /proc/uptime).
[[gnu::format(printf, 1, 2)]] void say(const char* fmt, ...) {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    std::fprintf(stderr, "vmtool [%.3f]: %s", static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9,
                 text);
}

void sleep_ms(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int key_code(const std::string& word) {
    for (const auto& k : kKeys)
        if (word == k.name) return k.code;
    char* end = nullptr;
    long v = std::strtol(word.c_str(), &end, 10);
    if (end != word.c_str() && *end == '\0' && v > 0 && v < KEY_MAX) return static_cast<int>(v);
    return -1;
}

bool emit(int fd, uint16_t type, uint16_t code, int32_t value) {
    input_event ev{};
    ev.type = type;
    ev.code = code;
    ev.value = value;
    if (::write(fd, &ev, sizeof ev) != static_cast<ssize_t>(sizeof ev)) {
        std::perror("vmtool: uinput write");
        return false;
    }
    return true;
}

// Creates a uinput device with the keys of kKeys; returns its descriptor and the name of
// its event node. With autorepeat the kernel repeats held keys by itself.
int create_device(const char* name, std::string& event_node, bool autorepeat = false) {
    int fd = ::open("/dev/uinput", O_WRONLY | O_NONBLOCK);
    if (fd < 0) {
        std::perror("vmtool: /dev/uinput");
        return -1;
    }
    ::ioctl(fd, UI_SET_EVBIT, EV_KEY);
    ::ioctl(fd, UI_SET_EVBIT, EV_SYN);
    if (autorepeat) ::ioctl(fd, UI_SET_EVBIT, EV_REP);
    for (const auto& k : kKeys) ::ioctl(fd, UI_SET_KEYBIT, k.code);
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1209;
    setup.id.product = 0x0001;
    std::snprintf(setup.name, sizeof setup.name, "%s", name);
    if (::ioctl(fd, UI_DEV_SETUP, &setup) < 0 || ::ioctl(fd, UI_DEV_CREATE) < 0) {
        std::perror("vmtool: UI_DEV_CREATE");
        ::close(fd);
        return -1;
    }
    char sysname[64] = {};
    if (::ioctl(fd, UI_GET_SYSNAME(sizeof sysname), sysname) < 0) {
        std::perror("vmtool: UI_GET_SYSNAME");
        ::close(fd);
        return -1;
    }
    // The event node shows up in sysfs shortly after the device is registered.
    std::string dir = std::string("/sys/devices/virtual/input/") + sysname;
    for (int i = 0; i < 2000 && event_node.empty(); ++i) {
        if (DIR* d = ::opendir(dir.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::strncmp(e->d_name, "event", 5) == 0)
                    event_node = std::string("/dev/input/") + e->d_name;
            ::closedir(d);
        }
        if (event_node.empty()) sleep_ms(5);
    }
    if (event_node.empty()) {
        say("no event node for %s\n", sysname);
        ::close(fd);
        return -1;
    }
    struct stat st;
    for (int i = 0; i < 2000 && ::stat(event_node.c_str(), &st) != 0; ++i) sleep_ms(5);
    return fd;
}

// Number of descriptors of other processes that refer to the node.
int openers(const std::string& node) {
    int count = 0;
    pid_t self = ::getpid();
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return 0;
    while (dirent* p = ::readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(p->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self) continue;
        std::string fddir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = ::opendir(fddir.c_str());
        if (fds == nullptr) continue;
        while (dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            char target[256];
            std::string link = fddir + "/" + f->d_name;
            ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            target[n] = '\0';
            if (node == target) ++count;
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return count;
}

bool wait_openers(const std::string& node, bool open, int deadline_ms) {
    for (int waited = 0; waited < deadline_ms; waited += 10) {
        if ((openers(node) > 0) == open) return true;
        sleep_ms(10);
    }
    return false;
}

bool write_file(const std::string& path, const void* data, size_t len) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    bool ok = std::fwrite(data, 1, len, f) == len;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

// The whole framebuffer memory as cat would read it: the driver hands out the memory the
// player writes into. Empty on failure.
std::vector<char> read_framebuffer(int fd, size_t len) {
    std::vector<char> mem(len);
    size_t got = 0;
    if (::lseek(fd, 0, SEEK_SET) != 0) return {};
    while (got < mem.size()) {
        ssize_t n = ::read(fd, mem.data() + got, mem.size() - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    mem.resize(got);
    return mem;
}

// Dumps the framebuffer once it has stood still for kSettleMs, so that a slow guest still
// yields the finished picture; gives up waiting after kSettleDeadlineMs.
bool dump_framebuffer(const std::string& outdir, const std::string& name) {
    fd_guard fb(::open("/dev/fb0", O_RDONLY));
    if (fb.get() < 0) {
        std::perror("vmtool: /dev/fb0");
        return false;
    }
    fb_fix_screeninfo fix{};
    fb_var_screeninfo var{};
    if (::ioctl(fb.get(), FBIOGET_FSCREENINFO, &fix) < 0 ||
        ::ioctl(fb.get(), FBIOGET_VSCREENINFO, &var) < 0) {
        std::perror("vmtool: fb info");
        return false;
    }
    std::vector<char> mem = read_framebuffer(fb.get(), fix.smem_len);
    int waited = 0;
    for (;;) {
        sleep_ms(kSettleMs);
        waited += kSettleMs;
        std::vector<char> again = read_framebuffer(fb.get(), fix.smem_len);
        bool still = again == mem;
        mem = std::move(again);
        if (still || waited >= kSettleDeadlineMs) break;
    }
    std::ostringstream info;
    info << "line_length " << fix.line_length << "\nsmem_len " << fix.smem_len << "\nxres "
         << var.xres << "\nyres " << var.yres << "\nxres_virtual " << var.xres_virtual
         << "\nyres_virtual " << var.yres_virtual << "\nbits_per_pixel " << var.bits_per_pixel
         << "\nread " << mem.size() << "\nsettled_after_ms " << waited << "\n";
    std::string text = info.str();
    return write_file(outdir + "/" + name + ".raw", mem.data(), mem.size()) &&
           write_file(outdir + "/" + name + ".info", text.data(), text.size());
}

int run_keys(const char* script_path, const std::string& outdir) {
    std::ifstream script(script_path);
    if (!script) {
        say("cannot read %s\n", script_path);
        return 2;
    }
    std::string node;
    fd_guard ui(create_device(kDeviceName, node));
    if (ui.get() < 0) return 2;
    say("%s is %s\n", kDeviceName, node.c_str());
    // Tell init the device exists, so the player can be started.
    write_file(outdir + "/rc.ready", node.data(), node.size());
    // An evdev reader sees only events sent after it opened the device.
    if (!wait_openers(node, true, kOpenDeadlineMs)) {
        say("nobody opened %s\n", node.c_str());
        return 3;
    }
    say("%s opened, playing %s\n", node.c_str(), script_path);
    std::string line;
    int lineno = 0;
    while (std::getline(script, line)) {
        ++lineno;
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string cmd, arg;
        if (!(words >> cmd)) continue;
        words >> arg;
        auto bad = [&] {
            say("%s:%d: bad line\n", script_path, lineno);
            return 2;
        };
        if (cmd == "wait") {
            sleep_ms(std::atol(arg.c_str()));
        } else if (cmd == "press" || cmd == "release" || cmd == "tap") {
            int code = key_code(arg);
            if (code < 0) return bad();
            if (cmd != "release" &&
                !(emit(ui.get(), EV_KEY, code, 1) && emit(ui.get(), EV_SYN, SYN_REPORT, 0)))
                return 2;
            if (cmd == "tap") sleep_ms(100);
            if (cmd != "press" &&
                !(emit(ui.get(), EV_KEY, code, 0) && emit(ui.get(), EV_SYN, SYN_REPORT, 0)))
                return 2;
        } else if (cmd == "repeat") {
            int code = key_code(arg);
            long count = 0, gap = 0;
            if (code < 0 || !(words >> count >> gap)) return bad();
            for (long i = 0; i < count; ++i) {
                sleep_ms(gap);
                if (!(emit(ui.get(), EV_KEY, code, 2) && emit(ui.get(), EV_SYN, SYN_REPORT, 1)))
                    return 2;
            }
        } else if (cmd == "dump") {
            if (arg.empty()) return bad();
            if (!dump_framebuffer(outdir, arg)) return 2;
            say("dumped %s\n", arg.c_str());
        } else if (cmd == "shot") {
            if (arg.empty()) return bad();
            std::string ack = outdir + "/" + arg + ".ack";
            if (!write_file(outdir + "/" + arg + ".shot", arg.data(), arg.size())) return 2;
            struct stat st;
            int waited = 0;
            while (::stat(ack.c_str(), &st) != 0 && waited < kAckDeadlineMs) {
                sleep_ms(20);
                waited += 20;
            }
            if (waited >= kAckDeadlineMs) {
                say("no screen dump for %s\n", arg.c_str());
                return 3;
            }
        } else if (cmd == "waitfile") {
            // A file the host puts into the share when it wants the script to go on.
            if (arg.empty()) return bad();
            const std::string path = outdir + "/" + arg;
            struct stat st;
            int waited = 0;
            while (::stat(path.c_str(), &st) != 0 && waited < kAckDeadlineMs) {
                sleep_ms(20);
                waited += 20;
            }
            if (waited >= kAckDeadlineMs) {
                say("no %s from the host\n", arg.c_str());
                return 3;
            }
        } else if (cmd == "waitclose") {
            if (!wait_openers(node, false, kOpenDeadlineMs)) {
                say("%s still open\n", node.c_str());
                return 3;
            }
        } else {
            return bad();
        }
    }
    ::ioctl(ui.get(), UI_DEV_DESTROY);
    say("script done\n");
    return 0;
}

void print_var(const char* what, int rc, const fb_var_screeninfo& v) {
    std::printf(
        "probe: %s -> %d: xres %u yres %u xres_virtual %u yres_virtual %u xoffset %u yoffset %u "
        "bpp %u red %u/%u green %u/%u blue %u/%u transp %u/%u\n",
        what, rc, v.xres, v.yres, v.xres_virtual, v.yres_virtual, v.xoffset, v.yoffset,
        v.bits_per_pixel, v.red.offset, v.red.length, v.green.offset, v.green.length, v.blue.offset,
        v.blue.length, v.transp.offset, v.transp.length);
}

void print_fix(const char* what, int rc, const fb_fix_screeninfo& f) {
    std::printf("probe: %s -> %d: id \"%.16s\" line_length %u smem_len %u type %u visual %u\n",
                what, rc, f.id, f.line_length, f.smem_len, f.type, f.visual);
}

// The player's own sequence of framebuffer requests, and what the driver answers.
void probe_framebuffer() {
    fd_guard fb(::open("/dev/fb0", O_RDWR));
    if (fb.get() < 0) {
        std::perror("probe: /dev/fb0");
        return;
    }
    fb_fix_screeninfo fix{};
    fb_var_screeninfo var{};
    print_fix("FBIOGET_FSCREENINFO", ::ioctl(fb.get(), FBIOGET_FSCREENINFO, &fix), fix);
    print_var("FBIOGET_VSCREENINFO", ::ioctl(fb.get(), FBIOGET_VSCREENINFO, &var), var);
    fb_var_screeninfo want = var;
    want.xres = 720;
    want.yres = 576;
    int rc = ::ioctl(fb.get(), FBIOPUT_VSCREENINFO, &want);
    if (rc < 0)
        std::printf("probe: FBIOPUT_VSCREENINFO errno %d %s\n", errno, std::strerror(errno));
    print_var("FBIOPUT_VSCREENINFO 720x576 (handed back)", rc, want);
    fb_fix_screeninfo fix2{};
    fb_var_screeninfo var2{};
    print_fix("FBIOGET_FSCREENINFO after", ::ioctl(fb.get(), FBIOGET_FSCREENINFO, &fix2), fix2);
    print_var("FBIOGET_VSCREENINFO after", ::ioctl(fb.get(), FBIOGET_VSCREENINFO, &var2), var2);
    fb_var_screeninfo big = var2;
    big.xres = var.xres_virtual + 8;
    rc = ::ioctl(fb.get(), FBIOPUT_VSCREENINFO, &big);
    std::printf("probe: FBIOPUT_VSCREENINFO wider than the memory -> %d errno %d\n", rc,
                rc < 0 ? errno : 0);
    void* m = ::mmap(nullptr, fix.smem_len, PROT_READ | PROT_WRITE, MAP_SHARED, fb.get(), 0);
    std::printf("probe: mmap smem_len -> %s\n", m == MAP_FAILED ? std::strerror(errno) : "ok");
    if (m != MAP_FAILED) ::munmap(m, fix.smem_len);
    size_t over = fix.smem_len + 65536;
    m = ::mmap(nullptr, over, PROT_READ | PROT_WRITE, MAP_SHARED, fb.get(), 0);
    std::printf("probe: mmap smem_len + 64 KiB -> %s\n",
                m == MAP_FAILED ? std::strerror(errno) : "ok");
    if (m != MAP_FAILED) ::munmap(m, over);
}

// EVIOCGNAME and read() on a real evdev node.
void probe_input() {
    std::string node;
    fd_guard ui(create_device("Lumetra VM probe device with a long name", node));
    if (ui.get() < 0) return;
    fd_guard ev(::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL));
    if (ev.get() < 0) {
        std::perror("probe: open event node");
        return;
    }
    char name[128];
    std::memset(name, 'X', sizeof name);
    int rc = ::ioctl(ev.get(), EVIOCGNAME(sizeof name), name);
    std::printf("probe: EVIOCGNAME(128) -> %d \"%.*s\"\n", rc, rc > 0 ? rc : 0, name);
    std::memset(name, 'X', sizeof name);
    rc = ::ioctl(ev.get(), EVIOCGNAME(8), name);
    std::printf("probe: EVIOCGNAME(8) -> %d, byte 7 is %d, byte 8 is '%c'\n", rc, name[7], name[8]);
    char buf[256];
    ssize_t n = ::read(ev.get(), buf, sizeof buf);
    std::printf("probe: read with nothing pending -> %zd errno %d (%s)\n", n, n < 0 ? errno : 0,
                n < 0 ? std::strerror(errno) : "");
    emit(ui.get(), EV_KEY, KEY_OK, 1);
    emit(ui.get(), EV_SYN, SYN_REPORT, 0);
    emit(ui.get(), EV_KEY, KEY_OK, 0);
    emit(ui.get(), EV_SYN, SYN_REPORT, 0);
    sleep_ms(50);
    n = ::read(ev.get(), buf, 16);
    std::printf("probe: read of 16 bytes (record is %zu) -> %zd errno %d\n", sizeof(input_event), n,
                n < 0 ? errno : 0);
    n = ::read(ev.get(), buf, sizeof(input_event) + 10);
    std::printf("probe: read of one record + 10 bytes -> %zd\n", n);
    n = ::read(ev.get(), buf, sizeof buf);
    std::printf("probe: read of %zu bytes -> %zd (%zd records)\n", sizeof buf, n,
                n > 0 ? n / static_cast<ssize_t>(sizeof(input_event)) : 0);
    // Sending nothing but a report: does the reader get a lone report record?
    emit(ui.get(), EV_SYN, SYN_REPORT, 0);
    sleep_ms(50);
    n = ::read(ev.get(), buf, sizeof buf);
    std::printf("probe: lone report -> %zd\n", n);
    // A release of a key that is up, and a repeat of a key that is up.
    emit(ui.get(), EV_KEY, KEY_RED, 0);
    emit(ui.get(), EV_SYN, SYN_REPORT, 0);
    emit(ui.get(), EV_KEY, KEY_RED, 2);
    emit(ui.get(), EV_SYN, SYN_REPORT, 1);
    sleep_ms(50);
    n = ::read(ev.get(), buf, sizeof buf);
    std::printf("probe: release and repeat of a key that is up -> %zd bytes\n", n);
    for (ssize_t i = 0; i + static_cast<ssize_t>(sizeof(input_event)) <= n;
         i += sizeof(input_event)) {
        input_event e;
        std::memcpy(&e, buf + i, sizeof e);
        std::printf("probe:   record type %u code %u value %d\n", e.type, e.code, e.value);
    }
    ::ioctl(ui.get(), UI_DEV_DESTROY);
}

// The kernel's own auto-repeat: which report records follow the repeats it makes.
void probe_autorepeat() {
    std::string node;
    fd_guard ui(create_device("Lumetra VM auto-repeat probe", node, true));
    if (ui.get() < 0) return;
    int fd = ui.get();
    fd_guard ev(::open(node.c_str(), O_RDONLY | O_NONBLOCK));
    if (ev.get() < 0) return;
    emit(fd, EV_KEY, KEY_OK, 1);
    emit(fd, EV_SYN, SYN_REPORT, 0);
    sleep_ms(600);
    emit(fd, EV_KEY, KEY_OK, 0);
    emit(fd, EV_SYN, SYN_REPORT, 0);
    sleep_ms(50);
    std::vector<input_event> recs(256);
    ssize_t n = ::read(ev.get(), recs.data(), recs.size() * sizeof(input_event));
    int count = n > 0 ? static_cast<int>(n / static_cast<ssize_t>(sizeof(input_event))) : 0;
    std::string seq;
    for (int i = 0; i < count; ++i) {
        char item[32];
        std::snprintf(item, sizeof item, "%s%u:%d", i ? " " : "", recs[i].type, recs[i].value);
        seq += item;
    }
    std::printf("probe: key held 600 ms with auto-repeat, records (type:value): %s\n", seq.c_str());
    ::ioctl(fd, UI_DEV_DESTROY);
}

// A whole /proc file; empty when the process has gone.
std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The kB figure of a "Name:   123 kB" line, or -1.
long field_kb(const std::string& text, const char* name) {
    size_t at = text.find(std::string("\n") + name + ":");
    if (at == std::string::npos) return -1;
    return std::strtol(text.c_str() + at + std::strlen(name) + 2, nullptr, 10);
}

int run_watch(const char* pid, const std::string& outdir) {
    std::string proc = std::string("/proc/") + pid;
    std::string peak_status, peak_rollup, peak_smaps;
    long peak_rss = -1;
    int samples = 0;
    for (;;) {
        std::string status = read_text(proc + "/status");
        // A zombie has given its memory back: the samples before are the ones that count.
        if (status.empty() || status.find("\nState:\tZ") != std::string::npos) break;
        ++samples;
        long rss = field_kb(status, "VmRSS");
        if (rss > peak_rss) {
            std::string rollup = read_text(proc + "/smaps_rollup");
            std::string smaps = read_text(proc + "/smaps");
            if (rollup.empty() || smaps.empty()) break;
            peak_rss = rss;
            peak_status = std::move(status);
            peak_rollup = std::move(rollup);
            peak_smaps = std::move(smaps);
        } else {
            // The high-water mark only grows: keep the latest.
            long hwm = field_kb(status, "VmHWM");
            size_t at = peak_status.find("\nVmHWM:");
            if (hwm >= 0 && at != std::string::npos) {
                size_t end = peak_status.find('\n', at + 1);
                peak_status.replace(at, end - at, "\nVmHWM:\t" + std::to_string(hwm) + " kB");
            }
        }
        sleep_ms(50);
    }
    say("%d samples of %s, peak VmRSS %ld kB\n", samples, proc.c_str(), peak_rss);
    if (peak_rss < 0) return 3;
    return write_file(outdir + "/peak.status", peak_status.data(), peak_status.size()) &&
                   write_file(outdir + "/peak.smaps_rollup", peak_rollup.data(),
                              peak_rollup.size()) &&
                   write_file(outdir + "/peak.smaps", peak_smaps.data(), peak_smaps.size())
               ? 0
               : 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 4 && std::strcmp(argv[1], "keys") == 0) return run_keys(argv[2], argv[3]);
    if (argc == 2 && std::strcmp(argv[1], "probe") == 0) {
        probe_input();
        probe_autorepeat();
        probe_framebuffer();
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "watch") == 0) return run_watch(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: vmtool keys SCRIPT OUTDIR | vmtool probe | vmtool watch PID OUTDIR\n");
    return 2;
}
