// Rescaling every subtitle time by a frame-rate factor.
#include <cstdint>
#include <mutex>

#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

// Every time above this is past the range of the 32-bit result.
constexpr float kMezVysledku = 4294967296.0f;

uint32_t prepocti_cas(uint32_t cas, float koef);

}  // namespace

void sub_prepocti(const float& koef) {
    {
        std::lock_guard zamek(sub_zamek);
        titulek* pole = titulky;
        int32_t pocet = pocet_titulku;
        if (pole == nullptr || pocet <= 0) return;
        for (int32_t i = 0; i < pocet; ++i) {
            pole[i].cas_od = prepocti_cas(pole[i].cas_od, koef);
            pole[i].cas_do = prepocti_cas(pole[i].cas_do, koef);
        }
        // The end of the film and the bound of a typed time move with the records,
        // or a film rescaled to play longer would end before its last subtitles.
        posl_snimek = static_cast<int32_t>(pole[pocet - 1].cas_do);
        tmr_nastav_konec_pod_zamkem();
    }
    // The subtitle thread may be waiting for a time that has just moved.
    tmr_probud();
}

namespace {

// The box does this in software single precision: round the time to the nearest
// float, multiply in float, truncate toward zero. The float variables keep every
// step in single precision. A product past the 32-bit range (only from absurd
// frame numbers) saturates rather than being converted undefinedly.
uint32_t prepocti_cas(uint32_t cas, float koef) {
    float f = static_cast<float>(cas);
    float soucin = f * koef;
    if (!(soucin >= 0.0f)) return 0;
    if (soucin >= kMezVysledku) return UINT32_MAX;
    return static_cast<uint32_t>(soucin);
}

}  // namespace
