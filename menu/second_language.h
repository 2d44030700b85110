// The second language from the viewer's side: chosen in the file menu (and on the web
// page), aligned to the first file when chosen, its own shift and place while playing,
// turned off again. Main thread only.
#pragma once

#include <cstdint>
#include <functional>

// Whether `file` (a name with its extension) is the second language now.
bool menu_second_is(const char* file);
// Makes `file` of the subtitle directory the second language, aligned to the first
// file (stop, asked between the alignment's steps, may stop that: the second is then
// shown as its file has it), and says the result on the status line; 0 or the load's
// error number (then nothing changed). Remembered with the first file.
int menu_second_choose(const char* file, const std::function<bool()>& stop);
// Turns the second language off (and forgets it with the first file).
void menu_second_off();
// After the FPS menu rescaled the times by num / den and moved the first file's by
// shift_ms: the second language's correction takes the same rate and shift, exactly,
// so that the memory of the first file brings it back as it plays now.
void menu_second_rescaled(uint32_t num, uint32_t den, int64_t shift_ms);
// Moves the second language's own shift by delta_ms and says the shift now on the status line.
void menu_second_shift(int32_t delta_ms);
// The keys of the second language while playing: TEXT selects it (and again leaves
// it); while it is selected, the channel keys move its own shift by half a second and
// VIDEO moves it between the top and the first language. Any other key leaves the
// selection and goes its own way. Returns whether the key was taken.
bool menu_second_key(int code);
// Whether the second language is selected for its keys.
bool menu_second_selected();
// The stop of an alignment started from the file menu: EXIT pressed meanwhile.
bool menu_second_stop_on_exit();
// The status texts, for the tests of their width.
inline constexpr const char* kSecondSelected =
    "2e taal: Bouq. \xc2\xb1"
    "0,5 s, Video plaats";
inline constexpr const char* kSecondOff = "2e taal uit";
inline constexpr const char* kSecondIsFirst = "2e taal: dit is de 1e taal";
inline constexpr const char* kSecondOffLabel = "2e taal uit";
inline constexpr const char* kSecondNotAligned = "2e taal: niet uitgelijnd";
inline constexpr const char* kSecondStopped = "2e taal: uitlijnen gestopt";
inline constexpr const char* kSecondAligning = "2e taal uitlijnen (EXIT stopt)";
