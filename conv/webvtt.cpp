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
    return take_time_span(trim(line), start, end, settings);
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
    lines.next(line);  // the WEBVTT line
    // Lines of a skipped block are passed over to its end, "-->" or not (a note
    // may hold one); only a time line ends one early.
    enum class Block {
        kSkipped,  // the header, a NOTE, STYLE or REGION block, or a cue left out
        kStart,    // after a blank line
        kNamed,    // after a cue identifier
        kText,     // a cue's text
    } block = Block::kSkipped;
    int named_at = 0;  // line of the identifier
    TaggedLines text_lines;
    auto leave_out = [&](int number, std::string_view why) {
        text_lines.flush(result.cues);
        result.skip(number, why);
        block = Block::kSkipped;
    };
    while (lines.next(line)) {
        std::string_view s = trim(line);
        if (s.empty()) {
            block = Block::kStart;
            continue;
        }
        int64_t start = 0;
        int64_t end = 0;
        std::string_view settings;
        // A time line starts a cue wherever it stands: it ends the header, a note or
        // the text of the cue before it when the blank line is missing.
        if (parse_time_line(s, start, end, settings)) {
            text_lines.flush(result.cues);
            result.cues.push_back({start, end, {}, top_setting(settings), lines.number()});
            block = Block::kText;
            continue;
        }
        if (block == Block::kSkipped) continue;
        if (block == Block::kStart &&
            (s.substr(0, 4) == "NOTE" || s.substr(0, 5) == "STYLE" || s.substr(0, 6) == "REGION")) {
            block = Block::kSkipped;
            continue;
        }
        // A line with "-->" is never text; one that is no time line is a cue that
        // cannot be read.
        if (s.find("-->") != std::string_view::npos ||
            (block != Block::kText && looks_like_time_line(s, false))) {
            leave_out(lines.number(), "time line not understood");
            continue;
        }
        switch (block) {
            case Block::kSkipped:  // passed over above
                break;
            case Block::kText: {
                // A cue number right before a time line is the next cue's identifier
                // when the blank line between them is missing.
                LineReader ahead = lines;
                std::string_view next_line;
                bool numbered = s.find_first_not_of("0123456789") == std::string_view::npos &&
                                ahead.next(next_line) &&
                                (next_line.find("-->") != std::string_view::npos ||
                                 parse_time_line(next_line, start, end, settings));
                if (!numbered) text_lines.add(line);
                break;
            }
            case Block::kStart:
                block = Block::kNamed;
                named_at = lines.number();
                break;
            case Block::kNamed:
                // An identifier and text without a time line between them.
                leave_out(named_at, "subtitle without a time");
                break;
        }
    }
    if (block == Block::kNamed) result.skip(named_at, "subtitle cut off at the end of the file");
    text_lines.flush(result.cues);
}

}  // namespace conv
