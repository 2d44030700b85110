// The simulator's window: SDL2 on the main thread, FreeType for the key panel.
#include "sim/window.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <linux/input.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "sim/frontend.h"
#include "sim/model.h"
#include "sim/options.h"
#include "sim/script.h"

namespace {

constexpr int kMinScaleAuto = 1, kMaxScaleAuto = 4;
// Milliseconds between two pictures; the player's own pace is 10 ms a poll.
constexpr Uint32 kFrameMs = 33;
// Closing: EXIT, then OK after this pause, then this long for the player to end;
// after kCloseGiveUpMs in all the process ends without it.
constexpr Uint32 kCloseOkDelayMs = 400, kCloseRoundMs = 4000, kCloseGiveUpMs = 25000;
// Panel layout at scale 1.
constexpr int kPanelFontPx = 14, kPanelLineH = 24, kPanelKeyX = 14, kPanelRemoteX = 156;
constexpr uint32_t kPanelBack = 0xff1c2026, kPanelText = 0xffd8d8d8, kPanelTitle = 0xffffd040,
                   kPanelDim = 0xff98a0a8;

struct font_file {
    const char* path;
    bool box_path;  // a path of the box, under the root
};

constexpr auto kFonts = std::to_array<font_file>({
    {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", false},
    {"/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf", false},
    {"/var/tuxbox/Tresk/Tresk.ttf", true},
});

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

struct panel_row {
    const char* keys;    // keyboard
    const char* remote;  // remote control
    uint32_t swatch;     // colour shown before the remote key; 0 = none
};

constexpr auto kPanelRows = std::to_array<panel_row>({
    {"Enter", "OK", 0},
    {"Esc, Backspace", "EXIT", 0},
    {"\u2191 \u2193 \u2190 \u2192", "arrows", 0},
    {"F1 or R", "RED", 0xffe02020},
    {"F2 or G", "GREEN", 0xff20c020},
    {"F3 or Y", "YELLOW", 0xffe0e020},
    {"F4 or B", "BLUE", 0xff3050f0},
    {"0 \u2026 9", "digits", 0},
    {"+ and \u2212", "VOLUME up, down", 0},
    {"Page Up, Down", "CHANNEL up, down", 0},
    {"H", "HELP", 0},
    {"M", "MENU", 0},
    {"T", "TV", 0},
    {"V", "VIDEO", 0},
    {"", "", 0},
    {"F12", "hide this panel", 0},
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
struct ft_library_deleter {
    void operator()(FT_Library l) const { FT_Done_FreeType(l); }
};
struct ft_face_deleter {
    void operator()(FT_Face f) const { FT_Done_Face(f); }
};

struct window_state {
    bool sdl_up = false;
    std::unique_ptr<SDL_Window, window_deleter> win;
    std::unique_ptr<SDL_Renderer, renderer_deleter> ren;
    std::unique_ptr<SDL_Texture, texture_deleter> tv, panel;
    // FreeType objects: the face is declared after the library so it goes first.
    std::unique_ptr<FT_LibraryRec_, ft_library_deleter> ft;
    std::unique_ptr<FT_FaceRec_, ft_face_deleter> face;
    const sim::picture* background = nullptr;
    bool launch_release_due = false;  // the launching OK's release is still to be sent
    int scale = 1;                    // current whole factor
    int panel_scale = 0;              // factor the panel texture was drawn at; 0 = redraw
    bool panel_shown = true;
    std::string last_key;  // what the panel says was sent last
    sim::picture display, composed;
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

int content_width(const window_state& s) {
    return sim::kTvWidth + (s.panel_shown ? sim::kPanelWidth : 0);
}
int auto_scale(const window_state& s);
void fit_window(window_state& s);
SDL_Rect tv_rect(const window_state& s);
void handle_event(window_state& s, const SDL_Event& e);
void send_key(uint16_t code, int32_t value);
void drive_closing(window_state& s);
void render(window_state& s);
void draw_panel(window_state& s);
void open_font(window_state& s);
int draw_text(const window_state& s, sim::picture& p, int x, int baseline, std::string_view text,
              uint32_t colour);
void fill(sim::picture& p, int x, int y, int w, int h, uint32_t colour);

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
    s.scale = cfg.scale > 0 ? cfg.scale : auto_scale(s);
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    s.win.reset(SDL_CreateWindow("lumetra-sim", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                 content_width(s) * s.scale, kTvHeight * s.scale,
                                 SDL_WINDOW_RESIZABLE));
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
    open_font(s);
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
    s.face.reset();
    s.ft.reset();
    if (s.sdl_up) SDL_Quit();
    s.sdl_up = false;
}

int remote_code_for(SDL_Keycode key) {
    for (const key_binding& b : kBindings) {
        if (b.key == key) return b.code;
    }
    return -1;
}

int32_t record_value_for(bool pressed, bool repeat) {
    return !pressed ? 0 : repeat ? 2 : 1;
}

}  // namespace sim

namespace {

int auto_scale(const window_state& s) {
    SDL_Rect r;
    if (SDL_GetDisplayUsableBounds(0, &r) != 0) return kMinScaleAuto;
    // Leave room for the window's frame.
    int f = std::min((r.w - 32) / content_width(s), (r.h - 64) / static_cast<int>(sim::kTvHeight));
    return std::clamp(f, kMinScaleAuto, kMaxScaleAuto);
}

// Sizes the window to the content at the current factor.
void fit_window(window_state& s) {
    SDL_SetWindowSize(s.win.get(), content_width(s) * s.scale, sim::kTvHeight * s.scale);
}

// Where the picture goes: the largest whole factor that fits the window, centred.
SDL_Rect tv_rect(const window_state& s) {
    int w = 0, h = 0;
    SDL_GetRendererOutputSize(s.ren.get(), &w, &h);
    int cw = content_width(s) * s.scale, ch = static_cast<int>(sim::kTvHeight) * s.scale;
    return SDL_Rect{std::max(0, (w - cw) / 2), std::max(0, (h - ch) / 2),
                    static_cast<int>(sim::kTvWidth) * s.scale, ch};
}

void handle_event(window_state& s, const SDL_Event& e) {
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
                int w = 0, h = 0;
                SDL_GetRendererOutputSize(s.ren.get(), &w, &h);
                int f = std::min(w / content_width(s), h / static_cast<int>(sim::kTvHeight));
                s.scale = std::clamp(f, 1, sim::kMaxScale);
            }
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            if (s.closing) break;
            bool pressed = e.type == SDL_KEYDOWN;
            if (e.key.keysym.sym == SDLK_F12) {
                if (pressed && !e.key.repeat) {
                    s.panel_shown = !s.panel_shown;
                    fit_window(s);
                }
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
    sim::compose(s.display, *s.background, s.composed);
    SDL_UpdateTexture(s.tv.get(), nullptr, s.composed.argb.data(),
                      static_cast<int>(s.composed.width * 4));
    SDL_SetRenderDrawColor(s.ren.get(), 0, 0, 0, 255);
    SDL_RenderClear(s.ren.get());
    SDL_Rect tv = tv_rect(s);
    SDL_RenderCopy(s.ren.get(), s.tv.get(), nullptr, &tv);
    if (s.panel_shown) {
        if (s.panel_scale != s.scale) draw_panel(s);
        if (s.panel) {
            SDL_Rect p{tv.x + tv.w, tv.y, sim::kPanelWidth * s.scale, tv.h};
            SDL_RenderCopy(s.ren.get(), s.panel.get(), nullptr, &p);
        }
    }
    SDL_RenderPresent(s.ren.get());
}

void draw_panel(window_state& s) {
    int f = s.scale;
    sim::picture p;
    p.width = sim::kPanelWidth * f;
    p.height = sim::kTvHeight * f;
    p.argb.assign(size_t{p.width} * p.height, kPanelBack);
    int y = kPanelLineH * f;
    draw_text(s, p, kPanelKeyX * f, y, "Keyboard", kPanelTitle);
    draw_text(s, p, kPanelRemoteX * f, y, "Remote control", kPanelTitle);
    y += kPanelLineH * f / 3;
    for (const panel_row& r : kPanelRows) {
        y += kPanelLineH * f;
        draw_text(s, p, kPanelKeyX * f, y, r.keys, kPanelText);
        int x = kPanelRemoteX * f;
        if (r.swatch != 0) {
            fill(p, x, y - 11 * f, 10 * f, 11 * f, r.swatch);
            x += 15 * f;
        }
        draw_text(s, p, x, y, r.remote, 0xffffffff);
    }
    y += kPanelLineH * f * 3 / 2;
    draw_text(s, p, kPanelKeyX * f, y, "Closing the window sends EXIT,", kPanelDim);
    y += kPanelLineH * f * 3 / 4;
    draw_text(s, p, kPanelKeyX * f, y, "then OK: the player ends.", kPanelDim);
    y += kPanelLineH * f * 3 / 2;
    if (!s.last_key.empty()) {
        int x = draw_text(s, p, kPanelKeyX * f, y, "Sent: ", kPanelDim);
        draw_text(s, p, x, y, s.last_key, kPanelTitle);
    }
    s.panel.reset(SDL_CreateTexture(s.ren.get(), SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC,
                                    static_cast<int>(p.width), static_cast<int>(p.height)));
    if (s.panel) {
        SDL_UpdateTexture(s.panel.get(), nullptr, p.argb.data(), static_cast<int>(p.width * 4));
    }
    s.panel_scale = f;
}

void open_font(window_state& s) {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) != 0) return;
    s.ft.reset(lib);
    for (const font_file& font : kFonts) {
        std::string path = font.box_path ? sim::resolve(font.path) : font.path;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) continue;
        FT_Face face = nullptr;
        if (FT_New_Face(lib, path.c_str(), 0, &face) == 0) {
            s.face.reset(face);
            return;
        }
    }
    sim::say(
        "no font for the key panel; keys: Enter OK, Esc EXIT, arrows, F1-F4 colours, "
        "digits, + - volume, PgUp PgDn channel, H help, M menu, T TV, V video");
}

// Draws UTF-8 text with its baseline at y; returns the pen position after it.
int draw_text(const window_state& s, sim::picture& p, int x, int baseline, std::string_view text,
              uint32_t colour) {
    FT_Face face = s.face.get();
    if (face == nullptr) return x;
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(kPanelFontPx * s.scale));
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        uint32_t cp = b;
        size_t len = b < 0x80 ? 1 : b < 0xe0 ? 2 : b < 0xf0 ? 3 : 4;
        if (len > 1) {
            cp = b & (0x7f >> len);
            for (size_t k = 1; k < len && i + k < text.size(); ++k) {
                cp = cp << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3f);
            }
        }
        i += len;
        if (FT_Load_Char(face, cp, FT_LOAD_RENDER) != 0) continue;
        FT_GlyphSlot g = face->glyph;
        const FT_Bitmap& bm = g->bitmap;
        int left = x + g->bitmap_left, top = baseline - g->bitmap_top;
        for (unsigned r = 0; r < bm.rows; ++r) {
            int py = top + static_cast<int>(r);
            if (py < 0 || py >= static_cast<int>(p.height)) continue;
            for (unsigned c = 0; c < bm.width; ++c) {
                int px = left + static_cast<int>(c);
                if (px < 0 || px >= static_cast<int>(p.width)) continue;
                uint32_t a = bm.buffer[r * bm.pitch + c];
                if (a == 0) continue;
                uint32_t& d = p.argb[size_t(py) * p.width + size_t(px)];
                uint32_t v = 0xff000000;
                for (int sh = 0; sh < 24; sh += 8) {
                    uint32_t o = (colour >> sh & 0xff) * a + (d >> sh & 0xff) * (255 - a);
                    v |= (o + 127) / 255 << sh;
                }
                d = v;
            }
        }
        x += static_cast<int>(g->advance.x >> 6);
    }
    return x;
}

void fill(sim::picture& p, int x, int y, int w, int h, uint32_t colour) {
    for (int yy = std::max(0, y); yy < std::min<int>(y + h, static_cast<int>(p.height)); ++yy) {
        for (int xx = std::max(0, x); xx < std::min<int>(x + w, static_cast<int>(p.width)); ++xx) {
            p.argb[size_t(yy) * p.width + size_t(xx)] = colour;
        }
    }
}

}  // namespace
