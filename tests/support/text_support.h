// Fixtures for the text tests: the display brought up through fb_init over a box
// with DejaVu Sans, copies of the two buffers, and a FreeType face of the tests'
// own that tells what the font engine should produce (metrics, bitmaps, kerning).
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/support.h"

namespace testsup {

// The dim palette, typed in here so that the tests do not read it from the code.
constexpr uint32_t kDim[12] = {0xff000000, 0xffa80000, 0xff00a800, 0xffa8a800,
                               0xff0000a8, 0xffa800a8, 0xff00a8a8, 0xffa8a8a8,
                               0x00000000, 0xff002040, 0x30001020, 0xb0666666};

// A 720 x 576 box whose display is up (zoom 1, transparency 1, palette 0, scheme 0,
// both buffers clear). ok() tells whether fb_init succeeded.
class text_display {
  public:
    explicit text_display(const std::string& font = dejavu_sans());
    ~text_display();
    text_display(const text_display&) = delete;
    text_display& operator=(const text_display&) = delete;

    bool ok() const { return ok_; }
    const box_root& root() const { return root_; }
    // Both buffers back to zero; the previous glyphs forgotten.
    void clear();
    std::vector<uint32_t> screen() const;
    std::vector<uint32_t> back() const;
    // Pixel of the screen / back buffer at (x, y).
    uint32_t& px(int x, int y);
    uint32_t& bb(int x, int y);

  private:
    box_root root_;
    bool ok_ = false;
};

// A glyph as FreeType renders it on its own: 1 bit per pixel, hinted for mono.
struct ref_glyph {
    int width = 0, rows = 0, left = 0, top = 0, advance = 0;
    std::vector<uint8_t> bits;  // rows x width, 1 = set
    uint32_t index = 0;
    bool set(int i, int j) const { return bits[static_cast<size_t>(i * width + j)] != 0; }
};

class ref_face {
  public:
    explicit ref_face(const std::string& font = dejavu_sans());
    ~ref_face();
    ref_face(const ref_face&) = delete;
    ref_face& operator=(const ref_face&) = delete;

    FT_Face face() const { return face_; }
    // Pixel width and height, as the image types carry them.
    void size(int width, int height);
    ref_glyph glyph(uint32_t code);
    // Whole-pixel kerning of the pair at the current size, as the engine computes it.
    int kerning(uint32_t left, uint32_t right);

  private:
    FT_Library lib_ = nullptr;
    FT_Face face_ = nullptr;
};

// The font engine's fit test, worked out with the reference face at its current size,
// for text in UTF-8 without control codes: a glyph fits while its pen before its own
// kerning plus its advance stays short of the field's width.
// The narrowest field that takes the whole text.
int fit_width(ref_face& face, std::string_view text);
// The byte of the first glyph that does not fit in a field `width` pixels wide; the
// length when all fits.
size_t fit_end(ref_face& face, std::string_view text, int width);
// The text in screen lines of such a field, each ending before the last run of spaces
// that starts where its text still fits, the runs dropped. Empty when a word alone is
// too wide.
std::vector<std::string_view> break_at_spaces(ref_face& face, std::string_view text, int width);

}  // namespace testsup
