// Pictures of the simulator: the television picture behind the on-screen display,
// the framebuffer's visible area, their blend, and PNG files.
//
// A picture is a block of 32-bit ARGB words, the framebuffer's own pixel format
// (alpha 0xff opaque, 0 transparent).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/model.h"

namespace sim {

// The picture a television shows: the on-screen display covers all of it.
constexpr uint32_t kTvWidth = 720, kTvHeight = 576;

struct picture {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> argb;  // width * height words, row by row
};

// Reads a PNG file, or a JPEG file when the build has libjpeg (LUMETRA_HAVE_JPEG).
// The format is told by the file's first bytes. False with a reason in err.
bool read_picture(const std::string& path, picture& out, std::string& err);

// Writes an RGBA PNG with the exact values of p, alpha kept. False with a reason in err.
bool write_png(const std::string& path, const picture& p, std::string& err);

// A built-in test picture (colour bars, a grey ramp and a checkerboard) in which the
// transparent and half-transparent parts of the display are easy to see. Opaque.
picture test_picture(uint32_t width, uint32_t height);

// src scaled to fit width x height keeping its aspect, centred on black; opaque.
picture fit_picture(const picture& src, uint32_t width, uint32_t height);

// The visible xres x yres area of video memory whose rows are line_length bytes
// apart; pixels beyond the memory read as 0.
void copy_visible_area(std::span<const uint32_t> mem, uint32_t xres, uint32_t yres,
                       uint32_t line_length, picture& out);

// The area of video memory mem (smem_len bytes) that a driver in state st shows: the
// visible area from its x and y offsets (the page shown).
void copy_shown_area(std::span<const uint32_t> mem, const fb_state& st, picture& out);

// What a viewer of the box sees now: the visible area (xres x yres, rows line_length
// apart) of the page the driver shows, from the memory or, in manual-blit mode, from
// what the last blit put on screen; copied under the player's pixel lock. Pixels beyond
// the video memory read as 0. Empty when there is no framebuffer.
void grab_framebuffer(picture& out);

// The display blended by its alpha over the background: out gets the background's size;
// the framebuffer picture is stretched onto it (nearest pixel), as the box's video
// output would. The result is opaque.
void compose(const picture& display, const picture& background, picture& out);

}  // namespace sim
