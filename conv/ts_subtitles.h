// The two kinds of subtitle stream a recording carries, read from their reassembled
// packets (PES payloads) with the packets' time stamps: DVB subtitles and teletext.
// Used by the transport stream reader only.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "conv/recording.h"

namespace conv::ts {

constexpr int64_t kTicksPerMs = 90;
constexpr int64_t kTicksPerSecond = 90'000;
// Nothing stays on screen longer: a lost clearing packet must not make one subtitle
// cover minutes of the reference.
constexpr int64_t kMaxShownTicks = 30 * kTicksPerSecond;
// Streams (DVB pages and teletext pages together), stretches per stream and text
// kept per stream: far above any film's, low enough for the box.
constexpr size_t kMaxStreams = 16;
constexpr size_t kMaxShown = 20'000;
constexpr size_t kMaxTextBytes = 256 * 1024;

// Appends a stretch to stream within the limits above (ticks).
void add_shown(RecordingStream& stream, int64_t start, int64_t end, std::string_view text);
// The same for the start of one whose end a gap in the reading hid.
void add_cut_start(RecordingStream& stream, int64_t start);

// One PID of DVB subtitles: each composition page on it is a stream of its own. A
// page composition listing a region that has (or may have) objects starts a display;
// the next page composition ends it, and so does its time-out.
class DvbSubtitles {
  public:
    DvbSubtitles(uint16_t pid, size_t program) : pid_(pid), program_(program) {}
    // A page the program map announces (known pages keep their stream).
    void announce(uint16_t page, std::string_view language, std::vector<RecordingStream>& streams);
    // One PES payload (after the PES header) with its time stamp.
    void payload(std::span<const uint8_t> data, int64_t pts, std::vector<RecordingStream>& streams,
                 RecordingDamage& damage);
    // Ends what still shows, at end at the latest.
    void finish(int64_t end, std::vector<RecordingStream>& streams);
    // A stretch of the stream is not read: what shows is kept as its start (its end is
    // not known), and what comes after starts afresh.
    void gap(std::vector<RecordingStream>& streams);

  private:
    struct Page {
        uint16_t id = 0;
        size_t stream = 0;
        int version = -1;
        bool showing = false;
        int64_t since = 0;      // the display's start
        int64_t refreshed = 0;  // its last page composition, from which the time-out runs
        int64_t timeout = 0;    // ticks; 0: none
        // Per region: 0 nothing known, 1 without objects, 2 with objects.
        std::array<uint8_t, 256> regions{};
        // A page composition waiting for the region compositions of its display set.
        bool pending = false;
        int64_t pending_pts = 0;
        int64_t pending_timeout = 0;
        std::vector<uint8_t> pending_regions;
    };
    Page* page(uint16_t id, std::vector<RecordingStream>& streams);
    void commit(Page& page, std::vector<RecordingStream>& streams);
    void end_display(Page& page, int64_t at, std::vector<RecordingStream>& streams);

    uint16_t pid_;
    size_t program_;
    std::vector<Page> pages_;
};

// One PID of teletext: the subtitle pages the program map lists, and any page whose
// header marks it as subtitles, are streams. A page is shown from its header's time
// stamp, with the rows that follow it, until a header brings other rows or none.
class TeletextSubtitles {
  public:
    TeletextSubtitles(uint16_t pid, size_t program) : pid_(pid), program_(program) {}
    void announce(uint16_t page, std::string_view language, std::vector<RecordingStream>& streams);
    void payload(std::span<const uint8_t> data, int64_t pts, std::vector<RecordingStream>& streams,
                 RecordingDamage& damage);
    void finish(int64_t end, std::vector<RecordingStream>& streams);
    // As DvbSubtitles::gap.
    void gap(std::vector<RecordingStream>& streams);

  private:
    static constexpr int kRows = 24;  // rows 1 to 23 are shown; 0 is the header
    struct Page {
        uint16_t number = 0;
        size_t stream = 0;
        // The rows received since the last header, 7-bit codes; a row not received is
        // absent.
        std::array<std::array<uint8_t, 40>, kRows> rows{};
        std::array<bool, kRows> present{};
        int subset = 0;      // national option characters
        bool boxed = false;  // subtitle or news page: only boxed text is shown
        int64_t header_pts = 0;
        bool showing = false;
        int64_t since = 0;
        std::string text;  // what is shown
    };
    int page_index(uint16_t number, bool subtitle_flag, std::vector<RecordingStream>& streams);
    void packet(const uint8_t* bytes, int64_t pts, std::vector<RecordingStream>& streams,
                RecordingDamage& damage);
    void close(int magazine, std::vector<RecordingStream>& streams);
    void close_all(std::vector<RecordingStream>& streams);

    uint16_t pid_;
    size_t program_;
    std::vector<Page> pages_;
    // Per magazine, the page whose rows are being received, or -1.
    std::array<int, 8> receiving_{-1, -1, -1, -1, -1, -1, -1, -1};
};

// The text a teletext row shows: 7-bit codes (parity already checked; 0xFF for a
// code with a parity error) in the national option subset given, control codes as
// spaces, only what lies within boxes when boxed; UTF-8, without the spaces at
// either end.
std::string teletext_row_text(std::span<const uint8_t, 40> codes, int subset, bool boxed);

}  // namespace conv::ts
