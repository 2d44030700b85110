// The help box, the subtitle file menu and the frame-rate menu.
#pragma once

#include <cstdint>

// Help-box countdown in main-loop passes; -1 = closed. Main thread only.
extern int32_t helpt;
// Pages shown since the box was opened.
extern int32_t help_strana;

void fb_help_box(int otevrit);
// The file menu: index loaded, -3 special file loaded, -1 cancelled or nothing listed.
int rc_file_menu();
// Removes a path (rmdir for a directory, else unlink); -1 when lstat fails.
int smaz_cestu(const char* cesta);
// The FPS menu on the TV key.
void rc_fps_menu();
