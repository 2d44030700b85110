// Automatic sync of a two-hour film (1500 cues) to a subtitle reference, for each
// distortion of the test material: the time one alignment takes, and as counters the
// share of cues (in thousandths) placed within 100 ms of where they belong, beside
// the same share for the best single offset alone, the baseline a user might
// otherwise use. The same with a recording of the film as the reference (DVB
// subtitles or teletext), its reading included, read whole or in pieces; a copy for
// the hearing impaired, converted and aligned; and the reading of a minute of a
// recording at a broadcast's rates, for what a recording of several GB costs.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/alignment_counters.h"
#include "conv/align.h"
#include "conv/convert.h"
#include "conv/recording.h"
#include "tests/support/sync_samples.h"
#include "tests/support/ts_samples.h"

namespace {

constexpr int kCues = 1500;
constexpr int64_t kToleranceMs = 100;

void BM_AlignTwoHourFilm(benchmark::State& state) {
    const testsup::Distortion& d = testsup::kDistortions[static_cast<size_t>(state.range(0))];
    state.SetLabel(d.name);
    const std::vector<conv::TimeSpan> film = testsup::film_times(kCues, 7);
    const testsup::Distorted copy = testsup::distort(film, d, 11);
    conv::Alignment alignment;
    for (auto _ : state) {
        alignment = conv::align_spans(copy.cues, film);
        benchmark::DoNotOptimize(alignment.matched_ms);
    }
    count_alignment(state, copy, alignment, kToleranceMs);
}
BENCHMARK(BM_AlignTwoHourFilm)
    ->DenseRange(0, static_cast<int>(testsup::kDistortions.size()) - 1)
    ->Unit(benchmark::kMillisecond);

// range(0): the distortion; range(1): 0 DVB subtitles, 1 teletext page 888.
void BM_AlignToRecording(benchmark::State& state) {
    const testsup::Distortion& d = testsup::kDistortions[static_cast<size_t>(state.range(0))];
    const bool teletext = state.range(1) != 0;
    state.SetLabel(std::string(d.name) + (teletext ? ", teletext" : ", DVB subtitles"));
    const std::vector<conv::TimeSpan> film = testsup::film_times(kCues, 7);
    testsup::RecordingPlan plan;
    plan.dvb = !teletext;
    plan.teletext = teletext;
    const testsup::Bytes recording = testsup::recording(film, plan);
    testsup::Distorted copy = testsup::distort(film, d, 11);
    for (int64_t& b : copy.belongs) b += b < 0 ? 0 : plan.lead_ms;
    conv::Alignment alignment;
    for (auto _ : state) {
        conv::RecordingReader reader;
        reader.feed(recording);
        std::vector<conv::TimeSpan> reference;
        std::string about, error;
        conv::recording_reference(reader.finish(), reference, about, error);
        alignment = conv::align_spans(copy.cues, reference);
        benchmark::DoNotOptimize(alignment.matched_ms);
    }
    count_alignment(state, copy, alignment, kToleranceMs);
    state.counters["recording_MB"] = static_cast<double>(recording.size()) / 1e6;
}
BENCHMARK(BM_AlignToRecording)
    ->ArgsProduct(
        {benchmark::CreateDenseRange(0, static_cast<int>(testsup::kDistortions.size()) - 1, 1),
         {0, 1}})
    ->Unit(benchmark::kMillisecond);

// The same with the recording read as the box reads it: first in pieces
// (conv::recording_pieces, round 0, then round 1), aligned by the starts of what shows
// in them, and whole only when that is not taken (conv::sparse_alignment_taken). Its counters
// beside the accuracy: the share of the recording read (thousandths) and whether the pieces
// sufficed.
void BM_AlignToSparseRecording(benchmark::State& state) {
    const testsup::Distortion& d = testsup::kDistortions[static_cast<size_t>(state.range(0))];
    const bool teletext = state.range(1) != 0;
    state.SetLabel(std::string(d.name) + (teletext ? ", teletext" : ", DVB subtitles"));
    const std::vector<conv::TimeSpan> film = testsup::film_times(kCues, 7);
    testsup::RecordingPlan plan;
    plan.dvb = !teletext;
    plan.teletext = teletext;
    const testsup::Bytes recording = testsup::recording(film, plan);
    testsup::Distorted copy = testsup::distort(film, d, 11);
    for (int64_t& b : copy.belongs) b += b < 0 ? 0 : plan.lead_ms;
    conv::Alignment alignment;
    int64_t bytes_read = 0;
    bool sparse = false;
    for (auto _ : state) {
        bytes_read = 0;
        std::vector<conv::TimeSpan> marks;
        std::string about, error;
        sparse = false;
        for (int round = 0; round < 2 && !sparse; ++round) {
            const std::vector<conv::FilePiece> pieces =
                conv::recording_pieces(static_cast<int64_t>(recording.size()), round);
            for (const conv::FilePiece& p : pieces) bytes_read += p.length;
            conv::recording_start_marks(conv::read_recording_pieces(recording, pieces), marks,
                                        about, error);
            alignment = conv::align_spans(conv::start_marks(copy.cues), marks);
            sparse = conv::sparse_alignment_taken(alignment, marks.size());
        }
        if (!sparse) {
            conv::RecordingReader reader;
            reader.feed(recording);
            std::vector<conv::TimeSpan> reference;
            conv::recording_reference(reader.finish(), reference, about, error);
            bytes_read += static_cast<int64_t>(recording.size());
            alignment = conv::align_spans(copy.cues, reference);
        }
        benchmark::DoNotOptimize(alignment.matched_ms);
    }
    count_alignment(state, copy, alignment, kToleranceMs);
    state.counters["within_200ms_permille"] = testsup::accuracy_permille(copy, alignment, 200);
    state.counters["pieces_sufficed"] = sparse ? 1 : 0;
    state.counters["read_permille"] =
        static_cast<double>(bytes_read * 1000 / static_cast<int64_t>(recording.size()));
}
BENCHMARK(BM_AlignToSparseRecording)
    ->ArgsProduct(
        {benchmark::CreateDenseRange(0, static_cast<int>(testsup::kDistortions.size()) - 1, 1),
         {0, 1}})
    ->Unit(benchmark::kMillisecond);

// A copy for the hearing impaired: besides its lines, a sound described in every fifth
// pause ("[muziek]", a song between music signs, "(deur slaat dicht)"), which no
// reference has. The file is converted and aligned as lumetra-convert --sync-to does,
// to the film's subtitles (range(0) 0) or to speech found in a noisy film (1); the
// counters are the shares of its lines (thousandths) starting within 100 and 200 ms of
// where they belong in the converted file.
void BM_AlignHearingImpaired(benchmark::State& state) {
    const bool speech = state.range(0) != 0;
    state.SetLabel(speech ? "speech" : "subtitles");
    constexpr std::array<const char*, 3> kSounds = {"[muziek]", "\u266A Kom naar de kust \u266A",
                                                    "(deur slaat dicht)"};
    const std::vector<conv::TimeSpan> film = testsup::film_times(kCues, 7);
    const testsup::Distorted lines = testsup::distort(film, testsup::kDistortions[0], 11);
    // The lines and the sounds in time order, as a SubRip file: line n says "Regel n".
    testsup::Distorted copy;
    std::vector<std::string> texts;
    for (size_t i = 0; i < lines.cues.size(); ++i) {
        copy.cues.push_back(lines.cues[i]);
        copy.belongs.push_back(lines.belongs[i]);
        texts.push_back("Regel " + std::to_string(copy.cues.size()));
        const int64_t pause =
            i + 1 < lines.cues.size() ? lines.cues[i + 1].start_ms - lines.cues[i].end_ms : 0;
        if (i % 5 == 4 && pause > 1200) {
            const int64_t start = lines.cues[i].end_ms + 100;
            copy.cues.push_back({start, start + std::min<int64_t>(pause - 200, 4000)});
            copy.belongs.push_back(-1);
            texts.push_back(kSounds[i / 5 % kSounds.size()]);
        }
    }
    auto clock = [](int64_t ms) {
        char text[32];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d,%03d", static_cast<int>(ms / 3600000),
                      static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                      static_cast<int>(ms % 1000));
        return std::string(text);
    };
    std::string srt;
    for (size_t i = 0; i < copy.cues.size(); ++i) {
        srt += std::to_string(i + 1) + "\n" + clock(copy.cues[i].start_ms) + " --> " +
               clock(copy.cues[i].end_ms) + "\n" + texts[i] + "\n\n";
    }
    const std::vector<conv::TimeSpan> reference =
        speech ? testsup::noisy_speech(film, 10, 20, 13) : film;
    const std::span<const uint8_t> input(reinterpret_cast<const uint8_t*>(srt.data()), srt.size());
    std::string output;
    conv::Alignment alignment;
    for (auto _ : state) {
        conv::ConvertReport report;
        conv::convert_aligned(input, conv::ConvertOptions{}, reference, false, output, report,
                              alignment);
        benchmark::DoNotOptimize(output.data());
    }
    state.counters["within_100ms_permille"] =
        testsup::converted_placed_permille(copy, output, kToleranceMs);
    state.counters["within_200ms_permille"] =
        testsup::converted_placed_permille(copy, output, 2 * kToleranceMs);
    state.counters["reliable"] = alignment.reliable ? 1 : 0;
    state.counters["sounds"] = static_cast<double>(copy.cues.size() - lines.cues.size());
}
BENCHMARK(BM_AlignHearingImpaired)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

// A minute of a recording as broadcast. Bytes per second is the reading's speed; a
// 4 GB recording takes 4e9 divided by it.
void BM_ReadRecordingMinute(benchmark::State& state) {
    const testsup::Bytes recording = testsup::broadcast_minute();
    size_t shown = 0;
    for (auto _ : state) {
        conv::RecordingReader reader;
        for (size_t at = 0; at < recording.size(); at += 65536) {
            reader.feed(std::span<const uint8_t>(recording).subspan(
                at, std::min<size_t>(65536, recording.size() - at)));
        }
        const conv::Recording r = reader.finish();
        shown = r.streams.empty() ? 0 : r.streams.front().shown.size();
        benchmark::DoNotOptimize(shown);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(recording.size()));
    state.counters["shown"] = static_cast<double>(shown);
    state.counters["recording_MB"] = static_cast<double>(recording.size()) / 1e6;
}
BENCHMARK(BM_ReadRecordingMinute)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
