// The transport stream reader: packets found and kept in step, the program tables
// (PAT, PMT) read for the subtitle streams and the video, the subtitle streams'
// packets reassembled (PES) and handed with their time stamps to conv/ts_subtitles.
// Packets of every other stream are looked at only for the time stamp at their start.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "conv/recording.h"
#include "conv/ts_subtitles.h"

namespace conv {
namespace {

constexpr size_t kPacket = 188;
constexpr uint8_t kSyncByte = 0x47;
constexpr size_t kPids = 8192;
// Bytes read at a time; the buffer holds a little more for a packet left over.
constexpr size_t kChunk = 344 * kPacket;
// PAT and PMT sections are at most this long.
constexpr size_t kMaxSection = 1024;
// The longest PES a length field can give.
constexpr size_t kMaxPes = 6 + 65535;
constexpr size_t kMaxPrograms = 16;
constexpr size_t kMaxSubtitlePids = 8;
// Time 0 is the earliest of this many first pictures' time stamps: pictures are sent
// in decoding order, which puts a later one first.
constexpr int kZeroPictures = 8;
constexpr int64_t kPtsWrap = int64_t{1} << 33;
// The stream id DVB subtitles and teletext are carried under.
constexpr uint8_t kPrivateStream1 = 0xBD;

// The MPEG-2 CRC-32 of the program tables (no reflection, no final inversion).
constexpr std::array<uint32_t, 256> kCrcTable = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) != 0 ? (c << 1) ^ 0x04C11DB7u : c << 1;
        t[i] = c;
    }
    return t;
}();

uint32_t crc32(std::span<const uint8_t> bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const uint8_t b : bytes) crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ b) & 0xFF];
    return crc;
}

bool is_video(uint8_t stream_type) {
    // MPEG-1/2 video, MPEG-4 visual, H.264, H.265, AVS
    constexpr std::array<uint8_t, 6> kVideo{0x01, 0x02, 0x10, 0x1B, 0x24, 0x42};
    return std::find(kVideo.begin(), kVideo.end(), stream_type) != kVideo.end();
}

// The PES header's time stamp (33 bits), when it has one within bytes.
std::optional<int64_t> pes_time_stamp(std::span<const uint8_t> pes) {
    if (pes.size() < 14 || pes[0] != 0 || pes[1] != 0 || pes[2] != 1) return std::nullopt;
    if ((pes[6] & 0xC0) != 0x80 || (pes[7] & 0x80) == 0 || pes[8] < 5) return std::nullopt;
    return int64_t{(pes[9] >> 1) & 7} << 30 | int64_t{pes[10]} << 22 | int64_t{pes[11] >> 1} << 15 |
           int64_t{pes[12]} << 7 | int64_t{pes[13] >> 1};
}

int64_t floor_div(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

enum class Role : uint8_t { kNone, kTable, kSubtitles, kVideo, kOtherStream };

}  // namespace

struct RecordingReader::State {
    State() {
        // Reserved whole: a table's bytes are still in use while it adds another.
        tables.reserve(kMaxPrograms + 1);
        programs.reserve(kMaxPrograms);
        subtitles.reserve(kMaxSubtitlePids);
        pids[0].role = Role::kTable;  // the program association table
        tables.emplace_back();
    }

    std::vector<uint8_t> buffer = std::vector<uint8_t>(kChunk + 2 * kPacket);
    size_t length = 0;
    bool synced = false;
    bool finished = false;
    Recording recording;

    struct Pid {
        Role role = Role::kNone;
        int8_t continuity = -1;  // the last counter seen; -1: none yet
        uint16_t index = 0;      // into tables, subtitles or programs
    };
    std::vector<Pid> pids = std::vector<Pid>(kPids);

    struct Table {
        std::vector<uint8_t> bytes;
        bool open = false;
        // The last section read: tables repeat several times a second, mostly unchanged.
        std::vector<uint8_t> last;
    };
    std::vector<Table> tables;

    struct Program {
        uint16_t number = 0;
        uint16_t map_pid = 0;
        int version = -1;
        int video_pictures = 0;
        int64_t video_zero = 0;
        bool other_seen = false;
        int64_t other_zero = 0;
    };
    std::vector<Program> programs;

