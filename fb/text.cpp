// String drawing: UTF-8 decoding, the measuring pass, alignment, the right limit,
// the background box of subtitle lines, inline colour codes and symbol pictures.
#include "fb/text.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/symbols.h"

namespace {

constexpr uint32_t kColourCode = 0x0B;  // colour change; the next byte is its argument
constexpr uint32_t kColourBack = 0x0C;  // back to the colour before the last change
// Symbol pictures stand on the baseline: their 21 rows end just above it.
constexpr int32_t kSymbolHeight = 21;
// Colour of a screen colour code whose argument is not 1..8.
constexpr int8_t kFallbackColour = 6;
// Advance of a character the font has no glyph for.
constexpr int32_t kNoGlyph = std::numeric_limits<int32_t>::min();

}  // namespace

const std::array<uint8_t, 3> background_colours{8, 11, 0};

namespace {

int32_t to_int32(int64_t v);
int8_t code_colour(uint8_t target, uint8_t argument);
text_piece measure(const unsigned char* s, size_t n, size_t from, uint8_t target, int32_t x,
                   int32_t width, bool breaking);
size_t after_spaces(const unsigned char* s, size_t n, size_t i);
size_t after_next_space(const unsigned char* s, size_t n, size_t i);

}  // namespace

int32_t fb_decode_utf8(const unsigned char* s, uint32_t* code) {
    const uint32_t b0 = s[0];
    if (b0 < 0x80) {
        *code = b0;
        return 1;
    }
    // b0 is not the terminator, so s[1] is still part of the string (at worst its NUL).
    const uint32_t b1 = s[1];
    if (b0 < 0xE0) {
        *code = ((b0 & 0x1F) << 6) | (b1 & 0x3F);
        return 2;
    }
    // A sequence cut off by the terminator: its length exceeds the bytes left, and the
    // caller skips the lead byte; the byte after the NUL is not read.
    const uint32_t b2 = b1 != 0 ? s[2] : 0;
    *code = ((b0 & 0x1F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
    return 3;
}

int32_t fb_draw_string(const char* text, uint8_t target, int32_t x, int32_t y, int32_t align,
                       int32_t width, int8_t colour) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    if (colour > 7) colour = 7;
    const text_piece piece = measure(s, std::strlen(text), 0, target, x, width, false);
    text_colours colours{colour, colour};
    return fb_draw_piece(text, piece, target, x, y, align, width, colours);
}

size_t fb_split_line(const char* text, uint8_t target, int32_t x, int32_t width,
                     std::span<text_piece> pieces) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const size_t n = std::strlen(text);
    size_t count = 0;
    size_t from = 0;
    while (count < pieces.size()) {
        const bool last = count + 1 == pieces.size();
        const text_piece piece = measure(s, n, from, target, x, width, !last);
        // A rest of colour codes alone shows nothing: no empty box for it.
        if (count > 0 && piece.advance == 0 && piece.reach == 0) break;
        pieces[count++] = piece;
        if (piece.rest >= n) break;
        from = piece.rest;
    }
    return count;
}

int32_t fb_draw_piece(const char* text, const text_piece& piece, uint8_t target, int32_t x,
                      int32_t y, int32_t align, int32_t width, text_colours& colours) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const bool do_bb = target == 1;
    relaxed<uint32_t>& last_glyph = do_bb ? last_glyph_bb : last_glyph_fb;
    const int64_t m = piece.advance;
    const int64_t reach = piece.reach;

    if (align == 1 && m < width) x = to_int32(x + (width - m) / 2);
    if (align == 2 && m < width) x = to_int32(x + (width - m));

    // The right limit of the drawing pass. The fit test leaves kerning out, so a last
    // glyph kerned to the left reaches past the pen x + m; the limit lies just past
    // everything the measuring pass accepted, so that the drawing pass draws exactly
    // the glyphs measured. ex cuts when the text as measured reaches it.
    const int32_t edge = ex;
    int32_t end = to_int32(x + m + 1);
    end = end > edge ? edge : to_int32(x + std::max(m, reach) + 1);

    last_glyph = 0;
    if (do_bb) {
        const int32_t t = background_level;
        const int32_t z = bb_zoom;
        if (t >= 1 && t <= 2 && z >= 0 && z <= 7) {
            const int32_t h = font_sizes[z][0];
            fb_fill(1, x, to_int32(static_cast<int64_t>(y) - h + 1),
                    to_int32(static_cast<int64_t>(end) - x), line_heights[z] - 3,
                    background_colours[t]);
        }
    }
    uint32_t previous = 0;

    // Drawing pass. The piece ends on a character boundary of the measuring pass, so
    // its end serves as the string's end for the sequence test.
    const size_t n = piece.end;
    int8_t& current = colours.current;
    int8_t& saved = colours.saved;
    for (size_t i = piece.from; i < n;) {
        uint32_t code = 0;
        const size_t length = static_cast<size_t>(fb_decode_utf8(s + i, &code));
        if (length > n - i) {
            i += 1;
            continue;
        }
        if (code >= 0x20) {
            const int32_t r = fb_draw_char_after(target, code, x, y, end, current, previous);
            if (r == -1) break;
            x = to_int32(static_cast<int64_t>(x) + r);
        } else if (code == kColourBack) {
            current = saved;
        } else if (code == kColourCode) {
            // The argument is the next byte; at the end of the string it is the terminator.
            const int8_t chosen = code_colour(target, s[i + 1]);
            saved = current;
            current = chosen;
            i += 1;
        } else if (code != 0) {
            const int32_t r =
                fb_draw_symbol(target, static_cast<uint8_t>(code), x,
                               to_int32(static_cast<int64_t>(y) - kSymbolHeight), end, current);
            x = to_int32(static_cast<int64_t>(x) + r);
            previous = 0;
            last_glyph = 0;
        }
        i += length;
    }
    return x;
}

