// Direct time entry: five digits typed on the remote, hours down to seconds.
#pragma once

#include <array>
#include <cstdint>

// The entry's display text, " Tijd: -u --m --s".
extern char entry_text[18];
// Entry position 4 (hours) .. 0 (seconds); -1 when no entry is in progress.
extern int32_t entry_place;
// Entered time: seconds while typing, ms after the last digit.
extern int32_t entry_value;
extern const std::array<int32_t, 5> entry_places;
extern const std::array<int32_t, 5> entry_max;
extern const std::array<int32_t, 5> entry_factors;

void tmr_enter_digit(int digit);
