// Start-up, the main key loop with its key table, the exit prompt and shut-down.
#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <cstdio>

#include "app/app.h"
#include "app/settings.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "hw/device.h"
#include "menu/menus.h"
#include "menu/window.h"
#include "rc/remote.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"
#include "tmr/film.h"
#include "tmr/time_entry.h"

int32_t konec_programu = 0;
int32_t ulozit = 0;

namespace {

constexpr const char* kStartZprava =
    "Druk: \x0e\x0f om te starten \x0b\x02\x12\x13\x0c om te sluiten";
// The start message when the clock follows the box's video decoder.
constexpr const char* kStartFilm = "Volgt de film - Druk: \x0e\x0f om te starten";
constexpr const char* kKonecDotaz =
    " \x0b\x03\x0e\x0f\x0c Sluiten - \x0b\x04\x14\x15\x0c Opslaan & Sluiten - "
    "\x0b\x02\x12\x13\x0c Annuleren";

void vyprazdni_vstup() {
    while (rc_nacti_kod() >= 0) hw_usleep(5000);
}

// The exit prompt. Returns true when the viewer chose to leave.
bool potvrd_konec() {
    fb_zobr_info(kKonecDotaz);
    vyprazdni_vstup();
    bool odejit = false;
    for (;;) {
        hw_usleep(10000);
        int k = rc_nacti_kod();
        if (k == KEY_EXIT || k == KEY_RED) break;
        if (k == KEY_OK || k == KEY_GREEN || k == KEY_YELLOW) {
            tmr_zastav();
            ulozit = k == KEY_YELLOW ? 1 : 0;
            odejit = true;
            break;
        }
    }
    fb_smaz_info();
    vyprazdni_vstup();
    return odejit;
}

// Play/pause on OK.
void spust_zastav() {
    if (bezi_timer) {
        tmr_zastav();
    } else {
        tmr_play();
        fb_smaz_info();
        if (helpt >= 0) fb_help_box(0);
    }
    fb_info_paletka();
}

// Dispatches one key; returns whether the help box is closed after it (pass step 8).
bool proved_klavesu(int kod) {
    switch (kod) {
        case KEY_1: case KEY_2: case KEY_3: case KEY_4: case KEY_5:
        case KEY_6: case KEY_7: case KEY_8: case KEY_9:
            rc_cas(kod - KEY_1 + 1);
            return true;
        case KEY_0:
            rc_cas(0);
            return true;
        case KEY_UP:
            tmr_update_tit(9);
            return true;
        case KEY_LEFT:
            tmr_update_tit(bezi_timer - 2);
            return true;
        case KEY_RIGHT:
            tmr_update_tit(0);
            return true;
        case KEY_DOWN:
            tmr_update_tit(bezi_timer - 11);
            return true;
        case KEY_VOLUMEDOWN:
            fb_uprav_posun(1);
            return true;
        case KEY_VOLUMEUP:
            fb_uprav_posun(-1);
            return true;
        case KEY_HELP:
            if (bezi_timer) return true;
            fb_help_box(1);
            return false;
        case KEY_MENU:
            tmr_zastav();
            rc_file_menu();
            tmr_obnov_pas();
            return true;
        case KEY_EXIT:
            if (!potvrd_konec()) return false;
            hw_usleep(5000);
            konec_programu = 1;
            return true;
        case KEY_OK:
            if (konec_filmu == 0) spust_zastav();
            return true;
        case KEY_TV: {
            const bool followed = tmr_following();
            tmr_zastav();
            rc_fps_menu();
            tmr_resume_following(followed);
            return true;
        }
        case KEY_VIDEO:
            fb_prepni_posun();
            return true;
        case KEY_RED:
            if (kreslim == 0) fb_zmen_zoom();
            return true;
        case KEY_GREEN:
            fb_zmen_paletu();
            return true;
        case KEY_YELLOW:
            fb_zmen_barvu_tit();
            return true;
        case KEY_BLUE:
            if (kreslim == 0) fb_zmen_transp();
            return true;
        case KEY_CHANNELUP:
            tmr_uprav(1);
            return true;
        case KEY_CHANNELDOWN:
            tmr_uprav(-1);
            return true;
        default:
            return false;
    }
}

}  // namespace

void app_klavesa(int kod) {
    int32_t help_pred = helpt;
    if (proved_klavesu(kod) && help_pred > 0) fb_help_box(0);
}

int app_start() {
    konec_programu = 0;
    ulozit = 0;
    fb = hw_open("/dev/fb/0", O_RDWR);
    if (fb < 0) fb = hw_open("/dev/fb0", O_RDWR);
    if (fb < 0) {
        std::perror("Nelze otevrit!\n\n");
        return 1;
    }
    sx = 40;
    sy = 50;
    ex = 670;
    ey = 526;
    if (!fb_init()) {
        hw_close(fb);
        fb = -1;
        return 1;
    }
    if (!rc_init()) {
        fb_deinit(kKeepResumePosition);
        rc_deinit();
        hw_close(fb);
        fb = -1;
        return 1;
    }
    // The video decoder, when the box has one the player may read, makes the clock
    // follow the film; without it the clock is manual.
    const bool film = tmr_film_open();
    int chyba = tmr_sub_init();
    if (chyba != 0) {
        fb_error_box(chyba);
        konec(kKeepResumePosition);
        return 0;
    }
    tmr_zastav();
    fb_zobr_info(film ? kStartFilm : kStartZprava);
    if (titulky != nullptr) {
        if (ul_konf.poz > 0) {
            tmr_nastav_akt_tit(ul_konf.poz);
        } else {
            hw_usleep(200000);
            fb_help_box(1);
        }
    }
    ulozit = 0;
    return -1;
}

int app_pass() {
    hw_usleep(10000);
    if (titulky == nullptr) {
        int r = rc_file_menu();
        // -3: the special file was loaded; play it like any other choice.
        if (r < 0 && r != -3) {
            tmr_zastav();
            hw_usleep(5000);
            konec_programu = 1;
            konec(kKeepResumePosition);
            return 0;
        }
    } else {
        if (bezi_timer) {
            if (infol > 0) infol -= 1;
            if (infol == 0) fb_smaz_info();
        }
        if (helpt > 0) helpt -= 1;
        if (helpt == 0) fb_help_box(0);
        int kod = rc_nacti_kod();
        if (kod >= 0) app_klavesa(kod);
    }
    if (konec_programu) {
        konec(ulozit);
        return 0;
    }
    return -1;
}

int app_main() {
    int r = app_start();
    while (r < 0) r = app_pass();
    return r;
}

int konec(int ulozit_pozici) {
    hw_usleep(1000000);
    tmr_sub_deinit();
    tmr_film_close();
    fb_deinit(ulozit_pozici);
    rc_deinit();
    hw_close(fb);
    fb = -1;
    hw_usleep(10000);
    return ulozit_pozici;
}
