// The subtitle file loader fed whole files: the header, brace groups, numbers of
// any size, long lines, NUL bytes and separators. A loaded array is then searched
// and rescaled as the player would, and released.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "fuzz/fuzz_support.h"
#include "menu/menus.h"
#include "sub/subtitles.h"

namespace {

constexpr const char* kFile = "/var/tuxbox/Tresk/tit/fuzz.tkx";

void check_records(const subtitle* records, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const subtitle& t = records[i];
        FUZZ_CHECK(t.line_count >= 1 && t.line_count <= 4);
        FUZZ_CHECK(t.start_ms != t.end_ms);
        for (int j = 0; j < 4; ++j) {
            FUZZ_CHECK((j < t.line_count) == (t.lines[j] != nullptr));
            if (t.lines[j] == nullptr) continue;
            // Separators never reach a screen line.
            FUZZ_CHECK(std::strpbrk(t.lines[j].get(), "|\r\n") == nullptr);
            FUZZ_CHECK(std::strlen(t.lines[j].get()) < 1000);
        }
    }
}

// Searches and rescales the array as the clock and the FPS menu do; records may be
// in any order and overlap, and neither may step outside the array.
void exercise(const subtitle* records, int32_t count) {
    const uint32_t probes[] = {0u,
                               records[0].start_ms,
                               records[0].end_ms,
                               records[count - 1].end_ms + 1u,
                               records[count / 2].start_ms,
                               UINT32_MAX};
    for (uint32_t time_ms : probes) {
        for (int32_t hint : {-1, 0, count / 2, count - 1, count}) {
            int32_t r = sub_find(time_ms, hint);
            FUZZ_CHECK(r >= 0 && r <= count);
        }
    }
    for (float factor : fps_factors) sub_rescale(factor);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsup::make_root(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsup::write_file(kFile, data, size);
    sub_error = 0;
    subtitle_count = 0;
    std::unique_ptr<subtitle[]> records = sub_load_file(kFile);
    if (!records) {
        FUZZ_CHECK(sub_error == 9 || sub_error == 10 || sub_error == 3);
        FUZZ_CHECK(subtitle_count == 0);
        return 0;
    }
    const int32_t count = subtitle_count;
    FUZZ_CHECK(count >= 1);
    check_records(records.get(), count);

    {
        std::lock_guard lock(subtitles_mutex);
        subtitles_owner = std::move(records);
        subtitles = subtitles_owner.get();
    }
    exercise(subtitles, count);
    std::lock_guard lock(subtitles_mutex);
    sub_release(subtitles_owner, subtitle_count);
    FUZZ_CHECK(subtitles == nullptr && subtitle_count == 0);
    return 0;
}
