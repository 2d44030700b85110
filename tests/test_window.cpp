// Windows, the yes/no dialog and the error box: refusal bounds, the title bar,
// answers and ignored keys, drains, error box types, and boxes kept on screen.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "fb/primitives.h"
#include "fb/screen.h"
#include "menu/window.h"
#include "rc/remote.h"
#include "sim/model.h"
#include "tests/support/menu_support.h"

namespace {

using testsup::all_pixels;
using testsup::any_pixel;
using testsup::colour;
using testsup::pixel;
using testsup::queue;
using testsup::run_modal;

constexpr const char* kDeleteQuestion = "Verwijder geselecteerde ondertitels?";

class Window : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    int lh = 0;

    void SetUp() override {
        ASSERT_TRUE(testsup::open_menu_box(root));
        lh = line_heights[0];
        ASSERT_GT(lh, 0);
    }
    void TearDown() override { testsup::close_menu_box(); }

    // Whether the whole band (and the status strip) is still untouched.
    static bool screen_blank() {
        for (uint32_t v : sim::fb_memory())
            if (v != 0) return false;
        return true;
    }
    static bool band_blank() { return all_pixels(0, sy + 32, 719, ey - 1, 0); }

    static int dialog() {
        return run_modal([] { return menu_dialog(1, 15, kDeleteQuestion); });
    }
};

