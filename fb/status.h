// The status line: a 32-line strip at the top of the usable area with a message
// on the left and the state icons (clock, palette, zoom) on the right.
//
// Threads: the main thread shows prompts, times and icons; the subtitle thread
// shows the end-of-film and end-of-part messages. Each operation draws the whole
// of its part under a lock of this module, so two of them never interleave.
// Lock order: paint_mutex, then the status lock, then pixel_mutex.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/relaxed.h"
#include "fb/band.h"

// Status-line countdown in main-loop passes; -1 = not shown. Set to 100 by every drawing
// of the icons (either thread), to -1 by fb_clear_status; counted down by the main loop.
extern relaxed<int32_t> status_countdown;
// The operations (fb_show_status, fb_show_time, fb_show_icons, fb_clear_status) are
// declared in fb/band.h, for the clock; fb_clear_status sets status_countdown to -1.

// Width in pixels a message has on the status line, from sx (the icons take the rest):
// what is wider is cut at this edge.
int32_t fb_status_width();
// The message on the status line now, with its inline codes (empty when none), cut to
// size: for the web page, which shows what the TV shows.
void fb_copy_status(char* out, size_t size);
