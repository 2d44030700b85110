// The framebuffer: the video mode, the mapping of its memory, the screen
// geometry, the back buffer and the two band positions a subtitle is copied to.
//
// Every write into the mapping or the back buffer is kept inside it, whatever the
// geometry: the band and the copy targets are byte offsets that the driver's
// figures, the settings file and the band moves can push anywhere.
#include "fb/screen.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/settings.h"
#include "fb/display.h"
#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/status.h"
#include "hw/device.h"
#include "menu/menus.h"
#include "sub/subtitles.h"

namespace {

// The mode the player draws in.
constexpr uint32_t kModeWidth = 720;
constexpr uint32_t kModeHeight = 576;
// Height of the status strip above the band, and of the inset at top and bottom.
constexpr int64_t kStatusRows = 32;
constexpr int32_t kInsetRows = 32;
// The bottom position leaves this many lines under four text lines.
constexpr int64_t kBottomMargin = 30;
// One band move, in lines.
constexpr int64_t kShiftRows = 5;

// The part of the back buffer a copy to a band target writes, and where: byte
// offsets into the back buffer and the mapping, already cut to both.
struct copy_extent {
    int64_t target;
    int64_t source;
    int64_t length;
};

// Framebuffer rows a paint can know to be all zero; rows past these are never known.
// The mode has 576 rows; a driver may map a few screens.
constexpr size_t kTrackedRows = 2048;

// Releases a mapping that fb_init has made but not yet handed over to fb_mem.
struct unmapper {
    size_t length;
    void operator()(void* address) const { hw_munmap(address, length); }
};

}  // namespace

int fb = -1;
fb_var_screeninfo fb_var{};
fb_fix_screeninfo fb_fix{};
uint32_t* fb_mem = nullptr;
uint32_t px_per_line = 0;
relaxed<int32_t> sx, sy, ex, ey;
int32_t sy0, ey0;
int32_t line_heights[8];
relaxed<int32_t> zoom{1};
relaxed<int32_t> band_start, band_size;
std::unique_ptr<uint32_t[]> bbuf;
int32_t bbuf_size;
relaxed<uint32_t*> bb_targets[2];
relaxed<int32_t> bottom_target_min, bottom_target_max;
relaxed<int32_t> bottom_shift, top_shift;
relaxed<int32_t> band_position;
relaxed<const subtitle*> painted_record{nullptr};
relaxed<uint8_t> subtitle_shown;
uint8_t inset_on;
std::mutex pixel_mutex;
std::recursive_mutex paint_mutex;

namespace {

// Rows of the mapping known to hold only zeros: a paint need not clear them again.
// A row is known once a clear covered it whole; any other write makes it unknown.
// Guarded by pixel_mutex, like the pixels.
std::array<uint64_t, kTrackedRows / 64> zero_rows{};
// Back-buffer rows [bb_used_from, bb_used_to) may hold pixels; all others are zero.
// The drawing primitives widen it (fb_bb_rows_drawn). Guarded by pixel_mutex.
int64_t bb_used_from = 0;
int64_t bb_used_to = 0;
// Something was written to the screen since the last blit. Set under pixel_mutex.
std::atomic<bool> screen_changed{false};
// Screen rows of the first language's picture and of the second language's; empty
// (from >= to) when none is on screen. Guarded by pixel_mutex, written under paint_mutex.
int64_t first_from = 0;
int64_t first_to = 0;
int64_t second_from = 0;
int64_t second_to = 0;

bool ensure_32_bits();

int64_t line_bytes();
int32_t saturate(int64_t v);
uint32_t* fb_address(int64_t offset);
int64_t fb_offset(const uint32_t* address);
int64_t unshifted_bottom();
int current_zoom();
void set_band();
void clear_fb_bytes(int64_t from, int64_t length);
copy_extent copy_extent_for(int position);
void mark_rows(int64_t from, int64_t to, bool zero);
int64_t next_row(int64_t from, int64_t to, bool zero);
void clear_band_outside_copy(int position);
void clear_rows_except(int64_t from, int64_t to, std::span<const std::array<int64_t, 2>> keep);
bool whole_rows();
void copy_whole_bb(int position);
void show_changes_locked();

}  // namespace

