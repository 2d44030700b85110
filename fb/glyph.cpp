// The font engine: FreeType through its cache manager and small-bitmap cache,
// the line heights of the zoom levels, and one character drawn into the screen
// or the back buffer, with the 5 x 5 outline of transparent subtitles.
#include "fb/glyph.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <tuple>

#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "hw/device.h"

namespace {

constexpr const char* kFontPath = "/var/tuxbox/Tresk/Tresk.ttf";
// Every glyph comes out of the cache as a 1-bit bitmap.
constexpr FT_Int32 kLoadFlags = FT_LOAD_TARGET_MONO;
// Pixel size of the screen font.
constexpr FT_UInt kScreenFontWidth = 20;
constexpr FT_UInt kScreenFontHeight = 24;

// The cache keeps everything the player draws, so that no paint reads the font file
// (flash on a box) twice for a glyph: the eight subtitle sizes and the screen size,
// each with the characters of a whole film. FreeType's defaults (4 sizes, 200 kB)
// hold less than a zoom sweep, and an evicted glyph is loaded from the file again.
constexpr FT_UInt kCacheSizes = std::tuple_size_v<decltype(font_sizes)> + 1;
// Different characters of a film: the Latin letters with their accented forms,
// digits and punctuation, with room to spare.
constexpr FT_ULong kGlyphsPerSize = 512;
// The most a glyph of pixel height h costs the cache: a whole cache node of 16
// glyph records when it is alone in it, and a 1-bit bitmap up to 2h by 2h pixels.
constexpr FT_ULong glyph_bytes(int h) {
    const FT_ULong side = 2 * static_cast<FT_ULong>(h);
    return 16 * sizeof(FTC_SBitRec) + 64 + (side + 7) / 8 * side;
}
constexpr FT_ULong cache_bytes() {
    FT_ULong bytes = kGlyphsPerSize * glyph_bytes(static_cast<int>(kScreenFontHeight));
    for (const auto& size : font_sizes) bytes += kGlyphsPerSize * glyph_bytes(size[0]);
    return bytes;
}
// About 3.8 MB at most; the cache takes only what the glyphs drawn need.
constexpr FT_ULong kCacheBytes = cache_bytes();

// A bitmap row as a bit mask, leftmost position in the most significant bit of
// word 0. Glyph column j sits at position j + 2, leaving two positions on each
// side for the outline. Cached glyphs are at most 255 pixels wide and high.
constexpr int kMaskWords = 5;
constexpr int kMaxWidth = kMaskWords * 64 - 4;
constexpr int kMaxHeight = 256;
constexpr int kMargin = 2;

using row_mask = std::array<uint64_t, kMaskWords>;

// A font file read through the device layer; FreeType calls close_stream once,
// when the face goes away or when opening it fails.
struct font_stream {
    FT_StreamRec stream;
    FILE* file;
};

struct close_file {
    void operator()(FILE* f) const { std::fclose(f); }
};

// FreeType's memory. Every block comes zeroed: FreeType 2.12 leaves fields of the
// cache manager's record uninitialised, and with leftovers of earlier heap use in
// them the manager threw the cached glyphs away on every lookup, so each paint
// loaded its glyphs from the font file again.
void* zeroed_alloc(FT_Memory, long size) {
    return std::calloc(1, static_cast<size_t>(size));
}
void* plain_realloc(FT_Memory, long, long new_size, void* block) {
    return std::realloc(block, static_cast<size_t>(new_size));
}
void plain_free(FT_Memory, void* block) {
    std::free(block);
}
FT_MemoryRec_ freetype_memory{nullptr, zeroed_alloc, plain_free, plain_realloc};

// Figures FreeType gives the same for as long as the font is up, kept for the
// paints that follow: each subtitle line is measured before it is drawn, and a
// glyph's cache lookup and kerning cost about as much as drawing it. A small table
// indexed by a hash of the key; a clash replaces the older figure. Guarded by
// pixel_mutex, emptied with the font.
template <typename Value>
class remembered {
  public:
    const Value* find(uint64_t key) const {
        const entry& e = entries_[slot(key)];
        return e.used && e.key == key ? &e.value : nullptr;
    }
    void keep(uint64_t key, const Value& value) { entries_[slot(key)] = {key, value, true}; }
    void clear() { entries_.fill({}); }

