// The framebuffer: the video mode, the mapping of its memory, the screen
// geometry, the back buffer and the two band positions a subtitle is copied to.
//
// Every write into the mapping or the back buffer is kept inside it, whatever the
// geometry: the band and the copy targets are byte offsets that the driver's
// figures, the settings file and the band moves can push anywhere.
#include "fb/screen.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/settings.h"
#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/status.h"
#include "hw/device.h"
#include "menu/menus.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

// The mode the player draws in.
constexpr uint32_t kSirka = 720;
constexpr uint32_t kVyska = 576;
// Height of the status strip above the band, and of the inset at top and bottom.
constexpr int64_t kStatusRadku = 32;
constexpr int32_t kOdsazeniRadku = 32;
// The bottom position leaves this many lines under four text lines.
constexpr int64_t kDoleRadku = 30;
// One band move, in lines.
constexpr int64_t kKrokRadku = 5;

// The part of the back buffer a copy to a band target writes, and where: byte
// offsets into the back buffer and the mapping, already cut to both.
struct kopie {
    int64_t cil;
    int64_t zdroj;
    int64_t delka;
};

// Framebuffer rows a paint can know to be all zero; rows past these are never known.
// The mode has 576 rows; a driver may map a few screens.
constexpr size_t kTrackedRows = 2048;

// Releases a mapping that fb_init has made but not yet handed over to fb_mem.
struct odmapovani {
    size_t delka;
    void operator()(void* adresa) const { hw_munmap(adresa, delka); }
};

}  // namespace

int fb = -1;
fb_var_screeninfo fb_var{};
fb_fix_screeninfo fb_fix{};
uint32_t* fb_mem = nullptr;
uint32_t px_na_radek = 0;
relaxed<int32_t> sx, sy, ex, ey;
int32_t sy0, ey0;
int32_t vyska_radku[8];
relaxed<int32_t> zoom{1};
relaxed<int32_t> pas_od, pas_delka;
std::unique_ptr<uint32_t[]> bbuf;
int32_t bbuf_delka;
relaxed<uint32_t*> bb_cil[2];
relaxed<int32_t> pas_min, pas_max;
relaxed<int32_t> posun_dole, posun_nahore;
relaxed<int32_t> pozice;
relaxed<const titulek*> akt_titulek{nullptr};
relaxed<uint8_t> titulek_zobrazen;
uint8_t odsazeni;
std::mutex znak_mutex;
std::recursive_mutex kresleni_mutex;

namespace {

// Rows of the mapping known to hold only zeros: a paint need not clear them again.
// A row is known once a clear covered it whole; any other write makes it unknown.
// Guarded by znak_mutex, like the pixels.
std::array<uint64_t, kTrackedRows / 64> zero_rows{};
// Back-buffer rows [bb_used_from, bb_used_to) may hold pixels; all others are zero.
// The drawing primitives widen it (fb_bb_rows_drawn). Guarded by znak_mutex.
int64_t bb_used_from = 0;
int64_t bb_used_to = 0;

bool ensure_32_bits();

int64_t delka_radku();
int32_t uzavri(int64_t v);
uint32_t* adresa_v_fb(int64_t posun);
int64_t posun_v_fb(const uint32_t* adresa);
int64_t dole_bez_posunu();
int aktualni_zoom();
void nastav_pas();
void vymaz_v_fb(int64_t od, int64_t delka);
kopie rozsah_kopie(int poz);
void mark_rows(int64_t from, int64_t to, bool zero);
int64_t next_row(int64_t from, int64_t to, bool zero);
void clear_band_outside_copy(int poz);
void copy_whole_bb(int poz);

}  // namespace

