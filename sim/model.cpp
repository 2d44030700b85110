// The simulator's device layer: the hw_* calls answered from a model of the box.
#include "sim/model.h"

#include <fcntl.h>
#include <linux/dvb/video.h>
#include <linux/fb.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "hw/device.h"

namespace {

struct input_device {
    sim::input_config cfg;
    std::deque<input_event> queue;
    int open_count = 0;
    uint64_t reads = 0;  // hw_read calls made on it
};

struct framebuffer_device {
    sim::fb_config cfg;
    fb_var_screeninfo var{};
    fb_fix_screeninfo fix{};
    void* mem = nullptr;
    size_t mem_len = 0;
    int put_count = 0;
    int open_count = 0;
    bool mapped = false;
    int pan_count = 0;
    int blit_count = 0;
    int blits_done = 0;
    int manual_blit_switches = 0;
    bool manual_blit = false;
    // In manual-blit mode, what the screen shows: the memory as the last blit found it.
    std::vector<uint32_t> shown;
};

// The film's clock: the time stamp stood at `pts` at monotonic time `since` and
// runs on from there while the film plays.
struct video_device {
    sim::video_config cfg;
    uint64_t pts = 0;
    std::chrono::steady_clock::time_point since;
    int open_count = 0;
    uint64_t pts_requests = 0;
    uint64_t status_requests = 0;

    uint64_t now() const {
        if (!cfg.playing) return pts;
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now() - since)
                      .count();
        return (pts + static_cast<uint64_t>(us) * 90 / 1000) % sim::kPtsRange;
    }
    // Moves the stamp to `to` (modulo the range) from now on.
    void restart(uint64_t to) {
        pts = to % sim::kPtsRange;
        since = std::chrono::steady_clock::now();
    }
};

enum class kind { framebuffer, input, video };

struct open_file {
    kind k;
    int dev;
};

struct model {
    std::mutex m;
    std::condition_variable changed;
    std::string root;
    bool have_fb = false;
    framebuffer_device fb;
    std::vector<input_device> inputs;
    video_device video;
    std::map<int, open_file> files;
    std::function<void(const void*, size_t)> before_clear;
    std::function<void(int)> input_hook;
    std::function<void()> thread_hook;
    int threads = 0;
    double sleep_scale = 1.0;
};

// Reads of files, counted apart from the model's lock: the font is read under the
// glyph lock.
std::atomic<long> file_read_count{0};
// Bytes read from files (not devices) with hw_read and hw_pread. Under a lock of its
// own, not a 64-bit atomic: 32-bit MIPS has no such instruction and would need libatomic.
struct byte_count {
    std::mutex m;
    int64_t bytes = 0;
    void add(int64_t n) {
        std::lock_guard lk(m);
        bytes += n;
    }
    void set(int64_t n) {
        std::lock_guard lk(m);
        bytes = n;
    }
    int64_t get() {
        std::lock_guard lk(m);
        return bytes;
    }
};
byte_count file_bytes_count;

model& the_model() {
    static model m;
    return m;
}

constexpr uint32_t kBoxW = 720, kBoxH = 576;

// Pages of the mode: the driver keeps as many as the box software asked for.
uint32_t page_count(const framebuffer_device& f) {
    return std::max<uint32_t>(f.cfg.pages, 1);
}

// A mode of the driver's page count; yoffset is clamped to the last page, as drivers
// clamp a pan that would run past the virtual screen.
void fill_mode(framebuffer_device& f, uint32_t xres, uint32_t yres, uint32_t line_length,
               uint32_t bits_per_pixel, uint32_t yoffset = 0) {
    f.var.xres = f.var.xres_virtual = xres;
    f.var.yres = yres;
    f.var.yres_virtual = yres * page_count(f);
    f.var.xoffset = 0;
    f.var.yoffset = std::min(yoffset, f.var.yres_virtual - yres);
    f.var.bits_per_pixel = bits_per_pixel;
    if (bits_per_pixel == 32) {
        f.var.transp = {24, 8, 0};
        f.var.red = {16, 8, 0};
        f.var.green = {8, 8, 0};
        f.var.blue = {0, 8, 0};
        f.fix.visual = FB_VISUAL_TRUECOLOR;
    } else if (bits_per_pixel == 16) {
        // ARGB1555, as the on-screen display of some boxes runs.
        f.var.transp = {15, 1, 0};
        f.var.red = {10, 5, 0};
        f.var.green = {5, 5, 0};
        f.var.blue = {0, 5, 0};
        f.fix.visual = FB_VISUAL_TRUECOLOR;
    } else {
        // A palette mode: every pixel is an index into the colour map.
        f.var.transp = {0, 0, 0};
        f.var.red = f.var.green = f.var.blue = {0, bits_per_pixel, 0};
        f.fix.visual = FB_VISUAL_PSEUDOCOLOR;
    }
    f.fix.line_length = line_length;
}

