// The key panel: its rows, measured and laid out with FreeType, and drawn into a picture.
#include "sim/key_panel.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <sys/stat.h>

#include <algorithm>

namespace sim {

namespace {

// At scale 1; everything grows with the scale.
constexpr int kFontPx = 14, kLineH = 24, kMargin = 14, kColumnGap = 20;
constexpr int kSwatchW = 10, kSwatchH = 11, kSwatchRoom = 15;
constexpr uint32_t kBack = 0xff1c2026, kText = 0xffd8d8d8, kTitle = 0xffffd040, kDim = 0xff98a0a8,
                   kRemote = 0xffffffff;

constexpr auto kSystemFonts = std::to_array<const char*>({
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf",
});

struct panel_row {
    std::string_view keys;    // keyboard
    std::string_view remote;  // remote control
    uint32_t swatch;          // colour shown before the remote key; 0 = none
    bool after_blank;         // a blank line before it
};

// Descriptions wrap only at plain spaces: the no-break spaces keep a number with its unit.
constexpr auto kRows = std::to_array<panel_row>({
    {"Enter", "OK", 0, false},
    {"Esc, Backspace", "EXIT", 0, false},
    {"\u2191 \u2193 \u2190 \u2192", "arrows", 0, false},
    {"F1 or R", "RED", 0xffe02020, false},
    {"F2 or G", "GREEN", 0xff20c020, false},
    {"F3 or Y", "YELLOW", 0xffe0e020, false},
    {"F4 or B", "BLUE", 0xff3050f0, false},
    {"0 \u2026 9", "digits", 0, false},
    {"+ and \u2212", "VOLUME up, down", 0, false},
    {"Page Up, Down", "CHANNEL up, down", 0, false},
    {"H", "HELP", 0, false},
    {"M", "MENU", 0, false},
    {"T", "TV", 0, false},
    {"V", "VIDEO", 0, false},
    {"X", "TEXT: second language", 0, false},
    {"Space", "film: pause, play", 0, false},
    {"[ and ]", "film: seek \u221210\u00a0s, +10\u00a0s", 0, false},
    {"F12", "hide this panel", 0, true},
});

constexpr auto kNotes = std::to_array<std::string_view>({
    "Closing the window sends EXIT,",
    "then OK: the player ends.",
});

constexpr std::string_view kSent = "Sent: ";

struct ft_library_deleter {
    void operator()(FT_Library l) const { FT_Done_FreeType(l); }
};
struct ft_face_deleter {
    void operator()(FT_Face f) const { FT_Done_Face(f); }
};

// Calls fn(glyph, pen) for each character of UTF-8 text whose glyph renders, pen being
// where that glyph starts; returns the pen after the last.
template <class Fn>
int for_each_glyph(FT_Face face, std::string_view text, Fn&& fn) {
    int pen = 0;
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        uint32_t cp = b;
        size_t len = b < 0x80 ? 1 : b < 0xe0 ? 2 : b < 0xf0 ? 3 : 4;
        if (len > 1) {
            cp = b & (0x7f >> len);
            for (size_t k = 1; k < len && i + k < text.size(); ++k) {
                cp = cp << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3f);
            }
        }
        i += len;
        if (FT_Load_Char(face, cp, FT_LOAD_RENDER) != 0) continue;
        fn(face->glyph, pen);
        pen += static_cast<int>(face->glyph->advance.x >> 6);
    }
    return pen;
}

// The length of the first UTF-8 character of text (at least 1).
size_t first_char_length(std::string_view text) {
    auto b = static_cast<unsigned char>(text[0]);
    size_t len = b < 0x80 ? 1 : b < 0xe0 ? 2 : b < 0xf0 ? 3 : 4;
    return std::min(len, text.size());
}

// A row before wrapping: a text in the keys column (never wrapped) and one starting at
// right_x that wraps within the panel.
struct row_plan {
    std::string_view left;
    uint32_t left_colour = 0;
    int right_x = 0;
    std::string right;
    uint32_t right_colour = 0;
    uint32_t swatch = 0;
    int advance = 0;  // from the baseline before, or from the top for the first
};

}  // namespace

struct key_panel::fonts {
    std::unique_ptr<FT_LibraryRec_, ft_library_deleter> lib;
    std::unique_ptr<FT_FaceRec_, ft_face_deleter> face;  // after lib: goes first
    int scale = 0;                                       // the face's size is set for it
};

key_panel::key_panel() = default;
key_panel::~key_panel() = default;

bool key_panel::open(const std::string& box_font) {
    std::vector<std::string> paths(kSystemFonts.begin(), kSystemFonts.end());
    paths.push_back(box_font);
    return open_first(paths);
}

