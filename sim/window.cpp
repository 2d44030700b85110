// The simulator's window: SDL2 on the main thread.
#include "sim/window.h"

#include <linux/input.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "sim/frontend.h"
#include "sim/key_panel.h"
#include "sim/model.h"
#include "sim/options.h"
#include "sim/script.h"

namespace {

constexpr int kMinScaleAuto = 1, kMaxScaleAuto = 4;
// Milliseconds between two pictures; the player's own pace is 10 ms a poll.
constexpr Uint32 kFrameMs = 33;
// A window that shows the same is drawn again this often all the same, should the
// system have lost a frame; otherwise only what changes is drawn, which keeps an
// idle simulator from loading the machine and its X server.
constexpr Uint32 kSameFrameMs = 1000;
// Closing: EXIT, then OK after this pause, then this long for the player to end;
// after kCloseGiveUpMs in all the process ends without it.
constexpr Uint32 kCloseOkDelayMs = 400, kCloseRoundMs = 4000, kCloseGiveUpMs = 25000;
// The film's seek keys jump this many seconds.
constexpr int32_t kFilmSeek = 10;

struct key_binding {
    SDL_Keycode key;
    uint16_t code;
};

constexpr auto kBindings = std::to_array<key_binding>({
    {SDLK_RETURN, KEY_OK},
    {SDLK_KP_ENTER, KEY_OK},
    {SDLK_ESCAPE, KEY_EXIT},
    {SDLK_BACKSPACE, KEY_EXIT},
    {SDLK_UP, KEY_UP},
    {SDLK_DOWN, KEY_DOWN},
    {SDLK_LEFT, KEY_LEFT},
    {SDLK_RIGHT, KEY_RIGHT},
    {SDLK_F1, KEY_RED},
    {SDLK_r, KEY_RED},
    {SDLK_F2, KEY_GREEN},
    {SDLK_g, KEY_GREEN},
    {SDLK_F3, KEY_YELLOW},
    {SDLK_y, KEY_YELLOW},
    {SDLK_F4, KEY_BLUE},
    {SDLK_b, KEY_BLUE},
    {SDLK_h, KEY_HELP},
    {SDLK_m, KEY_MENU},
    {SDLK_t, KEY_TV},
    {SDLK_v, KEY_VIDEO},
    {SDLK_x, KEY_TEXT},
    {SDLK_PLUS, KEY_VOLUMEUP},
    {SDLK_EQUALS, KEY_VOLUMEUP},
    {SDLK_KP_PLUS, KEY_VOLUMEUP},
    {SDLK_MINUS, KEY_VOLUMEDOWN},
    {SDLK_KP_MINUS, KEY_VOLUMEDOWN},
    {SDLK_PAGEUP, KEY_CHANNELUP},
    {SDLK_PAGEDOWN, KEY_CHANNELDOWN},
    {SDLK_0, KEY_0},
    {SDLK_1, KEY_1},
    {SDLK_2, KEY_2},
    {SDLK_3, KEY_3},
    {SDLK_4, KEY_4},
    {SDLK_5, KEY_5},
    {SDLK_6, KEY_6},
    {SDLK_7, KEY_7},
    {SDLK_8, KEY_8},
    {SDLK_9, KEY_9},
    {SDLK_KP_0, KEY_0},
    {SDLK_KP_1, KEY_1},
    {SDLK_KP_2, KEY_2},
    {SDLK_KP_3, KEY_3},
    {SDLK_KP_4, KEY_4},
    {SDLK_KP_5, KEY_5},
    {SDLK_KP_6, KEY_6},
    {SDLK_KP_7, KEY_7},
    {SDLK_KP_8, KEY_8},
    {SDLK_KP_9, KEY_9},
});

struct window_deleter {
    void operator()(SDL_Window* w) const { SDL_DestroyWindow(w); }
};
struct renderer_deleter {
    void operator()(SDL_Renderer* r) const { SDL_DestroyRenderer(r); }
};
struct texture_deleter {
    void operator()(SDL_Texture* t) const { SDL_DestroyTexture(t); }
};

struct window_state {
    bool sdl_up = false;
    std::unique_ptr<SDL_Window, window_deleter> win;
    std::unique_ptr<SDL_Renderer, renderer_deleter> ren;
    std::unique_ptr<SDL_Texture, texture_deleter> tv, panel;
    sim::key_panel key_panel;
    const sim::picture* background = nullptr;
    bool launch_release_due = false;  // the launching OK's release is still to be sent
    int scale = 1;                    // current whole factor
    int panel_width = 0;              // pixels at the current factor; 0 = no panel
    int panel_scale = 0;              // factor the panel texture was drawn at; 0 = redraw
    int panel_drawn_width = 0;        // width the panel texture was drawn at
    bool panel_shown = true;
    std::string last_key;  // what the panel says was sent last
    sim::picture display, composed;
    // What the last frame showed of the framebuffer, whether an event since may have
    // changed the rest of the window, and when it was shown.
    sim::picture presented;
    bool redraw = true;
    Uint32 presented_at = 0;
    // Closing: the keys that end the player are being sent.
    bool closing = false;
    int close_step = 0;
    Uint32 close_started = 0, close_at = 0;
};

// Main thread only.
window_state& state() {
    static window_state s;
    return s;
}

// The window's content at the current factor, pixels.
int content_width(const window_state& s) {
    return static_cast<int>(sim::kTvWidth) * s.scale + (s.panel_shown ? s.panel_width : 0);
}
SDL_Rect screen_room(const window_state& s);
int auto_scale(window_state& s);
void size_panel(window_state& s);
void fit_window(window_state& s);
SDL_Rect tv_rect(const window_state& s);
void handle_event(window_state& s, const SDL_Event& e);
void send_key(uint16_t code, int32_t value);
void film_key_pressed(window_state& s, const sim::film_key& k);
void drive_closing(window_state& s);
void render(window_state& s);
void draw_panel(window_state& s);

}  // namespace

