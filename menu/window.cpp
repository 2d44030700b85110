// Windows, the yes/no dialog, the numbered error box, and the key and text
// helpers the modal screens share.
#include "menu/window.h"

#include <linux/input.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "fb/glyph.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/symbols.h"
#include "fb/text.h"
#include "hw/device.h"
#include "rc/remote.h"
#include "web/bridge.h"

namespace {

// Window and dialog placement relative to the usable area, in pixels.
constexpr int kDialogX = 50;
constexpr int kDialogY = 90;
// Text starts 4 pixels inside the body and keeps 4 pixels clear on the right.
constexpr int kTextIndent = 4;
constexpr int kTextMargin = 8;
// Shortest window the title bar and its OK picture fit, and the top of the band.
constexpr int kMinWindowWidth = 47;
constexpr int kMinTitleTop = 32;

constexpr int kDialogPauseUs = 5000;
constexpr int kErrorPauseUs = 10000;
constexpr int kPollUs = 10000;

constexpr const char* kOkPicture = "\x0e\x0f";
constexpr const char* kAnswers = "\x0e\x0f    \x0b\x02\x12\x13\x0c";
constexpr const char* kErrorHeading = "\x0b\x02\x06\x0c ERROR";

int width_to_ex(int x_rel);

}  // namespace

const std::array<error_row, 11> error_rows{{
    {2, "Onbekende fout!", 2, 14},
    {3, "Kan het ondertitels bestand niet openen!", 2, 21},
    {3, "Kan niet toewijzen aan geheugen!", 2, 33},
    {3, "Kan de timer niet initialiseren!", 2, 28},
    {3, "Timer initialiseer fout - instelfout timer handler!", 3, 33},
    {3, "Kan geen draad maken!", 2, 22},
    {3, "Kan de draad niet annuleren!", 2, 21},
    {3, "Kan niet combineren met draad!", 2, 27},
    {3, "Verkeerde bestandsformaat!", 2, 25},
    {3, "Kan het bestand niet lezen!", 2, 23},
    {3, "G\xc3\xa9\xc3\xa9n ondertitels in map /var/tuxbox/Tresk/tit!", 2, 22},
}};

void menu_window(int x, int y, int height, int width, int8_t fill, int8_t frame_colour,
                 const char* title, int8_t icon_colour) {
    const int lh = line_heights[0];
    const int yt = y - lh;
    if (width < kMinWindowWidth || yt < kMinTitleTop) {
        std::printf("fb_okno: chybne rozmery nebo pozice okna [s: %d, yt: %d!\n", width, yt);
        return;
    }
    // The title block reaches down under the body, which covers all but its top lh
    // rows; a low body (a one-row list) must not leave the bar short of the body.
    fb_box(x, yt, std::max(height - lh, lh + 2), width, 1, frame_colour, frame_colour);
    fb_box(x, y, height, width, 0, fill, frame_colour);
    fb_draw_string(kOkPicture, 0, sx + x + 6, sy + yt + 26, 0, 33, icon_colour);
    fb_draw_string(title, 0, sx + x + 6, sy + yt + 26, 1, width - 12, 7);
}

int menu_dialog(int rows, int width, const char* question) {
    const int lh = line_heights[0];
    const int w = menu_dialog_width(width, question);
    const int tx = sx + kDialogX + kTextIndent;
    fb_box(kDialogX, kDialogY, (rows + 1) * lh + 10, w, 0, 7, 4);
    fb_draw_string(question, 0, tx, sy + kDialogY + lh, 1, w - kTextMargin, 0);
    fb_draw_string(kAnswers, 0, tx, sy + kDialogY + 2 * lh + 2, 1, w - kTextMargin, 2);
    menu_drain_keys(kDialogPauseUs);
    int answer = -1;
    while (answer < 0) {
        switch (menu_wait_key()) {
            case KEY_EXIT:
            case KEY_RED:
                answer = 0;
                break;
            case KEY_OK:
            case KEY_GREEN:
                answer = 1;
                break;
            default:
                break;
        }
    }
    fb_clear_subtitle();
    menu_drain_keys(kDialogPauseUs);
    return answer;
}

