// STUB: to be replaced.
#include "fb/painter.h"
const std::array<std::array<int32_t, 4>, 4> barvy_tit{};
relaxed<int32_t> barva_tit;
relaxed<int32_t> transp{1};
void fb_zobraz_titulek(const titulek*) {}
void fb_zmen_barvu_tit() {}
void fb_zmen_transp() {}
void fb_zmen_zoom() {}
