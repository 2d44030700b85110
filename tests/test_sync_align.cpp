// The alignment core: distorted copies of a film aligned back onto it, references
// that do not match refused, the mapping applied, and the limits every input keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conv/align.h"
#include "tests/support/sync_samples.h"

namespace {

using conv::TimeSpan;

// The benchmark keeps the figures; these bounds fail when the aligner is broken.
constexpr int kLeastAccuracyPermille = 980;

TEST(SyncAlign, DistortedCopiesGoBackWhereTheyBelong) {
    for (const uint64_t seed : {7u, 1234u}) {
        const std::vector<TimeSpan> film = testsup::film_times(1500, seed);
        for (const testsup::Distortion& d : testsup::kDistortions) {
            SCOPED_TRACE(std::string(d.name) + ", film " + std::to_string(seed));
            const testsup::Distorted copy = testsup::distort(film, d, seed + 1);
            const conv::Alignment a = conv::align_spans(copy.cues, film);
            EXPECT_TRUE(a.reliable) << a.confidence_permille;
            EXPECT_STREQ(a.ratio_name, d.ratio_found);
            EXPECT_EQ(a.segments.size(), d.breaks ? 3u : 1u) << conv::alignment_text(a);
            EXPECT_GE(testsup::accuracy_permille(copy, a, 100), kLeastAccuracyPermille)
                << conv::alignment_text(a);
            EXPECT_LE(a.matched_ms, a.cue_ms);
        }
    }
}

TEST(SyncAlign, ShortFilesFindTheirOffset) {
    // Twenty cues are too few for windows of their own; a hundred make a few. Short
    // files stand out less, so only their placement is held to the mark.
    for (const int cues : {20, 100}) {
        for (const uint64_t seed : {3u, 4u, 5u}) {
            SCOPED_TRACE(std::to_string(cues) + " cues, film " + std::to_string(seed));
            const std::vector<TimeSpan> film = testsup::film_times(cues, seed);
            const testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[1], seed);
            const conv::Alignment a = conv::align_spans(copy.cues, film);
            EXPECT_EQ(testsup::accuracy_permille(copy, a, 100), 1000) << conv::alignment_text(a);
            if (cues == 100) {
                EXPECT_TRUE(a.reliable) << a.confidence_permille;
            }
        }
    }
}

TEST(SyncAlign, NoMatchIsRefused) {
    const std::vector<TimeSpan> film = testsup::film_times(1500, 7);
    std::vector<TimeSpan> scattered;
    testsup::Random random(5);
    for (int i = 0; i < 1500; ++i) {
        const int64_t start = random.between(0, 7'200'000);
        scattered.push_back({start, start + random.between(900, 4800)});
    }
    // Beyond the offset limit: the one placement that would fit is not searched.
    std::vector<TimeSpan> far_off = film;
    for (TimeSpan& s : far_off) s = {s.start_ms + 11 * 60'000, s.end_ms + 11 * 60'000};
    const struct {
        const char* name;
        std::vector<TimeSpan> cues;
    } cases[] = {
        {"another film", testsup::film_times(1500, 99)},
        {"cues scattered at random", scattered},
        {"eleven minutes off", far_off},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const conv::Alignment a = conv::align_spans(c.cues, film);
        EXPECT_FALSE(a.reliable) << a.confidence_permille << " " << conv::alignment_text(a);
        EXPECT_LT(a.confidence_permille, conv::kReliablePermille);
    }
}

TEST(SyncAlign, NothingToAlignGivesNoSegments) {
    const std::vector<TimeSpan> film = testsup::film_times(50, 1);
    const std::vector<TimeSpan> backwards = {{5000, 4000}, {7000, 7000}};
    const struct {
        const char* name;
        std::vector<TimeSpan> cues, reference;
    } cases[] = {
        {"no cues", {}, film},
        {"no reference", film, {}},
        {"only empty or backward cues", backwards, film},
        {"only empty or backward reference", film, backwards},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const conv::Alignment a = conv::align_spans(c.cues, c.reference);
        EXPECT_FALSE(a.reliable);
        EXPECT_TRUE(a.segments.empty());
        EXPECT_EQ(conv::aligned_time(a, 1000, 1234), 1234);
    }
}

