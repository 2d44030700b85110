// Shared test fixtures: a scratch box root, the simulated box, key presses, pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "sim/model.h"

namespace testsup {

// Fonts from Debian's fonts-dejavu packages.
std::string dejavu_sans();
std::string dejavu_condensed();

// A scratch root directory laid out like the box: var/tuxbox/Tresk/ with the
// font (unless font is empty) and an empty subtitle directory tit/. Removed on destruction.
class box_root {
  public:
    explicit box_root(const std::string& font = dejavu_sans(), bool subtitle_dir = true);
    ~box_root();
    box_root(const box_root&) = delete;
    box_root& operator=(const box_root&) = delete;

    const std::string& path() const { return path_; }
    // Host path of a box path such as "/var/tuxbox/Tresk/tit/a.tkx".
    std::string host(const std::string& box_path) const { return path_ + box_path; }
    void write(const std::string& box_path, std::string_view content) const;
    std::string read(const std::string& box_path) const;
    bool exists(const std::string& box_path) const;
    // A subtitle file in the subtitle directory.
    void write_subtitles(const std::string& name, std::string_view content) const {
        write("/var/tuxbox/Tresk/tit/" + name, content);
    }

  private:
    std::string path_;
};

// Resets the model and sets up a box over the root: a framebuffer starting in
// the given mode and `remotes` devices named "... remote control".
void setup_box(const box_root& root, sim::fb_config fb = {}, int remotes = 1);

// Opens the framebuffer and brings the display up as main does (area 40, 50, 670, 526).
// Returns fb_init's result.
int open_display();
// fb_deinit(0) and closing the descriptor.
void close_display();

// Key records on device dev, each followed by its report record as from the kernel: a
// press is a key record with value 1 followed by one with value 0.
void press(int code, int dev = 0);
void key(int code, int value, int dev = 0);

// A pixel of the mapped framebuffer at (x, y), using the driver's line length.
uint32_t pixel(int x, int y);
// A pixel of the back buffer.
uint32_t bb_pixel(int x, int y);

// Runs f with standard output and standard error captured; returns both, stdout first.
std::string capture_output(const std::function<void()>& f);

// Polls cond every millisecond until it holds or timeout_ms passes.
bool wait_until(const std::function<bool()>& cond, int timeout_ms = 5000);

}  // namespace testsup
