// The voice-activity detector: energy above a noise floor found by minimum
// statistics (the quietest frame of the last two seconds: the pauses between words
// reach it, a voice that goes on does not raise it), zero crossings to keep hiss and
// rustle from starting a stretch, a spectrum of each frame (an integer FFT) whose
// bands must rise over what the background keeps reaching in them, so that music and
// noise under the dialogue are not taken for it, and hysteresis and a hangover to make
// phrases of it.
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

// The sine of x (radians) by its Taylor series, for the tables below: computed while
// compiling, so the detector itself runs on integers alone.
constexpr double taylor_sin(double x) {
    constexpr double kPi = 3.14159265358979323846;
    while (x > kPi) x -= 2 * kPi;
    while (x < -kPi) x += 2 * kPi;
    double term = x, sum = x;
    for (int n = 1; n < 12; ++n) {
        term *= -x * x / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

// The quietest a band's level counts as (hiss of an RMS of about 20 in a band of four
// bins): digital silence must not make the first sound stand out in every band.
const int32_t kBandQuietest = level_of(uint64_t{1} << 17);
// A band's background is the level it exceeds in 30 % of the last two seconds: not
// its quietest moments, as for the broadband floor, but what music or a crowd keeps
// reaching there between its beats, chord changes and pauses. A voice in a band comes
// and goes with its formants and syllables and rarely holds one for longer.
constexpr int kBackgroundRank = SpeechDetector::kHistory * 7 / 10;
// A frame starts a stretch when 4 bands stand 7.5 dB over their background, and
// carries one on while 3 stand 6 dB over it: a voice spreads over many bands at once,
// a held note or a melody over one or two, and struck chords rise less than that over
// what they keep reaching between the strokes.
constexpr int32_t kBandStartAbove = 5 * kLevelOne / 2;
constexpr int32_t kBandCarryOnAbove = 2 * kLevelOne;
constexpr int kStartBands = 4;
constexpr int kCarryOnBands = 3;

constexpr int kWindow = SpeechDetector::kWindow;
constexpr int kBands = SpeechDetector::kBands;
constexpr int kHistory = SpeechDetector::kHistory;

// Hann window and the FFT's twiddles (cos, sin of -2 pi k / kWindow), in 1/32768ths.
constexpr std::array<int32_t, kWindow> kHann = [] {
    std::array<int32_t, kWindow> w{};
    constexpr double kPi = 3.14159265358979323846;
    for (int i = 0; i < kWindow; ++i) {
        const double s = taylor_sin(kPi * (i + 0.5) / kWindow);
        w[i] = static_cast<int32_t>(32767 * s * s + 0.5);
    }
    return w;
}();
constexpr std::array<int32_t, kWindow / 2> kCos = [] {
    std::array<int32_t, kWindow / 2> c{};
    constexpr double kPi = 3.14159265358979323846;
    for (int k = 0; k < kWindow / 2; ++k) {
        const double v = taylor_sin(kPi / 2 - 2 * kPi * k / kWindow);
        c[k] = static_cast<int32_t>(v * 32767 + (v < 0 ? -0.5 : 0.5));
    }
    return c;
}();
constexpr std::array<int32_t, kWindow / 2> kSin = [] {
    std::array<int32_t, kWindow / 2> c{};
    constexpr double kPi = 3.14159265358979323846;
    for (int k = 0; k < kWindow / 2; ++k) {
        const double v = -taylor_sin(2 * kPi * k / kWindow);
        c[k] = static_cast<int32_t>(v * 32767 + (v < 0 ? -0.5 : 0.5));
    }
    return c;
}();

// The bands' first bins (62.5 Hz each), and the end of the last: about a third of an
// octave each, 250 Hz to 5 kHz.
constexpr std::array<int, kBands + 1> kBandEdges{4,  5,  6,  8,  10, 12, 15, 18, 22,
                                                 26, 31, 37, 44, 52, 61, 70, 80};

// In place, radix 2: at most 256 * 32768 in magnitude, so int32 holds every stage.
void fft(std::array<int32_t, kWindow>& re, std::array<int32_t, kWindow>& im) {
    for (int i = 1, j = 0; i < kWindow; ++i) {
        int bit = kWindow >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j |= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (int half = 1; half < kWindow; half <<= 1) {
        const int step = kWindow / (2 * half);
        for (int start = 0; start < kWindow; start += 2 * half) {
            for (int k = 0; k < half; ++k) {
                const int64_t c = kCos[k * step], s = kSin[k * step];
                const int a = start + k, b = a + half;
                const auto tr = static_cast<int32_t>((re[b] * c - im[b] * s) >> 15);
                const auto ti = static_cast<int32_t>((re[b] * s + im[b] * c) >> 15);
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

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

void SpeechDetector::band_levels(int& start_bands, int& carry_on_bands) {
    std::array<int32_t, kWindow> re{}, im{};
    constexpr int kTail = kWindow - kSpeechFrameSamples;
    for (int i = 0; i < kTail; ++i) re[i] = tail_[i] * kHann[i] >> 15;
    for (int i = 0; i < kSpeechFrameSamples; ++i)
        re[kTail + i] = frame_[i] * kHann[kTail + i] >> 15;
    static_assert(kTail <= kSpeechFrameSamples);
    std::copy(frame_ + kSpeechFrameSamples - kTail, frame_ + kSpeechFrameSamples, tail_.begin());
    fft(re, im);
    const bool first = frames_ == 0;
    // Within a stretch the bands' history takes one frame in four: a phrase that holds
    // a band is not taken for its background before it ends, while a sound mistaken
    // for speech still becomes background within seconds.
    const bool keep = !in_stretch_ || frames_ % 4 == 0;
    const bool refresh = first || frames_ % 10 == 0;
    start_bands = carry_on_bands = 0;
    for (int b = 0; b < kBands; ++b) {
        uint64_t energy = 0;
        for (int k = kBandEdges[b]; k < kBandEdges[b + 1]; ++k)
            energy += static_cast<uint64_t>(int64_t{re[k]} * re[k] + int64_t{im[k]} * im[k]);
        // Below the quietest a band counts, a band's level is that.
        const int32_t level = std::max(level_of(energy), kBandQuietest);
        auto& history = history_[b];
        if (first) history.fill(static_cast<int16_t>(level));
        if (keep) history[history_next_] = static_cast<int16_t>(level);
        if (refresh) {
            std::array<int16_t, kHistory> sorted = history;
            std::nth_element(sorted.begin(), sorted.begin() + kBackgroundRank, sorted.end());
            background_[b] = sorted[kBackgroundRank];
        }
        start_bands += level >= background_[b] + kBandStartAbove;
        carry_on_bands += level >= background_[b] + kBandCarryOnAbove;
    }
    if (keep) history_next_ = (history_next_ + 1) % kHistory;
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

    int start_bands = 0, carry_on_bands = 0;
    band_levels(start_bands, carry_on_bands);
    const bool loud = energy >= kQuietestEnergy;
    const bool voiced = loud && level >= floor_ + kStartAbove &&
                        crossings <= kMostVoicedCrossings && start_bands >= kStartBands;
    const int64_t index = frames_++;
    if (in_stretch_) {
        if (loud && level >= floor_ + kCarryOnAbove && carry_on_bands >= kCarryOnBands) {
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
