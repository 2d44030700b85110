// The list menu: layout, page moves, the ends of the list, marks, YELLOW, keypad
// letter jumps, the scroll bar and rows cut at their edge.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <string>
#include <vector>

#include "fb/screen.h"
#include "menu/list.h"
#include "sim/model.h"
#include "tests/support/menu_support.h"

namespace {

using testsup::all_pixels;
using testsup::any_pixel;
using testsup::colour;
using testsup::pixel;
using testsup::queue;

class ListMenu : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    int lh = 0;
    std::vector<std::string> texts;
    std::vector<const char*> items;

    void SetUp() override {
        ASSERT_TRUE(testsup::open_menu_box(root));
        lh = line_heights[0];
        ASSERT_GT(lh, 0);
    }
    void TearDown() override { testsup::close_menu_box(); }

    void make(int n) {
        std::vector<std::string> t;
        for (int i = 0; i < n; ++i) t.push_back("Item " + std::to_string(i));
        set(t);
    }
    void set(std::vector<std::string> t) {
        texts = std::move(t);
        items.clear();
        for (auto& s : texts) items.push_back(s.c_str());
    }

    // Runs the menu over the queued keys.
    int run(std::initializer_list<int> keys, char* marks = nullptr, int mode = 0, int width = 28) {
        queue(keys);
        int r = testsup::run_modal([&] {
            return menu_list("Test", static_cast<int>(items.size()), width, items.data(), marks,
                             mode);
        });
        EXPECT_EQ(sim::input_pending_keys(0), 0u);
        return r;
    }
    std::future<int> start(char* marks = nullptr, int mode = 0) {
        return testsup::start_modal([this, marks, mode] {
            return menu_list("Test", static_cast<int>(items.size()), 28, items.data(), marks, mode);
        });
    }

    // Highlight bar of row i (0..9 on its page) is drawn in colour k.
    bool bar(int row, int k) const {
        const int W = menu_list_layout(static_cast<int>(items.size()), 28).width;
        const int x = sx + 44 + W - 3;
        return pixel(x, sy + 84 + row * lh + 1) == colour(k);
    }
};

TEST_F(ListMenu, Layout) {
    // sx 40, ex 670: 28 characters would reach past ex - 100, 8 characters stay.
    EXPECT_EQ(menu_list_layout(11, 28).width, 542);
    EXPECT_EQ(menu_list_layout(6, 8).width, 160);
    EXPECT_EQ(menu_list_layout(11, 40).width, 542);
    EXPECT_EQ(menu_list_layout(11, 28).rows, 10);
    EXPECT_EQ(menu_list_layout(6, 8).rows, 6);
    EXPECT_EQ(menu_list_layout(6, 8).height, 6 * lh);
    EXPECT_EQ(menu_list_layout(11, 28).height, 10 * lh);
}

TEST_F(ListMenu, TenItemsOnePage) {
    make(10);
    EXPECT_EQ(run({KEY_OK}), 0);
    EXPECT_EQ(run({KEY_RIGHT, KEY_OK}), 9);
    EXPECT_EQ(run({KEY_RIGHT, KEY_RIGHT, KEY_OK}), 9);
    EXPECT_EQ(run({KEY_RIGHT, KEY_LEFT, KEY_OK}), 0);
    EXPECT_EQ(run({KEY_DOWN, KEY_DOWN, KEY_UP, KEY_GREEN}), 1);
}

TEST_F(ListMenu, ElevenItemsPageMoves) {
    make(11);
    EXPECT_EQ(run({KEY_RIGHT, KEY_OK}), 9);
    EXPECT_EQ(run({KEY_RIGHT, KEY_RIGHT, KEY_OK}), 10);
    EXPECT_EQ(run({KEY_RIGHT, KEY_RIGHT, KEY_RIGHT, KEY_OK}), 10);
    EXPECT_EQ(run({KEY_RIGHT, KEY_RIGHT, KEY_LEFT, KEY_OK}), 9);
    EXPECT_EQ(run({KEY_RIGHT, KEY_RIGHT, KEY_LEFT, KEY_LEFT, KEY_OK}), 0);
    EXPECT_EQ(run({KEY_DOWN, KEY_DOWN, KEY_LEFT, KEY_OK}), 0);
    EXPECT_EQ(run({KEY_DOWN, KEY_DOWN, KEY_RIGHT, KEY_OK}), 9);
}

