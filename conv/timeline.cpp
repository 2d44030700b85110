// Everything after a reader: cleanup, times in the player's frames, order,
// duplicates, overlap splitting, wrapping, the four-line limit and writing the
// player's file with its header.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <unordered_set>
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
// Bits of the flags word: two a line for its colour, and the top position.
constexpr int kItalicColour = 1;
constexpr int kTopFlag = 256;

struct Timed {
    int64_t start_frame;
    int64_t end_frame;
    std::vector<CueLine> lines;
    bool top;
};

struct Piece {
    int64_t start_frame;
    int64_t end_frame;
    std::vector<CueLine> lines;
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

bool same_text(const std::vector<CueLine>& a, const std::vector<CueLine>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].text != b[i].text || a[i].italic != b[i].italic) return false;
    return true;
}

// Wraps every line; when that makes more than four lines of a cue that had four or
// fewer, the lines stay as the source broke them (the player shows long lines too).
std::vector<CueLine> wrapped(const std::vector<CueLine>& lines, int width) {
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

}  // namespace

int finish_conversion(ReadResult& read, const ConvertOptions& options, std::string& output,
                      ConvertReport& report) {
    report.cues_read = static_cast<int>(read.cues.size());
    for (std::string& note : read.notes) report.notes.push_back(std::move(note));
    if (read.cues.empty()) {
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
            report.error =
                "line " + std::to_string(cue.source_line) + ": time " +
                clock_text(std::llabs(cue.start_ms) > kLongestMs ? cue.start_ms : cue.end_ms) +
                " is beyond a day";
            return kConvertFailed;
        }
        std::vector<CueLine> lines;
        for (const CueLine& line : cue.lines) {
            std::string text = clean_line(line.text);
            if (!text.empty()) lines.push_back({std::move(text), line.italic && !options.plain});
        }
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
        lines = wrapped(lines, options.wrap_width);
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
    if (cut_cues > 3)
        report.notes.push_back(plural(cut_cues, "subtitle") + " had lines beyond four cut");

    std::stable_sort(timed.begin(), timed.end(),
                     [](const Timed& a, const Timed& b) { return a.start_frame < b.start_frame; });
    // Exact duplicates (same frames, same text, same place) show nothing new.
    std::vector<Timed> unique;
    unique.reserve(timed.size());
    std::unordered_set<std::string> seen;
    for (Timed& t : timed) {
        std::string key = std::to_string(t.start_frame) + ' ' + std::to_string(t.end_frame) +
                          (t.top ? " t" : " b");
        for (const CueLine& line : t.lines) key += (line.italic ? "\n/" : "\n") + line.text;
        if (seen.insert(std::move(key)).second)
            unique.push_back(std::move(t));
        else
            ++duplicates;
    }

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
    std::vector<Piece> pieces;
    std::set<size_t> active;  // indexes into unique: the oldest first
    std::vector<size_t> first_piece(unique.size(), 0);
    size_t active_lines = 0;
    size_t active_bottom = 0;  // active cues not asking for the top
    size_t next_start = 0;
    size_t next_end = 0;
    int crowded = 0;
    auto release = [&](size_t k) {
        active.erase(k);
        active_lines -= unique[k].lines.size();
        if (!unique[k].top) --active_bottom;
        if (pieces.size() - first_piece[k] > 1) ++report.cues_split;
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
            first_piece[k] = pieces.size();
        }
        if (active.empty()) continue;
        Piece piece{from, to, {}, active_bottom == 0, static_cast<int>(active.size())};
        for (auto it = active.begin(); it != active.end() && piece.lines.size() < kMaxLines; ++it)
            for (const CueLine& line : unique[*it].lines)
                if (piece.lines.size() < kMaxLines) piece.lines.push_back(line);
        if (active_lines > kMaxLines) {
            ++crowded;
            if (crowded == 1)
                report.notes.push_back("overlapping subtitles at " + clock_text(from * kFrameMs) +
                                       " need " + std::to_string(active_lines) +
                                       " lines; those beyond four are not shown there");
        }
        // A stretch that shows the same as the one before it continues it.
        if (!pieces.empty() && pieces.back().end_frame == from && pieces.back().top == piece.top &&
            same_text(pieces.back().lines, piece.lines)) {
            pieces.back().end_frame = to;
            continue;
        }
        pieces.push_back(std::move(piece));
    }
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
    if (pieces.empty()) {
        report.error = "no subtitle left to write";
        return kConvertFailed;
    }
    for (const Piece& p : pieces)
        if (p.cues > 1) ++report.cues_merged;
    report.cues_written = static_cast<int>(pieces.size());

    std::string name = sanitised_source_name(options.source_name);
    output.clear();
    output.reserve(pieces.size() * 64 + 64);
    output += "[KTF2: " + std::to_string(pieces.size()) + " 0 ";
    if (!name.empty()) output += "converted from " + name;
    output += "]\n";
    int long_texts = 0;
    char prefix[64];
    for (const Piece& p : pieces) {
        int flags = p.top ? kTopFlag : 0;
        std::string text;
        for (size_t i = 0; i < p.lines.size(); ++i) {
            if (i > 0) text += '|';
            text += p.lines[i].text;
            if (p.lines[i].italic) flags |= kItalicColour << (2 * i);
        }
        if (text.size() > kMaxTextBytes) {
            ++long_texts;
            cut_utf8(text, kMaxTextBytes);
        }
        // A text that begins with a brace would be read as the flags group.
        if (flags != 0 || text[0] == '{')
            std::snprintf(prefix, sizeof prefix, "{%lld}{%lld}{%d}",
                          static_cast<long long>(p.start_frame),
                          static_cast<long long>(p.end_frame), flags);
        else
            std::snprintf(prefix, sizeof prefix, "{%lld}{%lld}",
                          static_cast<long long>(p.start_frame),
                          static_cast<long long>(p.end_frame));
        output += prefix;
        output += text;
        output += '\n';
    }
    if (long_texts > 0)
        report.notes.push_back(plural(long_texts, "subtitle") + " cut to " +
                               std::to_string(kMaxTextBytes) + " bytes");
    return kConvertOk;
}

}  // namespace conv
