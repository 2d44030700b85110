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
#include "menu/second_language.h"
#include "menu/sync_offer.h"
#include "menu/window.h"
#include "rc/remote.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"
#include "tmr/film.h"
#include "tmr/time_entry.h"
#include "web/bridge.h"
#include "web/server.h"

int32_t quit_requested = 0;
int32_t save_on_exit = 0;

namespace {

constexpr const char* kStartMessage =
    "Druk: \x0e\x0f om te starten \x0b\x02\x12\x13\x0c om te sluiten";
// The start message when the clock follows the box's video decoder.
constexpr const char* kStartFilm = "Volgt de film - Druk: \x0e\x0f om te starten";
constexpr const char* kExitPrompt =
    " \x0b\x03\x0e\x0f\x0c Sluiten - \x0b\x04\x14\x15\x0c Opslaan & Sluiten - "
    "\x0b\x02\x12\x13\x0c Annuleren";

constexpr const char* kForgetQuestion = "Alle gekoppelde telefoons vergeten?";
constexpr const char* kForgotten = "Gekoppelde telefoons vergeten";

void drain_input() {
    while (rc_read_key() >= 0) hw_usleep(5000);
}

// The exit prompt. Returns true when the viewer chose to leave.
bool confirm_exit() {
    fb_show_status(kExitPrompt);
    drain_input();
    bool leave = false;
    for (;;) {
        hw_usleep(10000);
        int k = rc_read_key();
        if (k == KEY_EXIT || k == KEY_RED) break;
        if (k == KEY_OK || k == KEY_GREEN || k == KEY_YELLOW) {
            tmr_stop();
            save_on_exit = k == KEY_YELLOW ? 1 : 0;
            leave = true;
            break;
        }
    }
    fb_clear_status();
    drain_input();
    return leave;
}

// Play/pause on OK.
void toggle_play() {
    if (clock_running) {
        tmr_stop();
        menu_sync_stopped();
        fb_show_icons();
        return;
    }
    const uint32_t started_from = clock_ms;
    tmr_play();
    fb_clear_status();
    if (help_countdown >= 0) menu_help_box(0);
    fb_show_icons();
    // Every start by OK is a sync: it may show the rate correction it gives.
    menu_sync_started(started_from);
}

// Dispatches one key; returns whether the help box is closed after it (pass step 8).
bool handle_key(int code) {
    // With a second language: TEXT selects it, and while it is selected the channel
    // keys and VIDEO are its own.
    if (menu_second_key(code)) return true;
    switch (code) {
        case KEY_1:
        case KEY_2:
        case KEY_3:
        case KEY_4:
        case KEY_5:
        case KEY_6:
        case KEY_7:
        case KEY_8:
        case KEY_9:
            tmr_enter_digit(code - KEY_1 + 1);
            return true;
        case KEY_0:
            tmr_enter_digit(0);
            return true;
        case KEY_UP:
            tmr_step_subtitle(9);
            return true;
        case KEY_LEFT:
            tmr_step_subtitle(clock_running - 2);
            return true;
        case KEY_RIGHT:
            tmr_step_subtitle(0);
            return true;
        case KEY_DOWN:
            tmr_step_subtitle(clock_running - 11);
            return true;
        case KEY_VOLUMEDOWN:
            fb_shift_band(1);
            return true;
        case KEY_VOLUMEUP:
            fb_shift_band(-1);
            return true;
        case KEY_HELP:
            if (clock_running) return true;
            menu_help_box(1);
            return false;
        case KEY_MENU: {
            // The film runs on while the menu is open: a menu left without a new file
            // puts the subtitles back on the film's time, not on the clock's old one.
            const bool followed = tmr_following();
            tmr_stop();
            if (menu_file() == -1 && followed) {
                tmr_rejoin_film();
                fb_show_icons();
            }
            tmr_restore_band();
            return true;
        }
        case KEY_EXIT:
            if (!confirm_exit()) return false;
            hw_usleep(5000);
            quit_requested = 1;
            return true;
        case KEY_OK:
            if (film_ended == 0) toggle_play();
            return true;
        case KEY_TV:
            menu_fps();
            return true;
        case KEY_VIDEO:
            fb_toggle_inset();
            return true;
        case KEY_RED:
            if (painting == 0) fb_next_zoom();
            return true;
        case KEY_GREEN:
            fb_next_palette();
            return true;
        case KEY_YELLOW:
            fb_next_colour_scheme();
            return true;
        case KEY_BLUE:
            if (painting == 0) fb_next_background();
            return true;
        case KEY_CHANNELUP:
            tmr_shift(1);
            return true;
        case KEY_CHANNELDOWN:
            tmr_shift(-1);
            return true;
        case KEY_TEXT:
            // Only while the page is served: the phones paired with it are forgotten.
            if (!web_serving()) return false;
            if (menu_dialog(1, 20, kForgetQuestion)) {
                web_forget_paired();
                fb_show_status(kForgotten);
            }
            tmr_restore_band();
            return true;
        default:
            return false;
    }
}

}  // namespace

void app_key(int code) {
    int32_t help_before = help_countdown;
    if (handle_key(code) && help_before > 0) menu_help_box(0);
}

int app_start() {
    quit_requested = 0;
    save_on_exit = 0;
    web_clear_keys();
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
    int error = tmr_sub_init();
    if (error != 0) {
        menu_error_box(error);
        app_shutdown(kKeepResumePosition);
        return 0;
    }
    tmr_stop();
    fb_show_status(film ? kStartFilm : kStartMessage);
    if (subtitles != nullptr) {
        // A remembered correction is applied at once; the status line says so once
        // the resume position is shown.
        menu_sync_startup_file_loaded();
        if (saved_settings.position > 0) {
            tmr_go_to_subtitle(saved_settings.position);
        } else {
            hw_usleep(200000);
            menu_help_box(1);
        }
        menu_sync_show_restored();
    }
    save_on_exit = 0;
    return -1;
}

int app_pass() {
    hw_usleep(10000);
    if (subtitles == nullptr) {
        int r = menu_file();
        // -3: the special file was loaded; play it like any other choice.
        if (r < 0 && r != -3) {
            tmr_stop();
            hw_usleep(5000);
            quit_requested = 1;
            app_shutdown(kKeepResumePosition);
            return 0;
        }
    } else {
        if (clock_running) {
            if (status_countdown > 0) status_countdown -= 1;
            if (status_countdown == 0) fb_clear_status();
        }
        if (help_countdown > 0) help_countdown -= 1;
        if (help_countdown == 0) menu_help_box(0);
        web_main_pass(web_place::at_rest);
        int code = rc_read_key();
        if (code >= 0) app_key(code);
    }
    // Whatever the pass drew and no drawing of its own showed yet.
    fb_show_changes();
    if (quit_requested) {
        app_shutdown(save_on_exit);
        return 0;
    }
    return -1;
}

int app_main(const web_options* web) {
    int r = app_start();
    if (r < 0 && web != nullptr) web_start(*web);
    while (r < 0) r = app_pass();
    web_stop();
    return r;
}

int32_t app_resume_position(int save_position) {
    if (save_position == kKeepResumePosition) return kKeepResumePosition;
    return save_position != 0 && subtitles_ever_loaded ? tmr_resume_index() : 0;
}

int app_shutdown(int save_position) {
    menu_sync_take_leaving();
    hw_usleep(1000000);
    tmr_sub_deinit();
    tmr_film_close();
    fb_deinit(app_resume_position(save_position));
    menu_sync_write_taken();
    rc_deinit();
    hw_close(fb);
    fb = -1;
    hw_usleep(10000);
    return save_position;
}