    struct Subtitles {
        Subtitles(uint16_t pid, size_t program, RecordingStreamType type)
            : type(type), dvb(pid, program), teletext(pid, program) {}
        RecordingStreamType type;
        ts::DvbSubtitles dvb;
        ts::TeletextSubtitles teletext;
        std::vector<uint8_t> pes;
        bool assembling = false;
        bool have_pts = false;
        int64_t last_pts = 0;
    };
    std::vector<Subtitles> subtitles;

    // Time stamps are unwrapped against the last one seen, on any stream.
    bool have_time = false;
    int64_t last_time = 0;
    int64_t latest_time = 0;
    int64_t first_time = 0;

    int64_t unwrap(int64_t pts) {
        if (!have_time) {
            have_time = true;
            first_time = latest_time = last_time = pts;
            return pts;
        }
        // The difference modulo 2^33 as a mask: no 64-bit division on the box.
        int64_t step = (pts - last_time) & (kPtsWrap - 1);
        if (step >= kPtsWrap / 2) step -= kPtsWrap;
        last_time += step;
        latest_time = std::max(latest_time, last_time);
        return last_time;
    }

    void process(bool final);
    void packet(const uint8_t* p);
    void lose(Pid& pid);
    void table_packet(Table& table, uint16_t pid, std::span<const uint8_t> payload, bool start);
    void drain(Table& table, uint16_t pid);
    bool section(std::span<const uint8_t> bytes, uint16_t pid);
    void association(std::span<const uint8_t> section);
    void program_map(std::span<const uint8_t> section, uint16_t pid);
    void elementary_stream(size_t program, uint8_t type, uint16_t pid,
                           std::span<const uint8_t> descriptors);
    void pes_packet(Subtitles& s, std::span<const uint8_t> payload, bool start);
    void end_pes(Subtitles& s, bool complete);
    void stamp(Role role, Program& program, std::span<const uint8_t> payload);
    int64_t zero(size_t program) const;
};

// Packets are taken where the sync byte is; after a loss of step, where a sync byte
// has another one a packet further on (or the stream ends), so that a stray 0x47 in
// the data does not start a packet.
void RecordingReader::State::process(bool final) {
    size_t at = 0;
    uint8_t* b = buffer.data();
    while (length - at >= kPacket) {
        if (b[at] == kSyncByte) {
            if (synced) {
                packet(b + at);
                at += kPacket;
                continue;
            }
            if (at + kPacket < length) {
                if (b[at + kPacket] == kSyncByte) {
                    synced = true;
                    continue;
                }
            } else if (final) {
                synced = true;
                continue;
            } else {
                break;  // the next bytes will tell
            }
        }
        synced = false;
        ++recording.damage.bytes_out_of_sync;
        ++at;
    }
    std::memmove(b, b + at, length - at);
    length -= at;
}

void RecordingReader::State::lose(Pid& pid) {
    if (pid.role == Role::kTable) {
        tables[pid.index].open = false;
    } else if (pid.role == Role::kSubtitles) {
        Subtitles& s = subtitles[pid.index];
        if (s.assembling) ++recording.damage.dropped_subtitles;
        s.assembling = false;
    }
}

void RecordingReader::State::packet(const uint8_t* p) {
    ++recording.packets;
    if ((p[1] & 0x80) != 0) {  // the demodulator could not correct it
        ++recording.damage.damaged_packets;
        return;
    }
    const uint16_t number = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
    Pid& pid = pids[number];
    if (pid.role == Role::kNone) return;
    const int control = (p[3] >> 4) & 3;
    const int8_t counter = static_cast<int8_t>(p[3] & 0x0F);
    size_t at = 4;
    bool discontinuity = false;
    if ((control & 2) != 0) {
        at = 5 + size_t{p[4]};
        if (at > kPacket) {
            ++recording.damage.damaged_packets;
            lose(pid);
            return;
        }
        discontinuity = p[4] > 0 && (p[5] & 0x80) != 0;
    }
    if ((control & 1) == 0) return;  // no payload: the counter stays
    if (pid.role == Role::kTable || pid.role == Role::kSubtitles) {
        if (pid.continuity >= 0 && !discontinuity) {
            if (counter == pid.continuity) return;  // sent twice
            if (counter != ((pid.continuity + 1) & 0x0F)) {
                ++recording.damage.continuity_errors;
                lose(pid);
            }
        }
        pid.continuity = counter;
    }
    const bool start = (p[1] & 0x40) != 0;
    const std::span<const uint8_t> payload(p + at, kPacket - at);
    if ((p[3] & 0xC0) != 0) {  // scrambled: nothing in it can be read
        if (pid.role == Role::kSubtitles) {
            ++recording.damage.scrambled_packets;
            lose(pid);
        }
        return;
    }
    switch (pid.role) {
        case Role::kTable:
            table_packet(tables[pid.index], number, payload, start);
            break;
        case Role::kSubtitles:
            pes_packet(subtitles[pid.index], payload, start);
            break;
        case Role::kVideo:
        case Role::kOtherStream:
            if (start) stamp(pid.role, programs[pid.index], payload);
            break;
        case Role::kNone:
            break;
    }
}

