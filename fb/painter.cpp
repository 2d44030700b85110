// The subtitle painter and the three subtitle styles.
//
// A paint clears the back buffer, composes the lines into it and puts it on the
// band, writing only the screen rows that change. A line too wide for the band at
// the current text size goes on in the next screen line, so that a viewer who turns
// the size up still reads the whole sentence. Both threads paint (the subtitle
// thread in time, the main thread after a style change), so the whole paint runs
// under paint_mutex: the two can never mix their clears, lines and copies.
//
// The second language is composed in the same back buffer, one zoom level smaller and
// in the scheme's next colour, and copied to rows of its own that the first
// language's picture never shares (fb_second_place); each language's paint writes
// only its own rows, so either changing leaves the other's pixels alone. The back
// buffer then holds whichever was composed last: a repaint composes anew.
#include "fb/painter.h"

#include <algorithm>
#include <mutex>

#include "fb/glyph.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "fb/text.h"
#include "sub/subtitles.h"

namespace {

constexpr int32_t kAtTop = 0x100;
constexpr int32_t kEndOfPart = 0x200;
constexpr int32_t kLineSlots = 4;

}  // namespace

const std::array<std::array<int32_t, 4>, 4> colour_schemes{{
    {3, 7, 6, 2},
    {7, 3, 6, 2},
    {6, 2, 7, 3},
    {2, 6, 3, 7},
}};
relaxed<int32_t> colour_scheme{0};
relaxed<int32_t> background_level{1};
relaxed<int32_t> painting{0};
relaxed<int32_t> second_above{0};
relaxed<const subtitle*> painted_second{nullptr};
relaxed<uint8_t> second_on_band{0};

namespace {

// The second language's picture on the band: where, and how many lines its record
// wanted before any were left out for want of room. Guarded by paint_mutex.
second_place second_now;
int32_t second_wanted = 0;

// A record's lines as screen lines at the current back-buffer zoom.
struct split_lines {
    std::array<text_piece, kLineSlots> pieces;
    std::array<int32_t, kLineSlots> line{};
    std::array<const char*, kLineSlots> texts{};
    size_t used = 0;
};

bool paint(const subtitle* record);
split_lines split_record(const subtitle* record, int32_t x, int32_t width, size_t slots);
void paint_second(const subtitle* record);
void follow_first();

}  // namespace

bool fb_paint_subtitle(const subtitle* record) {
    if (record == nullptr) return false;
    std::lock_guard paint_lock(paint_mutex);
    const bool end_of_part = paint(record);
    follow_first();
    return end_of_part;
}

void fb_paint_second(const subtitle* record) {
    if (record == nullptr) return;
    std::lock_guard paint_lock(paint_mutex);
    paint_second(record);
}

void fb_clear_second() {
    std::lock_guard paint_lock(paint_mutex);
    fb_clear_second_rows();
    second_on_band = 0;
    second_now = {};
    fb_show_changes();
}

void fb_toggle_second_place() {
    if (painting != 0) return;
    std::lock_guard paint_lock(paint_mutex);
    second_above = second_above != 0 ? 0 : 1;
    const subtitle* second = painted_second;
    if (second != nullptr && second_on_band != 0) paint_second(second);
}

int32_t fb_second_colour(int32_t scheme, int32_t selector) {
    return colour_schemes[static_cast<size_t>(scheme & 3)][static_cast<size_t>((selector & 3) ^ 1)];
}

// The sizes of the zoom levels are not in order (level 0 is larger than level 1): the
// step below is the level of the next smaller font, and the smallest has none below.
int32_t fb_second_zoom(int32_t first_zoom) {
    const size_t first = static_cast<size_t>(std::clamp<int32_t>(first_zoom, 0, 7));
    int32_t best = -1;
    int32_t smallest = 0;
    for (size_t z = 0; z < font_sizes.size(); ++z) {
        const int32_t h = font_sizes[z][0];
        if (h < font_sizes[static_cast<size_t>(smallest)][0]) smallest = static_cast<int32_t>(z);
        if (h < font_sizes[first][0] &&
            (best < 0 || h > font_sizes[static_cast<size_t>(best)][0])) {
            best = static_cast<int32_t>(z);
        }
    }
    return best >= 0 ? best : smallest;
}

