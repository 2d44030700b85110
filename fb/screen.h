// The framebuffer: video mode, memory mapping, screen geometry, the back buffer
// in which subtitles are composed, and the two band positions (bottom, top) at
// which a composed subtitle is shown.
//
// Threads: the main thread sets everything up and changes the geometry (band
// shift, inset); the subtitle thread reads the geometry while it paints and
// clears. Words both threads touch are relaxed atomics.
#pragma once

#include <linux/fb.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "app/relaxed.h"
#include "fb/band.h"

// Framebuffer descriptor, opened by main before fb_init, closed by app_shutdown.
extern int fb;
// Screen information as read (and, for the variable part, patched and written back).
extern fb_var_screeninfo fb_var;
extern fb_fix_screeninfo fb_fix;
// The mapped framebuffer (fb_fix.smem_len bytes); null when not mapped. Set by fb_init.
extern uint32_t* fb_mem;
// Pixels per framebuffer line: line_length / 4.
extern uint32_t px_per_line;

// Usable screen area in pixels; main sets 40, 50, 670, 526; fb_toggle_inset moves sy, ey.
// Written by the main thread, read by both.
extern relaxed<int32_t> sx, sy, ex, ey;
// sy and ey as they were when fb_init ran.
extern int32_t sy0, ey0;
// Text line height in pixels of each zoom level 0..7, measured by the font set-up.
extern int32_t line_heights[8];
// Current zoom level 0..7. Written by the main thread, read by the painter.
extern relaxed<int32_t> zoom;
// Byte offset of the first band line, L * (sy + 32), and the band's byte size, L * ey - band_start.
extern relaxed<int32_t> band_start, band_size;
// The back buffer: bbuf_size bytes, same line layout as the framebuffer. Owned here.
extern std::unique_ptr<uint32_t[]> bbuf;
extern int32_t bbuf_size;
// Screen addresses of back-buffer line 0: [0] bottom position, [1] top position.
extern relaxed<uint32_t*> bb_targets[2];
// Bounds of the bottom target's byte offset.
extern relaxed<int32_t> bottom_target_min, bottom_target_max;
// Upward shift of the bottom position and downward shift of the top one, in bytes
// (whole 5-line steps); stored in the settings.
extern relaxed<int32_t> bottom_shift, top_shift;
// Position of the subtitle painted last: 0 bottom, 1 top. Written by the painter.
extern relaxed<int32_t> band_position;
// The record painted last, for repaints; null when there is none to repaint.
extern relaxed<const subtitle*> painted_record;
// 1 while a composed subtitle is on screen.
extern relaxed<uint8_t> subtitle_shown;
// 0: usable area as main set it; 1: inset by 32 lines at top and bottom. Main thread only.
extern uint8_t inset_on;
// Serialises glyph rendering and every write of pixels by either thread.
extern std::mutex pixel_mutex;
// Held for a whole subtitle paint (clear, compose, copy) and for every copy of the
// back buffer to the screen, so the two threads never paint at once.
extern std::recursive_mutex paint_mutex;

// 1 on success, 0 on failure (a diagnostic has been printed).
int fb_init();
// Tears the display down and stores the settings with resume_position as the resume
// position (the subtitle index to start at); kKeepResumePosition keeps the stored one.
void fb_deinit(int32_t resume_position);
void fb_compute_band();
void fb_show_back_buffer(int band_position);
void fb_put_back_subtitle();
void fb_shift_band(int direction);
void fb_toggle_inset();

// The pixels of a drawing target: 0 the mapped framebuffer (smem_len bytes), any
// other value the back buffer (bbuf_size bytes); empty while it does not exist.
// Lines are px_per_line pixels apart in both.
std::span<uint32_t> fb_pixels(uint8_t target);
// Clears the band on screen (band_size bytes from band_start) but leaves subtitle_shown.
void fb_clear_band();
// Screen rows of the band and of the pictures on it, for placing the second language:
// the band [band_from, band_to); the first language's picture [first_from, first_to),
// empty when none is on screen; the row where four text lines at the bottom position
// end (first_slot_end); the second language's picture [second_from, second_to), empty
// when none. Read under paint_mutex.
struct band_rows {
    int64_t band_from = 0;
    int64_t band_to = 0;
    int64_t first_from = 0;
    int64_t first_to = 0;
    int64_t first_slot_end = 0;
    int64_t second_from = 0;
    int64_t second_to = 0;
};
band_rows fb_band_rows();
// Shows the back buffer, freshly composed with the second language from its row 0, with
// that row at screen row `row`, cut to the rows [row, limit): only the rows that hold
// pixels are copied, the second language's rows of before that the new picture and the
// first language's do not cover are cleared. Returns false (nothing shown) when the
// geometry is not whole rows. Holds paint_mutex.
bool fb_show_second_rows(int64_t row, int64_t limit);
// Clears the second language's rows, except those of the first language's picture.
void fb_clear_second_rows();
// Clears the whole back buffer: the rows the last paint left pixels in.
void fb_clear_back_buffer();
// Shows a freshly composed back buffer at bb_targets[band_position]: the screen ends up as after
// a clear of the band and a copy of the whole back buffer, but only rows that can
// differ are written, the subtitle's rows in one block copy. The painter's last step.
void fb_paint_back_buffer(int band_position);
// Screen rows [from, to) were drawn by other means than a paint (windows, menus,
// status line): the next paint must not take them for blank. The caller holds
// pixel_mutex; the drawing primitives call it for every write to the screen.
void fb_screen_rows_drawn(int64_t from, int64_t to);
// Back-buffer rows [from, to) were drawn: a paint copies them and the next one clears
// them. The caller holds pixel_mutex; the drawing primitives call it for every write to
// the back buffer.
void fb_bb_rows_drawn(int64_t from, int64_t to);
// Forgets which screen rows are blank, and clears the whole back buffer at the next
// paint: for code that writes the framebuffer memory without the primitives.
void fb_forget_screen_rows();
// Shows on screen what was written to it since the last call: one blit for drivers in
// manual-blit mode, nothing otherwise. Called where a drawing is complete (a paint, a
// clear, a status line, a menu that waits for a key). Takes pixel_mutex.
void fb_show_changes();
