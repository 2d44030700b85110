// The list menu: a titled window of up to ten rows per page with a scroll bar,
// a moving highlight, marks and keypad letter jumps.
#include "menu/list.h"

#include <linux/input.h>

#include <algorithm>
#include <cstddef>

#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/text.h"
#include "menu/window.h"

namespace {

constexpr int kRowsPerPage = 10;
constexpr int kMaxChars = 33;
constexpr int kDrainPauseUs = 5000;
// Row colours: plain and marked rows; the list body.
constexpr int8_t kRowColour = 7;
constexpr int8_t kMarkedColour = 3;
constexpr int8_t kBodyColour = 10;

// One call's state: the list, the layout, the highlight and what was drawn last.
struct list_state {
    const char* const* items;
    const char* marks;
    int count;
    int lh;
    list_layout layout;
    int64_t rounded_count;  // smallest multiple of the page size not below count
    int thumb;              // scroll-bar thumb height
    int p;                  // current index
    int drawn_page;         // page start drawn last; -1 none
    int drawn_index;        // current index drawn last
};

void draw(list_state& st);
void draw_row(const list_state& st, int i, int v, bool current);
int8_t row_colour(const list_state& st, int i);
bool jump_to_initial(list_state& st, int digit, int& last_digit, int& cycle);
void index_initials(const char* const* items, int count);

}  // namespace

std::array<int32_t, 36> first_with_initial{};

const std::array<std::array<int32_t, 5>, 10> keypad_slots{{
    {0, -1, -1, -1, -1},
    {1, -1, -1, -1, -1},
    {10, 11, 12, 2, -1},
    {13, 14, 15, 3, -1},
    {16, 17, 18, 4, -1},
    {19, 20, 21, 5, -1},
    {22, 23, 24, 6, -1},
    {25, 26, 27, 28, 7},
    {29, 30, 31, 8, -1},
    {32, 33, 34, 35, 9},
}};

list_layout menu_list_layout(int count, int width) {
    const int lh = line_heights[0];
    list_layout r{};
    r.rows = count <= kRowsPerPage ? count : kRowsPerPage;
    r.height = r.rows * lh;
    r.width = std::min(width, kMaxChars) * 20;
    if (sx + r.width + 100 >= ex) r.width = ex - sx - 88;
    if (sy + lh + r.height + 88 >= ey) {
        r.height = ey - sy - lh - 104;
        // Rows keep their height, so a shorter list area holds fewer of them: a row
        // drawn past it would lie under the window frame.
        if (lh > 0) r.rows = std::clamp(r.height / lh, 1, r.rows);
    }
    return r;
}

int menu_list_row = 0;

int menu_list(const char* title, int count, int width, const char* const* items, char* marks,
              int mode) {
    if (count < 1) return -1;
    if (mode != 0) index_initials(items, count);
    if (marks != nullptr) std::fill(marks, marks + count, 0);
    fb_clear_subtitle();

    list_state st{};
    st.items = items;
    st.marks = marks;
    st.count = count;
    st.lh = line_heights[0];
    st.layout = menu_list_layout(count, width);
    const int R = st.layout.rows;
    st.rounded_count = (int64_t{count} + R - 1) / R * R;
    st.drawn_page = -1;
    const int W = st.layout.width;
    const int H = st.layout.height;

    if (count <= R) {
        menu_window(40, 80, H + 8, W + 8, kBodyColour, 4, title, 7);
    } else {
        menu_window(40, 80, H + 8, W + 34, kBodyColour, 4, title, 7);
        fb_box(W + 48, 108, H - 50, 20, 2, kBodyColour, 7);
        fb_draw_string("\x1a", 0, sx + W + 48, sy + 108, 1, 20, 7);
        fb_draw_string("\x1b", 0, sx + W + 48, sy + H + 84, 1, 20, 7);
        st.thumb = std::max<int>(2, static_cast<int>(R * int64_t{H - 54} / st.rounded_count));
    }
    draw(st);

    int mark_count = 0;
    int last_digit = -1;
    int cycle = 0;
    int result = 0;
    for (bool end = false; !end;) {
        const int code = menu_wait_key();
        const int v = R * (st.p / R);
        switch (code) {
            case KEY_UP:
                if (st.p > 0) --st.p;
                draw(st);
                break;
            case KEY_DOWN:
                if (st.p < count - 1) ++st.p;
                draw(st);
                break;
            case KEY_LEFT:
                st.p = (st.p == v && st.p > 0) ? st.p - 1 : v;
                draw(st);
                break;
            case KEY_RIGHT:
                st.p = (st.p % R == R - 1) ? st.p + 1 : v + R - 1;
                if (st.p >= count) st.p = count - 1;
                draw(st);
                break;
            case KEY_OK:
            case KEY_GREEN:
                result = mark_count > 0 ? -5 : st.p;
                end = true;
                break;
            case KEY_EXIT:
            case KEY_RED:
                result = -1;
                end = true;
                break;
            case kMenuWebCommandKey:
                if (mode != 0) {
                    result = -6;
                    end = true;
                }
                break;
            case KEY_TEXT:
                if (mode & 4) {
                    result = -7;
                    end = true;
                }
                break;
            case KEY_YELLOW:
                if (mode & 2) {
                    result = -3;
                    end = true;
                }
                break;
            case KEY_BLUE:
                if (marks != nullptr) {
                    char& z = marks[st.p];
                    z = z == 1 ? 0 : 1;
                    mark_count += z == 1 ? 1 : -1;
                    draw(st);
                }
                break;
            case KEY_1:
            case KEY_2:
            case KEY_3:
            case KEY_4:
            case KEY_5:
            case KEY_6:
            case KEY_7:
            case KEY_8:
            case KEY_9:
            case KEY_0:
                if (mode != 0 &&
                    jump_to_initial(st, code == KEY_0 ? 0 : code - KEY_1 + 1, last_digit, cycle)) {
                    draw(st);
                }
                break;
            default:
                break;
        }
    }
    menu_list_row = st.p;
    menu_drain_keys(kDrainPauseUs);
    fb_clear_subtitle();
    return result;
}

