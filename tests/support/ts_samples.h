// Recordings made for the tests and the benchmark: MPEG transport streams as a box
// records them (a program association table, a program map, video with a time stamp
// and a picture header every half second), carrying a film's subtitle times as DVB
// subtitles (a page composition at each start with a tiny region, colour table and
// object, an empty one at each end) and/or teletext subtitles (page 888, each
// subtitle's rows boxed, an erased page at its end).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "conv/align.h"

namespace testsup {

using Bytes = std::vector<uint8_t>;

constexpr int64_t kPtsWrap = int64_t{1} << 33;
constexpr uint16_t kPmtPid = 0x0100;
constexpr uint16_t kVideoPid = 0x0101;
constexpr uint16_t kAudioPid = 0x0102;
constexpr uint16_t kDvbPid = 0x0103;
constexpr uint16_t kTeletextPid = 0x0104;
constexpr uint16_t kDecoyPid = 0x0105;
constexpr uint16_t kDvbPage = 1;
constexpr uint16_t kTeletextPage = 0x888;

inline uint32_t mpeg_crc(const Bytes& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : bytes) {
        crc ^= uint32_t{b} << 24;
        for (int k = 0; k < 8; ++k) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// Packets of each PID in turn, with their continuity counters.
class TsWriter {
  public:
    Bytes bytes;

    // A table section (its CRC appended here) from the start of a packet.
    void section(uint16_t pid, Bytes section) {
        const uint32_t crc = mpeg_crc(section);
        for (int s = 24; s >= 0; s -= 8) section.push_back(static_cast<uint8_t>(crc >> s));
        section.insert(section.begin(), 0);  // pointer field
        write(pid, section, std::nullopt, 0xFF);
    }

    // A PES, the last packet filled by adaptation-field stuffing; pcr (27 MHz ticks)
    // goes in the first packet's adaptation field.
    void pes(uint16_t pid, const Bytes& pes, std::optional<int64_t> pcr = std::nullopt) {
        write(pid, pes, pcr, 0);
    }

  private:
    void write(uint16_t pid, const Bytes& data, std::optional<int64_t> pcr, int fill) {
        size_t at = 0;
        bool first = true;
        do {
            // The adaptation field after its length byte.
            Bytes adaptation;
            if (first && pcr) {
                const int64_t base = (*pcr / 300) % kPtsWrap, extension = *pcr % 300;
                adaptation = {0x10,
                              static_cast<uint8_t>(base >> 25),
                              static_cast<uint8_t>(base >> 17),
                              static_cast<uint8_t>(base >> 9),
                              static_cast<uint8_t>(base >> 1),
                              static_cast<uint8_t>((base & 1) << 7 | 0x7E | extension >> 8),
                              static_cast<uint8_t>(extension)};
            }
            bool has_adaptation = !adaptation.empty();
            size_t room = 184 - (has_adaptation ? 1 + adaptation.size() : 0);
            const size_t left = data.size() - at;
            if (fill == 0 && left < room) {
                // A PES ends with its packet: the adaptation field takes up the rest.
                size_t stuffing = room - left;
                if (!has_adaptation) {
                    has_adaptation = true;
                    --stuffing;  // the length byte
                    if (stuffing > 0) {
                        adaptation.push_back(0x00);
                        --stuffing;
                    }
                }
                adaptation.insert(adaptation.end(), stuffing, 0xFF);
                room = left;
            }
            bytes.push_back(0x47);
            bytes.push_back(static_cast<uint8_t>((first ? 0x40 : 0) | pid >> 8));
            bytes.push_back(static_cast<uint8_t>(pid));
            bytes.push_back(static_cast<uint8_t>((has_adaptation ? 0x30 : 0x10) | counter_[pid]));
            counter_[pid] = (counter_[pid] + 1) & 0x0F;
            if (has_adaptation) {
                bytes.push_back(static_cast<uint8_t>(adaptation.size()));
                bytes.insert(bytes.end(), adaptation.begin(), adaptation.end());
            }
            const size_t n = std::min(room, left);
            bytes.insert(bytes.end(), data.begin() + static_cast<ptrdiff_t>(at),
                         data.begin() + static_cast<ptrdiff_t>(at + n));
            at += n;
            // Tables fill the packet's rest with 0xFF.
            while (bytes.size() % 188 != 0) bytes.push_back(static_cast<uint8_t>(fill));
            first = false;
        } while (at < data.size());
    }

    std::array<uint8_t, 8192> counter_{};
};

inline Bytes pat_section(uint16_t program, uint16_t pmt_pid) {
    Bytes s{0x00, 0xB0, 13, 0x00, 0x01, 0xC1, 0x00, 0x00};
    s.push_back(static_cast<uint8_t>(program >> 8));
    s.push_back(static_cast<uint8_t>(program));
    s.push_back(static_cast<uint8_t>(0xE0 | pmt_pid >> 8));
    s.push_back(static_cast<uint8_t>(pmt_pid));
    return s;
}

struct EsEntry {
    uint8_t type;
    uint16_t pid;
    Bytes descriptors;
};

inline Bytes pmt_section(uint16_t program, uint16_t pcr_pid, const std::vector<EsEntry>& streams,
                         int version = 0) {
    Bytes s{0x02, 0, 0};
    s.push_back(static_cast<uint8_t>(program >> 8));
    s.push_back(static_cast<uint8_t>(program));
    s.push_back(static_cast<uint8_t>(0xC1 | (version & 0x1F) << 1));
    s.push_back(0x00);
    s.push_back(0x00);
    s.push_back(static_cast<uint8_t>(0xE0 | pcr_pid >> 8));
    s.push_back(static_cast<uint8_t>(pcr_pid));
    s.push_back(0xF0);
    s.push_back(0x00);
    for (const EsEntry& e : streams) {
        s.push_back(e.type);
        s.push_back(static_cast<uint8_t>(0xE0 | e.pid >> 8));
        s.push_back(static_cast<uint8_t>(e.pid));
        s.push_back(static_cast<uint8_t>(0xF0 | e.descriptors.size() >> 8));
        s.push_back(static_cast<uint8_t>(e.descriptors.size()));
        s.insert(s.end(), e.descriptors.begin(), e.descriptors.end());
    }
    const size_t length = s.size() - 3 + 4;
    s[1] = static_cast<uint8_t>(0xB0 | length >> 8);
    s[2] = static_cast<uint8_t>(length);
    return s;
}

inline Bytes subtitling_descriptor(const char* language, uint16_t page) {
    return {0x59,
            8,
            static_cast<uint8_t>(language[0]),
            static_cast<uint8_t>(language[1]),
            static_cast<uint8_t>(language[2]),
            0x10,
            static_cast<uint8_t>(page >> 8),
            static_cast<uint8_t>(page),
            static_cast<uint8_t>(page >> 8),
            static_cast<uint8_t>(page)};
}

// Page 0x888: magazine 8 (written 0) and page byte 0x88; type 2 is subtitles.
inline Bytes teletext_descriptor(const char* language, uint16_t page, int type = 2) {
    return {0x56,
            5,
            static_cast<uint8_t>(language[0]),
            static_cast<uint8_t>(language[1]),
            static_cast<uint8_t>(language[2]),
            static_cast<uint8_t>(type << 3 | ((page >> 8) & 7)),
            static_cast<uint8_t>(page)};
}

// A PES with a time stamp; header_stuffing pads the header (teletext's is 45 bytes).
inline Bytes pes_packet(uint8_t stream_id, int64_t pts, const Bytes& payload,
                        size_t header_stuffing = 0) {
    pts %= kPtsWrap;
    Bytes p{
        0x00, 0x00, 0x01, stream_id, 0, 0, 0x84, 0x80, static_cast<uint8_t>(5 + header_stuffing)};
    p.push_back(static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)));
    p.push_back(static_cast<uint8_t>(pts >> 22));
    p.push_back(static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1));
    p.push_back(static_cast<uint8_t>(pts >> 7));
    p.push_back(static_cast<uint8_t>(((pts << 1) & 0xFE) | 1));
    p.insert(p.end(), header_stuffing, 0xFF);
    p.insert(p.end(), payload.begin(), payload.end());
    const size_t length = p.size() - 6;
    p[4] = static_cast<uint8_t>(length >> 8);
    p[5] = static_cast<uint8_t>(length);
    return p;
}

