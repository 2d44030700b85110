// The subtitle painter and the three subtitle styles (colour scheme, background, zoom).
#pragma once

#include <array>
#include <cstdint>

#include "app/relaxed.h"
#include "fb/band.h"

// 4 colour schemes x 4 palette indexes, chosen by two bits per line of a record's flags.
extern const std::array<std::array<int32_t, 4>, 4> colour_schemes;
// Current colour scheme 0..3 and background level 0..2. Main thread writes, both read.
extern relaxed<int32_t> colour_scheme;
extern relaxed<int32_t> background_level;

// YELLOW, BLUE, RED: next colour scheme, background level, zoom level; each
// repaints the subtitle on screen. BLUE and RED do nothing while the thread paints.
void fb_next_colour_scheme();
void fb_next_background();
void fb_next_zoom();
// Repaints painted_record when a subtitle is on screen and the record is still there,
// and the second language's record when it is on screen. Main thread, after a style
// change or a band move.
void fb_repaint_subtitle();

// Where the second language goes: 0 at the top of the band (the black bar above a
// widescreen picture), 1 directly above the first language. Main thread writes.
extern relaxed<int32_t> second_above;
// Toggles second_above and moves the second language's subtitle on screen.
void fb_toggle_second_place();
// The palette entry of a second-language line of colour selector `selector` in scheme
// `scheme`: the scheme's entry next to the first language's, so the two differ.
int32_t fb_second_colour(int32_t scheme, int32_t selector);
// The zoom level of the second language: the level of the next smaller font than the
// first's, or the smallest font when the first already has it.
int32_t fb_second_zoom(int32_t first_zoom);

// Placing the second language, in screen rows: the band, the first language's
// picture (empty when first_from >= first_to), the row where the bottom position's
// four lines end, and the second language's line height and lines wanted.
struct second_area {
    int64_t band_from;
    int64_t band_to;
    int64_t first_from;
    int64_t first_to;
    int64_t first_slot_end;
    int32_t line_height;
    int32_t lines;
    bool above;
};
// The first row and the number of lines shown (0: none fits). At the top: the band's
// first row, or below the first language when that is there; above: right over the
// first language (over the bottom position's last line when none is shown), else
// below it, else at the top. Every place lies inside the band and keeps kSecondGap
// rows from the first language; when no place holds all lines, the most that fit.
struct second_place {
    int64_t from = 0;
    int32_t lines = 0;
    friend bool operator==(const second_place&, const second_place&) = default;
};
inline constexpr int64_t kSecondGap = 4;
second_place fb_second_place(const second_area& area);
