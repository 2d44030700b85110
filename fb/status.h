// The status line: a 32-line strip at the top of the usable area with a message
// on the left and the state icons (clock, palette, zoom) on the right.
#pragma once

#include <cstdint>

#include "app/relaxed.h"

// Status-line countdown in main-loop passes; -1 = not shown. Both threads set it.
extern relaxed<int32_t> infol;

void fb_zobr_info(const char* zprava);
void fb_info_time(uint32_t ms);
void fb_info_paletka();
void fb_smaz_info();
