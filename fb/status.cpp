// The status line: a message on a light strip and the box of state icons.
#include "fb/status.h"

#include <array>
#include <cstdio>
#include <mutex>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/symbols.h"
#include "fb/text.h"

namespace {

constexpr int32_t kStripHeight = 32;
constexpr int32_t kIconBoxWidth = 64;
// Room kept free for the icon box at the right of the message.
constexpr int32_t kIconRoom = 69;
constexpr int32_t kBaseline = 24;  // baseline of the message and the zoom digit below sy
constexpr int32_t kSymbolTop = 4;
constexpr int32_t kShownPasses = 100;
constexpr int kStripColour = 7;
constexpr int8_t kTextColour = 0;
constexpr int kIconBoxColour = 4;
constexpr int kTransparent = 8;
constexpr uint8_t kPlaySymbol = 0x1E;
constexpr uint8_t kPauseSymbol = 0x05;
constexpr uint8_t kDimPaletteSymbol = 0x1C;
constexpr uint8_t kBrightPaletteSymbol = 0x1D;
// The time template; digits go to positions 7, 10, 11, 14 and 15.
constexpr std::array<char, 18> kTimeTemplate{" Tijd: -u --m --s"};

}  // namespace

relaxed<int32_t> status_countdown{-1};
relaxed<int32_t> status_playing{0};

namespace {

// Serialises the status operations of the two threads, so that the drawing
// cursor and the strip are never shared by two drawings at once.
std::mutex info_mutex;
// The message on the strip now (empty: none), for the web page; under info_mutex.
std::array<char, 256> shown_message{};

void draw_status(const char* message);
void draw_icons();

}  // namespace

void fb_show_status(const char* message) {
    std::lock_guard lock(info_mutex);
    draw_status(message);
    fb_show_changes();
}

void fb_show_time(uint32_t ms) {
    const uint32_t s = ms / 1000;
    const uint32_t h = s / 3600;
    uint32_t r = s % 3600;
    const uint32_t m1 = r / 600;
    r %= 600;
    const uint32_t m2 = r / 60;
    r %= 60;
    const uint32_t s1 = r / 10;
    const uint32_t s2 = r % 10;
    // Each call fills its own copy, so the two threads never share the digits.
    std::array<char, 18> line = kTimeTemplate;
    line[7] = h < 10 ? static_cast<char>('0' + h) : '9';
    line[10] = static_cast<char>('0' + m1);
    line[11] = static_cast<char>('0' + m2);
    line[14] = static_cast<char>('0' + s1);
    line[15] = static_cast<char>('0' + s2);
    std::lock_guard lock(info_mutex);
    draw_status(line.data());
    fb_show_changes();
}

void fb_copy_status(char* out, size_t size) {
    if (size == 0) return;
    std::lock_guard lock(info_mutex);
    std::snprintf(out, size, "%s", shown_message.data());
}

void fb_show_icons() {
    std::lock_guard lock(info_mutex);
    draw_icons();
    fb_show_changes();
}

int32_t fb_status_width() {
    return ex - sx - kIconRoom;
}

void fb_clear_status() {
    std::lock_guard lock(info_mutex);
    shown_message[0] = '\0';
    fb_fill(0, sx, sy, ex, kStripHeight, kTransparent);
    status_countdown = -1;
    fb_show_changes();
}

namespace {

void draw_status(const char* message) {
    std::snprintf(shown_message.data(), shown_message.size(), "%s", message);
    const int32_t x0 = sx;
    const int32_t y0 = sy;
    const int32_t x1 = ex;
    int32_t info_y = y0 + kBaseline;
    int32_t info_x = x0;
    // The width argument is ex itself: the strip runs from sx to sx + ex.
    fb_fill(0, x0, y0, x1, kStripHeight, kStripColour);
    fb_draw_string(message, 0, info_x, info_y, 0, fb_status_width(), kTextColour);
    draw_icons();
}

void draw_icons() {
    const int32_t y0 = sy;
    const int32_t x1 = ex;
    int32_t info_x = x1 - kIconBoxWidth;
    const int8_t k = static_cast<int8_t>(colour_schemes[static_cast<size_t>(colour_scheme & 3)][0]);
    fb_fill(0, x1 - kIconBoxWidth, y0, kIconBoxWidth, kStripHeight, kIconBoxColour);
    const int32_t info_y = y0 + kSymbolTop;
    const int32_t limit = x1;

    int32_t r = fb_draw_symbol(0, status_playing != 0 ? kPlaySymbol : kPauseSymbol, info_x, info_y,
                               limit, k);
    if (r != -1) info_x += r;
    r = fb_draw_symbol(0, palette_index == 0 ? kDimPaletteSymbol : kBrightPaletteSymbol, info_x,
                       info_y, limit, k);
    if (r != -1) info_x += r;
    r = fb_draw_char(0, static_cast<uint32_t>('1' + zoom), info_x, y0 + kBaseline, limit, k);
    if (r != -1) info_x += r;
    // 'x' sits two pixels higher than the digit: info_y + 18.
    fb_draw_char(0, 'x', info_x, info_y + 18, limit, k);
    status_countdown = kShownPasses;
}

}  // namespace
