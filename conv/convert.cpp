// The library's entry points: encoding, choosing the format by its probes, reading,
// and handing the cues to the timeline.
#include "conv/convert.h"

#include <algorithm>
#include <array>
#include <charconv>
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
// Between the parts after the source's name; a name never holds one (";" is escaped).
constexpr std::string_view kPartSeparator = "; ";
constexpr std::string_view kStampMiddle = " bytes, modified ";
constexpr std::string_view kOptionStart = "--";
constexpr std::string_view kSyncOption = "--sync-to";
// The last part of the header: the checksum of what follows it.
constexpr std::string_view kChecksumMark = "checksum ";
constexpr size_t kChecksumDigits = 8;
// The error of a file whose high bytes no code page reads as text; the file menu shows
// every error that starts with "unknown encoding" as such.
constexpr std::string_view kUnknownCodePage =
    "unknown encoding: no code page reads the file as text; name it with --encoding NAME, "
    "or by a language code in the file's name (film.ru.srt)";
// Extensions in the order a source is preferred among those of one base name.
constexpr std::array<std::string_view, 6> kSourceOrder = {".srt", ".ass", ".ssa",
                                                          ".vtt", ".sub", ".txt"};

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

// Control bytes and the bytes the header gives a meaning (the escape itself, the part
// separator and, within an option's value, the space between words) are escaped.
bool needs_escape(unsigned char c, bool option_value) {
    return c < 32 || c == 0x7F || c == '\\' || c == ';' || (option_value && c == ' ');
}