void RecordingReader::State::table_packet(Table& table, uint16_t pid,
                                          std::span<const uint8_t> payload, bool start) {
    if (start) {
        if (payload.empty()) return;
        const size_t pointer = payload[0];
        if (1 + pointer > payload.size()) {
            ++recording.damage.damaged_packets;
            table.open = false;
            return;
        }
        if (table.open) {
            table.bytes.insert(table.bytes.end(), &payload[1], &payload[1 + pointer]);
            drain(table, pid);
            // A section still incomplete here has lost its end.
            if (table.open && !table.bytes.empty()) ++recording.damage.bad_tables;
        }
        table.bytes.assign(payload.begin() + 1 + static_cast<ptrdiff_t>(pointer), payload.end());
        table.open = true;
    } else if (table.open) {
        table.bytes.insert(table.bytes.end(), payload.begin(), payload.end());
    }
    drain(table, pid);
}

// Reads the complete sections at the start of the table's bytes.
void RecordingReader::State::drain(Table& table, uint16_t pid) {
    while (table.open && table.bytes.size() >= 3) {
        const size_t length = 3 + size_t{(table.bytes[1] & 0x0Fu) << 8 | table.bytes[2]};
        if (table.bytes[0] == 0xFF || length > kMaxSection) {
            // Stuffing ends what the packet holds; a longer section is no table's.
            if (table.bytes[0] != 0xFF) ++recording.damage.bad_tables;
            table.open = false;
            table.bytes.clear();
            return;
        }
        if (table.bytes.size() < length) return;
        const std::span<const uint8_t> bytes(table.bytes.data(), length);
        if (!std::equal(bytes.begin(), bytes.end(), table.last.begin(), table.last.end()) &&
            section(bytes, pid)) {
            table.last.assign(bytes.begin(), bytes.end());
        }
        table.bytes.erase(table.bytes.begin(),
                          table.bytes.begin() + static_cast<ptrdiff_t>(length));
    }
}

// False for a section with a wrong checksum.
bool RecordingReader::State::section(std::span<const uint8_t> bytes, uint16_t pid) {
    if (bytes.size() < 12 || crc32(bytes) != 0) {
        ++recording.damage.bad_tables;
        return false;
    }
    if (pid == 0 && bytes[0] == 0x00) association(bytes);
    if (pid != 0 && bytes[0] == 0x02) program_map(bytes, pid);
    return true;
}

void RecordingReader::State::association(std::span<const uint8_t> bytes) {
    recording.program_table = true;
    for (size_t at = 8; at + 4 + 4 <= bytes.size(); at += 4) {
        const uint16_t number = static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
        const uint16_t map_pid = static_cast<uint16_t>((bytes[at + 2] & 0x1F) << 8 | bytes[at + 3]);
        if (number == 0) continue;  // the network information
        const bool known = std::any_of(programs.begin(), programs.end(), [&](const Program& p) {
            return p.number == number && p.map_pid == map_pid;
        });
        if (known || programs.size() >= kMaxPrograms) continue;
        programs.push_back({number, map_pid});
        Pid& entry = pids[map_pid];
        if (entry.role == Role::kNone) {
            entry.role = Role::kTable;
            entry.index = static_cast<uint16_t>(tables.size());
            tables.emplace_back();
        }
    }
}