  private:
    static constexpr int kSlotBits = 9;
    // Fibonacci hashing: every bit of the key moves the slot.
    static size_t slot(uint64_t key) { return (key * 0x9E3779B97F4A7C15u) >> (64 - kSlotBits); }
    struct entry {
        uint64_t key = 0;
        Value value{};
        bool used = false;
    };
    std::array<entry, size_t{1} << kSlotBits> entries_{};
};

// A size and two 24-bit numbers (character codes, glyph indexes) as one key; larger
// numbers are not remembered.
constexpr uint32_t kKeyLimit = 1u << 24;
constexpr uint64_t figure_key(const FTC_ImageTypeRec& type, uint32_t a, uint32_t b) {
    return uint64_t{type.width & 0xFFu} << 56 | uint64_t{type.height & 0xFFu} << 48 |
           uint64_t{a} << 24 | b;
}

struct glyph_figures {
    FT_UInt index;
    int32_t xadvance;
};
// By size and character code: the glyph and its advance, for the measuring pass.
remembered<glyph_figures> known_glyphs;
// By size, previous glyph and glyph: the kerning in pixels.
remembered<int32_t> known_kerning;

}  // namespace

FT_Library ft_lib = nullptr;
FTC_Manager ft_manager = nullptr;
FTC_SBitCache ft_sbit_cache = nullptr;
FT_Face ft_face = nullptr;
ft_face_id ft_font_id{kFontPath, 0};
FTC_ImageTypeRec ft_type_fb{};
FTC_ImageTypeRec ft_type_bb{};
relaxed<int32_t> bb_zoom{1};
uint8_t has_kerning = 0;
relaxed<uint32_t> last_glyph_fb{0}, last_glyph_bb{0};

namespace {

void release_font();
FT_Error open_stream(FT_Library library, const char* path, FT_Face* aface);
unsigned long read_stream(FT_Stream stream, unsigned long offset, unsigned char* buffer,
                          unsigned long count);
void close_stream(FT_Stream stream);
bool pixel_set(const fb_bitmap& b, const uint8_t* row, int32_t j);
void row_mask_of(const fb_bitmap& b, int32_t i, row_mask& m);
// Calls draw(first position, length) for each run of set bits of a mask word, from
// the most significant: a glyph row is a few strokes, so runs, not single pixels.
template <typename Draw>
void for_each_run(uint64_t bits, Draw draw) {
    while (bits != 0) {
        const int first = std::countl_zero(bits);
        const int length = std::countl_one(bits << first);
        draw(first, length);
        const int end = first + length;
        bits = end == 64 ? 0 : bits & (~uint64_t{0} >> end);
    }
}

void draw_outlined(std::span<uint32_t> px, uint64_t glyph, uint64_t area, uint32_t p, uint32_t o);
void draw_pixelwise(std::span<uint32_t> target, uint32_t row, const fb_bitmap& b, int32_t x,
                    int32_t y, uint32_t p, bool outline, uint32_t o);

}  // namespace

