// The list menu: a titled window of up to ten rows per page with a scroll bar,
// a moving highlight, marks and keypad letter jumps.
#include "menu/list.h"

#include <linux/input.h>

#include <algorithm>
#include <cstddef>

#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/text.h"
#include "menu/window.h"

namespace {

constexpr int kRadkuNaStranu = 10;
constexpr int kMaxZnaku = 33;
constexpr int kPauzaKonec = 5000;
// Row colours: plain and marked rows; the list body.
constexpr int8_t kBarvaRadku = 7;
constexpr int8_t kBarvaZnacky = 3;
constexpr int8_t kBarvaPodkladu = 10;

// One call's state: the list, the layout, the highlight and what was drawn last.
struct menu_stav {
    const char* const* polozky;
    const char* znacky;
    int pocet;
    int lh;
    list_rozmery roz;
    int64_t rounded_count;  // smallest multiple of the page size not below pocet
    int palec;              // scroll-bar thumb height
    int p;                  // current index
    int posl_v;             // page start drawn last; -1 none
    int posl_p;             // current index drawn last
};

void kresli(menu_stav& st);
void kresli_radek(const menu_stav& st, int i, int v, bool aktualni);
int8_t barva_radku(const menu_stav& st, int i);
bool skok_na_pismeno(menu_stav& st, int cislice, int& posl_cislice, int& cyklus);
void sestav_prvni_znak(const char* const* polozky, int pocet);

}  // namespace

std::array<int32_t, 36> prvni_znak{};

const std::array<std::array<int32_t, 5>, 10> klavesnice{{
    {0, -1, -1, -1, -1},
    {1, -1, -1, -1, -1},
    {10, 11, 12, 2, -1},
    {13, 14, 15, 3, -1},
    {16, 17, 18, 4, -1},
    {19, 20, 21, 5, -1},
    {22, 23, 24, 6, -1},
    {25, 26, 27, 28, 7},
    {29, 30, 31, 8, -1},
    {32, 33, 34, 35, 9},
}};

list_rozmery fb_list_rozmery(int pocet, int sirka) {
    const int lh = vyska_radku[0];
    list_rozmery r{};
    r.radku = pocet <= kRadkuNaStranu ? pocet : kRadkuNaStranu;
    r.vyska = r.radku * lh;
    r.sirka = std::min(sirka, kMaxZnaku) * 20;
    if (sx + r.sirka + 100 >= ex) r.sirka = ex - sx - 88;
    if (sy + lh + r.vyska + 88 >= ey) {
        r.vyska = ey - sy - lh - 104;
        // Rows keep their height, so a shorter list area holds fewer of them: a row
        // drawn past it would lie under the window frame.
        if (lh > 0) r.radku = std::clamp(r.vyska / lh, 1, r.radku);
    }
    return r;
}

int fb_list_menu(const char* nazev, int pocet, int sirka, const char* const* polozky, char* znacky,
                 int rezim) {
    if (pocet < 1) return -1;
    if (rezim != 0) sestav_prvni_znak(polozky, pocet);
    if (znacky != nullptr) std::fill(znacky, znacky + pocet, 0);
    fb_smaz_titobr();

    menu_stav st{};
    st.polozky = polozky;
    st.znacky = znacky;
    st.pocet = pocet;
    st.lh = vyska_radku[0];
    st.roz = fb_list_rozmery(pocet, sirka);
    const int R = st.roz.radku;
    st.rounded_count = (int64_t{pocet} + R - 1) / R * R;
    st.posl_v = -1;
    const int W = st.roz.sirka;
    const int H = st.roz.vyska;

    if (pocet <= R) {
        fb_okno(40, 80, H + 8, W + 8, kBarvaPodkladu, 4, nazev, 7);
    } else {
        fb_okno(40, 80, H + 8, W + 34, kBarvaPodkladu, 4, nazev, 7);
        fb_box(W + 48, 108, H - 50, 20, 2, kBarvaPodkladu, 7);
        fb_ZobrString("\x1a", 0, sx + W + 48, sy + 108, 1, 20, 7);
        fb_ZobrString("\x1b", 0, sx + W + 48, sy + H + 84, 1, 20, 7);
        st.palec = std::max<int>(2, static_cast<int>(R * int64_t{H - 54} / st.rounded_count));
    }
    kresli(st);

    int pocet_znacek = 0;
    int posl_cislice = -1;
    int cyklus = 0;
    int vysledek = 0;
    for (bool konec = false; !konec;) {
        const int kod = rc_cekej_klavesu();
        const int v = R * (st.p / R);
        switch (kod) {
            case KEY_UP:
                if (st.p > 0) --st.p;
                kresli(st);
                break;
            case KEY_DOWN:
                if (st.p < pocet - 1) ++st.p;
                kresli(st);
                break;
            case KEY_LEFT:
                st.p = (st.p == v && st.p > 0) ? st.p - 1 : v;
                kresli(st);
                break;
            case KEY_RIGHT:
                st.p = (st.p % R == R - 1) ? st.p + 1 : v + R - 1;
                if (st.p >= pocet) st.p = pocet - 1;
                kresli(st);
                break;
            case KEY_OK:
            case KEY_GREEN:
                vysledek = pocet_znacek > 0 ? -5 : st.p;
                konec = true;
                break;
            case KEY_EXIT:
            case KEY_RED:
                vysledek = -1;
                konec = true;
                break;
            case KEY_YELLOW:
                if (rezim & 2) {
                    vysledek = -3;
                    konec = true;
                }
                break;
            case KEY_BLUE:
                if (znacky != nullptr) {
                    char& z = znacky[st.p];
                    z = z == 1 ? 0 : 1;
                    pocet_znacek += z == 1 ? 1 : -1;
                    kresli(st);
                }
                break;
            case KEY_1:
            case KEY_2:
            case KEY_3:
            case KEY_4:
            case KEY_5:
            case KEY_6:
            case KEY_7:
            case KEY_8:
            case KEY_9:
            case KEY_0:
                if (rezim != 0 &&
                    skok_na_pismeno(st, kod == KEY_0 ? 0 : kod - KEY_1 + 1, posl_cislice, cyklus)) {
                    kresli(st);
                }
                break;
            default:
                break;
        }
    }
    rc_vyprazdni(kPauzaKonec);
    fb_smaz_titobr();
    return vysledek;
}

