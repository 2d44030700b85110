#include "tests/support/screen_support.h"

#include <algorithm>
#include <stdexcept>

#include "fb/screen.h"
#include "tmr/clock.h"

namespace testsup {

fake_display::fake_display(uint32_t line_length, uint32_t smem_len, int32_t height7)
    : mem_(smem_len / 4 + 2 * kGuardWords, kGuard), words_(smem_len / 4) {
    std::fill_n(mem_.begin() + kGuardWords, words_, 0u);
    fb_mem = mem_.data() + kGuardWords;
    fb_fix = {};
    fb_fix.line_length = line_length;
    fb_fix.smem_len = smem_len;
    px_per_line = line_length / 4;
    sx = 40;
    sy = 50;
    ex = 670;
    ey = 526;
    sy0 = 50;
    ey0 = 526;
    std::copy(std::begin(kFakeLineHeights), std::end(kFakeLineHeights), line_heights);
    line_heights[7] = height7;
    zoom = 1;
    inset_on = 0;
    bottom_shift = 0;
    top_shift = 0;
    band_position = 0;
    painting = 0;
    subtitle_shown = 0;
    painted_record = nullptr;
    band_start = static_cast<int32_t>(line_length * (50 + 32));
    band_size = static_cast<int32_t>(line_length * 526) - band_start;
    bbuf_size = static_cast<int32_t>(4 * line_length * static_cast<uint32_t>(height7));
    bb_words_ = static_cast<size_t>(bbuf_size) / 4;
    // A tail of guard words after the part the player knows about.
    bbuf.reset(new uint32_t[bb_words_ + kGuardWords]);
    std::fill_n(bbuf.get(), bb_words_, 0u);
    std::fill_n(bbuf.get() + bb_words_, kGuardWords, kGuard);
    fb_compute_band();
    // Nothing is known of a display laid out by hand: the first paint writes it whole.
    fb_forget_screen_rows();
}

fake_display::~fake_display() {
    fb_mem = nullptr;
    bbuf.reset();
    painted_record = nullptr;
}

uint32_t& fake_display::px(int64_t x, int64_t y) {
    return mem_.at(kGuardWords + static_cast<size_t>(y * px_per_line + x));
}

uint32_t& fake_display::bb(int64_t x, int64_t y) {
    size_t i = static_cast<size_t>(y * px_per_line + x);
    if (i >= bb_words_) throw std::out_of_range("bb");
    return bbuf[i];
}

void fake_display::fill(uint32_t v) {
    std::fill_n(mem_.begin() + kGuardWords, words_, v);
}
void fake_display::fill_bb(uint32_t v) {
    std::fill_n(bbuf.get(), bb_words_, v);
}

bool fake_display::guards_intact() const {
    auto g = [](uint32_t w) { return w == kGuard; };
    return std::all_of(mem_.begin(), mem_.begin() + kGuardWords, g) &&
           std::all_of(mem_.end() - kGuardWords, mem_.end(), g) &&
           std::all_of(bbuf.get() + bb_words_, bbuf.get() + bb_words_ + kGuardWords, g);
}

int64_t fake_display::count_not(uint32_t v) const {
    return std::count_if(mem_.begin() + kGuardWords, mem_.begin() + kGuardWords + words_,
                         [v](uint32_t w) { return w != v; });
}

int64_t fake_display::count_bb_not(uint32_t v) const {
    return std::count_if(bbuf.get(), bbuf.get() + bb_words_, [v](uint32_t w) { return w != v; });
}

}  // namespace testsup
