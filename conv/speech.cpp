// The voice-activity detector: energy above a noise floor found by minimum
// statistics (the quietest frame of the last two seconds: the pauses between words
// reach it, a voice that goes on does not raise it), zero crossings to keep hiss and
// rustle from starting a stretch, and hysteresis and a hangover to make phrases of it.
#include "conv/speech.h"

#include <algorithm>
#include <array>
#include <bit>

namespace conv {
namespace {

// Levels are 1/256ths of log2 of a frame's energy: 256 is 3 dB.
constexpr int32_t kLevelOne = 256;
// A stretch starts 9 dB above the floor and carries on while 4.5 dB above it.
constexpr int32_t kStartAbove = 3 * kLevelOne;
constexpr int32_t kCarryOnAbove = 3 * kLevelOne / 2;
// Frames quieter than an RMS of 20 (about -64 dBFS) are never speech, and the floor
// never goes below them: digital silence must not make the first noise a voice.
constexpr uint64_t kQuietestEnergy = uint64_t{kSpeechFrameSamples} * 20 * 20;
// Zero crossings a frame that starts a stretch has at most (a tone of 2.8 kHz): a
// voice's formants cross less often than hiss.
constexpr int kMostVoicedCrossings = 56;
// Voiced frames in a row before a stretch starts (it starts at the first of them).
constexpr int kStartFrames = 3;
// Quiet frames a stretch bridges (a pause between words); it ends at its last
// active frame.
constexpr int64_t kHangoverFrames = 25;
// Stretches shorter than this are knocks and clicks, not speech.
constexpr int64_t kShortestFrames = 12;
// The floor is the least level of blocks of this many frames (the header keeps the
// last few blocks' least levels).
constexpr int kBlockFrames = 25;
// Pre-emphasis: x[n] - 3/4 x[n-1] weakens hum, rumble and the bass of music by 12 dB
// and more, without lifting hiss as much as a stronger one would.
constexpr int32_t kEmphasisSixteenths = 12;
constexpr int64_t kFrameMs = 10;

// log2(energy) in 1/256ths, the fraction taken linearly from the bits below the top.
int32_t level_of(uint64_t energy) {
    if (energy == 0) return 0;
    const int top = 63 - std::countl_zero(energy);
    const uint64_t mantissa = top >= 8 ? energy >> (top - 8) : energy << (8 - top);
    return top * kLevelOne + static_cast<int32_t>(mantissa & 0xFF);
}

const int32_t kQuietestLevel = level_of(kQuietestEnergy);

}  // namespace

void SpeechDetector::push(std::span<const int16_t> samples) {
    while (!samples.empty()) {
        const size_t take =
            std::min(samples.size(), static_cast<size_t>(kSpeechFrameSamples - filled_));
        std::copy_n(samples.begin(), take, frame_ + filled_);
        filled_ += static_cast<int>(take);
        samples = samples.subspan(take);
        if (filled_ == kSpeechFrameSamples) {
            frame();
            filled_ = 0;
        }
    }
}

void SpeechDetector::frame() {
    uint64_t energy = 0;
    int crossings = 0;
    int32_t before = previous_;
    for (int i = 0; i < kSpeechFrameSamples; ++i) {
        const int32_t x = frame_[i];
        const int64_t emphasised = x - before * kEmphasisSixteenths / 16;
        energy += static_cast<uint64_t>(emphasised * emphasised);
        crossings += (x < 0) != (before < 0);
        before = x;
    }
    previous_ = frame_[kSpeechFrameSamples - 1];
    const int32_t level = level_of(energy);
    const int32_t floor_level = std::max(level, kQuietestLevel);

    // The floor: the least level of the last blocks and of the block being filled.
    // The first frame stands for the past: a film opens on quiet or music far more
    // often than on a voice, which is then missed only until a quieter moment.
    if (floor_ < 0) {
        block_least_.fill(floor_level);
        block_current_ = floor_level;
    }
    block_current_ = std::min(block_current_, floor_level);
    if (++block_frames_ == kBlockFrames) {
        block_least_[block_next_] = block_current_;
        block_next_ = (block_next_ + 1) % block_least_.size();
        block_current_ = floor_level;
        block_frames_ = 0;
    }
    floor_ = block_current_;
    for (const int32_t least : block_least_) floor_ = std::min(floor_, least);

    const bool loud = energy >= kQuietestEnergy;
    const bool voiced = loud && level >= floor_ + kStartAbove && crossings <= kMostVoicedCrossings;
    const int64_t index = frames_++;
    if (in_stretch_) {
        if (loud && level >= floor_ + kCarryOnAbove) {
            last_active_ = index;
        } else if (index - last_active_ > kHangoverFrames) {
            close_stretch();
        }
        return;
    }
    voiced_run_ = voiced ? voiced_run_ + 1 : 0;
    if (voiced_run_ >= kStartFrames) {
        in_stretch_ = true;
        stretch_start_ = index - (kStartFrames - 1);
        last_active_ = index;
        voiced_run_ = 0;
    }
}

void SpeechDetector::close_stretch() {
    in_stretch_ = false;
    const int64_t end = last_active_ + 1;
    if (end - stretch_start_ >= kShortestFrames)
        spans_.push_back({stretch_start_ * kFrameMs, end * kFrameMs});
}

std::vector<TimeSpan> SpeechDetector::finish() {
    if (in_stretch_) close_stretch();
    return std::move(spans_);
}

std::vector<TimeSpan> detect_speech(std::span<const int16_t> samples) {
    SpeechDetector detector;
    detector.push(samples);
    return detector.finish();
}

}  // namespace conv
