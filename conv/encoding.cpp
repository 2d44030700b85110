// Finding the encoding of a subtitle file and decoding it to UTF-8. The PC build
// decodes through iconv; the static box build has no iconv modules, so it decodes
// the single-byte code pages people's files come in (Central and Western European,
// Cyrillic, Greek, Turkish, Baltic) from our own tables, and UTF-16 by code. Both give
// the same text: bytes a code page leaves undefined become U+FFFD either way.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "conv/model.h"

#if LUMETRA_CONV_ICONV
#include <iconv.h>
#endif
#if LUMETRA_CONV_UCHARDET
#include <uchardet/uchardet.h>
#endif

namespace conv {
namespace {

// Code points of bytes 0x80..0xFF; 0 where the code page defines none. Made by
// scripts/code-page-tables.py from the PC's iconv, which the tables must match.
constexpr std::array<uint16_t, 128> kWindows1250 = {
    0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021, 0x0000, 0x2030, 0x0160, 0x2039,
    0x015A, 0x0164, 0x017D, 0x0179, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141,
    0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB,
    0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
    0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB,
    0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};
constexpr std::array<uint16_t, 128> kWindows1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};
constexpr std::array<uint16_t, 128> kWindows1252 = {
    0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039,
    0x0152, 0x0000, 0x017D, 0x0000, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
    0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};
constexpr std::array<uint16_t, 128> kWindows1253 = {
    0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x0000, 0x2030, 0x0000, 0x2039,
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0000, 0x203A, 0x0000, 0x0000, 0x0000, 0x0000, 0x00A0, 0x0385, 0x0386, 0x00A3,
    0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x0000, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x2015,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x0384, 0x00B5, 0x00B6, 0x00B7, 0x0388, 0x0389, 0x038A, 0x00BB,
    0x038C, 0x00BD, 0x038E, 0x038F, 0x0390, 0x0391, 0x0392, 0x0393, 0x0394, 0x0395, 0x0396, 0x0397,
    0x0398, 0x0399, 0x039A, 0x039B, 0x039C, 0x039D, 0x039E, 0x039F, 0x03A0, 0x03A1, 0x0000, 0x03A3,
    0x03A4, 0x03A5, 0x03A6, 0x03A7, 0x03A8, 0x03A9, 0x03AA, 0x03AB, 0x03AC, 0x03AD, 0x03AE, 0x03AF,
    0x03B0, 0x03B1, 0x03B2, 0x03B3, 0x03B4, 0x03B5, 0x03B6, 0x03B7, 0x03B8, 0x03B9, 0x03BA, 0x03BB,
    0x03BC, 0x03BD, 0x03BE, 0x03BF, 0x03C0, 0x03C1, 0x03C2, 0x03C3, 0x03C4, 0x03C5, 0x03C6, 0x03C7,
    0x03C8, 0x03C9, 0x03CA, 0x03CB, 0x03CC, 0x03CD, 0x03CE, 0x0000,
};
constexpr std::array<uint16_t, 128> kWindows1254 = {
    0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039,
    0x0152, 0x0000, 0x0000, 0x0000, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x0000, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
    0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x011E, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0130, 0x015E, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x011F, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0131, 0x015F, 0x00FF,
};
constexpr std::array<uint16_t, 128> kWindows1257 = {
    0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021, 0x0000, 0x2030, 0x0000, 0x2039,
    0x0000, 0x00A8, 0x02C7, 0x00B8, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0000, 0x203A, 0x0000, 0x00AF, 0x02DB, 0x0000, 0x00A0, 0x0000, 0x00A2, 0x00A3,
    0x00A4, 0x0000, 0x00A6, 0x00A7, 0x00D8, 0x00A9, 0x0156, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00C6,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00F8, 0x00B9, 0x0157, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00E6, 0x0104, 0x012E, 0x0100, 0x0106, 0x00C4, 0x00C5, 0x0118, 0x0112,
    0x010C, 0x00C9, 0x0179, 0x0116, 0x0122, 0x0136, 0x012A, 0x013B, 0x0160, 0x0143, 0x0145, 0x00D3,
    0x014C, 0x00D5, 0x00D6, 0x00D7, 0x0172, 0x0141, 0x015A, 0x016A, 0x00DC, 0x017B, 0x017D, 0x00DF,
    0x0105, 0x012F, 0x0101, 0x0107, 0x00E4, 0x00E5, 0x0119, 0x0113, 0x010D, 0x00E9, 0x017A, 0x0117,
    0x0123, 0x0137, 0x012B, 0x013C, 0x0161, 0x0144, 0x0146, 0x00F3, 0x014D, 0x00F5, 0x00F6, 0x00F7,
    0x0173, 0x0142, 0x015B, 0x016B, 0x00FC, 0x017C, 0x017E, 0x02D9,
};
constexpr std::array<uint16_t, 128> kIso8859_2 = {
    0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087, 0x0088, 0x0089, 0x008A, 0x008B,
    0x008C, 0x008D, 0x008E, 0x008F, 0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097,
    0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F, 0x00A0, 0x0104, 0x02D8, 0x0141,
    0x00A4, 0x013D, 0x015A, 0x00A7, 0x00A8, 0x0160, 0x015E, 0x0164, 0x0179, 0x00AD, 0x017D, 0x017B,
    0x00B0, 0x0105, 0x02DB, 0x0142, 0x00B4, 0x013E, 0x015B, 0x02C7, 0x00B8, 0x0161, 0x015F, 0x0165,
    0x017A, 0x02DD, 0x017E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
    0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB,
    0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};
constexpr std::array<uint16_t, 128> kIso8859_5 = {
    0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087, 0x0088, 0x0089, 0x008A, 0x008B,
    0x008C, 0x008D, 0x008E, 0x008F, 0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097,
    0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F, 0x00A0, 0x0401, 0x0402, 0x0403,
    0x0404, 0x0405, 0x0406, 0x0407, 0x0408, 0x0409, 0x040A, 0x040B, 0x040C, 0x00AD, 0x040E, 0x040F,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F, 0x2116, 0x0451, 0x0452, 0x0453, 0x0454, 0x0455, 0x0456, 0x0457,
    0x0458, 0x0459, 0x045A, 0x045B, 0x045C, 0x00A7, 0x045E, 0x045F,
};
constexpr std::array<uint16_t, 128> kIso8859_7 = {
    0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087, 0x0088, 0x0089, 0x008A, 0x008B,
    0x008C, 0x008D, 0x008E, 0x008F, 0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097,
    0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F, 0x00A0, 0x2018, 0x2019, 0x00A3,
    0x20AC, 0x20AF, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x037A, 0x00AB, 0x00AC, 0x00AD, 0x0000, 0x2015,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x0384, 0x0385, 0x0386, 0x00B7, 0x0388, 0x0389, 0x038A, 0x00BB,
    0x038C, 0x00BD, 0x038E, 0x038F, 0x0390, 0x0391, 0x0392, 0x0393, 0x0394, 0x0395, 0x0396, 0x0397,
    0x0398, 0x0399, 0x039A, 0x039B, 0x039C, 0x039D, 0x039E, 0x039F, 0x03A0, 0x03A1, 0x0000, 0x03A3,
    0x03A4, 0x03A5, 0x03A6, 0x03A7, 0x03A8, 0x03A9, 0x03AA, 0x03AB, 0x03AC, 0x03AD, 0x03AE, 0x03AF,
    0x03B0, 0x03B1, 0x03B2, 0x03B3, 0x03B4, 0x03B5, 0x03B6, 0x03B7, 0x03B8, 0x03B9, 0x03BA, 0x03BB,
    0x03BC, 0x03BD, 0x03BE, 0x03BF, 0x03C0, 0x03C1, 0x03C2, 0x03C3, 0x03C4, 0x03C5, 0x03C6, 0x03C7,
    0x03C8, 0x03C9, 0x03CA, 0x03CB, 0x03CC, 0x03CD, 0x03CE, 0x0000,
};
constexpr std::array<uint16_t, 128> kIso8859_9 = {
    0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087, 0x0088, 0x0089, 0x008A, 0x008B,
    0x008C, 0x008D, 0x008E, 0x008F, 0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097,
    0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
    0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x011E, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0130, 0x015E, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x011F, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0131, 0x015F, 0x00FF,
};
constexpr std::array<uint16_t, 128> kIso8859_13 = {
    0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087, 0x0088, 0x0089, 0x008A, 0x008B,
    0x008C, 0x008D, 0x008E, 0x008F, 0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097,
    0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F, 0x00A0, 0x201D, 0x00A2, 0x00A3,
    0x00A4, 0x201E, 0x00A6, 0x00A7, 0x00D8, 0x00A9, 0x0156, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00C6,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x201C, 0x00B5, 0x00B6, 0x00B7, 0x00F8, 0x00B9, 0x0157, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00E6, 0x0104, 0x012E, 0x0100, 0x0106, 0x00C4, 0x00C5, 0x0118, 0x0112,
    0x010C, 0x00C9, 0x0179, 0x0116, 0x0122, 0x0136, 0x012A, 0x013B, 0x0160, 0x0143, 0x0145, 0x00D3,
    0x014C, 0x00D5, 0x00D6, 0x00D7, 0x0172, 0x0141, 0x015A, 0x016A, 0x00DC, 0x017B, 0x017D, 0x00DF,
    0x0105, 0x012F, 0x0101, 0x0107, 0x00E4, 0x00E5, 0x0119, 0x0113, 0x010D, 0x00E9, 0x017A, 0x0117,
    0x0123, 0x0137, 0x012B, 0x013C, 0x0161, 0x0144, 0x0146, 0x00F3, 0x014D, 0x00F5, 0x00F6, 0x00F7,
    0x0173, 0x0142, 0x015B, 0x016B, 0x00FC, 0x017C, 0x017E, 0x2019,
};
constexpr std::array<uint16_t, 128> kIso8859_15 = {
    0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087, 0x0088, 0x0089, 0x008A, 0x008B,
    0x008C, 0x008D, 0x008E, 0x008F, 0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097,
    0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
    0x20AC, 0x00A5, 0x0160, 0x00A7, 0x0161, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x017D, 0x00B5, 0x00B6, 0x00B7, 0x017E, 0x00B9, 0x00BA, 0x00BB,
    0x0152, 0x0153, 0x0178, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};
constexpr std::array<uint16_t, 128> kKoi8R = {
    0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x251C, 0x2524, 0x252C, 0x2534, 0x253C, 0x2580,
    0x2584, 0x2588, 0x258C, 0x2590, 0x2591, 0x2592, 0x2593, 0x2320, 0x25A0, 0x2219, 0x221A, 0x2248,
    0x2264, 0x2265, 0x00A0, 0x2321, 0x00B0, 0x00B2, 0x00B7, 0x00F7, 0x2550, 0x2551, 0x2552, 0x0451,
    0x2553, 0x2554, 0x2555, 0x2556, 0x2557, 0x2558, 0x2559, 0x255A, 0x255B, 0x255C, 0x255D, 0x255E,
    0x255F, 0x2560, 0x2561, 0x0401, 0x2562, 0x2563, 0x2564, 0x2565, 0x2566, 0x2567, 0x2568, 0x2569,
    0x256A, 0x256B, 0x256C, 0x00A9, 0x044E, 0x0430, 0x0431, 0x0446, 0x0434, 0x0435, 0x0444, 0x0433,
    0x0445, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x044F, 0x0440, 0x0441,
    0x0442, 0x0443, 0x0436, 0x0432, 0x044C, 0x044B, 0x0437, 0x0448, 0x044D, 0x0449, 0x0447, 0x044A,
    0x042E, 0x0410, 0x0411, 0x0426, 0x0414, 0x0415, 0x0424, 0x0413, 0x0425, 0x0418, 0x0419, 0x041A,
    0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x042F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0416, 0x0412,
    0x042C, 0x042B, 0x0417, 0x0428, 0x042D, 0x0429, 0x0427, 0x042A,
};
constexpr std::array<uint16_t, 128> kKoi8U = {
    0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x251C, 0x2524, 0x252C, 0x2534, 0x253C, 0x2580,
    0x2584, 0x2588, 0x258C, 0x2590, 0x2591, 0x2592, 0x2593, 0x2320, 0x25A0, 0x2219, 0x221A, 0x2248,
    0x2264, 0x2265, 0x00A0, 0x2321, 0x00B0, 0x00B2, 0x00B7, 0x00F7, 0x2550, 0x2551, 0x2552, 0x0451,
    0x0454, 0x2554, 0x0456, 0x0457, 0x2557, 0x2558, 0x2559, 0x255A, 0x255B, 0x0491, 0x255D, 0x255E,
    0x255F, 0x2560, 0x2561, 0x0401, 0x0404, 0x2563, 0x0406, 0x0407, 0x2566, 0x2567, 0x2568, 0x2569,
    0x256A, 0x0490, 0x256C, 0x00A9, 0x044E, 0x0430, 0x0431, 0x0446, 0x0434, 0x0435, 0x0444, 0x0433,
    0x0445, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x044F, 0x0440, 0x0441,
    0x0442, 0x0443, 0x0436, 0x0432, 0x044C, 0x044B, 0x0437, 0x0448, 0x044D, 0x0449, 0x0447, 0x044A,
    0x042E, 0x0410, 0x0411, 0x0426, 0x0414, 0x0415, 0x0424, 0x0413, 0x0425, 0x0418, 0x0419, 0x041A,
    0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x042F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0416, 0x0412,
    0x042C, 0x042B, 0x0417, 0x0428, 0x042D, 0x0429, 0x0427, 0x042A,
};

struct CodePage {
    std::string_view name;
    const std::array<uint16_t, 128>* table;
};
// In the order detection prefers them when they read a file equally well.
constexpr std::array<CodePage, 14> kCodePages = {{
    {"WINDOWS-1250", &kWindows1250},
    {"ISO-8859-2", &kIso8859_2},
    {"WINDOWS-1252", &kWindows1252},
    {"ISO-8859-15", &kIso8859_15},
    {"WINDOWS-1251", &kWindows1251},
    {"KOI8-R", &kKoi8R},
    {"KOI8-U", &kKoi8U},
    {"ISO-8859-5", &kIso8859_5},
    {"WINDOWS-1253", &kWindows1253},
    {"ISO-8859-7", &kIso8859_7},
    {"WINDOWS-1254", &kWindows1254},
    {"ISO-8859-9", &kIso8859_9},
    {"WINDOWS-1257", &kWindows1257},
    {"ISO-8859-13", &kIso8859_13},
}};

enum class Script : uint8_t { kLatin, kCyrillic, kGreek };

// The letters of each language beyond ASCII, in small letters, the most frequent
// first. A reading of the file's bytes
// that gives the letters of one language, its frequent ones often, wins.
struct Language {
    Script script;
    std::u16string_view letters;
};
constexpr std::array<Language, 23> kLanguages = {{
    {Script::kLatin, u"íáéěřžščýůúňťďó"},                       // Czech
    {Script::kLatin, u"áíéýžčšúľňťôäďóĺŕ"},                     // Slovak
    {Script::kLatin, u"ęąółżśćńź"},                             // Polish
    {Script::kLatin, u"éáőöóüíúű"},                             // Hungarian
    {Script::kLatin, u"čšžćđ"},                                 // Slovene, Croatian, Bosnian
    {Script::kLatin, u"ăâîșțşţ"},                               // Romanian
    {Script::kLatin, u"éàèêçîùâôûëïœüÿæ"},                      // French
    {Script::kLatin, u"äöüß"},                                  // German
    {Script::kLatin, u"óíáéñúü"},                               // Spanish
    {Script::kLatin, u"ãçáéêíóõâúàô"},                          // Portuguese
    {Script::kLatin, u"àèéìòùíó"},                              // Italian
    {Script::kLatin, u"åæøäöé"},                                // Nordic
    {Script::kLatin, u"ışüçğöİâîû"},                            // Turkish
    {Script::kLatin, u"äõüöšž"},                                // Estonian
    {Script::kLatin, u"ėšųįąūžčę"},                             // Lithuanian
    {Script::kLatin, u"āēīšūņžčļķģ"},                           // Latvian
    {Script::kCyrillic, u"оеаинтсрвлкмдпуяыьгзбчйхжшюцщэфъё"},  // Russian
    {Script::kCyrillic, u"оанвиітерсклдумпязбгчьхжцйшюєїфщґ"},  // Ukrainian
    {Script::kCyrillic, u"аоныіерстлвкўдмязпуьбгчцшйхжёэюф"},   // Belarusian
    {Script::kCyrillic, u"аоеинтрсвлкдпмзяъубчгжьцйшхющф"},     // Bulgarian
    {Script::kCyrillic, u"аиоенсртјвкдлумпзгбчшцњћхжљђфџ"},     // Serbian
    {Script::kCyrillic, u"аоеинтрсвдклпмзјугбчшцѓжњхќљфџѕ"},    // Macedonian
    {Script::kGreek, u"αοειτνσηκρπυςμλάέίόγδήωύθχφβξζώψϊΐϋΰ"},  // Greek
}};

// The code pages a language's files come in, by the language's code in a file's name
// (ISO 639-1, and the 639-2 codes people use): tried first, in this order.
struct NamedLanguage {
    std::string_view codes;  // separated by spaces
    std::array<std::string_view, 4> pages;
};
constexpr std::array<NamedLanguage, 12> kNamedLanguages = {{
    {"ru rus", {"WINDOWS-1251", "KOI8-R", "ISO-8859-5"}},
    {"uk ukr", {"WINDOWS-1251", "KOI8-U"}},
    {"be bel", {"WINDOWS-1251"}},
    {"bg bul", {"WINDOWS-1251", "ISO-8859-5"}},
    // Serbian is written in both alphabets.
    {"sr srp scc", {"WINDOWS-1251", "WINDOWS-1250", "ISO-8859-5", "ISO-8859-2"}},
    {"mk mac mkd", {"WINDOWS-1251", "ISO-8859-5"}},
    {"el gre ell", {"WINDOWS-1253", "ISO-8859-7"}},
    {"tr tur", {"WINDOWS-1254", "ISO-8859-9"}},
    {"lt lit lv lav", {"WINDOWS-1257", "ISO-8859-13"}},
    {"et est", {"WINDOWS-1257", "ISO-8859-13", "ISO-8859-15"}},
    {"cs cze ces sk slo slk pl pol hu hun sl slv hr hrv scr bs bos ro rum ron",
     {"WINDOWS-1250", "ISO-8859-2"}},
    {"de ger deu fr fre fra nl dut nld en eng es spa pt por it ita da dan sv swe no nor nb "
     "nob nn nno fi fin ca cat",
     {"WINDOWS-1252", "ISO-8859-15"}},
}};

constexpr char32_t kReplacement = 0xFFFD;

// Length of the valid UTF-8 sequence at the front of s, or 0 (overlong forms,
// surrogates and code points past U+10FFFF are invalid).
size_t utf8_sequence(std::span<const uint8_t> s) {
    uint8_t b = s[0];
    if (b < 0x80) return 1;
    size_t n;
    char32_t c;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        c = b & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        c = (c << 6) | (s[i] & 0x3F);
    }
    if ((n == 3 && c < 0x800) || (n == 4 && c < 0x10000) || c > 0x10FFFF ||
        (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return n;
}

// Valid multi-byte sequences and bytes that are part of none.
struct Utf8Count {
    size_t sequences = 0;
    size_t invalid = 0;
};

Utf8Count count_utf8(std::span<const uint8_t> s) {
    Utf8Count count;
    size_t i = 0;
    while (i < s.size()) {
        size_t n = utf8_sequence(s.subspan(i));
        if (n == 0) {
            ++count.invalid;
            n = 1;
        } else if (n > 1) {
            ++count.sequences;
        }
        i += n;
    }
    return count;
}

// UTF-8 when its valid multi-byte sequences outnumber the bytes that are part of
// none at least 4 to 1, and there are 3 or more of them: in text of a single-byte code
// page a high byte followed by the continuation bytes UTF-8 wants is rare, so even a
// few valid sequences are strong evidence, while an editor of another encoding leaves
// a stray byte or a few in a UTF-8 file.
constexpr size_t kUtf8PerStrayByte = 4;
constexpr size_t kUtf8Fewest = 3;
bool mostly_utf8(std::span<const uint8_t> s) {
    Utf8Count count = count_utf8(s);
    return count.invalid == 0 ||
           (count.sequences >= kUtf8Fewest && count.sequences >= kUtf8PerStrayByte * count.invalid);
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Canonical name of an encoding the table decoder knows, or empty. Names are compared
// in capitals without "-", "_" and spaces: "cp1251", "Windows-1251" and "ISO_8859-5"
// find theirs.
std::string_view table_name(std::string_view name) {
    std::string key;
    for (char c : upper(name))
        if (c != '-' && c != '_' && c != ' ') key += c;
    struct Alias {
        std::string_view key;
        std::string_view name;
    };
    constexpr std::array<Alias, 33> kAliases = {{
        {"WINDOWS1250", "WINDOWS-1250"},
        {"CP1250", "WINDOWS-1250"},
        {"WINDOWS1251", "WINDOWS-1251"},
        {"CP1251", "WINDOWS-1251"},
        {"WINDOWS1252", "WINDOWS-1252"},
        {"CP1252", "WINDOWS-1252"},
        {"WINDOWS1253", "WINDOWS-1253"},
        {"CP1253", "WINDOWS-1253"},
        {"WINDOWS1254", "WINDOWS-1254"},
        {"CP1254", "WINDOWS-1254"},
        {"WINDOWS1257", "WINDOWS-1257"},
        {"CP1257", "WINDOWS-1257"},
        {"ISO88592", "ISO-8859-2"},
        {"LATIN2", "ISO-8859-2"},
        {"ISO88595", "ISO-8859-5"},
        {"CYRILLIC", "ISO-8859-5"},
        {"ISO88597", "ISO-8859-7"},
        {"GREEK", "ISO-8859-7"},
        {"ISO88599", "ISO-8859-9"},
        {"LATIN5", "ISO-8859-9"},
        {"ISO885913", "ISO-8859-13"},
        {"LATIN7", "ISO-8859-13"},
        {"ISO885915", "ISO-8859-15"},
        {"LATIN9", "ISO-8859-15"},
        {"KOI8R", "KOI8-R"},
        {"KOI8U", "KOI8-U"},
        {"UTF8", "UTF-8"},
        {"UTF16LE", "UTF-16LE"},
        {"UTF16BE", "UTF-16BE"},
        {"UTF16", "UTF-16"},
        {"ASCII", "UTF-8"},
        {"USASCII", "UTF-8"},
        {"ANSIX3.41968", "UTF-8"},
    }};
    for (const Alias& a : kAliases)
        if (a.key == key) return a.name;
    return {};
}

const std::array<uint16_t, 128>* table_for(std::string_view canonical) {
    for (const CodePage& p : kCodePages)
        if (p.name == canonical) return p.table;
    return nullptr;
}

// Puts U+FFFD in place of a byte the encoding cannot read, and counts it.
void replace_byte(std::string& out, Replacements& replaced) {
    if (replaced.count++ == 0) replaced.first_at = out.size();
    append_utf8(out, kReplacement);
}

void decode_utf8(std::span<const uint8_t> in, std::string& out, Replacements& replaced) {
    size_t i = 0;
    while (i < in.size()) {
        size_t n = utf8_sequence(in.subspan(i));
        if (n == 0) {
            replace_byte(out, replaced);
            ++i;
            continue;
        }
        out.append(reinterpret_cast<const char*>(in.data() + i), n);
        i += n;
    }
}

void decode_utf16(std::span<const uint8_t> in, bool big_endian, std::string& out,
                  Replacements& replaced) {
    auto unit = [&](size_t i) -> char32_t {
        return big_endian ? (in[i] << 8 | in[i + 1]) : (in[i + 1] << 8 | in[i]);
    };
    size_t i = 0;
    while (i + 1 < in.size()) {
        char32_t c = unit(i);
        i += 2;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < in.size()) {
                char32_t low = unit(i);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    i += 2;
                    append_utf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                    continue;
                }
            }
            replace_byte(out, replaced);
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            replace_byte(out, replaced);
        } else {
            append_utf8(out, c);
        }
    }
    if (i < in.size()) replace_byte(out, replaced);  // a cut last unit
}

