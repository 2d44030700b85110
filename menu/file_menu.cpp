// STUB: to be replaced.
#include "menu/menus.h"
int rc_file_menu() { return -1; }
int smaz_cestu(const char*) { return -1; }
