// Everything after a reader: cleanup, times in the player's frames, order,
// duplicates, overlap splitting, wrapping, the four-line limit and writing the
// player's file with its header.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "conv/model.h"

namespace conv {
namespace {

// The player counts frames of this many ms.
constexpr int64_t kFrameMs = 40;
// Times beyond a day are no film's: the file is broken.
constexpr int64_t kLongestMs = 24LL * 3600 * 1000;
// A cue that ends before it starts, or has no end, is shown this long (as the player
// does), but no longer than until the next one starts.
constexpr int64_t kDefaultDurationMs = 2000;
constexpr size_t kMaxLines = 4;
// The widest a line may be wrapped to fit a subtitle into four lines. The player's
// band is 628 pixels wide; at its smallest text size an average character of the
// font takes about 9.3 of them, so the band holds about 67: 60 leaves room for text
// of wider letters than the average.
constexpr int kWidestWrap = 60;
// An overlap shorter than this, or than a fifth of the shorter cue, is a timing
// slip rather than two subtitles at once.
constexpr int64_t kSlipMs = 250;
constexpr int64_t kSlipFraction = 5;
// The player reads a file line into 1000 bytes; the text keeps well inside that.
constexpr size_t kMaxTextBytes = 900;
// Room for the header line in front of the file.
constexpr size_t kHeaderRoom = 64;
// Bits of the flags word: two a line for its colour, and the top position.
constexpr int kItalicColour = 1;
constexpr int kTopFlag = 256;

struct Timed {
    int64_t start_ms;
    int64_t end_ms;
    std::vector<CueLine> lines;
    bool top;
    bool default_end = false;  // given kDefaultDurationMs for want of a usable end
    int64_t start_frame = 0;
    int64_t end_frame = 0;
};

// A stretch of time and the lines it shows, pointing into the cues.
struct Piece {
    int64_t start_frame;
    int64_t end_frame;
    std::array<const CueLine*, kMaxLines> lines;
    size_t count;
    bool top;
    int cues;
};

std::string plural(int n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Cuts a UTF-8 string to at most max bytes without splitting a character.
void cut_utf8(std::string& s, size_t max) {
    if (s.size() <= max) return;
    size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    s.resize(n);
}

std::string sanitised_source_name(std::string_view name) {
    size_t slash = name.find_last_of('/');
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    std::string out;
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 32 && c != 0x7F) out += c;
    cut_utf8(out, 200);
    if (out == "." || out == "..") out.clear();
    return out;
}

bool same_text(const Piece& a, const Piece& b) {
    if (a.count != b.count) return false;
    for (size_t i = 0; i < a.count; ++i)
        if (a.lines[i]->text != b.lines[i]->text || a.lines[i]->italic != b.lines[i]->italic)
            return false;
    return true;
}

// Orders cues by everything that makes them the same, so duplicates end up side by side.
bool before(const Timed& a, const Timed& b) {
    if (a.start_frame != b.start_frame) return a.start_frame < b.start_frame;
    if (a.end_frame != b.end_frame) return a.end_frame < b.end_frame;
    if (a.top != b.top) return a.top < b.top;
    return std::lexicographical_compare(a.lines.begin(), a.lines.end(), b.lines.begin(),
                                        b.lines.end(), [](const CueLine& x, const CueLine& y) {
                                            return x.text != y.text ? x.text < y.text
                                                                    : x.italic < y.italic;
                                        });
}

// Characters of a UTF-8 string (continuation bytes not counted).
size_t characters(std::string_view s) {
    return static_cast<size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::vector<CueLine> wrapped(const std::vector<CueLine>& lines, int width) {
    std::vector<CueLine> out;
    for (const CueLine& line : lines)
        for (std::string& piece : wrap_line(line.text, width))
            out.push_back({std::move(piece), line.italic});
    return out;
}

// Wraps the lines of a subtitle at width, as the source broke them. When that needs
// more than four lines, the wrap is widened up to kWidestWrap; when the source's own
// breaks are too many, its lines are joined and wrapped again. Only what does not
// fit four lines of the widest wrap is left beyond four (cut by the caller).
// rebalanced tells whether the result is wider than width or joined.
std::vector<CueLine> fitted(std::vector<CueLine> lines, int width, bool& rebalanced) {
    rebalanced = false;
    if (width <= 0) width = kWidestWrap;
    bool fits = std::all_of(lines.begin(), lines.end(), [&](const CueLine& line) {
        return characters(line.text) <= static_cast<size_t>(width);
    });
    if (fits && lines.size() <= kMaxLines) return lines;
    std::vector<CueLine> out = wrapped(lines, width);
    if (out.size() <= kMaxLines) return out;
    rebalanced = true;
    int widest = std::max(width, kWidestWrap);
    // Fewer lines for each wider wrap; the narrowest that fits is the most even.
    if (out.size() > lines.size()) {
        for (int w = width + 1; w <= widest; ++w) {
            out = wrapped(lines, w);
            if (out.size() <= kMaxLines) return out;
        }
    }
    CueLine joined{lines[0].text, lines[0].italic};
    for (size_t i = 1; i < lines.size(); ++i) {
        joined.text += ' ';
        joined.text += lines[i].text;
        joined.italic = joined.italic && lines[i].italic;
    }
    std::vector<CueLine> one{std::move(joined)};
    for (int w = width; w <= widest; ++w) {
        out = wrapped(one, w);
        if (out.size() <= kMaxLines) return out;
    }
    return out;
}

std::string joined(const std::vector<CueLine>& lines) {
    std::string s;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) s += " / ";
        s += lines[i].text;
    }
    return s;
}

// Appends one line of the player's file for a piece.
void write_piece(const Piece& p, std::string& output, int& long_texts) {
    int flags = p.top ? kTopFlag : 0;
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "{%lld}{%lld}", static_cast<long long>(p.start_frame),
                  static_cast<long long>(p.end_frame));
    output += prefix;
    size_t text_at = output.size();
    for (size_t i = 0; i < p.count; ++i) {
        if (i > 0) output += '|';
        output += p.lines[i]->text;
        if (p.lines[i]->italic) flags |= kItalicColour << (2 * i);
    }
    if (output.size() - text_at > kMaxTextBytes) {
        ++long_texts;
        std::string text = output.substr(text_at);
        cut_utf8(text, kMaxTextBytes);
        output.resize(text_at);
        output += text;
    }
    // A text that begins with a brace would be read as the flags group.
    if (flags != 0 || output[text_at] == '{') {
        std::snprintf(prefix, sizeof prefix, "{%d}", flags);
        output.insert(text_at, prefix);
    }
    output += '\n';
}

}  // namespace

