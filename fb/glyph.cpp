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

constexpr const char* kCestaFontu = "/var/tuxbox/Tresk/Tresk.ttf";
// Every glyph comes out of the cache as a 1-bit bitmap.
constexpr FT_Int32 kNacitani = FT_LOAD_TARGET_MONO;
// Pixel size of the screen font.
constexpr FT_UInt kSirkaFb = 20;
constexpr FT_UInt kVyskaFb = 24;

// The cache keeps everything the player draws, so that no paint reads the font file
// (flash on a box) twice for a glyph: the eight subtitle sizes and the screen size,
// each with the characters of a whole film. FreeType's defaults (4 sizes, 200 kB)
// hold less than a zoom sweep, and an evicted glyph is loaded from the file again.
constexpr FT_UInt kCacheSizes = std::tuple_size_v<decltype(velikosti_fontu)> + 1;
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
    FT_ULong bytes = kGlyphsPerSize * glyph_bytes(static_cast<int>(kVyskaFb));
    for (const auto& velikost : velikosti_fontu) bytes += kGlyphsPerSize * glyph_bytes(velikost[0]);
    return bytes;
}
// About 3.8 MB at most; the cache takes only what the glyphs drawn need.
constexpr FT_ULong kCacheBytes = cache_bytes();

// A bitmap row as a bit mask, leftmost position in the most significant bit of
// word 0. Glyph column j sits at position j + 2, leaving two positions on each
// side for the outline. Cached glyphs are at most 255 pixels wide and high.
constexpr int kSlov = 5;
constexpr int kMaxSirka = kSlov * 64 - 4;
constexpr int kMaxVyska = 256;
constexpr int kOkraj = 2;

using maska = std::array<uint64_t, kSlov>;

// A font file read through the device layer; FreeType calls zavri_proud once,
// when the face goes away or when opening it fails.
struct proud_fontu {
    FT_StreamRec proud;
    FILE* soubor;
};

