// ASS and SSA: [Script Info], a styles section whose Format line names the fields,
// and [Events] with Dialogue lines. Override blocks "{...}" are read for italics,
// the top alignments and drawings, and otherwise removed.
#include <string>
#include <string_view>
#include <vector>

#include "conv/model.h"

namespace conv {
namespace {

struct Style {
    std::string name;
    bool italic = false;
    bool top = false;
};

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && starts_with_ignoring_case(a, b);
}

// Splits "a, b, c" into at most max fields; the last takes the rest of the line.
std::vector<std::string_view> fields(std::string_view s, size_t max) {
    std::vector<std::string_view> out;
    while (out.size() + 1 < max) {
        size_t comma = s.find(',');
        if (comma == std::string_view::npos) break;
        out.push_back(trim(s.substr(0, comma)));
        s.remove_prefix(comma + 1);
    }
    out.push_back(trim(s));
    return out;
}

int index_of(const std::vector<std::string_view>& names, std::string_view name) {
    for (size_t i = 0; i < names.size(); ++i)
        if (equal_ignoring_case(names[i], name)) return static_cast<int>(i);
    return -1;
}

std::string_view field(const std::vector<std::string_view>& values, int index) {
    return index >= 0 && static_cast<size_t>(index) < values.size()
               ? values[static_cast<size_t>(index)]
               : std::string_view{};
}

int64_t number_in(std::string_view s) {
    int64_t value = 0;
    bool negative = !s.empty() && s[0] == '-';
    if (negative) s.remove_prefix(1);
    if (!take_number(s, value)) return 0;
    return negative ? -value : value;
}

// Reads the tags of one override block: italics, position, drawing mode.
void read_overrides(std::string_view block, const Style& style, bool& italic, bool& top,
                    bool& drawing) {
    while (!block.empty()) {
        size_t slash = block.find('\\');
        if (slash == std::string_view::npos) return;
        block.remove_prefix(slash + 1);
        size_t end = block.find('\\');
        std::string_view tag = block.substr(0, end);
        if (tag.size() >= 2 && tag.substr(0, 2) == "an") {
            int64_t n = number_in(tag.substr(2));
            if (n >= 1 && n <= 9) top = n >= 7;
        } else if (tag.size() >= 2 && tag[0] == 'a' && tag[1] >= '0' && tag[1] <= '9') {
            int64_t n = number_in(tag.substr(1));
            if (n >= 1 && n <= 11) top = n >= 5 && n <= 7;
        } else if (tag.size() >= 1 && tag[0] == 'i' &&
                   (tag.size() == 1 || (tag[1] >= '0' && tag[1] <= '9'))) {
            italic = tag.size() == 1 ? style.italic : number_in(tag.substr(1)) != 0;
        } else if (tag.size() >= 2 && tag[0] == 'p' && tag[1] >= '0' && tag[1] <= '9') {
            drawing = number_in(tag.substr(1)) > 0;
        } else if (tag.size() >= 1 && tag[0] == 'r') {
            italic = style.italic;
        }
    }
}

void read_text(std::string_view s, const Style& style, Cue& cue) {
    TextBuilder builder;
    bool italic = style.italic;
    bool drawing = false;
    cue.top = style.top;
    while (!s.empty()) {
        if (s[0] == '{') {
            size_t close = s.find('}');
            if (close != std::string_view::npos) {
                read_overrides(s.substr(1, close - 1), style, italic, cue.top, drawing);
                s.remove_prefix(close + 1);
                continue;
            }
        }
        if (s[0] == '\\' && s.size() > 1 && (s[1] == 'N' || s[1] == 'n' || s[1] == 'h')) {
            if (s[1] == 'h')
                builder.add(" ", italic);
            else
                builder.line_break();
            s.remove_prefix(2);
            continue;
        }
        size_t stop = s.find_first_of("{\\", 1);
        if (stop == std::string_view::npos) stop = s.size();
        if (!drawing) builder.add(s.substr(0, stop), italic);
        s.remove_prefix(stop);
    }
    cue.lines = builder.finish();
}

}  // namespace

int probe_ass(std::string_view text) {
    if (some_early_line(text, 40, [](std::string_view line) {
            return equal_ignoring_case(trim(line), "[Script Info]");
        }))
        return 95;
    return some_early_line(text, 40,
                           [](std::string_view line) {
                               return starts_with_ignoring_case(trim(line), "Dialogue:");
                           })
               ? 60
               : 0;
}

void read_ass(std::string_view text, const ConvertOptions&, ReadResult& result) {
    enum class Section { kOther, kStyles, kEvents } section = Section::kOther;
    bool legacy = false;  // SSA: [V4 Styles], alignments 1-3 bottom, 5-7 top, 9-11 middle
    std::vector<std::string_view> style_format = fields(
        "Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
        "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, "
        "Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding",
        1000);
    std::vector<std::string_view> event_format =
        fields("Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text", 1000);
    std::vector<Style> styles;
    LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        std::string_view s = trim(line);
        if (!s.empty() && s[0] == '[') {
            legacy = legacy || equal_ignoring_case(s, "[V4 Styles]");
            section = starts_with_ignoring_case(s, "[V4")  ? Section::kStyles
                      : equal_ignoring_case(s, "[Events]") ? Section::kEvents
                                                           : Section::kOther;
            continue;
        }
        size_t colon = s.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view key = trim(s.substr(0, colon));
        std::string_view value = trim(s.substr(colon + 1));
        if (section == Section::kStyles && equal_ignoring_case(key, "Format")) {
            style_format = fields(value, 1000);
        } else if (section == Section::kStyles && equal_ignoring_case(key, "Style")) {
            auto v = fields(value, style_format.size());
            Style style;
            style.name = std::string(field(v, index_of(style_format, "Name")));
            if (!style.name.empty() && style.name[0] == '*') style.name.erase(0, 1);
            style.italic = number_in(field(v, index_of(style_format, "Italic"))) != 0;
            int64_t align = number_in(field(v, index_of(style_format, "Alignment")));
            style.top = legacy ? (align >= 5 && align <= 7) : (align >= 7 && align <= 9);
            styles.push_back(std::move(style));
        } else if (section == Section::kEvents && equal_ignoring_case(key, "Format")) {
            event_format = fields(value, 1000);
        } else if (equal_ignoring_case(key, "Dialogue")) {
            // Text is the last field and may hold commas.
            auto v = fields(s.substr(colon + 1), event_format.size());
            int text_at = index_of(event_format, "Text");
            std::string_view start_text = field(v, index_of(event_format, "Start"));
            std::string_view end_text = field(v, index_of(event_format, "End"));
            Cue cue;
            cue.source_line = lines.number();
            if (text_at < 0 || static_cast<size_t>(text_at) >= v.size() ||
                !take_signed_clock(start_text, cue.start_ms, BareClock::kAny) ||
                !start_text.empty() || !take_signed_clock(end_text, cue.end_ms, BareClock::kAny) ||
                !end_text.empty()) {
                result.skip(lines.number(), "Dialogue not understood");
                continue;
            }
            std::string_view style_name = field(v, index_of(event_format, "Style"));
            if (!style_name.empty() && style_name[0] == '*') style_name.remove_prefix(1);
            Style style;
            for (const Style& candidate : styles)
                if (equal_ignoring_case(candidate.name, style_name)) style = candidate;
            read_text(field(v, text_at), style, cue);
            result.cues.push_back(std::move(cue));
        }
    }
}

}  // namespace conv
