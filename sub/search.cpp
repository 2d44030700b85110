// Finding the subtitle that belongs to a film time.
#include <cstdint>

#include "sub/subtitles.h"

namespace {

bool contains(const subtitle& t, uint32_t time_ms) {
    return t.start_ms <= time_ms && time_ms <= t.end_ms;
}

}  // namespace

int32_t sub_find(uint32_t time_ms, int32_t hint) {
    const subtitle* records = subtitles;
    int32_t count = subtitle_count;
    if (records == nullptr || count <= 0) return 0;
    // The clock usually asks for the subtitle right after the one it knows.
    if (hint >= 0 && hint < count - 1 && contains(records[hint + 1], time_ms)) return hint + 1;
    int64_t lo = 0;
    int64_t hi = count - 1;
    while (lo <= hi) {
        int64_t mid = (lo + hi + 1) / 2;
        if (time_ms < records[mid].start_ms) {
            hi = mid - 1;
        } else if (records[mid].end_ms < time_ms) {
            lo = mid + 1;
        } else {
            return static_cast<int32_t>(mid);
        }
    }
    // The first record that starts after time_ms; the count when time_ms is past the last.
    return static_cast<int32_t>(lo);
}
