// The playback clock and the subtitle thread that shows and clears subtitles in time.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "app/relaxed.h"

// 1 while the clock runs. Main thread starts/stops; the thread stops it at the end of film.
extern relaxed<int32_t> bezi_timer;
// 1 while the subtitle thread paints a subtitle.
extern relaxed<int32_t> kreslim;
// 1 once the clock has passed the end-of-film time.
extern relaxed<int32_t> konec_filmu;
// Index of the next subtitle the thread will show.
extern relaxed<int32_t> akt_poz;
// Current playback time in ms.
extern relaxed<uint32_t> akt_cas;
// Wall-clock ms at the last advance of akt_cas.
extern relaxed<int32_t> posl_tik;
// End-of-film time: cas_do of the last record + 10 ms.
extern relaxed<uint32_t> cas_konce;
// 2 not running / stopped, 0 running, 1 stop requested.
extern relaxed<int32_t> stav_threadu;
extern pthread_t titl_tid;

// 0, or error number 6 when the thread cannot be started.
int tmr_sub_init();
int tmr_sub_deinit();
void tmr_play();
// Stops the clock, keeping the time it has run up to now. Every stop of the main
// thread goes through here (the thread may be asleep until its next deadline).
void tmr_zastav();
void tmr_uprav(int smer);
void tmr_nastav_akt_tit(int32_t poradi);
void tmr_update_tit(int32_t krok);
void tmr_nastav_tit(int32_t cas);
int32_t tmr_get_poz();
void tmr_reset();
int32_t tmr_get_ms();
// Wakes the subtitle thread after the main thread changed the clock, so the change shows at once.
void tmr_probud();
void* titl_thread(void*);
