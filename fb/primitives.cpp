// STUB: to be replaced.
#include "fb/primitives.h"
const std::array<std::array<uint32_t, 12>, 2> palety{};
relaxed<const uint32_t*> paleta{palety[0].data()};
relaxed<int8_t> paleta_idx;
void fb_vypln(uint8_t, int, int, int, int, int) {}
void fb_box(int, int, int, int, int, int8_t, int8_t) {}
void fb_zmen_paletu() {}