namespace {

// Within the page drawn last only the old and the new current row are redrawn, so a
// key costs two rows however long the list is; a new page redraws rows and scroll bar.
void kresli(menu_stav& st) {
    const int R = st.roz.radku;
    const int W = st.roz.sirka;
    const int H = st.roz.vyska;
    const int v = R * (st.p / R);
    if (v == st.posl_v) {
        kresli_radek(st, st.posl_p, v, false);
        kresli_radek(st, st.p, v, true);
    } else {
        // A plain fill rather than a box: a box leaves its rightmost column to its
        // bars, and a row's highlight bar colours that column.
        fb_vypln(0, sx + 44, sy + 84, W, H - 2, kBarvaPodkladu);
        for (int i = 0; i < R && v + i < st.pocet; ++i) {
            if (v + i == st.p) {
                kresli_radek(st, v + i, v, true);
            } else {
                fb_zobraz_orezany(st.polozky[v + i], sx + 46, sy + 108 + i * st.lh, W,
                                  barva_radku(st, v + i));
            }
        }
        if (st.pocet > R) {
            fb_box(W + 50, 110, H - 54, 16, 1, kBarvaPodkladu, kBarvaPodkladu);
            const auto posun = static_cast<int>(int64_t{H - 54} * v / st.rounded_count);
            fb_box(W + 50, 110 + posun, st.palec, 16, 1, 7, 7);
        }
    }
    st.posl_v = v;
    st.posl_p = st.p;
}

// Row i of the page starting at v: the highlight bar and black text when current,
// else the plain background and the text in the row's colour.
void kresli_radek(const menu_stav& st, int i, int v, bool aktualni) {
    const int y = (i - v) * st.lh;
    const int8_t k = barva_radku(st, i);
    if (aktualni) {
        fb_box(44, 84 + y, st.lh, st.roz.sirka, 1, k, k);
    } else {
        fb_box(44, 84 + y, st.lh, st.roz.sirka, 1, kBarvaPodkladu, kBarvaPodkladu);
    }
    fb_zobraz_orezany(st.polozky[i], sx + 46, sy + 108 + y, st.roz.sirka, aktualni ? 0 : k);
}

int8_t barva_radku(const menu_stav& st, int i) {
    return (st.znacky != nullptr && st.znacky[i] == 1) ? kBarvaZnacky : kBarvaRadku;
}

// Moves the highlight to the first item whose initial is the next keypad character of
// the digit; returns whether it moved.
bool skok_na_pismeno(menu_stav& st, int cislice, int& posl_cislice, int& cyklus) {
    const auto& radek = klavesnice[static_cast<size_t>(cislice)];
    const int s = cislice == posl_cislice ? cyklus : 0;
    int cil = -1;
    for (int t = 0; t < 5 && cil < 0; ++t) {
        const int e = (s + t) % 5;
        cyklus = (e + 1) % 5;
        const int32_t slot = radek[static_cast<size_t>(e)];
        if (slot != -1 && prvni_znak[static_cast<size_t>(slot)] != 0) {
            cil = prvni_znak[static_cast<size_t>(slot)] - 1;
        }
    }
    posl_cislice = cislice;
    if (cil < 0 || cil == st.p) return false;
    st.p = cil;
    return true;
}

void sestav_prvni_znak(const char* const* polozky, int pocet) {
    prvni_znak.fill(0);
    for (int i = 0; i < pocet; ++i) {
        const auto b = static_cast<unsigned char>(polozky[i][0]);
        int slot = -1;
        if (b >= 'a' && b <= 'z') {
            slot = b - 87;
        } else if (b >= 'A' && b <= 'Z') {
            slot = b - 55;
        } else if (b >= '0' && b <= '9') {
            slot = b - 48;
        }
        if (slot >= 0 && prvni_znak[static_cast<size_t>(slot)] == 0) {
            prvni_znak[static_cast<size_t>(slot)] = i + 1;
        }
    }
}

}  // namespace
