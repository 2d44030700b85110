// Recordings as the sync reference: the transport stream reader on recordings the
// tests make (DVB subtitles, teletext page 888, both, with video or audio only),
// the display rules of both kinds of subtitles, damaged recordings, and distorted
// subtitle files aligned back onto a recording.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "conv/align.h"
#include "conv/recording.h"
#include "conv/ts_subtitles.h"
#include "tests/support/sim_support.h"
#include "tests/support/sync_samples.h"
#include "tests/support/ts_samples.h"

namespace {

using conv::TimeSpan;
using testsup::Bytes;

conv::Recording read_all(const Bytes& bytes) {
    conv::RecordingReader reader;
    reader.feed(bytes);
    return reader.finish();
}

std::vector<TimeSpan> spans_of(const conv::RecordingStream& stream) {
    std::vector<TimeSpan> spans;
    for (const conv::ShownSubtitle& s : stream.shown) spans.push_back({s.start, s.end});
    return spans;
}

std::vector<TimeSpan> moved(const std::vector<TimeSpan>& film, int64_t by) {
    std::vector<TimeSpan> out;
    for (const TimeSpan& s : film) out.push_back({s.start_ms + by, s.end_ms + by});
    return out;
}

// "" when the lists are the same, else where they first differ.
std::string difference(const std::vector<TimeSpan>& got, const std::vector<TimeSpan>& want) {
    for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
        if (got[i].start_ms != want[i].start_ms || got[i].end_ms != want[i].end_ms) {
            return "at " + std::to_string(i) + ": " + std::to_string(got[i].start_ms) + "-" +
                   std::to_string(got[i].end_ms) + " instead of " +
                   std::to_string(want[i].start_ms) + "-" + std::to_string(want[i].end_ms);
        }
    }
    if (got.size() != want.size()) {
        return std::to_string(got.size()) + " instead of " + std::to_string(want.size());
    }
    return "";
}

