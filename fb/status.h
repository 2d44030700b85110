// The status line: a 32-line strip at the top of the usable area with a message
// on the left and the state icons (clock, palette, zoom) on the right.
//
// Threads: the main thread shows prompts, times and icons; the subtitle thread
// shows the end-of-film and end-of-part messages. Each operation draws the whole
// of its part under a lock of this module, so two of them never interleave.
// Lock order: paint_mutex, then the status lock, then pixel_mutex.
#pragma once

#include <cstdint>

#include "app/relaxed.h"

// Status-line countdown in main-loop passes; -1 = not shown. Set to 100 by every drawing
// of the icons (either thread), to -1 by fb_clear_status; counted down by the main loop.
extern relaxed<int32_t> status_countdown;

// Shows a message (UTF-8 with inline codes) on the strip, then the icons.
void fb_show_status(const char* message);
// Shows the playback time ms (milliseconds): one hour digit, minutes and seconds,
// as in " Tijd: 1u 05m 09s".
void fb_show_time(uint32_t ms);
// Redraws only the icon box and restarts the countdown.
void fb_show_icons();
// Removes the status line (the strip becomes transparent) and sets status_countdown to -1.
void fb_clear_status();
