// Filled rectangles, framed boxes and the two palettes.
//
// Both primitives clip to the target buffer before they write: columns to the
// line (px_na_radek pixels, so a fill past the right end never wraps into the next
// line), rows to the whole lines the buffer holds. Callers such as the widest
// error boxes reach past the end of a line; the arithmetic must never carry them
// outside the mapping or the back buffer.
#include "fb/primitives.h"

#include <algorithm>
#include <mutex>
#include <span>

#include "fb/screen.h"
#include "fb/status.h"

namespace {

constexpr int kBarev = 12;

}  // namespace

const std::array<std::array<uint32_t, 12>, 2> palety{{
    {0xff000000, 0xffa80000, 0xff00a800, 0xffa8a800, 0xff0000a8, 0xffa800a8, 0xff00a8a8, 0xffa8a8a8,
     0x00000000, 0xff002040, 0x30001020, 0xb0666666},
    {0xff000000, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff,
     0x00000000, 0xff002040, 0x30001020, 0xb0222222},
}};
relaxed<const uint32_t*> paleta{palety[0].data()};
relaxed<int8_t> paleta_idx{0};

namespace {

void vypln(uint8_t cil, int64_t x, int64_t y, int64_t sirka, int64_t vyska, int barva);
bool platna_barva(int barva);

}  // namespace

void fb_vypln(uint8_t cil, int x, int y, int sirka, int vyska, int barva) {
    vypln(cil, x, y, sirka, vyska, barva);
}

void fb_box(int x, int y, int vyska, int sirka, int styl, int8_t vypln_barva, int8_t ramecek) {
    int64_t bx = int64_t{sx} + x;
    int64_t by = int64_t{sy} + y;
    int64_t w = sirka;
    int64_t h = vyska;
    bool ram_plati = platna_barva(ramecek);
    uint32_t f = ram_plati ? paleta.load()[ramecek] : 0;
    int pruh = styl == 1 ? vypln_barva : ramecek;

    vypln(0, bx, by, w, 2, pruh);
    if (styl != 2) vypln(0, bx + 2, by + 2, w - 4, h - 4, vypln_barva);

    // The sides start on the top row, over the top bar, and stop two rows above
    // the bottom edge; the rightmost column belongs to the bars only.
    if (h - 4 > 0 && ram_plati) {
        std::span<uint32_t> px = fb_pixely(0);
        int64_t radek = px_na_radek;
        if (radek > 0) {
            int64_t radku = static_cast<int64_t>(px.size()) / radek;
            int64_t r0 = std::max<int64_t>(by, 0);
            int64_t r1 = std::min<int64_t>(by + h - 5, radku - 1);
            const int64_t sloupce[4] = {bx, bx + 1, bx + w - 2, bx + w - 1};
            std::lock_guard zamek(znak_mutex);
            fb_screen_rows_drawn(r0, r1 + 1);
            for (int64_t r = r0; r <= r1; ++r) {
                for (int64_t s : sloupce) {
                    if (s >= 0 && s < radek) px[static_cast<size_t>(r * radek + s)] = f;
                }
            }
        }
    }

    vypln(0, bx, by + h - 4, w, 2, pruh);
}

void fb_zmen_paletu() {
    paleta_idx = static_cast<int8_t>((paleta_idx + 1) & 1);
    paleta = palety[static_cast<size_t>(paleta_idx.load())].data();
    fb_info_paletka();
}

namespace {

// Columns x..x+sirka inclusive, rows y..y+vyska-1, in 64 bits so that no argument
// can overflow on its way to the clip.
void vypln(uint8_t cil, int64_t x, int64_t y, int64_t sirka, int64_t vyska, int barva) {
    if (sirka <= 0 || vyska <= 0 || !platna_barva(barva)) return;
    uint32_t p = paleta.load()[barva];
    std::span<uint32_t> px = fb_pixely(cil);
    int64_t radek = px_na_radek;
    if (radek <= 0) return;
    int64_t radku = static_cast<int64_t>(px.size()) / radek;
    int64_t x0 = std::max<int64_t>(x, 0);
    int64_t x1 = std::min<int64_t>(x + sirka, radek - 1);
    int64_t y0 = std::max<int64_t>(y, 0);
    int64_t y1 = std::min<int64_t>(y + vyska - 1, radku - 1);
    if (x0 > x1 || y0 > y1) return;
    std::lock_guard zamek(znak_mutex);
    if (cil == 0) {
        fb_screen_rows_drawn(y0, y1 + 1);
    } else {
        fb_bb_rows_drawn(y0, y1 + 1);
    }
    for (int64_t r = y0; r <= y1; ++r) {
        std::fill_n(px.begin() + r * radek + x0, x1 - x0 + 1, p);
    }
}

// The palette has 12 entries; an index outside them draws nothing rather than
// reading past the table.
bool platna_barva(int barva) {
    return barva >= 0 && barva < kBarev;
}

}  // namespace
