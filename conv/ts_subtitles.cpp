// DVB subtitle page compositions and teletext subtitle pages, read for when they
// show something. Bitmaps are not decoded: a display's region compositions say
// whether it shows objects at all, which is all its timing needs.
#include "conv/ts_subtitles.h"

#include <algorithm>
#include <bit>

namespace conv::ts {
namespace {

// DVB subtitle segments.
constexpr uint8_t kSegmentSync = 0x0F;
constexpr uint8_t kPageComposition = 0x10;
constexpr uint8_t kRegionComposition = 0x11;
constexpr uint8_t kEndOfDisplaySet = 0x80;
constexpr uint8_t kPageStateModeChange = 2;
constexpr uint8_t kRegionUnknown = 0, kRegionEmpty = 1, kRegionWithObjects = 2;
// A region composition's fixed part; objects follow it.
constexpr size_t kRegionHeaderBytes = 10;

// Teletext data units in the PES payload: an id, a length, then the field and
// framing bytes before the packet of 42 bytes (two address bytes, 40 of data).
constexpr uint8_t kUnitTeletext = 0x02;
constexpr uint8_t kUnitSubtitles = 0x03;
constexpr uint8_t kUnitBytes = 44;
constexpr uint8_t kFramingCode = 0xE4;
constexpr int kLastShownRow = 23;

// The payload carries the packets in the order the bits are sent, least significant
// first in the teletext line: each byte is read reversed.
constexpr std::array<uint8_t, 256> kReversed = [] {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        int r = 0;
        for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
        t[b] = static_cast<uint8_t>(r);
    }
    return t;
}();

// Hamming 8/4: data bits D1..D4 at bits 1, 3, 5, 7, protection bits at 0, 2, 4, 6.
constexpr uint8_t hamming_encode(int d) {
    const int d1 = d & 1, d2 = (d >> 1) & 1, d3 = (d >> 2) & 1, d4 = (d >> 3) & 1;
    const int p1 = 1 ^ d1 ^ d3 ^ d4, p2 = 1 ^ d1 ^ d2 ^ d4, p3 = 1 ^ d1 ^ d2 ^ d3;
    const int p4 = 1 ^ p1 ^ d1 ^ p2 ^ d2 ^ p3 ^ d3 ^ d4;
    return static_cast<uint8_t>(p1 | d1 << 1 | p2 << 2 | d2 << 3 | p3 << 4 | d3 << 5 | p4 << 6 |
                                d4 << 7);
}

// Each byte's value: the code word it equals or is one bit away from; -1 for bytes
// two bits from a code word (no single one is nearest).
constexpr std::array<int8_t, 256> kHamming = [] {
    std::array<int8_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        t[b] = -1;
        for (int d = 0; d < 16; ++d) {
            if (std::popcount(static_cast<unsigned>(b ^ hamming_encode(d))) <= 1) {
                t[b] = static_cast<int8_t>(d);
            }
        }
    }
    return t;
}();