void decode_table(std::span<const uint8_t> in, const std::array<uint16_t, 128>& table,
                  std::string& out, Replacements& replaced) {
    for (uint8_t b : in) {
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else if (char32_t c = table[b - 0x80]; c != 0) {
            append_utf8(out, c);
        } else {
            replace_byte(out, replaced);
        }
    }
}

#if LUMETRA_CONV_ICONV
// Closes an iconv descriptor on every road out.
class IconvHandle {
  public:
    explicit IconvHandle(const std::string& from) : handle_(iconv_open("UTF-8", from.c_str())) {}
    ~IconvHandle() {
        if (ok()) iconv_close(handle_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }

  private:
    iconv_t handle_;
};

// Bytes iconv cannot convert become U+FFFD, one byte at a time, as the tables do.
bool decode_iconv(std::span<const uint8_t> in, const std::string& from, std::string& out,
                  Replacements& replaced) {
    IconvHandle cd(from);
    if (!cd.ok()) return false;
    char* src = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
    size_t src_left = in.size();
    std::array<char, 4096> buffer;
    while (src_left > 0) {
        char* dst = buffer.data();
        size_t dst_left = buffer.size();
        size_t r = iconv(cd.get(), &src, &src_left, &dst, &dst_left);
        out.append(buffer.data(), buffer.size() - dst_left);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // An invalid or cut sequence: replace one byte and start over.
            replace_byte(out, replaced);
            ++src;
            --src_left;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return true;
}
#endif

// How the detection sees a character a code page reads a byte as.
enum class Kind : uint8_t {
    kOther,   // ASCII other than letters, punctuation, signs
    kJunk,    // no character, a control code, box drawing: never in subtitles
    kLetter,  // a letter of some script
};

constexpr bool is_junk(char16_t c) {
    return c == 0 || (c >= 0x80 && c < 0xA0) || (c >= 0x2500 && c < 0x2600) || c == 0x2320 ||
           c == 0x2321;
}

constexpr bool is_letter(char16_t c) {
    return (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) ||
           (c >= 0x386 && c <= 0x3CE && c != 0x387) || (c >= 0x400 && c <= 0x45F) || c == 0x490 ||
           c == 0x491;
}

// The small letter of a capital of the scripts the code pages hold; c itself otherwise.
constexpr char16_t small_letter(char16_t c) {
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB) ||
        (c >= 0x410 && c <= 0x42F))
        return static_cast<char16_t>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
    if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 0x25);
    if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 0x3F);
    if (c == 0x386) return 0x3AC;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x178) return 0xFF;
    if (c == 0x490) return 0x491;
    const bool even_capitals = (c >= 0x100 && c <= 0x137 && c != 0x130) ||
                               (c >= 0x14A && c <= 0x177) || (c >= 0x218 && c <= 0x21B);
    const bool odd_capitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((even_capitals && c % 2 == 0) || (odd_capitals && c % 2 == 1))
        return static_cast<char16_t>(c + 1);
    return c;
}

