// Automatic sync to a film's speech. The material is made once in
// /tmp/lumetra-bench-speech (kept for runs of lumetra-convert under /usr/bin/time):
// about 25 minutes of dialogue spoken by espeak-ng, looped into a two-hour film with
// AAC sound, and its subtitles, distorted as the tests distort them, as
// distorted-N.srt beside it.
//
// BM_TwoHourFilmSpeech: the time to decode the two-hour film's sound and find its
// speech, on one core. BM_AlignToFilmSpeech: for each distortion, the time one
// alignment to that speech takes, and as counters the share of cues (thousandths)
// placed within 200 ms of where they belong beside the same share for the best single
// offset alone.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/alignment_counters.h"
#include "conv/align.h"
#include "tests/support/speech_film.h"
#include "tests/support/sync_samples.h"
#include "tools/film_audio.h"

namespace {

constexpr const char* kDir = "/tmp/lumetra-bench-speech";
constexpr int64_t kFilmMs = 2 * 3600 * 1000;
constexpr int64_t kToleranceMs = 200;

struct Material {
    bool ok = false;
    std::string why;
    std::vector<conv::TimeSpan> cues;    // the two-hour film's subtitles
    std::vector<conv::TimeSpan> speech;  // found in its sound
};

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

Material& material() {
    static Material m = [] {
        Material made;
        const std::string missing = testsup::speech_film_tools_missing();
        if (!missing.empty()) {
            made.why = "no " + missing;
            return made;
        }
        ::mkdir(kDir, 0755);
        const std::vector<conv::TimeSpan> dialogue = testsup::film_times(350, 51);
        const int64_t loop_ms = dialogue.back().end_ms + 5'000;
        // The loop repeats the dialogue, and the subtitles with it.
        for (int64_t from = 0; from < kFilmMs; from += loop_ms) {
            for (const conv::TimeSpan& c : dialogue)
                if (from + c.end_ms <= kFilmMs)
                    made.cues.push_back({from + c.start_ms, from + c.end_ms});
        }
        const std::string film = std::string(kDir) + "/film.mkv";
        if (!exists(film) && !(testsup::make_speech_track(kDir, dialogue, loop_ms, made.why) &&
                               testsup::mux_film(kDir, "film.mkv", kFilmMs, made.why))) {
            return made;
        }
        std::ofstream(std::string(kDir) + "/film.srt") << testsup::subrip(made.cues);
        made.ok = true;
        return made;
    }();
    return m;
}

void BM_TwoHourFilmSpeech(benchmark::State& state) {
    Material& m = material();
    if (!m.ok) {
        state.SkipWithError(m.why.c_str());
        return;
    }
    std::string error;
    for (auto _ : state) {
        if (!tools::film_speech_spans(std::string(kDir) + "/film.mkv", m.speech, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    int64_t speech_ms = 0;
    for (const conv::TimeSpan& s : m.speech) speech_ms += s.end_ms - s.start_ms;
    state.counters["speech_spans"] = static_cast<double>(m.speech.size());
    state.counters["speech_s"] = static_cast<double>(speech_ms) / 1000;
    state.counters["cues"] = static_cast<double>(m.cues.size());
}
BENCHMARK(BM_TwoHourFilmSpeech)->Iterations(1)->Unit(benchmark::kSecond);

void BM_AlignToFilmSpeech(benchmark::State& state) {
    Material& m = material();
    std::string error;
    if (!m.ok || (m.speech.empty() &&
                  !tools::film_speech_spans(std::string(kDir) + "/film.mkv", m.speech, error))) {
        state.SkipWithError(m.ok ? error.c_str() : m.why.c_str());
        return;
    }
    const size_t index = static_cast<size_t>(state.range(0));
    const testsup::Distortion& d = testsup::kDistortions[index];
    state.SetLabel(d.name);
    const testsup::Distorted copy = testsup::distort(m.cues, d, 60 + index);
    std::ofstream(std::string(kDir) + "/distorted-" + std::to_string(index) + ".srt")
        << testsup::subrip(copy.cues);
    conv::Alignment alignment;
    for (auto _ : state) {
        alignment = conv::align_spans(copy.cues, m.speech);
        benchmark::DoNotOptimize(alignment.matched_ms);
    }
    count_alignment(state, copy, alignment, kToleranceMs);
}
BENCHMARK(BM_AlignToFilmSpeech)
    ->DenseRange(0, static_cast<int>(testsup::kDistortions.size()) - 1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
