// The subtitle painter and the three subtitle styles.
//
// A paint clears the back buffer, composes the lines into it and puts it on the
// band, writing only the screen rows that change. A line too wide for the band at
// the current text size goes on in the next screen line, so that a viewer who turns
// the size up still reads the whole sentence. Both threads paint (the subtitle
// thread in time, the main thread after a style change), so the whole paint runs
// under kresleni_mutex: the two can never mix their clears, lines and copies.
#include "fb/painter.h"

#include <algorithm>
#include <mutex>

#include "fb/glyph.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "fb/text.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

constexpr int32_t kNahore = 0x100;
constexpr int32_t kKonecDilu = 0x200;
constexpr int32_t kRadku = 4;
constexpr const char* kZpravaKonecDilu = "Volgende deel ondertitels. Ga verder \x0e\x0f";

}  // namespace

const std::array<std::array<int32_t, 4>, 4> barvy_tit{{
    {3, 7, 6, 2},
    {7, 3, 6, 2},
    {6, 2, 7, 3},
    {2, 6, 3, 7},
}};
relaxed<int32_t> barva_tit{0};
relaxed<int32_t> transp{1};

namespace {

bool nakresli(const titulek* zaznam);
void ukonci_dil();

}  // namespace

void fb_zobraz_titulek(const titulek* zaznam) {
    if (zaznam == nullptr) return;
    std::lock_guard kresleni(kresleni_mutex);
    if (nakresli(zaznam)) ukonci_dil();
}

void fb_zmen_barvu_tit() {
    barva_tit = (barva_tit + 1) & 3;
    if (kreslim == 0) fb_obnov_titulek();
}

// Each change and its repaint happen under the paint lock as one step, so that
// no paint of the other thread sees the state half changed.
void fb_zmen_transp() {
    if (kreslim != 0) return;
    std::lock_guard kresleni(kresleni_mutex);
    transp = (transp + 1) % 3;
    fb_obnov_titulek();
}

void fb_zmen_zoom() {
    if (kreslim != 0) return;
    std::lock_guard kresleni(kresleni_mutex);
    zoom = (zoom + 1) % 8;
    fb_font_nastav_zoom();
    fb_prepocti_pas();
    fb_info_paletka();
    fb_obnov_titulek();
}

// A repaint only redraws: the end of a part was announced when the subtitle was
// first shown, and a restyle must not stop a clock the viewer has started since.
void fb_obnov_titulek() {
    std::lock_guard kresleni(kresleni_mutex);
    const titulek* zaznam = akt_titulek;
    if (titulek_zobrazen != 0 && zaznam != nullptr) nakresli(zaznam);
}

namespace {

// The paint itself, under kresleni_mutex; returns whether the record ends a part.
bool nakresli(const titulek* zaznam) {
    titulek_zobrazen = 1;
    akt_titulek = zaznam;
    int32_t flags = zaznam->flags;
    pozice = (flags & kNahore) != 0 ? 1 : 0;
    // The band is cleared by the copy at the end: the old subtitle stays up while
    // the new one is composed.
    bb_smaz();

    const std::array<int32_t, 4>& schema = barvy_tit[static_cast<size_t>(barva_tit & 3)];

    size_t z = static_cast<size_t>(std::clamp<int32_t>(zoom, 0, 7));
    int32_t vyska_pisma = velikosti_fontu[z][0];
    int32_t radek = vyska_radku[z];
    int32_t radku = std::clamp<int32_t>(zaznam->pocet_radku, 0, kRadku);
    int32_t x = sx + 1;
    int32_t sirka = ex - sx - 2;

    // The record's lines as screen lines: a line wider than the field at this size is
    // broken, but never into more than the four lines the band holds. Each line keeps
    // one screen line for every line after it, so no line is lost for an earlier one.
    std::array<text_piece, kRadku> kusy;
    std::array<int32_t, kRadku> radek_kusu{};
    std::array<const char*, kRadku> texty{};
    size_t pouzito = 0;
    for (int32_t i = 0; i < radku; ++i) {
        texty[static_cast<size_t>(i)] = zaznam->radky[i] ? zaznam->radky[i].get() : "";
        const size_t volno = size_t{kRadku} - pouzito - static_cast<size_t>(radku - 1 - i);
        const size_t k = fb_split_line(texty[static_cast<size_t>(i)], 1, x, sirka,
                                       std::span(kusy).subspan(pouzito, volno));
        std::fill_n(radek_kusu.begin() + static_cast<std::ptrdiff_t>(pouzito), k, i);
        pouzito += k;
    }

    // At the bottom position the last line always sits in the fourth slot.
    int32_t y = vyska_pisma;
    if ((flags & kNahore) == 0) y += (kRadku - static_cast<int32_t>(pouzito)) * radek;
    text_colours barvy{};
    for (size_t j = 0; j < pouzito; ++j) {
        const int32_t i = radek_kusu[j];
        // The pieces of one line go on in the colour state the piece before left.
        if (j == 0 || radek_kusu[j - 1] != i) {
            const auto barva =
                static_cast<int8_t>(schema[static_cast<size_t>((flags >> (2 * i)) & 3)]);
            barvy = {barva, barva};
        }
        fb_draw_piece(texty[static_cast<size_t>(i)], kusy[j], 1, x, y, 1, sirka, barvy);
        y += radek;
    }

    bb_paint_to_fb(pozice);
    return (flags & kKonecDilu) != 0;
}

void ukonci_dil() {
    tmr_zastav();
    fb_zobr_info(kZpravaKonecDilu);
}

}  // namespace
