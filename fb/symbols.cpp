// STUB: to be replaced.
#include "fb/symbols.h"
const std::array<uint8_t, 22 * 42> fixfont{};
int32_t fb_zobraz_ff_znak(uint8_t, uint8_t, int32_t, int32_t, int32_t, int8_t) { return 0; }
