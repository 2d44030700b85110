// The frame-rate menu: rescales every subtitle time for a film that runs at
// another rate than the one its subtitle file was timed for.
#include <bit>

#include "fb/status.h"
#include "menu/list.h"
#include "menu/menus.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

constexpr int kListChars = 8;

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
    fb_show_icons();
    const int r = menu_list("FPS", static_cast<int>(fps_labels.size()), kListChars,
                            fps_labels.data(), nullptr, 0);
    // Every negative answer is a cancel.
    if (static_cast<unsigned>(r) < fps_factors.size())
        sub_rescale(fps_factors[static_cast<size_t>(r)]);
    tmr_step_subtitle(0);
}
