// The voice-activity detector on sounds made here: a voice (harmonics of a low
// fundamental) over noise, pauses it bridges and pauses it does not, knocks, hiss and
// a background that grows louder, music alone and under a voice, full-scale input,
// and chunking that changes nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "conv/speech.h"
#include "tests/support/sync_samples.h"

namespace {

using conv::TimeSpan;

enum class Kind { silence, voice, hiss, tone, square };

struct Piece {
    Kind kind;
    int64_t ms;
    int amplitude;
};

// Chords of three notes with three harmonics each, a new one every second, struck
// three times a second and dying 10 dB away between, and a melody note an octave up
// every 300 ms: music as a film has it under its dialogue, at about amplitude.
double music(double t, int amplitude) {
    const double pi = 3.14159265358979;
    constexpr double kChords[4][3] = {
        {262, 330, 392}, {220, 262, 330}, {175, 220, 262}, {196, 247, 294}};
    constexpr double kMelody[5] = {523, 587, 659, 784, 880};
    const auto& chord = kChords[static_cast<int>(t) % 4];
    const double since_beat = std::fmod(t, 1.0 / 3);
    const double strike = 0.316 + 0.684 * std::exp(-since_beat / 0.08);
    double v = 0;
    for (const double f : chord)
        for (int k = 1; k <= 3; ++k) v += strike * std::sin(2 * pi * f * k * t) / k;
    const double melody = kMelody[static_cast<int>(t / 0.3) * 7 % 5];
    const double lift = std::fmod(t, 2.0) < 0.06 ? 0 : 1.5;  // the melody breathes too
    for (int k = 1; k <= 3; ++k) v += lift * std::sin(2 * pi * melody * k * t) / k;
    return v * amplitude / 3;
}

// Pieces one after another over a background of hiss at background_amplitude, and of
// music at music_amplitude.
std::vector<int16_t> sound(const std::vector<Piece>& pieces, int background_amplitude,
                           int music_amplitude = 0) {
    std::vector<int16_t> out;
    testsup::Random random(5);
    const double pi = 3.14159265358979;
    for (const Piece& p : pieces) {
        const int64_t count = p.ms * conv::kSpeechSampleRate / 1000;
        for (int64_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(out.size()) / conv::kSpeechSampleRate;
            double v = 0;
            switch (p.kind) {
                case Kind::silence:
                    break;
                case Kind::voice:  // 140 Hz and its harmonics to 2.8 kHz, falling off
                    for (int k = 1; k <= 20; ++k) v += std::sin(2 * pi * 140 * k * t) / k;
                    v *= p.amplitude / 2.0;
                    break;
                case Kind::hiss:
                    v = static_cast<double>(random.between(-p.amplitude, p.amplitude));
                    break;
                case Kind::tone:  // a held note
                    v = p.amplitude * std::sin(2 * pi * 660 * t);
                    break;
                case Kind::square:
                    v = std::sin(2 * pi * 200 * t) >= 0 ? 32767 : -32768;
                    break;
            }
            if (music_amplitude > 0) v += music(t, music_amplitude);
            if (background_amplitude > 0)
                v += static_cast<double>(
                    random.between(-background_amplitude, background_amplitude));
            out.push_back(static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0)));
        }
    }
    return out;
}

std::string text(const std::vector<TimeSpan>& spans) {
    std::string out;
    for (const TimeSpan& s : spans)
        out += "[" + std::to_string(s.start_ms) + ", " + std::to_string(s.end_ms) + ") ";
    return out;
}

