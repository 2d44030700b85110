// The remote control: finding its input-event devices and turning their records
// into single key presses. Main thread only.
#pragma once

#include <linux/input.h>

#include <array>
#include <cstdint>
#include <string_view>

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

// The key code of a remote key's name (OK EXIT UP DOWN LEFT RIGHT RED GREEN YELLOW BLUE
// HELP MENU TV VIDEO VOLUMEUP VOLUMEDOWN CHANNELUP CHANNELDOWN TEXT, a digit 0..9), in any
// case and with or without "KEY_"; -1 for any other text. Any thread.
int rc_key_from_name(std::string_view name);
// The name of a remote key's code ("OK", "7"), or "" for a code without one.
std::string_view rc_key_name(int code);
// Whether two words are the same but for the case of ASCII letters, as key names and
// the key scripts' words are compared.
bool rc_same_word(std::string_view a, std::string_view b);
