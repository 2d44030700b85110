// SubRip: numbered blocks of a "start --> end" line and text lines, separated by
// blank lines. Real files skip numbers, blank lines or both, so a block is found by
// its time line.
#include <string>
#include <string_view>
#include <vector>

#include "conv/model.h"

namespace conv {
namespace {

bool take_signed_clock(std::string_view& s, int64_t& ms) {
    bool negative = !s.empty() && s[0] == '-';
    if (negative) s.remove_prefix(1);
    if (!take_clock(s, ms, false)) return false;
    if (negative) ms = -ms;
    return true;
}

// "00:00:01,000 --> 00:00:02,500" with anything after it (old position fields).
bool parse_time_line(std::string_view line, int64_t& start, int64_t& end) {
    std::string_view s = trim(line);
    if (!take_signed_clock(s, start)) return false;
    s = trim(s);
    if (s.substr(0, 3) != "-->") return false;
    s.remove_prefix(3);
    s = trim(s);
    return take_signed_clock(s, end);
}

bool is_number_line(std::string_view line) {
    line = trim(line);
    return !line.empty() && line.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

int probe_subrip(std::string_view text) {
    auto fits = [](std::string_view line) {
        int64_t a, b;
        return parse_time_line(line, a, b);
    };
    return some_early_line(text, 40, fits) ? 80 : 0;
}

void read_subrip(std::string_view text, const ConvertOptions&, ReadResult& result) {
    LineReader lines(text);
    TaggedLines text_lines;
    std::string_view line;
    bool after_blank = true;
    int loose_number = 0;  // line of a number that starts no block
    while (lines.next(line)) {
        int64_t start = 0;
        int64_t end = 0;
        if (parse_time_line(line, start, end)) {
            text_lines.flush(result.cues);
            result.cues.push_back({start, end, {}, false, lines.number()});
            after_blank = false;
            loose_number = 0;
            continue;
        }
        if (trim(line).empty()) {
            after_blank = true;
            continue;
        }
        if (line.find("-->") != std::string_view::npos && (result.cues.empty() || after_blank)) {
            result.error = "line " + std::to_string(lines.number()) + ": unreadable time line";
            return;
        }
        if (is_number_line(line)) {
            LineReader ahead = lines;
            std::string_view next_line;
            bool more = ahead.next(next_line);
            if (more && parse_time_line(next_line, start, end)) continue;  // the block number
            if (after_blank) loose_number = lines.number();
        } else {
            loose_number = 0;
        }
        // Text before the first block is no subtitle's; a line after a stray blank
        // line still belongs to the block above it.
        if (!result.cues.empty()) text_lines.add(line);
    }
    if (loose_number != 0) {
        result.error =
            "line " + std::to_string(loose_number) + ": subtitle without a time (file cut short?)";
        return;
    }
    text_lines.flush(result.cues);
}

}  // namespace conv
