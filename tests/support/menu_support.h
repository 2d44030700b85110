// Fixtures for the menus and dialogs: a box with the shipped font, the display
// and the remote up, key scripts queued ahead, and modal calls under a deadline.
#pragma once

#include <linux/input.h>

#include <cstdint>
#include <functional>
#include <future>
#include <initializer_list>
#include <string>

#include "tests/support/support.h"

namespace testsup {

// A key no modal screen answers to. Queued right before an answer, it is what the
// drain at the start of a dialog or type-3 error box eats: a drain reads records
// until one gives no key, which is this key's own release record.
constexpr int kDrained = KEY_F1;

// Sets up a 720 x 576 box over root, opens the display and the remote, and forgets
// the remote's power-on guard against a first KEY_OK. Returns false on failure.
bool open_menu_box(const box_root& root);
// rc_deinit and close_display.
void close_menu_box();

// Queues a press (value 1, then 0) of each code, in order.
void queue(std::initializer_list<int> codes);

// Runs f on a thread of its own and returns its result. A modal call that has not
// returned after timeout_ms fails the test and ends the process (it would block forever).
int run_modal(const std::function<int()>& f, int timeout_ms = 30000);
// Starts f on a thread of its own, for looking at the screen while it waits.
std::future<int> start_modal(const std::function<int()>& f);
// Waits for a started modal call under the same deadline as run_modal.
int finish_modal(std::future<int>& f, int timeout_ms = 30000);

// ARGB of palette entry i of the current palette.
uint32_t colour(int i);
// Whether every pixel of the screen rectangle (inclusive) equals argb.
bool all_pixels(int x0, int y0, int x1, int y1, uint32_t argb);
// Whether some pixel of the screen rectangle (inclusive) equals argb.
bool any_pixel(int x0, int y0, int x1, int y1, uint32_t argb);

}  // namespace testsup
