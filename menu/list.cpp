// STUB: to be replaced.
#include "menu/list.h"
std::array<int32_t, 36> prvni_znak{};
const std::array<std::array<int32_t, 5>, 10> klavesnice{};
int fb_list_menu(const char*, int, int, const char* const*, char*, int) { return -1; }
