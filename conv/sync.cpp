// Conversion with the cues aligned to a reference: reading, aligning, and the
// timeline and writer as a plain conversion has them.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "conv/align.h"
#include "conv/model.h"

namespace conv {
namespace {

// The player's own files: a header "[KTF2: COUNT OFFSET ]", then COUNT lines
// "{START}{END}TEXT" (or "{START}{END}{FLAGS}TEXT") in frames of 40 ms, every one
// shown OFFSET frames later.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kPlayerHeader = "[KTF2:";
constexpr int64_t kMsPerFrame = 40;
// How long the player shows a subtitle that does not end after its start.
constexpr int64_t kFallbackMs = 2000;

std::string_view without_mark(std::string_view text) {
    return text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text;
}

bool is_player_file(std::span<const uint8_t> head) {
    return without_mark({reinterpret_cast<const char*>(head.data()), head.size()})
        .starts_with(kPlayerHeader);
}

// Reads "{N}" at the front of line: a frame number as the player takes it (32 bits).
bool take_frame(std::string_view& line, int64_t& frame) {
    uint32_t value = 0;
    if (!line.starts_with('{')) return false;
    const char* end = line.data() + line.size();
    const auto [after, ec] = std::from_chars(line.data() + 1, end, value);
    if (ec != std::errc() || after == end || *after != '}') return false;
    line.remove_prefix(static_cast<size_t>(after + 1 - line.data()));
    frame = value;
    return true;
}

// The times the player shows the subtitles of its own file at, as it reads them: a
// header or a line it would refuse fails with the line named.
int read_player_file(std::string_view text, std::vector<TimeSpan>& spans, std::string& error) {
    text = without_mark(text);
    const size_t header_end = std::min(text.find('\n'), text.size());
    const std::string header(text.substr(0, std::min<size_t>(header_end, 64)));
    long long count = 0, offset = 0;
    if (std::sscanf(header.c_str(), "[KTF2: %lld %lld", &count, &offset) != 2 || count <= 0 ||
        offset < 0 || offset > UINT32_MAX) {
        error = "line 1: not a header of the player's format";
        return kConvertFailed;
    }
    text.remove_prefix(std::min(header_end + 1, text.size()));
    for (long long i = 0; i < count; ++i) {
        const std::string number = std::to_string(i + 2);
        if (text.empty()) {
            error = "line " + number + ": the file ends before its " + std::to_string(count) +
                    " subtitles";
            return kConvertFailed;
        }
        std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(line.size() + 1, text.size()));
        int64_t start = 0, end = 0;
        if (!take_frame(line, start) || !take_frame(line, end)) {
            error = "line " + number + ": not a subtitle line of the player's format";
            return kConvertFailed;
        }
        start = (start + offset) * kMsPerFrame;
        end = (end + offset) * kMsPerFrame;
        spans.push_back({start, end > start ? end : start + kFallbackMs});
    }
    return kConvertOk;
}

// The music signs a song's lines are set between: ♪ ♫ ♬, and "#" in plain ASCII files.
size_t music_sign_length(std::string_view text, size_t at) {
    if (text[at] == '#') return 1;
    const std::string_view rest = text.substr(at);
    for (const std::string_view sign : {"\u266A", "\u266B", "\u266C"})
        if (rest.starts_with(sign)) return sign.size();
    return 0;
}

// A letter or digit: ASCII ones, and any other UTF-8 character but the punctuation of
// Latin-1 (C2 xx: ¡ ¿ « » ...) and of the general punctuation block (E2 80 xx: – — …).
bool is_word_byte(std::string_view text, size_t at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) return std::isalnum(c) != 0;
    if (c < 0xC0) return false;  // a continuation byte: its lead byte decided
    if (c == 0xC2) return false;
    return !(c == 0xE2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) == 0x80);
}

// Leaves out "NAME:" at the start of a line: a speaker's label is no speech.
std::string without_label(std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::string(line);
    for (size_t i = 0; i < colon; ++i)
        if (std::islower(static_cast<unsigned char>(line[i]))) return std::string(line);
    return std::string(line.substr(colon + 1));
}

}  // namespace

