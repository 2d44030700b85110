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
struct web_options;
// The whole program: start-up, loop, shut-down; returns the exit status. With web
// options, the web page's server runs from the end of the start-up to the end of the
// loop (a server that cannot start is logged, and the player runs on without it).
int app_main(const web_options* web = nullptr);
// Shuts everything down; returns the save flag.
int app_shutdown(int save_position);
// The resume position a shut-down with this save flag stores: kKeepResumePosition keeps
// the stored one, 0 stores 0, any other flag the clock's resume index, once subtitles
// were loaded in this run (else 0).
int32_t app_resume_position(int save_position);
// Dispatches one key of the main loop's table.
void app_key(int code);
