// TMPlayer: "hh:mm:ss:text" (also "h:mm:ss=text"), "|" between lines. Lines carry
// no end: a subtitle stays until the next one starts, and no longer than a reader
// needs for its text.
#include <algorithm>
#include <string>
#include <string_view>

#include "conv/model.h"

namespace conv {
namespace {

// How long a subtitle without an end is shown: time to read it, within bounds.
constexpr int64_t kShortestMs = 2000;
constexpr int64_t kLongestMs = 7000;
constexpr int64_t kMsPerCharacter = 70;

bool take_start(std::string_view& s, int64_t& ms) {
    std::string_view p = s;
    if (!take_clock(p, ms, true)) return false;
    if (p.empty() || (p[0] != ':' && p[0] != '=')) return false;
    p.remove_prefix(1);
    s = p;
    return true;
}

}  // namespace

int probe_tmplayer(std::string_view text) {
    auto fits = [](std::string_view line) {
        int64_t a;
        line = trim(line);
        return take_start(line, a);
    };
    return some_early_line(text, 20, fits) ? 60 : 0;
}

void read_tmplayer(std::string_view text, const ConvertOptions&, ReadResult& result) {
    for_each_filled_line(text, [&](std::string_view s, int number) {
        int64_t start = 0;
        if (!take_start(s, start)) return true;  // a stray line between cues
        Cue cue;
        cue.source_line = number;
        cue.start_ms = start;
        TextBuilder builder;
        split_bars(s, builder, [&](std::string_view part) { builder.add(part, false); });
        cue.lines = builder.finish();
        int64_t reading = static_cast<int64_t>(s.size()) * kMsPerCharacter;
        cue.end_ms = start + std::clamp(reading, kShortestMs, kLongestMs);
        result.cues.push_back(std::move(cue));
        return true;
    });
    // The next subtitle's start ends the one before it.
    for (size_t i = 0; i + 1 < result.cues.size(); ++i) {
        int64_t next = result.cues[i + 1].start_ms;
        if (next > result.cues[i].start_ms && next < result.cues[i].end_ms)
            result.cues[i].end_ms = next;
    }
}

}  // namespace conv
