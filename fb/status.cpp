// STUB: to be replaced.
#include "fb/status.h"
relaxed<int32_t> infol{-1};
void fb_zobr_info(const char*) {}
void fb_info_time(uint32_t) {}
void fb_info_paletka() {}
void fb_smaz_info() {}
