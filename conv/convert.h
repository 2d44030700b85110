// Subtitle conversion: reads the subtitle files people download (SubRip, MicroDVD,
// ASS/SSA, WebVTT, MPL2, TMPlayer, SubViewer), in whatever encoding they come, and
// writes the player's own format. Used by the command-line converter and by the file
// menu's drop-in conversion; every function runs on the calling thread and keeps no
// state between calls.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace conv {

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
    // The source file's name (no directory), written into the header after the two
    // numbers so that a converted file names what it was made from.
    std::string source_name;
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

// The source name a converted file's header line carries, or empty when the line was
// not written by convert_subtitles (a file written by hand).
std::string source_name_from_header(std::string_view header_line);

// The one-line summary the command-line tool prints for a file.
std::string summary_line(std::string_view file_name, int result, const ConvertReport& report);

}  // namespace conv
