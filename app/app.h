// Start-up, the main key loop and shut-down.
#pragma once

#include <cstdint>

// 1 ends the main loop after the current pass.
extern int32_t konec_programu;
// The save flag of the exit prompt: 1 after "save and close".
extern int32_t ulozit;

// Start-up steps; returns -1 to go on into the main loop, else the exit status.
int app_start();
// One pass of the main loop; returns -1 to go on, else the exit status (shut-down done).
int app_pass();
// The whole program: start-up, loop, shut-down; returns the exit status.
int app_main();
// Shuts everything down; returns the save flag.
int konec(int ulozit_pozici);
// Dispatches one key of the main loop's table.
void app_klavesa(int kod);