namespace sim {

bool window_open(const window_config& cfg, std::string& err) {
    window_state& s = state();
    // Without a session bus SDL's D-Bus helpers would have libdbus try to launch one
    // (and leak on the way when it can't); there is nothing for them to talk to.
    // No other thread runs yet, so the environment may still change.
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        err = SDL_GetError();
        return false;
    }
    s.sdl_up = true;
    s.background = cfg.background;
    s.launch_release_due = cfg.launch_release;
    // The panel's width, and so the scale that fits, depends on its font.
    if (!s.key_panel.open(sim::resolve("/var/tuxbox/Tresk/Tresk.ttf"))) {
        sim::say(
            "no font for the key panel; keys: Enter OK, Esc EXIT, arrows, F1-F4 colours, "
            "digits, + - volume, PgUp PgDn channel, H help, M menu, T TV, V video");
    }
    s.scale = cfg.scale > 0 ? cfg.scale : auto_scale(s);
    size_panel(s);
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    s.win.reset(SDL_CreateWindow("lumetra-sim", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                 content_width(s), kTvHeight * s.scale, SDL_WINDOW_RESIZABLE));
    if (!s.win) {
        err = SDL_GetError();
        window_close();
        return false;
    }
    s.ren.reset(SDL_CreateRenderer(s.win.get(), -1, 0));
    if (!s.ren) s.ren.reset(SDL_CreateRenderer(s.win.get(), -1, SDL_RENDERER_SOFTWARE));
    if (s.ren) {
        s.tv.reset(SDL_CreateTexture(s.ren.get(), SDL_PIXELFORMAT_ARGB8888,
                                     SDL_TEXTUREACCESS_STREAMING, kTvWidth, kTvHeight));
    }
    if (!s.ren || !s.tv) {
        err = SDL_GetError();
        window_close();
        return false;
    }
    return true;
}

void window_loop(const std::function<bool()>& player_done) {
    window_state& s = state();
    Uint32 next_frame = 0;
    while (!player_done()) {
        // Before any key of the person's: a record sent before the player has opened
        // the device would be lost, so it waits for that.
        if (s.launch_release_due && sim::input_open(0)) {
            send_key(KEY_OK, 0);
            s.launch_release_due = false;
        }
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, 10)) {
            handle_event(s, e);
            while (SDL_PollEvent(&e)) handle_event(s, e);
        }
        if (s.closing) {
            drive_closing(s);
            continue;
        }
        Uint32 now = SDL_GetTicks();
        if (static_cast<int32_t>(now - next_frame) >= 0) {
            render(s);
            next_frame = now + kFrameMs;
        }
    }
}

void window_close() {
    window_state& s = state();
    s.tv.reset();
    s.panel.reset();
    s.ren.reset();
    s.win.reset();
    s.key_panel.close();
    if (s.sdl_up) SDL_Quit();
    s.sdl_up = false;
}

