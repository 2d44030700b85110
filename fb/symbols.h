// The built-in symbol font: 22 pictures of 16 x 21 pixels (buttons, arrows, signs).
#pragma once

#include <array>
#include <cstdint>

// 22 pictures x 21 rows x 2 bytes; the most significant bit of each byte is its leftmost pixel.
extern const std::array<uint8_t, 22 * 42> symbol_font;

// Draws the picture of control code ch with its top-left pixel at (x, y); colour -1 measures.
// Returns 16 for a code with a picture, 0 otherwise.
int32_t fb_draw_symbol(uint8_t target, uint8_t ch, int32_t x, int32_t y, int32_t limit,
                       int8_t colour);
