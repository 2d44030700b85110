// Every fixed text of the player fits the width it is drawn in, with the font the
// box ships (DejaVu Sans Condensed), at the place it is drawn: nothing is cut short.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fb/screen.h"
#include "menu/list.h"
#include "menu/menus.h"
#include "menu/second_language.h"
#include "menu/window.h"
#include "tests/support/menu_support.h"

namespace {

struct field {
    std::string what;
    const char* text;
    int x;      // absolute left edge of the field
    int width;  // field width in pixels
};

class MenuTexts : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};

    void SetUp() override { ASSERT_TRUE(testsup::open_menu_box(root)); }
    void TearDown() override { testsup::close_menu_box(); }

    // Every byte of the text is laid out within the field (and before ex).
    static void expect_fits(const field& f) {
        size_t length = 0;
        const int32_t m = menu_measure_text(f.text, f.x, f.width, &length);
        EXPECT_EQ(length, std::strlen(f.text))
            << f.what << ": \"" << f.text << "\" cut after " << m << " of " << f.width << " px";
        EXPECT_GT(m, 0) << f.what;
    }
};

TEST_F(MenuTexts, DialogAndErrorBoxes) {
    const char* question = "Verwijder geselecteerde ondertitels?";
    const int dw = menu_dialog_width(15, question);
    expect_fits({"delete question", question, sx + 54, dw - 8});
    expect_fits({"answer line", "\x0e\x0f    \x0b\x02\x12\x13\x0c", sx + 54, dw - 8});
    for (int n = 1; n <= 11; ++n) {
        const int w = menu_error_width(n);
        const std::string which = "error " + std::to_string(n);
        expect_fits({which, error_rows[static_cast<size_t>(n - 1)].message, sx + 54, w - 8});
        expect_fits({which + " headline", "\x0b\x02\x06\x0c ERROR", sx + 54, w - 8});
        expect_fits({which + " title", "ERROR", sx + 56, w - 12});
    }
}

TEST_F(MenuTexts, HelpPages) {
    expect_fits({"help title", "Help", sx + 56, 434 - 12});
    for (const char* s : help_banner1) expect_fits({"help banner 1", s, sx + 54, 426});
    for (const char* s : help_banner2) expect_fits({"help banner 2", s, sx + 54, 426});
    for (const auto& r : help_page1) {
        expect_fits({"help 1 key", r.key, sx + 54, 64});
        expect_fits({"help 1 row", r.meaning, sx + 124, 362});
    }
    for (const auto& r : help_page2) {
        expect_fits({"help 2 key", r.key, sx + 54, 64});
        expect_fits({"help 2 row", r.meaning, sx + 124, 362});
    }
}

TEST_F(MenuTexts, MenuTitlesAndFpsLabels) {
    // The narrower window of a list of up to ten rows.
    const int fw = menu_list_layout(2, 28).width;
    expect_fits({"file menu title", "Selecteer ondertitels", sx + 46, fw + 8 - 12});
    const int pw = menu_list_layout(6, 8).width;
    expect_fits({"FPS title", "FPS", sx + 46, pw + 8 - 12});
    for (const char* s : fps_labels) expect_fits({"FPS row", s, sx + 46, pw});
    expect_fits({"FPS row", kSecondOffLabel, sx + 46, pw});
    expect_fits({"window OK picture", "\x0e\x0f", sx + 46, 33});
}

TEST_F(MenuTexts, StatusLinePrompts) {
    const std::vector<const char*> prompts = {
        "Druk: \x0e\x0f om te starten \x0b\x02\x12\x13\x0c om te sluiten",
        " \x0b\x03\x0e\x0f\x0c Sluiten - \x0b\x04\x14\x15\x0c Opslaan & Sluiten - "
        "\x0b\x02\x12\x13\x0c Annuleren",
        "Volgende deel ondertitels. Ga verder \x0e\x0f",
        "Einde. Druk \x0b\x02\x12\x13\x0c voor sluiten.",
        " Tijd: 9u 59m 59s",
        kSecondSelected,
        kSecondNotAligned,
        kSecondStopped,
        kSecondAligning,
        kSecondIsFirst,
        "2e taal uitgelijnd: -600,0 s, 25/23.976",
        "2e taal: -600,0 s",
    };
    for (const char* p : prompts) expect_fits({"status line", p, sx, ex - sx - 69});
}

TEST_F(MenuTexts, TheCheckSeesACutText) {
    // The measure the checks above rely on does report a text that does not fit.
    size_t length = 0;
    const char* s = "Verwijder geselecteerde ondertitels?";
    menu_measure_text(s, sx + 54, 100, &length);
    EXPECT_LT(length, std::strlen(s));
}

}  // namespace