int fb_init() {
    nastaveni_nacti();
    // A failed set-up lets the font engine go again, and the font file it holds open.
    struct pismo_pri_chybe {
        bool pustit = true;
        ~pismo_pri_chybe() {
            if (pustit) fb_font_deinit();
        }
    } pismo;
    if (!fb_font_init()) return 0;

    if (hw_ioctl(fb, FBIOGET_FSCREENINFO, &fb_fix) == -1) {
        std::perror("fb_init: FBIOGET_FSCREENINFO");
        return 0;
    }
    if (hw_ioctl(fb, FBIOGET_VSCREENINFO, &fb_var) == -1) {
        std::perror("tresk.fb_init.chyba: FBIOGET_VSCREENINFO");
        return 0;
    }
    if (fb_var.xres != kSirka) {
        fb_var.xres = kSirka;
        fb_var.yres = kVyska;
    }
    // Issued even when the mode is already right: it makes the driver apply it.
    if (hw_ioctl(fb, FBIOPUT_VSCREENINFO, &fb_var) == -1) {
        std::perror("tresk.fb_init.chyba: FBIOPUT_VSCREENINFO");
        return 0;
    }
    if (!ensure_32_bits()) return 0;
    // Drivers derive line_length from the mode just set; a stride read before the
    // change would shear every line drawn.
    if (hw_ioctl(fb, FBIOGET_FSCREENINFO, &fb_fix) == -1) {
        std::perror("fb_init: FBIOGET_FSCREENINFO");
        return 0;
    }

    void* mapa = hw_mmap(nullptr, fb_fix.smem_len, PROT_READ | PROT_WRITE, MAP_SHARED, fb, 0);
    if (mapa == MAP_FAILED) {
        std::perror("fb_init: mmap!");
        return 0;
    }
    std::unique_ptr<void, odmapovani> drzi_mapu(mapa, odmapovani{fb_fix.smem_len});

    int64_t l = delka_radku();
    px_na_radek = fb_fix.line_length / 4;
    sy0 = sy;
    ey0 = ey;
    pas_od = uzavri(l * (sy + kStatusRadku));
    pas_delka = uzavri(l * ey - pas_od);
    bbuf_delka = uzavri(std::max<int64_t>(0, 4 * l * vyska_radku[7]));

    // Zeroed, so that a copy to the screen before the first subtitle shows nothing.
    bbuf.reset(new (std::nothrow) uint32_t[static_cast<size_t>(bbuf_delka) / 4]());
    if (!bbuf) {
        errno = ENOMEM;  // what failed, whatever the allocator left in errno
        std::perror("Nelze alokovat bbuf!");
        return 0;
    }
    fb_mem = static_cast<uint32_t*>(drzi_mapu.release());

    fb_prepocti_pas();
    {
        std::lock_guard kresleni(kresleni_mutex);
        std::lock_guard zamek(znak_mutex);
        bb_used_from = bb_used_to = 0;
        std::memset(fb_mem, 0, fb_fix.smem_len);
        zero_rows.fill(~uint64_t{0});
    }
    pismo.pustit = false;
    return 1;
}

void fb_deinit(int ulozit_pozici) {
    int32_t poz = 0;
    if (ulozit_pozici == kKeepResumePosition) {
        poz = ul_konf.poz;
    } else if (ulozit_pozici != 0 && titulky_nacteny) {
        poz = tmr_get_poz();
    }
    fb_font_deinit();
    {
        std::lock_guard kresleni(kresleni_mutex);
        if (fb_mem != nullptr) {
            hw_fb_before_clear(fb_mem, fb_fix.smem_len);
            {
                std::lock_guard zamek(znak_mutex);
                std::memset(fb_mem, 0, fb_fix.smem_len);
            }
            hw_munmap(fb_mem, fb_fix.smem_len);
            fb_mem = nullptr;
        }
        bbuf.reset();
    }
    nastaveni_uloz(poz);
}

void fb_prepocti_pas() {
    int64_t krok = kKrokRadku * delka_radku();
    int64_t od = pas_od;
    int64_t max = dole_bez_posunu();
    pas_max = uzavri(max);
    pas_min = pas_od.load();
    bb_cil[1] = adresa_v_fb(od);
    bb_cil[0] = adresa_v_fb(max);

    // A shift is kept only while its target stays inside the band and it is a whole
    // number of 5-line steps: any other byte count would shear the copied picture.
    int64_t dole = posun_dole;
    if (dole != 0) {
        if (dole > 0 && krok > 0 && dole % krok == 0 && od < max - dole) {
            bb_cil[0] = adresa_v_fb(max - dole);
        } else {
            posun_dole = 0;
        }
    }
    int64_t nahore = posun_nahore;
    if (nahore != 0) {
        if (nahore > 0 && krok > 0 && nahore % krok == 0 && od + nahore < max) {
            bb_cil[1] = adresa_v_fb(od + nahore);
        } else {
            posun_nahore = 0;
        }
    }
}

void fb_smaz_titobr() {
    // Under the paint lock, so that a clear never lands between another paint's
    // clear and its copy.
    std::lock_guard kresleni(kresleni_mutex);
    fb_smaz_pas();
    titulek_zobrazen = 0;
}

void bb_zobraz_na_fb(int poz) {
    std::lock_guard kresleni(kresleni_mutex);
    // The back buffer stands for akt_titulek; with none (nothing painted yet, or the
    // subtitles it came from are gone) there is nothing to put back.
    if (akt_titulek.load() == nullptr || fb_mem == nullptr || !bbuf) return;
    copy_whole_bb(poz);
    titulek_zobrazen = 1;
}

