// Rescaling every subtitle time by a frame-rate factor.
#include <cstdint>

#include "sub/subtitles.h"

namespace {

// Every time above this is past the range of the 32-bit result.
constexpr float kResultLimit = 4294967296.0f;

uint32_t rescale_time(uint32_t time_ms, float factor);

}  // namespace

bool sub_rescale(const float& factor) {
    subtitle* records = subtitles;
    int32_t count = subtitle_count;
    if (records == nullptr || count <= 0) return false;
    for (int32_t i = 0; i < count; ++i) {
        records[i].start_ms = rescale_time(records[i].start_ms, factor);
        records[i].end_ms = rescale_time(records[i].end_ms, factor);
    }
    // The second language plays against the same film.
    subtitle* second = second_subtitles;
    const int32_t second_n = second_count;
    for (int32_t i = 0; second != nullptr && i < second_n; ++i) {
        second[i].start_ms = rescale_time(second[i].start_ms, factor);
        second[i].end_ms = rescale_time(second[i].end_ms, factor);
    }
    // The bound of a typed time moves with the records.
    last_end_ms = static_cast<int32_t>(records[count - 1].end_ms);
    return true;
}

namespace {

// The box does this in software single precision: round the time to the nearest
// float, multiply in float, truncate toward zero. The float variables keep every
// step in single precision. A product past the 32-bit range (only from absurd
// frame numbers) saturates rather than being converted undefinedly.
uint32_t rescale_time(uint32_t time_ms, float factor) {
    float f = static_cast<float>(time_ms);
    float product = f * factor;
    if (!(product >= 0.0f)) return 0;
    if (product >= kResultLimit) return UINT32_MAX;
    return static_cast<uint32_t>(product);
}

}  // namespace