void RecordingReader::State::program_map(std::span<const uint8_t> bytes, uint16_t pid) {
    const uint16_t number = static_cast<uint16_t>(bytes[3] << 8 | bytes[4]);
    const auto found = std::find_if(programs.begin(), programs.end(), [&](const Program& p) {
        return p.number == number && p.map_pid == pid;
    });
    if (found == programs.end()) return;
    recording.program_map = true;
    const int version = (bytes[5] >> 1) & 0x1F;
    if (found->version == version) return;
    found->version = version;
    const size_t program = static_cast<size_t>(found - programs.begin());
    const size_t end = bytes.size() - 4;
    size_t at = 12 + size_t{(bytes[10] & 0x0Fu) << 8 | bytes[11]};
    while (at + 5 <= end) {
        const uint8_t type = bytes[at];
        const uint16_t es_pid = static_cast<uint16_t>((bytes[at + 1] & 0x1F) << 8 | bytes[at + 2]);
        const size_t info = (bytes[at + 3] & 0x0Fu) << 8 | bytes[at + 4];
        const size_t info_end = std::min(end, at + 5 + info);
        elementary_stream(program, type, es_pid, bytes.subspan(at + 5, info_end - (at + 5)));
        at = info_end;
    }
}

void RecordingReader::State::elementary_stream(size_t program, uint8_t type, uint16_t es_pid,
                                               std::span<const uint8_t> descriptors) {
    Pid& entry = pids[es_pid];
    constexpr uint8_t kPrivateData = 0x06;
    constexpr uint8_t kSubtitling = 0x59, kTeletext = 0x56, kVbiTeletext = 0x46;
    std::optional<RecordingStreamType> subtitle_type;
    if (type == kPrivateData) {
        for (size_t at = 0; at + 2 <= descriptors.size(); at += 2 + size_t{descriptors[at + 1]}) {
            const uint8_t tag = descriptors[at];
            if (tag == kSubtitling) subtitle_type = RecordingStreamType::kDvbSubtitles;
            if (tag == kTeletext || tag == kVbiTeletext)
                subtitle_type = RecordingStreamType::kTeletext;
        }
    }
    if (!subtitle_type) {
        if (entry.role == Role::kNone && es_pid != 0) {
            entry.role = is_video(type) ? Role::kVideo : Role::kOtherStream;
            entry.index = static_cast<uint16_t>(program);
        }
        return;
    }
    if (entry.role == Role::kNone && es_pid != 0 && subtitles.size() < kMaxSubtitlePids) {
        entry.role = Role::kSubtitles;
        entry.index = static_cast<uint16_t>(subtitles.size());
        subtitles.emplace_back(es_pid, program, *subtitle_type);
    }
    if (entry.role != Role::kSubtitles) return;
    Subtitles& s = subtitles[entry.index];
    // The pages the descriptors announce, with their languages.
    for (size_t at = 0; at + 2 <= descriptors.size(); at += 2 + size_t{descriptors[at + 1]}) {
        const uint8_t tag = descriptors[at];
        const std::span<const uint8_t> body = descriptors.subspan(
            at + 2, std::min<size_t>(descriptors[at + 1], descriptors.size() - (at + 2)));
        if (tag == kSubtitling && s.type == RecordingStreamType::kDvbSubtitles) {
            for (size_t e = 0; e + 8 <= body.size(); e += 8) {
                const std::string language(reinterpret_cast<const char*>(&body[e]), 3);
                s.dvb.announce(static_cast<uint16_t>(body[e + 4] << 8 | body[e + 5]), language,
                               recording.streams);
            }
        } else if ((tag == kTeletext || tag == kVbiTeletext) &&
                   s.type == RecordingStreamType::kTeletext) {
            for (size_t e = 0; e + 5 <= body.size(); e += 5) {
                const int page_type = body[e + 3] >> 3;
                // Subtitles, and subtitles for the hard of hearing.
                if (page_type != 0x02 && page_type != 0x05) continue;
                const int magazine = body[e + 3] & 7;
                const std::string language(reinterpret_cast<const char*>(&body[e]), 3);
                s.teletext.announce(
                    static_cast<uint16_t>((magazine == 0 ? 8 : magazine) << 8 | body[e + 4]),
                    language, recording.streams);
            }
        }
    }
}

