// The status line of a whole run of lumetra-sim: the start message and the exit
// prompt in snapshots, pixel for pixel where the layout fixes them (the strip, the
// icon box and its pictures, the button pictures inside the messages).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/sim_support.h"
#include "tests/support/support.h"
#include "tests/support/text_support.h"

using testsup::kDim;

namespace {

constexpr const char* kFilm = "[KTF2: 1 0]\n{250}{500}Hallo wereld\n";

// Picture rows typed in from the symbol table.
constexpr int kPause[21] = {0x0000, 0x0000, 0x0000, 0x0000, 0x0CC0, 0x0CC0, 0x0CC0,
                            0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0, 0x0CC0,
                            0x0CC0, 0x0CC0, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000};
constexpr int kSmallSun[21] = {0x0000, 0x0000, 0x0000, 0x0080, 0x1084, 0x0808, 0x03E0,
                               0x07F0, 0x07F0, 0x37F6, 0x07F0, 0x07F0, 0x03E0, 0x0808,
                               0x1084, 0x0080, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000};
constexpr int kOkLeft[21] = {0x0000, 0x0000, 0x0007, 0x001F, 0x003F, 0x007F, 0x00E3,
                             0x00C1, 0x019C, 0x019C, 0x019C, 0x019C, 0x019C, 0x00C1,
                             0x00E3, 0x007F, 0x003F, 0x001F, 0x0007, 0x0000, 0x0000};
constexpr int kOkRight[21] = {0x0000, 0x0000, 0xE000, 0xF800, 0xFC00, 0xFE00, 0xFF00,
                              0x9900, 0x9180, 0x8380, 0x8780, 0x8380, 0x9180, 0x9900,
                              0xFF00, 0xFE00, 0xFC00, 0xF800, 0xE000, 0x0000, 0x0000};
constexpr int kExitLeft[21] = {0x0000, 0x0000, 0x03FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF,
                               0x419C, 0xC188, 0xCFC1, 0xC3E3, 0xCFC1, 0xC188, 0x419C,
                               0x7FFF, 0x3FFF, 0x1FFF, 0x0FFF, 0x03FF, 0x0000, 0x0000};
constexpr int kExitRight[21] = {0x0000, 0x0000, 0xFFC0, 0xFFF0, 0xFFF8, 0xFFFC, 0xFFFE,
                                0xCC0E, 0xCC0F, 0xCF3F, 0xCF3F, 0xCF3F, 0xCF3F, 0xCF3E,
                                0xFFFE, 0xFFFC, 0xFFF8, 0xFFF0, 0xFFC0, 0x0000, 0x0000};
constexpr int kPlainLeft[21] = {0x0000, 0x0000, 0x0007, 0x001F, 0x003F, 0x007F, 0x00FF,
                                0x00FF, 0x01FF, 0x01FF, 0x01FF, 0x01FF, 0x01FF, 0x00FF,
                                0x00FF, 0x007F, 0x003F, 0x001F, 0x0007, 0x0000, 0x0000};

struct snapshot {
    uint32_t w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

// Mismatches between the 16 x 21 picture at (x, y) and fg on bg.
int picture_errors(const snapshot& s, const int (&rows)[21], int x, int y, uint32_t fg,
                   uint32_t bg) {
    int errors = 0;
    for (int r = 0; r < 21; ++r) {
        for (int j = 0; j < 16; ++j) {
            bool on = ((rows[r] >> (15 - j)) & 1) != 0;
            errors += s.at(x + j, y + r) != (on ? fg : bg);
        }
    }
    return errors;
}

// The pen after text drawn from x at the screen size, kerned as the engine kerns.
int pen_after(testsup::ref_face& ref, const std::u32string& text, int x) {
    uint32_t prev = 0;
    for (char32_t c : text) {
        if (prev != 0) x += ref.kerning(prev, c);
        x += ref.glyph(c).advance;
        prev = c;
    }
    return x;
}

// The icon box with the clock stopped, palette 0, scheme 0, zoom level 1.
int icon_errors(const snapshot& s) {
    int errors = 0;
    for (int r = 50; r < 54; ++r) {
        for (int c = 606; c <= 670; ++c) errors += s.at(c, r) != kDim[4];
    }
    errors += picture_errors(s, kPause, 606, 54, kDim[3], kDim[4]);
    errors += picture_errors(s, kSmallSun, 622, 54, kDim[3], kDim[4]);
    return errors;
}

// The strip's top two rows hold no text: all background, and the icon box.
int strip_errors(const snapshot& s) {
    int errors = 0;
    for (int r = 50; r < 52; ++r) {
        for (int c = 40; c <= 710; ++c)
            errors += s.at(c, r) != (c >= 606 && c <= 670 ? kDim[4] : kDim[7]);
        errors += s.at(39, r) != 0;
        errors += s.at(711, r) != 0;
    }
    return errors;
}

}  // namespace

TEST(StatusSim, StartMessageAndExitPromptInSnapshots) {
    testsup::box_root root;  // DejaVu Sans as the box font
    root.write_subtitles("tresk.tkx", kFilm);
    simtest::scratch_dir dir;
    simtest::process sim({LUMETRA_SIM_BINARY, "--headless", "--root", root.path(), "--keys", "-",
                          "--mode", "720x576", "--timeout", "120"},
                         {}, true);
    ASSERT_TRUE(sim.started());

    testsup::ref_face ref;
    ref.size(20, 24);
    auto snap = [&](const std::string& name, snapshot& s) {
        sim.write_stdin("snap " + dir.file(name) + "\n");
        return testsup::wait_until(
                   [&] { return simtest::read_png_argb(dir.file(name), s.w, s.h, s.px); }, 20000) &&
               s.w == 720 && s.h == 576;
    };

    // The start message: "Druk: " OK " om te starten " EXIT " om te sluiten".
    const int ok_x = pen_after(ref, U"Druk: ", 40);
    const int exit_x = pen_after(ref, U" om te starten ", ok_x + 32);
    snapshot start;
    int round = 0;
    int errors = -1;
    bool shown = testsup::wait_until(
        [&] {
            if (!snap("start" + std::to_string(++round) + ".png", start)) return false;
            errors = strip_errors(start) + icon_errors(start) +
                     picture_errors(start, kOkLeft, ok_x, 74 - 21, kDim[0], kDim[7]) +
                     picture_errors(start, kOkRight, ok_x + 16, 74 - 21, kDim[0], kDim[7]) +
                     picture_errors(start, kExitLeft, exit_x, 74 - 21, kDim[1], kDim[7]) +
                     picture_errors(start, kExitRight, exit_x + 16, 74 - 21, kDim[1], kDim[7]);
            return errors == 0;
        },
        40000);
    EXPECT_TRUE(shown) << errors << " pixels differ";

    // The exit prompt: " " OK(green) " Sluiten - " plain button(yellow) ...
    sim.write_stdin("press EXIT\n");
    const int prompt_ok = pen_after(ref, U" ", 40);
    const int prompt_plain = pen_after(ref, U" Sluiten - ", prompt_ok + 32);
    snapshot prompt;
    shown = testsup::wait_until(
        [&] {
            if (!snap("exit" + std::to_string(++round) + ".png", prompt)) return false;
            errors = strip_errors(prompt) + icon_errors(prompt) +
                     picture_errors(prompt, kOkLeft, prompt_ok, 74 - 21, kDim[2], kDim[7]) +
                     picture_errors(prompt, kOkRight, prompt_ok + 16, 74 - 21, kDim[2], kDim[7]) +
                     picture_errors(prompt, kPlainLeft, prompt_plain, 74 - 21, kDim[3], kDim[7]);
            return errors == 0;
        },
        40000);
    EXPECT_TRUE(shown) << errors << " pixels differ";

    sim.write_stdin("wait 300\npress OK\n");
    ASSERT_TRUE(sim.wait(60000));
    EXPECT_EQ(sim.status(), 0) << sim.out() << sim.err();
}