void menu_error_box(int number) {
    if (number < 1 || number > static_cast<int>(error_rows.size())) return;
    const error_row& row = error_rows[static_cast<size_t>(number - 1)];
    const int lh = line_heights[0];
    const int w = menu_error_width(number);
    const int tx = sx + kDialogX + kTextIndent;
    menu_window(kDialogX, kDialogY, row.rows * lh + 10, w, 7, 1, "ERROR", 7);
    fb_draw_string(kErrorHeading, 0, tx, sy + kDialogY + lh, 0, w - kTextMargin, 0);
    fb_draw_string(row.message, 0, tx, sy + kDialogY + 2 * lh, 1, w - kTextMargin, 0);
    fb_show_changes();
    if (row.type == 2) {
        hw_usleep(100000);
    } else {
        hw_usleep(20000);
        menu_drain_keys(kErrorPauseUs);
        menu_wait_key();
    }
    fb_clear_subtitle();
}

int menu_dialog_width(int width, const char* question) {
    const int tx = sx + kDialogX + kTextIndent;
    const int widest = width_to_ex(kDialogX);
    size_t length = 0;
    int32_t m = menu_measure_text(question, tx, widest - kTextMargin, &length);
    if (question[length] != '\0') return widest;
    // A glyph fits while the pen stays short of the limit, hence the extra pixel.
    int w = std::max(20 * width, m + kTextMargin + 1);
    return std::min(w, widest);
}

int menu_error_width(int number) {
    if (number < 1 || number > static_cast<int>(error_rows.size())) return 0;
    // The widest rows would reach past the end of the line at this position.
    return std::min(20 * error_rows[static_cast<size_t>(number - 1)].width, width_to_ex(kDialogX));
}

int32_t menu_measure_text(const char* text, int32_t x, int32_t width, size_t* length) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const size_t n = std::strlen(text);
    const int32_t limit = static_cast<int32_t>(std::min<int64_t>(int64_t{x} + width, ex));
    int32_t m = 0;
    size_t i = 0;
    // Kerning against this text's own previous glyph, as the string drawer does.
    uint32_t previous = 0;
    while (i < n) {
        uint32_t code = 0;
        const auto d = static_cast<size_t>(fb_decode_utf8(s + i, &code));
        if (d > n - i) {
            ++i;
            continue;
        }
        if (code == 0 || code == 0x0c) {
            i += d;
        } else if (code >= 0x20) {
            int32_t r = fb_draw_char_after(0, code, x + m, 0, limit, -1, previous);
            if (r == -1) break;
            m += r;
            i += d;
        } else if (code == 0x0b) {
            i = std::min(n, i + d + 1);  // the colour byte goes with it
        } else {
            // Pictures are never refused by the drawer; hold them to the glyphs' rule.
            int32_t r = fb_draw_symbol(0, static_cast<uint8_t>(code), x + m, 0, limit, -1);
            if (r > 0 && int64_t{x} + m + r >= limit) break;
            m += r;
            previous = 0;
            i += d;
        }
    }
    if (length != nullptr) *length = i;
    return m;
}

void menu_draw_cut(const char* text, int32_t x, int32_t y, int32_t width, int8_t colour) {
    size_t length = 0;
    menu_measure_text(text, x, width, &length);
    if (text[length] == '\0') {
        fb_draw_string(text, 0, x, y, 0, width, colour);
        return;
    }
    std::unique_ptr<char[]> piece(new (std::nothrow) char[length + 1]);
    if (!piece) return;
    std::memcpy(piece.get(), text, length);
    piece[length] = '\0';
    fb_draw_string(piece.get(), 0, x, y, 0, width, colour);
}

// A modal screen that waits for keys has finished drawing: what it drew is shown.
void menu_drain_keys(int pause_us) {
    fb_show_changes();
    while (rc_read_key() >= 0) hw_usleep(static_cast<useconds_t>(pause_us));
}

bool menu_web_commands_end_list = false;

int menu_wait_key() {
    fb_show_changes();
    for (;;) {
        hw_usleep(kPollUs);
        int code = rc_read_key();
        if (code >= 0) return code;
        // The page sees that the TV waits for a key; the file menu's list makes room
        // for a command of the page.
        web_main_pass(web_place::busy);
        if (menu_web_commands_end_list && web_command_waiting()) return kMenuWebCommandKey;
    }
}

namespace {

// Widest box at x_rel whose right column (sx + x_rel + width) stays within ex.
int width_to_ex(int x_rel) {
    return std::max(0, ex - sx - x_rel);
}

}  // namespace