bool key_panel::open_first(std::span<const std::string> paths) {
    close();
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) != 0) return false;
    auto f = std::make_unique<fonts>();
    f->lib.reset(lib);
    for (const std::string& path : paths) {
        struct stat st;
        if (path.empty() || ::stat(path.c_str(), &st) != 0) continue;
        FT_Face face = nullptr;
        if (FT_New_Face(lib, path.c_str(), 0, &face) == 0) {
            f->face.reset(face);
            ft_ = std::move(f);
            return true;
        }
    }
    return false;
}

void key_panel::close() {
    ft_.reset();
    widths_ = {};
}

bool key_panel::has_font() const {
    return ft_ != nullptr;
}

void key_panel::set_scale(int f) {
    if (ft_->scale == f) return;
    FT_Set_Pixel_Sizes(ft_->face.get(), 0, static_cast<FT_UInt>(kFontPx * f));
    ft_->scale = f;
}

int key_panel::text_width(std::string_view text) {
    int ink = 0;
    int pen = for_each_glyph(ft_->face.get(), text, [&](FT_GlyphSlot g, int at) {
        if (g->bitmap.width > 0) {
            ink = std::max(ink, at + g->bitmap_left + static_cast<int>(g->bitmap.width));
        }
    });
    return std::max(pen, ink);
}

namespace {

// The rows of a panel at scale f, the sent line included when last_key is not empty.
// sent_pen: the pen's advance over the sent line's label.
template <class Measure>
std::vector<row_plan> plan_rows(int f, std::string_view last_key, int sent_pen, Measure&& width) {
    const int margin = kMargin * f, line = kLineH * f;
    int keys_width = width("Keyboard");
    for (const panel_row& r : kRows) keys_width = std::max(keys_width, width(r.keys));
    const int remote_x = margin + keys_width + kColumnGap * f;

    std::vector<row_plan> rows;
    rows.push_back({"Keyboard", kTitle, remote_x, "Remote control", kTitle, 0, line});
    for (size_t i = 0; i < kRows.size(); ++i) {
        const panel_row& r = kRows[i];
        int advance = i == 0 ? line + line / 3 : r.after_blank ? 2 * line : line;
        int x = remote_x + (r.swatch != 0 ? kSwatchRoom * f : 0);
        rows.push_back({r.keys, kText, x, std::string(r.remote), kRemote, r.swatch, advance});
    }
    for (size_t i = 0; i < kNotes.size(); ++i) {
        int advance = i == 0 ? line * 3 / 2 : line * 3 / 4;
        rows.push_back({"", 0, margin, std::string(kNotes[i]), kDim, 0, advance});
    }
    if (!last_key.empty()) {
        // The pen's end, not the ink's: the space belongs to the gap.
        rows.push_back(
            {kSent, kDim, margin + sent_pen, std::string(last_key), kTitle, 0, line * 3 / 2});
    }
    return rows;
}

}  // namespace

const key_panel::widths& key_panel::measured(int f) {
    widths& w = widths_[static_cast<size_t>(f)];
    if (w.natural != 0 || !ft_) return w;
    set_scale(f);
    auto width = [this](std::string_view t) { return text_width(t); };
    const int margin = kMargin * f;
    for (const row_plan& r : plan_rows(f, "", 0, width)) {
        int left_end = margin + width(r.left);
        int whole = r.right_x + width(r.right);
        // The narrowest two lines the text can be split into at one of its spaces.
        int two_lines = whole;
        for (size_t at = r.right.find(' '); at != std::string::npos;
             at = r.right.find(' ', at + 1)) {
            int split = std::max(width(std::string_view(r.right).substr(0, at)),
                                 width(std::string_view(r.right).substr(at + 1)));
            two_lines = std::min(two_lines, r.right_x + split);
        }
        w.natural = std::max({w.natural, left_end + margin, whole + margin});
        w.least = std::max({w.least, left_end + margin, two_lines + margin});
    }
    return w;
}

int key_panel::natural_width(int f) {
    return measured(std::clamp(f, 1, kMaxScale)).natural;
}

int key_panel::least_width(int f) {
    return measured(std::clamp(f, 1, kMaxScale)).least;
}

int key_panel::width_for(int f, int room) {
    const widths& w = measured(std::clamp(f, 1, kMaxScale));
    return std::clamp(room, w.least, w.natural);
}

