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
constexpr int kOknoX = 50;
constexpr int kOknoY = 75;
constexpr int kOknoVyska = 360;
constexpr int kOknoSirka = 434;
// Baseline of the first banner line relative to sy, and the text columns.
constexpr int kRadekY = 101;
constexpr int kKlavesaX = 54;
constexpr int kKlavesaSirka = 64;
constexpr int kPopisX = 124;
constexpr int kPopisSirka = 362;
constexpr int kNadpisSirka = 426;
constexpr int32_t kOdpocet = 300;

// Screen rectangle of the window drawn last (absolute, inclusive); bottom -1 = none.
int help_x0 = 0;
int help_x1 = 0;
int help_y1 = -1;

void zavri();

}  // namespace

int32_t helpt = -1;
int32_t help_strana = 0;

const std::array<help_radek, 9> help_strana1{{
    {"\x0e\x0f", "Start / Stop"},
    {"\x0b\x02\x12\x13\x0c", "Sluiten"},
    {"\x07\x08", "Vorige/Volgende ondertitel"},
    {"\x1a\x1b", "Volgende/Vorige 10 ondertitels"},
    {"\x0b\x02\x14\x15\x0c", "Zoom"},
    {"\x0b\x03\x14\x15\x0c", "Verander helderheid"},
    {"\x0b\x04\x14\x15\x0c", "Ondertitels kleur keuze"},
    {"\x0b\x05\x14\x15\x0c", "Transparante ondertitels"},
    {"HELP", "Volgende help pagina     \x08"},
}};

const std::array<help_radek, 6> help_strana2{{
    {"0-9", "Verander positie (verstreken tijd)"},
    {"Bouq.", "Verplaats ondertitels +/- 0.5 sec"},
    {"Vol.", "Verschuif ondertitels omhoog/omlaag"},
    {"TV", "Verander FPS"},
    {"Video", "Schakel ondertitels positie"},
    {"\x10\x11", "Selecteer ondertitels"},
}};

const std::array<const char*, 2> help_nadpis1{"Lumetra v2.3", "Made by the Lumetra team"};
const std::array<const char*, 2> help_nadpis2{"Translated by", "the Lumetra team"};

void fb_help_box(int otevrit) {
    if (helpt <= 0) help_strana = 0;
    if (otevrit == 0 || help_strana >= 2) {
        zavri();
        return;
    }
    const int lh = vyska_radku[0];
    const bool prvni = help_strana == 0;
    const std::array<const char*, 2>& nadpis = prvni ? help_nadpis1 : help_nadpis2;
    const std::span<const help_radek> radky = prvni ? std::span<const help_radek>(help_strana1)
                                                    : std::span<const help_radek>(help_strana2);

    helpt = kOdpocet;
    fb_okno(kOknoX, kOknoY, kOknoVyska, kOknoSirka, 7, 4, "Help", 7);
    help_x0 = sx + kOknoX;
    help_x1 = sx + kOknoX + kOknoSirka;
    help_y1 = sy + kOknoY + kOknoVyska - 3;
    const int tx = sx + kKlavesaX;
    fb_ZobrString(nadpis[0], 0, tx, sy + kRadekY, 1, kNadpisSirka, 1);
    fb_ZobrString(nadpis[1], 0, tx, sy + kRadekY + lh, 1, kNadpisSirka, 1);
    for (size_t i = 0; i < radky.size(); ++i) {
        const int y = sy + kRadekY + (2 + static_cast<int>(i)) * lh;
        fb_ZobrString(radky[i].klavesa, 0, tx, y, 1, kKlavesaSirka, 0);
        fb_ZobrString(radky[i].popis, 0, sx + kPopisX, y, 0, kPopisSirka, 0);
    }
    ++help_strana;
}

namespace {

// Clears the band, then puts back what the clock says belongs there now.
void zavri() {
    {
        std::lock_guard zamek(kresleni_mutex);
        fb_smaz_titobr();
        // With the inset layout the window reaches below the band, where the band
        // clear does not; nothing else draws there.
        if (help_y1 >= ey) {
            fb_vypln(0, help_x0, ey, help_x1 - help_x0, help_y1 - ey + 1, 8);
        }
        help_y1 = -1;
        helpt = -1;
    }
    help_strana = 0;
    tmr_obnov_pas();
}

}  // namespace
