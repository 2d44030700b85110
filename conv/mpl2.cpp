// MPL2: "[start][end]text" in tenths of a second, "|" between lines, "/" at the
// start of a line for italics.
#include <optional>
#include <string>
#include <string_view>

#include "conv/model.h"

namespace conv {

int probe_mpl2(std::string_view text) {
    auto fits = [](std::string_view line) {
        int64_t a;
        std::optional<int64_t> b;
        line = trim(line);
        return take_pair(line, '[', ']', a, b);
    };
    return some_early_line(text, 20, fits) ? 70 : 0;
}

void read_mpl2(std::string_view text, const ConvertOptions&, ReadResult& result) {
    for_each_filled_line(text, [&](std::string_view s, int number) {
        int64_t start = 0;
        std::optional<int64_t> end;
        if (!take_pair(s, '[', ']', start, end)) {
            if (s[0] == '[') result.skip(number, "times not understood");
            return true;  // else a stray line between cues
        }
        Cue cue;
        cue.source_line = number;
        cue.start_ms = start * 100;
        cue.end_ms = end ? *end * 100 : cue.start_ms;
        cue.open_end = !end;
        TextBuilder builder;
        split_bars(s, builder, [&](std::string_view part) {
            part = trim(part);
            bool italic = !part.empty() && part[0] == '/';
            if (italic) part.remove_prefix(1);
            builder.add(part, italic);
        });
        cue.lines = builder.finish();
        result.cues.push_back(std::move(cue));
        return true;
    });
}

}  // namespace conv
