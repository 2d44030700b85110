// Material for the automatic sync: a film's worth of cue times with the rhythm of
// dialogue, and distorted copies of it (offset, frame-rate ratio, advertising
// breaks, per-cue jitter, cues deleted and added) that remember where each of their
// cues belongs. Used by the tests and the benchmark alike.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "conv/align.h"

namespace testsup {

// A small generator of our own, so that every run and platform sees the same film.
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
    uint32_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(state_ >> 33);
    }
    // Uniform in [low, high].
    int64_t between(int64_t low, int64_t high) {
        return low + static_cast<int64_t>(next() % static_cast<uint64_t>(high - low + 1));
    }

  private:
    uint64_t state_;
};

// Cue times as a film's dialogue has them: mostly short gaps, some pauses, a few long
// silences. 1500 cues last about two hours.
inline std::vector<conv::TimeSpan> film_times(int cues, uint64_t seed) {
    Random random(seed);
    std::vector<conv::TimeSpan> film;
    int64_t t = random.between(20000, 60000);
    for (int i = 0; i < cues; ++i) {
        const int64_t duration = random.between(900, 4800);
        film.push_back({t, t + duration});
        const uint32_t kind = random.next() % 100;
        const int64_t gap = kind < 85   ? random.between(100, 1500)
                            : kind < 97 ? random.between(2000, 8000)
                                        : random.between(10000, 60000);
        t += duration + gap;
    }
    return film;
}

struct Distortion {
    const char* name;
    // The copy's times are the jittered film's times times numerator / denominator,
    // plus offset_ms.
    int64_t numerator = 1;
    int64_t denominator = 1;
    int64_t offset_ms = 0;
    // Two breaks: the middle third moved by +90 s more (a pause the film does not
    // have), the last third by -90 s from there (a scene the copy lacks, its cues gone).
    bool breaks = false;
    int deleted_percent = 0;
    int extra_percent = 0;
    const char* ratio_found = "1";  // the ratio an aligner applies to undo it
};

constexpr int64_t kJitterMs = 150;
constexpr int64_t kBreakMs = 90000;

inline const std::array<Distortion, 12> kDistortions{{
    {"offset", 1, 1, 37420},
    {"negative offset", 1, 1, -251730},
    {"ratio 23.976/25", 960, 1001, 2100, false, 0, 0, "25/23.976"},
    {"ratio 25/23.976", 1001, 960, -3300, false, 0, 0, "23.976/25"},
    {"ratio 24/25", 24, 25, 1200, false, 0, 0, "25/24"},
    {"ratio 25/24", 25, 24, 800, false, 0, 0, "24/25"},
    {"ratio 24/23.976", 1001, 1000, 5000, false, 0, 0, "23.976/24"},
    {"ratio 23.976/24", 1000, 1001, -700, false, 0, 0, "24/23.976"},
    {"two breaks", 1, 1, 12000, true},
    {"10 % deleted", 1, 1, -8000, false, 10, 0},
    {"10 % extra", 1, 1, 15500, false, 0, 10},
    {"everything", 1001, 960, 4000, true, 10, 10, "23.976/25"},
}};

struct Distorted {
    std::vector<conv::TimeSpan> cues;
    // Where each cue belongs (its jittered start before the distortion); -1 for a cue
    // the film does not have.
    std::vector<int64_t> belongs;
};

inline int64_t scale_time(int64_t t, int64_t numerator, int64_t denominator) {
    return (t * numerator + denominator / 2) / denominator;
}

inline Distorted distort(const std::vector<conv::TimeSpan>& film, const Distortion& d,
                         uint64_t seed) {
    Random random(seed);
    Distorted out;
    const size_t third = film.size() / 3;
    for (size_t i = 0; i < film.size(); ++i) {
        const int64_t jitter = random.between(-kJitterMs, kJitterMs);
        const bool deleted = static_cast<int>(random.next() % 100) < d.deleted_percent;
        if (deleted) continue;
        int64_t start = film[i].start_ms + jitter, end = film[i].end_ms + jitter;
        int64_t move = d.offset_ms;
        if (d.breaks && i >= third && i < 2 * third) {
            if (film[i].start_ms >= film[2 * third].start_ms - kBreakMs) continue;
            move += kBreakMs;
        }
        out.cues.push_back({scale_time(start, d.numerator, d.denominator) + move,
                            scale_time(end, d.numerator, d.denominator) + move});
        out.belongs.push_back(start);
    }
    const int64_t first = out.cues.front().start_ms, last = out.cues.back().end_ms;
    const size_t extra = film.size() * static_cast<size_t>(d.extra_percent) / 100;
    for (size_t i = 0; i < extra; ++i) {
        const int64_t start = random.between(first, last);
        out.cues.push_back({start, start + random.between(900, 4000)});
        out.belongs.push_back(-1);
    }
    return out;
}

