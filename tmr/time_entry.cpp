// Direct time entry: five digits typed on the remote, hours down to seconds; the
// fifth makes the clock jump to the subtitle at that time.
#include "tmr/time_entry.h"

#include <cstdint>

#include "fb/status.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

constexpr const char* kTemplate = " Tijd: -u --m --s";
constexpr int32_t kFirstPlace = 4;
constexpr int64_t kMsPerSecond = 1000;

void clear_digits();

}  // namespace

char entry_text[18] = " Tijd: -u --m --s";
int32_t entry_place = -1;
int32_t entry_value = 0;
const std::array<int32_t, 5> entry_places{15, 14, 11, 10, 7};
const std::array<int32_t, 5> entry_max{9, 5, 9, 5, 3};
const std::array<int32_t, 5> entry_factors{1, 10, 60, 600, 3600};

void tmr_enter_digit(int digit) {
    if (entry_place < 0) {
        clear_digits();
        entry_value = 0;
        entry_place = kFirstPlace;
    }
    if (digit < 0 || digit > entry_max[entry_place]) {
        entry_place = -1;
        fb_clear_status();
        return;
    }
    entry_text[entry_places[entry_place]] = static_cast<char>('0' + digit);
    entry_value += digit * entry_factors[entry_place];
    fb_show_status(entry_text);
    entry_place -= 1;
    if (entry_place >= 0) return;

    // The typed film time in subtitle time; wide enough for any time_offset_ms.
    int64_t ms = entry_value * kMsPerSecond - time_offset_ms;
    if (ms < 0) ms = 0;
    entry_value = ms < INT32_MAX ? static_cast<int32_t>(ms) : INT32_MAX;
    if (ms < last_end_ms) {
        tmr_go_to_time(entry_value);
    } else {
        clear_digits();
        fb_clear_status();
    }
}

namespace {

// Puts "-" back at the five digit places.
void clear_digits() {
    for (int32_t place : entry_places) entry_text[place] = kTemplate[place];
}

}  // namespace