int fb_init() {
    app_read_settings();
    // A failed set-up lets the font engine go again, and the font file it holds open.
    struct font_on_failure {
        bool release_on_exit = true;
        ~font_on_failure() {
            if (release_on_exit) fb_font_deinit();
        }
    } font_guard;
    if (!fb_font_init()) return 0;

    if (hw_ioctl(fb, FBIOGET_FSCREENINFO, &fb_fix) == -1) {
        std::perror("fb_init: FBIOGET_FSCREENINFO");
        return 0;
    }
    if (hw_ioctl(fb, FBIOGET_VSCREENINFO, &fb_var) == -1) {
        std::perror("tresk.fb_init.chyba: FBIOGET_VSCREENINFO");
        return 0;
    }
    fb_display_remember(fb_var);
    if (fb_var.xres != kModeWidth) {
        fb_var.xres = kModeWidth;
        fb_var.yres = kModeHeight;
    }
    // Issued even when the mode is already right: it makes the driver apply it.
    if (hw_ioctl(fb, FBIOPUT_VSCREENINFO, &fb_var) == -1) {
        std::perror("tresk.fb_init.chyba: FBIOPUT_VSCREENINFO");
        return 0;
    }
    // From here on the box gets its own mode back, whichever way the player ends.
    fb_display_taken_over(fb);
    struct mode_on_failure {
        bool give_back = true;
        ~mode_on_failure() {
            if (give_back) fb_display_give_back(fb);
        }
    } mode;
    if (!ensure_32_bits()) return 0;
    fb_display_show_first_page(fb, fb_var);
    // Drivers derive line_length from the mode just set; a stride read before the
    // change would shear every line drawn.
    if (hw_ioctl(fb, FBIOGET_FSCREENINFO, &fb_fix) == -1) {
        std::perror("fb_init: FBIOGET_FSCREENINFO");
        return 0;
    }

    void* mapping = hw_mmap(nullptr, fb_fix.smem_len, PROT_READ | PROT_WRITE, MAP_SHARED, fb, 0);
    if (mapping == MAP_FAILED) {
        std::perror("fb_init: mmap!");
        return 0;
    }
    std::unique_ptr<void, unmapper> mapping_guard(mapping, unmapper{fb_fix.smem_len});

    int64_t l = line_bytes();
    px_per_line = fb_fix.line_length / 4;
    sy0 = sy;
    ey0 = ey;
    band_start = saturate(l * (sy + kStatusRows));
    band_size = saturate(l * ey - band_start);
    bbuf_size = saturate(std::max<int64_t>(0, 4 * l * line_heights[7]));

    // Zeroed, so that a copy to the screen before the first subtitle shows nothing.
    bbuf.reset(new (std::nothrow) uint32_t[static_cast<size_t>(bbuf_size) / 4]());
    if (!bbuf) {
        errno = ENOMEM;  // what failed, whatever the allocator left in errno
        std::perror("Nelze alokovat bbuf!");
        return 0;
    }
    fb_mem = static_cast<uint32_t*>(mapping_guard.release());

    fb_compute_band();
    {
        std::lock_guard paint_lock(paint_mutex);
        std::lock_guard lock(pixel_mutex);
        bb_used_from = bb_used_to = 0;
        std::memset(fb_mem, 0, fb_fix.smem_len);
        zero_rows.fill(~uint64_t{0});
        screen_changed = true;
        show_changes_locked();
    }
    fb_display_set_mapping(fb_mem, fb_fix.smem_len);
    mode.give_back = false;
    font_guard.release_on_exit = false;
    return 1;
}

void fb_deinit(int32_t resume_position) {
    const int32_t position =
        resume_position == kKeepResumePosition ? saved_settings.position : resume_position;
    fb_font_deinit();
    {
        std::lock_guard paint_lock(paint_mutex);
        if (fb_mem != nullptr) {
            hw_fb_before_clear(fb_mem, fb_fix.smem_len);
            {
                std::lock_guard lock(pixel_mutex);
                std::memset(fb_mem, 0, fb_fix.smem_len);
                screen_changed = true;
                show_changes_locked();
            }
            fb_display_give_back(fb);
            hw_munmap(fb_mem, fb_fix.smem_len);
            fb_mem = nullptr;
        }
        bbuf.reset();
    }
    fb_display_give_back(fb);
    app_save_settings(position);
}

