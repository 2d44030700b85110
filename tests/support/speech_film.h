// A film whose sound speaks where given spans say, made with espeak-ng and FFmpeg's
// command-line tool: a small vocabulary is spoken once, each span then gets words
// one after another from its start, the last one cut off at its end, over a little
// noise and mains hum, and under it music or pink noise at a level relative to the
// speech if asked; the track is muxed with a tiny black picture into a .mkv, in mono
// or as 5.1 with the dialogue on the centre channel and the background on the others.
// Used by the tests and the benchmark alike.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "conv/align.h"
#include "conv/speech.h"
#include "tests/support/sync_samples.h"

namespace testsup {

inline bool have_program(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// What is missing to make a speech film here, or empty.
inline std::string speech_film_tools_missing() {
    std::string missing;
    for (const char* tool : {"espeak-ng", "ffmpeg"})
        if (!have_program(tool)) missing += std::string(missing.empty() ? "" : ", ") + tool;
    return missing;
}

struct Wave {
    int rate = 0;
    std::vector<int16_t> samples;  // mono
};

// A RIFF WAVE file of 16-bit mono PCM (what espeak-ng writes).
inline bool read_wave(const std::string& path, Wave& wave) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return false;
    bool format_ok = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const size_t size = std::min<size_t>(u32(at + 4), bytes.size() - at - 8);
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && size >= 16) {
            uint16_t format = 0, channels = 0, bits = 0;
            std::memcpy(&format, bytes.data() + at + 8, 2);
            std::memcpy(&channels, bytes.data() + at + 10, 2);
            std::memcpy(&bits, bytes.data() + at + 22, 2);
            wave.rate = static_cast<int>(u32(at + 12));
            format_ok = format == 1 && channels == 1 && bits == 16;
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0 && format_ok) {
            wave.samples.resize(size / 2);
            std::memcpy(wave.samples.data(), bytes.data() + at + 8, wave.samples.size() * 2);
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

inline bool write_wave(const std::string& path, const Wave& wave) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto data = static_cast<uint32_t>(wave.samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + data);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(static_cast<uint32_t>(wave.rate));
    u32(static_cast<uint32_t>(wave.rate) * 2);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(data);
    out.write(reinterpret_cast<const char*>(wave.samples.data()), data);
    return static_cast<bool>(out);
}

// What plays under the dialogue.
enum class Background {
    kNone,
    kMusic,         // chords held two seconds each, a bass and a melody over them
    kPulsingMusic,  // the same chords struck three times a second, each dying 10 dB away
    kPinkNoise,     // rain, wind, a crowd: noise of equal energy per octave
};

struct FilmSound {
    Background background = Background::kNone;
    // The background's RMS this far below the speech's (while someone speaks); for
    // pulsing chords, the RMS of their loudest moments.
    int below_db = 20;
    // 5.1: the dialogue alone on the centre channel, the background on the five others.
    bool surround = false;
};

// count samples of the background at rate, of RMS 1 (for pulsing chords, at their peaks).
inline std::vector<double> background_sound(Background kind, size_t count, int rate) {
    std::vector<double> out(count, 0.0);
    const double pi = 3.14159265358979;
    double held_sum = 0;  // the music's energy with its chords held, not struck
    Random random(7);
    if (kind == Background::kPinkNoise) {
        // Paul Kellet's filter of white noise: -3 dB an octave from 10 Hz to the top.
        std::array<double, 7> b{};
        for (double& v : out) {
            const double white = static_cast<double>(random.next()) / 2147483648.0 - 1.0;
            b[0] = 0.99886 * b[0] + white * 0.0555179;
            b[1] = 0.99332 * b[1] + white * 0.0750759;
            b[2] = 0.96900 * b[2] + white * 0.1538520;
            b[3] = 0.86650 * b[3] + white * 0.3104856;
            b[4] = 0.55000 * b[4] + white * 0.5329522;
            b[5] = -0.7616 * b[5] - white * 0.0168980;
            v = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + white * 0.5362;
            b[6] = white * 0.115926;
        }
    } else if (kind != Background::kNone) {
        // C, A minor, F, G: root, third, fifth and the root an octave down, as MIDI notes.
        constexpr std::array<std::array<int, 4>, 4> kChords{
            {{60, 64, 67, 48}, {57, 60, 64, 45}, {53, 57, 60, 41}, {55, 59, 62, 43}}};
        constexpr std::array<int, 5> kMelody{72, 74, 76, 79, 81};  // pentatonic, an octave up
        const auto hz = [](int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); };
        // A sine from a table: the films are made quickly under the sanitizers too.
        std::vector<double> table(8192);
        for (size_t i = 0; i < table.size(); ++i)
            table[i] =
                std::sin(2 * pi * static_cast<double>(i) / static_cast<double>(table.size()));
        const auto sine = [&](double cycles) {
            return table[static_cast<size_t>(cycles * static_cast<double>(table.size())) %
                         table.size()];
        };
        // A note with five harmonics, as a string or an organ would have, so that the
        // music reaches up into the voice's band.
        const auto note_at = [&](double cycles) {
            double v = 0;
            for (int k = 1; k <= 5; ++k) v += sine(cycles * k) / k;
            return v;
        };
        const size_t chord_samples = static_cast<size_t>(2 * rate);
        const size_t beat_samples = static_cast<size_t>(rate / 3);
        size_t melody_end = 0;
        double melody_hz = 0;
        double melody_cycles = 0;  // the melody's phase, which its vibrato moves
        size_t melody_start = 0;
        for (size_t t = 0; t < count; ++t) {
            const double s = static_cast<double>(t) / rate;
            const auto& chord = kChords[t / chord_samples % kChords.size()];
            double env = 1.0;
            if (kind == Background::kPulsingMusic) {
                // Struck on the beat, dying to 10 dB down before the next one.
                const double since = static_cast<double>(t % beat_samples) / rate;
                env = 0.316 + 0.684 * std::exp(-since / 0.08);
                env *= std::min(1.0, since / 0.005);
            } else {
                // Held, with 50 ms to change chords.
                const double into = static_cast<double>(t % chord_samples) / rate;
                env = std::min({1.0, into / 0.05, (2.0 - into) / 0.05});
            }
            double v = 0;
            for (const int n : chord) v += note_at(hz(n) * s);
            if (t >= melody_end) {
                melody_start = t;
                melody_end = t + static_cast<size_t>(random.between(250, 600)) * rate / 1000;
                melody_hz = hz(kMelody[random.next() % kMelody.size()]);
            }
            const double m_into = static_cast<double>(t - melody_start) / rate;
            const double m_left = static_cast<double>(melody_end - t) / rate;
            melody_cycles += melody_hz * (1.0 + 0.004 * sine(5.5 * s)) / rate;
            const double melody =
                1.5 * std::min({1.0, m_into / 0.02, m_left / 0.03}) * note_at(melody_cycles);
            out[t] = v * env + melody;
            held_sum += (v + melody) * (v + melody);
        }
    }
    double sum = 0;
    for (const double v : out) sum += v * v;
    // Pulsing chords are measured at their peaks: as loud as the chords held.
    if (kind == Background::kPulsingMusic) sum = held_sum;
    const double rms = count == 0 ? 0 : std::sqrt(sum / static_cast<double>(count));
    for (double& v : out) v = rms == 0 ? 0 : v / rms;
    return out;
}