int fb_font_init() {
    std::lock_guard lock(pixel_mutex);
    // A second set-up (the tests bring the display up many times) starts afresh.
    release_font();

    // FT_Init_FreeType with the memory above, and without the properties it would
    // take from the environment.
    FT_Error e = FT_New_Library(&freetype_memory, &ft_lib);
    if (e == 0) FT_Add_Default_Modules(ft_lib);
    if (e != 0) {
        ft_lib = nullptr;
        std::printf("tresk.fb_init.FT_Init_FreeType: %2X\n", static_cast<unsigned>(e));
        return 0;
    }
    FT_Int major = 0, minor = 0, patch = 0;
    FT_Library_Version(ft_lib, &major, &minor, &patch);
    std::printf("fb_init: FreeType library %d.%d.%d\n", major, minor, patch);
    if (!fb_font_version_ok(major, minor, patch)) {
        std::printf("fb_init: FreeType2 %d.%d.%d required!\n", 2, 3, 6);
        return 0;
    }
    e = FTC_Manager_New(ft_lib, 2, kCacheSizes, kCacheBytes, fb_open_font, nullptr, &ft_manager);
    if (e != 0) {
        ft_manager = nullptr;
        std::printf("fb_init.FTC_Manager_New: %2X\n", static_cast<unsigned>(e));
        return 0;
    }
    e = FTC_SBitCache_New(ft_manager, &ft_sbit_cache);
    if (e != 0) {
        std::printf("tresk.fb_init.FTC_SBit_Cache_New: %2X\n", static_cast<unsigned>(e));
        return 0;
    }
    ft_font_id = {kFontPath, 0};
    e = FTC_Manager_LookupFace(ft_manager, &ft_font_id, &ft_face);
    if (e != 0) {
        ft_face = nullptr;
        std::printf("fb_init: FTC_Manager_Lookup_Face: %2X\n", static_cast<unsigned>(e));
        return 0;
    }
    has_kerning = (ft_face->face_flags & FT_FACE_FLAG_KERNING) != 0 ? 1 : 0;
    for (FTC_ImageTypeRec* type : {&ft_type_fb, &ft_type_bb}) {
        type->face_id = &ft_font_id;
        type->flags = kLoadFlags;
    }
    FT_UInt g = FT_Get_Char_Index(ft_face, 'g');
    if (g == 0) {
        std::printf("fb_init: FT_Get_Char_Index: 'g'\n");
        return 0;
    }
    for (int z = 0; z < 8; ++z) {
        int32_t height = font_sizes[z][0];
        ft_type_fb.height = static_cast<FT_UInt>(height);
        ft_type_fb.width = static_cast<FT_UInt>(font_sizes[z][1]);
        FTC_SBit sbit = nullptr;
        e = FTC_SBitCache_Lookup(ft_sbit_cache, &ft_type_fb, g, &sbit, nullptr);
        if (e != 0) {
            std::printf("fb_init FTC_SBitCache_Lookup: %02X - znak: 'g'\n",
                        static_cast<unsigned>(e));
            return 0;
        }
        // The font's pixel height, the descender of 'g' below the baseline, and 2.
        line_heights[z] = sbit->height - sbit->top + height + 2;
    }
    ft_type_fb.width = kScreenFontWidth;
    ft_type_fb.height = kScreenFontHeight;
    int32_t z = zoom;
    if (z < 0 || z > 7) z = 0;
    ft_type_bb.width = static_cast<FT_UInt>(font_sizes[z][1]);
    ft_type_bb.height = static_cast<FT_UInt>(font_sizes[z][0]);
    bb_zoom = z;
    last_glyph_fb = 0;
    last_glyph_bb = 0;
    return 1;
}

void fb_font_deinit() {
    std::lock_guard lock(pixel_mutex);
    release_font();
}

void fb_font_set_zoom() {
    fb_font_use_zoom(zoom);
}

void fb_font_use_zoom(int32_t z) {
    if (z < 0 || z > 7) return;
    std::lock_guard lock(pixel_mutex);
    ft_type_bb.width = static_cast<FT_UInt>(font_sizes[z][1]);
    ft_type_bb.height = static_cast<FT_UInt>(font_sizes[z][0]);
    bb_zoom = z;
}

bool fb_font_version_ok(int major, int minor, int patch) {
    return std::tuple(major, minor, patch) >= std::tuple(2, 3, 6);
}

FT_Error fb_open_font(FTC_FaceID face_id, FT_Library library, FT_Pointer request_data,
                      FT_Face* aface) {
    (void)request_data;
    const auto* id = static_cast<const ft_face_id*>(face_id);
    FT_Error e = open_stream(library, id->path, aface);
    if (e != 0) {
        std::printf("Chyba otevirani fontu '%s' -> %d\n", id->path, e);
        return e;
    }
    if (std::strcmp(id->path, kFontPath) == 0) ft_face = *aface;
    return 0;
}

int32_t fb_draw_char(uint8_t target, uint32_t code, int32_t x, int32_t y, int32_t limit,
                     int8_t colour) {
    uint32_t previous = target == 1 ? last_glyph_bb : last_glyph_fb;
    return fb_draw_char_after(target, code, x, y, limit, colour, previous);
}

