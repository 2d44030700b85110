// The library's entry points: encoding, choosing the format by its probes, reading,
// and handing the cues to the timeline.
#include "conv/convert.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "conv/model.h"

namespace conv {
namespace {

constexpr std::array<Format, 7> kFormats = {{
    {"WebVTT", probe_webvtt, read_webvtt},
    {"ASS/SSA", probe_ass, read_ass},
    {"SubRip", probe_subrip, read_subrip},
    {"MicroDVD", probe_microdvd, read_microdvd},
    {"MPL2", probe_mpl2, read_mpl2},
    {"TMPlayer", probe_tmplayer, read_tmplayer},
    {"SubViewer", probe_subviewer, read_subviewer},
}};

// Probes look at this much of the start of a file.
constexpr size_t kProbeBytes = 8192;
constexpr std::string_view kHeaderStart = "[KTF2:";
constexpr std::string_view kSourceMark = " converted from ";

// Text with NUL bytes, or with many other control bytes, is no subtitle file.
bool looks_binary(std::string_view text) {
    size_t controls = 0;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u == 0) return true;
        if (u < 32 && c != '\n' && c != '\t' && c != '\f') ++controls;
    }
    return controls * 100 > text.size() + 100;
}

bool is_player_file(std::string_view text) {
    return text.substr(0, kHeaderStart.size()) == kHeaderStart;
}

const Format* choose_format(std::string_view text) {
    std::string_view start = text.substr(0, kProbeBytes);
    const Format* best = nullptr;
    int best_score = 0;
    for (const Format& f : kFormats) {
        int score = f.probe(start);
        if (score > best_score) {
            best = &f;
            best_score = score;
        }
    }
    return best;
}

}  // namespace

int read_subtitles(std::span<const uint8_t> input, const ConvertOptions& options, Decoder decoder,
                   bool use_uchardet, ReadResult& read, ConvertReport& report) {
    report = ConvertReport{};
    auto fail = [&](std::string message) {
        report.error = std::move(message);
        return kConvertFailed;
    };
    if (input.empty()) return fail("empty file");
    if (!(options.fps > 0.0 && options.fps < 1000.0)) return fail("frame rate out of range");
    std::string encoding = options.forced_encoding.empty() ? detect_encoding(input, use_uchardet)
                                                           : options.forced_encoding;
    report.encoding = encoding;
    std::string text;
    std::string error;
    if (!decode_to_utf8(input, encoding, decoder, text, error)) return fail(error);
    if (text.find_first_not_of(" \t\n\f\v") == std::string::npos) return fail("empty file");
    if (looks_binary(text)) return fail("not a text file");
    if (is_player_file(text)) return fail("already in the player's format");
    const Format* format = choose_format(text);
    if (format == nullptr) return fail("no subtitle format recognised");
    report.format = format->name;
    format->read(text, options, read);
    if (!read.error.empty()) return fail(read.error);
    return kConvertOk;
}

int convert_with(std::span<const uint8_t> input, const ConvertOptions& options, Decoder decoder,
                 bool use_uchardet, std::string& output, ConvertReport& report) {
    output.clear();
    ReadResult read;
    int result = read_subtitles(input, options, decoder, use_uchardet, read, report);
    if (result != kConvertOk) return result;
    result = finish_conversion(read, options, output, report);
    if (result != kConvertOk) output.clear();
    return result;
}

int convert_subtitles(std::span<const uint8_t> input, const ConvertOptions& options,
                      std::string& output, ConvertReport& report) {
    return convert_with(input, options, default_decoder(), have_uchardet(), output, report);
}

bool looks_convertible(std::span<const uint8_t> input) {
    std::span<const uint8_t> start = input.first(std::min(input.size(), kProbeBytes));
    std::string text;
    std::string error;
    if (!decode_to_utf8(start, detect_encoding(start, false), Decoder::kTables, text, error))
        return false;
    if (text.empty() || looks_binary(text) || is_player_file(text)) return false;
    return choose_format(text) != nullptr;
}

std::string source_name_from_header(std::string_view line) {
    if (line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.substr(0, kHeaderStart.size()) != kHeaderStart) return {};
    std::string head(line.substr(0, 64));
    int count = 0;
    int offset = 0;
    int used = 0;
    if (std::sscanf(head.c_str(), "[KTF2: %d %d%n", &count, &offset, &used) != 2) return {};
    std::string_view rest = line.substr(static_cast<size_t>(used));
    if (rest.substr(0, kSourceMark.size()) != kSourceMark || rest.back() != ']') return {};
    std::string_view name = rest.substr(kSourceMark.size(), rest.size() - kSourceMark.size() - 1);
    // Only a plain name of the same directory: the file menu deletes what this names.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos)
        return {};
    for (char c : name)
        if (static_cast<unsigned char>(c) < 32 || c == 0x7F) return {};
    return std::string(name);
}

std::string summary_line(std::string_view file_name, int result, const ConvertReport& report) {
    std::string line(file_name);
    if (result != kConvertOk) return line + ": failed: " + report.error;
    line += ": " + report.format + ", " + report.encoding + ", " +
            std::to_string(report.cues_read) + " read, " + std::to_string(report.cues_written) +
            " written, " + std::to_string(report.cues_split) + " split, " +
            std::to_string(report.cues_merged) + " merged, " + std::to_string(report.cues_dropped) +
            " dropped";
    for (const std::string& note : report.notes) line += "; " + note;
    return line;
}

}  // namespace conv
