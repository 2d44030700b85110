// Windows, the yes/no dialog, the numbered error box, and the key and text
// helpers the modal screens share.
#include "menu/window.h"

#include <linux/input.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "fb/glyph.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/symbols.h"
#include "fb/text.h"
#include "hw/device.h"
#include "rc/remote.h"

namespace {

// Window and dialog placement relative to the usable area, in pixels.
constexpr int kDialogX = 50;
constexpr int kDialogY = 90;
// Text starts 4 pixels inside the body and keeps 4 pixels clear on the right.
constexpr int kTextOdsazeni = 4;
constexpr int kTextOkraj = 8;
// Shortest window the title bar and its OK picture fit, and the top of the band.
constexpr int kMinSirkaOkna = 47;
constexpr int kMinTitulek = 32;

constexpr int kPauzaDialog = 5000;
constexpr int kPauzaChyba = 10000;
constexpr int kKrok = 10000;

constexpr const char* kOkIkona = "\x0e\x0f";
constexpr const char* kOdpovedi = "\x0e\x0f    \x0b\x02\x12\x13\x0c";
constexpr const char* kChybaNadpis = "\x0b\x02\x06\x0c ERROR";

int sirka_do_ex(int x_rel);

}  // namespace

const std::array<chyba_radek, 11> chyby{{
    {2, "Onbekende fout!", 2, 14},
    {3, "Kan het ondertitels bestand niet openen!", 2, 21},
    {3, "Kan niet toewijzen aan geheugen!", 2, 33},
    {3, "Kan de timer niet initialiseren!", 2, 28},
    {3, "Timer initialiseer fout - instelfout timer handler!", 3, 33},
    {3, "Kan geen draad maken!", 2, 22},
    {3, "Kan de draad niet annuleren!", 2, 21},
    {3, "Kan niet combineren met draad!", 2, 27},
    {3, "Verkeerde bestandsformaat!", 2, 25},
    {3, "Kan het bestand niet lezen!", 2, 23},
    {3, "G\xc3\xa9\xc3\xa9n ondertitels in map /var/tuxbox/Tresk/tit!", 2, 22},
}};

void fb_okno(int x, int y, int vyska, int sirka, int8_t vypln, int8_t ramecek, const char* nazev,
             int8_t barva_ikony) {
    const int lh = vyska_radku[0];
    const int yt = y - lh;
    if (sirka < kMinSirkaOkna || yt < kMinTitulek) {
        std::printf("fb_okno: chybne rozmery nebo pozice okna [s: %d, yt: %d!\n", sirka, yt);
        return;
    }
    // The title block reaches down under the body, which covers all but its top lh
    // rows; a low body (a one-row list) must not leave the bar short of the body.
    fb_box(x, yt, std::max(vyska - lh, lh + 2), sirka, 1, ramecek, ramecek);
    fb_box(x, y, vyska, sirka, 0, vypln, ramecek);
    fb_ZobrString(kOkIkona, 0, sx + x + 6, sy + yt + 26, 0, 33, barva_ikony);
    fb_ZobrString(nazev, 0, sx + x + 6, sy + yt + 26, 1, sirka - 12, 7);
}

int fb_dialog(int radku, int sirka, const char* otazka) {
    const int lh = vyska_radku[0];
    const int w = fb_dialog_sirka(sirka, otazka);
    const int tx = sx + kDialogX + kTextOdsazeni;
    fb_box(kDialogX, kDialogY, (radku + 1) * lh + 10, w, 0, 7, 4);
    fb_ZobrString(otazka, 0, tx, sy + kDialogY + lh, 1, w - kTextOkraj, 0);
    fb_ZobrString(kOdpovedi, 0, tx, sy + kDialogY + 2 * lh + 2, 1, w - kTextOkraj, 2);
    rc_vyprazdni(kPauzaDialog);
    int odpoved = -1;
    while (odpoved < 0) {
        switch (rc_cekej_klavesu()) {
            case KEY_EXIT:
            case KEY_RED:
                odpoved = 0;
                break;
            case KEY_OK:
            case KEY_GREEN:
                odpoved = 1;
                break;
            default:
                break;
        }
    }
    fb_smaz_titobr();
    rc_vyprazdni(kPauzaDialog);
    return odpoved;
}

