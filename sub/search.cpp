// STUB: to be replaced.
#include "sub/subtitles.h"
int32_t sub_najdi_titulek(uint32_t, int32_t) { return 0; }