TEST_F(Window, RefusesNarrowWindowsAndTitleBarsInTheStatusStrip) {
    std::string out = testsup::capture_output([&] { menu_window(40, 80, 100, 46, 7, 4, "T", 7); });
    EXPECT_EQ(out, "fb_okno: chybne rozmery nebo pozice okna [s: 46, yt: " +
                       std::to_string(80 - lh) + "!\n");
    EXPECT_TRUE(screen_blank());

    out = testsup::capture_output([&] { menu_window(40, 31 + lh, 100, 200, 7, 4, "T", 7); });
    EXPECT_EQ(out, "fb_okno: chybne rozmery nebo pozice okna [s: 200, yt: 31!\n");
    EXPECT_TRUE(screen_blank());

    out = testsup::capture_output([&] { menu_window(40, 80, 100, 47, 7, 4, "T", 7); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(pixel(sx + 40, sy + 80 - lh), colour(4));

    out = testsup::capture_output([&] { menu_window(300, 32 + lh, 100, 200, 7, 4, "T", 7); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(pixel(sx + 300, sy + 32), colour(4));
}

TEST_F(Window, TitleBarReachesTheBodyOfALowWindow) {
    // The body of a one-row list: lower than two title heights.
    const int x = 40, y = 80, w = 300;
    menu_window(x, y, lh + 8, w, 10, 4, "", 7);
    // A column away from the OK picture and the (empty) title: every row of the bar
    // above the body is in the title colour, then the body's frame follows.
    const int col = sx + x + 200;
    EXPECT_TRUE(all_pixels(col, sy + y - lh, col + 20, sy + y - 1, colour(4)));
    EXPECT_EQ(pixel(col, sy + y), colour(4));       // the body's top frame
    EXPECT_EQ(pixel(col, sy + y + 3), colour(10));  // the body's fill
    EXPECT_EQ(pixel(col, sy + y - lh - 1), 0u);     // nothing above the bar
}

TEST_F(Window, TallWindowTitleBarAndBody) {
    menu_window(50, 75, 360, 434, 7, 4, "Help", 7);
    const int col = sx + 50 + 400;
    EXPECT_TRUE(all_pixels(col, sy + 75 - lh, col, sy + 74, colour(4)));
    EXPECT_EQ(pixel(col, sy + 80), colour(7));
    // The OK picture of the title bar, in colour 7 at the left.
    EXPECT_TRUE(any_pixel(sx + 56, sy + 75 - lh + 5, sx + 56 + 31, sy + 75 - lh + 25, colour(7)));
}

TEST_F(Window, DialogAnswers) {
    const std::pair<int, int> cases[] = {{KEY_OK, 1}, {KEY_GREEN, 1}, {KEY_EXIT, 0}, {KEY_RED, 0}};
    for (auto [key, answer] : cases) {
        queue({testsup::kDrained, key});
        EXPECT_EQ(dialog(), answer) << "key " << key;
        EXPECT_EQ(sim::input_pending_keys(0), 0u);
        EXPECT_TRUE(band_blank());
    }
}

TEST_F(Window, DialogIgnoresOtherKeys) {
    queue({testsup::kDrained, KEY_UP, KEY_YELLOW, KEY_BLUE, KEY_1, KEY_MENU, KEY_HELP, KEY_EXIT});
    EXPECT_EQ(dialog(), 0);
    queue({testsup::kDrained, KEY_DOWN, KEY_LEFT, KEY_0, KEY_TV, KEY_GREEN});
    EXPECT_EQ(dialog(), 1);
}

TEST_F(Window, KeysPressedBeforeTheDialogDoNotAnswerIt) {
    queue({KEY_GREEN, KEY_EXIT});
    EXPECT_EQ(dialog(), 0);
    queue({KEY_RED, KEY_OK});
    EXPECT_EQ(dialog(), 1);
}

TEST_F(Window, DialogShowsQuestionAndAnswerLine) {
    queue({testsup::kDrained});
    auto fut = testsup::start_modal([] { return menu_dialog(1, 15, kDeleteQuestion); });
    // The answer line ends with the exit picture in red, the last thing drawn.
    EXPECT_TRUE(testsup::wait_until([&] {
        return any_pixel(sx + 54, sy + 90 + 2 * lh - 19, sx + 540, sy + 90 + 2 * lh + 1, colour(1));
    }));
    // Before it the OK picture in green, the question in black, the body in grey with a
    // blue frame.
    EXPECT_TRUE(
        any_pixel(sx + 54, sy + 90 + 2 * lh - 19, sx + 540, sy + 90 + 2 * lh + 1, colour(2)));
    EXPECT_TRUE(any_pixel(sx + 54, sy + 90 + 4, sx + 540, sy + 90 + lh, colour(0)));
    EXPECT_EQ(pixel(sx + 50, sy + 90), colour(4));
    EXPECT_EQ(pixel(sx + 53, sy + 93), colour(7));
    testsup::press(KEY_OK);
    EXPECT_EQ(testsup::finish_modal(fut), 1);
    EXPECT_TRUE(band_blank());
}

TEST_F(Window, DialogWidensToItsQuestionKeepingItsLeftEdge) {
    const int w = menu_dialog_width(15, kDeleteQuestion);
    EXPECT_GE(w, 300);
    EXPECT_LE(sx + 50 + w, ex);
    size_t length = 0;
    menu_measure_text(kDeleteQuestion, sx + 54, w - 8, &length);
    EXPECT_EQ(length, std::strlen(kDeleteQuestion));
    // A short question keeps the width asked for.
    EXPECT_EQ(menu_dialog_width(15, "Ja?"), 300);
    // A question that cannot fit stops at the right edge of the area.
    EXPECT_EQ(menu_dialog_width(15, std::string(200, 'W').c_str()), ex - sx - 50);

    queue({testsup::kDrained});
    auto fut = testsup::start_modal([] { return menu_dialog(1, 15, kDeleteQuestion); });
    EXPECT_TRUE(testsup::wait_until([&] { return pixel(sx + 50 + w, sy + 90) == colour(4); }));
    EXPECT_EQ(pixel(sx + 50, sy + 90), colour(4));
    EXPECT_EQ(pixel(sx + 50 + w + 1, sy + 90), 0u);
    testsup::press(KEY_EXIT);
    EXPECT_EQ(testsup::finish_modal(fut), 0);
}

TEST_F(Window, ErrorBoxOfType2StaysBrieflyAndTakesNoKey) {
    testsup::press(KEY_OK);
    run_modal([] {
        menu_error_box(1);
        return 0;
    });
    EXPECT_EQ(sim::input_pending_keys(0), 2u);  // press and release still queued
    EXPECT_TRUE(band_blank());
}

TEST_F(Window, ErrorBoxOfType3WaitsForAKey) {
    testsup::queue({testsup::kDrained});
    auto fut = testsup::start_modal([] {
        menu_error_box(2);
        return 0;
    });
    // The red title bar and frame appear, then it waits.
    EXPECT_TRUE(testsup::wait_until([&] { return pixel(sx + 53, sy + 93) == colour(7); }));
    EXPECT_EQ(pixel(sx + 50, sy + 90 - lh), colour(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(fut.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    testsup::press(KEY_BLUE);
    testsup::finish_modal(fut);
    EXPECT_TRUE(band_blank());
}

TEST_F(Window, ErrorBoxDrainsKeysPressedBeforeIt) {
    queue({KEY_OK, KEY_RED});
    auto fut = testsup::start_modal([] {
        menu_error_box(10);
        return 0;
    });
    // The drain eats OK; RED closes the box. Its release is left for whoever reads next.
    testsup::finish_modal(fut);
    EXPECT_EQ(sim::input_pending_keys(0), 1u);
    EXPECT_EQ(rc_read_key(), -1);
    queue({KEY_OK});
    fut = testsup::start_modal([] {
        menu_error_box(10);
        return 0;
    });
    EXPECT_TRUE(testsup::wait_until([] { return sim::input_pending(0) == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(fut.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    testsup::press(KEY_EXIT);
    testsup::finish_modal(fut);
}

TEST_F(Window, ErrorNumbersOutOfRangeDoNothing) {
    testsup::press(KEY_OK);
    for (int n : {0, 12, -1, 1000}) {
        std::string out = testsup::capture_output([&] {
            run_modal([n] {
                menu_error_box(n);
                return 0;
            });
        });
        EXPECT_EQ(out, "");
        EXPECT_TRUE(screen_blank()) << n;
        EXPECT_EQ(sim::input_pending_keys(0), 2u) << n;
    }
}

TEST_F(Window, WideErrorBoxesStayWithinTheArea) {
    for (int n = 1; n <= 11; ++n) {
        const int w = menu_error_width(n);
        EXPECT_LE(sx + 50 + w, ex) << n;
        EXPECT_EQ(w, std::min(20 * error_rows[static_cast<size_t>(n - 1)].width, ex - sx - 50))
            << n;
    }
    for (int n : {3, 5}) {
        testsup::queue({testsup::kDrained});
        auto fut = testsup::start_modal([n] {
            menu_error_box(n);
            return 0;
        });
        const int w = menu_error_width(n);
        ASSERT_TRUE(
            testsup::wait_until([&] { return pixel(sx + 50 + w, sy + 90 - lh) == colour(1); }));
        // Nothing of the box beyond its right edge, nor past the end of the line.
        EXPECT_TRUE(all_pixels(sx + 51 + w, sy + 90 - lh, 719, sy + 90 + 3 * lh + 10, 0)) << n;
        testsup::press(KEY_OK);
        testsup::finish_modal(fut);
    }
}

TEST_F(Window, ErrorBoxShowsItsMessage) {
    testsup::queue({testsup::kDrained});
    auto fut = testsup::start_modal([] {
        menu_error_box(6);
        return 0;
    });
    const int w = menu_error_width(6);
    // Black text on the second line, centred; the warning triangle in red on the first.
    EXPECT_TRUE(testsup::wait_until([&] {
        return any_pixel(sx + 54, sy + 90 + lh + 4, sx + 50 + w, sy + 90 + 2 * lh, colour(0));
    }));
    EXPECT_TRUE(any_pixel(sx + 54, sy + 90 + lh - 21, sx + 54 + 15, sy + 90 + lh - 1, colour(1)));
    testsup::press(KEY_OK);
    testsup::finish_modal(fut);
}

TEST_F(Window, CutTextStopsAtTheFieldEdgeWithPictures) {
    // Pictures alone would be drawn past the field by the string drawer.
    std::string pictures;
    for (int i = 0; i < 20; ++i) pictures += "\x0e\x0f";
    size_t length = 0;
    int32_t m = menu_measure_text(pictures.c_str(), sx + 46, 100, &length);
    EXPECT_EQ(m, 96);  // six pictures: a seventh would end at the edge
    EXPECT_EQ(length, 6u);
    menu_draw_cut(pictures.c_str(), sx + 46, sy + 200, 100, 7);
    EXPECT_TRUE(any_pixel(sx + 46, sy + 179, sx + 145, sy + 199, colour(7)));
    EXPECT_TRUE(all_pixels(sx + 146, sy + 170, 719, sy + 210, 0));

    const std::string letters(100, 'W');
    menu_draw_cut(letters.c_str(), sx + 46, sy + 300, 100, 7);
    EXPECT_TRUE(any_pixel(sx + 46, sy + 270, sx + 145, sy + 305, colour(7)));
    EXPECT_TRUE(all_pixels(sx + 146, sy + 260, 719, sy + 310, 0));
}

}  // namespace
