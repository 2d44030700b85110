// SubViewer 2: an optional [INFORMATION] header, then blocks of a
// "hh:mm:ss.cc,hh:mm:ss.cc" line and text lines with "[br]" for line breaks. Times
// come without a fraction too, or with a comma before it.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "conv/model.h"

namespace conv {
namespace {

// The comma between the times is the one both sides of which are whole times.
bool parse_time_line(std::string_view line, int64_t& start, int64_t& end) {
    std::string_view s = trim(line);
    for (size_t comma = s.find(','); comma != std::string_view::npos;
         comma = s.find(',', comma + 1)) {
        std::string_view first = trim(s.substr(0, comma));
        std::string_view second = trim(s.substr(comma + 1));
        if (take_signed_clock(first, start, BareClock::kWithHours) && first.empty() &&
            take_signed_clock(second, end, BareClock::kWithHours) && second.empty())
            return true;
    }
    return false;
}

}  // namespace

int probe_subviewer(std::string_view text) {
    auto fits = [](std::string_view line) {
        int64_t a, b;
        return parse_time_line(line, a, b);
    };
    return some_early_line(text, 40, fits) ? 75 : 0;
}

void read_subviewer(std::string_view text, const ConvertOptions&, ReadResult& result) {
    LineReader lines(text);
    std::string_view line;
    TaggedLines text_lines;
    bool in_text = false;
    while (lines.next(line)) {
        int64_t start = 0;
        int64_t end = 0;
        if (parse_time_line(line, start, end)) {
            text_lines.flush(result.cues);
            result.cues.push_back({start, end, {}, false, lines.number()});
            in_text = true;
        } else if (trim(line).empty()) {
            in_text = false;
        } else if (!in_text && looks_like_time_line(line, false)) {
            text_lines.flush(result.cues);
            result.skip(lines.number(), "time line not understood");
        } else if (in_text) {
            // "[br]" breaks a line as a line end does.
            std::string_view s = line;
            for (;;) {
                size_t br = s.find("[br]");
                size_t upper = s.find("[BR]");
                br = std::min(br, upper);
                text_lines.add(s.substr(0, br));
                if (br == std::string_view::npos) break;
                s.remove_prefix(br + 4);
            }
        }
    }
    text_lines.flush(result.cues);
}

}  // namespace conv
