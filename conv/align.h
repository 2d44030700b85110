// Automatic sync: finds how a subtitle file's times map onto a reference's timing
// (another subtitle file, a recording's subtitle streams, speech found in a film),
// as one frame-rate ratio and one offset per stretch of cues. Integer arithmetic
// only, bounded time and memory: it runs on the box as well as on the PC. Every
// function runs on the calling thread and keeps no state between calls.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "conv/model.h"

namespace conv {

// A stretch of time in ms, start included, end excluded.
struct TimeSpan {
    int64_t start_ms = 0;
    int64_t end_ms = 0;
};

// Cues whose source start is at or after from_ms (and before the next segment's)
// move by offset_ms after the ratio has been applied.
struct AlignSegment {
    int64_t from_ms = 0;
    int64_t offset_ms = 0;
    // How far this stretch's offset stands out on the stretch's own evidence above
    // its best placement elsewhere (10 s or more away), relative to its height above
    // the average placement, in thousandths: near 0 when the offset is one peak of
    // noise among others, 1000 when nothing else covers anything.
    int confidence_permille = 0;
};

struct Alignment {
    // False: no reliable match; the cues are to be left as they were.
    bool reliable = false;
    // Source times are multiplied by ratio_numerator / ratio_denominator first.
    int64_t ratio_numerator = 1;
    int64_t ratio_denominator = 1;
    const char* ratio_name = "1";  // "25/23.976", ...; "1" for none
    // In ascending order of from_ms; the first one covers everything before it too.
    // Empty only when there was nothing to align.
    std::vector<AlignSegment> segments;
    // Ms of the cues' time covered by the reference after alignment, and the cues'
    // own total time: the score is their quotient.
    int64_t matched_ms = 0;
    int64_t cue_ms = 0;
    // The least confidence of the segments.
    int confidence_permille = 0;
    // Stretches of the cues (source times) whose placement nothing in the reference
    // supports: a segment below the confidence, or a part of one whose own evidence
    // does not favour its offset. Any of them makes the match unreliable.
    std::vector<TimeSpan> unsupported;
    // Ratio 1, no split, and an offset within the reference's own jitter of zero: the
    // times are left exactly as they were (the one segment's offset is 0).
    bool in_sync = false;
    // The best single offset without ratio or splits, and its matched ms: the
    // baseline a user could find by hand.
    int64_t single_offset_ms = 0;
    int64_t single_matched_ms = 0;
    // The caller asked to stop before the alignment was done: nothing else is set.
    bool stopped = false;
};

// Asked between the alignment's steps (a few dozen for a film, each a small part of
// the whole); true stops it.
using AlignStop = std::function<bool()>;

// The confidence below which a match, or a segment of it, is refused.
constexpr int kReliablePermille = 300;
// The furthest any offset goes, either way.
constexpr int64_t kMaxOffsetMs = 10 * 60 * 1000;

// Aligns cues (any order; spans with end <= start are ignored) to the reference's
// spans (any order, may overlap). Returns within bounded time for any input, and
// soon after stop asks it to.
Alignment align_spans(std::span<const TimeSpan> cues, std::span<const TimeSpan> reference,
                      const AlignStop& stop = {});

// A reference read in pieces (a recording read sparsely) has few subtitles whole but
// the starts of more: cues and reference are then aligned by their starts alone, each
// a mark of this length, which no length of a cue or a subtitle blurs.
constexpr int64_t kStartMarkMs = 500;
std::vector<TimeSpan> start_marks(std::span<const TimeSpan> spans);
// What convert_aligned aligns: the cues' spans, or their start marks (the reference
// is then given as marks).
enum class AlignBy { kSpans, kStarts };

// The time a source time t of the cue starting at start_ms moves to.
int64_t aligned_time(const Alignment& alignment, int64_t start_ms, int64_t t);

// Moves each cue by the alignment (nothing when it has no segments).
void apply_alignment(const Alignment& alignment, std::vector<Cue>& cues);

// The cues' spans, for aligning or as a reference.
std::vector<TimeSpan> cue_spans(std::span<const Cue> cues);

// What was applied, for the converter's summary line: "offset +1.500 s, ratio
// 25/23.976, 2 splits (+91.500 s, -88.500 s), score 93 %".
std::string alignment_text(const Alignment& alignment);

// The line a refused match gives, byte for byte.
constexpr const char* kNoReliableMatch = "no reliable match: left as it was";

// Why a match is refused: kNoReliableMatch when no part of the file is supported,
// else the stretches (source times) that are not: "no reliable match for
// 0:41:10-0:58:20: left as it was".
std::string refusal_text(const Alignment& alignment);

// Whether a cue only describes a sound ("[muziek]", "(deur slaat dicht)", a song
// between music signs): text that no speech and no plain reference has.
bool is_sound_description(const Cue& cue);

// The spans of the cues that are spoken (not is_sound_description), for aligning.
std::vector<TimeSpan> spoken_cue_spans(std::span<const Cue> cues);

// What a --sync-to reference is, from the start of the file: a transport stream (a
// recording) by its packets' sync bytes, a subtitle file in a format the converter
// reads or in the player's own, or something else.
enum class ReferenceKind { kSubtitleFile, kTransportStream, kOther };
ReferenceKind reference_kind(std::span<const uint8_t> head);

// Reads a subtitle file in any format the converter reads into its spoken cues'
// spans, or one in the player's own into all its cues' spans (the times it shows them
// at, its header's offset added), for use as a reference; kConvertOk, or
// kConvertFailed with error set.
int read_reference_subtitles(std::span<const uint8_t> input, std::vector<TimeSpan>& spans,
                             std::string& error);

// convert_subtitles with the cues aligned to the reference before anything else is
// done with them (its sound descriptions moving with their stretch, but not pulling
// it). A match below the confidence, or an alignment stopped (stop, as align_spans
// asks it), fails with refusal_text as the error, unless write_unaligned: then the
// file is converted as it was, and its header names no reference
// (options.sync_reference). alignment says what was found either way.
int convert_aligned(std::span<const uint8_t> input, const ConvertOptions& options,
                    std::span<const TimeSpan> reference, bool write_unaligned, std::string& output,
                    ConvertReport& report, Alignment& alignment, const AlignStop& stop = {},
                    AlignBy by = AlignBy::kSpans);

// The converter's summary line for a file aligned to reference_name.
std::string aligned_summary_line(std::string_view file_name, std::string_view reference_name,
                                 int result, const ConvertReport& report,
                                 const Alignment& alignment);

}  // namespace conv
