// The common model every format reader fills: one list of cues with times in
// milliseconds and text already free of the format's own markup. Encoding, timing,
// overlaps, wrapping and writing work on this list only (conv/timeline.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "conv/convert.h"

namespace conv {

// One screen line of a cue; italic when every visible character of it is.
struct CueLine {
    std::string text;
    bool italic = false;
};

struct Cue {
    int64_t start_ms = 0;
    int64_t end_ms = 0;
    std::vector<CueLine> lines;
    bool top = false;
    int source_line = 0;  // 1-based line of the source where the cue begins
    // The source gives no end (MicroDVD's "{25}{}"): shown for a while, as one whose
    // end is before its start.
    bool open_end = false;
};

// What a reader gives back besides the cues. A cue that cannot be read is left out
// with a note; it never costs the rest of the file.
struct ReadResult {
    std::vector<Cue> cues;
    std::vector<std::string> notes;
    int skipped = 0;  // cues left out because they could not be read
    // Leaves out the cue beginning at a 1-based line: "line 57: <why>, cue skipped"
    // for the first few, a count for the rest (see finish_conversion).
    void skip(int line, std::string_view why);
};
// Cues skipped that get a note of their own; the rest are counted.
constexpr int kSkipNotes = 3;

// A probe scores how well the start of a text fits a format: 0 not at all, up to 100.
using ProbeFunction = int (*)(std::string_view text);
// A reader turns the whole text (UTF-8, "\n" line ends) into cues.
using ReadFunction = void (*)(std::string_view text, const ConvertOptions& options,
                              ReadResult& result);

struct Format {
    const char* name;
    ProbeFunction probe;
    ReadFunction read;
};

int probe_subrip(std::string_view text);
void read_subrip(std::string_view text, const ConvertOptions& options, ReadResult& result);
int probe_microdvd(std::string_view text);
void read_microdvd(std::string_view text, const ConvertOptions& options, ReadResult& result);
int probe_ass(std::string_view text);
void read_ass(std::string_view text, const ConvertOptions& options, ReadResult& result);
int probe_webvtt(std::string_view text);
void read_webvtt(std::string_view text, const ConvertOptions& options, ReadResult& result);
int probe_mpl2(std::string_view text);
void read_mpl2(std::string_view text, const ConvertOptions& options, ReadResult& result);
int probe_tmplayer(std::string_view text);
void read_tmplayer(std::string_view text, const ConvertOptions& options, ReadResult& result);
int probe_subviewer(std::string_view text);
void read_subviewer(std::string_view text, const ConvertOptions& options, ReadResult& result);

// Collects the text of one cue: plain or italic runs and line breaks. A line counts
// as italic when it has visible characters and all of them are italic.
class TextBuilder {
  public:
    void add(std::string_view text, bool italic);
    void line_break();
    std::vector<CueLine> finish();

  private:
    std::vector<CueLine> lines_;
    std::string current_;
    bool any_italic_ = false;
    bool any_plain_ = false;
};

// Line-oriented reading of the decoded text.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}
    // The next line without its "\n"; false at the end.
    bool next(std::string_view& line);
    // 1-based number of the line last returned.
    int number() const { return number_; }

  private:
    std::string_view text_;
    size_t position_ = 0;
    int number_ = 0;
};

// Shared reading helpers (conv/text.cpp).
std::string_view trim(std::string_view s);
bool starts_with_ignoring_case(std::string_view s, std::string_view prefix);
// Reads digits at the front of s into value (at most 9 digits); false when none.
bool take_number(std::string_view& s, int64_t& value);
// Reads "{12}{34}" (with the given brackets) at the front of s; either number may
// carry a "-" (a file shifted by hand); an empty second group ("{12}{}") gives none.
bool take_pair(std::string_view& s, char open, char close, int64_t& first,
               std::optional<int64_t>& second);
// Collects the text lines of the cue read last, and sets that cue's lines from them
// with add_tagged_text when the next cue begins or the file ends (a cue asking for
// the top in its tags keeps that).
class TaggedLines {
  public:
    void add(std::string_view line) { lines_.push_back(line); }
    // Sets the lines of the last cue in cues, if any lines were added, and starts
    // afresh.
    void flush(std::vector<Cue>& cues);