TEST_F(ListMenu, EndsDoNotWrap) {
    make(11);
    EXPECT_EQ(run({KEY_UP, KEY_OK}), 0);
    EXPECT_EQ(run({KEY_LEFT, KEY_OK}), 0);
    std::initializer_list<int> downs = {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN,
                                        KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN,
                                        KEY_DOWN, KEY_DOWN, KEY_OK};
    EXPECT_EQ(run(downs), 10);
    EXPECT_EQ(run({KEY_RIGHT, KEY_RIGHT, KEY_DOWN, KEY_DOWN, KEY_UP, KEY_OK}), 9);
}

TEST_F(ListMenu, CancelKeys) {
    make(3);
    EXPECT_EQ(run({KEY_DOWN, KEY_EXIT}), -1);
    EXPECT_EQ(run({KEY_DOWN, KEY_RED}), -1);
    // Keys the menu does not know are ignored.
    EXPECT_EQ(run({KEY_MENU, KEY_HELP, KEY_TV, KEY_DOWN, KEY_VOLUMEUP, KEY_OK}), 1);
}

TEST_F(ListMenu, MarksAndConfirmWithMarks) {
    make(11);
    std::vector<char> marks(11, 7);  // cleared by the menu at entry
    EXPECT_EQ(run({KEY_BLUE, KEY_DOWN, KEY_DOWN, KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_BLUE, KEY_OK},
                  marks.data()),
              -5);
    std::vector<char> expected(11, 0);
    expected[0] = 1;
    expected[2] = 1;
    EXPECT_EQ(marks, expected);

    // BLUE twice on one item leaves nothing marked: OK chooses the item.
    EXPECT_EQ(run({KEY_DOWN, KEY_BLUE, KEY_BLUE, KEY_OK}, marks.data()), 1);
    EXPECT_EQ(marks, std::vector<char>(11, 0));

    // Two marks, one taken back: -5 with one byte set.
    EXPECT_EQ(run({KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_UP, KEY_BLUE, KEY_GREEN}, marks.data()), -5);
    expected.assign(11, 0);
    expected[1] = 1;
    EXPECT_EQ(marks, expected);
}

TEST_F(ListMenu, BlueWithoutMarkBufferDoesNothing) {
    make(4);
    EXPECT_EQ(run({KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_OK}), 1);
}

TEST_F(ListMenu, YellowOnlyWithModeBit2) {
    make(4);
    EXPECT_EQ(run({KEY_DOWN, KEY_YELLOW}, nullptr, 2), -3);
    EXPECT_EQ(run({KEY_YELLOW}, nullptr, 3), -3);
    EXPECT_EQ(run({KEY_YELLOW, KEY_DOWN, KEY_OK}, nullptr, 1), 1);
    EXPECT_EQ(run({KEY_YELLOW, KEY_DOWN, KEY_OK}, nullptr, 0), 1);
}

TEST_F(ListMenu, LetterJumpsCycleThroughTheKeypad) {
    set({"Alpha", "beta", "Bravo", "charlie"});
    // A first press finds Alpha, already current; the second b (beta first), the third
    // c; the fourth finds no initial 2 and wraps to a.
    EXPECT_EQ(run({KEY_2, KEY_OK}, nullptr, 1), 0);
    EXPECT_EQ(run({KEY_2, KEY_2, KEY_OK}, nullptr, 1), 1);
    EXPECT_EQ(run({KEY_2, KEY_2, KEY_2, KEY_OK}, nullptr, 1), 3);
    EXPECT_EQ(run({KEY_2, KEY_2, KEY_2, KEY_2, KEY_OK}, nullptr, 1), 0);
    EXPECT_EQ(first_with_initial[10], 1);
    EXPECT_EQ(first_with_initial[11], 2);
    EXPECT_EQ(first_with_initial[12], 4);
    EXPECT_EQ(first_with_initial[13], 0);
    // Mode 0: digits do nothing.
    EXPECT_EQ(run({KEY_2, KEY_2, KEY_OK}, nullptr, 0), 0);
    // Another digit in between starts the row again from a.
    EXPECT_EQ(run({KEY_2, KEY_2, KEY_3, KEY_2, KEY_OK}, nullptr, 1), 0);
}

