// The frame-rate menu: rescales every subtitle time for a film that runs at
// another rate than the one its subtitle file was timed for.
#include <algorithm>
#include <bit>

#include "fb/status.h"
#include "menu/list.h"
#include "menu/menus.h"
#include "menu/second_language.h"
#include "menu/sync_offer.h"
#include "sub/retime.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"
#include "tmr/sync.h"

namespace {

constexpr int kListChars = 8;
constexpr const char* kOriginal = "Origineel";

// Each row's factor as an exact fraction, for the shift that keeps the film's
// current time in place while the clock follows the film.
struct rate_fraction {
    uint32_t num;
    uint32_t den;
};
constexpr std::array<rate_fraction, 6> kRowFractions{{
    {2997, 3125},
    {3125, 2997},
    {24, 25},
    {25, 24},
    {2997, 2500},
    {2500, 2997},
}};

}  // namespace

std::array<const char*, 6> fps_labels{
    "25.00 \x07 23.976 ", "25.00 \x08 23.976", "25.00 \x07 24.00",
    "25.00 \x08 24.00",   "25.00 \x07 29.97",  "25.00 \x08 29.97",
};

// Given by their bits so the rounding of each factor is fixed: other rate / 25 for a
// left arrow, 25 / other rate for a right arrow.
const std::array<float, 6> fps_factors{
    std::bit_cast<float>(0x3f7583a5u), std::bit_cast<float>(0x3f857780u),
    std::bit_cast<float>(0x3f75c28fu), std::bit_cast<float>(0x3f855555u),
    std::bit_cast<float>(0x3f997247u), std::bit_cast<float>(0x3f558c01u),
};

void menu_fps() {
    // While the clock follows the film, the film runs on behind the menu: the clock
    // goes back to it afterwards, and a rescale turns about the film's current time.
    const bool followed = tmr_following();
    tmr_stop();
    fb_show_icons();
    // The six rate rows, the row that puts the file back on its own times, and with a
    // second language the row that turns it off.
    std::array<const char*, 8> rows{};
    std::copy(fps_labels.begin(), fps_labels.end(), rows.begin());
    constexpr int kOriginalRow = static_cast<int>(fps_labels.size());
    constexpr int kSecondOffRow = kOriginalRow + 1;
    rows[kOriginalRow] = kOriginal;
    rows[kSecondOffRow] = kSecondOffLabel;
    const int count = second_subtitles != nullptr ? kSecondOffRow + 1 : kOriginalRow + 1;
    const int r = menu_list("FPS", count, kListChars, rows.data(), nullptr, 0);
    if (r == kOriginalRow) menu_sync_original();
    if (r == kSecondOffRow) menu_second_off();
    // Every negative answer is a cancel.
    const bool rescale = static_cast<unsigned>(r) < fps_factors.size();
    const rate_fraction f = rescale ? kRowFractions[static_cast<size_t>(r)] : rate_fraction{1, 1};
    if (!followed) {
        if (rescale) {
            tmr_rescale(fps_factors[static_cast<size_t>(r)]);
            tmr_sync_rescaled(0, f.num, f.den);
            menu_second_rescaled(f.num, f.den, 0);
        }
        tmr_step_subtitle(0);
        return;
    }
    if (rescale) {
        const uint32_t now = tmr_film_time();
        tmr_rescale(fps_factors[static_cast<size_t>(r)]);
        const int64_t keep_in_place = int64_t{now} - sub_map_time(now, {0, f.num, f.den});
        tmr_shift_all(keep_in_place);
        menu_second_rescaled(f.num, f.den, keep_in_place);
        tmr_sync_rescaled(now, f.num, f.den);
    }
    tmr_rejoin_film();
    fb_show_icons();
}
