// The settings file: display choices and the resume position, 16 bytes.
#pragma once

#include <cstdint>

// The record, identical in memory and on disk (machine byte order).
struct nastaveni {
    int8_t zoom;
    int8_t transp;
    int8_t paleta_idx;
    int8_t barva_tit;
    int32_t poz;
    int32_t posun_dole;
    int32_t posun_nahore;

    friend bool operator==(const nastaveni&, const nastaveni&) = default;
};
static_assert(sizeof(nastaveni) == 16);

extern nastaveni ul_konf;

// The save flag of fb_deinit and konec that keeps the resume position read from the
// file: a start-up that fails, or an end because no subtitles could be loaded, is not
// the viewer's own close and must not lose the place in the film.
constexpr int kKeepResumePosition = -1;

// First step of fb_init: read the file and apply the accepted values.
void nastaveni_nacti();
// The record of the choices in use now, with poz as the resume position.
nastaveni nastaveni_aktualni(int32_t poz);
// Inside fb_deinit: write the file when a value differs; poz is the resume position.
void nastaveni_uloz(int32_t poz);