void fb_compute_band() {
    int64_t step = kShiftRows * line_bytes();
    int64_t from = band_start;
    int64_t max = unshifted_bottom();
    bottom_target_max = saturate(max);
    bottom_target_min = band_start.load();
    bb_targets[1] = fb_address(from);
    bb_targets[0] = fb_address(max);

    // A shift is kept only while its target stays inside the band and it is a whole
    // number of 5-line steps: any other byte count would shear the copied picture.
    int64_t bottom = bottom_shift;
    if (bottom != 0) {
        if (bottom > 0 && step > 0 && bottom % step == 0 && from < max - bottom) {
            bb_targets[0] = fb_address(max - bottom);
        } else {
            bottom_shift = 0;
        }
    }
    int64_t top = top_shift;
    if (top != 0) {
        if (top > 0 && step > 0 && top % step == 0 && from + top < max) {
            bb_targets[1] = fb_address(from + top);
        } else {
            top_shift = 0;
        }
    }
}

void fb_clear_subtitle() {
    // Under the paint lock, so that a clear never lands between another paint's
    // clear and its copy.
    std::lock_guard paint_lock(paint_mutex);
    fb_clear_band();
    subtitle_shown = 0;
    second_on_band = 0;
    fb_show_changes();
}

void fb_clear_first() {
    std::lock_guard paint_lock(paint_mutex);
    if (second_on_band == 0 || !whole_rows()) {
        fb_clear_subtitle();
        return;
    }
    const int64_t l = line_bytes();
    {
        std::lock_guard lock(pixel_mutex);
        const std::array<std::array<int64_t, 2>, 1> keep{{{second_from, second_to}}};
        clear_rows_except(band_start / l, (int64_t{band_start} + band_size) / l, keep);
        first_from = first_to = 0;
    }
    subtitle_shown = 0;
    fb_show_changes();
}

band_rows fb_band_rows() {
    band_rows r;
    const int64_t l = line_bytes();
    if (l <= 0) return r;
    r.band_from = band_start / l;
    r.band_to = (int64_t{band_start} + band_size) / l;
    r.first_slot_end = unshifted_bottom() / l - int64_t{bottom_shift} / l +
                       4 * int64_t{line_heights[current_zoom()]};
    std::lock_guard lock(pixel_mutex);
    r.first_from = first_from;
    r.first_to = first_to;
    r.second_from = second_from;
    r.second_to = second_to;
    return r;
}

bool fb_show_second_rows(int64_t row, int64_t limit) {
    std::lock_guard paint(paint_mutex);
    if (fb_mem == nullptr || !bbuf || !whole_rows()) return false;
    const int64_t l = line_bytes();
    const int64_t rows = static_cast<int64_t>(fb_fix.smem_len) / l;
    const int64_t bb_rows = int64_t{bbuf_size} / l;
    std::lock_guard lock(pixel_mutex);
    int64_t t0 = std::max({row + bb_used_from, row, int64_t{0}});
    int64_t t1 = std::min({row + bb_used_to, limit, rows, row + bb_rows});
    if (t0 >= t1) t0 = t1 = row;
    // The old picture goes where neither the new one nor the first language's lies.
    const std::array<std::array<int64_t, 2>, 2> keep{{{t0, t1}, {first_from, first_to}}};
    clear_rows_except(second_from, second_to, keep);
    if (t0 < t1) {
        std::memcpy(reinterpret_cast<char*>(fb_mem) + t0 * l,
                    reinterpret_cast<const char*>(bbuf.get()) + (t0 - row) * l,
                    static_cast<size_t>((t1 - t0) * l));
        mark_rows(t0, t1, false);
    }
    second_from = t0;
    second_to = t1;
    second_on_band = 1;
    show_changes_locked();
    return true;
}

void fb_clear_second_rows() {
    std::lock_guard paint(paint_mutex);
    if (!whole_rows()) return;
    std::lock_guard lock(pixel_mutex);
    const std::array<std::array<int64_t, 2>, 1> keep{{{first_from, first_to}}};
    clear_rows_except(second_from, second_to, keep);
    second_from = second_to = 0;
}

