// The subtitle painter and the three subtitle styles (colour scheme, background, zoom).
#pragma once

#include <array>
#include <cstdint>

#include "app/relaxed.h"

struct titulek;

// 4 colour schemes x 4 palette indexes, chosen by two bits per line of a record's flags.
extern const std::array<std::array<int32_t, 4>, 4> barvy_tit;
// Current colour scheme 0..3 and background level 0..2. Main thread writes, both read.
extern relaxed<int32_t> barva_tit;
extern relaxed<int32_t> transp;

// Paints a record into the back buffer and copies it to its band position; the
// subtitle thread and the main thread's repaints. Holds kresleni_mutex throughout.
void fb_zobraz_titulek(const titulek* zaznam);
// YELLOW, BLUE, RED: next colour scheme, background level, zoom level; each
// repaints the subtitle on screen.
void fb_zmen_barvu_tit();
void fb_zmen_transp();
void fb_zmen_zoom();
// Repaints akt_titulek when a subtitle is on screen and the record is still there.
// Main thread, after a style change or a band move.
void fb_obnov_titulek();