// ---- DVB subtitles

inline void dvb_segment(Bytes& out, uint8_t type, uint16_t page, const Bytes& data) {
    out.insert(out.end(),
               {0x0F, type, static_cast<uint8_t>(page >> 8), static_cast<uint8_t>(page),
                static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())});
    out.insert(out.end(), data.begin(), data.end());
}

// A display set: shown, a region of 8 x 2 pixels with one object of colour 1 (or,
// without objects, none: the region shows nothing); otherwise a page composition
// without regions (the page cleared).
inline Bytes dvb_display_set(uint16_t page, int version, bool shown, int timeout_s = 10,
                             bool objects = true) {
    Bytes out{0x20, 0x00};
    Bytes composition{static_cast<uint8_t>(timeout_s), static_cast<uint8_t>(version << 4 | 1 << 2)};
    if (shown) composition.insert(composition.end(), {0x00, 0xFF, 0x00, 0x64, 0x01, 0xF4});
    dvb_segment(out, 0x10, page, composition);
    if (shown) {
        Bytes region{
            0x00, static_cast<uint8_t>(version << 4), 0x00, 0x08, 0x00, 0x02, 0x48, 0x00, 0x00,
            0x00};
        if (objects) region.insert(region.end(), {0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
        dvb_segment(out, 0x11, page, region);
        dvb_segment(out, 0x12, page,
                    {0x00, static_cast<uint8_t>(version << 4), 0x01, 0x41, 235, 128, 128, 0});
        const Bytes field{0x11, 0x11, 0x11, 0x11, 0x11, 0x00, 0xF0};
        Bytes object{0x00,
                     0x00,
                     static_cast<uint8_t>(version << 4),
                     0x00,
                     static_cast<uint8_t>(field.size()),
                     0x00,
                     static_cast<uint8_t>(field.size())};
        object.insert(object.end(), field.begin(), field.end());
        object.insert(object.end(), field.begin(), field.end());
        dvb_segment(out, 0x13, page, object);
    }
    dvb_segment(out, 0x80, page, {});
    out.push_back(0xFF);
    return out;
}

// ---- Teletext

inline uint8_t reversed(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | ((b >> i) & 1) << (7 - i));
    return r;
}

inline uint8_t hamming(int d) {
    const int d1 = d & 1, d2 = (d >> 1) & 1, d3 = (d >> 2) & 1, d4 = (d >> 3) & 1;
    const int p1 = 1 ^ d1 ^ d3 ^ d4, p2 = 1 ^ d1 ^ d2 ^ d4, p3 = 1 ^ d1 ^ d2 ^ d3;
    const int p4 = 1 ^ p1 ^ d1 ^ p2 ^ d2 ^ p3 ^ d3 ^ d4;
    return static_cast<uint8_t>(p1 | d1 << 1 | p2 << 2 | d2 << 3 | p3 << 4 | d3 << 5 | p4 << 6 |
                                d4 << 7);
}

// A 7-bit code with its odd parity bit.
inline uint8_t odd_parity(uint8_t c) {
    c &= 0x7F;
    int ones = 0;
    for (int i = 0; i < 7; ++i) ones += (c >> i) & 1;
    return static_cast<uint8_t>(ones % 2 == 0 ? c | 0x80 : c);
}

// One data unit (subtitle data) carrying packet `row` of a magazine with 40 bytes.
inline void teletext_unit(Bytes& out, int magazine, int row, const std::array<uint8_t, 40>& data) {
    out.insert(out.end(), {0x03, 0x2C, 0xE7, 0xE4});
    out.push_back(reversed(hamming((magazine & 7) | (row & 1) << 3)));
    out.push_back(reversed(hamming(row >> 1)));
    for (uint8_t b : data) out.push_back(reversed(b));
}

struct TeletextOptions {
    int subset = 0;        // national option characters (C12 lowest)
    bool serial = false;   // serial transmission (C11)
    bool subtitle = true;  // the header's subtitle flag (C6)
    bool filler = true;    // a time-filling header after the rows
};

// The PES payload of page with rows (empty: the page erased): the header
// with erase and subtitle set, each row boxed on rows ..., 20, 22, a time-filling
// header to end the page, stuffing units to make the whole PES a multiple of 184 bytes.
inline Bytes teletext_page(uint16_t page, const std::vector<std::string>& rows,
                           TeletextOptions options = {}) {
    Bytes out{0x10};
    std::array<uint8_t, 40> header{};
    header.fill(odd_parity(' '));
    const int values[8] = {
        page & 0xF, (page >> 4) & 0xF,        0, 8,
        0,          options.subtitle ? 8 : 0, 1, (options.serial ? 1 : 0) | options.subset << 1};
    for (int i = 0; i < 8; ++i) header[static_cast<size_t>(i)] = hamming(values[i]);
    teletext_unit(out, page >> 8, 0, header);
    int row = 22 - 2 * static_cast<int>(rows.size() - (rows.empty() ? 0 : 1));
    for (const std::string& text : rows) {
        std::array<uint8_t, 40> line{};
        line.fill(odd_parity(' '));
        size_t at = 2;
        line[at++] = odd_parity(0x0D);  // double height
        line[at++] = odd_parity(0x0B);
        line[at++] = odd_parity(0x0B);
        for (char c : text) {
            if (at < 37) line[at++] = odd_parity(static_cast<uint8_t>(c));
        }
        line[at++] = odd_parity(0x0A);
        line[at] = odd_parity(0x0A);
        teletext_unit(out, page >> 8, row, line);
        row += 2;
    }
    // A time-filling header (page FF) ends the page's transmission.
    if (options.filler) {
        std::array<uint8_t, 40> filler = header;
        filler[0] = filler[1] = hamming(0xF);
        teletext_unit(out, page >> 8, 0, filler);
    }
    // 45 bytes of PES header, the identifier and 46 per unit: (units + 1) a multiple of 4.
    while (((out.size() - 1) / 46 + 1) % 4 != 0) {
        out.insert(out.end(), {0xFF, 0x2C});
        out.insert(out.end(), 44, 0xFF);
    }
    return out;
}

// The sequence header and extension, a picture header and the start of a slice of
// MPEG-2 video, 720 x 576 at 25 pictures a second (no picture data: nothing here
// decodes pictures).
inline Bytes picture_payload() {
    return {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x23, 0xFF, 0xFF, 0xE3, 0x80,
            0x00, 0x00, 0x01, 0xB5, 0x14, 0x82, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
            0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8, 0x00, 0x00, 0x01, 0x01, 0x0A, 0x00};
}

// A short recording: pictures at 0 (time 0) and at end_ms only, and the PES payloads
// given on one subtitle stream, each at its ms.
struct TimedPayload {
    int64_t ms;
    Bytes payload;
};

inline Bytes short_recording(const EsEntry& subtitles, const std::vector<TimedPayload>& payloads,
                             int64_t end_ms, int64_t first_pts = 900'000) {
    auto pts = [&](int64_t ms) { return (first_pts + ms * 90) % kPtsWrap; };
    const bool teletext = !subtitles.descriptors.empty() && subtitles.descriptors[0] == 0x56;
    TsWriter ts;
    ts.section(0, pat_section(1, kPmtPid));
    ts.section(kPmtPid, pmt_section(1, kVideoPid, {{0x02, kVideoPid, {}}, subtitles}));
    ts.pes(kVideoPid, pes_packet(0xE0, pts(0), picture_payload()));
    for (const TimedPayload& p : payloads) {
        ts.pes(subtitles.pid, pes_packet(0xBD, pts(p.ms), p.payload, teletext ? 31 : 0));
    }
    ts.pes(kVideoPid, pes_packet(0xE0, pts(end_ms), picture_payload()));
    return ts.bytes;
}

// ---- A whole recording

struct RecordingPlan {
    bool dvb = true;
    bool teletext = false;
    // A DVB stream listed first that shows a few subtitles only.
    bool decoy = false;
    bool video = true;
    bool audio = false;
    bool pat = true;
    bool pmt = true;
    // The recording starts this long before the film.
    int64_t lead_ms = 95'000;
    // The first picture's time stamp; near the wrap, so that the film crosses it.
    int64_t first_pts = kPtsWrap - 90 * 1'800'000;
    // The audio's time stamps lead the video's by this much.
    int64_t audio_lead_ms = 0;
    int64_t picture_every_ms = 500;
    // Bytes of each picture's PES payload (padded with picture data of zeros).
    size_t picture_bytes = 0;
    // Teletext PES with stuffing only between the pages, this often (0: none), as
    // broadcasts send one every picture.
    int64_t teletext_filler_ms = 0;
    TeletextOptions teletext_options;
};

inline Bytes recording(const std::vector<conv::TimeSpan>& film, const RecordingPlan& plan) {
    struct Event {
        int64_t ms;  // recording time
        int order;
        uint16_t pid;
        Bytes pes;
    };
    auto pts = [&](int64_t ms) { return (plan.first_pts + ms * 90) % kPtsWrap; };
    std::vector<Event> events;
    int dvb_version = 0;
    for (size_t i = 0; i < film.size(); ++i) {
        const int64_t start = film[i].start_ms + plan.lead_ms, end = film[i].end_ms + plan.lead_ms;
        if (plan.dvb) {
            events.push_back({start, 1, kDvbPid,
                              pes_packet(0xBD, pts(start),
                                         dvb_display_set(kDvbPage, dvb_version++ & 15, true))});
            events.push_back(
                {end, 1, kDvbPid,
                 pes_packet(0xBD, pts(end), dvb_display_set(kDvbPage, dvb_version++ & 15, false))});
        }
        if (plan.teletext) {
            std::vector<std::string> rows{"Regel " + std::to_string(i + 1)};
            if (i % 3 == 0) rows.push_back("tweede regel");
            events.push_back(
                {start, 2, kTeletextPid,
                 pes_packet(0xBD, pts(start),
                            teletext_page(kTeletextPage, rows, plan.teletext_options), 31)});
            events.push_back(
                {end, 2, kTeletextPid,
                 pes_packet(0xBD, pts(end), teletext_page(kTeletextPage, {}, plan.teletext_options),
                            31)});
        }
    }
    if (plan.decoy) {
        for (int i = 0; i < 3; ++i) {
            const int64_t at = plan.lead_ms + 60'000 * (i + 1);
            events.push_back({at, 3, kDecoyPid,
                              pes_packet(0xBD, pts(at), dvb_display_set(kDvbPage, i * 2, true))});
            events.push_back(
                {at + 2000, 3, kDecoyPid,
                 pes_packet(0xBD, pts(at + 2000), dvb_display_set(kDvbPage, i * 2 + 1, false))});
        }
    }
    const int64_t last = (film.empty() ? 0 : film.back().end_ms) + plan.lead_ms + 10'000;
    std::vector<EsEntry> streams;
    if (plan.decoy) streams.push_back({0x06, kDecoyPid, subtitling_descriptor("deu", kDvbPage)});
    if (plan.video) streams.push_back({0x02, kVideoPid, {}});
    if (plan.audio) streams.push_back({0x03, kAudioPid, {0x0A, 4, 'n', 'l', 'd', 0}});
    if (plan.dvb) streams.push_back({0x06, kDvbPid, subtitling_descriptor("nld", kDvbPage)});
    if (plan.teletext) {
        streams.push_back({0x06, kTeletextPid, teletext_descriptor("nld", kTeletextPage)});
    }
    std::vector<int64_t> page_times;
    for (const Event& e : events) {
        if (e.pid == kTeletextPid) page_times.push_back(e.ms);
    }
    std::sort(page_times.begin(), page_times.end());
    for (int64_t f = 0; plan.teletext && plan.teletext_filler_ms > 0 && f <= last;
         f += plan.teletext_filler_ms) {
        if (std::binary_search(page_times.begin(), page_times.end(), f)) continue;
        Bytes stuffing{0x10};
        for (int u = 0; u < 3; ++u) {
            stuffing.insert(stuffing.end(), {0xFF, 0x2C});
            stuffing.insert(stuffing.end(), 44, 0xFF);
        }
        events.push_back({f, 4, kTeletextPid, pes_packet(0xBD, pts(f), stuffing, 31)});
    }
    for (int64_t t = 0; t <= last; t += plan.picture_every_ms) {
        if (plan.video) {
            Bytes picture = picture_payload();
            if (picture.size() < plan.picture_bytes) picture.resize(plan.picture_bytes, 0);
            events.push_back({t, 0, kVideoPid, pes_packet(0xE0, pts(t), picture)});
        }
        if (plan.audio) {
            events.push_back({t, 0, kAudioPid,
                              pes_packet(0xC0, pts(t + plan.audio_lead_ms),
                                         {0xFF, 0xFD, 0x94, 0x04, 0, 0, 0, 0})});
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.ms != b.ms ? a.ms < b.ms : a.order < b.order;
    });
    TsWriter ts;
    int64_t next_tables = 0;
    const uint16_t pcr_pid = plan.video ? kVideoPid : plan.audio ? kAudioPid : 0x1FFF;
    for (const Event& e : events) {
        while (e.ms >= next_tables) {
            if (plan.pat) ts.section(0, pat_section(1, kPmtPid));
            if (plan.pmt) ts.section(kPmtPid, pmt_section(1, pcr_pid, streams));
            next_tables += 400;
        }
        // The clock runs 300 ms ahead of the pictures' time stamps.
        std::optional<int64_t> pcr;
        if (e.pid == pcr_pid) pcr = (pts(e.ms) + kPtsWrap - 27'000) % kPtsWrap * 300;
        ts.pes(e.pid, e.pes, pcr);
    }
    return ts.bytes;
}

// A minute of a recording as broadcast: 4 Mbit/s of video in 25 pictures a second,
// audio, DVB subtitles and a teletext PES every picture; what a box's recording of a
// film is made of, minute after minute.
inline Bytes broadcast_minute() {
    std::vector<conv::TimeSpan> film;
    for (int64_t t = 1000; t < 58'000; t += 3000) film.push_back({t, t + 2000});
    RecordingPlan plan;
    plan.teletext = true;
    plan.audio = true;
    plan.lead_ms = 0;
    plan.picture_every_ms = 40;
    plan.picture_bytes = 20'000;
    plan.teletext_filler_ms = 40;
    return recording(film, plan);
}

}  // namespace testsup
