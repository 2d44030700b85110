// String drawing: UTF-8 decoding, measuring, alignment, right limit, inline
// colour codes (0x0B, 0x0C) and symbol pictures, background boxes in the back buffer;
// the breaking of a subtitle line too wide for its field into screen lines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Background box colour per background level (background_level): none, entry 11, entry 0.
extern const std::array<uint8_t, 3> background_colours;

// Decodes one character at s into code; returns its length in bytes (1, 2 or 3).
// Never reads a byte after a NUL byte.
int32_t fb_decode_utf8(const unsigned char* s, uint32_t* code);
// Draws text at (x, baseline y) in the target; returns the pen position after the last glyph.
int32_t fb_draw_string(const char* text, uint8_t target, int32_t x, int32_t y, int32_t align,
                       int32_t width, int8_t colour);

// The part of a string that one screen line shows, as the measuring pass found it.
struct text_piece {
    size_t from = 0;      // first byte
    size_t end = 0;       // the drawing stops before this byte
    size_t rest = 0;      // first byte of the next screen line's part; the length when none
    int32_t advance = 0;  // pen advance of the bytes drawn
    int32_t reach = 0;    // furthest point the fit test reached (a left-kerned last glyph)
};

// The colour state of a string being drawn: the colour now, and the one 0x0C goes
// back to. The parts of one line carry it from each to the next.
struct text_colours {
    int8_t current;
    int8_t saved;
};

// Splits text into screen lines of at most width pixels at x on the target, at most
// pieces.size() of them; returns how many (at least 1 when pieces is not empty). A line
// that fits is one piece, measured once. One that does not is broken at its last space
// that fits; a word wider than the field is clipped and the text goes on after it; the
// last piece allowed is clipped at the field's edge.
size_t fb_split_line(const char* text, uint8_t target, int32_t x, int32_t width,
                     std::span<text_piece> pieces);
// Draws a piece of text as fb_draw_string draws a whole string, starting in colours and
// leaving in them the state after the piece. Returns the pen position after the last glyph.
int32_t fb_draw_piece(const char* text, const text_piece& piece, uint8_t target, int32_t x,
                      int32_t y, int32_t align, int32_t width, text_colours& colours);
