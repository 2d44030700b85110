// String drawing: UTF-8 decoding, measuring, alignment, right limit, inline
// colour codes (0x0B, 0x0C) and symbol pictures, background boxes in the back buffer.
#pragma once

#include <array>
#include <cstdint>

// Background box colour per background level (transp): none, entry 11, entry 0.
extern const std::array<uint8_t, 3> barvy_pozadi;

// Decodes one character at s into kod; returns its length in bytes (1, 2 or 3).
// Never reads a byte after a NUL byte.
int32_t utf2long(const unsigned char* s, uint32_t* kod);
// Draws text at (x, baseline y) in the target; returns the pen position after the last glyph.
int32_t fb_ZobrString(const char* text, uint8_t cil, int32_t x, int32_t y, int32_t zarovnani,
                      int32_t sirka, int8_t barva);
