// The status line: a message on a light strip and the box of state icons.
#include "fb/status.h"

#include <array>
#include <mutex>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/symbols.h"
#include "fb/text.h"
#include "tmr/clock.h"

namespace {

constexpr int32_t kVyskaPruhu = 32;
constexpr int32_t kSirkaIkon = 64;
// Room kept free for the icon box at the right of the message.
constexpr int32_t kMistoIkon = 69;
constexpr int32_t kUcari = 24;  // baseline of the message and the zoom digit below sy
constexpr int32_t kShoraSymbolu = 4;
constexpr int32_t kZobrazeno = 100;
constexpr int kBarvaPruhu = 7;
constexpr int8_t kBarvaTextu = 0;
constexpr int kBarvaIkon = 4;
constexpr int kPruhledna = 8;
constexpr uint8_t kHraje = 0x1E;
constexpr uint8_t kStoji = 0x05;
constexpr uint8_t kMaleSlunce = 0x1C;
constexpr uint8_t kVelkeSlunce = 0x1D;
// The time template; digits go to positions 7, 10, 11, 14 and 15.
constexpr std::array<char, 18> kSablonaCasu{" Tijd: -u --m --s"};

}  // namespace

relaxed<int32_t> infol{-1};

namespace {

// Serialises the status operations of the two threads, so that the drawing
// cursor and the strip are never shared by two drawings at once.
std::mutex info_mutex;

void zobr_info(const char* zprava);
void info_paletka();

}  // namespace

void fb_zobr_info(const char* zprava) {
    std::lock_guard zamek(info_mutex);
    zobr_info(zprava);
}

void fb_info_time(uint32_t ms) {
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
    std::array<char, 18> sablona = kSablonaCasu;
    sablona[7] = h < 10 ? static_cast<char>('0' + h) : '9';
    sablona[10] = static_cast<char>('0' + m1);
    sablona[11] = static_cast<char>('0' + m2);
    sablona[14] = static_cast<char>('0' + s1);
    sablona[15] = static_cast<char>('0' + s2);
    std::lock_guard zamek(info_mutex);
    zobr_info(sablona.data());
}

void fb_info_paletka() {
    std::lock_guard zamek(info_mutex);
    info_paletka();
}

void fb_smaz_info() {
    std::lock_guard zamek(info_mutex);
    fb_vypln(0, sx, sy, ex, kVyskaPruhu, kPruhledna);
    infol = -1;
}

namespace {

void zobr_info(const char* zprava) {
    const int32_t x0 = sx;
    const int32_t y0 = sy;
    const int32_t x1 = ex;
    int32_t info_y = y0 + kUcari;
    int32_t info_x = x0;
    // The width argument is ex itself: the strip runs from sx to sx + ex.
    fb_vypln(0, x0, y0, x1, kVyskaPruhu, kBarvaPruhu);
    fb_ZobrString(zprava, 0, info_x, info_y, 0, x1 - info_x - kMistoIkon, kBarvaTextu);
    info_paletka();
}

void info_paletka() {
    const int32_t y0 = sy;
    const int32_t x1 = ex;
    int32_t info_x = x1 - kSirkaIkon;
    const int8_t k = static_cast<int8_t>(barvy_tit[static_cast<size_t>(barva_tit & 3)][0]);
    fb_vypln(0, x1 - kSirkaIkon, y0, kSirkaIkon, kVyskaPruhu, kBarvaIkon);
    const int32_t info_y = y0 + kShoraSymbolu;
    const int32_t mez = x1;

    int32_t r = fb_zobraz_ff_znak(0, bezi_timer && film_paused == 0 ? kHraje : kStoji, info_x,
                                  info_y, mez, k);
    if (r != -1) info_x += r;
    r = fb_zobraz_ff_znak(0, paleta_idx == 0 ? kMaleSlunce : kVelkeSlunce, info_x, info_y, mez, k);
    if (r != -1) info_x += r;
    r = fb_zobraz_znak(0, static_cast<uint32_t>('1' + zoom), info_x, y0 + kUcari, mez, k);
    if (r != -1) info_x += r;
    // 'x' sits two pixels higher than the digit: info_y + 18.
    fb_zobraz_znak(0, 'x', info_x, info_y + 18, mez, k);
    infol = kZobrazeno;
}

}  // namespace