void write(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

TEST(SyncRecording, HammingCodesAndTheirErrors) {
    // The sixteen code words, as the teletext standard lists them.
    constexpr uint8_t kWords[16] = {0x15, 0x02, 0x49, 0x5E, 0x64, 0x73, 0x38, 0x2F,
                                    0xD0, 0xC7, 0x8C, 0x9B, 0xA1, 0xB6, 0xFD, 0xEA};
    for (int value = 0; value < 16; ++value) {
        SCOPED_TRACE(value);
        EXPECT_EQ(conv::hamming_8_4(kWords[value]), value);
        for (int bit = 0; bit < 8; ++bit) {
            EXPECT_EQ(conv::hamming_8_4(static_cast<uint8_t>(kWords[value] ^ 1 << bit)), value);
            for (int other = bit + 1; other < 8; ++other) {
                EXPECT_EQ(
                    conv::hamming_8_4(static_cast<uint8_t>(kWords[value] ^ 1 << bit ^ 1 << other)),
                    -1);
            }
        }
    }
}

TEST(SyncRecording, TeletextRowsAsText) {
    auto row = [](std::initializer_list<uint8_t> codes) {
        std::array<uint8_t, 40> r{};
        r.fill(' ');
        std::copy(codes.begin(), codes.end(), r.begin());
        return r;
    };
    const struct {
        const char* name;
        std::array<uint8_t, 40> codes;
        int subset;
        bool boxed;
        const char* text;
    } cases[] = {
        {"boxed text", row({0x0D, 0x0B, 0x0B, 'H', 'a', 'l', 'l', 'o', 0x0A, 0x0A}), 0, true,
         "Hallo"},
        {"outside the box not shown", row({'x', 0x0B, 0x0B, 'J', 'a', 0x0A, 0x0A, 'y'}), 0, true,
         "Ja"},
        {"unboxed page shows all", row({'x', 0x0B, 'J', 'a', 0x0A, 'y'}), 0, false, "x Ja y"},
        {"colours are spaces", row({0x0B, 'a', 0x01, 'b', 0x07, 'c'}), 0, true, "a b c"},
        {"parity errors are gaps", row({0x0B, 'o', 0xFF, 'k'}), 0, true, "o k"},
        {"German", row({0x0B, 0x5B, 'r', 'g', 'e', 'r', ' ', 0x7E}), 4, true, "Ärger ß"},
        {"English pound", row({0x0B, 0x23, '5', ' ', 0x7F}), 0, true, "£5 ■"},
        {"French", row({0x0B, 0x40, ' ', 0x7B}), 1, true, "à â"},
        {"nothing in a box", row({'x', 'y'}), 0, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(conv::ts::teletext_row_text(c.codes, c.subset, c.boxed), c.text);
    }
}

TEST(SyncRecording, StreamsTimesAndTextOfARecording) {
    // Four subtitle streams' worth: a German DVB stream with three subtitles first,
    // the film on DVB and on teletext, video and audio; the film crosses the time
    // stamps' wrap.
    const std::vector<TimeSpan> film = testsup::film_times(600, 5);
    testsup::RecordingPlan plan;
    plan.teletext = true;
    plan.decoy = true;
    plan.audio = true;
    plan.audio_lead_ms = -200;
    ASSERT_GT(film.back().end_ms + plan.lead_ms,
              (testsup::kPtsWrap - plan.first_pts) / 90 + 60'000);
    const conv::Recording r = read_all(testsup::recording(film, plan));
    EXPECT_TRUE(r.program_table);
    EXPECT_TRUE(r.program_map);
    EXPECT_FALSE(r.damage.any());
    ASSERT_EQ(r.streams.size(), 3u);
    EXPECT_EQ(conv::stream_name(r.streams[0]), "DVB subtitles page 1 (deu, PID 0x0105)");
    EXPECT_EQ(conv::stream_name(r.streams[1]), "DVB subtitles page 1 (nld, PID 0x0103)");
    EXPECT_EQ(conv::stream_name(r.streams[2]), "teletext page 888 (nld, PID 0x0104)");
    EXPECT_EQ(r.streams[0].shown.size(), 3u);
    // Time 0 is the first picture, however the audio's time stamps lie.
    const std::vector<TimeSpan> expected = moved(film, plan.lead_ms);
    EXPECT_EQ(difference(spans_of(r.streams[1]), expected), "");
    EXPECT_EQ(difference(spans_of(r.streams[2]), expected), "");
    ASSERT_EQ(r.streams[2].shown.size(), film.size());
    for (size_t i = 0; i < film.size(); i += 97) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.streams[2].shown[i].text,
                  "Regel " + std::to_string(i + 1) + (i % 3 == 0 ? "\ntweede regel" : ""));
        EXPECT_TRUE(r.streams[1].shown[i].text.empty());
    }
    // As many on both: the first in the program map is the reference.
    EXPECT_EQ(conv::reference_stream(r), &r.streams[1]);
    testsup::RecordingPlan only_teletext = plan;
    only_teletext.dvb = false;
    const conv::Recording t = read_all(testsup::recording(film, only_teletext));
    ASSERT_NE(conv::reference_stream(t), nullptr);
    EXPECT_EQ(conv::reference_stream(t)->type, conv::RecordingStreamType::kTeletext);
}

TEST(SyncRecording, TimeZeroIsTheFirstPicture) {
    const std::vector<TimeSpan> film = testsup::film_times(30, 8);
    const struct {
        const char* name;
        bool video, audio;
        int64_t expected_shift;
    } cases[] = {
        {"video", true, true, 0},
        // Without pictures the audio's first time stamp, 300 ms after the plan's 0.
        {"audio only", false, true, -300},
        // Neither: the first time stamp of all, the first subtitle's.
        {"subtitles only", false, false, -(film.front().start_ms + 95'000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsup::RecordingPlan plan;
        plan.video = c.video;
        plan.audio = c.audio;
        plan.audio_lead_ms = 300;
        const conv::Recording r = read_all(testsup::recording(film, plan));
        ASSERT_EQ(r.streams.size(), 1u);
        EXPECT_EQ(difference(spans_of(r.streams[0]), moved(film, plan.lead_ms + c.expected_shift)),
                  "");
    }
}

TEST(SyncRecording, PiecesOfAnySizeReadAlike) {
    testsup::RecordingPlan plan;
    plan.teletext = true;
    Bytes bytes = testsup::recording(testsup::film_times(40, 2), plan);
    // A little damage too, so that the resynchronisation is split as well.
    bytes.erase(bytes.begin() + 30'000, bytes.begin() + 30'100);
    const conv::Recording whole = read_all(bytes);
    for (const size_t piece : {size_t{1}, size_t{187}, size_t{189}, size_t{4096}, size_t{70'001}}) {
        SCOPED_TRACE(piece);
        conv::RecordingReader reader;
        for (size_t at = 0; at < bytes.size(); at += piece) {
            reader.feed(
                std::span<const uint8_t>(bytes).subspan(at, std::min(piece, bytes.size() - at)));
        }
        const conv::Recording r = reader.finish();
        EXPECT_EQ(r.packets, whole.packets);
        EXPECT_EQ(r.damage.bytes_out_of_sync, whole.damage.bytes_out_of_sync);
        EXPECT_EQ(r.damage.continuity_errors, whole.damage.continuity_errors);
        ASSERT_EQ(r.streams.size(), whole.streams.size());
        for (size_t s = 0; s < r.streams.size(); ++s) {
            EXPECT_EQ(difference(spans_of(r.streams[s]), spans_of(whole.streams[s])), "");
        }
    }
    EXPECT_GT(whole.damage.bytes_out_of_sync, 0);
}

// The plan for reading a recording in pieces: whole packets from its start on, in
// order, within the file, a sixteenth of it in each round apart from the start, round
// 1 between the pieces of round 0; a small file whole in round 0.
TEST(SyncRecording, PiecesOfARecordingAreSpreadOverIt) {
    constexpr int64_t kPacket = 188;
    const struct {
        const char* name;
        int64_t size;
        int64_t piece;  // the length of a piece; 0: the file is one piece
    } cases[] = {
        {"empty", 0, 0},
        {"a few packets", 10 * kPacket + 5, 0},
        {"two strides", 2 * 16 * 16 * kPacket, 0},
        {"just over two strides", 2 * 16 * 16 * kPacket + 1, 16 * kPacket},
        {"a recording the tests make", 11'243'716, 29 * kPacket},
        {"a two-hour film", 4'000'000'000, 10'388 * kPacket},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<conv::FilePiece> first = conv::recording_pieces(c.size, 0);
        const std::vector<conv::FilePiece> second = conv::recording_pieces(c.size, 1);
        if (c.piece == 0) {
            EXPECT_EQ(first.size(), c.size > 0 ? 1u : 0u);
            if (!first.empty()) {
                EXPECT_EQ(first[0].offset, 0);
                EXPECT_EQ(first[0].length, c.size);
            }
            EXPECT_TRUE(second.empty());
            continue;
        }
        for (const auto* round : {&first, &second}) {
            ASSERT_FALSE(round->empty());
            EXPECT_EQ(round->front().offset, 0);  // the program tables
            int64_t bytes = 0, end = 0;
            for (const conv::FilePiece& p : *round) {
                EXPECT_EQ(p.offset % kPacket, 0);
                EXPECT_GE(p.offset, end);
                EXPECT_GT(p.length, 0);
                EXPECT_LE(p.length, c.piece);
                EXPECT_LE(p.offset + p.length, c.size);
                EXPECT_TRUE(p.length == c.piece || p.offset + p.length == c.size);
                end = p.offset + p.length;
                bytes += p.length;
            }
            // A sixteenth, and the start.
            EXPECT_LE(bytes, c.size / 16 + 2 * c.piece);
            EXPECT_GE(bytes, c.size / 16 - c.piece);
        }
        // Round 1 reads none of round 0 but the start.
        for (size_t i = 1; i < second.size(); ++i) {
            for (const conv::FilePiece& p : first) {
                EXPECT_TRUE(second[i].offset + second[i].length <= p.offset ||
                            p.offset + p.length <= second[i].offset)
                    << second[i].offset;
            }
        }
    }
}

// Read in pieces, a recording gives what it shows within them, as a whole read gives
// it, and the starts of what still shows where a piece ends; nothing of what lies
// between: the same when that is noise instead, with no damage counted for the gaps.
TEST(SyncRecording, PiecesReadAloneGiveWhatShowsWithinThem) {
    const std::vector<TimeSpan> film = testsup::film_times(1500, 4);
    for (const bool teletext : {false, true}) {
        SCOPED_TRACE(teletext ? "teletext" : "DVB subtitles");
        testsup::RecordingPlan plan;
        plan.dvb = !teletext;
        plan.teletext = teletext;
        const Bytes bytes = testsup::recording(film, plan);
        const std::vector<conv::FilePiece> pieces =
            conv::recording_pieces(static_cast<int64_t>(bytes.size()), 0);
        ASSERT_GT(pieces.size(), 100u);
        Bytes noisy(bytes.size());
        testsup::Random random(9);
        for (uint8_t& b : noisy) b = static_cast<uint8_t>(random.next());
        for (const conv::FilePiece& p : pieces) {
            std::copy_n(bytes.begin() + p.offset, p.length, noisy.begin() + p.offset);
        }
        const conv::Recording whole = read_all(bytes);
        ASSERT_EQ(whole.streams.size(), 1u);
        EXPECT_TRUE(whole.streams[0].cut_starts.empty());
        const std::vector<TimeSpan> all = spans_of(whole.streams[0]);
        auto is_start = [&](int64_t t) {
            return std::any_of(all.begin(), all.end(),
                               [&](const TimeSpan& w) { return w.start_ms == t; });
        };
        const conv::Recording clean = conv::read_recording_pieces(bytes, pieces);
        for (const conv::Recording* r : {&clean}) {
            EXPECT_FALSE(r->damage.any());
            ASSERT_EQ(r->streams.size(), 1u);
            const std::vector<TimeSpan> got = spans_of(r->streams[0]);
            // Some whole subtitles, each as the whole read has it, and more starts.
            EXPECT_GT(got.size(), 10u);
            EXPECT_LT(got.size(), all.size() / 8);
            EXPECT_GT(got.size() + r->streams[0].cut_starts.size(), 60u);
            for (const TimeSpan& s : got) {
                EXPECT_TRUE(std::any_of(all.begin(), all.end(),
                                        [&](const TimeSpan& w) {
                                            return w.start_ms == s.start_ms && w.end_ms == s.end_ms;
                                        }))
                    << s.start_ms << "-" << s.end_ms;
            }
            for (const int64_t t : r->streams[0].cut_starts) EXPECT_TRUE(is_start(t)) << t;
        }
        const conv::Recording from_noise = conv::read_recording_pieces(noisy, pieces);
        EXPECT_FALSE(from_noise.damage.any());
        ASSERT_EQ(from_noise.streams.size(), 1u);
        EXPECT_EQ(difference(spans_of(from_noise.streams[0]), spans_of(clean.streams[0])), "");
        EXPECT_EQ(from_noise.streams[0].cut_starts, clean.streams[0].cut_starts);
    }
}

// A copy aligned by starts to a recording read in pieces lands where it belongs when
// that alignment is taken (the single-offset ones here), and is not taken with splits,
// whose place between two pieces is not known; then the whole recording is read.
TEST(SyncRecording, ACopyAlignsByStartsToARecordingReadInPieces) {
    const std::vector<TimeSpan> film = testsup::film_times(1500, 7);
    const testsup::RecordingPlan plan;
    const Bytes bytes = testsup::recording(film, plan);
    std::vector<TimeSpan> marks;
    std::string about, error;
    ASSERT_EQ(conv::recording_start_marks(
                  conv::read_recording_pieces(
                      bytes, conv::recording_pieces(static_cast<int64_t>(bytes.size()), 0)),
                  marks, about, error),
              conv::kConvertOk)
        << error;
    EXPECT_NE(about.find("subtitle starts"), std::string::npos) << about;
    const struct {
        size_t distortion;
        bool taken;
    } cases[] = {{0, true}, {1, true}, {3, true}, {4, true}, {6, true}, {9, true}, {8, false}};
    for (const auto& c : cases) {
        const testsup::Distortion& d = testsup::kDistortions[c.distortion];
        SCOPED_TRACE(d.name);
        testsup::Distorted copy = testsup::distort(film, d, 11);
        for (int64_t& b : copy.belongs) b += b < 0 ? 0 : plan.lead_ms;
        const conv::Alignment a = conv::align_spans(conv::start_marks(copy.cues), marks);
        EXPECT_EQ(conv::sparse_alignment_taken(a, marks.size()), c.taken)
            << conv::alignment_text(a);
        if (c.taken) {
            EXPECT_STREQ(a.ratio_name, d.ratio_found);
            EXPECT_EQ(testsup::accuracy_permille(copy, a, 100), 1000) << conv::alignment_text(a);
        }
    }
}

TEST(SyncRecording, DvbDisplayRules) {
    using testsup::dvb_display_set;
    constexpr uint16_t kPage = testsup::kDvbPage;
    const struct {
        const char* name;
        std::vector<testsup::TimedPayload> sets;
        std::vector<TimeSpan> shown;
    } cases[] = {
        {"shown, then cleared",
         {{1000, dvb_display_set(kPage, 0, true)}, {3000, dvb_display_set(kPage, 1, false)}},
         {{1000, 3000}}},
        {"the next composition ends it",
         {{1000, dvb_display_set(kPage, 0, true)},
          {2000, dvb_display_set(kPage, 1, true)},
          {2500, dvb_display_set(kPage, 2, false)}},
         {{1000, 2000}, {2000, 2500}}},
        {"the time-out ends it first",
         {{1000, dvb_display_set(kPage, 0, true, 2)}, {9000, dvb_display_set(kPage, 1, false)}},
         {{1000, 3000}}},
        {"the same page again renews the time-out",
         {{1000, dvb_display_set(kPage, 0, true, 2)},
          {2500, dvb_display_set(kPage, 0, true, 2)},
          {9000, dvb_display_set(kPage, 1, false)}},
         {{1000, 4500}}},
        {"a region without objects shows nothing",
         {{1000, dvb_display_set(kPage, 0, true, 10, false)},
          {3000, dvb_display_set(kPage, 1, false)}},
         {}},
        {"never cleared: ends with the recording",
         {{1000, dvb_display_set(kPage, 0, true, 0)}},
         {{1000, 6000}}},
        {"never cleared, no time-out: 30 s at most",
         {{1000, dvb_display_set(kPage, 0, true, 0)}, {50'000, dvb_display_set(kPage, 1, false)}},
         {{1000, 31'000}}},
        {"not a subtitle payload",
         {{1000, {0x21, 0x00, 0x0F, 0x10, 0x00, 0x01, 0x00, 0x02, 10, 0}}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int64_t end = c.sets.back().ms < 5000 ? 6000 : 60'000;
        const conv::Recording r = read_all(testsup::short_recording(
            {0x06, testsup::kDvbPid, testsup::subtitling_descriptor("nld", kPage)}, c.sets, end));
        ASSERT_EQ(r.streams.size(), 1u);
        EXPECT_EQ(difference(spans_of(r.streams[0]), c.shown), "");
    }
}

TEST(SyncRecording, TeletextPageRules) {
    using testsup::teletext_page;
    constexpr uint16_t kPage = testsup::kTeletextPage;
    testsup::TeletextOptions serial;
    serial.serial = true;
    serial.filler = false;
    testsup::TeletextOptions plain;
    plain.subtitle = false;
    const struct {
        const char* name;
        std::vector<testsup::TimedPayload> pages;
        uint16_t announced;
        std::vector<TimeSpan> shown;
        std::vector<std::string> texts;
    } cases[] = {
        {"shown, then erased",
         {{1000, teletext_page(kPage, {"Ja"})}, {2500, teletext_page(kPage, {})}},
         kPage,
         {{1000, 2500}},
         {"Ja"}},
        {"replaced by other rows",
         {{1000, teletext_page(kPage, {"Ja"})},
          {2000, teletext_page(kPage, {"Nee", "echt"})},
          {2600, teletext_page(kPage, {})}},
         kPage,
         {{1000, 2000}, {2000, 2600}},
         {"Ja", "Nee\necht"}},
        {"the same rows again go on showing",
         {{1000, teletext_page(kPage, {"Ja"})},
          {1500, teletext_page(kPage, {"Ja"})},
          {2600, teletext_page(kPage, {})}},
         kPage,
         {{1000, 2600}},
         {"Ja"}},
        {"serial transmission, no time filling",
         {{1000, teletext_page(kPage, {"Ja"}, serial)}, {2000, teletext_page(kPage, {}, serial)}},
         kPage,
         {{1000, 2000}},
         {"Ja"}},
        {"another page unannounced and not subtitles",
         {{1000, teletext_page(0x100, {"Nieuws"}, plain)}, {2000, teletext_page(0x100, {}, plain)}},
         kPage,
         {},
         {}},
        {"unannounced subtitle page found by its header",
         {{1000, teletext_page(0x777, {"Ja"})}, {2000, teletext_page(0x777, {})}},
         kPage,
         {{1000, 2000}},
         {"Ja"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const conv::Recording r = read_all(testsup::short_recording(
            {0x06, testsup::kTeletextPid, testsup::teletext_descriptor("nld", c.announced)},
            c.pages, 6000));
        std::vector<TimeSpan> shown;
        std::vector<std::string> texts;
        for (const conv::RecordingStream& s : r.streams) {
            for (const conv::ShownSubtitle& x : s.shown) {
                shown.push_back({x.start, x.end});
                texts.push_back(x.text);
            }
        }
        EXPECT_EQ(difference(shown, c.shown), "");
        EXPECT_EQ(texts, c.texts);
    }
}

// Subtitle files distorted every way aligned onto recordings of the film: each cue
// within 100 ms of where it belongs, the recording's lead included.
TEST(SyncRecording, DistortedCopiesAlignToRecordings) {
    const std::vector<TimeSpan> film = testsup::film_times(1500, 31);
    for (const bool teletext : {false, true}) {
        testsup::RecordingPlan plan;
        plan.dvb = !teletext;
        plan.teletext = teletext;
        const conv::Recording r = read_all(testsup::recording(film, plan));
        const conv::RecordingStream* stream = conv::reference_stream(r);
        ASSERT_NE(stream, nullptr);
        const std::vector<TimeSpan> reference = spans_of(*stream);
        for (const testsup::Distortion& d : testsup::kDistortions) {
            SCOPED_TRACE(std::string(d.name) + (teletext ? ", teletext" : ", DVB"));
            testsup::Distorted copy = testsup::distort(film, d, 32);
            for (int64_t& b : copy.belongs) b += b < 0 ? 0 : plan.lead_ms;
            const conv::Alignment a = conv::align_spans(copy.cues, reference);
            EXPECT_TRUE(a.reliable);
            EXPECT_GE(testsup::accuracy_permille(copy, a, 100), 980) << conv::alignment_text(a);
        }
    }
}

TEST(SyncRecording, DamagedRecordings) {
    simtest::scratch_dir dir;
    const std::vector<TimeSpan> film = testsup::film_times(400, 12);
    testsup::RecordingPlan plan;
    const Bytes intact = testsup::recording(film, plan);
    auto without_packets = [&](int every) {
        Bytes out;
        for (size_t at = 0; at + 188 <= intact.size(); at += 188) {
            if ((at / 188) % static_cast<size_t>(every) != 7) {
                out.insert(out.end(), intact.begin() + static_cast<ptrdiff_t>(at),
                           intact.begin() + static_cast<ptrdiff_t>(at + 188));
            }
        }
        return out;
    };
    auto cut = [&](size_t pieces) {
        Bytes out = intact;
        for (size_t i = 1; i <= pieces; ++i) {
            const size_t at = out.size() * i / (pieces + 1);
            out.erase(out.begin() + static_cast<ptrdiff_t>(at),
                      out.begin() + static_cast<ptrdiff_t>(at + 61 * i));
        }
        return out;
    };
    auto flipped_tables = [&] {
        Bytes out = intact;
        for (size_t at = 0; at + 188 <= out.size(); at += 188) {
            const int pid = (out[at + 1] & 0x1F) << 8 | out[at + 2];
            if (pid == testsup::kPmtPid) out[at + 20] ^= 0x10;
        }
        return out;
    };
    // Sending a packet twice is allowed: the copy is no damage.
    auto subtitles_twice = [&] {
        Bytes out;
        for (size_t at = 0; at + 188 <= intact.size(); at += 188) {
            const int pid = (intact[at + 1] & 0x1F) << 8 | intact[at + 2];
            for (int copy = pid == testsup::kDvbPid ? 2 : 1; copy > 0; --copy) {
                out.insert(out.end(), intact.begin() + static_cast<ptrdiff_t>(at),
                           intact.begin() + static_cast<ptrdiff_t>(at + 188));
            }
        }
        return out;
    };
    testsup::RecordingPlan no_pmt = plan, no_pat = plan, no_subtitles = plan;
    no_pmt.pmt = false;
    no_pat.pat = false;
    no_subtitles.dvb = false;
    ASSERT_GT(intact.size(), 1000u);
    const Bytes truncated(intact.begin(), intact.end() - 1000);
    Bytes not_a_recording(50'000);
    for (size_t i = 0; i < not_a_recording.size(); ++i) {
        not_a_recording[i] = static_cast<uint8_t>(i * 7919 % 251);
    }
    const struct {
        const char* name;
        Bytes bytes;
        const char* error;   // nullptr: still a reference
        const char* damage;  // what the line says, nullptr: no damage
    } cases[] = {
        {"subtitle packets sent twice", subtitles_twice(), nullptr, nullptr},
        {"every 40th packet lost", without_packets(40), nullptr, "packets missing or out of order"},
        {"cut in five places", cut(5), nullptr, "bytes out of sync"},
        {"cut off at the end", truncated, nullptr, "cut off in a packet"},
        {"program map damaged", flipped_tables(), "no program map table: the recording is damaged",
         "program tables damaged"},
        {"no program map", testsup::recording(film, no_pmt),
         "no program map table: the recording is damaged", nullptr},
        {"no program association", testsup::recording(film, no_pat),
         "no program association table: not a recording, or a damaged one", nullptr},
        {"no subtitle stream", testsup::recording(film, no_subtitles),
         "no subtitle stream (DVB subtitles or teletext subtitles) in the recording", nullptr},
        {"no subtitles in it", testsup::recording({}, plan),
         "no subtitles in the recording's subtitle streams", nullptr},
        {"not a recording at all", not_a_recording,
         "no program association table: not a recording, or a damaged one", "bytes out of sync"},
    };
    const testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[0], 13);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("film.ts");
        write(path, c.bytes);
        std::vector<TimeSpan> spans;
        std::string about, error;
        const int result = conv::read_reference_recording(path, spans, about, error);
        if (c.error != nullptr) {
            EXPECT_EQ(result, conv::kConvertFailed);
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
            EXPECT_TRUE(spans.empty());
            if (c.damage != nullptr) {
                EXPECT_NE(error.find(c.damage), std::string::npos) << error;
            }
            continue;
        }
        ASSERT_EQ(result, conv::kConvertOk) << error;
        EXPECT_EQ(about.rfind("DVB subtitles page 1 (nld, PID 0x0103), ", 0), 0u) << about;
        if (c.damage == nullptr) {
            EXPECT_EQ(about, "DVB subtitles page 1 (nld, PID 0x0103), 400 subtitles");
        } else {
            EXPECT_NE(about.find(std::string("(damaged: ")), std::string::npos) << about;
            EXPECT_NE(about.find(c.damage), std::string::npos) << about;
        }
        EXPECT_GE(spans.size(), film.size() * 9 / 10);
        testsup::Distorted placed = copy;
        for (int64_t& b : placed.belongs) b += plan.lead_ms;
        const conv::Alignment a = conv::align_spans(placed.cues, spans);
        EXPECT_GE(testsup::accuracy_permille(placed, a, 100), 980) << conv::alignment_text(a);
    }
    std::vector<TimeSpan> spans;
    std::string about, error;
    EXPECT_EQ(conv::read_reference_recording(dir.file("missing.ts"), spans, about, error),
              conv::kConvertFailed);
    EXPECT_EQ(error.rfind("cannot read the file: ", 0), 0u) << error;
}

TEST(SyncRecording, KindOfReference) {
    const Bytes recording = testsup::recording(testsup::film_times(5, 1), {});
    const std::string subrip = testsup::subrip(testsup::film_times(5, 1));
    const Bytes subrip_bytes(subrip.begin(), subrip.end());
    auto part = [](const Bytes& b, size_t from, size_t count) {
        return Bytes(b.begin() + static_cast<ptrdiff_t>(from),
                     b.begin() + static_cast<ptrdiff_t>(std::min(b.size(), from + count)));
    };
    Bytes one_bad_sync = part(recording, 0, 4096);
    one_bad_sync[188 * 5] = 0x00;
    const struct {
        const char* name;
        Bytes head;
        conv::ReferenceKind kind;
    } cases[] = {
        {"recording", part(recording, 0, 4096), conv::ReferenceKind::kTransportStream},
        {"recording cut in a packet", part(recording, 100, 4096),
         conv::ReferenceKind::kTransportStream},
        {"two packets and a bit", part(recording, 0, 400), conv::ReferenceKind::kTransportStream},
        {"one packet is not enough", part(recording, 0, 188), conv::ReferenceKind::kOther},
        {"a sync byte missing", one_bad_sync, conv::ReferenceKind::kOther},
        {"SubRip", subrip_bytes, conv::ReferenceKind::kSubtitleFile},
        {"nothing", {}, conv::ReferenceKind::kOther},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(conv::reference_kind(c.head), c.kind);
    }
}

}  // namespace
