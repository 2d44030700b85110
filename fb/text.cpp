// String drawing: UTF-8 decoding, the measuring pass, alignment, the right limit,
// the background box of subtitle lines, inline colour codes and symbol pictures.
#include "fb/text.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/symbols.h"

namespace {

constexpr uint32_t kBarva = 0x0B;      // colour change; the next byte is its argument
constexpr uint32_t kZpetBarva = 0x0C;  // back to the colour before the last change
// Symbol pictures stand on the baseline: their 21 rows end just above it.
constexpr int32_t kVyskaSymbolu = 21;
// Colour of a screen colour code whose argument is not 1..8.
constexpr int8_t kNahradniBarva = 6;
// Advance of a character the font has no glyph for.
constexpr int32_t kBezGlyfu = std::numeric_limits<int32_t>::min();

}  // namespace

const std::array<uint8_t, 3> barvy_pozadi{8, 11, 0};

namespace {

int32_t omez(int64_t v);
int8_t barva_kodu(uint8_t cil, uint8_t argument);
text_piece measure(const unsigned char* s, size_t n, size_t from, uint8_t cil, int32_t x,
                   int32_t sirka, bool breaking);
size_t after_spaces(const unsigned char* s, size_t n, size_t i);
size_t after_next_space(const unsigned char* s, size_t n, size_t i);

}  // namespace

int32_t utf2long(const unsigned char* s, uint32_t* kod) {
    const uint32_t b0 = s[0];
    if (b0 < 0x80) {
        *kod = b0;
        return 1;
    }
    // b0 is not the terminator, so s[1] is still part of the string (at worst its NUL).
    const uint32_t b1 = s[1];
    if (b0 < 0xE0) {
        *kod = ((b0 & 0x1F) << 6) | (b1 & 0x3F);
        return 2;
    }
    // A sequence cut off by the terminator: its length exceeds the bytes left, and the
    // caller skips the lead byte; the byte after the NUL is not read.
    const uint32_t b2 = b1 != 0 ? s[2] : 0;
    *kod = ((b0 & 0x1F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
    return 3;
}

int32_t fb_ZobrString(const char* text, uint8_t cil, int32_t x, int32_t y, int32_t zarovnani,
                      int32_t sirka, int8_t barva) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    if (barva > 7) barva = 7;
    const text_piece piece = measure(s, std::strlen(text), 0, cil, x, sirka, false);
    text_colours colours{barva, barva};
    return fb_draw_piece(text, piece, cil, x, y, zarovnani, sirka, colours);
}

size_t fb_split_line(const char* text, uint8_t cil, int32_t x, int32_t sirka,
                     std::span<text_piece> pieces) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const size_t n = std::strlen(text);
    size_t count = 0;
    size_t from = 0;
    while (count < pieces.size()) {
        const bool last = count + 1 == pieces.size();
        const text_piece piece = measure(s, n, from, cil, x, sirka, !last);
        // A rest of colour codes alone shows nothing: no empty box for it.
        if (count > 0 && piece.advance == 0 && piece.reach == 0) break;
        pieces[count++] = piece;
        if (piece.rest >= n) break;
        from = piece.rest;
    }
    return count;
}

int32_t fb_draw_piece(const char* text, const text_piece& piece, uint8_t cil, int32_t x, int32_t y,
                      int32_t zarovnani, int32_t sirka, text_colours& colours) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const bool do_bb = cil == 1;
    relaxed<uint32_t>& posl_glyf = do_bb ? posl_glyf_bb : posl_glyf_fb;
    const int64_t m = piece.advance;
    const int64_t dosah = piece.reach;

    if (zarovnani == 1 && m < sirka) x = omez(x + (sirka - m) / 2);
    if (zarovnani == 2 && m < sirka) x = omez(x + (sirka - m));

    // The right limit of the drawing pass. The fit test leaves kerning out, so a last
    // glyph kerned to the left reaches past the pen x + m; the limit lies just past
    // everything the measuring pass accepted, so that the drawing pass draws exactly
    // the glyphs measured. ex cuts when the text as measured reaches it.
    const int32_t okraj = ex;
    int32_t konec = omez(x + m + 1);
    konec = konec > okraj ? okraj : omez(x + std::max(m, dosah) + 1);

    posl_glyf = 0;
    if (do_bb) {
        const int32_t t = transp;
        const int32_t z = zoom;
        if (t >= 1 && t <= 2 && z >= 0 && z <= 7) {
            const int32_t h = velikosti_fontu[z][0];
            fb_vypln(1, x, omez(static_cast<int64_t>(y) - h + 1),
                     omez(static_cast<int64_t>(konec) - x), vyska_radku[z] - 3, barvy_pozadi[t]);
        }
    }
    uint32_t predchozi = 0;

    // Drawing pass. The piece ends on a character boundary of the measuring pass, so
    // its end serves as the string's end for the sequence test.
    const size_t n = piece.end;
    int8_t& aktualni = colours.current;
    int8_t& ulozena = colours.saved;
    for (size_t i = piece.from; i < n;) {
        uint32_t kod = 0;
        const size_t delka = static_cast<size_t>(utf2long(s + i, &kod));
        if (delka > n - i) {
            i += 1;
            continue;
        }
        if (kod >= 0x20) {
            const int32_t r = fb_zobraz_znak_po(cil, kod, x, y, konec, aktualni, predchozi);
            if (r == -1) break;
            x = omez(static_cast<int64_t>(x) + r);
        } else if (kod == kZpetBarva) {
            aktualni = ulozena;
        } else if (kod == kBarva) {
            // The argument is the next byte; at the end of the string it is the terminator.
            const int8_t nova = barva_kodu(cil, s[i + 1]);
            ulozena = aktualni;
            aktualni = nova;
            i += 1;
        } else if (kod != 0) {
            const int32_t r =
                fb_zobraz_ff_znak(cil, static_cast<uint8_t>(kod), x,
                                  omez(static_cast<int64_t>(y) - kVyskaSymbolu), konec, aktualni);
            x = omez(static_cast<int64_t>(x) + r);
            predchozi = 0;
            posl_glyf = 0;
        }
        i += delka;
    }
    return x;
}

