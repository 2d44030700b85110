// Windows, the yes/no dialog and the numbered error box, and the small helpers
// every modal screen shares (key drains and waits, text cut at a field's edge).
// Main thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// One row of the error table: type (2: shown 100 ms, 3: until a key), message,
// height in text lines, width in units of 20 pixels.
struct error_row {
    int32_t type;
    const char* message;
    int32_t rows;
    int32_t width;
};
// Rows for error numbers 1..11 (index 0 is number 1).
extern const std::array<error_row, 11> error_rows;

void menu_window(int x, int y, int height, int width, int8_t fill, int8_t frame_colour,
                 const char* title, int8_t icon_colour);
// 1 for yes, 0 for no.
int menu_dialog(int rows, int width, const char* question);
void menu_error_box(int number);

// Width in pixels of the dialog body that menu_dialog draws for this question and width
// (units of 20 pixels): widened to fit the question, never past ex.
int menu_dialog_width(int width, const char* question);
// Width in pixels of the body of error box number (1..11), narrowed to end at ex.
int menu_error_width(int number);

// Lays text out on the screen as the string drawer would from x, within width pixels
// and never past ex, with symbol pictures held to the same edge. Returns the pixels
// taken by the characters that fit; *length (if given) receives their length in bytes.
int32_t menu_measure_text(const char* text, int32_t x, int32_t width, size_t* length);
// Draws text left-aligned on the screen at (x, baseline y), cut at x + width (and ex):
// unlike the string drawer alone, symbol pictures are cut there too.
void menu_draw_cut(const char* text, int32_t x, int32_t y, int32_t width, int8_t colour);

// Reads and drops pending keys, sleeping pause_us between reads, until none is left.
void menu_drain_keys(int pause_us);
// Polls every 10 ms until a key arrives and returns its code.
int menu_wait_key();
// Returned by menu_wait_key, while menu_web_commands_end_list is set (the file menu's
// list is open), when the web page has a command waiting: the list closes (menu_list
// returns -6 in its file modes) so that the file menu can carry it out and list again.
inline constexpr int kMenuWebCommandKey = 0x7FFF;
extern bool menu_web_commands_end_list;