// The depth a mode request ends in: what was asked for when the driver can do it
// (8, 16 or 32 bits per pixel), else the depth it is in.
uint32_t granted_depth(const framebuffer_device& f, uint32_t asked) {
    if (f.cfg.keep_depth || (asked != 8 && asked != 16 && asked != 32)) {
        return f.var.bits_per_pixel;
    }
    return asked;
}

void release_fb_memory(framebuffer_device& f) {
    if (f.mem != nullptr) ::munmap(f.mem, f.mem_len);
    f.mem = nullptr;
    f.mem_len = 0;
}

bool is_fb_path(const framebuffer_device& f, const char* path) {
    return std::strcmp(path, f.cfg.at_fb0 ? "/dev/fb0" : "/dev/fb/0") == 0;
}

// Event number of /dev/input/event<N>, or -1.
int input_number(const char* path) {
    constexpr const char* prefix = "/dev/input/event";
    size_t n = std::strlen(prefix);
    if (std::strncmp(path, prefix, n) != 0 || path[n] == '\0') return -1;
    int v = 0;
    for (const char* p = path + n; *p; ++p) {
        if (*p < '0' || *p > '9' || v > 100000) return -1;
        v = v * 10 + (*p - '0');
    }
    return v;
}

// Queues one record on device dev; the caller holds md.m. Lost while the device is
// closed, as with the kernel.
void queue_record(model& md, int dev, uint16_t type, uint16_t code, int32_t value) {
    if (dev < 0 || dev >= static_cast<int>(md.inputs.size())) return;
    input_device& d = md.inputs[dev];
    if (d.open_count == 0) return;
    input_event ev{};
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    ev.input_event_sec = tv.tv_sec;
    ev.input_event_usec = tv.tv_usec;
    ev.type = type;
    ev.code = code;
    ev.value = value;
    d.queue.push_back(ev);
}

int reserve_descriptor() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// Faults armed by sim::fail_call. A lock of its own, taken after the model's when both are.
// Opens a modelled device (the model's lock held): fails with `err` when it is not 0,
// else hands out a descriptor and counts the opening.
int open_device(model& md, open_file file, int err, int& open_count) {
    if (err != 0) {
        errno = err;
        return -1;
    }
    int fd = reserve_descriptor();
    if (fd < 0) return -1;
    md.files[fd] = file;
    open_count++;
    md.changed.notify_all();
    return fd;
}

struct armed_fault {
    std::string call;
    int err;
    int count;  // calls (files for "fread") still to fail; -1 no limit
    std::string path;
    long after_bytes;
};

struct fault_table {
    std::mutex m;
    std::vector<armed_fault> armed;
    int injected = 0;
};

fault_table& the_faults() {
    static fault_table t;
    return t;
}

// Consumes one armed fault of call whose path filter path contains; false if none.
bool take_fault(std::string_view call, const char* path, armed_fault* hit = nullptr) {
    fault_table& ft = the_faults();
    std::lock_guard lk(ft.m);
    std::string_view p = path != nullptr ? path : "";
    for (auto it = ft.armed.begin(); it != ft.armed.end(); ++it) {
        if (it->call != call || p.find(it->path) == std::string_view::npos) continue;
        if (hit != nullptr) *hit = *it;
        if (it->count > 0 && --it->count == 0) ft.armed.erase(it);
        ft.injected++;
        return true;
    }
    return false;
}

// Fails the call with the armed fault's errno when one matches.
bool fault_hit(std::string_view call, const char* path) {
    armed_fault f;
    if (!take_fault(call, path, &f)) return false;
    errno = f.err;
    return true;
}

// A stdio file that delivers a number of bytes and then fails every read.
struct failing_file {
    FILE* real;
    long left;
    int err;
};

