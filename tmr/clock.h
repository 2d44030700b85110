// The playback clock and the subtitle thread that shows and clears subtitles in time.
//
// Every change of the clock words goes through the functions below, which take the
// clock's own small lock and wake the subtitle thread: the thread sleeps until its
// next deadline and only counts the time that has run when it wakes or when the
// main thread stops, shifts or starts the clock.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "app/relaxed.h"
#include "sub/retime.h"

// 1 while the clock runs. Main thread starts/stops it; the thread stops it at the end of film.
extern relaxed<int32_t> clock_running;
// 1 once the clock has passed the end-of-film time. Thread sets it, positioning clears it.
extern relaxed<int32_t> film_ended;
// Index of the next subtitle the thread will show. Thread advances it, positioning sets it.
extern relaxed<int32_t> current_index;
// Playback time in ms, as of the clock's last advance. Written by both threads under the
// clock lock.
extern relaxed<uint32_t> clock_ms;
// Sets the end-of-film time from the loaded records (after a rescale); holds subtitles_mutex.
void tmr_set_film_end_locked();
// After a box that covered the band has closed: puts back the subtitle composed last
// if its interval contains the clock now, else leaves the band clear; the thread then
// clears what was put back at its end. Main thread, holding no display lock.
void tmr_restore_band();
// Whether the clock runs and follows the film's decoder.
bool tmr_following();
// After an operation that stopped the clock: when it followed the film before
// (`followed`), starts it again with a new sync point and redraws the icons.
void tmr_resume_following(bool followed);
// The film's time now on the clock's scale (ms) while the clock follows the film,
// by the sync point it took; otherwise, or when the decoder does not answer, the clock's.
uint32_t tmr_film_time();
// After a box that stopped the clock while it followed the film (a menu left without
// a new file): starts the clock again at the film's time by the sync point taken
// before, with the index found for that time, so the time in the box is not lost.
// Main thread, holding no lock.
void tmr_rejoin_film();
// Finds the index for the clock's time after the records moved under it (a sync
// correction), without moving the clock. The caller holds subtitles_mutex.
void tmr_find_position_locked();
// Wall-clock ms at the last advance of clock_ms. Written by both threads under the clock lock.
extern relaxed<int32_t> last_tick_ms;
// End-of-film time in ms: end_ms of the last record + 10. Set by the clock reset.
extern relaxed<uint32_t> film_end_ms;
// Subtitle thread state: 2 not running / stopped, 0 running, 1 stop requested.
extern relaxed<int32_t> thread_state;
// 1 while the clock follows a film that stands (paused, frozen or stopped on the
// decoder): the clock stands with it. Written by the subtitle thread under the clock
// lock, cleared by every start and stop. The status icon is told (status_playing).
extern relaxed<int32_t> film_paused;
// Handle of the subtitle thread, set by tmr_sub_init (main thread).
extern pthread_t subtitle_thread_id;

// Loads the start-up file and starts the thread: 0, or error number 6.
int tmr_sub_init();
// Stops the thread (waiting for it) and releases the subtitles; returns 0.
int tmr_sub_deinit();
// Starts the clock (does nothing once the end of film has been reached).
void tmr_play();
// Stops the clock, keeping the time it has run up to now. Every stop of the main
// thread goes through here (the thread may be asleep until its next deadline).
void tmr_stop();
// Shifts the clock 500 ms forward (direction > 0) or back, and leaves it running.
void tmr_shift(int direction);
// Stops the clock at the start of subtitle index (out of range: 0); -1 resets it.
void tmr_go_to_subtitle(int32_t index);
// Stops the clock and moves the index by step (0 from index 0 goes to 1), clamped.
void tmr_step_subtitle(int32_t step);
// Stops the clock at the start of the subtitle found for time time_ms (ms); -1 resets it.
void tmr_go_to_time(int32_t time_ms);
// The resume position: current_index, or 0 after the end of film.
int32_t tmr_resume_index();
// Clock reset: index 0, time 0, end-of-film time from the loaded records. Takes subtitles_mutex.
void tmr_reset();
// The same for a caller that already holds subtitles_mutex (the loader replacing the array).
void tmr_reset_locked();
// Wall-clock milliseconds, wrapping in 32 bits; only differences are meaningful.
int32_t tmr_get_ms();
// Replaces the subtitles by a file of the subtitle directory (sub_replace) and puts the
// clock at the start of the new ones before the thread can see them, then stops it
// there; 0 or the load's error number, the subtitles and the clock unchanged then.
int tmr_load_subtitles(const char* name);
// The second language: loads a file of the subtitle directory (a bare name) as the
// second language (sub_load_second; 0 or its error number, the one before kept then),
// or releases it; the thread shows it from its next pass. Main thread.
int tmr_load_second(const char* name);
void tmr_release_second();
// Moves the second language's own shift by delta_ms (held within 10 minutes either
// way) and returns the shift now; 0 when no second language is loaded. Main thread.
int32_t tmr_shift_second(int32_t delta_ms);
// Puts every second-language subtitle on map applied to its own times (its alignment,
// and a rate the first file was rescaled by since), as one step for the thread.
void tmr_map_second(const time_map& map);
// Rescales every subtitle time by factor (sub_rescale) and moves the end of the film
// with them, as one step for the thread; by reference, as sub_rescale takes it.
void tmr_rescale(const float& factor);
// Puts every subtitle on a correction of the file's own times (tmr_apply_map), or
// moves every subtitle time by delta_ms (tmr_shift_all); the end of the film and the
// index follow the new times while the clock stays where it is. Main thread.
void tmr_apply_map(const time_map& map);
void tmr_shift_all(int64_t delta_ms);
// Wakes the subtitle thread after the main thread changed the clock, so the change shows at once.
void tmr_wake();
void* tmr_subtitle_thread(void*);