namespace {

int32_t omez(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// The measuring pass over s[from, n) at x with sirka pixels of room. m is the pen
// advance; dosah the furthest point the fit test reached (pen before kerning +
// advance), which lies beyond m when the last glyph kerns to the left. It stops at
// the first glyph that does not fit. With breaking, a text that does not fit ends
// before the last space at which everything before it fit, or, when a word alone
// is too wide, is clipped there and goes on after the next space.
text_piece measure(const unsigned char* s, size_t n, size_t from, uint8_t cil, int32_t x,
                   int32_t sirka, bool breaking) {
    relaxed<uint32_t>& posl_glyf = cil == 1 ? posl_glyf_bb : posl_glyf_fb;
    // This string's own previous glyph: kerning never reaches across strings, nor
    // into text the other thread is drawing at the same time.
    uint32_t predchozi = 0;
    posl_glyf = 0;

    int64_t m = 0;
    int64_t dosah = 0;
    const int32_t mez = omez(static_cast<int64_t>(x) + sirka);
    size_t konec_mereni = n;
    // The last place to break: the first space of a run that follows something shown.
    size_t zlom = n;
    int64_t m_zlom = 0;
    int64_t dosah_zlom = 0;
    bool neco = false;
    bool po_mezere = false;
    for (size_t i = from; i < n;) {
        uint32_t kod = 0;
        const size_t delka = static_cast<size_t>(utf2long(s + i, &kod));
        if (delka > n - i) {
            i += 1;
            continue;
        }
        if (kod >= 0x20) {
            if (kod == ' ' && breaking && neco && !po_mezere) {
                zlom = i;
                m_zlom = m;
                dosah_zlom = dosah;
            }
            int32_t postup = kBezGlyfu;
            const int32_t r =
                fb_zobraz_znak_po(cil, kod, omez(x + m), 0, mez, -1, predchozi, &postup);
            if (r == -1) {
                konec_mereni = i;
                break;
            }
            if (postup != kBezGlyfu) dosah = std::max(dosah, m + postup);
            m += r;
            po_mezere = kod == ' ';
            neco = neco || !po_mezere;
        } else if (kod == kBarva) {
            i += 1;  // the argument byte
        } else if (kod != 0 && kod != kZpetBarva) {
            const int32_t r =
                fb_zobraz_ff_znak(cil, static_cast<uint8_t>(kod), omez(x + m), 0, mez, -1);
            m += r;
            predchozi = 0;
            posl_glyf = 0;
            neco = neco || r != 0;
            po_mezere = false;
        }
        i += delka;
    }

    text_piece piece{from, konec_mereni, n, omez(m), omez(dosah)};
    if (konec_mereni == n || !breaking) return piece;
    if (zlom < n) {
        piece.end = zlom;
        piece.rest = after_spaces(s, n, zlom);
        piece.advance = omez(m_zlom);
        piece.reach = omez(dosah_zlom);
    } else {
        piece.rest = after_next_space(s, n, konec_mereni);
    }
    return piece;
}

// The first byte after the run of spaces at i.
size_t after_spaces(const unsigned char* s, size_t n, size_t i) {
    while (i < n && s[i] == ' ') ++i;
    return i;
}

// The first byte after the next run of spaces from character i on; n when there is none.
// Colour arguments are skipped: an argument byte 0x20 is no space.
size_t after_next_space(const unsigned char* s, size_t n, size_t i) {
    while (i < n) {
        if (s[i] == ' ') return after_spaces(s, n, i);
        if (s[i] == kBarva) ++i;
        ++i;
    }
    return n;
}

int8_t barva_kodu(uint8_t cil, uint8_t argument) {
    if (cil != 0) {
        const int32_t schema = barva_tit & 3;
        return static_cast<int8_t>(barvy_tit[static_cast<size_t>(schema)][argument & 3]);
    }
    if (argument >= 1 && argument <= 8) return static_cast<int8_t>(argument - 1);
    return kNahradniBarva;
}

}  // namespace