  private:
    std::vector<std::string_view> lines_;
};
void append_utf8(std::string& out, char32_t c);
// Which clock times may come without a fraction: only those with hours ("0:01:39"),
// or any ("01:39" too, as TMPlayer and ASS write them).
enum class BareClock { kWithHours, kAny };
// Reads a clock time "[H:]MM:SS[,.]fff" (1 to 3 fraction digits, ",04" is 40 ms, more
// are cut) at the front of s; false when it is not one.
bool take_clock(std::string_view& s, int64_t& ms, BareClock bare);
// take_clock with an optional "-" in front (times of a file shifted by hand).
bool take_signed_clock(std::string_view& s, int64_t& ms, BareClock bare);
// Reads "start --> end" at the front of a trimmed line, with the arrow's common
// damage ("->", "-- >", "—>", a missing space) read as the arrow; rest is what
// follows the end (settings, old position fields).
bool take_time_span(std::string_view line, int64_t& start, int64_t& end, std::string_view& rest);
// True for a line that is meant as a time line but is not one (cut, a typo in a
// digit, no arrow): clock-time characters only, allowing a stray letter or two.
// with_arrow: only when it also carries an arrow (a line among a cue's text).
bool looks_like_time_line(std::string_view line, bool with_arrow);
// A MicroDVD control code: "{" and one of the letters MicroDVD defines, ":", a value
// and "}" ("{y:i}", "{c:$0000FF}"). A lower-case letter is for its line, an upper-case
// one for the whole cue.
struct MicroDvdCode {
    char letter = 0;
    std::string_view value;
    bool italic() const;  // "{y:i}", "{Y:bi}"
    bool top() const;     // "{P:0}"
    bool whole_cue() const { return letter >= 'A' && letter <= 'Z'; }
};
// Reads the code at the front of s; false (s as it was) when s does not begin with one.
bool take_microdvd_code(std::string_view& s, MicroDvdCode& code);
// Removes <tag> markup (HTML-like, as SubRip and WebVTT use), following <i> for
// italics, SubRip's {\an8}-style blocks and MicroDVD's codes (some SubRip files keep
// them); sets top when one asks for the top.
void add_tagged_text(std::string_view line, TextBuilder& builder, bool& italic, bool& top);
// A time as h:mm:ss,mmm for notes and errors.
std::string clock_text(int64_t ms);
// The cleanup every line gets: entities decoded, control bytes and MicroDVD codes
// removed, "|" shown as a broken bar, runs of spaces made one, none at the ends.
std::string clean_line(std::string_view line);
// Splits a line longer than width characters at spaces into the fewest, most even
// lines.
std::vector<std::string> wrap_line(std::string_view line, int width);

// True when one of the first max_lines lines of text fits (probes look no further).
template <typename Fits>
bool some_early_line(std::string_view text, int max_lines, Fits fits) {
    LineReader lines(text);
    std::string_view line;
    while (lines.next(line) && lines.number() <= max_lines)
        if (fits(line)) return true;
    return false;
}

// Hands each non-blank line, trimmed, with its 1-based number to read_line, until
// read_line returns false.
template <typename ReadLine>
void for_each_filled_line(std::string_view text, ReadLine read_line) {
    LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        std::string_view s = trim(line);
        if (!s.empty() && !read_line(s, lines.number())) return;
    }
}

// Hands each "|"-separated part of s to add_part, with a line break between parts.
template <typename AddPart>
void split_bars(std::string_view s, TextBuilder& builder, AddPart add_part) {
    for (;;) {
        size_t bar = s.find('|');
        add_part(s.substr(0, bar));
        if (bar == std::string_view::npos) return;
        builder.line_break();
        s.remove_prefix(bar + 1);
    }
}

// Encoding (conv/encoding.cpp).
enum class Decoder { kIconv, kTables };
// The encoding to read the bytes in: BOM, valid UTF-8, else the single-byte code page
// whose reading of the high bytes is likeliest text of one language, a language code
// in source_name ("film.ru.srt") putting that language's code pages first (uchardet,
// when built in and use_uchardet, settles ties).
struct DetectedEncoding {
    std::string name;
    // False when no code page reads the high bytes as text of one script; name is
    // then the likeliest all the same.
    bool readable = true;
    // The language code of source_name when it chose a code page other than the one
    // read best without it; empty otherwise.
    std::string language = {};
};
DetectedEncoding detect_encoding(std::span<const uint8_t> input, bool use_uchardet,
                                 std::string_view source_name = {});
// Bytes a decoder could not read, each put in the text as U+FFFD.
struct Replacements {
    int count = 0;
    size_t first_at = 0;  // where the first one is in the decoded text, before line ends
    int first_line = 0;   // the line it is on
};
// Decodes to UTF-8 ("\r\n" and "\r" become "\n", a BOM is dropped); false with error
// set when the encoding is unknown to the decoder. replacements, when given, gets
// what could not be read.
bool decode_to_utf8(std::span<const uint8_t> input, std::string_view encoding, Decoder decoder,
                    std::string& output, std::string& error, Replacements* replacements = nullptr);
// The decoder the build uses.
Decoder default_decoder();
// Whether this build can ask uchardet, and decode through iconv.
bool have_uchardet();
bool have_iconv();

// Timeline and writer (conv/timeline.cpp): everything after reading.
int finish_conversion(ReadResult& read, const ConvertOptions& options, std::string& output,
                      ConvertReport& report);

// Decoding and reading into cues, without the timeline: kConvertOk, or kConvertFailed
// with report.error set.
int read_subtitles(std::span<const uint8_t> input, const ConvertOptions& options, Decoder decoder,
                   bool use_uchardet, ReadResult& read, ConvertReport& report);
// finish_conversion with the header line that names the source, its stamp and the
// options (conv/convert.cpp); output is empty unless the result is kConvertOk.
int finish_with_header(ReadResult& read, const ConvertOptions& options, std::string& output,
                       ConvertReport& report);

// The whole conversion with the encoding path chosen (tests compare both).
int convert_with(std::span<const uint8_t> input, const ConvertOptions& options, Decoder decoder,
                 bool use_uchardet, std::string& output, ConvertReport& report);

}  // namespace conv