inline constexpr std::array<const char*, 12> kSpokenWords{
    "morning", "window",  "yesterday", "seven",  "garden",  "remember",
    "quickly", "station", "letter",    "dinner", "finally", "answer",
};

// Writes dir/speech.wav: the words spoken during each span, length_ms long, with the
// background under them; when sound.surround, the background goes to
// dir/background.wav instead, for mux_film to spread over the other channels.
inline bool make_speech_track(const std::string& dir, const std::vector<conv::TimeSpan>& spans,
                              int64_t length_ms, std::string& why, const FilmSound& sound = {}) {
    std::vector<Wave> words;
    for (size_t i = 0; i < kSpokenWords.size(); ++i) {
        const std::string path = dir + "/word" + std::to_string(i) + ".wav";
        if (std::system(("espeak-ng -w '" + path + "' " + kSpokenWords[i]).c_str()) != 0) {
            why = "espeak-ng failed";
            return false;
        }
        Wave w;
        if (!read_wave(path, w) || (!words.empty() && w.rate != words.front().rate)) {
            why = "espeak-ng wrote no 16-bit mono wave";
            return false;
        }
        // The word without the silence espeak-ng puts around it.
        auto loud = [](int16_t s) { return std::abs(s) > 200; };
        const auto first = std::find_if(w.samples.begin(), w.samples.end(), loud);
        const auto last = std::find_if(w.samples.rbegin(), w.samples.rend(), loud).base();
        w.samples = first < last ? std::vector<int16_t>(first, last) : std::vector<int16_t>{};
        words.push_back(std::move(w));
    }
    Wave track;
    track.rate = words.front().rate;
    const auto at = [&](int64_t ms) { return static_cast<size_t>(ms * track.rate / 1000); };
    std::vector<int32_t> mix(at(length_ms), 0);
    size_t next_word = 0;
    for (const conv::TimeSpan& s : spans) {
        const size_t end = std::min(at(s.end_ms), mix.size());
        for (size_t t = at(std::max<int64_t>(s.start_ms, 0)); t < end;) {
            const Wave& w = words[next_word++ % words.size()];
            for (size_t k = 0; k < w.samples.size() && t < end; ++k, ++t) mix[t] += w.samples[k];
            t += at(60);  // the pause between words
        }
    }
    // The speech's RMS while someone speaks sets the background's level.
    double spoken = 0;
    size_t spoken_count = 0;
    for (const conv::TimeSpan& s : spans) {
        for (size_t t = at(std::max<int64_t>(s.start_ms, 0));
             t < std::min(at(s.end_ms), mix.size()); ++t, ++spoken_count)
            spoken += static_cast<double>(mix[t]) * mix[t];
    }
    const double speech_rms = spoken_count == 0 ? 3000.0 : std::sqrt(spoken / spoken_count);
    std::vector<double> background = background_sound(sound.background, mix.size(), track.rate);
    for (double& v : background) v *= speech_rms * std::pow(10.0, -sound.below_db / 20.0);
    const auto sample = [](double v) {
        return static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    };
    Random random(99);
    track.samples.resize(mix.size());
    for (size_t t = 0; t < mix.size(); ++t) {
        const double hum =
            150.0 * std::sin(2 * 3.14159265358979 * 50.0 * static_cast<double>(t) / track.rate);
        const auto noise = static_cast<double>(random.between(-60, 60));
        track.samples[t] = sample(mix[t] + noise + hum + (sound.surround ? 0.0 : background[t]));
    }
    if (!write_wave(dir + "/speech.wav", track)) {
        why = "cannot write the speech track";
        return false;
    }
    if (sound.surround) {
        Wave others{track.rate, std::vector<int16_t>(mix.size())};
        for (size_t t = 0; t < mix.size(); ++t) others.samples[t] = sample(background[t]);
        if (!write_wave(dir + "/background.wav", others)) {
            why = "cannot write the background track";
            return false;
        }
    }
    return true;
}

