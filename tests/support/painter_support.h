// Subtitle records and back-buffer inspection for the painter's tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "sub/subtitles.h"

namespace testsup {

// A record with the given lines and flags, shown from 0 to 1000 ms.
subtitle make_record(std::initializer_list<const char*> lines, int32_t flags);
subtitle make_record(const std::vector<std::string>& lines, int32_t flags);

// Bounding box of the back-buffer pixels equal to v; empty() when there are none.
struct bb_bounds {
    int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
};
bb_bounds bb_find(uint32_t v);
// Distinct pixel values of back-buffer rows [top, bottom).
std::set<uint32_t> bb_values(int32_t top, int32_t bottom);
// Whether the screen shows the back buffer with line 0 at screen line `line`,
// as far as the mapping reaches.
bool screen_shows_bb_at(int64_t line);
// Screen line at which band target bb_targets[position] lies.
int64_t target_line(int position);

}  // namespace testsup
