// The modal list menu: pages of ten rows, scroll bar, marks, keypad letter jumps.
// Main thread only.
#pragma once

#include <array>
#include <cstdint>

// 1 + index of the first item starting with each of 0-9, a-z; 0 = none. Rebuilt by
// every call with a non-zero mode.
extern std::array<int32_t, 36> first_with_initial;
// The first_with_initial slots tried by successive presses of each digit key; -1 = none.
extern const std::array<std::array<int32_t, 5>, 10> keypad_slots;

// Layout of a list in pixels: rows per page, list height, list width.
struct list_layout {
    int32_t rows;
    int32_t height;
    int32_t width;
};

// Returns the chosen index, -1 cancelled, -3 YELLOW (mode bit 2), -5 confirmed with marks,
// -7 TEXT on a row (mode bit 4; the row is menu_list_row).
// The highlighted row when menu_list ended. Main thread only.
extern int menu_list_row;
int menu_list(const char* title, int count, int width, const char* const* items, char* marks,
              int mode);
// The layout menu_list uses for count items of width characters on the current screen.
list_layout menu_list_layout(int count, int width);
