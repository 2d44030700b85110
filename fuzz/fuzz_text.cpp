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

constexpr size_t kHlavicka = 20;

int32_t cti32(const uint8_t* p) {
    uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    return static_cast<int32_t>(v);
}

// Every position of the text decodes to a length the caller can step by, and the
// decoder reads no byte past the terminator (the buffer ends there).
void check_decoding(const unsigned char* s) {
    for (size_t i = 0; s[i] != 0; ++i) {
        uint32_t kod = 0xffffffff;
        int32_t delka = utf2long(s + i, &kod);
        FUZZ_CHECK(delka >= 1 && delka <= 3);
        FUZZ_CHECK(kod <= 0x1ffff);
        if (s[i] < 0x80) FUZZ_CHECK(delka == 1 && kod == s[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsup::make_root(true);
    fuzzsup::open_display();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHlavicka) return -1;
    const uint8_t cil = data[0] & 1;
    const size_t posun = (data[0] >> 1) & 7;
    int32_t x = cti32(data + 1);
    int32_t y = cti32(data + 5);
    int32_t sirka = cti32(data + 9);
    const auto zarovnani = static_cast<int32_t>(static_cast<int8_t>(data[13]));
    const auto barva = static_cast<int8_t>(data[14]);
    if ((data[18] & 1) == 0) {
        // Positions around the screen and a little beyond, widths up to two lines.
        x = static_cast<int32_t>(static_cast<uint32_t>(x) % 1000) - 100;
        y = static_cast<int32_t>(static_cast<uint32_t>(y) % 800) - 100;
        sirka = static_cast<int32_t>(static_cast<uint32_t>(sirka) % 1500) - 20;
    }
    zoom = data[15] % 8;
    transp = data[16] % 3;
    barva_tit = data[17] % 4;
    paleta_idx = static_cast<int8_t>(data[19] & 1);
    paleta = palety[static_cast<size_t>(paleta_idx.load())].data();
    fb_font_nastav_zoom();

    // The text, terminated, at the chosen offset of a buffer that ends right there.
    const size_t n = size - kHlavicka;
    std::unique_ptr<unsigned char[]> buf(new unsigned char[posun + n + 1]);
    std::memset(buf.get(), 0xAA, posun);
    std::memcpy(buf.get() + posun, data + kHlavicka, n);
    buf[posun + n] = 0;
    const unsigned char* s = buf.get() + posun;
    check_decoding(s);

    const char* text = reinterpret_cast<const char*>(s);
    fb_ZobrString(text, cil, x, y, zarovnani, sirka, barva);

    // The pieces follow one another through the text, each one ends where its rest
    // starts or before, and the split always moves on.
    std::array<text_piece, 4> kusy;
    const size_t nejvic = 1 + ((data[18] >> 1) & 3);
    const size_t pocet = fb_split_line(text, cil, x, sirka, std::span(kusy).first(nejvic));
    FUZZ_CHECK(pocet >= 1 && pocet <= nejvic);
    const size_t delka = std::strlen(text);
    size_t od = 0;
    for (size_t i = 0; i < pocet; ++i) {
        FUZZ_CHECK(kusy[i].from == od);
        FUZZ_CHECK(kusy[i].from <= kusy[i].end && kusy[i].end <= kusy[i].rest);
        FUZZ_CHECK(kusy[i].rest <= delka);
        FUZZ_CHECK(i + 1 == pocet || kusy[i].rest > kusy[i].from);
        od = kusy[i].rest;
    }
    const int8_t barva_radku = barva > 7 ? 7 : barva;
    text_colours barvy{barva_radku, barva_radku};
    for (size_t i = 0; i < pocet; ++i) {
        const int64_t radek = int64_t{y} + 30 * static_cast<int64_t>(i);
        const auto y_kusu = static_cast<int32_t>(std::clamp<int64_t>(radek, INT32_MIN, INT32_MAX));
        fb_draw_piece(text, kusy[i], cil, x, y_kusu, zarovnani, sirka, barvy);
    }
    return 0;
}
