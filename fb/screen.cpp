// The framebuffer: the video mode, the mapping of its memory, the screen
// geometry, the back buffer and the two band positions a subtitle is copied to.
//
// Every write into the mapping or the back buffer is kept inside it, whatever the
// geometry: the band and the copy targets are byte offsets that the driver's
// figures, the settings file and the band moves can push anywhere.
#include "fb/screen.h"

#include <sys/mman.h>

#include <algorithm>
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
        std::lock_guard zamek(znak_mutex);
        std::memset(fb_mem, 0, fb_fix.smem_len);
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
    kopie k = rozsah_kopie(poz);
    if (k.delka > 0) {
        std::lock_guard zamek(znak_mutex);
        std::memcpy(reinterpret_cast<char*>(fb_mem) + k.cil,
                    reinterpret_cast<const char*>(bbuf.get()) + k.zdroj,
                    static_cast<size_t>(k.delka));
    }
    titulek_zobrazen = 1;
}

void fb_prekresli_titulek() {
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

void fb_smaz_pas_mimo_kopii(int poz) {
    // The band is twice the size of the copy: clearing what the copy overwrites
    // would be half the work of a paint's clears, for nothing.
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

void bb_smaz() {
    std::span<uint32_t> b = fb_pixely(1);
    std::lock_guard zamek(znak_mutex);
    std::fill(b.begin(), b.end(), 0u);
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
}

}  // namespace
