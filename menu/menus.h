// The help box, the subtitle file menu and the frame-rate menu. Main thread only.
#pragma once

#include <array>
#include <cstdint>

// Help-box countdown in main-loop passes; -1 = closed. Main thread only.
extern int32_t help_countdown;
// Pages shown since the box was opened: 0 closed, 1 page 1, 2 page 2. Main thread only.
extern int32_t help_page;
// One row of a help page: the key's picture and what the key does.
struct help_row {
    const char* key;
    const char* meaning;
};
// The key rows of help pages 1 and 2 and the two banner lines of each page.
extern const std::array<help_row, 9> help_page1;
extern const std::array<help_row, 9> help_page2;
extern const std::array<const char*, 2> help_banner1;
extern const std::array<const char*, 2> help_banner2;
// Labels of the six rows of the FPS menu (0x07/0x08: left/right arrow pictures).
extern std::array<const char*, 6> fps_labels;
// The time factor of each FPS row, single precision.
extern const std::array<float, 6> fps_factors;

void menu_help_box(int show);
// The file menu: index loaded, -3 special file loaded, -1 cancelled or nothing listed.
int menu_file();
// The FPS menu on the TV key.
void menu_fps();