bool fb_restore_band(uint32_t time_ms, uint32_t& end_ms) {
    std::lock_guard paint_lock(paint_mutex);
    const subtitle* record = painted_record;
    if (record != nullptr && record->start_ms <= time_ms && time_ms <= record->end_ms) {
        if (painted_second.load() != nullptr) {
            // The back buffer may hold the second language's picture: compose anew.
            subtitle_shown = 1;
            fb_repaint_subtitle();
        } else {
            fb_show_back_buffer(band_position);
        }
        end_ms = record->end_ms;
        return true;
    }
    fb_clear_subtitle();
    return false;
}

void fb_show_back_buffer(int position) {
    std::lock_guard paint_lock(paint_mutex);
    // The back buffer stands for painted_record; with none (nothing painted yet, or the
    // subtitles it came from are gone) there is nothing to put back.
    if (painted_record.load() == nullptr || fb_mem == nullptr || !bbuf) return;
    copy_whole_bb(position);
    subtitle_shown = 1;
    fb_show_changes();
}

// The screen must end up exactly as after clearing the band and copying the whole
// back buffer, but framebuffer memory is slow: rows known to be zero that would
// receive zeros are left alone, and only the back-buffer rows that hold pixels are
// copied, in one block.
void fb_paint_back_buffer(int position) {
    std::lock_guard paint(paint_mutex);
    if (painted_record.load() == nullptr || fb_mem == nullptr || !bbuf) return;
    const int64_t l = line_bytes();
    const copy_extent k = copy_extent_for(position);
    const int64_t band_from = band_start;
    const int64_t band_length = band_size;
    // Odd geometry (figures that are not whole rows) takes the plain way.
    if (l <= 0 || l % 4 != 0 || k.length <= 0 || k.target % l != 0 || k.source % l != 0 ||
        k.length % l != 0 || band_from % l != 0 || band_length % l != 0 ||
        fb_fix.smem_len % l != 0) {
        clear_band_outside_copy(position);
        copy_whole_bb(position);
        subtitle_shown = 1;
        // Odd geometry has no rows of its own for the second language.
        second_on_band = 0;
        fb_show_changes();
        return;
    }
    const int64_t rows = static_cast<int64_t>(fb_fix.smem_len) / l;
    const int64_t b0 = std::max<int64_t>(band_from / l, 0);
    const int64_t b1 = std::min<int64_t>((band_from + band_length) / l, rows);
    const int64_t c0 = k.target / l;
    const int64_t c1 = c0 + k.length / l;

    char* mem = reinterpret_cast<char*>(fb_mem);
    std::lock_guard lock(pixel_mutex);
    // Screen row of back-buffer row 0, and the screen rows that receive pixels.
    const int64_t shift = c0 - k.source / l;
    int64_t t0 = std::max(c0, bb_used_from + shift);
    int64_t t1 = std::min(c1, bb_used_to + shift);
    if (t0 >= t1) t0 = t1 = c0;
    // The band and the copy target: the rows a full clear and copy would write.
    const std::array<std::array<int64_t, 2>, 2> windows{{{b0, b1}, {c0, c1}}};
    // Rows of a window outside [t0, t1) that are not known to be zero are cleared,
    // in runs; rows the two windows share are cleared once. The second language's
    // picture stays where the new one does not cover it.
    if (second_on_band == 0) second_from = second_to = 0;
    const std::array<std::array<int64_t, 2>, 2> keep{{{t0, t1}, {second_from, second_to}}};
    for (const auto& [w0, w1] : windows) clear_rows_except(w0, w1, keep);
    first_from = t0;
    first_to = t1;
    if (t0 < t1) {
        std::memcpy(mem + t0 * l, reinterpret_cast<const char*>(bbuf.get()) + (t0 - shift) * l,
                    static_cast<size_t>((t1 - t0) * l));
        mark_rows(t0, t1, false);
    }
    subtitle_shown = 1;
    // One blit for the whole paint, after its last pixel.
    show_changes_locked();
}

void fb_screen_rows_drawn(int64_t from, int64_t to) {
    mark_rows(from, to, false);
}

void fb_show_changes() {
    if (!screen_changed.load()) return;
    std::lock_guard lock(pixel_mutex);
    show_changes_locked();
}

