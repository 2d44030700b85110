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
// A cue that ends before it starts is shown this long, as the player does.
constexpr int64_t kDefaultDurationMs = 2000;
constexpr size_t kMaxLines = 4;
// The player reads a file line into 1000 bytes; the text keeps well inside that.
constexpr size_t kMaxTextBytes = 900;
// Room for the header line in front of the file.
constexpr size_t kHeaderRoom = 64;
// Bits of the flags word: two a line for its colour, and the top position.
constexpr int kItalicColour = 1;
constexpr int kTopFlag = 256;

struct Timed {
    int64_t start_frame;
    int64_t end_frame;
    std::vector<CueLine> lines;
    bool top;
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

// Wraps every line; when that makes more than four lines of a cue that had four or
// fewer, the lines stay as the source broke them (the player shows long lines too).
std::vector<CueLine> wrapped(std::vector<CueLine> lines, int width) {
    bool fits = std::all_of(lines.begin(), lines.end(), [&](const CueLine& line) {
        return width <= 0 || line.text.size() <= static_cast<size_t>(width);
    });
    if (fits) return lines;
    std::vector<CueLine> out;
    for (const CueLine& line : lines)
        for (std::string& piece : wrap_line(line.text, width))
            out.push_back({std::move(piece), line.italic});
    if (out.size() > kMaxLines && lines.size() <= kMaxLines) return lines;
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
    int duplicates = 0;
    int cut_cues = 0;
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
        if (end <= start) {
            ++reversed;
            end = start + kDefaultDurationMs;
        }
        start += offset_ms;
        end += offset_ms;
        if (end <= 0) {
            ++before_zero;
            continue;
        }
        start = std::max<int64_t>(start, 0);
        lines = wrapped(std::move(lines), options.wrap_width);
        if (lines.size() > kMaxLines) {
            std::vector<CueLine> lost(lines.begin() + kMaxLines, lines.end());
            lines.resize(kMaxLines);
            ++cut_cues;
            if (cut_cues <= 3)
                report.notes.push_back("subtitle at " + clock_text(start) + ": " +
                                       plural(static_cast<int>(lost.size()), "line") +
                                       " beyond four cut: \"" + joined(lost) + "\"");
        }
        // Round to the nearest frame; a cue keeps at least one frame.
        int64_t start_frame = (start + kFrameMs / 2) / kFrameMs;
        int64_t end_frame = (end + kFrameMs / 2) / kFrameMs;
        if (end_frame <= start_frame) end_frame = start_frame + 1;
        timed.push_back({start_frame, end_frame, std::move(lines), cue.top});
    }
    finish_skipped();
    if (timed.empty() && empty == 0 && before_zero == 0) {
        report.error = "no subtitles found";  // every cue's time was out of reach
        return kConvertFailed;
    }
    if (cut_cues > 3)
        report.notes.push_back(plural(cut_cues, "subtitle") + " had lines beyond four cut");
    std::vector<Cue>().swap(read.cues);  // their texts live in timed now

    std::stable_sort(timed.begin(), timed.end(),
                     [](const Timed& a, const Timed& b) { return a.start_frame < b.start_frame; });
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
    if (reversed > 0)
        report.notes.push_back(plural(reversed, "subtitle") +
                               " ending before its start shown for 2 s");
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
