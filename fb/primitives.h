// Filled rectangles, framed boxes and the two 12-colour palettes.
#pragma once

#include <array>
#include <cstdint>

#include "app/relaxed.h"

// Two palettes of 12 ARGB words: 0 dim, 1 bright.
extern const std::array<std::array<uint32_t, 12>, 2> palety;
// The current palette (points into palety). Written by the main thread, read by both.
extern relaxed<const uint32_t*> paleta;
// Index of the current palette, 0 or 1; stored in the settings.
extern relaxed<int8_t> paleta_idx;

// Fill columns x..x+sirka (inclusive) and rows y..y+vyska-1 with paleta[barva];
// cil 0 the screen, anything else the back buffer. Clipped to the target buffer.
void fb_vypln(uint8_t cil, int x, int y, int sirka, int vyska, int barva);
// A framed box on the screen at (sx + x, sy + y) in style 0, 1 or 2.
void fb_box(int x, int y, int vyska, int sirka, int styl, int8_t vypln, int8_t ramecek);
// GREEN: switch to the other palette and redraw the status icons.
void fb_zmen_paletu();