TEST(SpeechDetector, FindsPhrasesAndNothingElse) {
    const struct {
        const char* name;
        std::vector<Piece> pieces;
        int background;
        std::vector<TimeSpan> expected;  // each edge within 30 ms
        int music = 0;
    } cases[] = {
        {"silence", {{Kind::silence, 5000, 0}}, 0, {}},
        {"noise alone", {{Kind::silence, 5000, 0}}, 300, {}},
        {"a phrase over noise",
         {{Kind::silence, 2000, 0}, {Kind::voice, 1500, 4000}, {Kind::silence, 2000, 0}},
         100,
         {{2000, 3500}}},
        {"a pause between words is bridged",
         {{Kind::silence, 1000, 0},
          {Kind::voice, 400, 4000},
          {Kind::silence, 150, 0},
          {Kind::voice, 500, 4000},
          {Kind::silence, 1000, 0}},
         100,
         {{1000, 2050}}},
        {"a pause between phrases is not",
         {{Kind::silence, 1000, 0},
          {Kind::voice, 800, 4000},
          {Kind::silence, 600, 0},
          {Kind::voice, 700, 4000},
          {Kind::silence, 1000, 0}},
         100,
         {{1000, 1800}, {2400, 3100}}},
        {"a quiet voice 20 dB over the noise",
         {{Kind::silence, 2000, 0}, {Kind::voice, 1000, 2000}, {Kind::silence, 1000, 0}},
         150,
         {{2000, 3000}}},
        {"a knock is too short",
         {{Kind::silence, 2000, 0}, {Kind::voice, 60, 20000}, {Kind::silence, 2000, 0}},
         100,
         {}},
        {"loud hiss crosses zero too often to start",
         {{Kind::silence, 2000, 0}, {Kind::hiss, 1500, 6000}, {Kind::silence, 2000, 0}},
         100,
         {}},
        {"full scale does not overflow",
         {{Kind::silence, 1000, 0}, {Kind::square, 1000, 0}, {Kind::silence, 1000, 0}},
         50,
         {{1000, 2000}}},
        {"music alone is not speech", {{Kind::silence, 8000, 0}}, 50, {}, 1500},
        {"a phrase over music 10 dB under it",
         {{Kind::silence, 3000, 0}, {Kind::voice, 1500, 4000}, {Kind::silence, 3000, 0}},
         50,
         {{3000, 4500}},
         1000},
        {"speech soon after the start and to the very end",
         {{Kind::silence, 200, 0},
          {Kind::voice, 1000, 4000},
          {Kind::silence, 1000, 0},
          {Kind::voice, 1000, 4000}},
         100,
         {{200, 1200}, {2200, 3200}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<TimeSpan> found =
            conv::detect_speech(sound(c.pieces, c.background, c.music));
        ASSERT_EQ(found.size(), c.expected.size()) << text(found);
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_NEAR(found[i].start_ms, c.expected[i].start_ms, 30) << text(found);
            EXPECT_NEAR(found[i].end_ms, c.expected[i].end_ms, 30) << text(found);
        }
    }
}

TEST(SpeechDetector, FloorFollowsALouderBackground) {
    // A held note starts 20 dB over the noise and goes on: the floor rises to it within
    // its two seconds of memory, so the note stops counting as speech, and a voice
    // after it is found.
    const std::vector<int16_t> samples = sound({{Kind::silence, 3000, 0},
                                                {Kind::tone, 9000, 1500},
                                                {Kind::voice, 1000, 12000},
                                                {Kind::tone, 2000, 1500}},
                                               100);
    const std::vector<TimeSpan> found = conv::detect_speech(samples);
    int64_t during_note = 0;
    bool voice_found = false;
    for (const TimeSpan& s : found) {
        if (s.end_ms <= 12'000) during_note += s.end_ms - s.start_ms;
        if (std::abs(s.start_ms - 12'000) <= 30 && std::abs(s.end_ms - 13'000) <= 30)
            voice_found = true;
    }
    EXPECT_LE(during_note, 2'600) << text(found);
    EXPECT_TRUE(voice_found) << text(found);
}

TEST(SpeechDetector, ChunkingChangesNothing) {
    const std::vector<int16_t> samples = sound({{Kind::silence, 1000, 0},
                                                {Kind::voice, 700, 3000},
                                                {Kind::silence, 900, 0},
                                                {Kind::voice, 1200, 3000},
                                                {Kind::silence, 500, 0}},
                                               100);
    const std::vector<TimeSpan> whole = conv::detect_speech(samples);
    ASSERT_EQ(whole.size(), 2u) << text(whole);
    for (const size_t chunk : {1u, 7u, 160u, 161u, 4096u}) {
        SCOPED_TRACE(chunk);
        conv::SpeechDetector detector;
        for (size_t at = 0; at < samples.size(); at += chunk)
            detector.push(std::span(samples).subspan(at, std::min(chunk, samples.size() - at)));
        EXPECT_EQ(text(detector.finish()), text(whole));
    }
}

}  // namespace