void fb_bb_rows_drawn(int64_t from, int64_t to) {
    if (from >= to) return;
    if (bb_used_from >= bb_used_to) {
        bb_used_from = from;
        bb_used_to = to;
        return;
    }
    bb_used_from = std::min(bb_used_from, from);
    bb_used_to = std::max(bb_used_to, to);
}

void fb_forget_screen_rows() {
    std::lock_guard paint(paint_mutex);
    std::lock_guard lock(pixel_mutex);
    bb_used_from = 0;
    bb_used_to = px_per_line > 0 ? int64_t{bbuf_size} / 4 / px_per_line + 1 : 0;
    zero_rows.fill(0);
}

void fb_put_back_subtitle() {
    // The position is read under the paint lock too: a paint of the other thread
    // between the read and the copy moves the subtitle, and the copy would put its
    // back buffer at the old position, over or beside the subtitle just painted.
    std::lock_guard paint_lock(paint_mutex);
    fb_show_back_buffer(band_position);
}

// The move and its repaint are one step under the paint lock, like every change
// of the band geometry, so that no paint uses a half-changed geometry.
void fb_shift_band(int direction) {
    if (painting != 0) return;
    std::lock_guard paint_lock(paint_mutex);
    int64_t d = kShiftRows * direction * line_bytes();
    int64_t max = bottom_target_max;
    int64_t min = bottom_target_min;
    if (band_position == 0) {
        int64_t n = bottom_shift - d;
        if (n < 0) return;
        int64_t t = unshifted_bottom() - n;
        if (t > max && direction >= 0) return;
        if (t < min && direction < 0) return;
        // A target on the band's first line would be dropped by the recompute and
        // throw the subtitle back to the bottom: refuse that step instead.
        if (n > 0 && t <= band_start) return;
        bottom_shift = saturate(n);
    } else {
        int64_t n = top_shift + d;
        if (n < 0) return;
        int64_t t = band_start + n;
        if (t > max && direction >= 0) return;
        if (t < min && direction < 0) return;
        // Likewise a top target on the bottom position.
        if (n > 0 && t >= max) return;
        top_shift = saturate(n);
    }
    fb_compute_band();
    fb_repaint_subtitle();
}

void fb_toggle_inset() {
    if (painting != 0) return;
    std::lock_guard paint_lock(paint_mutex);
    inset_on = static_cast<uint8_t>((inset_on + 1) & 1);
    if (status_countdown >= 0) fb_clear_status();
    if (help_countdown >= 0) {
        fb_clear_subtitle();
    } else if (subtitle_shown != 0) {
        // The repaint clears only the new band; the picture at the old place,
        // partly outside it, must go too.
        fb_clear_band();
    }
    if (inset_on == 1) {
        sy = sy0 + kInsetRows;
        ey = ey0 - kInsetRows;
    } else {
        sy = sy0;
        ey = ey0;
    }
    set_band();
    fb_compute_band();
    fb_repaint_subtitle();
}

std::span<uint32_t> fb_pixels(uint8_t target) {
    if (target == 0) {
        if (fb_mem == nullptr) return {};
        return {fb_mem, fb_fix.smem_len / 4};
    }
    if (!bbuf) return {};
    return {bbuf.get(), static_cast<size_t>(std::max<int32_t>(bbuf_size, 0)) / 4};
}

void fb_clear_band() {
    clear_fb_bytes(band_start, band_size);
    std::lock_guard lock(pixel_mutex);
    first_from = first_to = second_from = second_to = 0;
}

void fb_clear_back_buffer() {
    std::span<uint32_t> b = fb_pixels(1);
    const int64_t row = px_per_line;
    if (row <= 0) return;
    std::lock_guard lock(pixel_mutex);
    const int64_t from = std::clamp<int64_t>(bb_used_from * row, 0, std::ssize(b));
    const int64_t to = std::clamp<int64_t>(bb_used_to * row, from, std::ssize(b));
    std::fill(b.begin() + from, b.begin() + to, 0u);
    bb_used_from = bb_used_to = 0;
}