panel_layout key_panel::layout(int f, int width, std::string_view last_key) {
    f = std::clamp(f, 1, kMaxScale);
    panel_layout l;
    l.width = width;
    l.height = static_cast<int>(kTvHeight) * f;
    l.margin = kMargin * f;
    l.scale = f;
    if (!ft_) return l;
    set_scale(f);
    const FT_Size_Metrics& m = ft_->face->size->metrics;
    l.ascent = static_cast<int>((m.ascender + 63) >> 6);
    l.descent = static_cast<int>((-m.descender + 63) >> 6);
    auto measure = [this](std::string_view t) { return text_width(t); };
    const int sent_pen = for_each_glyph(ft_->face.get(), kSent, [](FT_GlyphSlot, int) {});

    // Lines with their advances; baselines follow once all are known.
    std::vector<int> advances;
    struct swatch_at {
        size_t line;
        int x;
        uint32_t colour;
    };
    std::vector<swatch_at> swatch_lines;
    const int continuation = kLineH * f * 3 / 4;
    for (const row_plan& r : plan_rows(f, last_key, sent_pen, measure)) {
        const size_t first = l.lines.size();
        if (!r.left.empty()) {
            l.lines.push_back({std::string(r.left), r.left_colour, l.margin, 0, measure(r.left)});
            advances.push_back(r.advance);
        }
        if (r.swatch != 0) swatch_lines.push_back({first, r.right_x - kSwatchRoom * f, r.swatch});
        // Greedy wrapping at spaces; a word wider than the room goes by characters.
        const int room = width - l.margin - r.right_x;
        std::string_view rest = r.right;
        bool first_piece = true;
        while (!rest.empty()) {
            std::string_view piece = rest;
            if (measure(piece) > room) {
                size_t end = 0;
                for (size_t sp = rest.find(' '); sp != std::string_view::npos;
                     sp = rest.find(' ', sp + 1)) {
                    if (measure(rest.substr(0, sp)) > room) break;
                    end = sp;
                }
                if (end == 0) {
                    end = first_char_length(rest);
                    while (end < rest.size()) {
                        size_t next = end + first_char_length(rest.substr(end));
                        if (measure(rest.substr(0, next)) > room) break;
                        end = next;
                    }
                }
                piece = rest.substr(0, end);
            }
            rest.remove_prefix(piece.size());
            while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
            // The right text shares the row's first baseline with the left one (advance 0).
            bool shares = first_piece && !r.left.empty();
            advances.push_back(shares ? 0 : first_piece ? r.advance : continuation);
            if (!first_piece) l.wrapped = true;
            l.lines.push_back(
                {std::string(piece), r.right_colour, r.right_x, 0, measure(piece), !first_piece});
            first_piece = false;
        }
    }

    // Too many lines for the height: closer together, but never closer than the font's
    // own line height.
    const int line_h = l.ascent + l.descent;
    auto place = [&](int thirty_seconds) {
        int y = 0;
        for (size_t i = 0; i < l.lines.size(); ++i) {
            if (advances[i] > 0) y += std::max(line_h, advances[i] * thirty_seconds / 32);
            l.lines[i].baseline = y;
        }
        return y + l.descent <= l.height;
    };
    for (int k = 32; k > 0 && !place(k); --k) l.compressed = true;

    for (const swatch_at& s : swatch_lines) {
        int baseline = l.lines[s.line].baseline;
        l.swatches.push_back({s.x, baseline - kSwatchH * f, kSwatchW * f, kSwatchH * f, s.colour});
    }
    return l;
}

void key_panel::draw(const panel_layout& l, picture& out) {
    out.width = static_cast<uint32_t>(std::max(0, l.width));
    out.height = static_cast<uint32_t>(std::max(0, l.height));
    out.argb.assign(size_t{out.width} * out.height, kBack);
    const int w = static_cast<int>(out.width), h = static_cast<int>(out.height);
    for (const panel_swatch& s : l.swatches) {
        for (int y = std::max(0, s.y); y < std::min(s.y + s.height, h); ++y) {
            for (int x = std::max(0, s.x); x < std::min(s.x + s.width, w); ++x) {
                out.argb[size_t(y) * out.width + size_t(x)] = s.colour;
            }
        }
    }
    if (!ft_) return;
    set_scale(l.scale);
    for (const panel_line& line : l.lines) {
        for_each_glyph(ft_->face.get(), line.text, [&](FT_GlyphSlot g, int pen) {
            const FT_Bitmap& bm = g->bitmap;
            int left = line.x + pen + g->bitmap_left, top = line.baseline - g->bitmap_top;
            for (unsigned r = 0; r < bm.rows; ++r) {
                int py = top + static_cast<int>(r);
                if (py < 0 || py >= h) continue;
                for (unsigned c = 0; c < bm.width; ++c) {
                    int px = left + static_cast<int>(c);
                    if (px < 0 || px >= w) continue;
                    uint32_t a = bm.buffer[r * static_cast<unsigned>(bm.pitch) + c];
                    if (a == 0) continue;
                    uint32_t& d = out.argb[size_t(py) * out.width + size_t(px)];
                    uint32_t v = 0xff000000;
                    for (int sh = 0; sh < 24; sh += 8) {
                        uint32_t o = (line.colour >> sh & 0xff) * a + (d >> sh & 0xff) * (255 - a);
                        v |= (o + 127) / 255 << sh;
                    }
                    d = v;
                }
            }
        });
    }
}

}  // namespace sim