TEST(SyncAlign, RandomInputStaysWithinItsLimits) {
    testsup::Random random(77);
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        std::vector<TimeSpan> cues, reference;
        const int64_t reach = random.between(1, 4) == 1 ? 20'000 : 30'000'000;
        for (int64_t n = random.between(0, 60); n > 0; --n) {
            const int64_t start = random.between(-reach, reach);
            cues.push_back({start, start + random.between(-1000, 10'000)});
        }
        for (int64_t n = random.between(0, 300); n > 0; --n) {
            const int64_t start = random.between(-reach, reach);
            reference.push_back({start, start + random.between(-1000, 10'000)});
        }
        const conv::Alignment a = conv::align_spans(cues, reference);
        EXPECT_LE(a.matched_ms, a.cue_ms);
        EXPECT_GE(a.confidence_permille, 0);
        EXPECT_LE(a.confidence_permille, 1000);
        for (size_t i = 0; i < a.segments.size(); ++i) {
            EXPECT_LE(std::abs(a.segments[i].offset_ms), conv::kMaxOffsetMs);
            if (i > 0) {
                EXPECT_LT(a.segments[i - 1].from_ms, a.segments[i].from_ms);
            }
        }
        // No cue moves further than the offset limit beyond what the ratio does.
        for (const TimeSpan& c : cues) {
            const int64_t moved = conv::aligned_time(a, c.start_ms, c.start_ms);
            const int64_t ratio_only =
                testsup::scale_time(c.start_ms, a.ratio_numerator, a.ratio_denominator);
            if (c.start_ms >= 0) {
                EXPECT_LE(std::abs(moved - ratio_only), conv::kMaxOffsetMs);
            }
        }
    }
}

TEST(SyncAlign, MappingAndItsSummary) {
    conv::Alignment a;
    a.ratio_numerator = 25;
    a.ratio_denominator = 24;
    a.ratio_name = "25/24";
    a.segments = {{1000, -1500}, {60'000, 88'500}, {120'000, -2}};
    a.matched_ms = 935;
    a.cue_ms = 1000;
    const struct {
        int64_t cue_start, time, expected;
    } times[] = {
        {0, 0, -1500},                // before the first segment: the first one's offset
        {1000, 2400, 1000},           // 2400 * 25/24 = 2500
        {59'999, 60'000, 61'000},     // the cue's start decides, not the time
        {60'000, 60'000, 151'000},    // 62500 + 88500
        {120'000, 120'001, 124'999},  // 125001.04 rounded, less 2
    };
    for (const auto& t : times) {
        SCOPED_TRACE(t.cue_start);
        EXPECT_EQ(conv::aligned_time(a, t.cue_start, t.time), t.expected);
    }
    std::vector<conv::Cue> cues(2);
    cues[0].start_ms = 60'000;
    cues[0].end_ms = 61'200;
    cues[1].start_ms = 59'000;
    cues[1].end_ms = 60'000;
    conv::apply_alignment(a, cues);
    EXPECT_EQ(cues[0].start_ms, 151'000);
    EXPECT_EQ(cues[0].end_ms, 152'250);
    EXPECT_EQ(cues[1].start_ms, 59'958);  // 61458.33 - 1500
    EXPECT_EQ(cues[1].end_ms, 61'000);
    EXPECT_EQ(conv::alignment_text(a),
              "offset -1.500 s, ratio 25/24, 2 splits (+88.500 s, -0.002 s), score 93 %");
    a.segments.resize(1);
    a.ratio_name = "1";
    EXPECT_EQ(conv::alignment_text(a), "offset -1.500 s, ratio 1, 0 splits, score 93 %");
}

}  // namespace