namespace {

// Every pixel is written as a 32-bit word: in a mode of another depth that would
// show nothing, or garbage, and run past the lines the driver laid out. A driver
// left at another depth is asked for 32 bits; one that will not switch ends the
// start-up like any other display failure, before anything is mapped.
bool ensure_32_bits() {
    constexpr uint32_t kBits = 32;
    if (fb_var.bits_per_pixel == kBits) return true;
    const uint32_t found = fb_var.bits_per_pixel;
    // Names the depth the driver stays at, so that a box owner knows what it runs.
    char refused[96];
    auto say_refused = [&](uint32_t offered) {
        std::snprintf(refused, sizeof refused,
                      "fb_init: %u bits per pixel, 32 refused (driver offers %u bpp)", found,
                      offered);
    };
    fb_var_screeninfo want = fb_var;
    want.bits_per_pixel = kBits;
    if (hw_ioctl(fb, FBIOPUT_VSCREENINFO, &want) == -1) {
        const int err = errno;
        say_refused(found);
        errno = err;
        std::perror(refused);
        return false;
    }
    // A driver may also take the request and stay where it was.
    if (hw_ioctl(fb, FBIOGET_VSCREENINFO, &fb_var) == -1) {
        std::perror("tresk.fb_init.chyba: FBIOGET_VSCREENINFO");
        return false;
    }
    if (fb_var.bits_per_pixel == kBits) return true;
    say_refused(fb_var.bits_per_pixel);
    std::printf("%s\n", refused);
    return false;
}

int64_t line_bytes() {
    return fb_fix.line_length;
}

// The geometry words are 32 bits wide; figures beyond them (only from absurd
// driver values) saturate instead of wrapping.
int32_t saturate(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// Band targets may point outside the mapping; they are kept as addresses (other
// code compares them with fb_mem) but computed in integers, never dereferenced
// without the range test of fb_show_back_buffer.
uint32_t* fb_address(int64_t offset) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<uintptr_t>(fb_mem) +
                                       static_cast<uintptr_t>(offset));
}

// Through intptr_t, so that an address below the mapping gives a negative offset on a
// 32-bit box too.
int64_t fb_offset(const uint32_t* address) {
    return static_cast<int64_t>(static_cast<intptr_t>(reinterpret_cast<uintptr_t>(address) -
                                                      reinterpret_cast<uintptr_t>(fb_mem)));
}

// Byte offset of the bottom position without shift: four text lines of the current
// zoom ending 30 lines above ey.
int64_t unshifted_bottom() {
    return line_bytes() * (ey - 4 * int64_t{line_heights[current_zoom()]} - kBottomMargin);
}

int current_zoom() {
    return std::clamp<int32_t>(zoom, 0, 7);
}

void set_band() {
    int64_t l = line_bytes();
    band_start = saturate(l * (sy + kStatusRows));
    band_size = saturate(l * ey - band_start);
}

// At the bottom position with a small zoom the copy reaches past the band, and a
// target can lie anywhere the geometry puts it: the copy is cut to the mapping.
copy_extent copy_extent_for(int position) {
    copy_extent k{fb_offset(bb_targets[position != 0 ? 1 : 0]), 0, bbuf ? int64_t{bbuf_size} : 0};
    if (fb_mem == nullptr) return {0, 0, 0};
    if (k.target < 0) {
        k.source = -k.target;
        k.length += k.target;
        k.target = 0;
    }
    k.length = std::min<int64_t>(k.length, static_cast<int64_t>(fb_fix.smem_len) - k.target);
    if (k.length < 0) k.length = 0;
    return k;
}

void clear_fb_bytes(int64_t from, int64_t length) {
    std::span<uint32_t> fb_words = fb_pixels(0);
    int64_t end = std::min<int64_t>(from + length, static_cast<int64_t>(fb_words.size_bytes()));
    from = std::max<int64_t>(from, 0);
    if (from >= end) return;
    std::lock_guard lock(pixel_mutex);
    std::memset(reinterpret_cast<char*>(fb_words.data()) + from, 0,
                static_cast<size_t>(end - from));
    const int64_t l = line_bytes();
    if (l > 0) mark_rows((from + l - 1) / l, end / l, true);
}

