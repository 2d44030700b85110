// The font engine: the one TrueType font through FreeType's cache manager and
// small-bitmap cache, the line height of every zoom level, and the drawing of
// one character as a 1-bit bitmap into the screen or the back buffer.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CACHE_H

#include <array>
#include <cstdint>

#include "app/relaxed.h"

// Face id record: the font path, then the face index. Its address is the FTC_FaceID.
struct ft_face_id {
    const char* cesta;
    int32_t index;
};

extern FT_Library ft_lib;
extern FTC_Manager ft_manager;
extern FTC_SBitCache ft_sbit_cache;
extern FT_Face ft_face;
extern ft_face_id ftrc;
// Image types of glyphs drawn onto the screen and into the back buffer. Guarded by znak_mutex.
extern FTC_ImageTypeRec ft_typ_fb;
extern FTC_ImageTypeRec ft_typ_bb;
// 1 when the face carries kerning data.
extern uint8_t ma_kerning;
// Index of the last glyph placed on each target; 0 = none. Both threads reset and set them.
extern relaxed<uint32_t> posl_glyf_fb, posl_glyf_bb;
// {pixel height, pixel width} of each zoom level.
extern const std::array<std::array<int8_t, 2>, 8> velikosti_fontu;

// The font half of fb_init: 1 on success, 0 on failure (a diagnostic has been printed).
int fb_font_init();
// The font half of fb_deinit.
void fb_font_deinit();
// Sets the back-buffer image type to the pixel size of the current zoom level.
void fb_font_nastav_zoom();
// The face requester given to the cache manager.
FT_Error fb_otevri_font(FTC_FaceID face_id, FT_Library library, FT_Pointer request_data,
                        FT_Face* aface);
// Draws (or with colour -1 measures) one character; returns the pen advance,
// -1 when it does not fit before limit, 0 when there is no glyph.
int32_t fb_zobraz_znak(uint8_t cil, uint32_t kod, int32_t x, int32_t y, int32_t limit,
                       int8_t barva);
