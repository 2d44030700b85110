// Direct time entry: five digits typed on the remote, hours down to seconds; the
// fifth makes the clock jump to the subtitle at that time.
#include "tmr/time_entry.h"

#include <cstdint>

#include "fb/status.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

constexpr const char* kSablona = " Tijd: -u --m --s";
constexpr int32_t kPrvniPozice = 4;
constexpr int64_t kMsZaSekundu = 1000;

void vymaz_cislice();

}  // namespace

char cas_text[18] = " Tijd: -u --m --s";
int32_t cas_poz = -1;
int32_t cas_zadany = 0;
const std::array<int32_t, 5> cas_pozice{15, 14, 11, 10, 7};
const std::array<int32_t, 5> cas_max{9, 5, 9, 5, 3};
const std::array<int32_t, 5> cas_nasobek{1, 10, 60, 600, 3600};

void rc_cas(int cislice) {
    if (cas_poz < 0) {
        vymaz_cislice();
        cas_zadany = 0;
        cas_poz = kPrvniPozice;
    }
    if (cislice < 0 || cislice > cas_max[cas_poz]) {
        cas_poz = -1;
        fb_smaz_info();
        return;
    }
    cas_text[cas_pozice[cas_poz]] = static_cast<char>('0' + cislice);
    cas_zadany += cislice * cas_nasobek[cas_poz];
    fb_zobr_info(cas_text);
    cas_poz -= 1;
    if (cas_poz >= 0) return;

    // The typed film time in subtitle time; wide enough for any tdiff.
    int64_t ms = cas_zadany * kMsZaSekundu - tdiff;
    if (ms < 0) ms = 0;
    cas_zadany = ms < INT32_MAX ? static_cast<int32_t>(ms) : INT32_MAX;
    if (ms < posl_snimek) {
        tmr_nastav_tit(cas_zadany);
    } else {
        vymaz_cislice();
        fb_smaz_info();
    }
}

namespace {

// Puts "-" back at the five digit places.
void vymaz_cislice() {
    for (int32_t misto : cas_pozice) cas_text[misto] = kSablona[misto];
}

}  // namespace
