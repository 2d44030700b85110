#include "tests/support/hardening_support.h"

#include <linux/input.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fb/primitives.h"
#include "fb/screen.h"
#include "sim/model.h"
#include "tests/support/support.h"

namespace testsup {

namespace {

// Window placement of the error box and the list menu relative to (sx, sy).
constexpr int kErrorX = 50, kErrorY = 90;
constexpr int kListX = 40, kListY = 80;

uint32_t screen_pixel(int x, int y) {
    auto mem = sim::fb_memory();
    size_t i = static_cast<size_t>(y) * px_per_line + static_cast<size_t>(x);
    return x >= 0 && y >= 0 && i < mem.size() ? mem[i] : 0;
}

// Length of the run of pixels of colour argb on row y starting at x.
int run_length(int x, int y, uint32_t argb) {
    int n = 0;
    while (x + n < static_cast<int>(px_per_line) && screen_pixel(x + n, y) == argb) ++n;
    return n;
}

}  // namespace

int error_box_width() {
    if (fb_mem == nullptr) return 0;
    // The second row of the title bar: solid colour, above the title's glyphs.
    // The bar is filled inclusively: it takes one column more than the body's width.
    const int y = sy + kErrorY - line_heights[0] + 1;
    return std::max(0, run_length(sx + kErrorX, y, palette.load()[1]) - 1);
}

bool list_menu_shown() {
    if (fb_mem == nullptr) return false;
    const int y = sy + kListY - line_heights[0] + 1;
    return run_length(sx + kListX, y, palette.load()[4]) > 100;
}

modal_keys::modal_keys(std::vector<int> keys) : keys_(std::move(keys)) {
    seen_.reserve(keys_.size());
    thread_ = std::thread([this] {
        for (int code : keys_) {
            if (!wait_until([this] { return stop_ || sim::input_pending(0) == 0; }, 60000)) return;
            const uint64_t r0 = sim::input_reads(0);
            if (!wait_until([this, r0] { return stop_ || sim::input_reads(0) >= r0 + 2; }, 60000)) {
                return;
            }
            if (stop_) return;
            {
                std::lock_guard lk(m_);
                seen_.push_back({error_box_width(), list_menu_shown()});
            }
            press(code);
        }
    });
}

modal_keys::~modal_keys() {
    stop();
}

void modal_keys::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

std::vector<seen_screen> modal_keys::seen() const {
    std::lock_guard lk(m_);
    return seen_;
}

typed_keys::typed_keys(std::vector<int> keys, int dev) : keys_(std::move(keys)), dev_(dev) {
    seen_.reserve(keys_.size());
    sim::set_input_hook([this](int d) { on_read(d); });
}

typed_keys::~typed_keys() {
    sim::set_input_hook(nullptr);
}

void typed_keys::on_read(int dev) {
    if (dev != dev_) return;
    std::lock_guard lk(m_);
    if (sim::input_pending(dev_) != 0) {
        idle_ = 0;
        return;
    }
    if (next_ == keys_.size()) {
        if (++after_ % 20000 == 0) {
            stuck_ = true;
            press(KEY_EXIT, dev_);
        }
        return;
    }
    if (++idle_ < 2) return;
    idle_ = 0;
    seen_.push_back({error_box_width(), list_menu_shown()});
    press(keys_[next_++], dev_);
}

std::vector<seen_screen> typed_keys::seen() const {
    std::lock_guard lk(m_);
    return seen_;
}

size_t typed_keys::sent() const {
    std::lock_guard lk(m_);
    return next_;
}

bool typed_keys::stuck() const {
    std::lock_guard lk(m_);
    return stuck_;
}

size_t rss_kib() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return 0;
    char line[256];
    size_t kib = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kib = std::strtoul(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kib;
}

}  // namespace testsup