constexpr Script script_of(char16_t c) {
    return c < 0x370 ? Script::kLatin : c < 0x400 ? Script::kGreek : Script::kCyrillic;
}

constexpr char16_t kFinalSigma = 0x3C2;

// The detection counts each high byte by itself and ASCII by class: small letters,
// capitals and the rest read alike in every code page.
constexpr size_t kSmallAscii = 128;
constexpr size_t kCapitalAscii = 129;
constexpr size_t kOtherAscii = 130;
constexpr size_t kSymbols = 131;

constexpr size_t symbol_of(uint8_t b) {
    if (b >= 0x80) return b - 0x80;
    if (b >= 'a' && b <= 'z') return kSmallAscii;
    if (b >= 'A' && b <= 'Z') return kCapitalAscii;
    return kOtherAscii;
}

// One pass over the file: how often each high byte comes, and each pair of
// neighbours of which one is high (letters within a word are neighbours). Every code
// page is then judged from these counts, whatever the file's size.
struct ByteCounts {
    std::array<uint32_t, 128> high{};
    std::vector<uint32_t> pairs = std::vector<uint32_t>(kSymbols * kSymbols);
};

ByteCounts count_bytes(std::span<const uint8_t> input) {
    ByteCounts counts;
    size_t previous = kOtherAscii;
    for (uint8_t b : input) {
        const size_t symbol = symbol_of(b);
        if (symbol < 128) ++counts.high[symbol];
        if (symbol < 128 || previous < 128) ++counts.pairs[previous * kSymbols + symbol];
        previous = symbol;
    }
    return counts;
}