int32_t fb_draw_char_after(uint8_t target, uint32_t code, int32_t x, int32_t y, int32_t limit,
                           int8_t colour, uint32_t& previous, int32_t* xadvance) {
    std::lock_guard lock(pixel_mutex);
    const bool do_bb = target == 1;
    FTC_ImageTypeRec type = do_bb ? ft_type_bb : ft_type_fb;
    const bool remember = code < kKeyLimit;
    const glyph_figures* known = remember ? known_glyphs.find(figure_key(type, 0, code)) : nullptr;
    FT_UInt g = known != nullptr ? known->index : FT_Get_Char_Index(ft_face, code);
    if (g == 0) {
        std::printf("Chyba FT_Get_Char_Index: \"%c\" - %2X\n", static_cast<unsigned char>(code),
                    code);
        return 0;
    }
    // Measuring needs only the advance; drawing needs the bitmap from the cache.
    FTC_SBit sbit = nullptr;
    if (known == nullptr || colour != -1) {
        FT_Error e = FTC_SBitCache_Lookup(ft_sbit_cache, &type, g, &sbit, nullptr);
        if (e != 0) {
            std::printf("Chyba FTC_SBitCache_Lookup: %02X - znak: \"%c\"\n",
                        static_cast<unsigned>(e), static_cast<unsigned char>(code));
            return 0;
        }
        if (remember) known_glyphs.keep(figure_key(type, 0, code), {g, sbit->xadvance});
    }
    const int32_t advance = sbit != nullptr ? sbit->xadvance : known->xadvance;

    int32_t k = 0;
    const bool pair_key = remember && previous < kKeyLimit && g < kKeyLimit;
    const int32_t* known_k =
        has_kerning && pair_key ? known_kerning.find(figure_key(type, previous, g)) : nullptr;
    if (known_k != nullptr) {
        k = *known_k;
    } else if (has_kerning) {
        // FT_Get_Kerning scales by the face's active size, and the cache switches
        // that only when it renders a glyph it lacks: activate the size drawn here.
        FTC_ScalerRec scaler{type.face_id, type.width, type.height, 1, 0, 0};
        FT_Size size = nullptr;
        FT_Vector v{0, 0};
        if (FTC_Manager_LookupSize(ft_manager, &scaler, &size) == 0 &&
            FT_Get_Kerning(ft_face, previous, g, FT_KERNING_DEFAULT, &v) == 0) {
            k = static_cast<int32_t>(v.x >> 6);
            if (pair_key) known_kerning.keep(figure_key(type, previous, g), k);
        }
    }

    if (xadvance != nullptr) *xadvance = advance;
    // The fit test leaves kerning out.
    if (static_cast<int64_t>(x) + advance >= limit) return -1;

    if (colour != -1 && sbit != nullptr) {
        const uint32_t* pal = palette;
        const int idx = colour & 0x0F;
        // Indexes 12..15 name no colour of the palette: nothing is drawn.
        if (pal != nullptr && idx < 12) {
            const fb_bitmap b{sbit->buffer, sbit->width,  sbit->height,
                              sbit->pitch,  sbit->format, sbit->max_grays};
            const bool outline = do_bb && background_level == 0;
            fb_draw_bitmap(fb_glyph_target(target), px_per_line, b,
                           static_cast<int32_t>(static_cast<int64_t>(x) + sbit->left + k),
                           static_cast<int32_t>(static_cast<int64_t>(y) - sbit->top), pal[idx],
                           outline, pal[0]);
        }
    }

    previous = g;
    (do_bb ? last_glyph_bb : last_glyph_fb) = g;
    return advance + k;
}

