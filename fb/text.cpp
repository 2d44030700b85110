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
    const size_t n = std::strlen(text);
    if (colour > 7) colour = 7;
    const bool do_bb = target == 1;
    relaxed<uint32_t>& last_glyph = do_bb ? last_glyph_bb : last_glyph_fb;
    // This string's own previous glyph: kerning never reaches across strings, nor
    // into text the other thread is drawing at the same time.
    uint32_t previous = 0;
    last_glyph = 0;

    // Measuring pass. m is the pen advance; reach the furthest point the fit test
    // reached (pen before kerning + advance), which lies beyond m when the last
    // glyph kerns to the left; measured_end the byte at which the pass stopped.
    int64_t m = 0;
    int64_t reach = 0;
    const int32_t limit = to_int32(static_cast<int64_t>(x) + width);
    size_t measured_end = n;
    for (size_t i = 0; i < n;) {
        uint32_t code = 0;
        const size_t length = static_cast<size_t>(fb_decode_utf8(s + i, &code));
        if (length > n - i) {
            i += 1;
            continue;
        }
        if (code >= 0x20) {
            int32_t advance = kNoGlyph;
            const int32_t r =
                fb_draw_char_after(target, code, to_int32(x + m), 0, limit, -1, previous, &advance);
            if (r == -1) {
                measured_end = i;
                break;
            }
            if (advance != kNoGlyph) reach = std::max(reach, m + advance);
            m += r;
        } else if (code == kColourCode) {
            i += 1;  // the argument byte
        } else if (code != 0 && code != kColourBack) {
            m += fb_draw_symbol(target, static_cast<uint8_t>(code), to_int32(x + m), 0, limit, -1);
            previous = 0;
            last_glyph = 0;
        }
        i += length;
    }

    if (align == 1 && m < width) x = to_int32(x + (width - m) / 2);
    if (align == 2 && m < width) x = to_int32(x + (width - m));

    // The right limit of the drawing pass. The fit test leaves kerning out, so a last
    // glyph kerned to the left reaches past the pen x + m; the limit lies just past
    // everything the measuring pass accepted, so that the drawing pass draws exactly
    // the glyphs measured. ex cuts when the text as measured reaches it.
    const int32_t edge = ex;
    int32_t end = to_int32(x + m + 1);
    end = end > edge ? edge : to_int32(x + std::max(m, reach) + 1);

    if (do_bb) {
        last_glyph_bb = 0;
        const int32_t t = background_level;
        const int32_t z = zoom;
        if (t >= 1 && t <= 2 && z >= 0 && z <= 7) {
            const int32_t h = font_sizes[z][0];
            fb_fill(1, x, to_int32(static_cast<int64_t>(y) - h + 1),
                    to_int32(static_cast<int64_t>(end) - x), line_heights[z] - 3,
                    background_colours[t]);
        }
    } else {
        last_glyph_fb = 0;
    }
    previous = 0;

    // Drawing pass.
    int8_t current = colour;
    int8_t saved = colour;
    for (size_t i = 0; i < measured_end;) {
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

int8_t code_colour(uint8_t target, uint8_t argument) {
    if (target != 0) {
        const int32_t schema = colour_scheme & 3;
        return static_cast<int8_t>(colour_schemes[static_cast<size_t>(schema)][argument & 3]);
    }
    if (argument >= 1 && argument <= 8) return static_cast<int8_t>(argument - 1);
    return kFallbackColour;
}

}  // namespace