// Whole words at a time: a paint marks and looks up hundreds of rows. Every write
// to the screen marks its rows, so this is also where the screen is noted changed.
void mark_rows(int64_t from, int64_t to, bool zero) {
    screen_changed = true;
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, static_cast<int64_t>(kTrackedRows));
    while (from < to) {
        const int64_t word_end = std::min<int64_t>(to, (from | 63) + 1);
        const int count = static_cast<int>(word_end - from);
        const uint64_t bits = (count == 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1)
                              << (from & 63);
        uint64_t& word = zero_rows[static_cast<size_t>(from >> 6)];
        word = zero ? word | bits : word & ~bits;
        from = word_end;
    }
}

// The first row of [from, to) that is known to be zero (zero) or not known to be
// (!zero); to when there is none. Rows past the tracked ones are never known.
int64_t next_row(int64_t from, int64_t to, bool zero) {
    from = std::max<int64_t>(from, 0);
    const int64_t tracked_to = std::min<int64_t>(to, static_cast<int64_t>(kTrackedRows));
    while (from < tracked_to) {
        const uint64_t word = zero_rows[static_cast<size_t>(from >> 6)];
        const uint64_t wanted = (zero ? word : ~word) >> (from & 63);
        if (wanted != 0) return std::min(to, from + std::countr_zero(wanted));
        from = (from | 63) + 1;
    }
    return zero || from >= to ? to : from;
}

// Clears the rows of [from, to) that lie in no interval of keep and are not known to
// be zero, in runs, and notes them zero. The caller holds pixel_mutex.
void clear_rows_except(int64_t from, int64_t to, std::span<const std::array<int64_t, 2>> keep) {
    const int64_t l = line_bytes();
    if (fb_mem == nullptr || l <= 0) return;
    char* mem = reinterpret_cast<char*>(fb_mem);
    const int64_t rows = static_cast<int64_t>(fb_fix.smem_len) / l;
    from = std::max<int64_t>(from, 0);
    to = std::min(to, rows);
    while (from < to) {
        int64_t end = to;
        bool kept = false;
        for (const auto& [k0, k1] : keep) {
            if (k0 >= k1) continue;
            if (k0 <= from && from < k1) {
                from = k1;
                kept = true;
                break;
            }
            if (k0 > from) end = std::min(end, k0);
        }
        if (kept) continue;
        for (int64_t r = next_row(from, end, false); r < end;) {
            const int64_t run_end = next_row(r, end, true);
            std::memset(mem + r * l, 0, static_cast<size_t>((run_end - r) * l));
            mark_rows(r, run_end, true);
            r = next_row(run_end, end, false);
        }
        mark_rows(from, end, true);
        from = end;
    }
}

// Whether the band and the copies are whole screen rows, as the row-wise paints need.
bool whole_rows() {
    const int64_t l = line_bytes();
    return l > 0 && l % 4 == 0 && band_start % l == 0 && band_size % l == 0 &&
           fb_fix.smem_len % l == 0 && bbuf_size % l == 0;
}

// The band on screen, except the bytes that a copy of the back buffer to
// bb_targets[position] overwrites anyway.
void clear_band_outside_copy(int position) {
    copy_extent k = copy_extent_for(position);
    int64_t from = band_start;
    int64_t end = from + band_size;
    if (k.length <= 0) {
        clear_fb_bytes(from, end - from);
        return;
    }
    clear_fb_bytes(from, std::min(end, k.target) - from);
    int64_t after = std::max(from, k.target + k.length);
    clear_fb_bytes(after, end - after);
}

// The whole back buffer to bb_targets[position], cut to the mapping. The rows it writes
// are no longer known to be zero.
void copy_whole_bb(int position) {
    copy_extent k = copy_extent_for(position);
    if (k.length <= 0) return;
    std::lock_guard lock(pixel_mutex);
    std::memcpy(reinterpret_cast<char*>(fb_mem) + k.target,
                reinterpret_cast<const char*>(bbuf.get()) + k.source,
                static_cast<size_t>(k.length));
    const int64_t l = line_bytes();
    if (l > 0) mark_rows(k.target / l, (k.target + k.length + l - 1) / l, false);
}

// The caller holds pixel_mutex: no pixel is written while the driver copies them.
void show_changes_locked() {
    if (!screen_changed.exchange(false) || fb < 0) return;
    fb_display_blit(fb);
}

}  // namespace
