// STUB: to be replaced.
#include "menu/menus.h"
void rc_fps_menu() {}
