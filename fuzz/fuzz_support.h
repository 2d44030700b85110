// Shared set-up of the fuzz targets: a scratch box root, the simulated box over it,
// and the display brought up as the player's start-up does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fuzzsup {

// The font every target that draws uses (Debian's fonts-dejavu-core).
inline constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Makes a scratch root laid out like the box (var/tuxbox/Tresk/tit/, the font when
// asked), points the model at it, and removes it when the process exits. Standard
// output (the player's diagnostics) goes to /dev/null unless LUMETRA_FUZZ_VERBOSE is set.
std::string make_root(bool font);
// Host path of a box path under the root made last.
std::string host(std::string_view box_path);
void write_file(std::string_view box_path, const void* data, size_t size);
bool read_file(std::string_view box_path, std::string& out);

// A 720 x 576 framebuffer and one remote control; opens the framebuffer and runs
// fb_init as main does. Aborts when the display cannot be brought up.
void open_display();

}  // namespace fuzzsup

// An invariant of the code under test; a failure is a finding, reported like a crash.
#define FUZZ_CHECK(cond)                                               \
    do {                                                               \
        if (!(cond)) fuzzsup::check_failed(#cond, __FILE__, __LINE__); \
    } while (0)

namespace fuzzsup {
[[noreturn]] void check_failed(const char* what, const char* file, int line);
}  // namespace fuzzsup