void RecordingReader::State::pes_packet(Subtitles& s, std::span<const uint8_t> payload,
                                        bool start) {
    if (start) {
        if (s.assembling) end_pes(s, false);
        s.pes.assign(payload.begin(), payload.end());
        s.assembling = true;
    } else if (!s.assembling) {
        return;  // the rest of a PES whose start was not seen
    } else if (s.pes.size() + payload.size() > kMaxPes) {
        ++recording.damage.dropped_subtitles;
        s.assembling = false;
        return;
    } else {
        s.pes.insert(s.pes.end(), payload.begin(), payload.end());
    }
    if (s.pes.size() < 6) return;
    const size_t length = size_t{s.pes[4]} << 8 | s.pes[5];
    if (length != 0 && s.pes.size() >= 6 + length) {
        s.pes.resize(6 + length);  // what follows is stuffing
        end_pes(s, true);
    }
}

// Hands a reassembled PES to its decoder. Not complete: the next one started first,
// which only a PES without a length may do.
void RecordingReader::State::end_pes(Subtitles& s, bool complete) {
    s.assembling = false;
    const std::span<const uint8_t> pes = s.pes;
    const bool unbounded = pes.size() >= 6 && pes[4] == 0 && pes[5] == 0;
    if ((!complete && !unbounded) || pes.size() < 9 || pes[0] != 0 || pes[1] != 0 || pes[2] != 1 ||
        pes[3] != kPrivateStream1 || (pes[6] & 0xC0) != 0x80 || size_t{9} + pes[8] > pes.size()) {
        ++recording.damage.dropped_subtitles;
        return;
    }
    if (const auto pts = pes_time_stamp(pes)) {
        s.last_pts = unwrap(*pts);
        s.have_pts = true;
    } else if (!s.have_pts) {
        ++recording.damage.dropped_subtitles;  // no time to give it
        return;
    }
    const std::span<const uint8_t> data = pes.subspan(size_t{9} + pes[8]);
    if (s.type == RecordingStreamType::kDvbSubtitles) {
        s.dvb.payload(data, s.last_pts, recording.streams, recording.damage);
    } else {
        s.teletext.payload(data, s.last_pts, recording.streams, recording.damage);
    }
}

void RecordingReader::State::stamp(Role role, Program& program, std::span<const uint8_t> payload) {
    const auto pts = pes_time_stamp(payload);
    if (!pts) return;
    const int64_t t = unwrap(*pts);
    if (role == Role::kVideo && program.video_pictures < kZeroPictures) {
        program.video_zero = program.video_pictures == 0 ? t : std::min(program.video_zero, t);
        ++program.video_pictures;
    } else if (role == Role::kOtherStream && !program.other_seen) {
        program.other_seen = true;
        program.other_zero = t;
    }
}

int64_t RecordingReader::State::zero(size_t program) const {
    if (program < programs.size()) {
        const Program& p = programs[program];
        if (p.video_pictures > 0) return p.video_zero;
        if (p.other_seen) return p.other_zero;
    }
    return have_time ? first_time : 0;
}

RecordingReader::RecordingReader() : state_(std::make_unique<State>()) {}
RecordingReader::~RecordingReader() = default;

std::span<uint8_t> RecordingReader::space() {
    State& s = *state_;
    return std::span<uint8_t>(s.buffer).subspan(s.length);
}

void RecordingReader::commit(size_t bytes) {
    State& s = *state_;
    s.length += std::min(bytes, s.buffer.size() - s.length);
    s.process(false);
}

void RecordingReader::feed(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::span<uint8_t> room = space();
        const size_t n = std::min(room.size(), bytes.size());
        std::memcpy(room.data(), bytes.data(), n);
        commit(n);
        bytes = bytes.subspan(n);
    }
}

void RecordingReader::skip() {
    State& s = *state_;
    if (s.finished) return;
    s.length = 0;
    s.synced = false;
    for (State::Pid& pid : s.pids) pid.continuity = -1;
    for (State::Table& table : s.tables) {
        table.open = false;
        table.bytes.clear();
    }
    for (State::Subtitles& sub : s.subtitles) {
        sub.assembling = false;
        sub.dvb.gap(s.recording.streams);
        sub.teletext.gap(s.recording.streams);
    }
}