int finish_conversion(ReadResult& read, const ConvertOptions& options, std::string& output,
                      ConvertReport& report) {
    report.cues_read = static_cast<int>(read.cues.size());
    for (std::string& note : read.notes) report.notes.push_back(std::move(note));
    // A cue whose time cannot be meant is left out like one that cannot be read.
    auto skip = [&](const Cue& cue, std::string why) {
        --report.cues_read;
        if (++read.skipped <= kSkipNotes)
            report.notes.push_back("line " + std::to_string(cue.source_line) + ": " + why +
                                   ", cue skipped");
    };
    auto finish_skipped = [&] {
        report.cues_skipped = read.skipped;
        if (read.skipped > kSkipNotes)
            report.notes.push_back(plural(read.skipped, "unreadable cue") + " skipped in all");
    };
    if (read.cues.empty()) {
        finish_skipped();
        report.error = "no subtitles found";
        return kConvertFailed;
    }
    if (!std::isfinite(options.offset_seconds) || std::fabs(options.offset_seconds) > 86400) {
        report.error = "offset out of range";
        return kConvertFailed;
    }
    int64_t offset_ms = std::llround(options.offset_seconds * 1000.0);

    int empty = 0;
    int before_zero = 0;
    int reversed = 0;
    int no_length = 0;
    int duplicates = 0;
    int cut_cues = 0;
    int rebalanced_cues = 0;
    int slips = 0;
    std::vector<Timed> timed;
    timed.reserve(read.cues.size());
    for (size_t i = 0; i < read.cues.size(); ++i) {
        Cue& cue = read.cues[i];
        if (std::max(std::llabs(cue.start_ms), std::llabs(cue.end_ms)) > kLongestMs) {
            skip(cue,
                 "time " +
                     clock_text(std::llabs(cue.start_ms) > kLongestMs ? cue.start_ms : cue.end_ms) +
                     " is beyond a day");
            continue;
        }
        std::vector<CueLine> lines = std::move(cue.lines);
        for (CueLine& line : lines) {
            line.text = clean_line(line.text);
            line.italic = line.italic && !options.plain;
        }
        std::erase_if(lines, [](const CueLine& line) { return line.text.empty(); });
        if (lines.empty()) {
            ++empty;
            continue;
        }
        int64_t start = cue.start_ms;
        int64_t end = cue.end_ms;
        bool default_end = cue.open_end || end < start;
        if (default_end) {
            if (!cue.open_end) ++reversed;
            end = start + kDefaultDurationMs;
        }
        start += offset_ms;
        end += offset_ms;
        if (end <= 0) {
            ++before_zero;
            continue;
        }
        // Kept as a cue of a few ms is: rounding to frames gives it the one frame every
        // cue keeps, and the text is not lost.
        if (end == start && ++no_length <= kSkipNotes)
            report.notes.push_back("line " + std::to_string(cue.source_line) + ": subtitle at " +
                                   clock_text(cue.start_ms) +
                                   " has no length, shown for one frame");
        start = std::max<int64_t>(start, 0);
        bool rebalanced = false;
        lines = fitted(std::move(lines), options.wrap_width, rebalanced);
        if (rebalanced && lines.size() <= kMaxLines) ++rebalanced_cues;
        if (lines.size() > kMaxLines) {
            std::vector<CueLine> lost(lines.begin() + kMaxLines, lines.end());
            lines.resize(kMaxLines);
            ++cut_cues;
            if (cut_cues <= 3)
                report.notes.push_back("subtitle at " + clock_text(start) + ": " +
                                       plural(static_cast<int>(lost.size()), "line") +
                                       " beyond four cut: \"" + joined(lost) + "\"");
        }
        timed.push_back({start, end, std::move(lines), cue.top, default_end});
    }
    finish_skipped();
    if (timed.empty() && empty == 0 && before_zero == 0) {
        report.error = "no subtitles found";  // every cue's time was out of reach
        return kConvertFailed;
    }
    if (rebalanced_cues > 0)
        report.notes.push_back(plural(rebalanced_cues, "subtitle") + " wrapped wider than " +
                               std::to_string(options.wrap_width) +
                               " characters or joined to fit in four lines");
    if (cut_cues > 3)
        report.notes.push_back(plural(cut_cues, "subtitle") + " had lines beyond four cut");
    std::vector<Cue>().swap(read.cues);  // their texts live in timed now

    std::stable_sort(timed.begin(), timed.end(),
                     [](const Timed& a, const Timed& b) { return a.start_ms < b.start_ms; });
    // A default end reaches no further than the next start: shown on, the cue would
    // stand above the next one's text as if both were said at once.
    for (size_t k = 0; k < timed.size(); ++k) {
        if (!timed[k].default_end) continue;
        auto later = std::upper_bound(
            timed.begin() + static_cast<std::ptrdiff_t>(k) + 1, timed.end(), timed[k].start_ms,
            [](int64_t start, const Timed& t) { return start < t.start_ms; });
        if (later != timed.end() && later->start_ms < timed[k].end_ms)
            timed[k].end_ms = later->start_ms;
    }
    // A cue that the next one overlaps only by a slip ends where the next starts, so
    // that no flash of both texts shows. A cue that starts at the same time or lies
    // within the first is shown with it.
    for (size_t k = 0; k < timed.size(); ++k) {
        Timed& first = timed[k];
        size_t j = k + 1;
        while (j < timed.size() && timed[j].start_ms == first.start_ms) ++j;
        if (j == timed.size()) break;
        const Timed& next = timed[j];
        if (next.start_ms >= first.end_ms || next.end_ms <= first.end_ms) continue;
        int64_t overlap = first.end_ms - next.start_ms;
        int64_t shorter = std::min(first.end_ms - first.start_ms, next.end_ms - next.start_ms);
        if (overlap < kSlipMs || overlap * kSlipFraction < shorter) {
            first.end_ms = next.start_ms;
            ++slips;
        }
    }
    // Round to the nearest frame; a cue keeps at least one frame.
    for (Timed& t : timed) {
        t.start_frame = (t.start_ms + kFrameMs / 2) / kFrameMs;
        t.end_frame = (t.end_ms + kFrameMs / 2) / kFrameMs;
        if (t.end_frame <= t.start_frame) t.end_frame = t.start_frame + 1;
    }
    // Exact duplicates (same frames, same text, same place) show nothing new.
    {
        std::vector<size_t> order(timed.size());
        for (size_t k = 0; k < order.size(); ++k) order[k] = k;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return before(timed[a], timed[b]); });
        std::vector<bool> repeated(timed.size(), false);
        for (size_t k = 1; k < order.size(); ++k)
            if (!before(timed[order[k - 1]], timed[order[k]])) repeated[order[k]] = true;
        size_t kept = 0;
        for (size_t k = 0; k < timed.size(); ++k) {
            if (repeated[k]) {
                ++duplicates;
            } else {
                if (kept != k) timed[kept] = std::move(timed[k]);
                ++kept;
            }
        }
        timed.resize(kept);
    }
    const std::vector<Timed>& unique = timed;

    // Sweep the frame boundaries: each stretch between two shows every cue active in
    // it, the one that started first on top. Cues are taken in start order and let go
    // in end order, so a file of many overlaps costs no more than a sorted one.
    std::vector<int64_t> bounds;
    bounds.reserve(unique.size() * 2);
    std::vector<size_t> by_end(unique.size());
    for (size_t k = 0; k < unique.size(); ++k) {
        bounds.push_back(unique[k].start_frame);
        bounds.push_back(unique[k].end_frame);
        by_end[k] = k;
    }
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    std::sort(by_end.begin(), by_end.end(),
              [&](size_t a, size_t b) { return unique[a].end_frame < unique[b].end_frame; });
    // The file is written as the sweep goes; the header, which needs the count, is put
    // in front at the end into room reserved for it.
    std::string name = sanitised_source_name(options.source_name);
    size_t estimate = 0;
    for (const Timed& t : unique) {
        estimate += 24;
        for (const CueLine& line : t.lines) estimate += line.text.size() + 1;
    }
    output.clear();
    output.reserve(estimate + kHeaderRoom + name.size());
    int long_texts = 0;
    int written = 0;
    Piece pending{};
    std::set<size_t> active;  // indexes into unique: the oldest first
    std::vector<int> first_piece(unique.size(), 0);
    size_t active_lines = 0;
    size_t active_bottom = 0;  // active cues not asking for the top
    size_t next_start = 0;
    size_t next_end = 0;
    int crowded = 0;
    auto emit = [&] {
        if (pending.count == 0) return;
        write_piece(pending, output, long_texts);
        ++written;
        if (pending.cues > 1) ++report.cues_merged;
        pending.count = 0;
    };
    auto release = [&](size_t k) {
        active.erase(k);
        active_lines -= unique[k].lines.size();
        if (!unique[k].top) --active_bottom;
        int pieces = written + (pending.count > 0 ? 1 : 0);
        if (pieces - first_piece[k] > 1) ++report.cues_split;
    };
    for (size_t b = 0; b + 1 < bounds.size(); ++b) {
        int64_t from = bounds[b];
        int64_t to = bounds[b + 1];
        while (next_end < by_end.size() && unique[by_end[next_end]].end_frame <= from)
            release(by_end[next_end++]);
        while (next_start < unique.size() && unique[next_start].start_frame <= from) {
            size_t k = next_start++;
            active.insert(k);
            active_lines += unique[k].lines.size();
            if (!unique[k].top) ++active_bottom;
            first_piece[k] = written + (pending.count > 0 ? 1 : 0);
        }
        if (active.empty()) continue;
        Piece piece{from, to, {}, 0, active_bottom == 0, static_cast<int>(active.size())};
        for (auto it = active.begin(); it != active.end() && piece.count < kMaxLines; ++it)
            for (const CueLine& line : unique[*it].lines)
                if (piece.count < kMaxLines) piece.lines[piece.count++] = &line;
        if (active_lines > kMaxLines) {
            ++crowded;
            if (crowded == 1)
                report.notes.push_back("overlapping subtitles at " + clock_text(from * kFrameMs) +
                                       " need " + std::to_string(active_lines) +
                                       " lines; those beyond four are not shown there");
        }
        // A stretch that shows the same as the one before it continues it.
        if (pending.count > 0 && pending.end_frame == from && pending.top == piece.top &&
            same_text(pending, piece)) {
            pending.end_frame = to;
            continue;
        }
        emit();
        pending = piece;
    }
    emit();
    while (next_end < by_end.size()) release(by_end[next_end++]);
    if (crowded > 1)
        report.notes.push_back(plural(crowded, "stretch") +
                               " of overlapping subtitles needed more than four lines");

    report.cues_dropped = empty + before_zero + duplicates;
    if (empty > 0) report.notes.push_back(plural(empty, "empty subtitle") + " dropped");
    if (before_zero > 0)
        report.notes.push_back(plural(before_zero, "subtitle") + " ending at or before 0 dropped");
    if (duplicates > 0) report.notes.push_back(plural(duplicates, "duplicate") + " dropped");
    if (slips > 0)
        report.notes.push_back(plural(slips, "short overlap") +
                               " removed: the earlier subtitle ends where the next starts");
    if (no_length > kSkipNotes)
        report.notes.push_back(plural(no_length, "subtitle") +
                               " of no length shown for one frame in all");
    if (reversed > 0)
        report.notes.push_back(plural(reversed, "subtitle") +
                               " ending before its start shown for up to 2 s");
    if (long_texts > 0)
        report.notes.push_back(plural(long_texts, "subtitle") + " cut to " +
                               std::to_string(kMaxTextBytes) + " bytes");
    if (written == 0) {
        output.clear();
        report.error = "no subtitle left to write";
        return kConvertFailed;
    }
    report.cues_written = written;
    std::string header = "[KTF2: " + std::to_string(written) + " 0 ";
    if (!name.empty()) header += "converted from " + name;
    header += "]\n";
    output.insert(0, header);
    return kConvertOk;
}

}  // namespace conv
