// Finding the encoding of a subtitle file and decoding it to UTF-8. The PC build
// decodes through iconv; the static box build has no iconv modules, so it decodes
// the three single-byte code pages people's files come in from our own tables, and
// UTF-16 by code. Both give the same text: bytes a code page leaves undefined become
// U+FFFD either way.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "conv/model.h"

#if LUMETRA_CONV_ICONV
#include <iconv.h>
#endif
#if LUMETRA_CONV_UCHARDET
#include <uchardet/uchardet.h>
#endif

namespace conv {
namespace {

// Code points of bytes 0x80..0xFF; 0 where the code page defines none.
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

struct CodePage {
    std::string_view name;
    const std::array<uint16_t, 128>* table;
};
// In the order detection prefers them when their letters fit equally well.
constexpr std::array<CodePage, 3> kCodePages = {{
    {"WINDOWS-1250", &kWindows1250},
    {"ISO-8859-2", &kIso8859_2},
    {"WINDOWS-1252", &kWindows1252},
}};

// The accented letters of the languages whose files come in these code pages; a
// reading that turns the file's bytes into the letters of one language wins.
constexpr std::array<std::u16string_view, 12> kAlphabets = {
    u"áčďéěíňóřšťúůýžÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ",      // Czech
    u"áäčďéíĺľňóôŕšťúýžÁÄČĎÉÍĹĽŇÓÔŔŠŤÚÝŽ",  // Slovak
    u"ąćęłńóśźżĄĆĘŁŃÓŚŹŻ",                  // Polish
    u"áéíóöőúüűÁÉÍÓÖŐÚÜŰ",                  // Hungarian
    u"čćđšžČĆĐŠŽ",                          // Slovene, Croatian, Bosnian
    u"ăâîșțşţĂÂÎȘȚŞŢ",                      // Romanian
    u"àâæçéèêëîïôœùûüÿÀÂÆÇÉÈÊËÎÏÔŒÙÛÜŸ",    // French
    u"äöüßÄÖÜ",                             // German
    u"áéíñóúü¿¡ÁÉÍÑÓÚÜ",                    // Spanish
    u"áâãàçéêíóôõúÁÂÃÀÇÉÊÍÓÔÕÚ",            // Portuguese
    u"àèéìíòóùÀÈÉÌÍÒÓÙ",                    // Italian
    u"åæøäöéÅÆØÄÖÉ",                        // Nordic
};

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

// UTF-8 when nearly all of the high bytes form valid sequences: a file edited in
// another encoding keeps a stray byte or two, while text in a code page forms a
// valid sequence only by chance.
constexpr size_t kUtf8Percent = 98;
bool mostly_utf8(std::span<const uint8_t> s) {
    Utf8Count count = count_utf8(s);
    return count.invalid == 0 ||
           (count.sequences > 0 &&
            count.sequences * 100 >= (count.sequences + count.invalid) * kUtf8Percent);
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Canonical name of an encoding the table decoder knows, or empty.
std::string_view table_name(std::string_view name) {
    std::string u = upper(name);
    struct Alias {
        std::string_view alias;
        std::string_view name;
    };
    constexpr std::array<Alias, 16> kAliases = {{
        {"WINDOWS-1250", "WINDOWS-1250"},
        {"CP1250", "WINDOWS-1250"},
        {"WINDOWS-1252", "WINDOWS-1252"},
        {"CP1252", "WINDOWS-1252"},
        {"ISO-8859-2", "ISO-8859-2"},
        {"ISO8859-2", "ISO-8859-2"},
        {"LATIN2", "ISO-8859-2"},
        {"UTF-8", "UTF-8"},
        {"UTF8", "UTF-8"},
        {"UTF-16LE", "UTF-16LE"},
        {"UTF-16BE", "UTF-16BE"},
        {"UTF-16", "UTF-16"},
        {"ASCII", "UTF-8"},
        {"US-ASCII", "UTF-8"},
        {"ANSI_X3.4-1968", "UTF-8"},
        {"ISO_8859-2", "ISO-8859-2"},
    }};
    for (const Alias& a : kAliases)
        if (a.alias == u) return a.name;
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

// Scores each single-byte code page by how many of the file's high bytes it reads as
// letters of one language. A page that reads some byte as a control code (0x80 to
// 0x9F) or not at all is out while another reads every byte; among pages that all
// fail so, each such byte counts against the page. A tie goes to preferred (what
// uchardet named), else to the first of kCodePages.
std::string_view guess_code_page(std::span<const uint8_t> input, std::string_view preferred) {
    std::array<int, 128> counts{};
    for (uint8_t b : input)
        if (b >= 0x80) ++counts[b - 0x80];
    struct Score {
        long letters = 0;
        long unreadable = 0;
    };
    std::array<Score, kCodePages.size()> scores{};
    bool any_clean = false;
    for (size_t p = 0; p < kCodePages.size(); ++p) {
        std::array<long, kAlphabets.size()> letters{};
        for (size_t b = 0; b < 128; ++b) {
            if (counts[b] == 0) continue;
            char16_t c = static_cast<char16_t>((*kCodePages[p].table)[b]);
            if (c == 0 || (c >= 0x80 && c < 0xA0)) {
                scores[p].unreadable += counts[b];
                continue;
            }
            for (size_t a = 0; a < kAlphabets.size(); ++a)
                if (kAlphabets[a].find(c) != std::u16string_view::npos) letters[a] += counts[b];
        }
        scores[p].letters = *std::max_element(letters.begin(), letters.end());
        any_clean = any_clean || scores[p].unreadable == 0;
    }
    size_t best = kCodePages.size();
    long best_score = 0;
    for (size_t p = 0; p < kCodePages.size(); ++p) {
        if (any_clean && scores[p].unreadable != 0) continue;
        long score = scores[p].letters - 4 * scores[p].unreadable;
        bool better = best == kCodePages.size() || score > best_score ||
                      (score == best_score && kCodePages[p].name == preferred);
        if (better) {
            best = p;
            best_score = score;
        }
    }
    return kCodePages[best].name;
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

std::string detect_encoding(std::span<const uint8_t> input, bool use_uchardet) {
    if (input.size() >= 3 && input[0] == 0xEF && input[1] == 0xBB && input[2] == 0xBF)
        return "UTF-8";
    if (input.size() >= 2 && input[0] == 0xFF && input[1] == 0xFE) return "UTF-16LE";
    if (input.size() >= 2 && input[0] == 0xFE && input[1] == 0xFF) return "UTF-16BE";
    std::string_view wide = guess_utf16(input);
    if (!wide.empty()) return std::string(wide);
    if (mostly_utf8(input)) return "UTF-8";
    std::string_view preferred;
#if LUMETRA_CONV_UCHARDET
    if (use_uchardet) {
        // Its guess is unsure on a few hundred bytes, and the box build may lack it:
        // when it names one of our code pages, the letters decide, and its answer
        // only settles a tie.
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
    return std::string(guess_code_page(input, preferred));
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
