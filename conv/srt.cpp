// SubRip: numbered blocks of a "start --> end" line and text lines, separated by
// blank lines. Real files skip numbers, blank lines or both, so a block is found by
// its time line; a block whose time line cannot be read is left out with a note,
// and its text never joins another cue.
#include <string>
#include <string_view>
#include <vector>

#include "conv/model.h"

namespace conv {
namespace {

bool parse_time_line(std::string_view line, int64_t& start, int64_t& end) {
    std::string_view rest;  // old position fields ("X1:100 X2:200 ...")
    return take_time_span(trim(line), start, end, rest);
}

bool is_number_line(std::string_view line) {
    line = trim(line);
    return !line.empty() && line.find_first_not_of("0123456789") == std::string_view::npos;
}

// A line meant as a time line that cannot be read: where a time line is due (the
// start of a block), anything made of clock-time characters; among text, only one
// that carries an arrow as well.
bool damaged_time_line(std::string_view line, bool block_start) {
    return looks_like_time_line(line, !block_start);
}

}  // namespace

int probe_subrip(std::string_view text) {
    auto fits = [](std::string_view line) {
        int64_t a, b;
        return parse_time_line(line, a, b);
    };
    if (some_early_line(text, 40, fits)) return 80;
    // Only damaged time lines: still SubRip, whose reader says what it could not read
    // (below the formats whose lines fit).
    auto damaged = [](std::string_view line) { return damaged_time_line(line, false); };
    return some_early_line(text, 40, damaged) ? 50 : 0;
}

void read_subrip(std::string_view text, const ConvertOptions&, ReadResult& result) {
    LineReader lines(text);
    TaggedLines text_lines;
    std::string_view line;
    bool block_start = true;  // at the start of the file or after a blank line
    bool in_cue = false;      // text lines belong to the last cue read
    auto leave_out = [&](int number, std::string_view why) {
        text_lines.flush(result.cues);
        result.skip(number, why);
        in_cue = false;
        block_start = false;
    };
    while (lines.next(line)) {
        int64_t start = 0;
        int64_t end = 0;
        if (parse_time_line(line, start, end)) {
            text_lines.flush(result.cues);
            result.cues.push_back({start, end, {}, false, lines.number()});
            in_cue = true;
            block_start = false;
            continue;
        }
        if (trim(line).empty()) {
            block_start = true;
            continue;
        }
        if (damaged_time_line(line, block_start)) {
            leave_out(lines.number(), "time line not understood");
            continue;
        }
        if (is_number_line(line)) {
            // The block's number when a time line (read or not) follows it, after
            // stray blank lines too.
            LineReader ahead = lines;
            std::string_view next_line;
            bool more = false;
            while ((more = ahead.next(next_line)) && trim(next_line).empty()) {
            }
            if (more &&
                (parse_time_line(next_line, start, end) || damaged_time_line(next_line, true))) {
                block_start = true;
                continue;
            }
            // A number opening a block with no time line: a cue that lost its time,
            // or the last block of a file cut short.
            if (block_start) {
                leave_out(lines.number(), more ? "subtitle without a time"
                                               : "subtitle cut off at the end of the file");
                continue;
            }
        }
        // Text before the first block is no subtitle's; a line after a stray blank
        // line still belongs to the block above it.
        if (in_cue) text_lines.add(line);
        block_start = false;
    }
    text_lines.flush(result.cues);
}

}  // namespace conv
