// STUB: to be replaced.
#include "tmr/clock.h"
relaxed<int32_t> bezi_timer, kreslim, konec_filmu, akt_poz;
relaxed<uint32_t> akt_cas;
relaxed<int32_t> posl_tik;
relaxed<uint32_t> cas_konce;
relaxed<int32_t> stav_threadu{2};
pthread_t titl_tid;
int tmr_sub_init() { return 0; }
int tmr_sub_deinit() { return 0; }
void tmr_play() {}
void tmr_zastav() { bezi_timer = 0; }
void tmr_uprav(int) {}
void tmr_nastav_akt_tit(int32_t) {}
void tmr_update_tit(int32_t) {}
void tmr_nastav_tit(int32_t) {}
int32_t tmr_get_poz() { return 0; }
void tmr_reset() {}
int32_t tmr_get_ms() { return 0; }
void tmr_probud() {}
void* titl_thread(void*) { return nullptr; }
