// The font engine: the one TrueType font through FreeType's cache manager and
// small-bitmap cache, the line height of every zoom level, and the drawing of
// one character as a 1-bit bitmap into the screen or the back buffer.
//
// Threads: set up and torn down by the main thread (fb_init, fb_deinit); both
// threads draw. Every FreeType call after set-up and every pixel write runs
// under pixel_mutex (fb/screen.h), one character at a time.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CACHE_H
#include FT_MODULE_H

#include <array>
#include <cstdint>
#include <span>

#include "app/relaxed.h"

// Face id record: the font path, then the face index. Its address is the FTC_FaceID.
struct ft_face_id {
    const char* path;
    int32_t index;
};

// A glyph bitmap as the small-bitmap cache delivers it: rows top to bottom, pitch
// bytes apart; format is an FT_Pixel_Mode (1 bit per pixel is the usual one).
struct fb_bitmap {
    const uint8_t* data;
    int32_t width;     // pixels per row
    int32_t height;    // rows
    int32_t pitch;     // bytes per row; 0 or negative draws nothing
    uint8_t format;    // FT_PIXEL_MODE_*
    uint8_t max_grey;  // largest grey value of the grey formats (num_grays - 1)
};

// The FreeType library, the cache manager, the small-bitmap cache and the font's face.
// Set by fb_font_init, released by fb_font_deinit (main thread); used under pixel_mutex.
extern FT_Library ft_lib;
extern FTC_Manager ft_manager;
extern FTC_SBitCache ft_sbit_cache;
extern FT_Face ft_face;
extern ft_face_id ft_font_id;
// Image types of glyphs drawn onto the screen and into the back buffer. Guarded by pixel_mutex.
extern FTC_ImageTypeRec ft_type_fb;
extern FTC_ImageTypeRec ft_type_bb;
// 1 when the face carries kerning data. Set by fb_font_init.
extern uint8_t has_kerning;
// Index of the last glyph placed on each target; 0 = none. Both threads reset and set them.
extern relaxed<uint32_t> last_glyph_fb, last_glyph_bb;
// {pixel height, pixel width} of each zoom level.
inline constexpr std::array<std::array<int8_t, 2>, 8> font_sizes{{
    {24, 20},
    {22, 18},
    {26, 21},
    {32, 26},
    {34, 26},
    {36, 27},
    {38, 29},
    {40, 30},
}};

// The font half of fb_init: 1 on success, 0 on failure (a diagnostic has been printed).
// Fills line_heights[0..7].
int fb_font_init();
// The font half of fb_deinit. Call it only when no thread draws any more.
void fb_font_deinit();
// Sets the back-buffer image type to the pixel size of the current zoom level.
void fb_font_set_zoom();
// The same for zoom level z (0..7): the painter composes the second language one
// level below the first. Only the painter draws into the back buffer, under paint_mutex.
void fb_font_use_zoom(int32_t z);
// The zoom level text in the back buffer is drawn at (glyph size, background box).
extern relaxed<int32_t> bb_zoom;
// Whether a FreeType library of this version is good enough: 2.3.6 or later.
bool fb_font_version_ok(int major, int minor, int patch);
// The face requester given to the cache manager. Opens the font through the device
// layer, so that the box path resolves in the simulator as well.
FT_Error fb_open_font(FTC_FaceID face_id, FT_Library library, FT_Pointer request_data,
                      FT_Face* aface);
// Draws (or with colour -1 measures) one character; returns the pen advance,
// -1 when it does not fit before limit, 0 when there is no glyph. Kerns against the
// last glyph placed on the target. Takes pixel_mutex.
int32_t fb_draw_char(uint8_t target, uint32_t code, int32_t x, int32_t y, int32_t limit,
                     int8_t colour);
// The same, but kerns against previous, the caller's own previous glyph, and sets it
// to the glyph placed (as well as the target's last glyph). A string drawer keeps its
// own previous glyph so that the other thread's text cannot change its kerning.
// When the character has a glyph, *xadvance (if given) receives its advance without
// kerning, whether or not it fits.
int32_t fb_draw_char_after(uint8_t target, uint32_t code, int32_t x, int32_t y, int32_t limit,
                           int8_t colour, uint32_t& previous, int32_t* xadvance = nullptr);

// Writes the set pixels of b in colour p with the bitmap's top-left pixel at (x, y)
// into target, rows of row pixels, dropping every pixel outside the buffer. With outline,
// every pixel of the 5 x 5 square around a set pixel that is still 0 becomes o first,
// exactly as if each set pixel were handled in turn, outline then pixel. The caller
// holds pixel_mutex.
void fb_draw_bitmap(std::span<uint32_t> target, uint32_t row, const fb_bitmap& b, int32_t x,
                    int32_t y, uint32_t p, bool outline, uint32_t o);
// The pixels of a glyph target: 1 the back buffer, anything else the mapped framebuffer.
std::span<uint32_t> fb_glyph_target(uint8_t target);
