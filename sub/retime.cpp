// Integer retiming of the loaded subtitles.
#include "sub/retime.h"

#include <algorithm>

#include "sub/subtitles.h"

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

bool sub_map_records(std::span<subtitle> records, const time_map& map) {
    for (subtitle& r : records) {
        r.start_ms = sub_map_time(r.own_start, map);
        r.end_ms = sub_map_time(r.own_end, map);
    }
    return !records.empty();
}

bool sub_apply_map_locked(const time_map& map) {
    subtitle* records = subtitles;
    const int32_t count = subtitle_count;
    if (records == nullptr || count <= 0) return false;
    sub_map_records({records, static_cast<size_t>(count)}, map);
    after_retime();
    return true;
}

bool sub_shift_all_locked(int64_t delta_ms) {
    subtitle* records = subtitles;
    const int32_t count = subtitle_count;
    if (records == nullptr || count <= 0) return false;
    for (int32_t i = 0; i < count; ++i) {
        records[i].start_ms = held_in_range(int64_t{records[i].start_ms} + delta_ms);
        records[i].end_ms = held_in_range(int64_t{records[i].end_ms} + delta_ms);
    }
    after_retime();
    return true;
}

namespace {

uint32_t held_in_range(int64_t t) {
    return static_cast<uint32_t>(std::clamp<int64_t>(t, 0, int64_t{UINT32_MAX}));
}

// As after a frame-rate rescale: the bound of a typed time moves with the records.
void after_retime() {
    last_end_ms = static_cast<int32_t>(subtitles[subtitle_count - 1].end_ms);
}

}  // namespace