namespace {

// Within the page drawn last only the old and the new current row are redrawn, so a
// key costs two rows however long the list is; a new page redraws rows and scroll bar.
void draw(list_state& st) {
    const int R = st.layout.rows;
    const int W = st.layout.width;
    const int H = st.layout.height;
    const int v = R * (st.p / R);
    if (v == st.drawn_page) {
        draw_row(st, st.drawn_index, v, false);
        draw_row(st, st.p, v, true);
    } else {
        // A plain fill rather than a box: a box leaves its rightmost column to its
        // bars, and a row's highlight bar colours that column.
        fb_fill(0, sx + 44, sy + 84, W, H - 2, kBodyColour);
        for (int i = 0; i < R && v + i < st.count; ++i) {
            if (v + i == st.p) {
                draw_row(st, v + i, v, true);
            } else {
                menu_draw_cut(st.items[v + i], sx + 46, sy + 108 + i * st.lh, W,
                              row_colour(st, v + i));
            }
        }
        if (st.count > R) {
            fb_box(W + 50, 110, H - 54, 16, 1, kBodyColour, kBodyColour);
            const auto offset = static_cast<int>(int64_t{H - 54} * v / st.rounded_count);
            fb_box(W + 50, 110 + offset, st.thumb, 16, 1, 7, 7);
        }
    }
    st.drawn_page = v;
    st.drawn_index = st.p;
}

// Row i of the page starting at v: the highlight bar and black text when current,
// else the plain background and the text in the row's colour.
void draw_row(const list_state& st, int i, int v, bool current) {
    const int y = (i - v) * st.lh;
    const int8_t k = row_colour(st, i);
    if (current) {
        fb_box(44, 84 + y, st.lh, st.layout.width, 1, k, k);
    } else {
        fb_box(44, 84 + y, st.lh, st.layout.width, 1, kBodyColour, kBodyColour);
    }
    menu_draw_cut(st.items[i], sx + 46, sy + 108 + y, st.layout.width, current ? 0 : k);
}

int8_t row_colour(const list_state& st, int i) {
    return (st.marks != nullptr && st.marks[i] == 1) ? kMarkedColour : kRowColour;
}

// Moves the highlight to the first item whose initial is the next keypad character of
// the digit; returns whether it moved.
bool jump_to_initial(list_state& st, int digit, int& last_digit, int& cycle) {
    const auto& row = keypad_slots[static_cast<size_t>(digit)];
    const int s = digit == last_digit ? cycle : 0;
    int target = -1;
    for (int t = 0; t < 5 && target < 0; ++t) {
        const int e = (s + t) % 5;
        cycle = (e + 1) % 5;
        const int32_t slot = row[static_cast<size_t>(e)];
        if (slot != -1 && first_with_initial[static_cast<size_t>(slot)] != 0) {
            target = first_with_initial[static_cast<size_t>(slot)] - 1;
        }
    }
    last_digit = digit;
    if (target < 0 || target == st.p) return false;
    st.p = target;
    return true;
}

void index_initials(const char* const* items, int count) {
    first_with_initial.fill(0);
    for (int i = 0; i < count; ++i) {
        const auto b = static_cast<unsigned char>(items[i][0]);
        int slot = -1;
        if (b >= 'a' && b <= 'z') {
            slot = b - 87;
        } else if (b >= 'A' && b <= 'Z') {
            slot = b - 55;
        } else if (b >= '0' && b <= '9') {
            slot = b - 48;
        }
        if (slot >= 0 && first_with_initial[static_cast<size_t>(slot)] == 0) {
            first_with_initial[static_cast<size_t>(slot)] = i + 1;
        }
    }
}

}  // namespace