TEST_F(ListMenu, LetterJumpsOverDigitsAndOtherInitials) {
    set(
        {"\xc3\xa9"
         "clair",
         "echo", "7up", "sierra", "Zulu", "0800", "_x"});
    // 3: d (none), e -> echo; the accented initial has no slot.
    EXPECT_EQ(run({KEY_3, KEY_OK}, nullptr, 1), 1);
    // 7: p q r (none), s -> sierra, then 7 -> 7up.
    EXPECT_EQ(run({KEY_7, KEY_OK}, nullptr, 1), 3);
    EXPECT_EQ(run({KEY_7, KEY_7, KEY_OK}, nullptr, 1), 2);
    // 9: w x y (none), z -> Zulu; 0 -> 0800; 1: nothing.
    EXPECT_EQ(run({KEY_9, KEY_OK}, nullptr, 1), 4);
    EXPECT_EQ(run({KEY_0, KEY_OK}, nullptr, 1), 5);
    EXPECT_EQ(run({KEY_DOWN, KEY_1, KEY_OK}, nullptr, 1), 1);
}

TEST_F(ListMenu, LetterJumpToAnotherPage) {
    make(25);
    texts[22] = "zebra";
    set(texts);
    auto fut = start(nullptr, 1);
    EXPECT_TRUE(testsup::wait_until([&] { return bar(0, 7); }));
    testsup::press(KEY_9);
    EXPECT_TRUE(testsup::wait_until([&] { return bar(2, 7); }));
    EXPECT_FALSE(bar(0, 7));
    testsup::press(KEY_OK);
    EXPECT_EQ(testsup::finish_modal(fut), 22);
}

TEST_F(ListMenu, HighlightAndMarkColours) {
    make(5);
    std::vector<char> marks(5, 0);
    auto fut = start(marks.data(), 1);
    EXPECT_TRUE(testsup::wait_until([&] { return bar(0, 7); }));
    EXPECT_EQ(pixel(sx + 44 + 100, sy + 84 + lh + 1), colour(10));  // plain row
    testsup::press(KEY_BLUE);
    EXPECT_TRUE(testsup::wait_until([&] { return bar(0, 3); }));  // marked and current
    testsup::press(KEY_DOWN);
    EXPECT_TRUE(testsup::wait_until([&] { return bar(1, 7); }));
    EXPECT_FALSE(bar(0, 3));
    EXPECT_FALSE(bar(0, 7));
    // The marked row's text is in the mark colour now.
    const int W = menu_list_layout(5, 28).width;
    EXPECT_TRUE(any_pixel(sx + 46, sy + 84, sx + 44 + W, sy + 84 + lh - 1, colour(3)));
    testsup::press(KEY_EXIT);
    EXPECT_EQ(testsup::finish_modal(fut), -1);
    EXPECT_TRUE(all_pixels(0, sy + 32, 719, ey - 1, 0));
}

