// The subtitle painter and the three subtitle styles.
//
// A paint clears the back buffer, composes the lines into it and puts it on the
// band, writing only the screen rows that change. A line too wide for the band at
// the current text size goes on in the next screen line, so that a viewer who turns
// the size up still reads the whole sentence. Both threads paint (the subtitle
// thread in time, the main thread after a style change), so the whole paint runs
// under paint_mutex: the two can never mix their clears, lines and copies.
#include "fb/painter.h"

#include <algorithm>
#include <mutex>

#include "fb/glyph.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "fb/text.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

constexpr int32_t kAtTop = 0x100;
constexpr int32_t kEndOfPart = 0x200;
constexpr int32_t kLineSlots = 4;
constexpr const char* kEndOfPartMessage = "Volgende deel ondertitels. Ga verder \x0e\x0f";

}  // namespace

const std::array<std::array<int32_t, 4>, 4> colour_schemes{{
    {3, 7, 6, 2},
    {7, 3, 6, 2},
    {6, 2, 7, 3},
    {2, 6, 3, 7},
}};
relaxed<int32_t> colour_scheme{0};
relaxed<int32_t> background_level{1};

namespace {

bool paint(const subtitle* record);
void end_part();

}  // namespace

void fb_paint_subtitle(const subtitle* record) {
    if (record == nullptr) return;
    std::lock_guard paint_lock(paint_mutex);
    if (paint(record)) end_part();
}

void fb_next_colour_scheme() {
    colour_scheme = (colour_scheme + 1) & 3;
    if (painting == 0) fb_repaint_subtitle();
}

// Each change and its repaint happen under the paint lock as one step, so that
// no paint of the other thread sees the state half changed.
void fb_next_background() {
    if (painting != 0) return;
    std::lock_guard paint_lock(paint_mutex);
    background_level = (background_level + 1) % 3;
    fb_repaint_subtitle();
}

void fb_next_zoom() {
    if (painting != 0) return;
    std::lock_guard paint_lock(paint_mutex);
    zoom = (zoom + 1) % 8;
    fb_font_set_zoom();
    fb_compute_band();
    fb_show_icons();
    fb_repaint_subtitle();
}

// A repaint only redraws: the end of a part was announced when the subtitle was
// first shown, and a restyle must not stop a clock the viewer has started since.
void fb_repaint_subtitle() {
    std::lock_guard paint_lock(paint_mutex);
    const subtitle* record = painted_record;
    if (subtitle_shown != 0 && record != nullptr) paint(record);
}

namespace {

// The paint itself, under paint_mutex; returns whether the record ends a part.
bool paint(const subtitle* record) {
    subtitle_shown = 1;
    painted_record = record;
    int32_t flags = record->flags;
    band_position = (flags & kAtTop) != 0 ? 1 : 0;
    // The band is cleared by the copy at the end: the old subtitle stays up while
    // the new one is composed.
    fb_clear_back_buffer();

    const std::array<int32_t, 4>& schema = colour_schemes[static_cast<size_t>(colour_scheme & 3)];

    size_t z = static_cast<size_t>(std::clamp<int32_t>(zoom, 0, 7));
    int32_t font_height = font_sizes[z][0];
    int32_t row = line_heights[z];
    int32_t rows = std::clamp<int32_t>(record->line_count, 0, kLineSlots);
    int32_t x = sx + 1;
    int32_t width = ex - sx - 2;

    // The record's lines as screen lines: a line wider than the field at this size is
    // broken, but never into more than the four lines the band holds. Each line keeps
    // one screen line for every line after it, so no line is lost for an earlier one.
    std::array<text_piece, kLineSlots> line_pieces;
    std::array<int32_t, kLineSlots> piece_line{};
    std::array<const char*, kLineSlots> line_texts{};
    size_t used_slots = 0;
    for (int32_t i = 0; i < rows; ++i) {
        line_texts[static_cast<size_t>(i)] = record->lines[i] ? record->lines[i].get() : "";
        const size_t free_slots =
            size_t{kLineSlots} - used_slots - static_cast<size_t>(rows - 1 - i);
        const size_t k = fb_split_line(line_texts[static_cast<size_t>(i)], 1, x, width,
                                       std::span(line_pieces).subspan(used_slots, free_slots));
        std::fill_n(piece_line.begin() + static_cast<std::ptrdiff_t>(used_slots), k, i);
        used_slots += k;
    }

    // At the bottom position the last line always sits in the fourth slot.
    int32_t y = font_height;
    if ((flags & kAtTop) == 0) y += (kLineSlots - static_cast<int32_t>(used_slots)) * row;
    text_colours line_colours{};
    for (size_t j = 0; j < used_slots; ++j) {
        const int32_t i = piece_line[j];
        // The pieces of one line go on in the colour state the piece before left.
        if (j == 0 || piece_line[j - 1] != i) {
            const auto colour =
                static_cast<int8_t>(schema[static_cast<size_t>((flags >> (2 * i)) & 3)]);
            line_colours = {colour, colour};
        }
        fb_draw_piece(line_texts[static_cast<size_t>(i)], line_pieces[j], 1, x, y, 1, width,
                      line_colours);
        y += row;
    }

    fb_paint_back_buffer(band_position);
    return (flags & kEndOfPart) != 0;
}

void end_part() {
    tmr_stop();
    fb_show_status(kEndOfPartMessage);
}

}  // namespace