struct Character {
    Kind kind = Kind::kOther;
    bool capital = false;
    Script script = Script::kLatin;
    char16_t small = 0;  // the small letter of a high byte's letter
};

Character character_of(const CodePage& page, size_t symbol) {
    if (symbol == kSmallAscii) return {Kind::kLetter, false, Script::kLatin, 0};
    if (symbol == kCapitalAscii) return {Kind::kLetter, true, Script::kLatin, 0};
    if (symbol == kOtherAscii) return {};
    const char16_t c = static_cast<char16_t>((*page.table)[symbol]);
    if (is_junk(c)) return {Kind::kJunk};
    if (!is_letter(c)) return {};
    const char16_t small = small_letter(c);
    return {Kind::kLetter, small != c || c == 0x130, script_of(c), small};
}

// Weights of the judgement, all integers (the box has no FPU). A letter of the
// language counts by how frequent it is there; a letter of no use in it, a byte that
// reads as junk and a break in a word's shape count against.
constexpr long kForeignLetter = 4;
constexpr long kJunkByte = 8;
constexpr long kBrokenWord = 6;
// A script without ASCII letters must earn its place with a few letters: one stray
// byte in an English file is no Cyrillic text.
constexpr long kOtherScriptStake = 16;
// A reading is text in one script while its bad bytes and breaks are this few, or
// its letters outnumber them this many times.
constexpr long kFewBad = 2;
constexpr long kGoodPerBad = 3;
// Breaks alone: a capital after a small letter, or ASCII letters inside a word of
// another script, are rare in any text (Greek read as KOI8-R has one in 8 letters).
constexpr long kGoodPerBreak = 20;
// A text in Cyrillic or Greek of this many letters has a third of them among the
// language's ten most frequent, and enough vowels (Cyrillic) or accented vowels (Greek
// marks the stress of nearly every word): letters of another script read as these
// letters do not, even when they fall on frequent ones.
constexpr long kFrequencyFrom = 30;
constexpr std::u16string_view kCyrillicVowels = u"аеёиоуыэюяіїє";
constexpr long kCyrillicVowelPercent = 30;
constexpr std::u16string_view kGreekAccented = u"άέήίόύώΐΰ";
constexpr long kGreekAccentedPercent = 4;

