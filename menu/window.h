// Windows, the yes/no dialog and the numbered error box.
#pragma once

#include <array>
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
