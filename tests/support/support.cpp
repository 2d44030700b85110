#include "tests/support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "fb/screen.h"
#include "hw/device.h"

namespace fs = std::filesystem;

namespace testsup {

std::string dejavu_sans() {
    return "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
}
std::string dejavu_condensed() {
    return "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf";
}

box_root::box_root(const std::string& font, bool subtitle_dir) {
    std::string templ = (fs::temp_directory_path() / "lumetra-test-XXXXXX").string();
    char* made = ::mkdtemp(templ.data());
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = made;
    fs::create_directories(path_ + "/var/tuxbox/Tresk");
    if (subtitle_dir) fs::create_directories(path_ + "/var/tuxbox/Tresk/tit");
    if (!font.empty()) fs::copy_file(font, path_ + "/var/tuxbox/Tresk/Tresk.ttf");
}

box_root::~box_root() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void box_root::write(const std::string& box_path, std::string_view content) const {
    fs::path p = host(box_path);
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string box_root::read(const std::string& box_path) const {
    std::ifstream in(host(box_path), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool box_root::exists(const std::string& box_path) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(host(box_path), ec));
}

void setup_box(const box_root& root, sim::fb_config fb_cfg, int remotes) {
    sim::reset();
    sim::set_root(root.path());
    sim::set_framebuffer(fb_cfg);
    for (int i = 0; i < remotes; ++i) {
        sim::add_input({"dreambox remote control " + std::to_string(i)});
    }
}

int open_display() {
    fb = hw_open("/dev/fb/0", O_RDWR);
    if (fb < 0) fb = hw_open("/dev/fb0", O_RDWR);
    sx = 40;
    sy = 50;
    ex = 670;
    ey = 526;
    return fb_init();
}

void close_display() {
    fb_deinit(0);
    if (fb >= 0) hw_close(fb);
    fb = -1;
}

void key(int code, int value, int dev) {
    sim::push_key(dev, static_cast<uint16_t>(code), value);
}

void press(int code, int dev) {
    key(code, 1, dev);
    key(code, 0, dev);
}

uint32_t pixel(int x, int y) {
    // The player may be drawing on another thread (a modal screen under test);
    // every pixel write of the player holds pixel_mutex.
    std::lock_guard lock(pixel_mutex);
    auto mem = sim::fb_memory();
    uint32_t stride = sim::framebuffer().fix.line_length / 4;
    size_t i = static_cast<size_t>(y) * stride + static_cast<size_t>(x);
    EXPECT_LT(i, mem.size());
    return i < mem.size() ? mem[i] : 0xdeadbeef;
}

uint32_t bb_pixel(int x, int y) {
    std::lock_guard lock(pixel_mutex);
    size_t i = static_cast<size_t>(y) * px_per_line + static_cast<size_t>(x);
    EXPECT_LT(i * 4, static_cast<size_t>(bbuf_size));
    return i * 4 < static_cast<size_t>(bbuf_size) ? bbuf[i] : 0xdeadbeef;
}

std::string capture_output(const std::function<void()>& f) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    std::fflush(stdout);
    std::fflush(stderr);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    return out + err;
}

bool wait_until(const std::function<bool()>& cond, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace testsup