constexpr long letter_weight(size_t rank) {
    return rank < 5 ? 4 : rank < 10 ? 3 : rank < 18 ? 2 : 1;
}

struct Reading {
    long score = 0;     // the higher, the likelier the file is in this code page
    bool text = false;  // the high bytes read as text in one script
};

// Judges one code page: the language whose letters it reads the high bytes as best,
// less junk, small letters before capitals inside a word ("пРИВЕТ" is Windows-1251
// read as KOI8-R), ASCII letters inside a Cyrillic or Greek word, a final sigma
// inside a word, capitals outnumbering small letters and, weakly, runs of accented
// Latin letters (text of another script read as Latin is nothing else).
Reading read_as(const CodePage& page, const ByteCounts& counts) {
    std::array<Character, kSymbols> characters;
    for (size_t s = 0; s < kSymbols; ++s) characters[s] = character_of(page, s);
    long junk = 0;
    long capitals = 0;
    long smalls = 0;
    for (size_t b = 0; b < 128; ++b) {
        const long n = counts.high[b];
        if (characters[b].kind == Kind::kJunk) junk += n;
        if (characters[b].kind == Kind::kLetter) (characters[b].capital ? capitals : smalls) += n;
    }
    long breaks = 0;
    long accented_runs = 0;
    for (size_t a = 0; a < kSymbols; ++a) {
        const Character& x = characters[a];
        if (x.kind != Kind::kLetter) continue;
        for (size_t b = 0; b < kSymbols; ++b) {
            const long n = counts.pairs[a * kSymbols + b];
            const Character& y = characters[b];
            if (n == 0 || y.kind != Kind::kLetter) continue;
            const bool latin = x.script == Script::kLatin && y.script == Script::kLatin;
            if (!x.capital && y.capital) breaks += n;
            if ((a >= 128) != (b >= 128) && !latin) breaks += n;
            if (x.small == kFinalSigma) breaks += n;
            if (a < 128 && b < 128 && latin) accented_runs += n;
        }
    }
    long best = 0;
    long good = 0;
    long foreign = 0;
    bool found = false;
    for (const Language& language : kLanguages) {
        long weight = 0;
        long in = 0;
        long out = 0;
        long common = 0;
        long marked = 0;
        const std::u16string_view marks =
            language.script == Script::kGreek ? kGreekAccented : kCyrillicVowels;
        for (size_t b = 0; b < 128; ++b) {
            const long n = counts.high[b];
            if (n == 0 || characters[b].kind != Kind::kLetter) continue;
            const size_t rank = language.letters.find(characters[b].small);
            if (rank == std::u16string_view::npos) {
                out += n;
                continue;
            }
            in += n;
            weight += n * letter_weight(rank);
            if (rank < 10) common += n;
            if (marks.find(characters[b].small) != std::u16string_view::npos) marked += n;
        }
        long score = weight - kForeignLetter * out;
        if (language.script != Script::kLatin) {
            score -= kOtherScriptStake;
            const long percent =
                language.script == Script::kGreek ? kGreekAccentedPercent : kCyrillicVowelPercent;
            if (in >= kFrequencyFrom && (common * 3 < in || marked * 100 < in * percent)) continue;
        }
        if (!found || score > best) {
            found = true;
            best = score;
            good = in;
            foreign = out;
        }
    }
    Reading reading;
    const long excess = capitals > smalls ? (capitals - smalls) / 2 : 0;
    reading.score = best - kJunkByte * junk - kBrokenWord * breaks - accented_runs - excess;
    const long bad = foreign + junk + breaks;
    reading.text =
        found && (bad <= kFewBad || (good >= kGoodPerBad * bad && good >= kGoodPerBreak * breaks));
    return reading;
}

