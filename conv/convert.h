// Subtitle conversion: reads the subtitle files people download (SubRip, MicroDVD,
// ASS/SSA, WebVTT, MPL2, TMPlayer, SubViewer), in whatever encoding they come, and
// writes the player's own format. Used by the command-line converter and by the file
// menu's drop-in conversion; every function runs on the calling thread and keeps no
// state between calls.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace conv {

// A source file as it was when it was converted: a source whose size or modification
// time differs is not the file a converted file was made from.
struct SourceStamp {
    int64_t size = 0;
    int64_t modified_seconds = 0;
    int32_t modified_nanoseconds = 0;
    friend bool operator==(const SourceStamp&, const SourceStamp&) = default;
};

struct ConvertOptions {
    // Encoding name to read the input in (as iconv names it, e.g. "WINDOWS-1250");
    // empty: a byte-order mark, valid UTF-8, or detection decides.
    std::string forced_encoding;
    // Frames per second of a MicroDVD file that declares no rate of its own.
    double fps = 23.976;
    // Seconds added to every time (may be negative).
    double offset_seconds = 0.0;
    // Lines longer than this many characters are wrapped at spaces. A subtitle that
    // would need more than four lines is wrapped wider, up to 60 characters (what the
    // player's band holds at its smallest text size), before anything is cut.
    int wrap_width = 40;
    // No colour for lines wholly in italics.
    bool plain = false;
    // The source file's name (a directory before it is left out), written whole into
    // the header after the two numbers so that a converted file names what it was
    // made from. Empty: the header names nothing.
    std::string source_name;
    // The source's size and modification time, written after the name when set.
    std::optional<SourceStamp> source_stamp;
    // The reference the cues were aligned to, written into the header as the option
    // "--sync-to REFERENCE" (the last one) when set; the conversion itself ignores it.
    std::string sync_reference;
};

struct ConvertReport {
    std::string format;    // format recognised, e.g. "SubRip"
    std::string encoding;  // encoding the input was read in, e.g. "WINDOWS-1250"
    int cues_read = 0;     // cues found in the source
    int cues_written = 0;  // subtitle lines written
    int cues_split = 0;    // source cues split into pieces because of overlaps
    int cues_merged = 0;   // written subtitles showing more than one source cue
    int cues_dropped = 0;  // source cues not written at all
    int cues_skipped = 0;  // source cues that could not be read, left out with a note
    // One short English sentence per thing the viewer may want to know: why cues were
    // dropped, which lines were cut beyond four, ...
    std::vector<std::string> notes;
    // Set when the result is not kConvertOk: one line, no line end.
    std::string error;
};

constexpr int kConvertOk = 0;
constexpr int kConvertFailed = 1;

// Converts the bytes of one subtitle file. On success returns kConvertOk and puts the
// whole converted file (UTF-8, no byte-order mark, "\n" line ends) in output; on
// failure returns kConvertFailed, leaves output empty and says why in report.error.
int convert_subtitles(std::span<const uint8_t> input, const ConvertOptions& options,
                      std::string& output, ConvertReport& report);

// True when the bytes look like one of the formats above (cheap: looks at the start
// of the file only). A file in the player's own format is not convertible.
bool looks_convertible(std::span<const uint8_t> input);

// What the header line of a converted file says about its making:
//   [KTF2: N 0 converted from NAME; SIZE bytes, modified SECONDS.NANOSECONDS; OPTIONS;
//   checksum XXXXXXXX]
// (one line). The player reads only "[KTF2: N 0"; the rest is for the converter and
// the file menu. NAME is the source's whole name, its control bytes, backslashes and
// ";" written as "\xHH" (hexadecimal). The stamp and the options (those not at their
// defaults, as the command line gives them, e.g. "--offset -1.5") follow only when
// known; headers written before the stamp existed end right after the name. The
// checksum, always last, is the FNV-1a hash (32 bits, 8 upper-case hexadecimal digits)
// of every byte after the header line's line end, so that a file changed by hand since
// it was written is told from one the converter wrote; a name and an option's value
// never hold "; " (";" is escaped), so the last part cannot be taken for theirs.
// Headers written before the checksum existed end without it.
struct ConvertedFrom {
    bool converted = false;   // the line says "converted from": not written by hand
    std::string source_name;  // the source's name (unescaped); empty when none is named
    std::optional<SourceStamp> source_stamp;
    std::string options;  // the options part, empty when the defaults were used
    // The value of a "--sync-to" ending the options (unescaped), and whether it is the
    // only option given.
    std::string sync_reference;
    bool only_sync_option = false;
    // The checksum of what follows the header line; none in older headers.
    std::optional<uint32_t> checksum;
};
ConvertedFrom converted_from_header(std::string_view header_line);

// Whether a converted file (all of it, header line first) still holds what the
// converter wrote after its header line: false only when its header carries a
// checksum that what follows does not match (changed by hand since, or cut short).
bool converted_content_matches(std::string_view file);

// The source name a converted file's header line carries when it is a plain file name
// (no directory, no "." or ".."), or empty (also for a file written by hand).
std::string source_name_from_header(std::string_view header_line);

// The longest header line the player reads as one line (it reads lines into 1000
// bytes); a name that would make it longer is not written.
constexpr size_t kLongestHeaderLine = 998;

// The part of a file name (no directory) that a converted file is named after: the
// name up to its last ".", or the whole name when it has no "." other than a first
// one (".srt" stays ".srt", so that its converted file ".srt.tkx" is not nameless).
std::string_view name_base(std::string_view name);

// Whether the decoder this build uses reads an encoding of this name (as
// ConvertOptions::forced_encoding takes it).
bool known_encoding(std::string_view name);

// Where a source of a base name stands when several share it (lower first, decided by
// the extension, in any case): .srt, .ass, .ssa, .vtt, .sub, .txt, then every other.
int source_rank(std::string_view name);

// The one-line summary the command-line tool prints for a file.
std::string summary_line(std::string_view file_name, int result, const ConvertReport& report);

}  // namespace conv