namespace {

int32_t to_int32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// The measuring pass over s[from, n) at x with width pixels of room. m is the pen
// advance; reach the furthest point the fit test reached (pen before kerning +
// advance), which lies beyond m when the last glyph kerns to the left. It stops at
// the first glyph that does not fit. With breaking, a text that does not fit ends
// before the last space at which everything before it fit, or, when a word alone
// is too wide, is clipped there and goes on after the next space.
text_piece measure(const unsigned char* s, size_t n, size_t from, uint8_t target, int32_t x,
                   int32_t width, bool breaking) {
    relaxed<uint32_t>& last_glyph = target == 1 ? last_glyph_bb : last_glyph_fb;
    // This string's own previous glyph: kerning never reaches across strings, nor
    // into text the other thread is drawing at the same time.
    uint32_t previous = 0;
    last_glyph = 0;

    int64_t m = 0;
    int64_t reach = 0;
    const int32_t limit = to_int32(static_cast<int64_t>(x) + width);
    size_t measured_end = n;
    // The last place to break: the first space of a run that follows something shown.
    size_t break_at = n;
    int64_t break_advance = 0;
    int64_t break_reach = 0;
    bool any_glyph = false;
    bool after_space = false;
    for (size_t i = from; i < n;) {
        uint32_t code = 0;
        const size_t length = static_cast<size_t>(fb_decode_utf8(s + i, &code));
        if (length > n - i) {
            i += 1;
            continue;
        }
        if (code >= 0x20) {
            if (code == ' ' && breaking && any_glyph && !after_space) {
                break_at = i;
                break_advance = m;
                break_reach = reach;
            }
            int32_t advance = kNoGlyph;
            const int32_t r =
                fb_draw_char_after(target, code, to_int32(x + m), 0, limit, -1, previous, &advance);
            if (r == -1) {
                measured_end = i;
                break;
            }
            if (advance != kNoGlyph) reach = std::max(reach, m + advance);
            m += r;
            after_space = code == ' ';
            any_glyph = any_glyph || !after_space;
        } else if (code == kColourCode) {
            i += 1;  // the argument byte
        } else if (code != 0 && code != kColourBack) {
            const int32_t r =
                fb_draw_symbol(target, static_cast<uint8_t>(code), to_int32(x + m), 0, limit, -1);
            m += r;
            previous = 0;
            last_glyph = 0;
            any_glyph = any_glyph || r != 0;
            after_space = false;
        }
        i += length;
    }

    text_piece piece{from, measured_end, n, to_int32(m), to_int32(reach)};
    if (measured_end == n || !breaking) return piece;
    if (break_at < n) {
        piece.end = break_at;
        piece.rest = after_spaces(s, n, break_at);
        piece.advance = to_int32(break_advance);
        piece.reach = to_int32(break_reach);
    } else {
        piece.rest = after_next_space(s, n, measured_end);
    }
    return piece;
}

// The first byte after the run of spaces at i.
size_t after_spaces(const unsigned char* s, size_t n, size_t i) {
    while (i < n && s[i] == ' ') ++i;
    return i;
}

// The first byte after the next run of spaces from character i on; n when there is none.
// Colour arguments are skipped: an argument byte 0x20 is no space.
size_t after_next_space(const unsigned char* s, size_t n, size_t i) {
    while (i < n) {
        if (s[i] == ' ') return after_spaces(s, n, i);
        if (s[i] == kColourCode) ++i;
        ++i;
    }
    return n;
}

int8_t code_colour(uint8_t target, uint8_t argument) {
    if (target != 0) {
        const int32_t schema = colour_scheme & 3;
        return static_cast<int8_t>(colour_schemes[static_cast<size_t>(schema)][argument & 3]);
    }
    if (argument >= 1 && argument <= 8) return static_cast<int8_t>(argument - 1);
    return kFallbackColour;
}

}  // namespace
