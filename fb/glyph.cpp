// STUB: to be replaced.
#include "fb/glyph.h"
FT_Library ft_lib;
FTC_Manager ft_manager;
FTC_SBitCache ft_sbit_cache;
FT_Face ft_face;
ft_face_id ftrc;
FTC_ImageTypeRec ft_typ_fb;
FTC_ImageTypeRec ft_typ_bb;
uint8_t ma_kerning;
relaxed<uint32_t> posl_glyf_fb, posl_glyf_bb;
const std::array<std::array<int8_t, 2>, 8> velikosti_fontu{};
int fb_font_init() { return 0; }
void fb_font_deinit() {}
void fb_font_nastav_zoom() {}
FT_Error fb_otevri_font(FTC_FaceID, FT_Library, FT_Pointer, FT_Face*) { return 1; }
int32_t fb_zobraz_znak(uint8_t, uint32_t, int32_t, int32_t, int32_t, int8_t) { return 0; }