second_place fb_second_place(const second_area& a) {
    const bool first = a.first_from < a.first_to;
    const int64_t h = std::max<int32_t>(a.line_height, 1);
    // A place is good when it lies in the band and kSecondGap rows off the first language.
    auto fits = [&](int64_t from, int64_t height) {
        if (from < a.band_from || from + height > a.band_to) return false;
        return !first || from + height + kSecondGap <= a.first_from ||
               from >= a.first_to + kSecondGap;
    };
    for (int32_t n = std::min(a.lines, kLineSlots); n > 0; --n) {
        const int64_t height = n * h;
        const int64_t over = first ? a.first_from - kSecondGap - height : a.first_slot_end - height;
        const int64_t under = a.first_to + kSecondGap;
        const std::array<int64_t, 3> tries =
            a.above ? std::array{over, first ? under : a.band_from, a.band_from}
                    : std::array{a.band_from, first ? under : a.band_from, over};
        for (int64_t from : tries) {
            if (fits(from, height)) return {from, n};
        }
    }
    return {a.band_from, 0};
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

// A repaint only redraws: the end of a part was dealt with when the subtitle was
// first shown, and a restyle must not stop a clock the viewer has started since.
void fb_repaint_subtitle() {
    std::lock_guard paint_lock(paint_mutex);
    const subtitle* record = painted_record;
    if (subtitle_shown != 0 && record != nullptr) paint(record);
    const subtitle* second = painted_second;
    if (second != nullptr && second_on_band != 0) paint_second(second);
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
    int32_t x = sx + 1;
    int32_t width = ex - sx - 2;

    const split_lines split = split_record(record, x, width, kLineSlots);
    const auto& line_pieces = split.pieces;
    const auto& piece_line = split.line;
    const auto& line_texts = split.texts;
    const size_t used_slots = split.used;

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

// The record's lines as screen lines: a line wider than the field at this size is
// broken, but never into more than `slots` lines. Each line keeps one screen line for
// every line after it, so no line is lost for an earlier one; lines past the slots go.
split_lines split_record(const subtitle* record, int32_t x, int32_t width, size_t slots) {
    split_lines s;
    const int32_t rows = std::min(std::clamp<int32_t>(record->line_count, 0, kLineSlots),
                                  static_cast<int32_t>(slots));
    for (int32_t i = 0; i < rows; ++i) {
        s.texts[static_cast<size_t>(i)] = record->lines[i] ? record->lines[i].get() : "";
        const size_t free_slots = slots - s.used - static_cast<size_t>(rows - 1 - i);
        const size_t k = fb_split_line(s.texts[static_cast<size_t>(i)], 1, x, width,
                                       std::span(s.pieces).subspan(s.used, free_slots));
        std::fill_n(s.line.begin() + static_cast<std::ptrdiff_t>(s.used), k, i);
        s.used += k;
    }
    return s;
}

// The second language's paint, under paint_mutex: composed at its own zoom in the
// scheme's next colours, top-aligned, and shown at its place beside the first.
void paint_second(const subtitle* record) {
    painted_second = record;
    const int32_t first_zoom = std::clamp<int32_t>(zoom, 0, 7);
    const int32_t z = fb_second_zoom(first_zoom);
    const int32_t row = line_heights[z];
    const int32_t x = sx + 1;
    const int32_t width = ex - sx - 2;
    fb_font_use_zoom(z);
    split_lines split = split_record(record, x, width, kLineSlots);
    const band_rows r = fb_band_rows();
    second_wanted = static_cast<int32_t>(split.used);
    const second_place place =
        fb_second_place({r.band_from, r.band_to, r.first_from, r.first_to, r.first_slot_end, row,
                         second_wanted, second_above != 0});
    if (static_cast<size_t>(place.lines) < split.used) {
        split = split_record(record, x, width, static_cast<size_t>(place.lines));
    }
    fb_clear_back_buffer();
    const int32_t scheme = colour_scheme & 3;
    int32_t y = font_sizes[static_cast<size_t>(z)][0];
    text_colours colours{};
    for (size_t j = 0; j < split.used; ++j) {
        const int32_t i = split.line[j];
        if (j == 0 || split.line[j - 1] != i) {
            const auto colour =
                static_cast<int8_t>(fb_second_colour(scheme, (record->flags >> (2 * i)) & 3));
            colours = {colour, colour};
        }
        fb_draw_piece(split.texts[static_cast<size_t>(i)], split.pieces[j], 1, x, y, 1, width,
                      colours);
        y += row;
    }
    fb_font_use_zoom(first_zoom);
    second_now = place;
    if (!fb_show_second_rows(place.from, place.from + int64_t{place.lines} * row)) {
        second_now = {};
    }
}

// After the first language's picture changed: the second moves when its place has.
void follow_first() {
    const subtitle* second = painted_second;
    if (second == nullptr || second_on_band == 0) return;
    const band_rows r = fb_band_rows();
    const int32_t z = fb_second_zoom(std::clamp<int32_t>(zoom, 0, 7));
    const second_place place =
        fb_second_place({r.band_from, r.band_to, r.first_from, r.first_to, r.first_slot_end,
                         line_heights[z], second_wanted, second_above != 0});
    if (place != second_now) paint_second(second);
}

}  // namespace
