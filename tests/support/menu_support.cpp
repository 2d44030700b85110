#include "tests/support/menu_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "fb/primitives.h"
#include "rc/remote.h"

namespace testsup {

bool open_menu_box(const box_root& root) {
    setup_box(root, {.xres = 720, .yres = 576});
    if (open_display() != 1) return false;
    if (rc_init() != 1) return false;
    last_code = 0;
    return true;
}

void close_menu_box() {
    rc_deinit();
    close_display();
}

void queue(std::initializer_list<int> codes) {
    for (int c : codes) press(c);
}

std::future<int> start_modal(const std::function<int()>& f) {
    return std::async(std::launch::async, f);
}

int finish_modal(std::future<int>& f, int timeout_ms) {
    if (f.wait_for(std::chrono::milliseconds(timeout_ms)) != std::future_status::ready) {
        ADD_FAILURE() << "modal call still waiting after " << timeout_ms << " ms";
        std::fflush(stdout);
        std::_Exit(1);
    }
    return f.get();
}

int run_modal(const std::function<int()>& f, int timeout_ms) {
    auto fut = start_modal(f);
    return finish_modal(fut, timeout_ms);
}

uint32_t colour(int i) {
    return palette.load()[i];
}

bool all_pixels(int x0, int y0, int x1, int y1, uint32_t argb) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (pixel(x, y) != argb) return false;
    return true;
}

bool any_pixel(int x0, int y0, int x1, int y1, uint32_t argb) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (pixel(x, y) == argb) return true;
    return false;
}

}  // namespace testsup