struct zavri_soubor {
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
// znak_mutex, emptied with the font.
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
constexpr uint64_t figure_key(const FTC_ImageTypeRec& typ, uint32_t a, uint32_t b) {
    return uint64_t{typ.width & 0xFFu} << 56 | uint64_t{typ.height & 0xFFu} << 48 |
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
ft_face_id ftrc{kCestaFontu, 0};
FTC_ImageTypeRec ft_typ_fb{};
FTC_ImageTypeRec ft_typ_bb{};
uint8_t ma_kerning = 0;
relaxed<uint32_t> posl_glyf_fb{0}, posl_glyf_bb{0};

namespace {

void uvolni_font();
FT_Error otevri_proud(FT_Library library, const char* cesta, FT_Face* aface);
unsigned long cti_proud(FT_Stream proud, unsigned long offset, unsigned char* buffer,
                        unsigned long pocet);
void zavri_proud(FT_Stream proud);
bool bod(const fb_bitmapa& b, const uint8_t* radek, int32_t j);
void radek_masky(const fb_bitmapa& b, int32_t i, maska& m);
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
void kresli_doslova(std::span<uint32_t> cil, uint32_t radek, const fb_bitmapa& b, int32_t x,
                    int32_t y, uint32_t p, bool obrys, uint32_t o);

}  // namespace

int fb_font_init() {
    std::lock_guard zamek(znak_mutex);
    // A second set-up (the tests bring the display up many times) starts afresh.
    uvolni_font();

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
    if (!fb_font_verze_ok(major, minor, patch)) {
        std::printf("fb_init: FreeType2 %d.%d.%d required!\n", 2, 3, 6);
        return 0;
    }
    e = FTC_Manager_New(ft_lib, 2, kCacheSizes, kCacheBytes, fb_otevri_font, nullptr, &ft_manager);
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
    ftrc = {kCestaFontu, 0};
    e = FTC_Manager_LookupFace(ft_manager, &ftrc, &ft_face);
    if (e != 0) {
        ft_face = nullptr;
        std::printf("fb_init: FTC_Manager_Lookup_Face: %2X\n", static_cast<unsigned>(e));
        return 0;
    }
    ma_kerning = (ft_face->face_flags & FT_FACE_FLAG_KERNING) != 0 ? 1 : 0;
    for (FTC_ImageTypeRec* typ : {&ft_typ_fb, &ft_typ_bb}) {
        typ->face_id = &ftrc;
        typ->flags = kNacitani;
    }
    FT_UInt g = FT_Get_Char_Index(ft_face, 'g');
    if (g == 0) {
        std::printf("fb_init: FT_Get_Char_Index: 'g'\n");
        return 0;
    }
    for (int z = 0; z < 8; ++z) {
        int32_t vyska = velikosti_fontu[z][0];
        ft_typ_fb.height = static_cast<FT_UInt>(vyska);
        ft_typ_fb.width = static_cast<FT_UInt>(velikosti_fontu[z][1]);
        FTC_SBit sbit = nullptr;
        e = FTC_SBitCache_Lookup(ft_sbit_cache, &ft_typ_fb, g, &sbit, nullptr);
        if (e != 0) {
            std::printf("fb_init FTC_SBitCache_Lookup: %02X - znak: 'g'\n",
                        static_cast<unsigned>(e));
            return 0;
        }
        // The font's pixel height, the descender of 'g' below the baseline, and 2.
        vyska_radku[z] = sbit->height - sbit->top + vyska + 2;
    }
    ft_typ_fb.width = kSirkaFb;
    ft_typ_fb.height = kVyskaFb;
    int32_t z = zoom;
    if (z < 0 || z > 7) z = 0;
    ft_typ_bb.width = static_cast<FT_UInt>(velikosti_fontu[z][1]);
    ft_typ_bb.height = static_cast<FT_UInt>(velikosti_fontu[z][0]);
    posl_glyf_fb = 0;
    posl_glyf_bb = 0;
    return 1;
}

void fb_font_deinit() {
    std::lock_guard zamek(znak_mutex);
    uvolni_font();
}

void fb_font_nastav_zoom() {
    int32_t z = zoom;
    if (z < 0 || z > 7) return;
    std::lock_guard zamek(znak_mutex);
    ft_typ_bb.width = static_cast<FT_UInt>(velikosti_fontu[z][1]);
    ft_typ_bb.height = static_cast<FT_UInt>(velikosti_fontu[z][0]);
}

bool fb_font_verze_ok(int major, int minor, int patch) {
    return std::tuple(major, minor, patch) >= std::tuple(2, 3, 6);
}

FT_Error fb_otevri_font(FTC_FaceID face_id, FT_Library library, FT_Pointer request_data,
                        FT_Face* aface) {
    (void)request_data;
    const auto* id = static_cast<const ft_face_id*>(face_id);
    FT_Error e = otevri_proud(library, id->cesta, aface);
    if (e != 0) {
        std::printf("Chyba otevirani fontu '%s' -> %d\n", id->cesta, e);
        return e;
    }
    if (std::strcmp(id->cesta, kCestaFontu) == 0) ft_face = *aface;
    return 0;
}

int32_t fb_zobraz_znak(uint8_t cil, uint32_t kod, int32_t x, int32_t y, int32_t limit,
                       int8_t barva) {
    uint32_t predchozi = cil == 1 ? posl_glyf_bb : posl_glyf_fb;
    return fb_zobraz_znak_po(cil, kod, x, y, limit, barva, predchozi);
}

int32_t fb_zobraz_znak_po(uint8_t cil, uint32_t kod, int32_t x, int32_t y, int32_t limit,
                          int8_t barva, uint32_t& predchozi, int32_t* xadvance) {
    std::lock_guard zamek(znak_mutex);
    const bool do_bb = cil == 1;
    FTC_ImageTypeRec typ = do_bb ? ft_typ_bb : ft_typ_fb;
    const bool remember = kod < kKeyLimit;
    const glyph_figures* known = remember ? known_glyphs.find(figure_key(typ, 0, kod)) : nullptr;
    FT_UInt g = known != nullptr ? known->index : FT_Get_Char_Index(ft_face, kod);
    if (g == 0) {
        std::printf("Chyba FT_Get_Char_Index: \"%c\" - %2X\n", static_cast<unsigned char>(kod),
                    kod);
        return 0;
    }
    // Measuring needs only the advance; drawing needs the bitmap from the cache.
    FTC_SBit sbit = nullptr;
    if (known == nullptr || barva != -1) {
        FT_Error e = FTC_SBitCache_Lookup(ft_sbit_cache, &typ, g, &sbit, nullptr);
        if (e != 0) {
            std::printf("Chyba FTC_SBitCache_Lookup: %02X - znak: \"%c\"\n",
                        static_cast<unsigned>(e), static_cast<unsigned char>(kod));
            return 0;
        }
        if (remember) known_glyphs.keep(figure_key(typ, 0, kod), {g, sbit->xadvance});
    }
    const int32_t postup = sbit != nullptr ? sbit->xadvance : known->xadvance;

    int32_t k = 0;
    const bool pair_key = remember && predchozi < kKeyLimit && g < kKeyLimit;
    const int32_t* known_k =
        ma_kerning && pair_key ? known_kerning.find(figure_key(typ, predchozi, g)) : nullptr;
    if (known_k != nullptr) {
        k = *known_k;
    } else if (ma_kerning) {
        // FT_Get_Kerning scales by the face's active size, and the cache switches
        // that only when it renders a glyph it lacks: activate the size drawn here.
        FTC_ScalerRec meritko{typ.face_id, typ.width, typ.height, 1, 0, 0};
        FT_Size velikost = nullptr;
        FT_Vector v{0, 0};
        if (FTC_Manager_LookupSize(ft_manager, &meritko, &velikost) == 0 &&
            FT_Get_Kerning(ft_face, predchozi, g, FT_KERNING_DEFAULT, &v) == 0) {
            k = static_cast<int32_t>(v.x >> 6);
            if (pair_key) known_kerning.keep(figure_key(typ, predchozi, g), k);
        }
    }

    if (xadvance != nullptr) *xadvance = postup;
    // The fit test leaves kerning out.
    if (static_cast<int64_t>(x) + postup >= limit) return -1;

    if (barva != -1 && sbit != nullptr) {
        const uint32_t* pal = paleta;
        const int idx = barva & 0x0F;
        // Indexes 12..15 name no colour of the palette: nothing is drawn.
        if (pal != nullptr && idx < 12) {
            const fb_bitmapa b{sbit->buffer, sbit->width,  sbit->height,
                               sbit->pitch,  sbit->format, sbit->max_grays};
            const bool obrys = do_bb && transp == 0;
            fb_kresli_bitmapu(fb_cil_znaku(cil), px_na_radek, b,
                              static_cast<int32_t>(static_cast<int64_t>(x) + sbit->left + k),
                              static_cast<int32_t>(static_cast<int64_t>(y) - sbit->top), pal[idx],
                              obrys, pal[0]);
        }
    }

    predchozi = g;
    (do_bb ? posl_glyf_bb : posl_glyf_fb) = g;
    return postup + k;
}

void fb_kresli_bitmapu(std::span<uint32_t> cil, uint32_t radek, const fb_bitmapa& b, int32_t x,
                       int32_t y, uint32_t p, bool obrys, uint32_t o) {
    if (b.data == nullptr || b.pitch <= 0 || b.sirka <= 0 || b.vyska <= 0 || radek == 0) return;
    const int64_t radku = static_cast<int64_t>(cil.size() / radek);
    if (radku == 0) return;
    // The painter clears and copies only the rows drawn.
    const int64_t drawn_from = std::max<int64_t>(int64_t{y} - kOkraj, 0);
    const int64_t drawn_to = std::min<int64_t>(int64_t{y} + b.vyska + kOkraj, radku);
    if (cil.data() == fb_mem) {
        fb_screen_rows_drawn(drawn_from, drawn_to);
    } else if (cil.data() == bbuf.get()) {
        fb_bb_rows_drawn(drawn_from, drawn_to);
    }
    // A glyph pixel of value 0 can take a later neighbour's outline; only the
    // pixel-by-pixel rule gets that right, and no caller draws in value 0.
    if ((obrys && p == 0) || b.sirka > kMaxSirka || b.vyska > kMaxVyska) {
        kresli_doslova(cil, radek, b, x, y, p, obrys, o);
        return;
    }

    const int okraj = obrys ? kOkraj : 0;
    // Rows of the mask that land inside the buffer.
    const int64_t r_od = std::max<int64_t>(-okraj, -static_cast<int64_t>(y));
    const int64_t r_do = std::min<int64_t>(b.vyska + okraj, radku - y);
    if (r_od >= r_do) return;

    // Positions whose column lies inside a row of the buffer.
    const int slov = (b.sirka + 2 * kOkraj + 63) / 64;
    const int64_t poz_od = std::max<int64_t>(0, kOkraj - static_cast<int64_t>(x));
    const int64_t poz_do = std::min<int64_t>(slov * 64, static_cast<int64_t>(radek) - x + kOkraj);
    if (poz_od >= poz_do) return;
    maska sloupce{};
    for (int u = 0; u < slov; ++u) {
        const int64_t od = std::max<int64_t>(poz_od, u * 64);
        const int64_t po = std::min<int64_t>(poz_do, u * 64 + 64);
        if (od >= po) continue;
        const int n = static_cast<int>(po - od);
        const uint64_t bity = n == 64 ? ~uint64_t{0} : ((uint64_t{1} << n) - 1) << (64 - n);
        sloupce[u] = bity >> (od - u * 64);
    }

    // Row masks of the rows that can reach the buffer; only those are computed, and
    // only those are read. Spread row i is kept at i + 2 * kOkraj, between blank
    // rows, so that every row drawn reads its five neighbours without bounds tests.
    std::array<maska, kMaxVyska> glyf;
    std::array<maska, kMaxVyska + 4 * kOkraj> siroky;
    const int64_t m_od = std::max<int64_t>(0, r_od - okraj);
    const int64_t m_do = std::min<int64_t>(b.vyska, r_do + okraj);
    if (obrys) {
        std::fill_n(siroky.begin() + m_od, 2 * kOkraj, maska{});
        std::fill_n(siroky.begin() + m_do + 2 * kOkraj, 2 * kOkraj, maska{});
    }
    for (int64_t i = m_od; i < m_do; ++i) {
        maska& m = glyf[static_cast<size_t>(i)];
        radek_masky(b, static_cast<int32_t>(i), m);
        if (!obrys) continue;
        // Spread each row two positions to either side.
        maska& s = siroky[static_cast<size_t>(i + 2 * kOkraj)];
        for (int u = 0; u < slov; ++u) {
            const uint64_t pred = u > 0 ? m[u - 1] : 0;
            const uint64_t po = u + 1 < slov ? m[u + 1] : 0;
            s[u] = m[u] | (m[u] >> 1) | (pred << 63) | (m[u] >> 2) | (pred << 62) | (m[u] << 1) |
                   (po >> 63) | (m[u] << 2) | (po >> 62);
        }
    }

    static constexpr maska kPrazdny{};
    for (int64_t r = r_od; r < r_do; ++r) {
        // The outline's rows above and below the bitmap have no glyph pixels.
        const maska& m = r >= 0 && r < b.vyska ? glyf[static_cast<size_t>(r)] : kPrazdny;
        const int64_t zacatek = (y + r) * static_cast<int64_t>(radek) + x - kOkraj;
        // Spread rows r - 2 .. r + 2.
        const auto okoli = std::span(siroky).subspan(static_cast<size_t>(r + kOkraj), 5);
        for (int u = 0; u < slov; ++u) {
            uint64_t oblast = m[u];
            if (obrys) {
                // Spread down and up by two rows.
                oblast = okoli[0][u] | okoli[1][u] | okoli[2][u] | okoli[3][u] | okoli[4][u];
            }
            oblast &= sloupce[u];
            if (oblast == 0) continue;
            // Index of position 0 of this word; only positions inside the buffer are set.
            const int64_t zaklad = zacatek + u * 64;
            auto run = [&](int od, int delka) {
                return cil.subspan(static_cast<size_t>(zaklad + od), static_cast<size_t>(delka));
            };
            if (obrys) {
                // Outlined rows are dense: the whole stretch from the first to the
                // last position in one pass, four pixels at a time.
                const int first = std::countl_zero(oblast);
                const int count = 64 - std::countr_zero(oblast) - first;
                draw_outlined(run(first, count), m[u] << first, oblast << first, p, o);
                continue;
            }
            for_each_run(oblast, [&](int od, int delka) { std::ranges::fill(run(od, delka), p); });
        }
    }
}

std::span<uint32_t> fb_cil_znaku(uint8_t cil) {
    return fb_pixely(cil == 1 ? 1 : 0);
}

namespace {

// The FreeType objects are plain handles released here, by fb_deinit, after the
// subtitle thread has stopped; nothing frees them behind a thread still drawing.
void uvolni_font() {
    if (ft_manager != nullptr) FTC_Manager_Done(ft_manager);
    ft_manager = nullptr;
    ft_sbit_cache = nullptr;
    ft_face = nullptr;
    if (ft_lib != nullptr) FT_Done_Library(ft_lib);
    ft_lib = nullptr;
    ma_kerning = 0;
    posl_glyf_fb = 0;
    posl_glyf_bb = 0;
    known_glyphs.clear();
    known_kerning.clear();
}

FT_Error otevri_proud(FT_Library library, const char* cesta, FT_Face* aface) {
    std::unique_ptr<FILE, zavri_soubor> soubor(hw_fopen(cesta, "rb"));
    if (!soubor) return FT_Err_Cannot_Open_Resource;
    if (hw_fseek(soubor.get(), 0, SEEK_END) != 0) return FT_Err_Cannot_Open_Stream;
    const long delka = std::ftell(soubor.get());
    if (delka <= 0 || hw_fseek(soubor.get(), 0, SEEK_SET) != 0) {
        return FT_Err_Cannot_Open_Stream;
    }
    auto* p = new (std::nothrow) proud_fontu{};
    if (p == nullptr) return FT_Err_Out_Of_Memory;
    p->soubor = soubor.release();
    p->proud.size = static_cast<unsigned long>(delka);
    p->proud.pos = 0;
    p->proud.descriptor.pointer = p;
    p->proud.read = cti_proud;
    p->proud.close = zavri_proud;
    FT_Open_Args args{};
    args.flags = FT_OPEN_STREAM;
    args.stream = &p->proud;
    // From here FreeType owns the stream: it calls zavri_proud on failure too.
    return FT_Open_Face(library, &args, 0, aface);
}

unsigned long cti_proud(FT_Stream proud, unsigned long offset, unsigned char* buffer,
                        unsigned long pocet) {
    auto* p = static_cast<proud_fontu*>(proud->descriptor.pointer);
    if (pocet == 0 && offset > proud->size) return 1;
    if (proud->pos != offset && hw_fseek(p->soubor, static_cast<long>(offset), SEEK_SET) != 0) {
        return pocet == 0 ? 1 : 0;
    }
    if (pocet == 0) return 0;
    return hw_fread(buffer, 1, pocet, p->soubor);
}

void zavri_proud(FT_Stream proud) {
    auto* p = static_cast<proud_fontu*>(proud->descriptor.pointer);
    std::fclose(p->soubor);
    delete p;
}

// Whether pixel j of a bitmap row is set. Grey and colour bitmaps (embedded
// strikes) are thresholded at half their range, so they keep their shape in
// the one colour; LCD bitmaps have no pixel grid of their own and draw nothing.
bool bod(const fb_bitmapa& b, const uint8_t* radek, int32_t j) {
    switch (b.format) {
        case FT_PIXEL_MODE_MONO:
            return (radek[j >> 3] >> (7 - (j & 7)) & 1) != 0;
        case FT_PIXEL_MODE_GRAY:
            return 2 * radek[j] > b.max_sedi;
        case FT_PIXEL_MODE_GRAY2:
            return 2 * (radek[j >> 2] >> (2 * (3 - (j & 3))) & 3) > b.max_sedi;
        case FT_PIXEL_MODE_GRAY4:
            return 2 * (radek[j >> 1] >> (4 * (1 - (j & 1))) & 15) > b.max_sedi;
        case FT_PIXEL_MODE_BGRA:
            return radek[4 * j + 3] >= 0x80;
        default:
            return false;
    }
}

void radek_masky(const fb_bitmapa& b, int32_t i, maska& m) {
    m.fill(0);
    const uint8_t* radek = b.data + static_cast<size_t>(i) * static_cast<size_t>(b.pitch);
    if (b.format != FT_PIXEL_MODE_MONO) {
        for (int32_t j = 0; j < b.sirka; ++j) {
            if (!bod(b, radek, j)) continue;
            const int poz = j + kOkraj;
            m[poz >> 6] |= uint64_t{1} << (63 - (poz & 63));
        }
        return;
    }
    const int bajtu = (b.sirka + 7) / 8;
    if (bajtu * 8 + kOkraj <= 64) {
        // The usual glyph: the whole row in the first word, read byte by byte.
        uint64_t v = 0;
        for (int t = 0; t < bajtu; ++t) v |= uint64_t{radek[t]} << (56 - 8 * t);
        // Bits past the row's last pixel are not part of the glyph.
        m[0] = (v & ~(~uint64_t{0} >> b.sirka)) >> kOkraj;
        return;
    }
    for (int t = 0; t < bajtu; ++t) {
        uint64_t v = radek[t];
        // Bits past the row's last pixel are not part of the glyph.
        if (t == bajtu - 1 && b.sirka % 8 != 0) v &= (0xFFu << (8 - b.sirka % 8)) & 0xFFu;
        if (v == 0) continue;
        const int poz = 8 * t + kOkraj;  // position of the byte's leftmost pixel
        const int u = poz >> 6;
        const int s = poz & 63;
        if (s <= 56) {
            m[u] |= v << (56 - s);
        } else {
            m[u] |= v >> (s - 56);
            if (u + 1 < kSlov) m[u + 1] |= v << (120 - s);
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

void kresli_doslova(std::span<uint32_t> cil, uint32_t radek, const fb_bitmapa& b, int32_t x,
                    int32_t y, uint32_t p, bool obrys, uint32_t o) {
    const int64_t radku = static_cast<int64_t>(cil.size() / radek);
    auto platny = [&](int64_t sl, int64_t r) {
        return sl >= 0 && sl < static_cast<int64_t>(radek) && r >= 0 && r < radku;
    };
    for (int32_t i = 0; i < b.vyska; ++i) {
        const uint8_t* data = b.data + static_cast<size_t>(i) * static_cast<size_t>(b.pitch);
        for (int32_t j = 0; j < b.sirka; ++j) {
            if (!bod(b, data, j)) continue;
            const int64_t sl = static_cast<int64_t>(x) + j;
            const int64_t r = static_cast<int64_t>(y) + i;
            if (obrys) {
                for (int64_t rr = r - 2; rr <= r + 2; ++rr) {
                    for (int64_t ss = sl - 2; ss <= sl + 2; ++ss) {
                        if (!platny(ss, rr)) continue;
                        uint32_t& px = cil[static_cast<size_t>(rr * radek + ss)];
                        if (px == 0) px = o;
                    }
                }
            }
            if (platny(sl, r)) cil[static_cast<size_t>(r * radek + sl)] = p;
        }
    }
}

}  // namespace
