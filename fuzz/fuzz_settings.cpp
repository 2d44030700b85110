// The settings record read from a file of any length and content, applied to the
// display as start-up applies it (font size, band positions with the stored shifts),
// a subtitle painted at both positions and moved, then written back and read again.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/settings.h"
#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fuzz/fuzz_support.h"
#include "sub/subtitles.h"

namespace {

constexpr const char* kConf = "/var/tuxbox/Tresk/tresk.conf";

titulek g_zaznam;

// Whatever shifts were stored, both copy targets stay within the band: from its
// first line down to the bottom position without shift.
void check_targets() {
    const auto* zacatek = reinterpret_cast<const char*>(fb_mem);
    for (int k = 0; k < 2; ++k) {
        const auto posun = reinterpret_cast<const char*>(bb_cil[k].load()) - zacatek;
        FUZZ_CHECK(posun >= pas_od && posun <= pas_max);
    }
}

void check_styles() {
    FUZZ_CHECK(zoom >= 0 && zoom <= 7);
    FUZZ_CHECK(transp >= 0 && transp <= 2);
    FUZZ_CHECK(paleta_idx == 0 || paleta_idx == 1);
    FUZZ_CHECK(paleta == palety[static_cast<size_t>(paleta_idx.load())].data());
    FUZZ_CHECK(barva_tit >= 0 && barva_tit <= 3);
}

// What the record and the styles hold before any file is read.
void defaults() {
    ul_konf = nastaveni{1, 0, 0, 0, 0, 0, 0};
    zoom = 1;
    transp = 1;
    paleta_idx = 0;
    paleta = palety[0].data();
    barva_tit = 0;
    posun_dole = 0;
    posun_nahore = 0;
    odsazeni = 0;
    sy = sy0;
    ey = ey0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsup::make_root(true);
    fuzzsup::open_display();
    static char radek1[] =
        "Agj \xc3\xa9\x0b\x02"
        "x";
    static char radek2[] = "\x0e\x0f W";
    g_zaznam.pocet_radku = 2;
    g_zaznam.radky[0].reset(new char[sizeof radek1]);
    std::memcpy(g_zaznam.radky[0].get(), radek1, sizeof radek1);
    g_zaznam.radky[1].reset(new char[sizeof radek2]);
    std::memcpy(g_zaznam.radky[1].get(), radek2, sizeof radek2);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    defaults();
    fuzzsup::write_file(kConf, data, size);
    nastaveni_nacti();
    check_styles();
    if (size >= sizeof(nastaveni)) {
        FUZZ_CHECK(std::memcmp(&ul_konf, data, sizeof(nastaveni)) == 0);
    } else {
        FUZZ_CHECK(ul_konf.zoom == 1 && ul_konf.transp == 0 && ul_konf.poz == 0);
    }

    // Start-up applies the values: the font size of the zoom level, the band positions.
    fb_font_nastav_zoom();
    fb_prepocti_pas();
    check_targets();

    // A subtitle painted at one position and copied to the other, then the band
    // moved about as the keys do, with a copy to both positions after each move.
    const uint8_t extra = size > 16 ? data[16] : 0;
    g_zaznam.flags = (extra & 1) ? 0x1e4 : 0x1b;
    fb_zobraz_titulek(&g_zaznam);
    bb_zobraz_na_fb(1 - pozice);
    {
        std::lock_guard kresleni(kresleni_mutex);
        akt_titulek = nullptr;
        titulek_zobrazen = 0;
    }
    for (int i = 1; i < 8; ++i) {
        if (i == 4) {
            fb_prepni_posun();
        } else {
            pozice = (extra >> i) & 1;
            fb_uprav_posun((extra >> (i + 1)) & 1 ? 1 : -1);
        }
        check_targets();
        bb_zobraz_na_fb(0);
        bb_zobraz_na_fb(1);
    }
    if (odsazeni != 0) fb_prepni_posun();
    check_styles();

    // Written back (when it changed) and read again: the same values.
    int32_t poz = 0;
    if (size >= 21) std::memcpy(&poz, data + 17, sizeof poz);
    const nastaveni pred = nastaveni_aktualni(poz);
    nastaveni_uloz(poz);
    std::string soubor;
    FUZZ_CHECK(fuzzsup::read_file(kConf, soubor));
    FUZZ_CHECK(soubor.size() == sizeof(nastaveni) || soubor.size() == size);
    if (soubor.size() == sizeof(nastaveni)) {
        defaults();
        nastaveni_nacti();
        FUZZ_CHECK(std::memcmp(&ul_konf, &pred, sizeof pred) == 0);
        FUZZ_CHECK(zoom == pred.zoom && transp == pred.transp && barva_tit == pred.barva_tit);
        FUZZ_CHECK(paleta_idx == pred.paleta_idx);
        FUZZ_CHECK(posun_dole == pred.posun_dole && posun_nahore == pred.posun_nahore);
    }
    return 0;
}
