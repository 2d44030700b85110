// The remote control: finding its input-event devices and turning their records
// into single key presses. Main thread only.
#pragma once

#include <linux/input.h>

#include <array>
#include <cstdint>

// Descriptors of the remote-control devices found; -1 = free slot.
extern std::array<int, 2> rc_fd;
// The record filled by the last successful read.
extern input_event rc_ev;
// The code reported last since the last key record with value 0 (a release).
extern uint16_t last_code;

// 1 when a remote-control device is open in slot 0, else 0.
int rc_init();
// The code of a new key press, or -1; always sleeps 10 ms. Reads one key record per
// call; records of other types before it (reports, scan codes) are read and dropped.
int rc_read_key();
void rc_deinit();
