// Filled rectangles, framed boxes and the two palettes.
//
// Both primitives clip to the target buffer before they write: columns to the
// line (px_per_line pixels, so a fill past the right end never wraps into the next
// line), rows to the whole lines the buffer holds. Callers such as the widest
// error boxes reach past the end of a line; the arithmetic must never carry them
// outside the mapping or the back buffer.
#include "fb/primitives.h"

#include <algorithm>
#include <mutex>
#include <span>

#include "fb/screen.h"
#include "fb/status.h"

namespace {

constexpr int kColours = 12;

}  // namespace

const std::array<std::array<uint32_t, 12>, 2> palettes{{
    {0xff000000, 0xffa80000, 0xff00a800, 0xffa8a800, 0xff0000a8, 0xffa800a8, 0xff00a8a8, 0xffa8a8a8,
     0x00000000, 0xff002040, 0x30001020, 0xb0666666},
    {0xff000000, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff,
     0x00000000, 0xff002040, 0x30001020, 0xb0222222},
}};
relaxed<const uint32_t*> palette{palettes[0].data()};
relaxed<int8_t> palette_index{0};

namespace {

void fill_rect(uint8_t target, int64_t x, int64_t y, int64_t width, int64_t height, int colour);
bool valid_colour(int colour);

}  // namespace

void fb_fill(uint8_t target, int x, int y, int width, int height, int colour) {
    fill_rect(target, x, y, width, height, colour);
}

void fb_box(int x, int y, int height, int width, int style, int8_t fill_colour,
            int8_t frame_colour) {
    int64_t bx = int64_t{sx} + x;
    int64_t by = int64_t{sy} + y;
    int64_t w = width;
    int64_t h = height;
    bool frame_valid = valid_colour(frame_colour);
    uint32_t f = frame_valid ? palette.load()[frame_colour] : 0;
    int bar_colour = style == 1 ? fill_colour : frame_colour;

    fill_rect(0, bx, by, w, 2, bar_colour);
    if (style != 2) fill_rect(0, bx + 2, by + 2, w - 4, h - 4, fill_colour);

    // The sides start on the top row, over the top bar, and stop two rows above
    // the bottom edge; the rightmost column belongs to the bars only.
    if (h - 4 > 0 && frame_valid) {
        std::span<uint32_t> px = fb_pixels(0);
        int64_t row = px_per_line;
        if (row > 0) {
            int64_t rows = static_cast<int64_t>(px.size()) / row;
            int64_t r0 = std::max<int64_t>(by, 0);
            int64_t r1 = std::min<int64_t>(by + h - 5, rows - 1);
            const int64_t columns[4] = {bx, bx + 1, bx + w - 2, bx + w - 1};
            std::lock_guard lock(pixel_mutex);
            fb_screen_rows_drawn(r0, r1 + 1);
            for (int64_t r = r0; r <= r1; ++r) {
                for (int64_t s : columns) {
                    if (s >= 0 && s < row) px[static_cast<size_t>(r * row + s)] = f;
                }
            }
        }
    }

    fill_rect(0, bx, by + h - 4, w, 2, bar_colour);
}

void fb_next_palette() {
    palette_index = static_cast<int8_t>((palette_index + 1) & 1);
    palette = palettes[static_cast<size_t>(palette_index.load())].data();
    fb_show_icons();
}

namespace {

// Columns x..x+width inclusive, rows y..y+height-1, in 64 bits so that no argument
// can overflow on its way to the clip.
void fill_rect(uint8_t target, int64_t x, int64_t y, int64_t width, int64_t height, int colour) {
    if (width <= 0 || height <= 0 || !valid_colour(colour)) return;
    uint32_t p = palette.load()[colour];
    std::span<uint32_t> px = fb_pixels(target);
    int64_t row = px_per_line;
    if (row <= 0) return;
    int64_t rows = static_cast<int64_t>(px.size()) / row;
    int64_t x0 = std::max<int64_t>(x, 0);
    int64_t x1 = std::min<int64_t>(x + width, row - 1);
    int64_t y0 = std::max<int64_t>(y, 0);
    int64_t y1 = std::min<int64_t>(y + height - 1, rows - 1);
    if (x0 > x1 || y0 > y1) return;
    std::lock_guard lock(pixel_mutex);
    if (target == 0) {
        fb_screen_rows_drawn(y0, y1 + 1);
    } else {
        fb_bb_rows_drawn(y0, y1 + 1);
    }
    for (int64_t r = y0; r <= y1; ++r) {
        std::fill_n(px.begin() + r * row + x0, x1 - x0 + 1, p);
    }
}

// The palette has 12 entries; an index outside them draws nothing rather than
// reading past the table.
bool valid_colour(int colour) {
    return colour >= 0 && colour < kColours;
}

}  // namespace
