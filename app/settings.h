// The settings file: display choices and the resume position, 16 bytes.
#pragma once

#include <cstdint>

// The record, identical in memory and on disk (machine byte order).
struct stored_settings {
    int8_t zoom;
    int8_t background_level;
    int8_t palette_index;
    int8_t colour_scheme;
    int32_t position;
    int32_t bottom_shift;
    int32_t top_shift;

    friend bool operator==(const stored_settings&, const stored_settings&) = default;
};
static_assert(sizeof(stored_settings) == 16);

extern stored_settings saved_settings;

// The save flag of fb_deinit and app_shutdown that keeps the resume position read from the
// file: a start-up that fails, or an end because no subtitles could be loaded, is not
// the viewer's own close and must not lose the place in the film.
constexpr int kKeepResumePosition = -1;

// First step of fb_init: read the file and apply the accepted values.
void app_read_settings();
// The record of the choices in use now, with position as the resume position.
stored_settings app_current_settings(int32_t position);
// Inside fb_deinit: write the file when a value differs; position is the resume position.
void app_save_settings(int32_t position);