// The screen must end up exactly as after clearing the band and copying the whole
// back buffer, but framebuffer memory is slow: rows known to be zero that would
// receive zeros are left alone, and only the back-buffer rows that hold pixels are
// copied, in one block.
void bb_paint_to_fb(int poz) {
    std::lock_guard paint(kresleni_mutex);
    if (akt_titulek.load() == nullptr || fb_mem == nullptr || !bbuf) return;
    const int64_t l = delka_radku();
    const kopie k = rozsah_kopie(poz);
    const int64_t band_from = pas_od;
    const int64_t band_length = pas_delka;
    // Odd geometry (figures that are not whole rows) takes the plain way.
    if (l <= 0 || l % 4 != 0 || k.delka <= 0 || k.cil % l != 0 || k.zdroj % l != 0 ||
        k.delka % l != 0 || band_from % l != 0 || band_length % l != 0 ||
        fb_fix.smem_len % l != 0) {
        clear_band_outside_copy(poz);
        copy_whole_bb(poz);
        titulek_zobrazen = 1;
        return;
    }
    const int64_t rows = static_cast<int64_t>(fb_fix.smem_len) / l;
    const int64_t b0 = std::max<int64_t>(band_from / l, 0);
    const int64_t b1 = std::min<int64_t>((band_from + band_length) / l, rows);
    const int64_t c0 = k.cil / l;
    const int64_t c1 = c0 + k.delka / l;

    char* mem = reinterpret_cast<char*>(fb_mem);
    std::lock_guard lock(znak_mutex);
    // Screen row of back-buffer row 0, and the screen rows that receive pixels.
    const int64_t shift = c0 - k.zdroj / l;
    int64_t t0 = std::max(c0, bb_used_from + shift);
    int64_t t1 = std::min(c1, bb_used_to + shift);
    if (t0 >= t1) t0 = t1 = c0;
    // The band and the copy target: the rows a full clear and copy would write.
    const std::array<std::array<int64_t, 2>, 2> windows{{{b0, b1}, {c0, c1}}};
    // Rows of a window outside [t0, t1) that are not known to be zero are cleared,
    // in runs; rows the two windows share are cleared once.
    for (const auto& [w0, w1] : windows) {
        for (const auto& [from, to] :
             {std::array{w0, std::min(w1, t0)}, std::array{std::max(w0, t1), w1}}) {
            for (int64_t r = next_row(from, to, false); r < to;) {
                const int64_t end = next_row(r, to, true);
                std::memset(mem + r * l, 0, static_cast<size_t>((end - r) * l));
                mark_rows(r, end, true);
                r = next_row(end, to, false);
            }
        }
    }
    for (const auto& [w0, w1] : windows) mark_rows(w0, w1, true);
    if (t0 < t1) {
        std::memcpy(mem + t0 * l, reinterpret_cast<const char*>(bbuf.get()) + (t0 - shift) * l,
                    static_cast<size_t>((t1 - t0) * l));
        mark_rows(t0, t1, false);
    }
    titulek_zobrazen = 1;
}

void fb_screen_rows_drawn(int64_t from, int64_t to) {
    mark_rows(from, to, false);
}

void fb_bb_rows_drawn(int64_t from, int64_t to) {
    if (from >= to) return;
    if (bb_used_from >= bb_used_to) {
        bb_used_from = from;
        bb_used_to = to;
        return;
    }
    bb_used_from = std::min(bb_used_from, from);
    bb_used_to = std::max(bb_used_to, to);
}

void fb_forget_screen_rows() {
    std::lock_guard paint(kresleni_mutex);
    std::lock_guard lock(znak_mutex);
    bb_used_from = 0;
    bb_used_to = px_na_radek > 0 ? int64_t{bbuf_delka} / 4 / px_na_radek + 1 : 0;
    zero_rows.fill(0);
}

void fb_prekresli_titulek() {
    // The position is read under the paint lock too: a paint of the other thread
    // between the read and the copy moves the subtitle, and the copy would put its
    // back buffer at the old position, over or beside the subtitle just painted.
    std::lock_guard kresleni(kresleni_mutex);
    bb_zobraz_na_fb(pozice);
}

