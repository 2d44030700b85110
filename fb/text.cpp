// STUB: to be replaced.
#include "fb/text.h"
const std::array<uint8_t, 3> barvy_pozadi{8, 11, 0};
int32_t utf2long(const unsigned char*, uint32_t* kod) { *kod = 0; return 1; }
int32_t fb_ZobrString(const char*, uint8_t, int32_t x, int32_t, int32_t, int32_t, int8_t) { return x; }