// The Latin character set's national option characters: their positions, and what
// each subset puts there, by the header's three option bits (C12 lowest).
constexpr std::array<uint8_t, 13> kNationalPositions{0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D, 0x5E,
                                                     0x5F, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
constexpr std::array<std::array<char16_t, 13>, 8> kNationalSubsets{{
    // English
    {u'£', u'$', u'@', u'←', u'½', u'→', u'↑', u'#', u'―', u'¼', u'‖', u'¾', u'÷'},
    // French
    {u'é', u'ï', u'à', u'ë', u'ê', u'ù', u'î', u'#', u'è', u'â', u'ô', u'û', u'ç'},
    // Swedish, Finnish, Hungarian
    {u'#', u'¤', u'É', u'Ä', u'Ö', u'Å', u'Ü', u'_', u'é', u'ä', u'ö', u'å', u'ü'},
    // Czech, Slovak
    {u'#', u'ů', u'č', u'ť', u'ž', u'ý', u'í', u'ř', u'é', u'á', u'ě', u'ú', u'š'},
    // German
    {u'#', u'$', u'§', u'Ä', u'Ö', u'Ü', u'^', u'_', u'°', u'ä', u'ö', u'ü', u'ß'},
    // Portuguese, Spanish
    {u'ç', u'$', u'¡', u'á', u'é', u'í', u'ó', u'ú', u'¿', u'ü', u'ñ', u'è', u'à'},
    // Italian
    {u'£', u'$', u'é', u'°', u'ç', u'→', u'↑', u'#', u'ù', u'à', u'ò', u'è', u'ì'},
    // not assigned in this group: English
    {u'£', u'$', u'@', u'←', u'½', u'→', u'↑', u'#', u'―', u'¼', u'‖', u'¾', u'÷'},
}};

void append_utf8(std::string& out, char16_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char16_t latin_character(uint8_t code, int subset) {
    if (code == 0x7F) return u'■';
    const auto* at = std::find(kNationalPositions.begin(), kNationalPositions.end(), code);
    if (at == kNationalPositions.end()) return code;
    return kNationalSubsets[static_cast<size_t>(subset & 7)]
                           [static_cast<size_t>(at - kNationalPositions.begin())];
}

constexpr uint8_t kStartBox = 0x0B, kEndBox = 0x0A;

}  // namespace

void add_shown(RecordingStream& stream, int64_t start, int64_t end, std::string_view text) {
    if (end <= start || stream.shown.size() >= kMaxShown) return;
    ShownSubtitle shown{start, end, {}};
    if (stream.text_bytes + text.size() <= kMaxTextBytes) {
        shown.text = text;
        stream.text_bytes += text.size();
    }
    stream.shown.push_back(std::move(shown));
}

void add_cut_start(RecordingStream& stream, int64_t start) {
    if (stream.cut_starts.size() < kMaxShown) stream.cut_starts.push_back(start);
}

// ---- DVB subtitles

void DvbSubtitles::announce(uint16_t id, std::string_view language,
                            std::vector<RecordingStream>& streams) {
    Page* p = page(id, streams);
    if (p != nullptr && streams[p->stream].language.empty()) streams[p->stream].language = language;
}

DvbSubtitles::Page* DvbSubtitles::page(uint16_t id, std::vector<RecordingStream>& streams) {
    for (Page& p : pages_)
        if (p.id == id) return &p;
    if (streams.size() >= kMaxStreams) return nullptr;
    RecordingStream stream;
    stream.type = RecordingStreamType::kDvbSubtitles;
    stream.pid = pid_;
    stream.page = id;
    stream.program = program_;
    streams.push_back(std::move(stream));
    Page& p = pages_.emplace_back();
    p.id = id;
    p.stream = streams.size() - 1;
    return &p;
}

void DvbSubtitles::end_display(Page& p, int64_t at, std::vector<RecordingStream>& streams) {
    int64_t end = std::min(at, p.since + kMaxShownTicks);
    if (p.timeout > 0) end = std::min(end, p.refreshed + p.timeout);
    add_shown(streams[p.stream], p.since, end, {});
    p.showing = false;
}

void DvbSubtitles::commit(Page& p, std::vector<RecordingStream>& streams) {
    p.pending = false;
    // A region that has never been described may well show something.
    bool visible = false;
    for (uint8_t r : p.pending_regions) visible = visible || p.regions[r] != kRegionEmpty;
    if (p.showing) end_display(p, p.pending_pts, streams);
    if (visible) {
        p.showing = true;
        p.since = p.refreshed = p.pending_pts;
        p.timeout = p.pending_timeout;
    }
}

void DvbSubtitles::payload(std::span<const uint8_t> data, int64_t pts,
                           std::vector<RecordingStream>& streams, RecordingDamage& damage) {
    // A data identifier and a subtitle stream id, then segments up to an end marker.
    if (data.size() < 2 || data[0] != 0x20 || data[1] != 0x00) {
        ++damage.dropped_subtitles;
        return;
    }
    auto existing = [&](uint16_t id) -> Page* {
        for (Page& p : pages_)
            if (p.id == id) return &p;
        return nullptr;
    };
    size_t at = 2;
    while (at < data.size() && data[at] == kSegmentSync) {
        if (at + 6 > data.size()) {
            ++damage.dropped_subtitles;
            break;
        }
        const uint8_t type = data[at + 1];
        const uint16_t id = static_cast<uint16_t>(data[at + 2] << 8 | data[at + 3]);
        const size_t length = static_cast<size_t>(data[at + 4] << 8 | data[at + 5]);
        if (at + 6 + length > data.size()) {
            ++damage.dropped_subtitles;
            break;
        }
        const std::span<const uint8_t> segment = data.subspan(at + 6, length);
        at += 6 + length;
        if (type == kPageComposition) {
            Page* p = page(id, streams);
            if (p == nullptr || segment.size() < 2) continue;
            if (p->pending) commit(*p, streams);
            const int version = segment[1] >> 4;
            if (((segment[1] >> 2) & 3) == kPageStateModeChange) p->regions.fill(kRegionUnknown);
            if (version == p->version) {
                // The same page again, sent for decoders tuning in: it stays.
                if (p->showing) p->refreshed = pts;
                continue;
            }
            p->version = version;
            p->pending = true;
            p->pending_pts = pts;
            p->pending_timeout = segment[0] * kTicksPerSecond;
            p->pending_regions.clear();
            for (size_t r = 2; r + 6 <= segment.size(); r += 6) {
                p->pending_regions.push_back(segment[r]);
            }
        } else if (type == kRegionComposition) {
            Page* p = existing(id);
            if (p == nullptr || segment.size() < kRegionHeaderBytes) continue;
            p->regions[segment[0]] =
                segment.size() > kRegionHeaderBytes ? kRegionWithObjects : kRegionEmpty;
        } else if (type == kEndOfDisplaySet) {
            Page* p = existing(id);
            if (p != nullptr && p->pending) commit(*p, streams);
        }
    }
    for (Page& p : pages_)
        if (p.pending) commit(p, streams);
}

void DvbSubtitles::finish(int64_t end, std::vector<RecordingStream>& streams) {
    for (Page& p : pages_) {
        if (p.pending) commit(p, streams);
        if (p.showing) end_display(p, end, streams);
    }
}

void DvbSubtitles::gap(std::vector<RecordingStream>& streams) {
    for (Page& p : pages_) {
        if (p.pending) commit(p, streams);
        // Its end is not known: a stretch cut short would place a cue wrongly.
        if (p.showing) add_cut_start(streams[p.stream], p.since);
        p.showing = false;
        // The page after the gap is news even in the same version, and its regions
        // may have changed meanwhile.
        p.version = -1;
        p.regions.fill(kRegionUnknown);
    }
}

// ---- Teletext

std::string teletext_row_text(std::span<const uint8_t, 40> codes, int subset, bool boxed) {
    std::string text;
    bool in_box = false;
    for (const uint8_t code : codes) {
        if (code == kStartBox) in_box = true;
        if (code == kEndBox) in_box = false;
        if (code < 0x20 || code > 0x7F || (boxed && !in_box)) {
            text += ' ';
        } else {
            append_utf8(text, latin_character(code, subset));
        }
    }
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

void TeletextSubtitles::announce(uint16_t number, std::string_view language,
                                 std::vector<RecordingStream>& streams) {
    const int i = page_index(number, true, streams);
    if (i >= 0 && streams[pages_[i].stream].language.empty()) {
        streams[pages_[i].stream].language = language;
    }
}

int TeletextSubtitles::page_index(uint16_t number, bool subtitle_flag,
                                  std::vector<RecordingStream>& streams) {
    for (size_t i = 0; i < pages_.size(); ++i)
        if (pages_[i].number == number) return static_cast<int>(i);
    if (!subtitle_flag || streams.size() >= kMaxStreams) return -1;
    RecordingStream stream;
    stream.type = RecordingStreamType::kTeletext;
    stream.pid = pid_;
    stream.page = number;
    stream.program = program_;
    streams.push_back(std::move(stream));
    Page& p = pages_.emplace_back();
    p.number = number;
    p.stream = streams.size() - 1;
    return static_cast<int>(pages_.size() - 1);
}

void TeletextSubtitles::close(int magazine, std::vector<RecordingStream>& streams) {
    const int i = receiving_[static_cast<size_t>(magazine)];
    receiving_[static_cast<size_t>(magazine)] = -1;
    if (i < 0) return;
    Page& p = pages_[static_cast<size_t>(i)];
    std::string text;
    for (int row = 1; row <= kLastShownRow; ++row) {
        if (!p.present[static_cast<size_t>(row)]) continue;
        std::string line = teletext_row_text(p.rows[static_cast<size_t>(row)], p.subset, p.boxed);
        if (line.empty()) continue;
        if (!text.empty()) text += '\n';
        text += line;
    }
    if (p.showing && text != p.text) {
        add_shown(streams[p.stream], p.since, std::min(p.header_pts, p.since + kMaxShownTicks),
                  p.text);
        p.showing = false;
    }
    if (!text.empty() && !p.showing) {
        p.showing = true;
        p.since = p.header_pts;
        p.text = std::move(text);
    }
}

void TeletextSubtitles::close_all(std::vector<RecordingStream>& streams) {
    for (int m = 0; m < 8; ++m) close(m, streams);
}

void TeletextSubtitles::packet(const uint8_t* unit, int64_t pts,
                               std::vector<RecordingStream>& streams, RecordingDamage& damage) {
    if (unit[1] != kFramingCode) {
        ++damage.damaged_packets;
        return;
    }
    const uint8_t* bytes = unit + 2;
    const int address_low = kHamming[kReversed[bytes[0]]];
    const int address_high = kHamming[kReversed[bytes[1]]];
    if (address_low < 0 || address_high < 0) return;  // no telling where it belongs
    const int magazine = address_low & 7;
    const int row = address_low >> 3 | address_high << 1;
    auto nibble = [&](int i) { return kHamming[kReversed[bytes[2 + i]]]; };
    if (row == 0) {
        const int units = nibble(0), tens = nibble(1);
        const int erase = nibble(3), flags = nibble(5), options = nibble(7);
        // Serial transmission: a header ends every page; parallel: its magazine's.
        if (options >= 0 && (options & 1) != 0) {
            close_all(streams);
        } else {
            close(magazine, streams);
        }
        if (units < 0 || tens < 0 || (units == 0xF && tens == 0xF)) return;
        const bool subtitle = flags >= 0 && (flags & 8) != 0;
        const uint16_t number =
            static_cast<uint16_t>((magazine == 0 ? 8 : magazine) << 8 | tens << 4 | units);
        const int i = page_index(number, subtitle, streams);
        if (i < 0) return;
        Page& p = pages_[static_cast<size_t>(i)];
        // A subtitle page is sent whole each time; an unreadable erase bit is taken as set.
        if (erase < 0 || (erase & 8) != 0) p.present.fill(false);
        p.subset = options >= 0 ? options >> 1 : 0;
        p.boxed = flags >= 0 && (flags & 0xC) != 0;
        p.header_pts = pts;
        receiving_[static_cast<size_t>(magazine)] = i;
        return;
    }
    if (row > kLastShownRow) return;
    const int i = receiving_[static_cast<size_t>(magazine)];
    if (i < 0) return;
    Page& p = pages_[static_cast<size_t>(i)];
    for (size_t k = 0; k < 40; ++k) {
        const uint8_t code = kReversed[bytes[2 + k]];
        // Odd parity; a wrong one leaves a gap rather than a wrong letter.
        p.rows[static_cast<size_t>(row)][k] = (std::popcount(code) & 1) != 0 ? code & 0x7F : 0xFF;
    }
    p.present[static_cast<size_t>(row)] = true;
}

void TeletextSubtitles::payload(std::span<const uint8_t> data, int64_t pts,
                                std::vector<RecordingStream>& streams, RecordingDamage& damage) {
    // EBU data: an identifier 0x10 to 0x1F, then data units.
    if (data.empty() || data[0] < 0x10 || data[0] > 0x1F) {
        ++damage.dropped_subtitles;
        return;
    }
    size_t at = 1;
    while (at + 2 <= data.size()) {
        const uint8_t id = data[at];
        const size_t length = data[at + 1];
        if (at + 2 + length > data.size()) {
            ++damage.dropped_subtitles;
            break;
        }
        if ((id == kUnitTeletext || id == kUnitSubtitles) && length == kUnitBytes) {
            packet(&data[at + 2], pts, streams, damage);
        }
        at += 2 + length;
    }
}

void TeletextSubtitles::finish(int64_t end, std::vector<RecordingStream>& streams) {
    close_all(streams);
    for (Page& p : pages_) {
        if (!p.showing) continue;
        add_shown(streams[p.stream], p.since, std::min(end, p.since + kMaxShownTicks), p.text);
        p.showing = false;
    }
}

void TeletextSubtitles::gap(std::vector<RecordingStream>& streams) {
    // A page's rows come with its header: one being received shows from there.
    close_all(streams);
    for (Page& p : pages_) {
        p.present.fill(false);
        if (p.showing) add_cut_start(streams[p.stream], p.since);  // its end is not known
        p.showing = false;
    }
}

}  // namespace conv::ts

namespace conv {

int hamming_8_4(uint8_t byte) {
    return ts::kHamming[byte];
}

}  // namespace conv
