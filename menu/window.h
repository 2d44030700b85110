// Windows, the yes/no dialog and the numbered error box, and the small helpers
// every modal screen shares (key drains and waits, text cut at a field's edge).
// Main thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// One row of the error table: type (2: shown 100 ms, 3: until a key), message,
// height in text lines, width in units of 20 pixels.
struct chyba_radek {
    int32_t typ;
    const char* zprava;
    int32_t radku;
    int32_t sirka;
};
// Rows for error numbers 1..11 (index 0 is number 1).
extern const std::array<chyba_radek, 11> chyby;

void fb_okno(int x, int y, int vyska, int sirka, int8_t vypln, int8_t ramecek, const char* nazev,
             int8_t barva_ikony);
// 1 for yes, 0 for no.
int fb_dialog(int radku, int sirka, const char* otazka);
void fb_error_box(int cislo);

// Width in pixels of the dialog body that fb_dialog draws for this question and width
// (units of 20 pixels): widened to fit the question, never past ex.
int fb_dialog_sirka(int sirka, const char* otazka);
// Width in pixels of the body of error box cislo (1..11), narrowed to end at ex.
int fb_error_sirka(int cislo);

// Lays text out on the screen as the string drawer would from x, within sirka pixels
// and never past ex, with symbol pictures held to the same edge. Returns the pixels
// taken by the characters that fit; *delka (if given) receives their length in bytes.
int32_t fb_zmer_text(const char* text, int32_t x, int32_t sirka, size_t* delka);
// Draws text left-aligned on the screen at (x, baseline y), cut at x + sirka (and ex):
// unlike the string drawer alone, symbol pictures are cut there too.
void fb_zobraz_orezany(const char* text, int32_t x, int32_t y, int32_t sirka, int8_t barva);

// Reads and drops pending keys, sleeping pauza_us between reads, until none is left.
void rc_vyprazdni(int pauza_us);
// Polls every 10 ms until a key arrives and returns its code.
int rc_cekej_klavesu();
