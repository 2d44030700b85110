// Test helpers for the simulator front end: running the lumetra-sim binary, an
// independent PNG decoder, and an X server (Xvfb) with readable screen contents.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace simtest {

// A scratch directory, removed on destruction.
class scratch_dir {
  public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A child process; its standard output and error go to files, its standard input is
// a pipe when asked for. Killed (SIGKILL) on destruction if still running.
class process {
  public:
    process(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env = {},
            bool pipe_stdin = false);
    ~process();
    process(const process&) = delete;
    process& operator=(const process&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void write_stdin(std::string_view text);
    void close_stdin();
    void signal(int sig);
    // Waits until the process ends or timeout_ms pass; true when it ended.
    bool wait(int timeout_ms);
    // Exit status, or 128 + signal number; -1 while running.
    int status() const { return status_; }
    std::string out() const;
    std::string err() const;

  private:
    scratch_dir dir_;
    pid_t pid_ = -1;
    int stdin_fd_ = -1;
    int status_ = -1;
};

struct run_result {
    int status = -1;  // -1: did not end within the time allowed
    std::string out, err;
};

// Runs lumetra-sim with args (and text on its standard input, if any), allowing
// timeout_ms before it is killed.
run_result run_sim(const std::vector<std::string>& args, int timeout_ms = 60000,
                   const std::string& stdin_text = {});
// Runs lumetra-convert with args, allowing timeout_ms before it is killed.
run_result run_convert(const std::vector<std::string>& args, int timeout_ms = 60000);

// Decodes a PNG with libpng's row reader into RGBA bytes; false if it isn't one.
bool read_png_rgba(const std::string& path, uint32_t& width, uint32_t& height,
                   std::vector<uint8_t>& rgba);
// The same, as 0xAARRGGBB words.
bool read_png_argb(const std::string& path, uint32_t& width, uint32_t& height,
                   std::vector<uint32_t>& argb);

// A screen dump in the X Window Dump format, as Xvfb keeps its screen with -fbdir.
struct screen_dump {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> rgb;  // 0x00RRGGBB
    // The pixel at (x, y); 0xff000000 (no colour) outside the screen.
    uint32_t at(int64_t x, int64_t y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0xff000000;
        return rgb[size_t(y) * width + size_t(x)];
    }
};
bool read_xwd(const std::string& path, screen_dump& out);

// True when a program of that name is on the PATH.
bool have_program(const std::string& name);

// A private X server (Xvfb) whose screen can be read at any time.
class x_server {
  public:
    x_server(uint32_t width, uint32_t height);
    ~x_server();
    bool running() const { return display_ >= 0 && proc_ != nullptr; }
    // "DISPLAY=:N", for a child's environment.
    std::string display_env() const { return "DISPLAY=:" + std::to_string(display_); }
    bool screenshot(screen_dump& out) const;
    // Runs xdotool with args on this display; returns its standard output, trimmed.
    std::string xdotool(const std::vector<std::string>& args) const;

  private:
    scratch_dir dir_;
    int display_ = -1;
    std::unique_ptr<process> proc_;
};

}  // namespace simtest
