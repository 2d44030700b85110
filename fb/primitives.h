// Filled rectangles, framed boxes and the two 12-colour palettes.
#pragma once

#include <array>
#include <cstdint>

#include "app/relaxed.h"

// Two palettes of 12 ARGB words: 0 dim, 1 bright.
extern const std::array<std::array<uint32_t, 12>, 2> palettes;
// The current palette (points into palettes). Written by the main thread, read by both.
extern relaxed<const uint32_t*> palette;
// Index of the current palette, 0 or 1; stored in the settings.
extern relaxed<int8_t> palette_index;

// Fill columns x..x+width (inclusive) and rows y..y+height-1 with palette[colour];
// target 0 the screen, anything else the back buffer. Clipped to the target buffer.
void fb_fill(uint8_t target, int x, int y, int width, int height, int colour);
// A framed box on the screen at (sx + x, sy + y) in style 0, 1 or 2.
void fb_box(int x, int y, int height, int width, int style, int8_t fill, int8_t frame_colour);
// GREEN: switch to the other palette and redraw the status icons.
void fb_next_palette();