// The language code of a name like "film.ru.srt": the last part between dots before
// the extension, of 2 or 3 letters in any case, with a name before it; lower case.
std::string language_code(std::string_view name) {
    if (const size_t slash = name.rfind('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    const size_t extension = name.rfind('.');
    if (extension == std::string_view::npos) return {};
    name = name.substr(0, extension);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    std::string code;
    for (char c : name.substr(dot + 1)) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c < 'a' || c > 'z') return {};
        code += c;
    }
    return code.size() == 2 || code.size() == 3 ? code : std::string();
}

// The code pages of a language code, none when it names no language of them.
std::span<const std::string_view> pages_of_language(std::string_view code) {
    for (const NamedLanguage& language : kNamedLanguages) {
        std::string_view codes = language.codes;
        while (!codes.empty()) {
            const size_t space = std::min(codes.find(' '), codes.size());
            if (codes.substr(0, space) == code) {
                const auto used =
                    std::find(language.pages.begin(), language.pages.end(), std::string_view());
                return {language.pages.begin(), used};
            }
            codes.remove_prefix(std::min(space + 1, codes.size()));
        }
    }
    return {};
}

// Whether two code pages give the file the same text: they agree on every high byte
// it holds.
bool same_text(const CodePage& a, const CodePage& b, const ByteCounts& counts) {
    for (size_t i = 0; i < counts.high.size(); ++i)
        if (counts.high[i] != 0 && (*a.table)[i] != (*b.table)[i]) return false;
    return true;
}