bool is_sound_description(const Cue& cue) {
    std::string text;
    for (const CueLine& line : cue.lines) text += line.text + "\n";
    // What is left outside brackets, parentheses and songs, line by line.
    std::string left;
    bool described = false;
    for (size_t at = 0; at < text.size();) {
        const char c = text[at];
        const char close = c == '[' ? ']' : c == '(' ? ')' : '\0';
        if (close != '\0') {
            const size_t end = text.find(close, at + 1);
            described = true;
            at = end == std::string::npos ? text.size() : end + 1;
            continue;
        }
        if (const size_t sign = music_sign_length(text, at)) {
            // A song runs to the next sign or the line's end.
            size_t end = at + sign;
            while (end < text.size() && text[end] != '\n' && music_sign_length(text, end) == 0)
                ++end;
            described = true;
            at = end < text.size() && text[end] != '\n' ? end + music_sign_length(text, end) : end;
            continue;
        }
        left += c;
        ++at;
    }
    if (!described) return false;
    size_t from = 0;
    while (from < left.size()) {
        size_t end = left.find('\n', from);
        if (end == std::string::npos) end = left.size();
        const std::string line = without_label(std::string_view(left).substr(from, end - from));
        for (size_t i = 0; i < line.size(); ++i)
            if (is_word_byte(line, i)) return false;
        from = end + 1;
    }
    return true;
}

std::vector<TimeSpan> spoken_cue_spans(std::span<const Cue> cues) {
    std::vector<TimeSpan> spans;
    spans.reserve(cues.size());
    for (const Cue& c : cues)
        if (!is_sound_description(c)) spans.push_back({c.start_ms, c.end_ms});
    return spans;
}

ReferenceKind reference_kind(std::span<const uint8_t> head) {
    // Sync bytes a packet apart from wherever the first whole packet starts: all
    // that the start holds, up to eight, and at least two.
    constexpr size_t kPacket = 188, kChecked = 8;
    for (size_t first = 0; first < kPacket && first + kPacket < head.size(); ++first) {
        size_t seen = 0;
        while (seen < kChecked && first + seen * kPacket < head.size() &&
               head[first + seen * kPacket] == 0x47) {
            ++seen;
        }
        const size_t there = std::min(kChecked, (head.size() - first + kPacket - 1) / kPacket);
        if (seen == there) return ReferenceKind::kTransportStream;
    }
    return looks_convertible(head) || is_player_file(head) ? ReferenceKind::kSubtitleFile
                                                           : ReferenceKind::kOther;
}

int read_reference_subtitles(std::span<const uint8_t> input, std::vector<TimeSpan>& spans,
                             std::string& error) {
    ReadResult read;
    ConvertReport report;
    spans.clear();
    if (is_player_file(input)) {
        return read_player_file({reinterpret_cast<const char*>(input.data()), input.size()}, spans,
                                error);
    }
    int result =
        read_subtitles(input, ConvertOptions{}, default_decoder(), have_uchardet(), read, report);
    if (result != kConvertOk && !detect_encoding(input, false).readable) {
        // Only the reference's times are used: text no code page reads does not matter.
        ConvertOptions any_text;
        any_text.forced_encoding = "WINDOWS-1252";
        read = ReadResult{};
        result = read_subtitles(input, any_text, default_decoder(), false, read, report);
    }
    if (result != kConvertOk) {
        error = report.error;
        return kConvertFailed;
    }
    spans = spoken_cue_spans(read.cues);
    return kConvertOk;
}

int convert_aligned(std::span<const uint8_t> input, const ConvertOptions& options,
                    std::span<const TimeSpan> reference, bool write_unaligned, std::string& output,
                    ConvertReport& report, Alignment& alignment, const AlignStop& stop,
                    AlignBy by) {
    output.clear();
    alignment = Alignment{};
    ReadResult read;
    int result = read_subtitles(input, options, default_decoder(), have_uchardet(), read, report);
    if (result != kConvertOk) return result;
    const std::vector<TimeSpan> spoken = spoken_cue_spans(read.cues);
    alignment = align_spans(by == AlignBy::kStarts ? start_marks(spoken) : spoken, reference, stop);
    if (alignment.reliable) {
        apply_alignment(alignment, read.cues);
        return finish_with_header(read, options, output, report);
    }
    if (!write_unaligned) {
        report.error = refusal_text(alignment);
        return kConvertFailed;
    }
    // Not aligned: the header names no reference.
    ConvertOptions unaligned = options;
    unaligned.sync_reference.clear();
    return finish_with_header(read, unaligned, output, report);
}

std::string aligned_summary_line(std::string_view file_name, std::string_view reference_name,
                                 int result, const ConvertReport& report,
                                 const Alignment& alignment) {
    const std::string refusal = refusal_text(alignment);
    if (result != kConvertOk && report.error == refusal)
        return std::string(file_name) + ": " + refusal;
    std::string line = summary_line(file_name, result, report);
    if (result == kConvertOk && alignment.reliable) {
        line += "; aligned to " + std::string(reference_name) + ": " + alignment_text(alignment);
    } else if (result == kConvertOk) {
        line += "; " + refusal;
    }
    return line;
}

}  // namespace conv
