// Conversion with the cues aligned to a reference: reading, aligning, and the
// timeline and writer as a plain conversion has them.
#include <algorithm>
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

}  // namespace

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
    spans = cue_spans(read.cues);
    return kConvertOk;
}

int convert_aligned(std::span<const uint8_t> input, const ConvertOptions& options,
                    std::span<const TimeSpan> reference, bool write_unaligned, std::string& output,
                    ConvertReport& report, Alignment& alignment) {
    output.clear();
    alignment = Alignment{};
    ReadResult read;
    int result = read_subtitles(input, options, default_decoder(), have_uchardet(), read, report);
    if (result != kConvertOk) return result;
    alignment = align_spans(cue_spans(read.cues), reference);
    if (alignment.reliable) {
        apply_alignment(alignment, read.cues);
        return finish_with_header(read, options, output, report);
    }
    if (!write_unaligned) {
        report.error = kNoReliableMatch;
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
    if (result != kConvertOk && report.error == kNoReliableMatch)
        return std::string(file_name) + ": " + kNoReliableMatch;
    std::string line = summary_line(file_name, result, report);
    if (result == kConvertOk && alignment.reliable) {
        line += "; aligned to " + std::string(reference_name) + ": " + alignment_text(alignment);
    } else if (result == kConvertOk) {
        line += "; " + std::string(kNoReliableMatch);
    }
    return line;
}

}  // namespace conv