// The code page that reads the file best among those that read it as text at all and
// have a place (place(name) < kCodePages.size()); a tie goes to preferred (what
// uchardet named) when it gives another text, else to the lower place, so that the
// name chosen does not depend on whether the build has uchardet where the text does
// not. kCodePages.size() when none does.
template <typename Place>
size_t best_reading(const std::array<Reading, kCodePages.size()>& readings,
                    const ByteCounts& counts, std::string_view preferred, Place place) {
    size_t best = kCodePages.size();
    for (size_t p = 0; p < kCodePages.size(); ++p) {
        if (!readings[p].text || place(kCodePages[p].name) >= kCodePages.size()) continue;
        if (best == kCodePages.size() || readings[p].score > readings[best].score) {
            best = p;
            continue;
        }
        if (readings[p].score < readings[best].score) continue;
        const bool lower = place(kCodePages[p].name) < place(kCodePages[best].name);
        const bool same = same_text(kCodePages[p], kCodePages[best], counts);
        if (kCodePages[best].name == preferred && !(same && lower)) continue;
        if ((kCodePages[p].name == preferred && !same) || lower) best = p;
    }
    return best;
}

// The single-byte code page of a file. A language code in its name puts that
// language's code pages first: one of them is taken whenever it reads the file as text,
// even when another reads it better; otherwise the best reading of all wins.
DetectedEncoding guess_code_page(std::span<const uint8_t> input, std::string_view preferred,
                                 std::string_view source_name) {
    const ByteCounts counts = count_bytes(input);
    std::array<Reading, kCodePages.size()> readings;
    for (size_t p = 0; p < kCodePages.size(); ++p) readings[p] = read_as(kCodePages[p], counts);
    const size_t best = best_reading(readings, counts, preferred, [](std::string_view name) {
        return static_cast<size_t>(
            std::find_if(kCodePages.begin(), kCodePages.end(),
                         [&](const CodePage& page) { return page.name == name; }) -
            kCodePages.begin());
    });
    DetectedEncoding detected;
    const std::string code = language_code(source_name);
    const std::span<const std::string_view> named = pages_of_language(code);
    // Among the language's pages, its own order settles a tie.
    const size_t by_name = best_reading(readings, counts, preferred, [&](std::string_view name) {
        const size_t place =
            static_cast<size_t>(std::find(named.begin(), named.end(), name) - named.begin());
        return place < named.size() ? place : kCodePages.size();
    });
    if (by_name < kCodePages.size()) {
        detected.name = kCodePages[by_name].name;
        if (by_name != best) detected.language = code;
    } else if (best < kCodePages.size()) {
        detected.name = kCodePages[best].name;
    } else {
        // Nothing reads as text: the likeliest page, for a caller that reads anyway.
        detected.readable = false;
        size_t likeliest = 0;
        for (size_t p = 1; p < kCodePages.size(); ++p)
            if (readings[p].score > readings[likeliest].score) likeliest = p;
        detected.name = kCodePages[likeliest].name;
    }
    return detected;
}