ssize_t failing_read(void* cookie, char* buf, size_t size) {
    auto* f = static_cast<failing_file*>(cookie);
    if (f->left <= 0) {
        errno = f->err;
        return -1;
    }
    size_t got = std::fread(buf, 1, std::min(size, static_cast<size_t>(f->left)), f->real);
    f->left -= static_cast<long>(got);
    return static_cast<ssize_t>(got);
}

ssize_t failing_write(void* cookie, const char* buf, size_t size) {
    return static_cast<ssize_t>(
        std::fwrite(buf, 1, size, static_cast<failing_file*>(cookie)->real));
}

int failing_seek(void* cookie, off64_t* offset, int whence) {
    FILE* real = static_cast<failing_file*>(cookie)->real;
    if (::fseeko(real, *offset, whence) != 0) return -1;
    *offset = ::ftello(real);
    return 0;
}

int failing_close(void* cookie) {
    auto* f = static_cast<failing_file*>(cookie);
    int r = std::fclose(f->real);
    delete f;
    return r;
}

// Wraps a file just opened when an "fread" fault is armed for its path.
FILE* arm_reads(FILE* real, const char* path, const char* mode) {
    armed_fault fault;
    if (!take_fault("fread", path, &fault)) return real;
    auto* f = new failing_file{real, fault.after_bytes, fault.err};
    FILE* wrapped =
        ::fopencookie(f, mode, {failing_read, failing_write, failing_seek, failing_close});
    if (wrapped == nullptr) {
        delete f;
        return real;
    }
    return wrapped;
}

}  // namespace

namespace sim {

void reset() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    for (auto& [fd, f] : md.files) ::close(fd);
    md.files.clear();
    release_fb_memory(md.fb);
    md.fb = framebuffer_device{};
    md.have_fb = false;
    md.inputs.clear();
    md.video = video_device{};
    md.root.clear();
    md.before_clear = nullptr;
    md.input_hook = nullptr;
    md.thread_hook = nullptr;
    md.sleep_scale = 1.0;
    file_read_count = 0;
    file_bytes_count.set(0);
    clear_faults();
    std::lock_guard flk(the_faults().m);
    the_faults().injected = 0;
}

void set_root(const std::string& root) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.root = root;
    while (md.root.size() > 1 && md.root.back() == '/') md.root.pop_back();
}

std::string root() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return md.root;
}

std::string resolve(const char* path) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    if (path == nullptr) return {};
    if (path[0] != '/' || md.root.empty()) return path;
    return md.root + path;
}

void set_framebuffer(const fb_config& cfg) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    release_fb_memory(md.fb);
    md.fb = framebuffer_device{};
    md.fb.cfg = cfg;
    md.have_fb = cfg.present;
    if (!cfg.present) return;
    uint32_t need = std::max(cfg.xres * cfg.yres, kBoxW * kBoxH) * 4 * page_count(md.fb);
    uint32_t len = cfg.smem_len != 0 ? cfg.smem_len : need;
    long page = ::sysconf(_SC_PAGESIZE);
    size_t map_len = (len + page - 1) / page * page;
    void* mem =
        ::mmap(nullptr, map_len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    md.fb.mem = mem == MAP_FAILED ? nullptr : mem;
    md.fb.mem_len = mem == MAP_FAILED ? 0 : map_len;
    std::strncpy(md.fb.fix.id, "lumetra-sim", sizeof md.fb.fix.id - 1);
    md.fb.fix.smem_len = len;
    md.fb.fix.type = FB_TYPE_PACKED_PIXELS;
    fill_mode(md.fb, cfg.xres, cfg.yres, cfg.xres * cfg.bits_per_pixel / 8, cfg.bits_per_pixel,
              cfg.shown_page * cfg.yres);
    md.fb.manual_blit = cfg.manual_blit;
    if (cfg.manual_blit && md.fb.mem != nullptr) md.fb.shown.assign(len / 4, 0);
}

namespace {

fb_state state_of(const framebuffer_device& f) {
    return fb_state{f.var,       f.fix,        f.put_count,  f.open_count > 0,       f.mapped,
                    f.pan_count, f.blit_count, f.blits_done, f.manual_blit_switches, f.manual_blit};
}

}  // namespace

fb_state framebuffer() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return state_of(md.fb);
}