int remote_code_for(SDL_Keycode key) {
    for (const key_binding& b : kBindings) {
        if (b.key == key) return b.code;
    }
    return -1;
}

film_key film_key_for(SDL_Keycode key) {
    switch (key) {
        case SDLK_SPACE:
            return {true, video_action::pause, 0};
        case SDLK_LEFTBRACKET:
            return {true, video_action::seek, -kFilmSeek};
        case SDLK_RIGHTBRACKET:
            return {true, video_action::seek, kFilmSeek};
        default:
            return {};
    }
}

int32_t record_value_for(bool pressed, bool repeat) {
    return !pressed ? 0 : repeat ? 2 : 1;
}

}  // namespace sim

namespace {

// The room for the window's content on the screen it is on, leaving some for the
// window's frame; very large when the screen's size is unknown.
SDL_Rect screen_room(const window_state& s) {
    int display = s.win ? std::max(0, SDL_GetWindowDisplayIndex(s.win.get())) : 0;
    SDL_Rect r;
    if (SDL_GetDisplayUsableBounds(display, &r) != 0)
        return SDL_Rect{0, 0, INT_MAX / 2, INT_MAX / 2};
    return SDL_Rect{r.x, r.y, r.w - 32, r.h - 64};
}

// The largest factor at which the picture and the panel, nothing of it wrapped, fit the
// screen.
int auto_scale(window_state& s) {
    SDL_Rect room = screen_room(s);
    for (int f = kMaxScaleAuto; f > kMinScaleAuto; --f) {
        int panel = s.panel_shown ? s.key_panel.natural_width(f) : 0;
        if (static_cast<int>(sim::kTvWidth) * f + panel <= room.w &&
            static_cast<int>(sim::kTvHeight) * f <= room.h) {
            return f;
        }
    }
    return kMinScaleAuto;
}

// The panel as wide as the screen leaves beside the picture, up to the width that
// wraps nothing; at least wide enough to wrap each text onto no more than two lines.
void size_panel(window_state& s) {
    SDL_Rect room = screen_room(s);
    s.panel_width =
        s.key_panel.width_for(s.scale, room.w - static_cast<int>(sim::kTvWidth) * s.scale);
}

// Sizes the window to the content at the current factor.
void fit_window(window_state& s) {
    SDL_SetWindowSize(s.win.get(), content_width(s), sim::kTvHeight * s.scale);
}

// Where the picture goes: the largest whole factor that fits the window, centred.
SDL_Rect tv_rect(const window_state& s) {
    int w = 0, h = 0;
    SDL_GetRendererOutputSize(s.ren.get(), &w, &h);
    int cw = content_width(s), ch = static_cast<int>(sim::kTvHeight) * s.scale;
    return SDL_Rect{std::max(0, (w - cw) / 2), std::max(0, (h - ch) / 2),
                    static_cast<int>(sim::kTvWidth) * s.scale, ch};
}

void handle_event(window_state& s, const SDL_Event& e) {
    s.redraw = true;
    switch (e.type) {
        case SDL_QUIT:
            if (!s.closing) {
                s.closing = true;
                s.close_step = 0;
                s.close_started = SDL_GetTicks();
                SDL_HideWindow(s.win.get());
            }
            break;
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                // The largest factor whose picture, and panel at its least width, fit.
                int w = 0, h = 0;
                SDL_GetRendererOutputSize(s.ren.get(), &w, &h);
                int f = sim::kMaxScale;
                for (; f > 1; --f) {
                    if (static_cast<int>(sim::kTvHeight) * f > h) continue;
                    int panel = s.panel_shown ? s.key_panel.least_width(f) : 0;
                    if (static_cast<int>(sim::kTvWidth) * f + panel <= w) break;
                }
                s.scale = f;
                if (s.panel_shown) {
                    s.panel_width =
                        s.key_panel.width_for(f, w - static_cast<int>(sim::kTvWidth) * f);
                }
            }
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            if (s.closing) break;
            bool pressed = e.type == SDL_KEYDOWN;
            if (e.key.keysym.sym == SDLK_F12) {
                if (pressed && !e.key.repeat) {
                    s.panel_shown = !s.panel_shown;
                    if (s.panel_shown) size_panel(s);
                    fit_window(s);
                }
                break;
            }
            if (sim::film_key k = sim::film_key_for(e.key.keysym.sym); k.found) {
                if (pressed && !e.key.repeat) film_key_pressed(s, k);
                break;
            }
            int code = sim::remote_code_for(e.key.keysym.sym);
            if (code < 0) break;
            int32_t value = sim::record_value_for(pressed, e.key.repeat != 0);
            send_key(static_cast<uint16_t>(code), value);
            if (value != 0) {
                s.last_key = std::string(sim::key_name(static_cast<uint16_t>(code)));
                if (value == 2) s.last_key += " (held)";
                s.panel_scale = 0;
            }
            break;
        }
        default:
            break;
    }
}

