// The question that offers a rate correction after a sync. Main thread only.
#pragma once

#include <cstdint>

// After OK has started the clock: records the sync and, when it gives a rate to
// correct, asks the viewer (OK applies it, EXIT leaves the times as they are).
// started_from_ms: the clock's time when OK started it (tmr_sync_started).
void menu_sync_started(uint32_t started_from_ms);
// After OK has stopped the clock.
void menu_sync_stopped();
// The file playing was loaded: at start-up (`chosen` false: the settings' resume
// position stands) or chosen in the file menu (it starts at its remembered position,
// the clock stopped). Its remembered correction is applied and the status line says so.
void menu_sync_file_loaded(const char* name, bool chosen);
// Says on the status line which correction the file playing is on, if any: at
// start-up after the resume position has been shown.
void menu_sync_show_restored();
// The start-up file: the one the link names, else the special file.
void menu_sync_startup_file_loaded();
// The file playing is left (another is chosen, or the player ends): its correction
// and position are remembered.
void menu_sync_file_leaving();
// The same at shut-down in two steps: what to remember is taken while the subtitles
// are still there, and written once the settings have been.
void menu_sync_take_leaving();
void menu_sync_write_taken();
// Puts the file playing back on its own times and forgets its memory.
void menu_sync_original();
// Whether `name` (with its extension) is the file playing.
bool menu_sync_is_playing(const char* name);
// Remembers the file playing now, with its second language: after that was chosen or
// turned off.
void menu_sync_remember();
