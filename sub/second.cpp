// The second language: a second subtitle array beside the first, loaded with the same
// loader from a file of the subtitle directory and played on the same clock. It
// shares subtitles_mutex with the first, so the thread never reads a record of it
// that is being replaced or rescaled. Its own shift moves it against the clock
// without touching the first file's times or its sync.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "fb/screen.h"
#include "sub/retime.h"
#include "sub/subtitles.h"

namespace {

constexpr int32_t kOpenError = 2;

}  // namespace

relaxed<subtitle*> second_subtitles{nullptr};
std::unique_ptr<subtitle[]> second_owner;
relaxed<int32_t> second_count{0};
relaxed<int32_t> second_shift_ms{0};
std::array<char, kSecondNameSize> second_name{};
time_map second_map{};

int sub_load_second(const char* name) {
    const size_t length = name != nullptr ? std::strlen(name) : 0;
    if (length == 0 || length >= second_name.size() || std::strchr(name, '/') != nullptr) {
        sub_error = kOpenError;
        return kOpenError;
    }
    directory_file loaded = sub_load_from_directory(name);
    if (!loaded.records) return sub_error;
    sub_release_second();
    second_owner = std::move(loaded.records);
    second_count = loaded.count;
    second_subtitles = second_owner.get();
    second_shift_ms = 0;
    second_map = {};
    std::memcpy(second_name.data(), name, length + 1);
    return 0;
}

void sub_release_second() {
    if (!second_owner) return;
    {
        // Off the band, and nobody may repaint from records that are about to go.
        std::lock_guard paint_lock(paint_mutex);
        fb_clear_second();
        painted_second = nullptr;
    }
    second_subtitles = nullptr;
    const int32_t count = subtitle_count;
    sub_release(second_owner, second_count);
    subtitle_count = count;
    second_count = 0;
    second_shift_ms = 0;
    second_map = {};
    second_name[0] = '\0';
}

bool sub_map_second_locked(const time_map& map) {
    subtitle* records = second_subtitles;
    const int32_t count = second_count;
    if (records == nullptr || count <= 0) return false;
    sub_map_records({records, static_cast<size_t>(count)}, map);
    second_map = map;
    return true;
}

uint32_t sub_second_time(uint32_t time_ms) {
    return static_cast<uint32_t>(
        std::clamp<int64_t>(int64_t{time_ms} + second_shift_ms, 0, int64_t{UINT32_MAX}));
}

int32_t sub_find_second(uint32_t time_ms) {
    const subtitle* records = second_subtitles;
    const int32_t count = second_count;
    if (records == nullptr || count <= 0) return 0;
    // The first record whose end, with the own shift, is not yet past.
    const subtitle* found = std::partition_point(
        records, records + count,
        [time_ms](const subtitle& t) { return sub_second_time(t.end_ms) < time_ms; });
    return static_cast<int32_t>(found - records);
}
