// The frame-rate menu: rescales every subtitle time for a film that runs at
// another rate than the one its subtitle file was timed for.
#include <bit>

#include "fb/status.h"
#include "menu/list.h"
#include "menu/menus.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

constexpr int kSirka = 8;

}  // namespace

std::array<const char*, 6> fps_texty{
    "25.00 \x07 23.976 ", "25.00 \x08 23.976", "25.00 \x07 24.00",
    "25.00 \x08 24.00",   "25.00 \x07 29.97",  "25.00 \x08 29.97",
};

// Given by their bits so the rounding of each factor is fixed: other rate / 25 for a
// left arrow, 25 / other rate for a right arrow.
const std::array<float, 6> fps_koef{
    std::bit_cast<float>(0x3f7583a5u), std::bit_cast<float>(0x3f857780u),
    std::bit_cast<float>(0x3f75c28fu), std::bit_cast<float>(0x3f855555u),
    std::bit_cast<float>(0x3f997247u), std::bit_cast<float>(0x3f558c01u),
};

void rc_fps_menu() {
    fb_info_paletka();
    const int r = fb_list_menu("FPS", static_cast<int>(fps_texty.size()), kSirka, fps_texty.data(),
                               nullptr, 0);
    // Every negative answer is a cancel.
    if (static_cast<unsigned>(r) < fps_koef.size()) sub_prepocti(fps_koef[static_cast<size_t>(r)]);
    tmr_update_tit(0);
}
