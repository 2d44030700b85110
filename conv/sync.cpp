// Conversion with the cues aligned to a reference: reading, aligning, and the
// timeline and writer as a plain conversion has them.
#include <algorithm>
#include <string>

#include "conv/align.h"
#include "conv/model.h"

namespace conv {

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
    return looks_convertible(head) ? ReferenceKind::kSubtitleFile : ReferenceKind::kOther;
}

int read_reference_subtitles(std::span<const uint8_t> input, std::vector<TimeSpan>& spans,
                             std::string& error) {
    ReadResult read;
    ConvertReport report;
    spans.clear();
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
