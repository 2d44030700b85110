// STUB: to be replaced.
#include "menu/window.h"
const std::array<chyba_radek, 11> chyby{};
void fb_okno(int, int, int, int, int8_t, int8_t, const char*, int8_t) {}
int fb_dialog(int, int, const char*) { return 0; }
void fb_error_box(int) {}