// The move and its repaint are one step under the paint lock, like every change
// of the band geometry, so that no paint uses a half-changed geometry.
void fb_uprav_posun(int smer) {
    if (kreslim != 0) return;
    std::lock_guard kresleni(kresleni_mutex);
    int64_t d = kKrokRadku * smer * delka_radku();
    int64_t max = pas_max;
    int64_t min = pas_min;
    if (pozice == 0) {
        int64_t n = posun_dole - d;
        if (n < 0) return;
        int64_t t = dole_bez_posunu() - n;
        if (t > max && smer >= 0) return;
        if (t < min && smer < 0) return;
        // A target on the band's first line would be dropped by the recompute and
        // throw the subtitle back to the bottom: refuse that step instead.
        if (n > 0 && t <= pas_od) return;
        posun_dole = uzavri(n);
    } else {
        int64_t n = posun_nahore + d;
        if (n < 0) return;
        int64_t t = pas_od + n;
        if (t > max && smer >= 0) return;
        if (t < min && smer < 0) return;
        // Likewise a top target on the bottom position.
        if (n > 0 && t >= max) return;
        posun_nahore = uzavri(n);
    }
    fb_prepocti_pas();
    fb_obnov_titulek();
}

void fb_prepni_posun() {
    if (kreslim != 0) return;
    std::lock_guard kresleni(kresleni_mutex);
    odsazeni = static_cast<uint8_t>((odsazeni + 1) & 1);
    if (infol >= 0) fb_smaz_info();
    if (helpt >= 0) {
        fb_smaz_titobr();
    } else if (titulek_zobrazen != 0) {
        // The repaint clears only the new band; the picture at the old place,
        // partly outside it, must go too.
        fb_smaz_pas();
    }
    if (odsazeni == 1) {
        sy = sy0 + kOdsazeniRadku;
        ey = ey0 - kOdsazeniRadku;
    } else {
        sy = sy0;
        ey = ey0;
    }
    nastav_pas();
    fb_prepocti_pas();
    fb_obnov_titulek();
}

std::span<uint32_t> fb_pixely(uint8_t cil) {
    if (cil == 0) {
        if (fb_mem == nullptr) return {};
        return {fb_mem, fb_fix.smem_len / 4};
    }
    if (!bbuf) return {};
    return {bbuf.get(), static_cast<size_t>(std::max<int32_t>(bbuf_delka, 0)) / 4};
}

void fb_smaz_pas() {
    vymaz_v_fb(pas_od, pas_delka);
}

void bb_smaz() {
    std::span<uint32_t> b = fb_pixely(1);
    const int64_t row = px_na_radek;
    if (row <= 0) return;
    std::lock_guard lock(znak_mutex);
    const int64_t from = std::clamp<int64_t>(bb_used_from * row, 0, std::ssize(b));
    const int64_t to = std::clamp<int64_t>(bb_used_to * row, from, std::ssize(b));
    std::fill(b.begin() + from, b.begin() + to, 0u);
    bb_used_from = bb_used_to = 0;
}

namespace {

// Every pixel is written as a 32-bit word: in a mode of another depth that would
// show nothing, or garbage, and run past the lines the driver laid out. A driver
// left at another depth is asked for 32 bits; one that will not switch ends the
// start-up like any other display failure, before anything is mapped.
bool ensure_32_bits() {
    constexpr uint32_t kBits = 32;
    if (fb_var.bits_per_pixel == kBits) return true;
    char refused[64];
    std::snprintf(refused, sizeof refused, "fb_init: %u bits per pixel, 32 refused",
                  fb_var.bits_per_pixel);
    fb_var_screeninfo want = fb_var;
    want.bits_per_pixel = kBits;
    if (hw_ioctl(fb, FBIOPUT_VSCREENINFO, &want) == -1) {
        std::perror(refused);
        return false;
    }
    // A driver may also take the request and stay where it was.
    if (hw_ioctl(fb, FBIOGET_VSCREENINFO, &fb_var) == -1) {
        std::perror("tresk.fb_init.chyba: FBIOGET_VSCREENINFO");
        return false;
    }
    if (fb_var.bits_per_pixel == kBits) return true;
    std::printf("%s\n", refused);
    return false;
}

int64_t delka_radku() {
    return fb_fix.line_length;
}

// The geometry words are 32 bits wide; figures beyond them (only from absurd
// driver values) saturate instead of wrapping.
int32_t uzavri(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// Band targets may point outside the mapping; they are kept as addresses (other
// code compares them with fb_mem) but computed in integers, never dereferenced
// without the range test of bb_zobraz_na_fb.
uint32_t* adresa_v_fb(int64_t posun) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<uintptr_t>(fb_mem) +
                                       static_cast<uintptr_t>(posun));
}

// Through intptr_t, so that an address below the mapping gives a negative offset on a
// 32-bit box too.
int64_t posun_v_fb(const uint32_t* adresa) {
    return static_cast<int64_t>(static_cast<intptr_t>(reinterpret_cast<uintptr_t>(adresa) -
                                                      reinterpret_cast<uintptr_t>(fb_mem)));
}