bool fb_scanout(std::vector<uint32_t>& out, fb_state& st) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    if (!md.have_fb || md.fb.mem == nullptr) return false;
    st = state_of(md.fb);
    const size_t words = md.fb.fix.smem_len / 4;
    if (md.fb.manual_blit && md.fb.shown.size() == words) {
        out = md.fb.shown;
    } else {
        const auto* mem = static_cast<const uint32_t*>(md.fb.mem);
        out.assign(mem, mem + words);
    }
    return true;
}

std::span<uint32_t> fb_memory() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    if (!md.have_fb || md.fb.mem == nullptr) return {};
    return {static_cast<uint32_t*>(md.fb.mem), md.fb.fix.smem_len / 4};
}

void set_before_clear(std::function<void(const void*, size_t)> hook) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.before_clear = std::move(hook);
}

int add_input(const input_config& cfg) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.inputs.push_back(input_device{cfg, {}, 0});
    return static_cast<int>(md.inputs.size()) - 1;
}

void push_event(int dev, uint16_t type, uint16_t code, int32_t value) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    queue_record(md, dev, type, code, value);
}

void push_key(int dev, uint16_t code, int32_t value) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    queue_record(md, dev, EV_KEY, code, value);
    queue_record(md, dev, EV_SYN, SYN_REPORT, value == 2 ? 1 : 0);
}

bool input_open(int dev) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return dev >= 0 && dev < static_cast<int>(md.inputs.size()) && md.inputs[dev].open_count > 0;
}

size_t input_pending(int dev) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    if (dev < 0 || dev >= static_cast<int>(md.inputs.size())) return 0;
    return md.inputs[dev].queue.size();
}

size_t input_pending_keys(int dev) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    if (dev < 0 || dev >= static_cast<int>(md.inputs.size())) return 0;
    const std::deque<input_event>& q = md.inputs[dev].queue;
    return static_cast<size_t>(
        std::count_if(q.begin(), q.end(), [](const input_event& ev) { return ev.type == EV_KEY; }));
}

uint64_t input_reads(int dev) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    if (dev < 0 || dev >= static_cast<int>(md.inputs.size())) return 0;
    return md.inputs[dev].reads;
}

bool wait_remotes_open(int timeout_ms) {
    model& md = the_model();
    std::unique_lock lk(md.m);
    auto all_open = [&] {
        bool any = false;
        for (const auto& d : md.inputs) {
            if (d.cfg.name.find("remote control") == std::string::npos) continue;
            any = true;
            if (d.open_count == 0) return false;
        }
        return any;
    };
    return md.changed.wait_for(lk, std::chrono::milliseconds(timeout_ms), all_open);
}

int open_descriptors() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return static_cast<int>(md.files.size());
}

void set_input_hook(std::function<void(int dev)> hook) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.input_hook = std::move(hook);
}

void set_thread_hook(std::function<void()> hook) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.thread_hook = std::move(hook);
}

int threads_running() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return md.threads;
}

void set_sleep_scale(double scale) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.sleep_scale = scale < 0 ? 0 : scale;
}

void fail_call(std::string_view call, int err, int count, std::string_view path, long after_bytes) {
    if (count == 0) return;
    fault_table& ft = the_faults();
    std::lock_guard lk(ft.m);
    ft.armed.push_back(armed_fault{std::string(call), err, count < 0 ? -1 : count,
                                   std::string(path), after_bytes});
}

void clear_faults() {
    fault_table& ft = the_faults();
    std::lock_guard lk(ft.m);
    ft.armed.clear();
}

long file_reads() {
    return file_read_count;
}

int64_t file_bytes_read() {
    return file_bytes_count.get();
}

int faults_injected() {
    fault_table& ft = the_faults();
    std::lock_guard lk(ft.m);
    return ft.injected;
}

}  // namespace sim

namespace sim {

void set_video(const video_config& cfg) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.video.cfg = cfg;
    md.video.pts_requests = 0;
    md.video.status_requests = 0;
    md.video.restart(cfg.start_pts);
}

void video_play() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    if (md.video.cfg.playing) return;
    md.video.restart(md.video.pts);
    md.video.cfg.playing = true;
}

void video_pause() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.video.restart(md.video.now());
    md.video.cfg.playing = false;
}

void video_seek(int64_t ms) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    // Modulo 2^33 in unsigned arithmetic: a backward jump adds the range less its size.
    const uint64_t ticks = static_cast<uint64_t>(ms < 0 ? -ms : ms) * 90 % kPtsRange;
    md.video.restart(md.video.now() + (ms < 0 ? kPtsRange - ticks : ticks));
}

