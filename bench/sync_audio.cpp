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
//
// BM_SpeechUnderBackground: speech under music (held chords, pulsing chords), under
// pink noise, at 20, 10 and 0 dB below it, and a 5.1 film with music 20 dB down on
// the channels beside the dialogue's, each ten minutes of AAC (AC-3 for the 5.1) made
// in /tmp/lumetra-bench-speech/CASE. Its counters: the share of cues (thousandths)
// within 100 and 200 ms after aligning a copy offset and jittered, whether the match
// was refused, and the detector's CPU time in ms per minute of sound.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
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
    std::string error, about;
    for (auto _ : state) {
        if (!tools::film_speech_spans(std::string(kDir) + "/film.mkv", m.speech, about, error)) {
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
    std::string error, about;
    if (!m.ok || (m.speech.empty() && !tools::film_speech_spans(std::string(kDir) + "/film.mkv",
                                                                m.speech, about, error))) {
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

struct Hard {
    const char* name;
    testsup::FilmSound sound;
};

const std::array<Hard, 11> kHard{{
    {"music 20 dB under", {testsup::Background::kMusic, 20}},
    {"music 10 dB under", {testsup::Background::kMusic, 10}},
    {"music 0 dB under", {testsup::Background::kMusic, 0}},
    {"pulsing chords 20 dB under", {testsup::Background::kPulsingMusic, 20}},
    {"pulsing chords 10 dB under", {testsup::Background::kPulsingMusic, 10}},
    {"pulsing chords 0 dB under", {testsup::Background::kPulsingMusic, 0}},
    {"pink noise 20 dB under", {testsup::Background::kPinkNoise, 20}},
    {"pink noise 10 dB under", {testsup::Background::kPinkNoise, 10}},
    {"pink noise 0 dB under", {testsup::Background::kPinkNoise, 0}},
    {"5.1, music 20 dB under on the sides", {testsup::Background::kMusic, 20, true}},
    {"5.1, music 10 dB under on the sides", {testsup::Background::kMusic, 10, true}},
}};

void BM_SpeechUnderBackground(benchmark::State& state) {
    const std::string missing = testsup::speech_film_tools_missing();
    if (!missing.empty()) {
        state.SkipWithError(("no " + missing).c_str());
        return;
    }
    const size_t index = static_cast<size_t>(state.range(0));
    const Hard& hard = kHard[index];
    state.SetLabel(hard.name);
    const std::string dir = std::string(kDir) + "/hard-" + std::to_string(index);
    ::mkdir(kDir, 0755);
    ::mkdir(dir.c_str(), 0755);
    const std::vector<conv::TimeSpan> film = testsup::film_times(170, 71 + index);
    std::string why;
    if (!exists(dir + "/film.mkv") &&
        !testsup::make_speech_film(dir, film, "film.mkv", why, "aac -b:a 96k", hard.sound)) {
        state.SkipWithError(why.c_str());
        return;
    }
    // The detector alone, on the sound decoded once: the channel the converter reads.
    const std::string raw = dir + "/sound.raw";
    const std::string decode = "ffmpeg -nostdin -y -v error -i '" + dir + "/film.mkv' " +
                               (hard.sound.surround ? "-af 'pan=mono|c0=FC'" : "-ac 1") +
                               " -ar 16000 -f s16le '" + raw + "'";
    if (std::system(decode.c_str()) != 0) {
        state.SkipWithError("ffmpeg could not decode the film");
        return;
    }
    const std::string bytes = testsup::file_text(raw);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    const std::clock_t started = std::clock();
    const std::vector<conv::TimeSpan> alone = conv::detect_speech(samples);
    const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - started) / CLOCKS_PER_SEC;
    benchmark::DoNotOptimize(alone.data());

    std::vector<conv::TimeSpan> speech;
    std::string about;
    for (auto _ : state) {
        if (!tools::film_speech_spans(dir + "/film.mkv", speech, about, why)) {
            state.SkipWithError(why.c_str());
            return;
        }
    }
    const testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[0], 90 + index);
    const conv::Alignment a = conv::align_spans(copy.cues, speech);
    state.counters["within_100ms_permille"] =
        a.reliable ? testsup::accuracy_permille(copy, a, 100) : 0;
    state.counters["within_200ms_permille"] =
        a.reliable ? testsup::accuracy_permille(copy, a, 200) : 0;
    state.counters["refused"] = a.reliable ? 0 : 1;
    state.counters["confidence_permille"] = a.confidence_permille;
    state.counters["speech_spans"] = static_cast<double>(speech.size());
    state.counters["cues"] = static_cast<double>(film.size());
    state.counters["detect_cpu_ms_per_min"] =
        cpu_ms * 60'000.0 * conv::kSpeechSampleRate / 1000.0 / static_cast<double>(samples.size());
}
BENCHMARK(BM_SpeechUnderBackground)
    ->DenseRange(0, static_cast<int>(kHard.size()) - 1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