void append_escaped(std::string& out, std::string_view text, bool option_value = false) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (!needs_escape(u, option_value)) {
            out += c;
            continue;
        }
        out += "\\x";
        out += kHex[u >> 4];
        out += kHex[u & 15];
    }
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Undoes append_escaped; a backslash not followed by "x" and two hex digits is kept
// as it is (a name written before names were escaped).
std::string unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            hex_digit(text[i + 2]) >= 0 && hex_digit(text[i + 3]) >= 0) {
            out += static_cast<char>(hex_digit(text[i + 2]) * 16 + hex_digit(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string number_text(double value) {
    std::array<char, 32> digits{};
    const auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    return ec == std::errc() ? std::string(digits.data(), end) : std::string();
}

// The options that are not at their defaults, as the command line gives them.
std::string options_text(const ConvertOptions& options) {
    const ConvertOptions defaults;
    std::string out;
    auto add = [&](std::string_view option, const std::string& value) {
        if (!out.empty()) out += ' ';
        out += option;
        if (!value.empty()) {
            out += ' ';
            append_escaped(out, value, true);
        }
    };
    if (!options.forced_encoding.empty()) add("--encoding", options.forced_encoding);
    if (options.fps != defaults.fps) add("--fps", number_text(options.fps));
    if (options.offset_seconds != defaults.offset_seconds)
        add("--offset", number_text(options.offset_seconds));
    if (options.wrap_width != defaults.wrap_width)
        add("--wrap", std::to_string(options.wrap_width));
    if (options.plain) add("--plain", {});
    if (!options.sync_reference.empty()) add(kSyncOption, options.sync_reference);
    return out;
}

// FNV-1a, 32 bits: cheap, and any change a viewer makes by hand shows.
uint32_t content_checksum(std::string_view content) {
    uint32_t hash = 2166136261u;
    for (char c : content) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

// "; checksum XXXXXXXX" for what follows the header line.
std::string checksum_part(std::string_view content) {
    std::array<char, kChecksumDigits + 1> digits{};
    std::snprintf(digits.data(), digits.size(), "%08X",
                  static_cast<unsigned>(content_checksum(content)));
    return std::string(kPartSeparator) + std::string(kChecksumMark) + digits.data();
}

// Reads "checksum XXXXXXXX", the whole of text.
bool take_checksum(std::string_view text, uint32_t& checksum) {
    if (text.size() != kChecksumMark.size() + kChecksumDigits || !text.starts_with(kChecksumMark))
        return false;
    checksum = 0;
    for (char c : text.substr(kChecksumMark.size())) {
        const int digit = hex_digit(c);
        if (digit < 0) return false;
        checksum = checksum << 4 | static_cast<uint32_t>(digit);
    }
    return true;
}

// The header line (no line end) for count subtitle lines made with options, content
// being what follows it.
std::string header_line(int count, const ConvertOptions& options, std::string_view content) {
    std::string line = "[KTF2: " + std::to_string(count) + " 0 ";
    std::string_view name = options.source_name;
    if (const size_t slash = name.rfind('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    if (name.empty() || name == "." || name == "..") return line + "]";
    std::string from = "converted from ";
    append_escaped(from, name);
    if (const auto& stamp = options.source_stamp) {
        std::array<char, 10> nanoseconds{};
        std::snprintf(nanoseconds.data(), nanoseconds.size(), "%09d",
                      static_cast<int>(stamp->modified_nanoseconds));
        from += std::string(kPartSeparator) + std::to_string(stamp->size) +
                std::string(kStampMiddle) + std::to_string(stamp->modified_seconds) + "." +
                nanoseconds.data();
    }
    if (const std::string given = options_text(options); !given.empty())
        from += std::string(kPartSeparator) + given;
    const std::string checksum = checksum_part(content);
    // Only a name of many escaped bytes gets here: the file still says it was converted.
    if (line.size() + from.size() + checksum.size() + 1 > kLongestHeaderLine)
        from = "converted from ";
    return line + from + checksum + "]";
}

bool take_int64(std::string_view& text, int64_t& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data()) return false;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return true;
}

// Reads "SIZE bytes, modified SECONDS.NANOSECONDS" at the front of text.
bool take_stamp(std::string_view& text, SourceStamp& stamp) {
    if (text.empty() || text.front() == '-' || !take_int64(text, stamp.size)) return false;
    if (text.substr(0, kStampMiddle.size()) != kStampMiddle) return false;
    text.remove_prefix(kStampMiddle.size());
    int64_t nanoseconds = 0;
    if (!take_int64(text, stamp.modified_seconds) || text.size() < 10 || text.front() != '.')
        return false;
    std::string_view digits = text.substr(1, 9);
    if (digits.front() == '-' || !take_int64(digits, nanoseconds) || !digits.empty()) return false;
    stamp.modified_nanoseconds = static_cast<int32_t>(nanoseconds);
    text.remove_prefix(10);
    return true;
}

// Splits what follows the name into the stamp and the options; false when it is not
// such a part (a name written with a "; " of its own before names were escaped).
bool take_parts(std::string_view tail, ConvertedFrom& out) {
    SourceStamp stamp;
    if (take_stamp(tail, stamp)) {
        out.source_stamp = stamp;
        if (tail.empty()) return true;
        if (tail.substr(0, kPartSeparator.size()) != kPartSeparator) return false;
        tail.remove_prefix(kPartSeparator.size());
    }
    if (tail.substr(0, kOptionStart.size()) != kOptionStart) return false;
    out.options = std::string(tail);
    return true;
}

// The reference of a "--sync-to" ending the options: its value holds no space (escaped).
void take_sync_reference(ConvertedFrom& out) {
    const std::string option = std::string(kSyncOption) + ' ';
    const std::string_view options = out.options;
    size_t at = options.rfind(option);
    if (at == std::string_view::npos || (at != 0 && options[at - 1] != ' ')) return;
    const std::string_view value = options.substr(at + option.size());
    if (value.empty() || value.find(' ') != std::string_view::npos) return;
    out.sync_reference = unescaped(value);
    out.only_sync_option = at == 0;
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
    std::string encoding = options.forced_encoding;
    std::string language;
    if (encoding.empty()) {
        DetectedEncoding detected = detect_encoding(input, use_uchardet, options.source_name);
        if (!detected.readable) return fail(std::string(kUnknownCodePage));
        encoding = std::move(detected.name);
        language = std::move(detected.language);
    }
    report.encoding = encoding;
    std::string text;
    std::string error;
    Replacements replaced;
    if (!decode_to_utf8(input, encoding, decoder, text, error, &replaced)) return fail(error);
    if (text.find_first_not_of(" \t\n\f\v") == std::string::npos) return fail("empty file");
    if (looks_binary(text)) return fail("not a text file");
    if (is_player_file(text)) return fail("already in the player's format");
    const Format* format = choose_format(text);
    if (format == nullptr) return fail("no subtitle format recognised");
    report.format = format->name;
    if (!language.empty())
        read.notes.push_back(encoding + " chosen by the language code \"" + language +
                             "\" in the file's name");
    // Bytes the encoding cannot read are shown as U+FFFD.
    if (replaced.count == 1)
        read.notes.push_back("line " + std::to_string(replaced.first_line) +
                             ": a byte not valid in " + encoding + " replaced");
    else if (replaced.count > 1)
        read.notes.push_back(std::to_string(replaced.count) + " bytes not valid in " + encoding +
                             " replaced, the first on line " + std::to_string(replaced.first_line));
    format->read(text, options, read);
    return kConvertOk;
}

int finish_with_header(ReadResult& read, const ConvertOptions& options, std::string& output,
                       ConvertReport& report) {
    // The timeline writes the plain header; the one naming the source replaces it.
    ConvertOptions unnamed = options;
    unnamed.source_name.clear();
    int result = finish_conversion(read, unnamed, output, report);
    if (result != kConvertOk) {
        output.clear();
        return result;
    }
    const size_t line_end = output.find('\n');
    output.replace(
        0, line_end,
        header_line(report.cues_written, options, std::string_view(output).substr(line_end + 1)));
    return result;
}

int convert_with(std::span<const uint8_t> input, const ConvertOptions& options, Decoder decoder,
                 bool use_uchardet, std::string& output, ConvertReport& report) {
    output.clear();
    ReadResult read;
    const int result = read_subtitles(input, options, decoder, use_uchardet, read, report);
    if (result != kConvertOk) return result;
    return finish_with_header(read, options, output, report);
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
    // A file no code page reads as text is still offered, to be told so.
    if (!decode_to_utf8(start, detect_encoding(start, false).name, Decoder::kTables, text, error))
        return false;
    if (text.empty() || looks_binary(text) || is_player_file(text)) return false;
    return choose_format(text) != nullptr;
}

ConvertedFrom converted_from_header(std::string_view line) {
    ConvertedFrom out;
    if (line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.substr(0, kHeaderStart.size()) != kHeaderStart) return out;
    std::string head(line.substr(0, 64));
    int count = 0;
    int offset = 0;
    int used = 0;
    if (std::sscanf(head.c_str(), "[KTF2: %d %d%n", &count, &offset, &used) != 2) return out;
    std::string_view rest = line.substr(static_cast<size_t>(used));
    if (rest.substr(0, kSourceMark.size()) != kSourceMark || rest.back() != ']') return out;
    out.converted = true;
    std::string_view name = rest.substr(kSourceMark.size(), rest.size() - kSourceMark.size() - 1);
    if (const size_t last = name.rfind(kPartSeparator); last != std::string_view::npos) {
        uint32_t checksum = 0;
        if (take_checksum(name.substr(last + kPartSeparator.size()), checksum)) {
            out.checksum = checksum;
            name = name.substr(0, last);
        }
    }
    if (const size_t separator = name.find(kPartSeparator); separator != std::string_view::npos) {
        ConvertedFrom parts;
        if (take_parts(name.substr(separator + kPartSeparator.size()), parts)) {
            out.source_stamp = parts.source_stamp;
            out.options = std::move(parts.options);
            name = name.substr(0, separator);
            take_sync_reference(out);
        }
    }
    out.source_name = unescaped(name);
    return out;
}

bool converted_content_matches(std::string_view file) {
    const size_t line_end = file.find('\n');
    const ConvertedFrom from = converted_from_header(file.substr(0, line_end));
    if (!from.checksum) return true;
    return line_end != std::string_view::npos &&
           content_checksum(file.substr(line_end + 1)) == *from.checksum;
}

bool known_encoding(std::string_view name) {
    // The decoders say so only when given something to decode.
    constexpr std::array<uint8_t, 1> kProbe = {'a'};
    std::string text, error;
    return !name.empty() && decode_to_utf8(kProbe, name, default_decoder(), text, error);
}

std::string source_name_from_header(std::string_view line) {
    std::string name = converted_from_header(line).source_name;
    // Only a plain name of the same directory.
    constexpr std::string_view kNotInAName("/\0", 2);
    const bool plain =
        name != "." && name != ".." && name.find_first_of(kNotInAName) == std::string::npos;
    return plain ? name : std::string();
}

std::string_view name_base(std::string_view name) {
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

int source_rank(std::string_view name) {
    const std::string_view base = name_base(name);
    const std::string_view extension = name.substr(base.size());
    for (size_t i = 0; i < kSourceOrder.size(); ++i) {
        const std::string_view wanted = kSourceOrder[i];
        if (extension.size() == wanted.size() &&
            std::equal(extension.begin(), extension.end(), wanted.begin(), [](char a, char b) {
                return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b;
            }))
            return static_cast<int>(i);
    }
    return static_cast<int>(kSourceOrder.size());
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