void video_wrap() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.video.restart(kPtsRange - 2 * 90000);
}

void video_fail_pts(bool fail) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.video.cfg.fail_pts = fail;
}

uint64_t video_pts() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return md.video.cfg.present ? md.video.now() : 0;
}

bool video_playing() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return md.video.cfg.playing;
}

bool video_open() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return md.video.open_count > 0;
}

uint64_t video_pts_requests() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return md.video.pts_requests;
}

uint64_t video_status_requests() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return md.video.status_requests;
}

}  // namespace sim

// ---- the device layer ----

int hw_open(const char* path, int flags) {
    model& md = the_model();
    std::unique_lock lk(md.m);
    if (md.have_fb && is_fb_path(md.fb, path)) {
        return open_device(md, {kind::framebuffer, 0}, md.fb.cfg.fail_open ? EACCES : 0,
                           md.fb.open_count);
    }
    if (md.video.cfg.present && std::strcmp(path, "/dev/dvb/adapter0/video0") == 0) {
        return open_device(md, {kind::video, 0}, md.video.cfg.fail_open ? EBUSY : 0,
                           md.video.open_count);
    }
    int n = input_number(path);
    if (n >= 0) {
        if (n >= static_cast<int>(md.inputs.size())) {
            errno = ENOENT;
            return -1;
        }
        return open_device(md, {kind::input, n}, md.inputs[n].cfg.fail_open ? EACCES : 0,
                           md.inputs[n].open_count);
    }
    if (std::strncmp(path, "/dev/", 5) == 0) {
        errno = ENOENT;
        return -1;
    }
    std::string host = md.root.empty() || path[0] != '/' ? path : md.root + path;
    lk.unlock();
    if (fault_hit("open", path)) return -1;
    return ::open(host.c_str(), flags, 0644);
}

int hw_close(int fd) {
    model& md = the_model();
    std::unique_lock lk(md.m);
    auto it = md.files.find(fd);
    if (it != md.files.end()) {
        if (it->second.k == kind::framebuffer) {
            md.fb.open_count--;
        } else if (it->second.k == kind::video) {
            md.video.open_count--;
        } else {
            input_device& d = md.inputs[it->second.dev];
            if (--d.open_count == 0) d.queue.clear();
        }
        md.files.erase(it);
        md.changed.notify_all();
    }
    lk.unlock();
    return ::close(fd);
}

namespace {

// A request to the framebuffer driver; the caller holds the model's lock.
int framebuffer_ioctl(framebuffer_device& f, unsigned long request, void* arg) {
    switch (request) {
        case FBIOGET_FSCREENINFO:
            if (f.cfg.fail_fscreeninfo) break;
            std::memcpy(arg, &f.fix, sizeof f.fix);
            return 0;
        case FBIOGET_VSCREENINFO:
            if (f.cfg.fail_vscreeninfo) break;
            std::memcpy(arg, &f.var, sizeof f.var);
            return 0;
        case FBIOPUT_VSCREENINFO: {
            f.put_count++;
            if (f.cfg.fail_put) break;
            fb_var_screeninfo want;
            std::memcpy(&want, arg, sizeof want);
            if (f.cfg.refuse_depth && want.bits_per_pixel != f.var.bits_per_pixel) {
                errno = EINVAL;
                return -1;
            }
            uint32_t depth = granted_depth(f, want.bits_per_pixel);
            uint64_t bytes = uint64_t{want.xres} * want.yres * page_count(f) * depth / 8;
            if (want.xres == 0 || want.yres == 0 || bytes > f.fix.smem_len) {
                errno = EINVAL;
                return -1;
            }
            uint32_t stride = f.cfg.keep_stride ? f.fix.line_length : want.xres * depth / 8;
            fill_mode(f, want.xres, want.yres, stride, depth, want.yoffset);
            // Like the kernel, hand back the mode as the driver adjusted it.
            std::memcpy(arg, &f.var, sizeof f.var);
            return 0;
        }
        case FBIOPAN_DISPLAY: {
            f.pan_count++;
            fb_var_screeninfo want;
            std::memcpy(&want, arg, sizeof want);
            if (uint64_t{want.xoffset} + f.var.xres > f.var.xres_virtual ||
                uint64_t{want.yoffset} + f.var.yres > f.var.yres_virtual) {
                errno = EINVAL;
                return -1;
            }
            f.var.xoffset = want.xoffset;
            f.var.yoffset = want.yoffset;
            return 0;
        }
        default:
            break;
    }
    if (f.cfg.manual_blit && request == sim::kFbioBlit) {
        f.blit_count++;
        if (f.cfg.blit_errno != 0) {
            errno = f.cfg.blit_errno;
            return -1;
        }
        // The driver copies the memory to the screen; it holds it until the next blit.
        if (f.manual_blit && f.mem != nullptr) {
            const auto* mem = static_cast<const uint32_t*>(f.mem);
            f.shown.assign(mem, mem + f.fix.smem_len / 4);
        }
        f.blits_done++;
        return 0;
    }
    if (f.cfg.manual_blit && request == sim::kFbioSetManualBlit) {
        f.manual_blit_switches++;
        uint8_t on = 0;
        std::memcpy(&on, arg, 1);
        if (on != 0 && !f.manual_blit && f.mem != nullptr) {
            const auto* mem = static_cast<const uint32_t*>(f.mem);
            f.shown.assign(mem, mem + f.fix.smem_len / 4);
        }
        f.manual_blit = on != 0;
        return 0;
    }
    if (request == sim::kFbioBlit) {
        f.blit_count++;
        errno = f.cfg.blit_errno != 0 ? f.cfg.blit_errno : ENOTTY;
        return -1;
    }
    errno = (request == FBIOGET_FSCREENINFO || request == FBIOGET_VSCREENINFO ||
             request == FBIOPUT_VSCREENINFO)
                ? EIO
                : ENOTTY;
    return -1;
}

}  // namespace