Recording RecordingReader::finish() {
    State& s = *state_;
    if (s.finished) return {};
    s.finished = true;
    s.process(true);
    s.recording.damage.cut_at_end = s.length > 0;
    for (State::Subtitles& sub : s.subtitles) {
        if (sub.assembling) s.end_pes(sub, false);
        sub.dvb.finish(s.latest_time, s.recording.streams);
        sub.teletext.finish(s.latest_time, s.recording.streams);
    }
    for (RecordingStream& stream : s.recording.streams) {
        const int64_t zero = s.zero(stream.program);
        for (ShownSubtitle& shown : stream.shown) {
            shown.start = floor_div(shown.start - zero, ts::kTicksPerMs);
            shown.end = floor_div(shown.end - zero, ts::kTicksPerMs);
        }
        // Less than a ms on screen is nothing.
        std::erase_if(stream.shown, [](const ShownSubtitle& s) { return s.end <= s.start; });
        for (int64_t& start : stream.cut_starts) start = floor_div(start - zero, ts::kTicksPerMs);
    }
    return std::move(s.recording);
}

std::vector<FilePiece> recording_pieces(int64_t size, int round) {
    const int64_t packet = static_cast<int64_t>(kPacket);
    const int64_t piece = std::max<int64_t>(16, size / kSparseShare / packet) * packet;
    const int64_t stride = kSparseStride * piece;
    std::vector<FilePiece> pieces;
    if (size <= 2 * stride) {
        if (round == 0 && size > 0) pieces.push_back({0, size});
        return pieces;
    }
    pieces.push_back({0, piece});
    for (int64_t at = round == 0 ? stride : stride / 2; at < size; at += stride)
        pieces.push_back({at, std::min(piece, size - at)});
    return pieces;
}

Recording read_recording_pieces(std::span<const uint8_t> file, std::span<const FilePiece> pieces) {
    RecordingReader reader;
    size_t end = 0;
    for (const FilePiece& p : pieces) {
        if (p.offset < 0 || p.length <= 0 || p.offset >= static_cast<int64_t>(file.size()))
            continue;
        const size_t at = static_cast<size_t>(p.offset);
        reader.skip();
        end = at + std::min(static_cast<size_t>(p.length), file.size() - at);
        reader.feed(file.subspan(at, end - at));
    }
    // What shows where the last piece ends before the file does ends unseen too.
    if (end < file.size()) reader.skip();
    return reader.finish();
}

int read_recording(const std::string& path, Recording& recording, std::string& error) {
    struct File {
        int fd;
        ~File() {
            if (fd >= 0) ::close(fd);
        }
    } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat st;
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
        error = std::string("cannot read the file: ") + std::strerror(errno);
        return kConvertFailed;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return kConvertFailed;
    }
    // Read once from start to end; what has been read is of no further use to the
    // page cache, which the box needs for the film playing.
    ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    constexpr off_t kReleaseEvery = off_t{16} << 20;
    off_t read_so_far = 0, released = 0;
    RecordingReader reader;
    for (;;) {
        const std::span<uint8_t> room = reader.space();
        const ssize_t n = ::read(file.fd, room.data(), room.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::string("cannot read the file: ") + std::strerror(errno);
            return kConvertFailed;
        }
        if (n == 0) break;
        reader.commit(static_cast<size_t>(n));
        read_so_far += n;
        if (read_so_far - released >= kReleaseEvery) {
            ::posix_fadvise(file.fd, released, read_so_far - released, POSIX_FADV_DONTNEED);
            released = read_so_far;
        }
    }
    recording = reader.finish();
    return kConvertOk;
}

const RecordingStream* reference_stream(const Recording& recording) {
    const RecordingStream* best = nullptr;
    for (const RecordingStream& s : recording.streams) {
        if (!s.shown.empty() && (best == nullptr || s.shown.size() > best->shown.size())) best = &s;
    }
    return best;
}

std::string stream_name(const RecordingStream& stream) {
    char text[80];
    if (stream.type == RecordingStreamType::kTeletext) {
        std::snprintf(text, sizeof text, "teletext page %X", stream.page);
    } else {
        std::snprintf(text, sizeof text, "DVB subtitles page %u", unsigned{stream.page});
    }
    std::string name = text;
    std::snprintf(text, sizeof text, "PID 0x%04X)", unsigned{stream.pid});
    name += " (";
    // Only printable letters of a language code; a damaged one is left out.
    if (stream.language.size() == 3 &&
        std::all_of(stream.language.begin(), stream.language.end(),
                    [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); })) {
        name += stream.language + ", ";
    }
    return name + text;
}

