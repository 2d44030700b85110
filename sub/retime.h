// Moving every subtitle time in integer arithmetic (the box has no FPU): a shift, and
// a correction of the file's own times by a rate given as a fraction and a shift.
//
// Main thread only; each call holds subtitles_mutex while it rewrites the records, and
// afterwards the end of the film, the bound of a typed time and the clock's index
// follow the new times.
#pragma once

#include <cstdint>

// A correction of the file's own times: t = own * num / den + shift_ms, rounded to
// the nearest ms and held within 0 .. 2^32 - 1. num and den are at most kMaxTerm.
struct time_map {
    int64_t shift_ms = 0;
    uint32_t num = 1;
    uint32_t den = 1;

    friend bool operator==(const time_map&, const time_map&) = default;
};

// The largest numerator or denominator of a rate: a 32-bit time times it fits in 63 bits.
inline constexpr uint32_t kMaxTerm = uint32_t{1} << 30;

// One own time through the map.
uint32_t sub_map_time(uint32_t own, const time_map& map);
// Puts every loaded subtitle on map applied to its own times (as the file gave them).
void sub_apply_map(const time_map& map);
// Moves every subtitle time by delta_ms (held at 0 and 2^32 - 1).
void sub_shift_all(int64_t delta_ms);