void fb_draw_bitmap(std::span<uint32_t> target, uint32_t row, const fb_bitmap& b, int32_t x,
                    int32_t y, uint32_t p, bool outline, uint32_t o) {
    if (b.data == nullptr || b.pitch <= 0 || b.width <= 0 || b.height <= 0 || row == 0) return;
    const int64_t rows = static_cast<int64_t>(target.size() / row);
    if (rows == 0) return;
    // The painter clears and copies only the rows drawn.
    const int64_t drawn_from = std::max<int64_t>(int64_t{y} - kMargin, 0);
    const int64_t drawn_to = std::min<int64_t>(int64_t{y} + b.height + kMargin, rows);
    if (target.data() == fb_mem) {
        fb_screen_rows_drawn(drawn_from, drawn_to);
    } else if (target.data() == bbuf.get()) {
        fb_bb_rows_drawn(drawn_from, drawn_to);
    }
    // A glyph pixel of value 0 can take a later neighbour's outline; only the
    // pixel-by-pixel rule gets that right, and no caller draws in value 0.
    if ((outline && p == 0) || b.width > kMaxWidth || b.height > kMaxHeight) {
        draw_pixelwise(target, row, b, x, y, p, outline, o);
        return;
    }

    const int margin = outline ? kMargin : 0;
    // Rows of the mask that land inside the buffer.
    const int64_t row_from = std::max<int64_t>(-margin, -static_cast<int64_t>(y));
    const int64_t row_to = std::min<int64_t>(b.height + margin, rows - y);
    if (row_from >= row_to) return;

    // Positions whose column lies inside a row of the buffer.
    const int words = (b.width + 2 * kMargin + 63) / 64;
    const int64_t pos_from = std::max<int64_t>(0, kMargin - static_cast<int64_t>(x));
    const int64_t pos_to = std::min<int64_t>(words * 64, static_cast<int64_t>(row) - x + kMargin);
    if (pos_from >= pos_to) return;
    row_mask columns{};
    for (int u = 0; u < words; ++u) {
        const int64_t from = std::max<int64_t>(pos_from, u * 64);
        const int64_t after = std::min<int64_t>(pos_to, u * 64 + 64);
        if (from >= after) continue;
        const int n = static_cast<int>(after - from);
        const uint64_t bits = n == 64 ? ~uint64_t{0} : ((uint64_t{1} << n) - 1) << (64 - n);
        columns[u] = bits >> (from - u * 64);
    }

    // Row masks of the rows that can reach the buffer; only those are computed, and
    // only those are read. Spread row i is kept at i + 2 * kMargin, between blank
    // rows, so that every row drawn reads its five neighbours without bounds tests.
    std::array<row_mask, kMaxHeight> glyph_rows;
    std::array<row_mask, kMaxHeight + 4 * kMargin> spread;
    const int64_t mask_from = std::max<int64_t>(0, row_from - margin);
    const int64_t mask_to = std::min<int64_t>(b.height, row_to + margin);
    if (outline) {
        std::fill_n(spread.begin() + mask_from, 2 * kMargin, row_mask{});
        std::fill_n(spread.begin() + mask_to + 2 * kMargin, 2 * kMargin, row_mask{});
    }
    for (int64_t i = mask_from; i < mask_to; ++i) {
        row_mask& m = glyph_rows[static_cast<size_t>(i)];
        row_mask_of(b, static_cast<int32_t>(i), m);
        if (!outline) continue;
        // Spread each row two positions to either side.
        row_mask& s = spread[static_cast<size_t>(i + 2 * kMargin)];
        for (int u = 0; u < words; ++u) {
            const uint64_t before = u > 0 ? m[u - 1] : 0;
            const uint64_t after = u + 1 < words ? m[u + 1] : 0;
            s[u] = m[u] | (m[u] >> 1) | (before << 63) | (m[u] >> 2) | (before << 62) |
                   (m[u] << 1) | (after >> 63) | (m[u] << 2) | (after >> 62);
        }
    }

    static constexpr row_mask kEmpty{};
    for (int64_t r = row_from; r < row_to; ++r) {
        // The outline's rows above and below the bitmap have no glyph pixels.
        const row_mask& m = r >= 0 && r < b.height ? glyph_rows[static_cast<size_t>(r)] : kEmpty;
        const int64_t row_start = (y + r) * static_cast<int64_t>(row) + x - kMargin;
        // Spread rows r - 2 .. r + 2.
        const auto around = std::span(spread).subspan(static_cast<size_t>(r + kMargin), 5);
        for (int u = 0; u < words; ++u) {
            uint64_t area = m[u];
            if (outline) {
                // Spread down and up by two rows.
                area = around[0][u] | around[1][u] | around[2][u] | around[3][u] | around[4][u];
            }
            area &= columns[u];
            if (area == 0) continue;
            // Index of position 0 of this word; only positions inside the buffer are set.
            const int64_t base = row_start + u * 64;
            auto run = [&](int from, int length) {
                return target.subspan(static_cast<size_t>(base + from),
                                      static_cast<size_t>(length));
            };
            if (outline) {
                // Outlined rows are dense: the whole stretch from the first to the
                // last position in one pass, four pixels at a time.
                const int first = std::countl_zero(area);
                const int count = 64 - std::countr_zero(area) - first;
                draw_outlined(run(first, count), m[u] << first, area << first, p, o);
                continue;
            }
            for_each_run(area,
                         [&](int from, int length) { std::ranges::fill(run(from, length), p); });
        }
    }
}

