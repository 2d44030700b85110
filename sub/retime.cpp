// Integer retiming of the loaded subtitles.
#include "sub/retime.h"

#include <algorithm>
#include <mutex>

#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

uint32_t held_in_range(int64_t t);
void after_retime();

}  // namespace

uint32_t sub_map_time(uint32_t own, const time_map& map) {
    if (map.den == 0) return own;
    // Rounded to nearest: own * num fits in 63 bits (num <= 2^30).
    const int64_t scaled = (int64_t{own} * map.num + map.den / 2) / map.den;
    return held_in_range(scaled + map.shift_ms);
}

void sub_apply_map(const time_map& map) {
    {
        std::lock_guard lock(subtitles_mutex);
        subtitle* records = subtitles;
        const int32_t count = subtitle_count;
        if (records == nullptr || count <= 0) return;
        for (int32_t i = 0; i < count; ++i) {
            records[i].start_ms = sub_map_time(records[i].own_start, map);
            records[i].end_ms = sub_map_time(records[i].own_end, map);
        }
        after_retime();
    }
    tmr_wake();
}

void sub_shift_all(int64_t delta_ms) {
    {
        std::lock_guard lock(subtitles_mutex);
        subtitle* records = subtitles;
        const int32_t count = subtitle_count;
        if (records == nullptr || count <= 0) return;
        for (int32_t i = 0; i < count; ++i) {
            records[i].start_ms = held_in_range(int64_t{records[i].start_ms} + delta_ms);
            records[i].end_ms = held_in_range(int64_t{records[i].end_ms} + delta_ms);
        }
        after_retime();
    }
    tmr_wake();
}

namespace {

uint32_t held_in_range(int64_t t) {
    return static_cast<uint32_t>(std::clamp<int64_t>(t, 0, int64_t{UINT32_MAX}));
}

// As after a frame-rate rescale: the end of the film and the bound of a typed time
// move with the records, and the index is found again for the clock's time, which
// stays where it is. subtitles_mutex is held.
void after_retime() {
    const subtitle* records = subtitles;
    last_end_ms = static_cast<int32_t>(records[subtitle_count - 1].end_ms);
    tmr_set_film_end_locked();
    tmr_find_position_locked();
}

}  // namespace
