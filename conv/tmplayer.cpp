// TMPlayer: "hh:mm:ss:text" (also "h:mm:ss=text"), "|" between lines, and the
// multi-line form "hh:mm:ss,N=text", one line N of a subtitle on each file line.
// Lines carry no end: a subtitle stays until the next one starts, and no longer
// than a reader needs for its text.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "conv/model.h"

namespace conv {
namespace {

// How long a subtitle without an end is shown: time to read it, within bounds.
constexpr int64_t kShortestMs = 2000;
constexpr int64_t kLongestMs = 7000;
constexpr int64_t kMsPerCharacter = 70;

// Reads the start and its separator; line_number is the N of the multi-line form,
// or 0. ",N=" after whole seconds is a line number, not a fraction.
bool take_start(std::string_view& s, int64_t& ms, int& line_number) {
    line_number = 0;
    size_t comma = s.find(',');
    if (comma != std::string_view::npos && s.size() > comma + 2 && s[comma + 1] >= '1' &&
        s[comma + 1] <= '9' && s[comma + 2] == '=') {
        std::string_view clock = s.substr(0, comma);
        if (take_signed_clock(clock, ms, BareClock::kAny) && clock.empty()) {
            line_number = s[comma + 1] - '0';
            s.remove_prefix(comma + 3);
            return true;
        }
    }
    std::string_view p = s;
    if (!take_signed_clock(p, ms, BareClock::kAny)) return false;
    if (p.empty() || (p[0] != ':' && p[0] != '=')) return false;
    p.remove_prefix(1);
    s = p;
    return true;
}

// A line that begins as a time ("00:0l:23:", "00:01:75:") is a subtitle that
// cannot be read; other lines are strays between subtitles.
bool begins_as_time(std::string_view s) {
    std::string_view head = s.substr(0, 8);
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return !head.empty() && digit(head[0]) && std::count_if(head.begin(), head.end(), digit) >= 4 &&
           head.find(':') != std::string_view::npos;
}

}  // namespace

int probe_tmplayer(std::string_view text) {
    auto fits = [](std::string_view line) {
        int64_t a;
        int n;
        line = trim(line);
        return take_start(line, a, n);
    };
    return some_early_line(text, 20, fits) ? 60 : 0;
}

void read_tmplayer(std::string_view text, const ConvertOptions&, ReadResult& result) {
    std::vector<int64_t> text_sizes;  // of each cue, for the time to read it
    int last_line_number = 0;         // N of the last multi-line entry read, or 0
    for_each_filled_line(text, [&](std::string_view s, int number) {
        int64_t start = 0;
        int line_number = 0;
        if (!take_start(s, start, line_number)) {
            if (begins_as_time(s)) result.skip(number, "time not understood");
            return true;
        }
        TextBuilder builder;
        split_bars(s, builder, [&](std::string_view part) { builder.add(part, false); });
        std::vector<CueLine> lines = builder.finish();
        // The next line of the same subtitle joins it.
        if (line_number > last_line_number && last_line_number > 0 &&
            result.cues.back().start_ms == start) {
            Cue& cue = result.cues.back();
            for (CueLine& line : lines) cue.lines.push_back(std::move(line));
            text_sizes.back() += 1 + static_cast<int64_t>(s.size());
        } else {
            result.cues.push_back({start, start, std::move(lines), false, number});
            text_sizes.push_back(static_cast<int64_t>(s.size()));
        }
        last_line_number = line_number;
        return true;
    });
    for (size_t i = 0; i < result.cues.size(); ++i) {
        Cue& cue = result.cues[i];
        cue.end_ms =
            cue.start_ms + std::clamp(text_sizes[i] * kMsPerCharacter, kShortestMs, kLongestMs);
        // The next subtitle's start ends the one before it.
        if (i + 1 < result.cues.size()) {
            int64_t next = result.cues[i + 1].start_ms;
            if (next > cue.start_ms && next < cue.end_ms) cue.end_ms = next;
        }
    }
}

}  // namespace conv
