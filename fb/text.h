// String drawing: UTF-8 decoding, measuring, alignment, right limit, inline
// colour codes (0x0B, 0x0C) and symbol pictures, background boxes in the back buffer.
#pragma once

#include <array>
#include <cstdint>

// Background box colour per background level (background_level): none, entry 11, entry 0.
extern const std::array<uint8_t, 3> background_colours;

// Decodes one character at s into code; returns its length in bytes (1, 2 or 3).
// Never reads a byte after a NUL byte.
int32_t fb_decode_utf8(const unsigned char* s, uint32_t* code);
// Draws text at (x, baseline y) in the target; returns the pen position after the last glyph.
int32_t fb_draw_string(const char* text, uint8_t target, int32_t x, int32_t y, int32_t align,
                       int32_t width, int8_t colour);
