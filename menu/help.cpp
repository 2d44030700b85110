// The help box: two pages of keys and what they do, paged by the help key and
// closed by its countdown or by the next key the main loop handles.
#include <array>
#include <mutex>
#include <span>

#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/text.h"
#include "menu/menus.h"
#include "menu/window.h"
#include "tmr/clock.h"

namespace {

// Window placement relative to the usable area and its size, in pixels.
constexpr int kWindowX = 50;
constexpr int kWindowY = 75;
constexpr int kWindowHeight = 360;
constexpr int kWindowWidth = 434;
// Baseline of the first banner line relative to sy, and the text columns.
constexpr int kFirstBaseline = 101;
constexpr int kKeyX = 54;
constexpr int kKeyWidth = 64;
constexpr int kMeaningX = 124;
constexpr int kMeaningWidth = 362;
constexpr int kBannerWidth = 426;
constexpr int32_t kCountdown = 300;

// Screen rectangle of the window drawn last (absolute, inclusive); bottom -1 = none.
int help_x0 = 0;
int help_x1 = 0;
int help_y1 = -1;

void close_help();

}  // namespace

int32_t help_countdown = -1;
int32_t help_page = 0;

const std::array<help_row, 9> help_page1{{
    {"\x0e\x0f", "Start / Stop, synchroniseer"},
    {"\x0b\x02\x12\x13\x0c", "Sluiten"},
    {"\x07\x08", "Vorige/Volgende ondertitel"},
    {"\x1a\x1b", "Volgende/Vorige 10 ondertitels"},
    {"\x0b\x02\x14\x15\x0c", "Zoom"},
    {"\x0b\x03\x14\x15\x0c", "Verander helderheid"},
    {"\x0b\x04\x14\x15\x0c", "Ondertitels kleur keuze"},
    {"\x0b\x05\x14\x15\x0c", "Transparante ondertitels"},
    {"HELP", "Volgende help pagina     \x08"},
}};

const std::array<help_row, 9> help_page2{{
    {"0-9", "Verander positie (verstreken tijd)"},
    {"Bouq.", "Verplaats ondertitels +/- 0.5 sec"},
    {"Vol.", "Verschuif ondertitels omhoog/omlaag"},
    {"TV", "Verander FPS / Origineel / 2e taal uit"},
    {"Video", "Schakel ondertitels positie"},
    {"\x10\x11", "Selecteer ondertitels"},
    {"Text", "In \x10\x11: 2e taal aan / uit"},
    {"Text", "2e taal: Bouq. verschuift, Video plaats"},
    {"Text", "Zonder 2e taal: vergeet telefoons"},
}};

const std::array<const char*, 2> help_banner1{"Lumetra v2.3", "Made by the Lumetra team"};
const std::array<const char*, 2> help_banner2{"Translated by", "the Lumetra team"};

void menu_help_box(int show) {
    if (help_countdown <= 0) help_page = 0;
    if (show == 0 || help_page >= 2) {
        close_help();
        return;
    }
    const int lh = line_heights[0];
    const bool first_page = help_page == 0;
    const std::array<const char*, 2>& banner = first_page ? help_banner1 : help_banner2;
    const std::span<const help_row> lines =
        first_page ? std::span<const help_row>(help_page1) : std::span<const help_row>(help_page2);

    help_countdown = kCountdown;
    menu_window(kWindowX, kWindowY, kWindowHeight, kWindowWidth, 7, 4, "Help", 7);
    help_x0 = sx + kWindowX;
    help_x1 = sx + kWindowX + kWindowWidth;
    help_y1 = sy + kWindowY + kWindowHeight - 3;
    const int tx = sx + kKeyX;
    fb_draw_string(banner[0], 0, tx, sy + kFirstBaseline, 1, kBannerWidth, 1);
    fb_draw_string(banner[1], 0, tx, sy + kFirstBaseline + lh, 1, kBannerWidth, 1);
    for (size_t i = 0; i < lines.size(); ++i) {
        const int y = sy + kFirstBaseline + (2 + static_cast<int>(i)) * lh;
        fb_draw_string(lines[i].key, 0, tx, y, 1, kKeyWidth, 0);
        fb_draw_string(lines[i].meaning, 0, sx + kMeaningX, y, 0, kMeaningWidth, 0);
    }
    fb_show_changes();
    ++help_page;
}

namespace {

// Clears the band, then puts back what the clock says belongs there now.
void close_help() {
    {
        std::lock_guard lock(paint_mutex);
        fb_clear_subtitle();
        // With the inset layout the window reaches below the band, where the band
        // clear does not; nothing else draws there.
        if (help_y1 >= ey) {
            fb_fill(0, help_x0, ey, help_x1 - help_x0, help_y1 - ey + 1, 8);
        }
        help_y1 = -1;
        help_countdown = -1;
    }
    help_page = 0;
    tmr_restore_band();
}

}  // namespace
