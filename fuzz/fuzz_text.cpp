// UTF-8 decoding and string drawing: any bytes at any alignment, drawn on the screen
// or into the back buffer at any position, alignment, width and colour, under any
// zoom level, background level and colour scheme; and the same text split into screen
// lines as a subtitle line is, each piece drawn.
//
// Input: 20 bytes of parameters, then the text.
//   0 target (bit 0), the text's offset in its buffer (bits 1-3)
//   1..4 x, 5..8 y, 9..12 width (little-endian int32), 13 alignment (int8),
//   14 colour (int8), 15 zoom (0..7), 16 background level (0..2), 17 colour scheme (0..3),
//   18 x/y/width scaling: bit 0 keeps x, y and width as given, else they are folded
//   into the range the player's callers use; bits 1-2: the most screen lines of the
//   split, less one; 19 palette.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/text.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr size_t kHeaderSize = 20;

int32_t read_i32(const uint8_t* p) {
    uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    return static_cast<int32_t>(v);
}

// Every position of the text decodes to a length the caller can step by, and the
// decoder reads no byte past the terminator (the buffer ends there).
void check_decoding(const unsigned char* s) {
    for (size_t i = 0; s[i] != 0; ++i) {
        uint32_t code = 0xffffffff;
        int32_t length = fb_decode_utf8(s + i, &code);
        FUZZ_CHECK(length >= 1 && length <= 3);
        FUZZ_CHECK(code <= 0x1ffff);
        if (s[i] < 0x80) FUZZ_CHECK(length == 1 && code == s[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsup::make_root(true);
    fuzzsup::open_display();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderSize) return -1;
    const uint8_t target = data[0] & 1;
    const size_t offset = (data[0] >> 1) & 7;
    int32_t x = read_i32(data + 1);
    int32_t y = read_i32(data + 5);
    int32_t width = read_i32(data + 9);
    const auto align = static_cast<int32_t>(static_cast<int8_t>(data[13]));
    const auto colour = static_cast<int8_t>(data[14]);
    if ((data[18] & 1) == 0) {
        // Positions around the screen and a little beyond, widths up to two lines.
        x = static_cast<int32_t>(static_cast<uint32_t>(x) % 1000) - 100;
        y = static_cast<int32_t>(static_cast<uint32_t>(y) % 800) - 100;
        width = static_cast<int32_t>(static_cast<uint32_t>(width) % 1500) - 20;
    }
    zoom = data[15] % 8;
    background_level = data[16] % 3;
    colour_scheme = data[17] % 4;
    palette_index = static_cast<int8_t>(data[19] & 1);
    palette = palettes[static_cast<size_t>(palette_index.load())].data();
    fb_font_set_zoom();

    // The text, terminated, at the chosen offset of a buffer that ends right there.
    const size_t n = size - kHeaderSize;
    std::unique_ptr<unsigned char[]> buf(new unsigned char[offset + n + 1]);
    std::memset(buf.get(), 0xAA, offset);
    std::memcpy(buf.get() + offset, data + kHeaderSize, n);
    buf[offset + n] = 0;
    const unsigned char* s = buf.get() + offset;
    check_decoding(s);

    const char* text = reinterpret_cast<const char*>(s);
    fb_draw_string(text, target, x, y, align, width, colour);

    // The pieces follow one another through the text, each one ends where its rest
    // starts or before, and the split always moves on.
    std::array<text_piece, 4> line_pieces;
    const size_t widest = 1 + ((data[18] >> 1) & 3);
    const size_t count =
        fb_split_line(text, target, x, width, std::span(line_pieces).first(widest));
    FUZZ_CHECK(count >= 1 && count <= widest);
    const size_t length = std::strlen(text);
    size_t from = 0;
    for (size_t i = 0; i < count; ++i) {
        FUZZ_CHECK(line_pieces[i].from == from);
        FUZZ_CHECK(line_pieces[i].from <= line_pieces[i].end &&
                   line_pieces[i].end <= line_pieces[i].rest);
        FUZZ_CHECK(line_pieces[i].rest <= length);
        FUZZ_CHECK(i + 1 == count || line_pieces[i].rest > line_pieces[i].from);
        from = line_pieces[i].rest;
    }
    const int8_t row_colour = colour > 7 ? 7 : colour;
    text_colours line_colours{row_colour, row_colour};
    for (size_t i = 0; i < count; ++i) {
        const int64_t line = int64_t{y} + 30 * static_cast<int64_t>(i);
        const auto piece_y = static_cast<int32_t>(std::clamp<int64_t>(line, INT32_MIN, INT32_MAX));
        fb_draw_piece(text, line_pieces[i], target, x, piece_y, align, width, line_colours);
    }
    return 0;
}