void send_key(uint16_t code, int32_t value) {
    sim::push_key(0, code, value);
}

// The film's keys act on the model's video decoder, not on the remote control.
void film_key_pressed(window_state& s, const sim::film_key& k) {
    if (k.action == sim::video_action::seek) {
        sim::video_seek(int64_t{k.seconds} * 1000);
        s.last_key = k.seconds < 0 ? "film \u221210\u00a0s" : "film +10\u00a0s";
    } else if (sim::video_playing()) {
        sim::video_pause();
        s.last_key = "film pause";
    } else {
        sim::video_play();
        s.last_key = "film play";
    }
    s.panel_scale = 0;
}

// After the window was closed: EXIT, a pause, OK, and a while for the player to
// end; again if it has not (EXIT may first have closed a menu or dialog). Keys sent
// before the player has opened its remote control would be lost, so that is awaited.
void drive_closing(window_state& s) {
    Uint32 now = SDL_GetTicks();
    if (now - s.close_started > kCloseGiveUpMs) {
        sim::say("the player did not end after the window was closed");
        std::fflush(stdout);
        std::_Exit(1);
    }
    switch (s.close_step) {
        case 0:
            if (!sim::input_open(0)) break;
            send_key(KEY_EXIT, 1);
            send_key(KEY_EXIT, 0);
            s.close_at = now + kCloseOkDelayMs;
            s.close_step = 1;
            break;
        case 1:
            if (static_cast<int32_t>(now - s.close_at) < 0) break;
            send_key(KEY_OK, 1);
            send_key(KEY_OK, 0);
            s.close_at = now + kCloseRoundMs;
            s.close_step = 2;
            break;
        default:
            if (static_cast<int32_t>(now - s.close_at) >= 0) s.close_step = 0;
            break;
    }
}

void render(window_state& s) {
    sim::grab_framebuffer(s.display);
    const Uint32 now = SDL_GetTicks();
    if (!s.redraw && s.display.argb == s.presented.argb && s.display.width == s.presented.width &&
        now - s.presented_at < kSameFrameMs) {
        return;
    }
    s.presented = s.display;
    s.redraw = false;
    s.presented_at = now;
    sim::compose(s.display, *s.background, s.composed);
    SDL_UpdateTexture(s.tv.get(), nullptr, s.composed.argb.data(),
                      static_cast<int>(s.composed.width * 4));
    SDL_SetRenderDrawColor(s.ren.get(), 0, 0, 0, 255);
    SDL_RenderClear(s.ren.get());
    SDL_Rect tv = tv_rect(s);
    SDL_RenderCopy(s.ren.get(), s.tv.get(), nullptr, &tv);
    if (s.panel_shown && s.panel_width > 0) {
        if (s.panel_scale != s.scale || s.panel_drawn_width != s.panel_width) draw_panel(s);
        if (s.panel) {
            SDL_Rect p{tv.x + tv.w, tv.y, s.panel_width, tv.h};
            SDL_RenderCopy(s.ren.get(), s.panel.get(), nullptr, &p);
        }
    }
    SDL_RenderPresent(s.ren.get());
}

void draw_panel(window_state& s) {
    sim::picture p;
    s.key_panel.draw(s.key_panel.layout(s.scale, s.panel_width, s.last_key), p);
    s.panel.reset(SDL_CreateTexture(s.ren.get(), SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC,
                                    static_cast<int>(p.width), static_cast<int>(p.height)));
    if (s.panel) {
        SDL_UpdateTexture(s.panel.get(), nullptr, p.argb.data(), static_cast<int>(p.width * 4));
    }
    s.panel_scale = s.scale;
    s.panel_drawn_width = s.panel_width;
}

}  // namespace