// A file of UTF-16 without a byte-order mark shows itself by zero bytes on one side
// of most of its ASCII characters.
std::string_view guess_utf16(std::span<const uint8_t> input) {
    size_t even_zero = 0;
    size_t odd_zero = 0;
    size_t n = std::min<size_t>(input.size(), 4096) & ~size_t{1};
    for (size_t i = 0; i < n; i += 2) {
        if (input[i] == 0) ++even_zero;
        if (input[i + 1] == 0) ++odd_zero;
    }
    if (n >= 8 && odd_zero * 10 >= n / 2 * 7 && even_zero * 10 <= n / 2) return "UTF-16LE";
    if (n >= 8 && even_zero * 10 >= n / 2 * 7 && odd_zero * 10 <= n / 2) return "UTF-16BE";
    return {};
}

}  // namespace

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

Decoder default_decoder() {
#if LUMETRA_CONV_ICONV
    return Decoder::kIconv;
#else
    return Decoder::kTables;
#endif
}

bool have_iconv() {
    return LUMETRA_CONV_ICONV != 0;
}

bool have_uchardet() {
#if LUMETRA_CONV_UCHARDET
    return true;
#else
    return false;
#endif
}

DetectedEncoding detect_encoding(std::span<const uint8_t> input, bool use_uchardet,
                                 std::string_view source_name) {
    if (input.size() >= 3 && input[0] == 0xEF && input[1] == 0xBB && input[2] == 0xBF)
        return {"UTF-8"};
    if (input.size() >= 2 && input[0] == 0xFF && input[1] == 0xFE) return {"UTF-16LE"};
    if (input.size() >= 2 && input[0] == 0xFE && input[1] == 0xFF) return {"UTF-16BE"};
    std::string_view wide = guess_utf16(input);
    if (!wide.empty()) return {std::string(wide)};
    if (mostly_utf8(input)) return {"UTF-8"};
    std::string_view preferred;
#if LUMETRA_CONV_UCHARDET
    if (use_uchardet) {
        // Its guess is unsure on a few hundred bytes, and the box build lacks it: the
        // letters decide, and its answer only settles a tie between code pages that
        // read the file equally well.
        uchardet_t detector = uchardet_new();
        if (detector != nullptr) {
            std::string found;
            if (uchardet_handle_data(detector, reinterpret_cast<const char*>(input.data()),
                                     input.size()) == 0) {
                uchardet_data_end(detector);
                const char* name = uchardet_get_charset(detector);
                if (name != nullptr) found = name;
            }
            uchardet_delete(detector);
            // Latin-1 files are Windows-1252 in practice (its superset for text).
            if (upper(found) == "ISO-8859-1") found = "WINDOWS-1252";
            std::string_view known = table_name(found);
            if (table_for(known) != nullptr) preferred = known;
        }
    }
#else
    (void)use_uchardet;
#endif
    return guess_code_page(input, preferred, source_name);
}

bool decode_to_utf8(std::span<const uint8_t> input, std::string_view encoding, Decoder decoder,
                    std::string& output, std::string& error, Replacements* replacements) {
    Replacements replaced;
    std::string raw;
    raw.reserve(input.size() + input.size() / 8);
    std::string_view canonical = table_name(encoding);
    std::span<const uint8_t> body = input;
    // A byte-order mark is no text; one of another encoding than the forced one is.
    if (canonical == "UTF-8" && body.size() >= 3 && body[0] == 0xEF && body[1] == 0xBB &&
        body[2] == 0xBF)
        body = body.subspan(3);
    if (canonical == "UTF-16" || canonical == "UTF-16LE" || canonical == "UTF-16BE") {
        bool big = canonical == "UTF-16BE";
        if (body.size() >= 2 && body[0] == 0xFF && body[1] == 0xFE) {
            big = false;
            body = body.subspan(2);
        } else if (body.size() >= 2 && body[0] == 0xFE && body[1] == 0xFF) {
            big = true;
            body = body.subspan(2);
        }
        decode_utf16(body, big, raw, replaced);
    } else if (canonical == "UTF-8") {
        decode_utf8(body, raw, replaced);
    } else if (decoder == Decoder::kTables) {
        const auto* table = table_for(canonical);
        if (table == nullptr) {
            error = "unknown encoding " + std::string(encoding);
            return false;
        }
        decode_table(body, *table, raw, replaced);
    } else {
#if LUMETRA_CONV_ICONV
        std::string name(canonical.empty() ? encoding : canonical);
        if (!decode_iconv(body, name, raw, replaced)) {
            error = "unknown encoding " + std::string(encoding);
            return false;
        }
#else
        error = "unknown encoding " + std::string(encoding);
        return false;
#endif
    }
    // One line end for every reader, made in place; a byte-order mark inside the text
    // (files joined together) is no text either.
    size_t kept = 0;
    int line = 1;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (replaced.count > 0 && i == replaced.first_at) replaced.first_line = line;
        if (raw[i] == '\r') {
            raw[kept++] = '\n';
            ++line;
            if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
        } else if (raw.compare(i, 3, "\xEF\xBB\xBF") == 0) {
            i += 2;
        } else {
            if (raw[i] == '\n') ++line;
            raw[kept++] = raw[i];
        }
    }
    raw.resize(kept);
    if (replacements != nullptr) *replacements = replaced;
    output = std::move(raw);
    return true;
}

}  // namespace conv
