// The alignment fed arbitrary cue lists and references: the first byte says how
// many of the spans that follow are cues, each span is a start and a length read from
// the bytes at a scale the second byte chooses. Whatever it finds keeps its limits:
// offsets within ten minutes, segments in order, a score no larger than the cues'
// time, a confidence in thousandths, and no cue moved further than the offset limit
// beyond what the ratio does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "conv/align.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t cue_count = data[0];
    // Scales from ms to tens of seconds, so that inputs reach films' lengths.
    const int64_t scale = int64_t{1} << (data[1] % 16);
    std::vector<conv::TimeSpan> cues, reference;
    for (size_t at = 2; at + 4 <= size; at += 4) {
        const int64_t start = (static_cast<int16_t>(data[at] | data[at + 1] << 8)) * scale;
        const int64_t length = (static_cast<int8_t>(data[at + 2]) * 256 + data[at + 3]) * 4;
        (cues.size() < cue_count ? cues : reference).push_back({start, start + length});
    }
    const conv::Alignment a = conv::align_spans(cues, reference);
    FUZZ_CHECK(a.matched_ms <= a.cue_ms);
    FUZZ_CHECK(a.confidence_permille >= 0 && a.confidence_permille <= 1000);
    FUZZ_CHECK(!a.reliable || !a.segments.empty());
    FUZZ_CHECK(a.ratio_denominator > 0 && a.ratio_numerator > 0);
    for (size_t i = 0; i < a.segments.size(); ++i) {
        FUZZ_CHECK(std::llabs(a.segments[i].offset_ms) <= conv::kMaxOffsetMs);
        if (i > 0) FUZZ_CHECK(a.segments[i - 1].from_ms < a.segments[i].from_ms);
    }
    for (const conv::TimeSpan& c : cues) {
        const int64_t moved = conv::aligned_time(a, c.start_ms, c.start_ms);
        const int64_t unmoved =
            conv::aligned_time(conv::Alignment{.ratio_numerator = a.ratio_numerator,
                                               .ratio_denominator = a.ratio_denominator,
                                               .segments = {{0, 0}}},
                               c.start_ms, c.start_ms);
        FUZZ_CHECK(std::llabs(moved - unmoved) <= conv::kMaxOffsetMs);
    }
    return 0;
}