TEST_F(ListMenu, ScrollBarOnlyWithMoreThanTenItems) {
    make(10);
    auto fut = start();
    const int W = menu_list_layout(10, 28).width;
    const int H = 10 * lh;
    EXPECT_TRUE(testsup::wait_until([&] { return bar(0, 7); }));
    // Window body W + 8 wide; nothing to its right.
    EXPECT_EQ(pixel(sx + 40 + W + 8, sy + 80), colour(4));
    EXPECT_TRUE(all_pixels(sx + 41 + W + 8, sy + 80 - lh, 719, sy + 80 + H, 0));
    testsup::press(KEY_EXIT);
    EXPECT_EQ(testsup::finish_modal(fut), -1);

    make(11);
    fut = start();
    EXPECT_TRUE(testsup::wait_until([&] { return bar(0, 7); }));
    EXPECT_EQ(pixel(sx + 40 + W + 34, sy + 80), colour(4));
    // Scroll-bar frame, and a thumb of 10 (H - 54) / 20 rows at the top of the track.
    EXPECT_EQ(pixel(sx + W + 48, sy + 108), colour(7));
    const int k = 10 * (H - 54) / 20;
    const int tx = sx + W + 50 + 8;
    // The thumb is the last thing a page draws.
    EXPECT_TRUE(testsup::wait_until(
        [&] { return all_pixels(tx, sy + 110, tx, sy + 110 + k - 3, colour(7)); }));
    EXPECT_EQ(pixel(tx, sy + 110 + k + 2), colour(10));
    testsup::press(KEY_RIGHT);
    testsup::press(KEY_RIGHT);
    // Second page: the thumb moves down by (H - 54) * 10 / 20.
    const int top = sy + 110 + (H - 54) * 10 / 20;
    EXPECT_TRUE(testsup::wait_until([&] { return pixel(tx, top + 1) == colour(7); }));
    EXPECT_EQ(pixel(tx, sy + 112), colour(10));
    EXPECT_TRUE(bar(0, 7));
    testsup::press(KEY_OK);
    EXPECT_EQ(testsup::finish_modal(fut), 10);
}

TEST_F(ListMenu, PageChangeClearsTheWholeHighlightBar) {
    make(12);
    auto fut = start();
    const int W = menu_list_layout(12, 28).width;
    EXPECT_TRUE(testsup::wait_until([&] { return bar(0, 7); }));
    testsup::press(KEY_RIGHT);
    EXPECT_TRUE(testsup::wait_until([&] { return bar(9, 7); }));
    // The bar's rightmost column, which a box leaves to its top and bottom bars.
    const int right = sx + 44 + W, top = sy + 84 + 9 * lh;
    EXPECT_EQ(pixel(right, top), colour(7));
    testsup::press(KEY_DOWN);
    EXPECT_TRUE(testsup::wait_until([&] { return bar(0, 7) && !bar(9, 7); }));
    for (int y : {top, top + 1, top + lh - 4, top + lh - 3}) {
        EXPECT_EQ(pixel(right, y), colour(10)) << "row " << y - top << " of the old bar";
    }
    testsup::press(KEY_OK);
    EXPECT_EQ(testsup::finish_modal(fut), 10);
}