int hw_ioctl(int fd, unsigned long request, void* arg) {
    model& md = the_model();
    std::unique_lock lk(md.m);
    auto it = md.files.find(fd);
    if (it == md.files.end()) {
        lk.unlock();
        return ::ioctl(fd, request, arg);
    }
    if (it->second.k == kind::framebuffer) return framebuffer_ioctl(md.fb, request, arg);
    if (it->second.k == kind::video) {
        video_device& v = md.video;
        if (request == VIDEO_GET_PTS) ++v.pts_requests;
        if (request == VIDEO_GET_STATUS) ++v.status_requests;
        if (request == VIDEO_GET_PTS && !v.cfg.fail_pts) {
            const uint64_t pts = v.now();
            std::memcpy(arg, &pts, sizeof pts);
            return 0;
        }
        if (request == VIDEO_GET_STATUS && !v.cfg.fail_status) {
            video_status st{};
            st.play_state = v.cfg.playing ? VIDEO_PLAYING : VIDEO_FREEZED;
            std::memcpy(arg, &st, sizeof st);
            return 0;
        }
        errno = request == VIDEO_GET_PTS ? EIO : ENOTTY;
        return -1;
    }
    input_device& d = md.inputs[it->second.dev];
    if (_IOC_TYPE(request) == 'E' && _IOC_NR(request) == 0x06 && _IOC_DIR(request) == _IOC_READ) {
        if (d.cfg.fail_name) {
            errno = ENOTTY;
            return -1;
        }
        // As the kernel does: copy the name with its terminator, cut at the buffer size.
        size_t size = _IOC_SIZE(request);
        size_t len = std::min(d.cfg.name.size() + 1, size);
        std::memcpy(arg, d.cfg.name.c_str(), len);
        return static_cast<int>(len);
    }
    errno = ENOTTY;
    return -1;
}

void* hw_mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    model& md = the_model();
    std::unique_lock lk(md.m);
    auto it = md.files.find(fd);
    if (it == md.files.end()) {
        lk.unlock();
        return ::mmap(addr, length, prot, flags, fd, offset);
    }
    if (it->second.k != kind::framebuffer || md.fb.cfg.fail_mmap || offset != 0 ||
        length > md.fb.fix.smem_len || length == 0 || md.fb.mem == nullptr) {
        errno = it->second.k == kind::framebuffer ? EINVAL : ENODEV;
        return MAP_FAILED;
    }
    md.fb.mapped = true;
    return md.fb.mem;
}

int hw_munmap(void* addr, size_t length) {
    model& md = the_model();
    std::unique_lock lk(md.m);
    if (md.fb.mem != nullptr && addr == md.fb.mem) {
        md.fb.mapped = false;
        return 0;
    }
    lk.unlock();
    return ::munmap(addr, length);
}

