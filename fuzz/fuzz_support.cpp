#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fb/screen.h"
#include "hw/device.h"
#include "sim/model.h"

namespace fs = std::filesystem;

namespace {

std::string g_root;

void remove_root() {
    std::error_code ec;
    if (!g_root.empty()) fs::remove_all(g_root, ec);
}

}  // namespace

namespace fuzzsup {

std::string make_root(bool font) {
    // Memory-backed when the machine has it: some targets rewrite files every input.
    std::error_code ec;
    fs::path base =
        fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string templ = (base / "lumetra-fuzz-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_root = templ;
    std::atexit(remove_root);
    fs::create_directories(g_root + "/var/tuxbox/Tresk/tit");
    if (font) fs::copy_file(kFont, g_root + "/var/tuxbox/Tresk/Tresk.ttf");
    sim::reset();
    sim::set_root(g_root);
    if (std::getenv("LUMETRA_FUZZ_VERBOSE") == nullptr) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    }
    return g_root;
}

std::string host(std::string_view box_path) {
    return g_root + std::string(box_path);
}

void write_file(std::string_view box_path, const void* data, size_t size) {
    std::ofstream out(host(box_path), std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
}

bool read_file(std::string_view box_path, std::string& out) {
    std::ifstream in(host(box_path), std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

void open_display() {
    sim::fb_config cfg;
    cfg.xres = 720;
    cfg.yres = 576;
    sim::set_framebuffer(cfg);
    sim::add_input({"fuzz remote control"});
    fb = hw_open("/dev/fb/0", O_RDWR);
    sx = 40;
    sy = 50;
    ex = 670;
    ey = 526;
    if (fb < 0 || fb_init() != 1) {
        std::fprintf(stderr, "fuzz: the display did not come up\n");
        std::abort();
    }
}

}  // namespace fuzzsup

namespace fuzzsup {

void check_failed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz: check failed: %s at %s:%d\n", what, file, line);
    std::abort();
}

}  // namespace fuzzsup
