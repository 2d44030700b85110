// The settings record read from a file of any length and content, applied to the
// display as start-up applies it (font size, band positions with the stored shifts),
// a subtitle painted at both positions and moved, then written back and read again.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/settings.h"
#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fuzz/fuzz_support.h"
#include "sub/subtitles.h"

namespace {

constexpr const char* kConf = "/var/tuxbox/Tresk/tresk.conf";

subtitle g_record;

// Whatever shifts were stored, both copy targets stay within the band: from its
// first line down to the bottom position without shift.
void check_targets() {
    const auto* at_start = reinterpret_cast<const char*>(fb_mem);
    for (int k = 0; k < 2; ++k) {
        const auto offset = reinterpret_cast<const char*>(bb_targets[k].load()) - at_start;
        FUZZ_CHECK(offset >= band_start && offset <= bottom_target_max);
    }
}

void check_styles() {
    FUZZ_CHECK(zoom >= 0 && zoom <= 7);
    FUZZ_CHECK(background_level >= 0 && background_level <= 2);
    FUZZ_CHECK(palette_index == 0 || palette_index == 1);
    FUZZ_CHECK(palette == palettes[static_cast<size_t>(palette_index.load())].data());
    FUZZ_CHECK(colour_scheme >= 0 && colour_scheme <= 3);
}

// What the record and the styles hold before any file is read.
void defaults() {
    saved_settings = stored_settings{1, 0, 0, 0, 0, 0, 0};
    zoom = 1;
    background_level = 1;
    palette_index = 0;
    palette = palettes[0].data();
    colour_scheme = 0;
    bottom_shift = 0;
    top_shift = 0;
    inset_on = 0;
    sy = sy0;
    ey = ey0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsup::make_root(true);
    fuzzsup::open_display();
    static char line1[] =
        "Agj \xc3\xa9\x0b\x02"
        "x";
    static char line2[] = "\x0e\x0f W";
    g_record.line_count = 2;
    g_record.lines[0].reset(new char[sizeof line1]);
    std::memcpy(g_record.lines[0].get(), line1, sizeof line1);
    g_record.lines[1].reset(new char[sizeof line2]);
    std::memcpy(g_record.lines[1].get(), line2, sizeof line2);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    defaults();
    fuzzsup::write_file(kConf, data, size);
    app_read_settings();
    check_styles();
    if (size >= sizeof(stored_settings)) {
        FUZZ_CHECK(std::memcmp(&saved_settings, data, sizeof(stored_settings)) == 0);
    } else {
        FUZZ_CHECK(saved_settings.zoom == 1 && saved_settings.background_level == 0 &&
                   saved_settings.position == 0);
    }

    // Start-up applies the values: the font size of the zoom level, the band positions.
    fb_font_set_zoom();
    fb_compute_band();
    check_targets();

    // A subtitle painted at one position and copied to the other, then the band
    // moved about as the keys do, with a copy to both positions after each move.
    const uint8_t extra = size > 16 ? data[16] : 0;
    g_record.flags = (extra & 1) ? 0x1e4 : 0x1b;
    fb_paint_subtitle(&g_record);
    fb_show_back_buffer(1 - band_position);
    {
        std::lock_guard paint_lock(paint_mutex);
        painted_record = nullptr;
        subtitle_shown = 0;
    }
    for (int i = 1; i < 8; ++i) {
        if (i == 4) {
            fb_toggle_inset();
        } else {
            band_position = (extra >> i) & 1;
            fb_shift_band((extra >> (i + 1)) & 1 ? 1 : -1);
        }
        check_targets();
        fb_show_back_buffer(0);
        fb_show_back_buffer(1);
    }
    if (inset_on != 0) fb_toggle_inset();
    check_styles();

    // Written back (when it changed) and read again: the same values.
    int32_t position = 0;
    if (size >= 21) std::memcpy(&position, data + 17, sizeof position);
    const stored_settings before = app_current_settings(position);
    app_save_settings(position);
    std::string file;
    FUZZ_CHECK(fuzzsup::read_file(kConf, file));
    FUZZ_CHECK(file.size() == sizeof(stored_settings) || file.size() == size);
    if (file.size() == sizeof(stored_settings)) {
        defaults();
        app_read_settings();
        FUZZ_CHECK(std::memcmp(&saved_settings, &before, sizeof before) == 0);
        FUZZ_CHECK(zoom == before.zoom && background_level == before.background_level &&
                   colour_scheme == before.colour_scheme);
        FUZZ_CHECK(palette_index == before.palette_index);
        FUZZ_CHECK(bottom_shift == before.bottom_shift && top_shift == before.top_shift);
    }
    return 0;
}
