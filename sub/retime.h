// Moving every subtitle time in integer arithmetic (the box has no FPU): a shift, and
// a correction of the file's own times by a rate given as a fraction and a shift.
//
// The caller holds subtitles_mutex (the clock's tmr_apply_map and tmr_shift_all do,
// and set the end of the film and the index for the new times in the same hold).
#pragma once

#include <cstdint>
#include <span>

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
struct subtitle;
// Puts each of records on map applied to its own times; false when there are none.
bool sub_map_records(std::span<subtitle> records, const time_map& map);
// Puts every loaded subtitle on map applied to its own times (as the file gave them),
// and the bound of a typed time with them; false when nothing is loaded.
bool sub_apply_map_locked(const time_map& map);
// Moves every subtitle time by delta_ms (held at 0 and 2^32 - 1), and the bound of a
// typed time with them; false when nothing is loaded.
bool sub_shift_all_locked(int64_t delta_ms);
// Puts every second-language subtitle on map applied to its own times, and keeps the
// map (second_map) for the memory of the first file; false when none is loaded.
bool sub_map_second_locked(const time_map& map);
// The correction the second language's times were put on last (sub_map_second_locked);
// none after a load. Main thread.
extern time_map second_map;