std::span<uint32_t> fb_glyph_target(uint8_t target) {
    return fb_pixels(target == 1 ? 1 : 0);
}

namespace {

// The FreeType objects are plain handles released here, by fb_deinit, after the
// subtitle thread has stopped; nothing frees them behind a thread still drawing.
void release_font() {
    if (ft_manager != nullptr) FTC_Manager_Done(ft_manager);
    ft_manager = nullptr;
    ft_sbit_cache = nullptr;
    ft_face = nullptr;
    if (ft_lib != nullptr) FT_Done_Library(ft_lib);
    ft_lib = nullptr;
    has_kerning = 0;
    last_glyph_fb = 0;
    last_glyph_bb = 0;
    known_glyphs.clear();
    known_kerning.clear();
}

FT_Error open_stream(FT_Library library, const char* path, FT_Face* aface) {
    std::unique_ptr<FILE, close_file> file(hw_fopen(path, "rb"));
    if (!file) return FT_Err_Cannot_Open_Resource;
    if (hw_fseek(file.get(), 0, SEEK_END) != 0) return FT_Err_Cannot_Open_Stream;
    const long length = std::ftell(file.get());
    if (length <= 0 || hw_fseek(file.get(), 0, SEEK_SET) != 0) {
        return FT_Err_Cannot_Open_Stream;
    }
    auto* p = new (std::nothrow) font_stream{};
    if (p == nullptr) return FT_Err_Out_Of_Memory;
    p->file = file.release();
    p->stream.size = static_cast<unsigned long>(length);
    p->stream.pos = 0;
    p->stream.descriptor.pointer = p;
    p->stream.read = read_stream;
    p->stream.close = close_stream;
    FT_Open_Args args{};
    args.flags = FT_OPEN_STREAM;
    args.stream = &p->stream;
    // From here FreeType owns the stream: it calls close_stream on failure too.
    return FT_Open_Face(library, &args, 0, aface);
}

unsigned long read_stream(FT_Stream stream, unsigned long offset, unsigned char* buffer,
                          unsigned long count) {
    auto* p = static_cast<font_stream*>(stream->descriptor.pointer);
    if (count == 0 && offset > stream->size) return 1;
    if (stream->pos != offset && hw_fseek(p->file, static_cast<long>(offset), SEEK_SET) != 0) {
        return count == 0 ? 1 : 0;
    }
    if (count == 0) return 0;
    return hw_fread(buffer, 1, count, p->file);
}

void close_stream(FT_Stream stream) {
    auto* p = static_cast<font_stream*>(stream->descriptor.pointer);
    std::fclose(p->file);
    delete p;
}

// Whether pixel j of a bitmap row is set. Grey and colour bitmaps (embedded
// strikes) are thresholded at half their range, so they keep their shape in
// the one colour; LCD bitmaps have no pixel grid of their own and draw nothing.
bool pixel_set(const fb_bitmap& b, const uint8_t* row, int32_t j) {
    switch (b.format) {
        case FT_PIXEL_MODE_MONO:
            return (row[j >> 3] >> (7 - (j & 7)) & 1) != 0;
        case FT_PIXEL_MODE_GRAY:
            return 2 * row[j] > b.max_grey;
        case FT_PIXEL_MODE_GRAY2:
            return 2 * (row[j >> 2] >> (2 * (3 - (j & 3))) & 3) > b.max_grey;
        case FT_PIXEL_MODE_GRAY4:
            return 2 * (row[j >> 1] >> (4 * (1 - (j & 1))) & 15) > b.max_grey;
        case FT_PIXEL_MODE_BGRA:
            return row[4 * j + 3] >= 0x80;
        default:
            return false;
    }
}

void row_mask_of(const fb_bitmap& b, int32_t i, row_mask& m) {
    m.fill(0);
    const uint8_t* row = b.data + static_cast<size_t>(i) * static_cast<size_t>(b.pitch);
    if (b.format != FT_PIXEL_MODE_MONO) {
        for (int32_t j = 0; j < b.width; ++j) {
            if (!pixel_set(b, row, j)) continue;
            const int position = j + kMargin;
            m[position >> 6] |= uint64_t{1} << (63 - (position & 63));
        }
        return;
    }
    const int bytes = (b.width + 7) / 8;
    if (bytes * 8 + kMargin <= 64) {
        // The usual glyph: the whole row in the first word, read byte by byte.
        uint64_t v = 0;
        for (int t = 0; t < bytes; ++t) v |= uint64_t{row[t]} << (56 - 8 * t);
        // Bits past the row's last pixel are not part of the glyph.
        m[0] = (v & ~(~uint64_t{0} >> b.width)) >> kMargin;
        return;
    }
    for (int t = 0; t < bytes; ++t) {
        uint64_t v = row[t];
        // Bits past the row's last pixel are not part of the glyph.
        if (t == bytes - 1 && b.width % 8 != 0) v &= (0xFFu << (8 - b.width % 8)) & 0xFFu;
        if (v == 0) continue;
        const int position = 8 * t + kMargin;  // position of the byte's leftmost pixel
        const int u = position >> 6;
        const int s = position & 63;
        if (s <= 56) {
            m[u] |= v << (56 - s);
        } else {
            m[u] |= v >> (s - 56);
            if (u + 1 < kMaskWords) m[u + 1] |= v << (120 - s);
        }
    }
}

// Each set pixel in turn: its outline, then the pixel itself.
// Bit n of a 4-bit group (most significant first) as a lane mask.
constexpr auto kLanes = [] {
    std::array<std::array<uint32_t, 4>, 16> lanes{};
    for (unsigned n = 0; n < 16; ++n) {
        for (unsigned k = 0; k < 4; ++k) lanes[n][k] = (n >> (3 - k) & 1) != 0 ? ~0u : 0u;
    }
    return lanes;
}();

// Pixel i of px takes bit 63 - i of the masks: glyph pixels become p, the other
// pixels of the area that are still 0 become o, the rest stay.
void draw_outlined(std::span<uint32_t> px, uint64_t glyph, uint64_t area, uint32_t p, uint32_t o) {
    const size_t whole = px.size() & ~size_t{3};
    for (size_t j = 0; j < whole; j += 4) {
        const auto& g = kLanes[glyph >> (60 - j) & 15];
        const auto& a = kLanes[area >> (60 - j) & 15];
        // Masks, not branches, so that the four lanes can go in one vector.
        std::array<uint32_t, 4> four;
        std::copy_n(px.begin() + static_cast<std::ptrdiff_t>(j), 4, four.begin());
        for (size_t k = 0; k < 4; ++k) {
            const uint32_t outline = (0u - static_cast<uint32_t>(four[k] == 0)) & a[k];
            const uint32_t v = four[k] ^ ((four[k] ^ o) & outline);
            four[k] = v ^ ((v ^ p) & g[k]);
        }
        std::ranges::copy(four, px.begin() + static_cast<std::ptrdiff_t>(j));
    }
    for (size_t j = whole; j < px.size(); ++j) {
        uint32_t& v = px[j];
        if ((glyph >> (63 - j) & 1) != 0) {
            v = p;
        } else if ((area >> (63 - j) & 1) != 0 && v == 0) {
            v = o;
        }
    }
}

void draw_pixelwise(std::span<uint32_t> target, uint32_t row, const fb_bitmap& b, int32_t x,
                    int32_t y, uint32_t p, bool outline, uint32_t o) {
    const int64_t rows = static_cast<int64_t>(target.size() / row);
    auto inside = [&](int64_t col, int64_t r) {
        return col >= 0 && col < static_cast<int64_t>(row) && r >= 0 && r < rows;
    };
    for (int32_t i = 0; i < b.height; ++i) {
        const uint8_t* data = b.data + static_cast<size_t>(i) * static_cast<size_t>(b.pitch);
        for (int32_t j = 0; j < b.width; ++j) {
            if (!pixel_set(b, data, j)) continue;
            const int64_t col = static_cast<int64_t>(x) + j;
            const int64_t r = static_cast<int64_t>(y) + i;
            if (outline) {
                for (int64_t rr = r - 2; rr <= r + 2; ++rr) {
                    for (int64_t ss = col - 2; ss <= col + 2; ++ss) {
                        if (!inside(ss, rr)) continue;
                        uint32_t& px = target[static_cast<size_t>(rr * row + ss)];
                        if (px == 0) px = o;
                    }
                }
            }
            if (inside(col, r)) target[static_cast<size_t>(r * row + col)] = p;
        }
    }
}

}  // namespace
