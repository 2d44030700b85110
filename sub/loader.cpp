// STUB: to be replaced.
#include "sub/subtitles.h"
relaxed<titulek*> titulky{nullptr};
std::unique_ptr<titulek[]> titulky_pamet;
relaxed<int32_t> pocet_titulku;
bool titulky_nacteny = false;
int32_t tdiff;
int32_t posl_snimek;
int32_t sub_chyba;
std::mutex sub_zamek;
std::unique_ptr<titulek[]> sub_nacti_titulky(const char*) { return nullptr; }
int cti_radek(FILE*, titulek*) { return 0; }
void sub_uvolni(std::unique_ptr<titulek[]>&, int32_t) {}
int sub_nacti_novy(const char*) { return 2; }
void sub_nacti_pri_startu() {}
