// Snapshots of the simulated framebuffer and of the television picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/model.h"
#include "sim/picture.h"

namespace sim {

// True for names ending in ".png" (any case).
bool is_png_name(std::string_view path);

// Writes the framebuffer as it is now: a ".png" name gets an RGBA PNG of the visible
// xres x yres area (rows line_length apart, exact ARGB values, alpha kept); any other
// name gets the raw video memory, smem_len bytes of native 32-bit words. The memory is
// copied under the player's pixel lock. False with a reason in err.
bool write_snapshot(const std::string& path, std::string& err);

// The same from a copy of the video memory the caller made (bytes long, at most
// smem_len are used), such as the one taken as the player's shut-down clears the screen;
// a picture is of the area a driver in state st shows.
bool write_snapshot_of(const std::string& path, const void* mem, size_t bytes, const fb_state& st,
                       std::string& err);

// Writes the television picture now, the framebuffer blended over the background
// (see compose), as a PNG. False with a reason in err.
bool write_composed(const std::string& path, const picture& background, std::string& err);

}  // namespace sim
