// The subtitle painter and the three subtitle styles (colour scheme, background, zoom).
#pragma once

#include <array>
#include <cstdint>

#include "app/relaxed.h"

struct subtitle;

// 4 colour schemes x 4 palette indexes, chosen by two bits per line of a record's flags.
extern const std::array<std::array<int32_t, 4>, 4> colour_schemes;
// Current colour scheme 0..3 and background level 0..2. Main thread writes, both read.
extern relaxed<int32_t> colour_scheme;
extern relaxed<int32_t> background_level;

// Paints a record into the back buffer and copies it to its band position; the
// subtitle thread and the main thread's repaints. Holds paint_mutex throughout.
void fb_paint_subtitle(const subtitle* record);
// YELLOW, BLUE, RED: next colour scheme, background level, zoom level; each
// repaints the subtitle on screen.
void fb_next_colour_scheme();
void fb_next_background();
void fb_next_zoom();
// Repaints painted_record when a subtitle is on screen and the record is still there.
// Main thread, after a style change or a band move.
void fb_repaint_subtitle();
