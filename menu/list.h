// The modal list menu: pages of ten rows, scroll bar, marks, keypad letter jumps.
// Main thread only.
#pragma once

#include <array>
#include <cstdint>

// 1 + index of the first item starting with each of 0-9, a-z; 0 = none. Rebuilt by
// every call with a non-zero mode.
extern std::array<int32_t, 36> prvni_znak;
// The prvni_znak slots tried by successive presses of each digit key; -1 = none.
extern const std::array<std::array<int32_t, 5>, 10> klavesnice;

// Layout of a list in pixels: rows per page, list height, list width.
struct list_rozmery {
    int32_t radku;
    int32_t vyska;
    int32_t sirka;
};

// Returns the chosen index, -1 cancelled, -3 YELLOW (mode bit 2), -5 confirmed with marks.
int fb_list_menu(const char* nazev, int pocet, int sirka, const char* const* polozky, char* znacky,
                 int rezim);
// The layout fb_list_menu uses for pocet items of sirka characters on the current screen.
list_rozmery fb_list_rozmery(int pocet, int sirka);
