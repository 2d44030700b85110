// What the playback clock hands to the painter: the subtitle that belongs on the
// band and the moment it goes, and the status line's time, messages and play icon.
// The clock decides what is shown and when; the painter draws and asks the clock
// nothing. This is the one header of fb/ that tmr/ includes.
//
// Threads: the subtitle thread paints, clears and shows the end-of-film and
// end-of-part messages; the main thread shows times and icons after moving the
// clock. Lock order as everywhere: subtitles_mutex, paint_mutex, the status lock,
// pixel_mutex; the clock's own lock is never held across a call of this header.
#pragma once

#include <cstdint>

#include "app/relaxed.h"

struct subtitle;

// 1 while the subtitle thread paints a subtitle: set by the clock around its paint,
// read by the restyle and band keys, which do nothing meanwhile.
extern relaxed<int32_t> painting;
// 1 when the status icon shows play (the clock runs and the film it follows does not
// stand), 0 when it shows pause. Written by the clock under its lock at every change,
// read by the icon drawing of either thread.
extern relaxed<int32_t> status_playing;

// Paints a record into the back buffer and copies it to its band position; the
// subtitle thread and the main thread's repaints. Holds paint_mutex throughout.
// Returns whether the record ends a part of the film: the caller decides what follows.
bool fb_paint_subtitle(const subtitle* record);
// Clears the band on screen, under paint_mutex: both languages go.
void fb_clear_subtitle();
// Takes the first language's subtitle off the band, leaving the second language's rows.
void fb_clear_first();

// The second language. Its record on the band (for repaints), null when none; and 1
// while its picture is on screen, 0 once a paint or a clear of the whole band wiped
// it. Written under paint_mutex.
extern relaxed<const subtitle*> painted_second;
extern relaxed<uint8_t> second_on_band;
// Paints a second-language record in its own rows of the band, beside the first
// language's subtitle, which stays. Holds paint_mutex throughout.
void fb_paint_second(const subtitle* record);
// Takes the second language's subtitle off the band; the first's stays.
void fb_clear_second();
// After a box that covered the band has closed: puts the subtitle composed last back
// when its interval contains time_ms and returns true with its end in end_ms; else
// clears the band and returns false. The caller holds subtitles_mutex (the record
// painted last belongs to the store).
bool fb_restore_band(uint32_t time_ms, uint32_t& end_ms);

// Shows a message (UTF-8 with inline codes) on the status strip, then the icons.
void fb_show_status(const char* message);
// Shows the playback time ms (milliseconds): one hour digit, minutes and seconds,
// as in " Tijd: 1u 05m 09s".
void fb_show_time(uint32_t ms);
// Redraws only the icon box and restarts the status line's countdown.
void fb_show_icons();
// Removes the status line (the strip becomes transparent).
void fb_clear_status();
