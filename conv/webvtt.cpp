// WebVTT: "WEBVTT", then blocks separated by blank lines: NOTE, STYLE and REGION
// blocks (skipped) and cues of an optional identifier, a "start --> end settings"
// line and text with HTML-like tags.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "conv/model.h"

namespace conv {
namespace {

// A "line:" setting in the upper fifth of the screen, or a small non-negative line
// number, puts the cue at the top.
constexpr double kTopPercent = 20.0;
constexpr double kTopLines = 4.0;

bool parse_time_line(std::string_view line, int64_t& start, int64_t& end,
                     std::string_view& settings) {
    std::string_view s = trim(line);
    if (!take_clock(s, start, false)) return false;
    s = trim(s);
    if (s.substr(0, 3) != "-->") return false;
    s.remove_prefix(3);
    s = trim(s);
    if (!take_clock(s, end, false)) return false;
    settings = s;
    return true;
}

bool top_setting(std::string_view settings) {
    size_t at = settings.find("line:");
    if (at == std::string_view::npos) return false;
    std::string_view value = settings.substr(at + 5);
    value = value.substr(0, value.find_first_of(" \t,"));
    if (value.empty()) return false;
    std::string number(value.back() == '%' ? value.substr(0, value.size() - 1) : value);
    char* end = nullptr;
    double v = std::strtod(number.c_str(), &end);
    if (end == number.c_str() || *end != '\0') return false;
    return value.back() == '%' ? v >= 0.0 && v < kTopPercent : v >= 0.0 && v < kTopLines;
}

}  // namespace

int probe_webvtt(std::string_view text) {
    return text.substr(0, 6) == "WEBVTT" &&
                   (text.size() == 6 || text[6] == '\n' || text[6] == ' ' || text[6] == '\t')
               ? 100
               : 0;
}

void read_webvtt(std::string_view text, const ConvertOptions&, ReadResult& result) {
    LineReader lines(text);
    std::string_view line;
    lines.next(line);       // the WEBVTT line
    bool skipping = false;  // inside a NOTE, STYLE or REGION block, or the header
    bool in_text = false;
    bool block_start = false;
    TaggedLines text_lines;
    skipping = true;
    while (lines.next(line)) {
        std::string_view s = trim(line);
        if (s.empty()) {
            skipping = false;
            in_text = false;
            block_start = true;
            continue;
        }
        int64_t start = 0;
        int64_t end = 0;
        std::string_view settings;
        if (!in_text && parse_time_line(s, start, end, settings)) {
            // A time line ends the header or a note without a blank line, too.
            text_lines.flush(result.cues);
            result.cues.push_back({start, end, {}, top_setting(settings), lines.number()});
            in_text = true;
            skipping = false;
            block_start = false;
            continue;
        }
        if (skipping) continue;
        if (in_text) {
            text_lines.add(line);
            continue;
        }
        if (block_start &&
            (s.substr(0, 4) == "NOTE" || s.substr(0, 5) == "STYLE" || s.substr(0, 6) == "REGION")) {
            skipping = true;
            continue;
        }
        if (s.find("-->") != std::string_view::npos) {
            result.error = "line " + std::to_string(lines.number()) + ": unreadable time line";
            return;
        }
        // Anything else is a cue identifier.
        block_start = false;
    }
    text_lines.flush(result.cues);
}

}  // namespace conv
