// STUB: to be replaced.
#include "menu/menus.h"
int32_t helpt = -1;
int32_t help_strana = 0;
void fb_help_box(int) {}
