// STUB: to be replaced.
#include "tmr/time_entry.h"
char cas_text[18] = " Tijd: -u --m --s";
int32_t cas_poz = -1;
int32_t cas_zadany;
const std::array<int32_t, 5> cas_pozice{15, 14, 11, 10, 7};
const std::array<int32_t, 5> cas_max{9, 5, 9, 5, 3};
const std::array<int32_t, 5> cas_nasobek{1, 10, 60, 600, 3600};
void rc_cas(int) {}
