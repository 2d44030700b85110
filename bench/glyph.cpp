// Glyph drawing figures: the 5 x 5 outline as drawn (row masks spread by two
// pixels) against the rule taken literally (25 reads per set pixel), and whole
// subtitle lines through the string drawer with an outline or a background box.
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/text.h"
#include "sim/model.h"

namespace {

constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kLine = "Waar ga je naartoe, Tom? Vertel!";
constexpr int kStride = 720;

struct glyph {
    std::vector<uint8_t> data;
    fb_bitmap b{};
    int left = 0, top = 0, advance = 0;
};

// The line's glyphs at zoom 3 (26 x 32), rendered by FreeType on its own.
std::vector<glyph> line_glyphs() {
    FT_Library lib;
    FT_Face face;
    FT_Init_FreeType(&lib);
    FT_New_Face(lib, kFont, 0, &face);
    FT_Set_Pixel_Sizes(face, 26, 32);
    std::vector<glyph> out;
    for (const char* p = kLine; *p != 0; ++p) {
        FT_Load_Char(face, static_cast<unsigned char>(*p), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO);
        FT_Bitmap& bm = face->glyph->bitmap;
        glyph g;
        g.data.assign(bm.buffer, bm.buffer + bm.rows * static_cast<unsigned>(bm.pitch));
        g.b = {nullptr,
               static_cast<int32_t>(bm.width),
               static_cast<int32_t>(bm.rows),
               bm.pitch,
               FT_PIXEL_MODE_MONO,
               1};
        g.left = face->glyph->bitmap_left;
        g.top = face->glyph->bitmap_top;
        g.advance = static_cast<int>(face->glyph->advance.x >> 6);
        out.push_back(std::move(g));
    }
    for (glyph& g : out) g.b.data = g.data.data();
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return out;
}

void literal(std::vector<uint32_t>& buf, const fb_bitmap& b, int x, int y, uint32_t p, uint32_t o) {
    const int rows = static_cast<int>(buf.size()) / kStride;
    for (int i = 0; i < b.height; ++i) {
        for (int j = 0; j < b.width; ++j) {
            if (((b.data[i * b.pitch + j / 8] >> (7 - j % 8)) & 1) == 0) continue;
            int c = x + j, r = y + i;
            for (int rr = r - 2; rr <= r + 2; ++rr) {
                for (int cc = c - 2; cc <= c + 2; ++cc) {
                    if (cc < 0 || cc >= kStride || rr < 0 || rr >= rows) continue;
                    if (buf[rr * kStride + cc] == 0) buf[rr * kStride + cc] = o;
                }
            }
            if (c >= 0 && c < kStride && r >= 0 && r < rows) buf[r * kStride + c] = p;
        }
    }
}

// The clearing every figure below includes, for subtraction.
void BM_ClearOnly(benchmark::State& state) {
    std::vector<uint32_t> buf(kStride * 60, 0);
    for (auto _ : state) {
        std::memset(buf.data(), 0, buf.size() * 4);
        benchmark::DoNotOptimize(buf.data());
    }
}
BENCHMARK(BM_ClearOnly);

void BM_OutlineFast(benchmark::State& state) {
    std::vector<glyph> gs = line_glyphs();
    std::vector<uint32_t> buf(kStride * 60, 0);
    for (auto _ : state) {
        std::memset(buf.data(), 0, buf.size() * 4);
        int x = 41;
        for (const glyph& g : gs) {
            fb_draw_bitmap(buf, kStride, g.b, x + g.left, 40 - g.top, 0xffa8a800, true, 0xff000000);
            x += g.advance;
        }
        benchmark::DoNotOptimize(buf.data());
    }
}
BENCHMARK(BM_OutlineFast);

void BM_OutlineLiteral(benchmark::State& state) {
    std::vector<glyph> gs = line_glyphs();
    std::vector<uint32_t> buf(kStride * 60, 0);
    for (auto _ : state) {
        std::memset(buf.data(), 0, buf.size() * 4);
        int x = 41;
        for (const glyph& g : gs) {
            literal(buf, g.b, x + g.left, 40 - g.top, 0xffa8a800, 0xff000000);
            x += g.advance;
        }
        benchmark::DoNotOptimize(buf.data());
    }
}
BENCHMARK(BM_OutlineLiteral);

void BM_GlyphsNoOutline(benchmark::State& state) {
    std::vector<glyph> gs = line_glyphs();
    std::vector<uint32_t> buf(kStride * 60, 0);
    for (auto _ : state) {
        std::memset(buf.data(), 0, buf.size() * 4);
        int x = 41;
        for (const glyph& g : gs) {
            fb_draw_bitmap(buf, kStride, g.b, x + g.left, 40 - g.top, 0xffa8a800, false, 0);
            x += g.advance;
        }
        benchmark::DoNotOptimize(buf.data());
    }
}
BENCHMARK(BM_GlyphsNoOutline);

// The font engine over a scratch box root and a framebuffer of plain memory.
class engine {
  public:
    engine() {
        namespace fs = std::filesystem;
        std::string templ = (fs::temp_directory_path() / "lumetra-bench-XXXXXX").string();
        root_ = ::mkdtemp(templ.data());
        fs::create_directories(root_ + "/var/tuxbox/Tresk");
        fs::copy_file(kFont, root_ + "/var/tuxbox/Tresk/Tresk.ttf");
        sim::reset();
        sim::set_root(root_);
        zoom = 3;
        ok_ = fb_font_init() == 1;
        fb_fix.line_length = kStride * 4;
        fb_fix.smem_len = kStride * 4 * 576;
        mem_.assign(kStride * 576, 0);
        fb_mem = mem_.data();
        px_per_line = kStride;
        bbuf_size = 4 * kStride * 4 * line_heights[7];
        bbuf.reset(new uint32_t[static_cast<size_t>(bbuf_size) / 4]());
        sx = 40;
        ex = 670;
        palette = palettes[0].data();
    }
    ~engine() {
        fb_font_deinit();
        fb_mem = nullptr;
        bbuf.reset();
        std::filesystem::remove_all(root_);
    }
    bool ok() const { return ok_; }

  private:
    std::string root_;
    std::vector<uint32_t> mem_;
    bool ok_ = false;
};

void line(benchmark::State& state, int background) {
    engine e;
    if (!e.ok()) {
        state.SkipWithError("font set-up failed");
        return;
    }
    background_level = background;
    const int h = font_sizes[3][0];
    // One line slot of the back buffer is cleared each time, as a paint would.
    const size_t slot = static_cast<size_t>(kStride) * static_cast<size_t>(line_heights[3]);
    fb_draw_string(kLine, 1, 41, h, 1, 628, 3);  // warm the cache
    for (auto _ : state) {
        std::memset(bbuf.get(), 0, slot * 4);
        benchmark::DoNotOptimize(fb_draw_string(kLine, 1, 41, h, 1, 628, 3));
    }
}

void BM_LineOutline(benchmark::State& state) {
    line(state, 0);
}
void BM_LineBox(benchmark::State& state) {
    line(state, 1);
}
BENCHMARK(BM_LineOutline);
BENCHMARK(BM_LineBox);

}  // namespace

BENCHMARK_MAIN();
