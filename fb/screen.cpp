// STUB: to be replaced.
#include "fb/screen.h"
int fb = -1;
fb_var_screeninfo fb_var{};
fb_fix_screeninfo fb_fix{};
uint32_t* fb_mem = nullptr;
uint32_t px_na_radek = 0;
relaxed<int32_t> sx, sy, ex, ey;
int32_t sy0, ey0;
int32_t vyska_radku[8];
relaxed<int32_t> zoom{1};
relaxed<int32_t> pas_od, pas_delka;
std::unique_ptr<uint32_t[]> bbuf;
int32_t bbuf_delka;
relaxed<uint32_t*> bb_cil[2];
relaxed<int32_t> pas_min, pas_max;
relaxed<int32_t> posun_dole, posun_nahore;
relaxed<int32_t> pozice;
relaxed<const titulek*> akt_titulek{nullptr};
relaxed<uint8_t> titulek_zobrazen;
uint8_t odsazeni;
std::mutex znak_mutex;
std::recursive_mutex kresleni_mutex;
int fb_init() { return 0; }
void fb_deinit(int) {}
void fb_prepocti_pas() {}
void fb_smaz_titobr() {}
void bb_zobraz_na_fb(int) {}
void fb_prekresli_titulek() {}
void fb_uprav_posun(int) {}
void fb_prepni_posun() {}