// Speech found in a noisy film's sound: each cue's span as a detector finds it (a
// little late, ending early), missed_percent of them not found at all, and false
// spans from the noise in noise_percent of the stretches between.
inline std::vector<conv::TimeSpan> noisy_speech(const std::vector<conv::TimeSpan>& film,
                                                int missed_percent, int noise_percent,
                                                uint64_t seed) {
    Random random(seed);
    std::vector<conv::TimeSpan> speech;
    for (const conv::TimeSpan& c : film) {
        if (static_cast<int>(random.next() % 100) < missed_percent) continue;
        speech.push_back({c.start_ms + random.between(0, 80), c.end_ms - random.between(0, 300)});
    }
    for (int64_t t = 0; t < film.back().end_ms;) {
        const int64_t length = random.between(300, 4000);
        if (static_cast<int>(random.next() % 100) < noise_percent)
            speech.push_back({t, t + length});
        t += length + random.between(200, 3000);
    }
    return speech;
}

// A copy made for a cut with an extra scene of scene_ms before the film's last
// quarter: the cues from there on later by scene_ms, the scene's own cues (one every
// 3.5 s) belonging nowhere; everything offset_ms later besides, and jittered.
inline Distorted with_extra_scene(const std::vector<conv::TimeSpan>& film, int64_t scene_ms,
                                  int64_t offset_ms, uint64_t seed) {
    Random random(seed);
    Distorted out;
    const size_t scene = film.size() * 3 / 4;
    for (size_t i = 0; i < film.size(); ++i) {
        const int64_t jitter = random.between(-kJitterMs, kJitterMs);
        if (i == scene) {
            const int64_t from = film[i].start_ms + offset_ms - 1000;
            for (int64_t t = from; t + 3500 < from + scene_ms; t += 3500) {
                out.cues.push_back({t, t + 2500});
                out.belongs.push_back(-1);
            }
        }
        const int64_t move = offset_ms + (i >= scene ? scene_ms : 0);
        out.cues.push_back({film[i].start_ms + jitter + move, film[i].end_ms + jitter + move});
        out.belongs.push_back(film[i].start_ms + jitter);
    }
    return out;
}

// Thousandths of the film's cues that the alignment puts within tolerance_ms of where
// they belong.
inline int accuracy_permille(const Distorted& distorted, const conv::Alignment& alignment,
                             int64_t tolerance_ms) {
    int genuine = 0, placed = 0;
    for (size_t i = 0; i < distorted.cues.size(); ++i) {
        if (distorted.belongs[i] < 0) continue;
        ++genuine;
        const int64_t start = distorted.cues[i].start_ms;
        const int64_t moved = conv::aligned_time(alignment, start, start);
        if (std::abs(moved - distorted.belongs[i]) <= tolerance_ms) ++placed;
    }
    return genuine == 0 ? 0 : placed * 1000 / genuine;
}

// The same with only the alignment's best single offset applied: the baseline.
inline int single_offset_permille(const Distorted& distorted, const conv::Alignment& alignment,
                                  int64_t tolerance_ms) {
    conv::Alignment single;
    single.segments.push_back({0, alignment.single_offset_ms});
    return accuracy_permille(distorted, single, tolerance_ms);
}

// The spans as a SubRip file whose cue n says "Regel n".
inline std::string subrip(const std::vector<conv::TimeSpan>& spans) {
    auto clock = [](int64_t ms) {
        char text[16];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d,%03d", static_cast<int>(ms / 3600000),
                      static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                      static_cast<int>(ms % 1000));
        return std::string(text);
    };
    std::string out;
    for (size_t i = 0; i < spans.size(); ++i) {
        out += std::to_string(i + 1) + "\n" + clock(spans[i].start_ms) + " --> " +
               clock(spans[i].end_ms) + "\nRegel " + std::to_string(i + 1) + "\n\n";
    }
    return out;
}

// Thousandths of the copy's genuine cues whose start in a converted file (the text of
// what subrip() gave, in the player's format: cue n shows "Regel n", frames of 40 ms)
// lies within tolerance_ms of where they belong.
inline int converted_placed_permille(const Distorted& copy, const std::string& converted,
                                     int64_t tolerance_ms) {
    std::map<int, int64_t> starts;  // n -> ms of the first subtitle showing "Regel n"
    std::istringstream in(converted);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        const int64_t frame = std::atoll(line.c_str() + 1);
        for (size_t at = line.find("Regel "); at != std::string::npos;
             at = line.find("Regel ", at + 1)) {
            starts.emplace(std::atoi(line.c_str() + at + 6), frame * 40);
        }
    }
    int genuine = 0, placed = 0;
    for (size_t i = 0; i < copy.cues.size(); ++i) {
        if (copy.belongs[i] < 0) continue;
        ++genuine;
        const auto it = starts.find(static_cast<int>(i + 1));
        placed += it != starts.end() && std::abs(it->second - copy.belongs[i]) <= tolerance_ms;
    }
    return genuine == 0 ? 0 : placed * 1000 / genuine;
}

// The whole file at path ("" when it cannot be read).
inline std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace testsup
