// The modal list menu: pages of ten rows, scroll bar, marks, keypad letter jumps.
#pragma once

#include <array>
#include <cstdint>

// 1 + index of the first item starting with each of 0-9, a-z; 0 = none.
extern std::array<int32_t, 36> prvni_znak;
// The prvni_znak slots tried by successive presses of each digit key; -1 = none.
extern const std::array<std::array<int32_t, 5>, 10> klavesnice;

// Returns the chosen index, -1 cancelled, -3 YELLOW (mode bit 2), -5 confirmed with marks.
int fb_list_menu(const char* nazev, int pocet, int sirka, const char* const* polozky, char* znacky,
                 int rezim);
