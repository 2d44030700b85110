#include "tests/support/text_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "tmr/clock.h"

namespace testsup {

text_display::text_display(const std::string& font) : root_(font) {
    setup_box(root_, sim::fb_config{.xres = 720, .yres = 576});
    zoom = 1;
    background_level = 1;
    colour_scheme = 0;
    palette_index = 0;
    palette = palettes[0].data();
    clock_running = 0;
    ok_ = open_display() == 1;
    if (ok_) clear();
}

text_display::~text_display() {
    close_display();
}

void text_display::clear() {
    auto mem = sim::fb_memory();
    std::fill(mem.begin(), mem.end(), 0u);
    std::fill_n(bbuf.get(), static_cast<size_t>(bbuf_size) / 4, 0u);
    last_glyph_fb = 0;
    last_glyph_bb = 0;
}

std::vector<uint32_t> text_display::screen() const {
    auto mem = sim::fb_memory();
    return {mem.begin(), mem.end()};
}

std::vector<uint32_t> text_display::back() const {
    return {bbuf.get(), bbuf.get() + bbuf_size / 4};
}

uint32_t& text_display::px(int x, int y) {
    auto mem = sim::fb_memory();
    size_t i = static_cast<size_t>(y) * px_per_line + static_cast<size_t>(x);
    if (x < 0 || y < 0 || x >= static_cast<int>(px_per_line) || i >= mem.size()) {
        throw std::out_of_range("px");
    }
    return mem[i];
}

uint32_t& text_display::bb(int x, int y) {
    size_t i = static_cast<size_t>(y) * px_per_line + static_cast<size_t>(x);
    if (x < 0 || y < 0 || x >= static_cast<int>(px_per_line) ||
        i >= static_cast<size_t>(bbuf_size) / 4) {
        throw std::out_of_range("bb");
    }
    return bbuf[i];
}

ref_face::ref_face(const std::string& font) {
    if (FT_Init_FreeType(&lib_) != 0) throw std::runtime_error("FT_Init_FreeType");
    if (FT_New_Face(lib_, font.c_str(), 0, &face_) != 0) throw std::runtime_error("FT_New_Face");
}

ref_face::~ref_face() {
    FT_Done_Face(face_);
    FT_Done_FreeType(lib_);
}

void ref_face::size(int width, int height) {
    FT_Set_Pixel_Sizes(face_, static_cast<FT_UInt>(width), static_cast<FT_UInt>(height));
}

ref_glyph ref_face::glyph(uint32_t code) {
    ref_glyph g;
    g.index = FT_Get_Char_Index(face_, code);
    if (g.index == 0) return g;
    if (FT_Load_Glyph(face_, g.index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) {
        throw std::runtime_error("FT_Load_Glyph");
    }
    FT_GlyphSlot s = face_->glyph;
    g.width = static_cast<int>(s->bitmap.width);
    g.rows = static_cast<int>(s->bitmap.rows);
    g.left = s->bitmap_left;
    g.top = s->bitmap_top;
    g.advance = static_cast<int>((s->advance.x + 32) >> 6);
    g.bits.assign(static_cast<size_t>(g.width * g.rows), 0);
    for (int i = 0; i < g.rows; ++i) {
        const uint8_t* r = s->bitmap.buffer + i * s->bitmap.pitch;
        for (int j = 0; j < g.width; ++j) {
            g.bits[static_cast<size_t>(i * g.width + j)] = (r[j / 8] >> (7 - j % 8)) & 1;
        }
    }
    return g;
}

int ref_face::kerning(uint32_t left, uint32_t right) {
    FT_Vector v{0, 0};
    FT_Get_Kerning(face_, FT_Get_Char_Index(face_, left), FT_Get_Char_Index(face_, right),
                   FT_KERNING_DEFAULT, &v);
    return static_cast<int>(v.x >> 6);
}

namespace {

// Calls f(byte, pen before kerning + advance) for each glyph of text until f returns false.
template <typename F>
void each_glyph(ref_face& face, std::string_view text, F f) {
    int pen = 0;
    uint32_t prev = 0;
    for (size_t i = 0; i < text.size();) {
        uint32_t c = static_cast<uint8_t>(text[i]);
        size_t len = 1;
        if (c >= 0xC0 && i + 1 < text.size()) {
            c = ((c & 0x1F) << 6) | (static_cast<uint8_t>(text[i + 1]) & 0x3F);
            len = 2;
        }
        const int advance = face.glyph(c).advance;
        if (!f(i, pen + advance)) return;
        pen += advance + face.kerning(prev, c);
        prev = c;
        i += len;
    }
}

}  // namespace

int fit_width(ref_face& face, std::string_view text) {
    int width = 0;
    each_glyph(face, text, [&](size_t, int reach) {
        width = std::max(width, reach + 1);
        return true;
    });
    return width;
}

size_t fit_end(ref_face& face, std::string_view text, int width) {
    size_t end = text.size();
    each_glyph(face, text, [&](size_t i, int reach) {
        if (reach < width) return true;
        end = i;
        return false;
    });
    return end;
}

std::vector<std::string_view> break_at_spaces(ref_face& face, std::string_view text, int width) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = fit_end(face, text, width);
        if (end == text.size()) {
            lines.push_back(text);
            break;
        }
        size_t space = text.rfind(' ', end);
        while (space != std::string_view::npos && space > 0 && text[space - 1] == ' ') --space;
        if (space == std::string_view::npos || space == 0) return {};
        lines.push_back(text.substr(0, space));
        text.remove_prefix(std::min(text.size(), text.find_first_not_of(' ', space)));
    }
    return lines;
}

}  // namespace testsup
