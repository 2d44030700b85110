// A film whose sound speaks where given spans say, made with espeak-ng and FFmpeg's
// command-line tool: a small vocabulary is spoken once, each span then gets words
// one after another from its start, the last one cut off at its end, over a little
// noise and mains hum; the track is muxed with a tiny black picture into a .mkv.
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

inline constexpr std::array<const char*, 12> kSpokenWords{
    "morning", "window",  "yesterday", "seven",  "garden",  "remember",
    "quickly", "station", "letter",    "dinner", "finally", "answer",
};

// Writes dir/speech.wav: the words spoken during each span, length_ms long.
inline bool make_speech_track(const std::string& dir, const std::vector<conv::TimeSpan>& spans,
                              int64_t length_ms, std::string& why) {
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
    Random random(99);
    track.samples.resize(mix.size());
    for (size_t t = 0; t < mix.size(); ++t) {
        const double hum =
            150.0 * std::sin(2 * 3.14159265358979 * 50.0 * static_cast<double>(t) / track.rate);
        const int64_t noise = random.between(-60, 60);
        track.samples[t] = static_cast<int16_t>(
            std::clamp<int64_t>(mix[t] + noise + static_cast<int64_t>(hum), -32768, 32767));
    }
    if (!write_wave(dir + "/speech.wav", track)) {
        why = "cannot write the speech track";
        return false;
    }
    return true;
}

// Muxes dir/speech.wav, looped to length_ms when it is shorter, with a tiny black
// picture into dir/film_name, the sound in audio_codec (ffmpeg's -c:a and its options).
inline bool mux_film(const std::string& dir, const std::string& film_name, int64_t length_ms,
                     std::string& why, const std::string& audio_codec = "aac -b:a 48k") {
    const std::string seconds =
        std::to_string(length_ms / 1000) + "." + std::to_string(length_ms % 1000 / 100);
    const std::string command = "ffmpeg -nostdin -y -v error -stream_loop -1 -i '" + dir +
                                "/speech.wav' -f lavfi -i color=c=black:s=64x36:r=5 -t " + seconds +
                                " -map 0:a -map 1:v -c:v mpeg4 -c:a " + audio_codec + " '" + dir +
                                "/" + film_name + "'";
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
                             const std::string& audio_codec = "aac -b:a 48k") {
    const int64_t length_ms = spans.empty() ? 10'000 : spans.back().end_ms + 5'000;
    return make_speech_track(dir, spans, length_ms, why) &&
           mux_film(dir, film_name, length_ms, why, audio_codec);
}

}  // namespace testsup