ssize_t hw_pread(int fd, void* buf, size_t count, off_t offset) {
    if (fault_hit("read", "")) return -1;
    const ssize_t n = ::pread(fd, buf, count, offset);
    if (n > 0) file_bytes_count.add(n);
    return n;
}

ssize_t hw_read(int fd, void* buf, size_t count) {
    model& md = the_model();
    std::unique_lock lk(md.m);
    auto it = md.files.find(fd);
    if (it == md.files.end()) {
        lk.unlock();
        if (fault_hit("read", "")) return -1;
        const ssize_t n = ::read(fd, buf, count);
        if (n > 0) file_bytes_count.add(n);
        return n;
    }
    if (it->second.k != kind::input) {
        errno = EINVAL;
        return -1;
    }
    if (md.input_hook) {
        // Outside the lock: the hook may queue records.
        std::function<void(int)> hook = md.input_hook;
        const int dev = it->second.dev;
        lk.unlock();
        hook(dev);
        lk.lock();
        it = md.files.find(fd);
        if (it == md.files.end()) {
            errno = EBADF;
            return -1;
        }
    }
    input_device& d = md.inputs[it->second.dev];
    d.reads++;
    char device_path[32];
    std::snprintf(device_path, sizeof device_path, "/dev/input/event%d", it->second.dev);
    if (fault_hit("read", device_path)) return -1;
    if (d.cfg.read_errors) {
        errno = EIO;
        return -1;
    }
    if (count < sizeof(input_event)) {
        errno = EINVAL;
        return -1;
    }
    if (d.queue.empty()) {
        errno = EAGAIN;
        return -1;
    }
    // evdev hands out as many whole records as fit.
    size_t n = 0;
    auto* out = static_cast<char*>(buf);
    while (!d.queue.empty() && count - n >= sizeof(input_event)) {
        std::memcpy(out + n, &d.queue.front(), sizeof(input_event));
        d.queue.pop_front();
        n += sizeof(input_event);
        if (d.cfg.short_reads) return static_cast<ssize_t>(sizeof(input_event) / 2);
    }
    return static_cast<ssize_t>(n);
}

namespace {

int device_stat(const char* path, struct stat* st, bool& handled) {
    model& md = the_model();
    std::lock_guard lk(md.m);
    handled = false;
    if (std::strncmp(path, "/dev/", 5) != 0) return 0;
    handled = true;
    int n = input_number(path);
    bool exists = (md.have_fb && is_fb_path(md.fb, path)) ||
                  (n >= 0 && n < static_cast<int>(md.inputs.size()));
    if (!exists) {
        errno = ENOENT;
        return -1;
    }
    std::memset(st, 0, sizeof *st);
    st->st_mode = S_IFCHR | 0660;
    return 0;
}

}  // namespace

int hw_stat(const char* path, struct stat* st) {
    bool handled;
    int r = device_stat(path, st, handled);
    if (handled) return r;
    if (fault_hit("stat", path)) return -1;
    return ::stat(sim::resolve(path).c_str(), st);
}

int hw_lstat(const char* path, struct stat* st) {
    bool handled;
    int r = device_stat(path, st, handled);
    if (handled) return r;
    if (fault_hit("lstat", path)) return -1;
    return ::lstat(sim::resolve(path).c_str(), st);
}

FILE* hw_fopen(const char* path, const char* mode) {
    if (fault_hit("fopen", path)) return nullptr;
    FILE* f = std::fopen(sim::resolve(path).c_str(), mode);
    return f != nullptr ? arm_reads(f, path, mode) : nullptr;
}
size_t hw_fread(void* buf, size_t size, size_t count, FILE* f) {
    ++file_read_count;
    return std::fread(buf, size, count, f);
}
int hw_fseek(FILE* f, long offset, int whence) {
    ++file_read_count;
    return std::fseek(f, offset, whence);
}
DIR* hw_opendir(const char* path) {
    if (fault_hit("opendir", path)) return nullptr;
    return ::opendir(sim::resolve(path).c_str());
}
int hw_unlink(const char* path) {
    if (fault_hit("unlink", path)) return -1;
    return ::unlink(sim::resolve(path).c_str());
}
int hw_rmdir(const char* path) {
    if (fault_hit("rmdir", path)) return -1;
    return ::rmdir(sim::resolve(path).c_str());
}
// The target is stored as given: a relative target stays relative to the link's directory.
int hw_symlink(const char* target, const char* linkpath) {
    if (fault_hit("symlink", linkpath)) return -1;
    return ::symlink(target, sim::resolve(linkpath).c_str());
}
ssize_t hw_readlink(const char* path, char* buf, size_t size) {
    return ::readlink(sim::resolve(path).c_str(), buf, size);
}
int hw_rename(const char* from, const char* to) {
    if (fault_hit("rename", from)) return -1;
    return std::rename(sim::resolve(from).c_str(), sim::resolve(to).c_str());
}
int hw_fsync(int fd) {
    if (fault_hit("fsync", "")) return -1;
    return ::fsync(fd);
}
int hw_fadvise(int fd, off_t offset, off_t length, int advice) {
    return ::posix_fadvise(fd, offset, length, advice);
}