TEST_F(ListMenu, InsetLayoutPagesFewerRowsInsideTheWindow) {
    // The inset layout takes 32 lines off the top and the bottom of the usable area.
    struct inset_layout {
        inset_layout() { fb_toggle_inset(); }
        ~inset_layout() { fb_toggle_inset(); }
    } inset;
    ASSERT_EQ(ey - sy, 526 - 50 - 64);
    make(12);
    texts[11] = "zulu";
    set(texts);
    const list_layout layout = menu_list_layout(12, 28);
    const int R = layout.rows, H = layout.height, W = layout.width;
    ASSERT_LT(R, 10) << "ten rows of " << lh << " pixels do not fit the list area of " << H;
    EXPECT_GE(R, 1);
    EXPECT_LE(R * lh, H);
    EXPECT_GT((R + 1) * lh, H) << "as many rows as fit";
    // Page moves and letter jumps go by the shorter page.
    EXPECT_EQ(run({KEY_RIGHT, KEY_OK}), R - 1);
    EXPECT_EQ(run({KEY_RIGHT, KEY_RIGHT, KEY_OK}), R);
    EXPECT_EQ(run({KEY_RIGHT, KEY_RIGHT, KEY_LEFT, KEY_LEFT, KEY_OK}), 0);
    EXPECT_EQ(run({KEY_9, KEY_LEFT, KEY_UP, KEY_OK}, nullptr, 1), R * (11 / R) - 1);

    auto fut = start();
    EXPECT_TRUE(testsup::wait_until([&] { return bar(0, 7); }));
    testsup::press(KEY_RIGHT);
    EXPECT_TRUE(testsup::wait_until([&] { return bar(R - 1, 7); }));
    // The window's bottom frame is whole and nothing of the list lies below it.
    const int frame = sy + 80 + H + 8 - 4;
    EXPECT_TRUE(all_pixels(sx + 44, frame, sx + 44 + W, frame + 1, colour(4)));
    EXPECT_TRUE(all_pixels(0, frame + 2, sx + 44 + W, ey - 1, 0));
    // The scroll bar counts pages of R rows: a thumb of R (H - 54) / N rows, N the
    // smallest multiple of R not below 12, moved down by (H - 54) R / N on page two.
    testsup::press(KEY_RIGHT);
    const int N = (12 + R - 1) / R * R;
    const int tx = sx + W + 50 + 8, k = R * (H - 54) / N, top = sy + 110 + (H - 54) * R / N;
    EXPECT_TRUE(
        testsup::wait_until([&] { return bar(0, 7) && pixel(tx, sy + 112) == colour(10); }));
    EXPECT_TRUE(
        testsup::wait_until([&] { return all_pixels(tx, top, tx, top + k - 3, colour(7)); }));
    testsup::press(KEY_OK);
    EXPECT_EQ(testsup::finish_modal(fut), R);
}

TEST_F(ListMenu, LongItemsAreCutAtTheRowEdge) {
    std::string pictures;
    for (int i = 0; i < 60; ++i) pictures += "\x14\x15";
    set({std::string(300, 'W'), pictures, "M" + pictures, std::string(300, 'm')});
    auto fut = start();
    const int W = menu_list_layout(4, 28).width;
    EXPECT_TRUE(testsup::wait_until([&] { return bar(0, 7); }));
    // Text reaches close to the edge of each row, and not a pixel past it: the column
    // between the row and the window frame keeps the body colour, and nothing lies
    // right of the window.
    auto cut = [&] {
        for (int row = 0; row < 4; ++row) {
            const int y0 = sy + 84 + row * lh, y1 = y0 + lh - 3;
            const int k = row == 1 ? 0 : 7;
            EXPECT_TRUE(any_pixel(sx + 44 + W - 40, y0, sx + 44 + W, y1, colour(k))) << row;
            EXPECT_TRUE(all_pixels(sx + 45 + W, y0, sx + 45 + W, y1, colour(10))) << row;
        }
        EXPECT_TRUE(all_pixels(sx + 49 + W, sy + 32, 719, ey - 1, 0));
    };
    testsup::press(KEY_DOWN);
    // The new current row's text is drawn last, up to the edge.
    EXPECT_TRUE(testsup::wait_until([&] {
        return bar(1, 7) &&
               any_pixel(sx + 44 + W - 40, sy + 84 + lh, sx + 44 + W, sy + 82 + 2 * lh, colour(0));
    }));
    cut();
    testsup::press(KEY_EXIT);
    EXPECT_EQ(testsup::finish_modal(fut), -1);
}

TEST_F(ListMenu, OneItemList) {
    set({"only"});
    EXPECT_EQ(run({KEY_DOWN, KEY_UP, KEY_RIGHT, KEY_LEFT, KEY_OK}), 0);
}

TEST_F(ListMenu, ThousandsOfItemsStayUsable) {
    std::vector<std::string> t;
    for (int i = 0; i < 5000; ++i) t.push_back("film " + std::to_string(i));
    t[4999] = "zz last";
    set(t);
    EXPECT_EQ(run({KEY_9, KEY_OK}, nullptr, 1), 4999);
    EXPECT_EQ(run({KEY_9, KEY_UP, KEY_LEFT, KEY_LEFT, KEY_OK}, nullptr, 1), 4989);
}

}  // namespace
