#include "tests/support/sim_support.h"

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace simtest {

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

uint32_t be32(const std::string& d, size_t at) {
    return uint32_t{static_cast<uint8_t>(d[at])} << 24 |
           uint32_t{static_cast<uint8_t>(d[at + 1])} << 16 |
           uint32_t{static_cast<uint8_t>(d[at + 2])} << 8 | static_cast<uint8_t>(d[at + 3]);
}

}  // namespace

scratch_dir::scratch_dir() {
    std::string templ = (fs::temp_directory_path() / "lumetra-simtest-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

scratch_dir::~scratch_dir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

process::process(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                 bool pipe_stdin) {
    // A child that dies early must not take the test down when it is written to.
    ::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string_view kv = *e;
        bool overridden = false;
        for (const std::string& x : extra_env) {
            if (kv.substr(0, kv.find('=') + 1) == std::string_view(x).substr(0, x.find('=') + 1)) {
                overridden = true;
            }
        }
        if (!overridden) env.emplace_back(kv);
    }
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> envp, args;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (std::string& a : argv_copy) args.push_back(a.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    int in_pipe[2] = {-1, -1};
    if (pipe_stdin && ::pipe2(in_pipe, O_CLOEXEC) == 0) {
        posix_spawn_file_actions_adddup2(&fa, in_pipe[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    }
    std::string out = dir_.file("out"), err = dir_.file("err");
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    pid_ = pid;
    if (in_pipe[0] >= 0) ::close(in_pipe[0]);
    stdin_fd_ = in_pipe[1];
}

process::~process() {
    close_stdin();
    if (pid_ > 0 && status_ < 0) {
        ::kill(pid_, SIGKILL);
        int st = 0;
        ::waitpid(pid_, &st, 0);
    }
}

void process::write_stdin(std::string_view text) {
    while (stdin_fd_ >= 0 && !text.empty()) {
        ssize_t n = ::write(stdin_fd_, text.data(), text.size());
        if (n <= 0) break;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

void process::close_stdin() {
    if (stdin_fd_ >= 0) ::close(stdin_fd_);
    stdin_fd_ = -1;
}

void process::signal(int sig) {
    if (pid_ > 0 && status_ < 0) ::kill(pid_, sig);
}

bool process::wait(int timeout_ms) {
    if (pid_ <= 0) return false;
    if (status_ >= 0) return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int st = 0;
        pid_t r = ::waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string process::out() const {
    return slurp(dir_.file("out"));
}
std::string process::err() const {
    return slurp(dir_.file("err"));
}

namespace {

run_result run_program(const char* binary, const std::vector<std::string>& args, int timeout_ms,
                       const std::string& stdin_text) {
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), args.begin(), args.end());
    process p(argv, {}, !stdin_text.empty());
    p.write_stdin(stdin_text);
    p.close_stdin();
    run_result r;
    if (p.wait(timeout_ms)) r.status = p.status();
    r.out = p.out();
    r.err = p.err();
    return r;
}

}  // namespace

run_result run_sim(const std::vector<std::string>& args, int timeout_ms,
                   const std::string& stdin_text) {
    return run_program(LUMETRA_SIM_BINARY, args, timeout_ms, stdin_text);
}

run_result run_convert(const std::vector<std::string>& args, int timeout_ms) {
    return run_program(LUMETRA_CONVERT_BINARY, args, timeout_ms, {});
}

bool read_png_rgba(const std::string& path, uint32_t& width, uint32_t& height,
                   std::vector<uint8_t>& rgba) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    // A file still being written fails to decode; that is a result, not a message.
    png_structp png = png_create_read_struct(
        PNG_LIBPNG_VER_STRING, nullptr, [](png_structp p, png_const_charp) { png_longjmp(p, 1); },
        [](png_structp, png_const_charp) {});
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::fclose(f);
        return false;
    }
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    // Only what the simulator writes is accepted: 8-bit RGBA, no transformations.
    if (png_get_color_type(png, info) != PNG_COLOR_TYPE_RGB_ALPHA ||
        png_get_bit_depth(png, info) != 8) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return false;
    }
    rgba.assign(size_t{width} * height * 4, 0);
    rows.resize(height);
    for (uint32_t y = 0; y < height; ++y) rows[y] = &rgba[size_t{y} * width * 4];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return true;
}

bool read_png_argb(const std::string& path, uint32_t& width, uint32_t& height,
                   std::vector<uint32_t>& argb) {
    std::vector<uint8_t> rgba;
    if (!read_png_rgba(path, width, height, rgba)) return false;
    argb.resize(size_t{width} * height);
    for (size_t i = 0; i < argb.size(); ++i) {
        argb[i] = uint32_t{rgba[4 * i + 3]} << 24 | uint32_t{rgba[4 * i]} << 16 |
                  uint32_t{rgba[4 * i + 1]} << 8 | rgba[4 * i + 2];
    }
    return true;
}

bool read_xwd(const std::string& path, screen_dump& out) {
    std::string d = slurp(path);
    if (d.size() < 100) return false;
    uint32_t header_size = be32(d, 0), version = be32(d, 4), format = be32(d, 8);
    uint32_t width = be32(d, 16), height = be32(d, 20), byte_order = be32(d, 28);
    uint32_t bits_per_pixel = be32(d, 44), bytes_per_line = be32(d, 48);
    uint32_t red_mask = be32(d, 56), green_mask = be32(d, 60), blue_mask = be32(d, 64);
    uint32_t ncolors = be32(d, 76);
    // ZPixmap, 32 bits a pixel, 8 bits a channel: what Xvfb -screen WxHx24 keeps.
    if (version != 7 || format != 2 || bits_per_pixel != 32 || red_mask != 0xff0000 ||
        green_mask != 0xff00 || blue_mask != 0xff) {
        return false;
    }
    size_t offset = size_t{header_size} + size_t{ncolors} * 12;
    if (d.size() < offset + size_t{bytes_per_line} * height) return false;
    out.width = width;
    out.height = height;
    out.rgb.resize(size_t{width} * height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            size_t at = offset + size_t{y} * bytes_per_line + size_t{x} * 4;
            auto b = [&](size_t i) { return uint32_t{static_cast<uint8_t>(d[at + i])}; };
            uint32_t v = byte_order == 0 ? b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24
                                         : b(3) | b(2) << 8 | b(1) << 16 | b(0) << 24;
            out.rgb[size_t{y} * width + x] = v & 0xffffff;
        }
    }
    return true;
}

bool have_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
    while (!rest.empty()) {
        size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    }
    return false;
}

x_server::x_server(uint32_t width, uint32_t height) {
    if (!have_program("Xvfb")) return;
    // -displayfd 1: the server picks a free display and writes its number to stdout.
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    proc_ = std::make_unique<process>(std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen",
                                                               "0", screen, "-fbdir", dir_.path(),
                                                               "-nolisten", "tcp", "-noreset"});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string out = proc_->out();
        if (out.find('\n') != std::string::npos) {
            display_ = std::atoi(out.c_str());
            break;
        }
        if (proc_->wait(0)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (display_ < 0) proc_.reset();
}

x_server::~x_server() {
    if (proc_) {
        proc_->signal(SIGTERM);
        proc_->wait(5000);
    }
}

bool x_server::screenshot(screen_dump& out) const {
    return read_xwd(dir_.file("Xvfb_screen0"), out);
}

std::string x_server::xdotool(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    process p(argv, {display_env()});
    // Generous: under a sanitizer and a full machine the X server can lag by seconds.
    if (!p.wait(60000)) return {};
    std::string out = p.out();
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

}  // namespace simtest
