// Start-up, the main key loop and shut-down.
#pragma once

#include <cstdint>

// 1 ends the main loop after the current pass.
extern int32_t quit_requested;
// The save flag of the exit prompt: 1 after "save and close".
extern int32_t save_on_exit;

// Start-up steps; returns -1 to go on into the main loop, else the exit status.
int app_start();
// One pass of the main loop; returns -1 to go on, else the exit status (shut-down done).
int app_pass();
// The whole program: start-up, loop, shut-down; returns the exit status.
int app_main();
// Shuts everything down; returns the save flag.
int app_shutdown(int save_position);
// Dispatches one key of the main loop's table.
void app_key(int code);
