// MicroDVD: "{start}{end}text" in video frames, "|" between lines, "{y:i}"-style
// codes. A first cue from frame 0 or 1 whose text is a plausible frame rate
// ("{1}{1}23.976", "{0}{0}25.0", "{1}{1}29,97", "{1}{100}25.000") declares the rate
// the file was made for.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "conv/model.h"

namespace conv {
namespace {

// Rates of film and video lie well inside these; a number outside is text.
constexpr double kLowestRate = 10.0;
constexpr double kHighestRate = 120.0;

// A frame rate written as a plain decimal number with a point or a comma, or 0.
double rate_of(std::string_view text) {
    text = trim(text);
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789.,") != std::string_view::npos)
        return 0.0;
    std::string number(text);
    std::replace(number.begin(), number.end(), ',', '.');
    char* end = nullptr;
    double rate = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size()) return 0.0;  // "25.0.1", "29,97,5"
    return rate >= kLowestRate && rate <= kHighestRate ? rate : 0.0;
}

// Reads one line's text with its "{y:i}" codes; "/" at the start also means italics
// in many files.
void add_line(std::string_view s, bool cue_italic, TextBuilder& builder, bool& top) {
    bool italic = cue_italic;
    s = trim(s);
    if (!s.empty() && s[0] == '/') {
        italic = true;
        s.remove_prefix(1);
    }
    while (!s.empty()) {
        MicroDvdCode code;
        if (take_microdvd_code(s, code)) {
            italic = italic || code.italic();
            top = top || code.top();
            continue;
        }
        size_t stop = s.find('{', 1);
        if (stop == std::string_view::npos) stop = s.size();
        builder.add(s.substr(0, stop), italic);
        s.remove_prefix(stop);
    }
}

}  // namespace

int probe_microdvd(std::string_view text) {
    auto fits = [](std::string_view line) {
        int64_t a;
        std::optional<int64_t> b;
        line = trim(line);
        return take_pair(line, '{', '}', a, b);
    };
    return some_early_line(text, 20, fits) ? 70 : 0;
}

void read_microdvd(std::string_view text, const ConvertOptions& options, ReadResult& result) {
    double fps = options.fps;
    bool first = true;
    for_each_filled_line(text, [&](std::string_view s, int number) {
        int64_t start = 0;
        std::optional<int64_t> end;
        if (!take_pair(s, '{', '}', start, end)) {
            if (s[0] == '{') result.skip(number, "frames not understood");
            return true;  // else a stray line between cues
        }
        if (first && start >= 0 && start <= 1 && rate_of(s) > 0.0) {
            fps = rate_of(s);
            result.notes.push_back("frame rate " + std::string(trim(s)) + " from the file");
            first = false;
            return true;
        }
        first = false;
        Cue cue;
        cue.source_line = number;
        cue.start_ms = std::llround(static_cast<double>(start) * 1000.0 / fps);
        cue.end_ms = end ? std::llround(static_cast<double>(*end) * 1000.0 / fps) : cue.start_ms;
        cue.open_end = !end;
        // Upper-case codes before the first line ("{Y:i}") are for the whole cue.
        bool cue_italic = false;
        for (std::string_view p = s;;) {
            MicroDvdCode code;
            if (!take_microdvd_code(p, code) || !code.whole_cue()) break;
            cue_italic = cue_italic || code.italic();
            cue.top = cue.top || code.top();
            s = p;
        }
        TextBuilder builder;
        split_bars(s, builder,
                   [&](std::string_view part) { add_line(part, cue_italic, builder, cue.top); });
        cue.lines = builder.finish();
        result.cues.push_back(std::move(cue));
        return true;
    });
}

}  // namespace conv
