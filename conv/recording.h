// Subtitle timing from a recording: an MPEG transport stream as the box records it.
// Its program tables say which streams carry DVB subtitles or teletext subtitles;
// those streams' packets are reassembled and read for when something is shown (the
// page compositions of DVB subtitles, no bitmaps decoded; the rows of teletext
// subtitle pages, decoded to text), with times from their time stamps. Integer only,
// and the file is read in pieces: a recording of several GB needs no more memory
// than a small one.
//
// Time 0 of a recording is its first picture: the earliest time stamp among the
// first pictures of its program's video (without video, its first time stamp of
// any other stream), which is where a player starts the recording.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "conv/align.h"

namespace conv {

enum class RecordingStreamType : uint8_t { kDvbSubtitles, kTeletext };

// A stretch during which a subtitle stream shows something; ms from the recording's
// time 0 (ticks of the 90 kHz time stamps while the reader runs). Teletext carries its
// text (rows joined by "\n"), DVB subtitles none.
struct ShownSubtitle {
    int64_t start = 0;
    int64_t end = 0;
    std::string text;
};

// One subtitle stream: a DVB subtitle page or a teletext subtitle page.
struct RecordingStream {
    RecordingStreamType type = RecordingStreamType::kDvbSubtitles;
    uint16_t pid = 0;
    // The DVB composition page, or the teletext page as it is written in hex digits
    // (0x888 for page 888).
    uint16_t page = 0;
    std::string language;  // from the program map, e.g. "nld"; may be empty
    size_t program = 0;    // index among the programs read
    std::vector<ShownSubtitle> shown;
    size_t text_bytes = 0;  // text kept so far (bounded)
    // Read in pieces: when the subtitles still showing at a gap started (ms as shown's;
    // their end is not known).
    std::vector<int64_t> cut_starts;
};

// What was wrong with the stream; all zero for an intact recording.
struct RecordingDamage {
    int64_t bytes_out_of_sync = 0;  // bytes skipped to find the packets again
    int64_t continuity_errors = 0;  // packets missing or out of order on a stream read
    int64_t damaged_packets = 0;    // packets marked as errored or malformed
    int64_t dropped_subtitles = 0;  // subtitle packets (PES) incomplete or malformed
    int64_t bad_tables = 0;         // program tables with a wrong checksum
    int64_t scrambled_packets = 0;  // subtitle packets that are scrambled
    bool cut_at_end = false;        // the file ends inside a packet
    bool any() const {
        return bytes_out_of_sync != 0 || continuity_errors != 0 || damaged_packets != 0 ||
               dropped_subtitles != 0 || bad_tables != 0 || scrambled_packets != 0 || cut_at_end;
    }
};

struct Recording {
    int64_t packets = 0;
    bool program_table = false;  // a program association table was read
    bool program_map = false;    // a program map table was read
    // In the order the program maps list them (streams found only by their content
    // after those).
    std::vector<RecordingStream> streams;
    RecordingDamage damage;
};

// Reads a transport stream given in pieces of any size. Memory stays bounded
// whatever the input: tables, packet buffers, streams and shown stretches all have
// limits.
class RecordingReader {
  public:
    RecordingReader();
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    // Space for the next bytes: fill a prefix of it and commit that many.
    std::span<uint8_t> space();
    void commit(size_t bytes);
    // The same for bytes held elsewhere.
    void feed(std::span<const uint8_t> bytes);
    // The bytes given after this come from further on in the file, after a stretch
    // not read: what was under way is dropped (not counted as damage), and what shows
    // is kept as its start only (cut_starts): its end is not known.
    void skip();
    // Ends the stream: closes what still shows, gives times in ms from time 0. The
    // reader is spent afterwards.
    Recording finish();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// A stretch of a file, in bytes.
struct FilePiece {
    int64_t offset = 0;
    int64_t length = 0;
};

// The pieces a recording of size bytes is read in for its subtitles' timing without
// reading all of it (a film's recording is several GB, a minute or two of a box's
// disk). Round 0: its start, where the program tables are, and after it one piece in
// every kSparseStride of them, a kSparseShare-th of the file each (2 MB of a 4 GB film,
// some 4 s of it, every minute; 16 packets at least); round 1, for when round 0 did
// not tell enough: its start again and a piece midway between each two of round 0. A
// file of at most two strides is one piece in round 0 and none in round 1. Whole
// packets, in the file's order. What shows in them is aligned to by its starts
// (recording_start_marks, AlignBy::kStarts).
constexpr int64_t kSparseShare = 2048;
constexpr int64_t kSparseStride = 16;
std::vector<FilePiece> recording_pieces(int64_t size, int round);

// Reads the pieces of a recording held in memory (those beyond its end in part or not
// at all), skipping between them.
Recording read_recording_pieces(std::span<const uint8_t> file, std::span<const FilePiece> pieces);

// Reads the file at path through a RecordingReader; kConvertOk, or kConvertFailed
// with error set when the file cannot be read.
int read_recording(const std::string& path, Recording& recording, std::string& error);

// The stream whose timing is the reference: the one that shows the most subtitles
// (an empty or nearly empty stream beside it is no help), the first such in the
// program map on a tie; nullptr when none shows any.
const RecordingStream* reference_stream(const Recording& recording);

// "teletext page 888 (nld, PID 0x0201)", "DVB subtitles page 1 (PID 0x0102)".
std::string stream_name(const RecordingStream& stream);

// The reference of a recording for the alignment: the chosen stream's shown stretches
// and a line about it ("teletext page 888 (nld, PID 0x0201), 1473 subtitles", plus the
// damage found); kConvertOk, or kConvertFailed with error saying why there is none.
int read_reference_recording(const std::string& path, std::vector<TimeSpan>& spans,
                             std::string& about, std::string& error);
// The same for a recording read otherwise (the box reads it through its device layer).
int recording_reference(const Recording& recording, std::vector<TimeSpan>& spans,
                        std::string& about, std::string& error);

// The same for a recording read in pieces, to align by starts (AlignBy::kStarts): the
// start marks of the stream with the most starts, whole subtitles and cut ones, added
// to marks (those of other pieces of the recording), which stay sorted, each start
// once; about counts them all.
int recording_start_marks(const Recording& recording, std::vector<TimeSpan>& marks,
                          std::string& about, std::string& error);
// Whether an alignment by those is taken: reliable, without splits, whose place
// between two pieces is not known to the subtitle, with kLeastStartMarks marks at
// least, and most of them met by a cue's start: at a wrong placement, or against
// another film, a mark meets one by chance (a fifth of them). Else more is read.
constexpr size_t kLeastStartMarks = 40;
bool sparse_alignment_taken(const Alignment& alignment, size_t marks);

// One bit-exact piece of teletext, for reading and for tests: the 4-bit value a
// Hamming 8/4 coded byte carries, one wrong bit corrected; -1 when two bits are wrong.
int hamming_8_4(uint8_t byte);

}  // namespace conv
