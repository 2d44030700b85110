// The simulator's window (SDL2): the television picture, the framebuffer blended by
// its alpha over a background, scaled by a whole factor; the keyboard as the remote
// control; a panel beside the picture showing the keys.
//
// Built only when SDL2 is found (LUMETRA_HAVE_WINDOW). Every function here runs on
// the process's main thread, as SDL requires; the player runs on another thread.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <string>

#include "sim/picture.h"
#include "sim/script.h"

namespace sim {

struct window_config {
    int scale = 0;                        // whole factor; 0 = the largest that fits
    const picture* background = nullptr;  // kTvWidth x kTvHeight, outlives the window
    // Send, once the player has opened its remote control, the release of the OK that
    // launched it from the box's menu, as the box's remote would: the player takes an
    // OK only after a release, so a person's first Enter then counts.
    bool launch_release = false;
};

// Opens the window. False with a reason in err.
bool window_open(const window_config& cfg, std::string& err);
// Shows the picture and turns keys into remote-control records on input device 0
// (each key record followed by its report record) until player_done() holds. Closing the window
// asks the player to end as EXIT then OK would; if it has not ended after several tries the process
// ends with status 1.
void window_loop(const std::function<bool()>& player_done);
// Closes the window and SDL.
void window_close();

// The remote-control key code for a keyboard key, or -1 for keys without one.
int remote_code_for(SDL_Keycode key);
// A keyboard key for the film on the video decoder (with --video): Space pauses or
// plays it (action pause: the window toggles), [ and ] seek 10 s back and on.
struct film_key {
    bool found = false;
    video_action action = video_action::pause;
    int32_t seconds = 0;  // seek
};
film_key film_key_for(SDL_Keycode key);
// The record value for a keyboard event: 1 press, 2 auto-repeat while held, 0 release.
int32_t record_value_for(bool pressed, bool repeat);

}  // namespace sim
