// The second language from the viewer's side. Choosing a file aligns its cues to the
// first file's, as the converter's --sync-to does with the first file as the
// reference, reduced to one rate and one offset so that the memory of the first file
// can hold it and put it back at the next start without aligning again.
#include "menu/second_language.h"

#include <linux/input.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "conv/align.h"
#include "fb/painter.h"
#include "fb/status.h"
#include "menu/sync_offer.h"
#include "rc/remote.h"
#include "sub/retime.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"
#include "tmr/sync.h"

namespace {

// One press of a channel key while the second language is selected, in ms.
constexpr int32_t kShiftStepMs = 500;

bool selected = false;

bool align_to_first(const std::function<bool()>& stop, char* text, size_t size);
time_map one_map(const conv::Alignment& alignment, const std::vector<conv::TimeSpan>& cues);

}  // namespace

bool menu_second_is(const char* file) {
    return file != nullptr && second_subtitles != nullptr &&
           std::strcmp(second_name.data(), file) == 0;
}

int menu_second_choose(const char* file, const std::function<bool()>& stop) {
    // The file playing beside itself would only say everything twice.
    if (menu_sync_is_playing(file)) {
        fb_show_status(kSecondIsFirst);
        return 0;
    }
    const int error = tmr_load_second(file);
    if (error != 0) return error;
    char text[96];
    fb_show_status(kSecondAligning);
    align_to_first(stop, text, sizeof text);
    fb_show_status(text);
    menu_sync_remember();
    return 0;
}

void menu_second_off() {
    if (second_subtitles == nullptr) return;
    tmr_release_second();
    selected = false;
    fb_show_status(kSecondOff);
    menu_sync_remember();
}

void menu_second_rescaled(uint32_t num, uint32_t den, int64_t shift_ms) {
    if (second_subtitles == nullptr || num == 0 || den == 0) return;
    const time_map before = second_map;
    // own * n1 / d1 + s1, then times num / den, then + shift_ms.
    uint64_t n = uint64_t{before.num} * num;
    uint64_t d = uint64_t{before.den} * den;
    tmr_sync_reduce(n, d);
    const int64_t s = before.shift_ms * int64_t{num} / int64_t{den} + shift_ms;
    tmr_map_second({s, static_cast<uint32_t>(n), static_cast<uint32_t>(d)});
}

void menu_second_shift(int32_t delta_ms) {
    const int32_t shift = tmr_shift_second(delta_ms);
    char amount[24];
    tmr_sync_seconds_text(shift, amount, sizeof amount);
    char text[64];
    std::snprintf(text, sizeof text, "2e taal: %s", amount);
    fb_show_status(text);
}

bool menu_second_stop_on_exit() {
    return rc_read_key() == KEY_EXIT;
}

bool menu_second_selected() {
    return selected && second_subtitles != nullptr;
}

bool menu_second_key(int code) {
    if (second_subtitles == nullptr) {
        selected = false;
        return false;
    }
    if (code == KEY_TEXT) {
        selected = !selected;
        if (selected) {
            fb_show_status(kSecondSelected);
        } else {
            fb_clear_status();
        }
        return true;
    }
    if (!selected) return false;
    switch (code) {
        case KEY_CHANNELUP:
            menu_second_shift(kShiftStepMs);
            return true;
        case KEY_CHANNELDOWN:
            menu_second_shift(-kShiftStepMs);
            return true;
        case KEY_VIDEO:
            fb_toggle_second_place();
            return true;
        default:
            selected = false;
            return false;
    }
}

namespace {

// Aligns the second language's own times to the first file's times as they play now
// and puts the second on the result; text says what became of it.
bool align_to_first(const std::function<bool()>& stop, char* text, size_t size) {
    std::vector<conv::TimeSpan> cues;
    std::vector<conv::TimeSpan> reference;
    try {
        std::lock_guard lock(subtitles_mutex);
        const subtitle* first = subtitles;
        const subtitle* second = second_subtitles;
        const int32_t first_n = subtitle_count;
        const int32_t second_n = second_count;
        if (first == nullptr || second == nullptr) {
            std::snprintf(text, size, "%s", kSecondNotAligned);
            return false;
        }
        reference.reserve(static_cast<size_t>(std::max(first_n, 0)));
        cues.reserve(static_cast<size_t>(std::max(second_n, 0)));
        for (int32_t i = 0; i < first_n; ++i) {
            reference.push_back({first[i].start_ms, first[i].end_ms});
        }
        for (int32_t i = 0; i < second_n; ++i) {
            cues.push_back({second[i].own_start, second[i].own_end});
        }
    } catch (const std::bad_alloc&) {
        std::snprintf(text, size, "%s", kSecondNotAligned);
        return false;
    }
    const conv::Alignment alignment = conv::align_spans(cues, reference, stop);
    if (alignment.stopped) {
        std::snprintf(text, size, "%s", kSecondStopped);
        return false;
    }
    if (!alignment.reliable) {
        std::snprintf(text, size, "%s", kSecondNotAligned);
        return false;
    }
    const time_map map = one_map(alignment, cues);
    {
        std::lock_guard lock(subtitles_mutex);
        sub_map_second_locked(map);
    }
    tmr_wake();
    char amount[24];
    tmr_sync_seconds_text(map.shift_ms, amount, sizeof amount);
    if (map.num != map.den) {
        std::snprintf(text, size, "2e taal uitgelijnd: %s, %s", amount, alignment.ratio_name);
    } else {
        std::snprintf(text, size, "2e taal uitgelijnd: %s", amount);
    }
    return true;
}

// The alignment as one rate and one offset: the offset of the stretch that holds the
// middle cue, where a film split in parts has most of its cues either way.
time_map one_map(const conv::Alignment& alignment, const std::vector<conv::TimeSpan>& cues) {
    int64_t offset = 0;
    if (!alignment.segments.empty()) {
        offset = alignment.segments.front().offset_ms;
        if (!cues.empty()) {
            std::vector<int64_t> starts;
            starts.reserve(cues.size());
            for (const conv::TimeSpan& c : cues) starts.push_back(c.start_ms);
            std::nth_element(starts.begin(),
                             starts.begin() + static_cast<std::ptrdiff_t>(starts.size() / 2),
                             starts.end());
            const int64_t middle = starts[starts.size() / 2];
            for (const conv::AlignSegment& s : alignment.segments) {
                if (s.from_ms <= middle) offset = s.offset_ms;
            }
        }
    }
    uint64_t num =
        alignment.ratio_numerator > 0 ? static_cast<uint64_t>(alignment.ratio_numerator) : 0;
    uint64_t den =
        alignment.ratio_denominator > 0 ? static_cast<uint64_t>(alignment.ratio_denominator) : 0;
    // A rate the map cannot hold exactly is brought within its terms.
    tmr_sync_reduce(num, den);
    if (num == 0) num = den = 1;
    return {offset, static_cast<uint32_t>(num), static_cast<uint32_t>(den)};
}

}  // namespace