// Byte offset of the bottom position without shift: four text lines of the current
// zoom ending 30 lines above ey.
int64_t dole_bez_posunu() {
    return delka_radku() * (ey - 4 * int64_t{vyska_radku[aktualni_zoom()]} - kDoleRadku);
}

int aktualni_zoom() {
    return std::clamp<int32_t>(zoom, 0, 7);
}

void nastav_pas() {
    int64_t l = delka_radku();
    pas_od = uzavri(l * (sy + kStatusRadku));
    pas_delka = uzavri(l * ey - pas_od);
}

// At the bottom position with a small zoom the copy reaches past the band, and a
// target can lie anywhere the geometry puts it: the copy is cut to the mapping.
kopie rozsah_kopie(int poz) {
    kopie k{posun_v_fb(bb_cil[poz != 0 ? 1 : 0]), 0, bbuf ? int64_t{bbuf_delka} : 0};
    if (fb_mem == nullptr) return {0, 0, 0};
    if (k.cil < 0) {
        k.zdroj = -k.cil;
        k.delka += k.cil;
        k.cil = 0;
    }
    k.delka = std::min<int64_t>(k.delka, static_cast<int64_t>(fb_fix.smem_len) - k.cil);
    if (k.delka < 0) k.delka = 0;
    return k;
}

void vymaz_v_fb(int64_t od, int64_t delka) {
    std::span<uint32_t> fbm = fb_pixely(0);
    int64_t konec = std::min<int64_t>(od + delka, static_cast<int64_t>(fbm.size_bytes()));
    od = std::max<int64_t>(od, 0);
    if (od >= konec) return;
    std::lock_guard zamek(znak_mutex);
    std::memset(reinterpret_cast<char*>(fbm.data()) + od, 0, static_cast<size_t>(konec - od));
    const int64_t l = delka_radku();
    if (l > 0) mark_rows((od + l - 1) / l, konec / l, true);
}

// Whole words at a time: a paint marks and looks up hundreds of rows.
void mark_rows(int64_t from, int64_t to, bool zero) {
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, static_cast<int64_t>(kTrackedRows));
    while (from < to) {
        const int64_t word_end = std::min<int64_t>(to, (from | 63) + 1);
        const int count = static_cast<int>(word_end - from);
        const uint64_t bits = (count == 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1)
                              << (from & 63);
        uint64_t& word = zero_rows[static_cast<size_t>(from >> 6)];
        word = zero ? word | bits : word & ~bits;
        from = word_end;
    }
}

// The first row of [from, to) that is known to be zero (zero) or not known to be
// (!zero); to when there is none. Rows past the tracked ones are never known.
int64_t next_row(int64_t from, int64_t to, bool zero) {
    from = std::max<int64_t>(from, 0);
    const int64_t tracked_to = std::min<int64_t>(to, static_cast<int64_t>(kTrackedRows));
    while (from < tracked_to) {
        const uint64_t word = zero_rows[static_cast<size_t>(from >> 6)];
        const uint64_t wanted = (zero ? word : ~word) >> (from & 63);
        if (wanted != 0) return std::min(to, from + std::countr_zero(wanted));
        from = (from | 63) + 1;
    }
    return zero || from >= to ? to : from;
}

// The band on screen, except the bytes that a copy of the back buffer to
// bb_cil[poz] overwrites anyway.
void clear_band_outside_copy(int poz) {
    kopie k = rozsah_kopie(poz);
    int64_t od = pas_od;
    int64_t konec = od + pas_delka;
    if (k.delka <= 0) {
        vymaz_v_fb(od, konec - od);
        return;
    }
    vymaz_v_fb(od, std::min(konec, k.cil) - od);
    int64_t za = std::max(od, k.cil + k.delka);
    vymaz_v_fb(za, konec - za);
}

// The whole back buffer to bb_cil[poz], cut to the mapping. The rows it writes
// are no longer known to be zero.
void copy_whole_bb(int poz) {
    kopie k = rozsah_kopie(poz);
    if (k.delka <= 0) return;
    std::lock_guard lock(znak_mutex);
    std::memcpy(reinterpret_cast<char*>(fb_mem) + k.cil,
                reinterpret_cast<const char*>(bbuf.get()) + k.zdroj, static_cast<size_t>(k.delka));
    const int64_t l = delka_radku();
    if (l > 0) mark_rows(k.cil / l, (k.cil + k.delka + l - 1) / l, false);
}

}  // namespace
