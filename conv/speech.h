// Finds where people speak in a film's sound, as the reference the aligner moves a
// subtitle file onto. Works on 16 kHz mono 16-bit samples in frames of 10 ms, in
// integer arithmetic, keeping only the spans found: a two-hour film takes a few
// hundred kilobytes whatever its length.
//
// A frame is voiced when its pre-emphasised energy stands well above an adaptive
// noise floor, its zero crossings are those of a voice rather than of hiss, and it
// stands out over the background in several bands of the voice's frequencies at once
// (music under the dialogue fills a few bands and stays there); a stretch starts
// after a few voiced frames in a row, carries on through quieter frames above lower
// thresholds, and a hangover bridges the pauses between words, so that a span is a
// phrase, as a subtitle is.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "conv/align.h"

namespace conv {

constexpr int kSpeechSampleRate = 16000;
constexpr int kSpeechFrameSamples = kSpeechSampleRate / 100;

class SpeechDetector {
  public:
    // Samples in order, in chunks of any size.
    void push(std::span<const int16_t> samples);
    // Closes a stretch still open and returns the spans found, in order, in ms from
    // the first sample pushed (once: the detector is spent after it).
    std::vector<TimeSpan> finish();

    // The spectrum is taken over this many samples: the frame and the end of the one
    // before it.
    static constexpr int kWindow = 256;
    // Bands of the spectrum between 250 Hz and 5 kHz, where a voice's formants lie.
    static constexpr int kBands = 16;
    // Frames of each band's level kept for its background: two seconds.
    static constexpr int kHistory = 200;

  private:
    void frame();
    void close_stretch();
    // How many bands stand start_above over their background this frame, and how many
    // stand carry_on_above over it.
    void band_levels(int& start_bands, int& carry_on_bands);

    int16_t frame_[kSpeechFrameSamples] = {};
    int filled_ = 0;
    int16_t previous_ = 0;  // the last sample of the previous frame, for pre-emphasis
    std::array<int16_t, kWindow - kSpeechFrameSamples> tail_{};  // the samples before frame_
    // Each band's level in the last kHistory frames (a ring, next at history_next_),
    // and its background: the level they exceed in 30 % of those frames, refreshed
    // every few frames.
    std::array<std::array<int16_t, kHistory>, kBands> history_{};
    int history_next_ = 0;
    std::array<int32_t, kBands> background_{};
    int64_t frames_ = 0;  // frames seen
    // Noise floor and frame levels in 1/256ths of log2 of the frame's energy; the
    // floor is the least level of the last blocks of frames and the current one.
    int32_t floor_ = -1;  // -1: not yet known
    std::array<int32_t, 8> block_least_{};
    size_t block_next_ = 0;
    int32_t block_current_ = 0;
    int block_frames_ = 0;
    bool in_stretch_ = false;
    int voiced_run_ = 0;         // voiced frames in a row, before a stretch starts
    int64_t stretch_start_ = 0;  // frame index
    int64_t last_active_ = 0;    // frame index of the stretch's last active frame
    std::vector<TimeSpan> spans_;
};

// The speech spans of a whole recording at once.
std::vector<TimeSpan> detect_speech(std::span<const int16_t> samples);

}  // namespace conv