namespace {
double sleep_scale() {
    model& md = the_model();
    std::lock_guard lk(md.m);
    return md.sleep_scale;
}
}  // namespace

int hw_usleep(useconds_t us) {
    double s = sleep_scale();
    if (s == 0) return 0;
    return ::usleep(static_cast<useconds_t>(us * s));
}

int hw_nanosleep(const struct timespec* req, struct timespec* rem) {
    double s = sleep_scale();
    if (s == 0) return 0;
    if (s == 1.0) return ::nanosleep(req, rem);
    double ns = (static_cast<double>(req->tv_sec) * 1e9 + static_cast<double>(req->tv_nsec)) * s;
    timespec t{static_cast<time_t>(ns / 1e9),
               static_cast<long>(ns - static_cast<double>(static_cast<time_t>(ns / 1e9)) * 1e9)};
    return ::nanosleep(&t, rem);
}

int hw_gettimeofday(struct timeval* tv) {
    return ::gettimeofday(tv, nullptr);
}
int hw_clock_gettime_mono(struct timespec* ts) {
    return ::clock_gettime(CLOCK_MONOTONIC, ts);
}

namespace {

struct thread_start {
    void* (*entry)(void*);
    void* arg;
    std::function<void()> hook;
};

void* run_thread(void* p) {
    std::unique_ptr<thread_start> start(static_cast<thread_start*>(p));
    if (start->hook) start->hook();
    void* result = start->entry(start->arg);
    model& md = the_model();
    std::lock_guard lk(md.m);
    md.threads--;
    return result;
}

}  // namespace

int hw_pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*entry)(void*),
                      void* arg) {
    model& md = the_model();
    // Not a nothrow allocation: the allocation-failure tests fail those of the player.
    std::unique_ptr<thread_start> start;
    try {
        start = std::make_unique<thread_start>(thread_start{entry, arg, {}});
    } catch (const std::bad_alloc&) {
        return EAGAIN;
    }
    {
        std::lock_guard lk(md.m);
        start->hook = md.thread_hook;
        md.threads++;
    }
    int r = ::pthread_create(thread, attr, run_thread, start.get());
    if (r == 0) {
        // The thread owns its start record from here on.
        (void)start.release();
    } else {
        std::lock_guard lk(md.m);
        md.threads--;
    }
    return r;
}

void hw_fb_before_clear(const void* mem, size_t length) {
    std::function<void(const void*, size_t)> hook;
    {
        model& md = the_model();
        std::lock_guard lk(md.m);
        hook = md.before_clear;
    }
    if (hook) hook(mem, length);
}

// A signal handler may have interrupted a thread that holds the model's lock: it is
// tried a while and the request given up when it stays taken, so that the handler
// never waits forever.
int hw_ioctl_in_signal(int fd, unsigned long request, void* arg) {
    model& md = the_model();
    std::unique_lock lk(md.m, std::try_to_lock);
    for (int tries = 0; !lk.owns_lock() && tries < 200; ++tries) {
        const timespec pause{0, 1000000};
        ::nanosleep(&pause, nullptr);
        lk.try_lock();
    }
    if (!lk.owns_lock()) {
        errno = EBUSY;
        return -1;
    }
    auto it = md.files.find(fd);
    if (it == md.files.end()) {
        lk.unlock();
        return ::ioctl(fd, request, arg);
    }
    if (it->second.k != kind::framebuffer) {
        errno = ENOTTY;
        return -1;
    }
    return framebuffer_ioctl(md.fb, request, arg);
}