// The codec of a 5.1 film's sound, as most films on disc and broadcast have it.
inline const std::string kSurroundCodec = "ac3 -b:a 384k";

// Muxes dir/speech.wav, looped to length_ms when it is shorter, with a tiny black
// picture into dir/film_name, the sound in audio_codec (ffmpeg's -c:a and its options).
// When surround, the sound is 5.1: speech.wav on the centre channel, and
// dir/background.wav on the other five.
inline bool mux_film(const std::string& dir, const std::string& film_name, int64_t length_ms,
                     std::string& why, const std::string& audio_codec = "aac -b:a 48k",
                     bool surround = false) {
    const std::string seconds =
        std::to_string(length_ms / 1000) + "." + std::to_string(length_ms % 1000 / 100);
    const std::string inputs =
        "-stream_loop -1 -i '" + dir + "/speech.wav' " +
        (surround ? "-stream_loop -1 -i '" + dir + "/background.wav' " : std::string());
    const std::string sound =
        surround ? "-filter_complex '[0:a][1:a]amerge=inputs=2,pan=5.1|FL=c1|FR=c1|FC=c0|"
                   "LFE=c1|BL=c1|BR=c1[a]' -map '[a]' -map 2:v "
                 : "-map 0:a -map 1:v ";
    const std::string command = "ffmpeg -nostdin -y -v error " + inputs +
                                "-f lavfi -i color=c=black:s=64x36:r=5 -t " + seconds + " " +
                                sound + "-c:v mpeg4 -c:a " + audio_codec + " '" + dir + "/" +
                                film_name + "'";
    if (std::system(command.c_str()) != 0) {
        why = "ffmpeg could not make the film";
        return false;
    }
    return true;
}

// The speech the detector finds in a film's sound, decoded to 16 kHz mono by FFmpeg's
// command-line tool; false with why set when it cannot be decoded.
inline bool detected_speech(const std::string& dir, const std::string& film_name,
                            std::vector<conv::TimeSpan>& speech, std::string& why) {
    const std::string raw = dir + "/speech.raw";
    if (std::system(("ffmpeg -nostdin -y -v error -i '" + dir + "/" + film_name +
                     "' -ac 1 -ar 16000 -f s16le '" + raw + "'")
                        .c_str()) != 0) {
        why = "ffmpeg could not decode the film";
        return false;
    }
    std::ifstream in(raw, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    speech = conv::detect_speech(samples);
    return true;
}

inline bool make_speech_film(const std::string& dir, const std::vector<conv::TimeSpan>& spans,
                             const std::string& film_name, std::string& why,
                             const std::string& audio_codec = "aac -b:a 48k",
                             const FilmSound& sound = {}) {
    const int64_t length_ms = spans.empty() ? 10'000 : spans.back().end_ms + 5'000;
    return make_speech_track(dir, spans, length_ms, why, sound) &&
           mux_film(dir, film_name, length_ms, why, sound.surround ? kSurroundCodec : audio_codec,
                    sound.surround);
}

}  // namespace testsup
