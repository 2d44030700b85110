// UTF-8 decoding and string drawing: any bytes at any alignment, drawn on the screen
// or into the back buffer at any position, alignment, width and colour, under any
// zoom level, background level and colour scheme.
//
// Input: 20 bytes of parameters, then the text.
//   0 target (bit 0), the text's offset in its buffer (bits 1-3)
//   1..4 x, 5..8 y, 9..12 width (little-endian int32), 13 alignment (int8),
//   14 colour (int8), 15 zoom (0..7), 16 background level (0..2), 17 colour scheme (0..3),
//   18 x/y/width scaling: bit 0 keeps x, y and width as given, else they are folded
//   into the range the player's callers use; 19 palette.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

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

    fb_ZobrString(reinterpret_cast<const char*>(s), cil, x, y, zarovnani, sirka, barva);
    return 0;
}
