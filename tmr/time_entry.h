// Direct time entry: five digits typed on the remote, hours down to seconds.
#pragma once

#include <array>
#include <cstdint>

// The entry's display text, " Tijd: -u --m --s".
extern char cas_text[18];
// Entry position 4 (hours) .. 0 (seconds); -1 when no entry is in progress.
extern int32_t cas_poz;
// Entered time: seconds while typing, ms after the last digit.
extern int32_t cas_zadany;
extern const std::array<int32_t, 5> cas_pozice;
extern const std::array<int32_t, 5> cas_max;
extern const std::array<int32_t, 5> cas_nasobek;

void rc_cas(int cislice);