void fb_error_box(int cislo) {
    if (cislo < 1 || cislo > static_cast<int>(chyby.size())) return;
    const chyba_radek& radek = chyby[static_cast<size_t>(cislo - 1)];
    const int lh = vyska_radku[0];
    const int w = fb_error_sirka(cislo);
    const int tx = sx + kDialogX + kTextOdsazeni;
    fb_okno(kDialogX, kDialogY, radek.radku * lh + 10, w, 7, 1, "ERROR", 7);
    fb_ZobrString(kChybaNadpis, 0, tx, sy + kDialogY + lh, 0, w - kTextOkraj, 0);
    fb_ZobrString(radek.zprava, 0, tx, sy + kDialogY + 2 * lh, 1, w - kTextOkraj, 0);
    if (radek.typ == 2) {
        hw_usleep(100000);
    } else {
        hw_usleep(20000);
        rc_vyprazdni(kPauzaChyba);
        rc_cekej_klavesu();
    }
    fb_smaz_titobr();
}

int fb_dialog_sirka(int sirka, const char* otazka) {
    const int tx = sx + kDialogX + kTextOdsazeni;
    const int nejvic = sirka_do_ex(kDialogX);
    size_t delka = 0;
    int32_t m = fb_zmer_text(otazka, tx, nejvic - kTextOkraj, &delka);
    if (otazka[delka] != '\0') return nejvic;
    // A glyph fits while the pen stays short of the limit, hence the extra pixel.
    int w = std::max(20 * sirka, m + kTextOkraj + 1);
    return std::min(w, nejvic);
}

int fb_error_sirka(int cislo) {
    if (cislo < 1 || cislo > static_cast<int>(chyby.size())) return 0;
    // The widest rows would reach past the end of the line at this position.
    return std::min(20 * chyby[static_cast<size_t>(cislo - 1)].sirka, sirka_do_ex(kDialogX));
}

int32_t fb_zmer_text(const char* text, int32_t x, int32_t sirka, size_t* delka) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const size_t n = std::strlen(text);
    const int32_t limit = static_cast<int32_t>(std::min<int64_t>(int64_t{x} + sirka, ex));
    int32_t m = 0;
    size_t i = 0;
    // Kerning against this text's own previous glyph, as the string drawer does.
    uint32_t predchozi = 0;
    while (i < n) {
        uint32_t kod = 0;
        const auto d = static_cast<size_t>(utf2long(s + i, &kod));
        if (d > n - i) {
            ++i;
            continue;
        }
        if (kod == 0 || kod == 0x0c) {
            i += d;
        } else if (kod >= 0x20) {
            int32_t r = fb_zobraz_znak_po(0, kod, x + m, 0, limit, -1, predchozi);
            if (r == -1) break;
            m += r;
            i += d;
        } else if (kod == 0x0b) {
            i = std::min(n, i + d + 1);  // the colour byte goes with it
        } else {
            // Pictures are never refused by the drawer; hold them to the glyphs' rule.
            int32_t r = fb_zobraz_ff_znak(0, static_cast<uint8_t>(kod), x + m, 0, limit, -1);
            if (r > 0 && int64_t{x} + m + r >= limit) break;
            m += r;
            predchozi = 0;
            i += d;
        }
    }
    if (delka != nullptr) *delka = i;
    return m;
}

void fb_zobraz_orezany(const char* text, int32_t x, int32_t y, int32_t sirka, int8_t barva) {
    size_t delka = 0;
    fb_zmer_text(text, x, sirka, &delka);
    if (text[delka] == '\0') {
        fb_ZobrString(text, 0, x, y, 0, sirka, barva);
        return;
    }
    std::unique_ptr<char[]> kus(new (std::nothrow) char[delka + 1]);
    if (!kus) return;
    std::memcpy(kus.get(), text, delka);
    kus[delka] = '\0';
    fb_ZobrString(kus.get(), 0, x, y, 0, sirka, barva);
}

void rc_vyprazdni(int pauza_us) {
    while (rc_nacti_kod() >= 0) hw_usleep(static_cast<useconds_t>(pauza_us));
}

int rc_cekej_klavesu() {
    for (;;) {
        hw_usleep(kKrok);
        int kod = rc_nacti_kod();
        if (kod >= 0) return kod;
    }
}

namespace {

// Widest box at x_rel whose right column (sx + x_rel + width) stays within ex.
int sirka_do_ex(int x_rel) {
    return std::max(0, ex - sx - x_rel);
}

}  // namespace