namespace {

std::string damage_text(const RecordingDamage& d) {
    std::string text;
    auto add = [&](int64_t n, const char* one, const char* many) {
        if (n == 0) return;
        text += text.empty() ? "" : ", ";
        text += std::to_string(n) + " " + (n == 1 ? one : many);
    };
    add(d.bytes_out_of_sync, "byte out of sync", "bytes out of sync");
    add(d.continuity_errors, "packet missing or out of order", "packets missing or out of order");
    add(d.damaged_packets, "damaged packet", "damaged packets");
    add(d.dropped_subtitles, "subtitle packet unreadable", "subtitle packets unreadable");
    add(d.bad_tables, "program table damaged", "program tables damaged");
    add(d.scrambled_packets, "subtitle packet scrambled", "subtitle packets scrambled");
    if (d.cut_at_end) text += text.empty() ? "cut off in a packet" : ", cut off in a packet";
    return text;
}

}  // namespace

int read_reference_recording(const std::string& path, std::vector<TimeSpan>& spans,
                             std::string& about, std::string& error) {
    spans.clear();
    about.clear();
    Recording recording;
    if (read_recording(path, recording, error) != kConvertOk) return kConvertFailed;
    return recording_reference(recording, spans, about, error);
}

int recording_reference(const Recording& recording, std::vector<TimeSpan>& spans,
                        std::string& about, std::string& error) {
    spans.clear();
    about.clear();
    const std::string damage =
        recording.damage.any() ? " (damaged: " + damage_text(recording.damage) + ")" : "";
    const RecordingStream* stream = reference_stream(recording);
    if (stream == nullptr) {
        if (!recording.program_table) {
            error = "no program association table: not a recording, or a damaged one";
        } else if (!recording.program_map) {
            error = "no program map table: the recording is damaged";
        } else if (recording.streams.empty()) {
            error = "no subtitle stream (DVB subtitles or teletext subtitles) in the recording";
        } else {
            error = "no subtitles in the recording's subtitle streams";
        }
        error += damage;
        return kConvertFailed;
    }
    spans.reserve(stream->shown.size());
    for (const ShownSubtitle& s : stream->shown) spans.push_back({s.start, s.end});
    about = stream_name(*stream) + ", " + std::to_string(stream->shown.size()) +
            (stream->shown.size() == 1 ? " subtitle" : " subtitles") + damage;
    return kConvertOk;
}

bool sparse_alignment_taken(const Alignment& alignment, size_t marks) {
    // A mark met by its cue's overlaps it by the mark less the jitter between them.
    return alignment.reliable && alignment.segments.size() == 1 && marks >= kLeastStartMarks &&
           alignment.matched_ms * 2 >= static_cast<int64_t>(marks) * kStartMarkMs;
}

int recording_start_marks(const Recording& recording, std::vector<TimeSpan>& marks,
                          std::string& about, std::string& error) {
    about.clear();
    const RecordingStream* best = nullptr;
    for (const RecordingStream& s : recording.streams) {
        const size_t starts = s.shown.size() + s.cut_starts.size();
        if (starts > 0 &&
            (best == nullptr || starts > best->shown.size() + best->cut_starts.size()))
            best = &s;
    }
    if (best == nullptr) {
        std::vector<TimeSpan> none;
        return recording_reference(recording, none, about, error);
    }
    std::vector<TimeSpan> starts;
    starts.reserve(best->shown.size() + best->cut_starts.size());
    for (const ShownSubtitle& s : best->shown) starts.push_back({s.start, s.end});
    for (const int64_t start : best->cut_starts) starts.push_back({start, start + 1});
    for (const TimeSpan& m : start_marks(starts)) marks.push_back(m);
    auto by_start = [](const TimeSpan& a, const TimeSpan& b) { return a.start_ms < b.start_ms; };
    std::sort(marks.begin(), marks.end(), by_start);
    marks.erase(
        std::unique(marks.begin(), marks.end(),
                    [](const TimeSpan& a, const TimeSpan& b) { return a.start_ms == b.start_ms; }),
        marks.end());
    about = stream_name(*best) + ", " + std::to_string(marks.size()) + " subtitle starts";
    return kConvertOk;
}

}  // namespace conv
