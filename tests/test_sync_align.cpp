// The alignment core: distorted copies of a film aligned back onto it, references
// that do not match refused, the mapping applied, and the limits every input keeps.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "conv/align.h"
#include "conv/convert.h"
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
        // Cues that together last longer than twelve days are no film's.
        {"cues of thirteen days", {{0, 13LL * 24 * 3600 * 1000}}, film},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const conv::Alignment a = conv::align_spans(c.cues, c.reference);
        EXPECT_FALSE(a.reliable);
        EXPECT_TRUE(a.segments.empty());
        EXPECT_EQ(conv::aligned_time(a, 1000, 1234), 1234);
    }
}

// A copy at another frame rate made for a cut with an extra scene: the ratio is
// found and the scene split off, whichever stretch the single offset places (the
// ratio is only looked for near there). Its cues land within 100 ms, or the file is
// refused.
TEST(SyncAlign, ARatioIsFoundBesideAnExtraScene) {
    const std::vector<TimeSpan> film = testsup::film_times(1500, 9);
    const struct {
        int64_t numerator, denominator;
        const char* found;
    } ratios[] = {{25, 24, "24/25"}, {1001, 960, "23.976/25"}, {1001, 1000, "23.976/24"}};
    for (const int64_t scene_ms : {75'000, 180'000, 400'000}) {
        for (const auto& r : ratios) {
            SCOPED_TRACE(std::to_string(scene_ms) + " ms, " + r.found);
            testsup::Distorted copy = testsup::with_extra_scene(film, scene_ms, 4000, 9);
            for (TimeSpan& c : copy.cues) {
                c = {testsup::scale_time(c.start_ms, r.numerator, r.denominator),
                     testsup::scale_time(c.end_ms, r.numerator, r.denominator)};
            }
            const conv::Alignment a = conv::align_spans(copy.cues, film);
            EXPECT_STREQ(a.ratio_name, r.found);
            EXPECT_EQ(a.segments.size(), 2u) << conv::alignment_text(a);
            if (a.reliable) {
                EXPECT_GE(testsup::accuracy_permille(copy, a, 100), 999) << conv::alignment_text(a);
            }
        }
    }
}

// The stop callback is asked between the alignment's steps, often enough to be heard
// within a small part of it, and a stop ends it there: nothing found, nothing moved.
// Never stopped, it finds what it finds without one; a converted file stopped while
// aligned is written as it was, when that is asked for, and refused otherwise.
TEST(SyncAlign, AStopEndsTheAlignmentAtTheNextStep) {
    const std::vector<TimeSpan> film = testsup::film_times(1500, 7);
    const testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[11], 8);
    const conv::Alignment plain = conv::align_spans(copy.cues, film);
    int asked = 0;
    const conv::Alignment heard = conv::align_spans(copy.cues, film, [&] { return ++asked < 0; });
    EXPECT_EQ(conv::alignment_text(heard), conv::alignment_text(plain));
    EXPECT_FALSE(heard.stopped);
    // The single offset, six ratios, fifty windows and a stretch or more.
    EXPECT_GE(asked, 57);
    for (const int stop_at : {1, 2, 7, 30, asked}) {
        SCOPED_TRACE(stop_at);
        int n = 0;
        const conv::Alignment a =
            conv::align_spans(copy.cues, film, [&] { return ++n >= stop_at; });
        EXPECT_EQ(n, stop_at);
        EXPECT_TRUE(a.stopped);
        EXPECT_FALSE(a.reliable);
        EXPECT_TRUE(a.segments.empty());
        EXPECT_EQ(conv::aligned_time(a, 5000, 5000), 5000);
    }

    const std::string srt = testsup::subrip(copy.cues);
    const std::vector<uint8_t> bytes(srt.begin(), srt.end());
    conv::ConvertOptions options;
    options.sync_reference = "film.srt";
    std::string plain_output, output;
    conv::ConvertReport report;
    ASSERT_EQ(conv::convert_subtitles(bytes, {}, plain_output, report), conv::kConvertOk);
    conv::Alignment a;
    ASSERT_EQ(
        conv::convert_aligned(bytes, options, film, true, output, report, a, [] { return true; }),
        conv::kConvertOk);
    EXPECT_TRUE(a.stopped);
    EXPECT_EQ(output, plain_output);
    EXPECT_NE(
        conv::convert_aligned(bytes, options, film, false, output, report, a, [] { return true; }),
        conv::kConvertOk);
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
    a.segments[0].confidence_permille = 958;
    a.segments[1].confidence_permille = 301;
    a.segments[2].confidence_permille = 1000;
    EXPECT_EQ(conv::alignment_text(a),
              "offset -1.500 s, ratio 25/24, 2 splits (+88.500 s, "
              "-0.002 s), score 93 %, confidence 95 % / 30 % / 100 %");
    a.segments.resize(1);
    a.ratio_name = "1";
    a.in_sync = true;
    EXPECT_EQ(conv::alignment_text(a),
              "offset -1.500 s, ratio 1, 0 splits, score 93 %, confidence 95 %, already in sync");
    // A refusal names the stretches nothing supports, unless that is all of them.
    a.segments.push_back({4'000'000, 0, 120});
    a.unsupported = {{3'730'500, 4'100'000}, {5'000'000, 5'001'000}};
    EXPECT_EQ(conv::refusal_text(a),
              "no reliable match for 1:02:10-1:08:20, 1:23:20-1:23:21: left as it was");
    a.segments[0].confidence_permille = 299;
    EXPECT_EQ(conv::refusal_text(a), conv::kNoReliableMatch);
}

// A film whose speech is half buried in noise (most of it missed, false spans from
// the noise), and a copy cut for an extra scene of 75 s before its last quarter: the
// split is found, or the file is refused naming what is not supported; never a
// quarter placed on no evidence. The clean reference must find the split.
TEST(SyncAlign, AnExtraSceneIsSplitOffOrRefused) {
    const struct {
        const char* name;
        int missed_percent, noise_percent;
        bool must_align;
    } references[] = {
        {"clean speech", 0, 0, true},
        {"speech with some noise", 30, 40, true},
        {"speech buried in noise", 70, 40, false},
    };
    for (const auto& r : references) {
        for (const uint64_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE(std::string(r.name) + ", film " + std::to_string(seed));
            const std::vector<TimeSpan> film = testsup::film_times(600, seed);
            const std::vector<TimeSpan> speech =
                testsup::noisy_speech(film, r.missed_percent, r.noise_percent, seed + 100);
            const testsup::Distorted copy = testsup::with_extra_scene(film, 75'000, 4000, seed);
            const conv::Alignment a = conv::align_spans(copy.cues, speech);
            if (r.must_align) {
                EXPECT_TRUE(a.reliable) << conv::refusal_text(a);
            }
            if (a.reliable) {
                EXPECT_GE(testsup::accuracy_permille(copy, a, 200), kLeastAccuracyPermille)
                    << conv::alignment_text(a);
                EXPECT_TRUE(a.unsupported.empty());
                for (const conv::AlignSegment& s : a.segments)
                    EXPECT_GE(s.confidence_permille, conv::kReliablePermille);
            } else {
                EXPECT_FALSE(a.unsupported.empty()) << conv::alignment_text(a);
                EXPECT_NE(conv::refusal_text(a).find("no reliable match for "), std::string::npos);
            }
        }
    }
}

// A file that is already right stays exactly as it was; one off by 300 ms does not.
TEST(SyncAlign, AlreadyInSyncIsLeftExactlyAsItWas) {
    for (const uint64_t seed : {11u, 12u, 13u}) {
        SCOPED_TRACE(seed);
        const std::vector<TimeSpan> film = testsup::film_times(400, seed);
        const struct {
            const char* name;
            std::vector<TimeSpan> reference;
        } references[] = {
            {"subtitles", film},
            {"speech", testsup::noisy_speech(film, 10, 10, seed)},
        };
        for (const auto& r : references) {
            SCOPED_TRACE(r.name);
            for (const int64_t offset : {0, 300}) {
                const testsup::Distortion d{"", 1, 1, offset};
                const testsup::Distorted copy = testsup::distort(film, d, seed);
                const conv::Alignment a = conv::align_spans(copy.cues, r.reference);
                ASSERT_TRUE(a.reliable);
                ASSERT_EQ(a.segments.size(), 1u);
                EXPECT_EQ(a.in_sync, offset == 0) << conv::alignment_text(a);
                if (offset == 0) {
                    EXPECT_EQ(a.segments[0].offset_ms, 0);
                    EXPECT_EQ(conv::aligned_time(a, 5000, 5000), 5000);
                } else {
                    EXPECT_NEAR(a.segments[0].offset_ms, -offset, 100);
                }
            }
        }
    }
}

// Cues that only describe a sound, and cues that are spoken for all their brackets.
TEST(SyncAlign, SoundDescriptionsAreTold) {
    const struct {
        std::vector<const char*> lines;
        bool description;
    } cases[] = {
        {{"[muziek]"}, true},
        {{"[MUSIC]"}, true},
        {{"(deur slaat dicht)"}, true},
        {{"\u266A Kom naar de kust \u266A"}, true},
        {{"\u266B la la la"}, true},       // a song's line left open
        {{"# Kom naar de kust #"}, true},  // music signs in plain ASCII
        {{"- (zucht)", "- [deurbel]"}, true},
        {{"[deur slaat", "dicht]"}, true},  // one description over two lines
        {{"JAN: [lacht]"}, true},           // a label without speech
        {{"\u266A ... \u266A", "\u2026"}, true},
        {{"JOHN: Waar was je?"}, false},  // a speaker's label stays speech
        {{"[fluistert] Kom hier."}, false},
        {{"- [deurbel]", "- Wie is daar?"}, false},
        {{"Zeg: [lacht]"}, false},  // not a label: it has small letters
        {{"\u00C9\u00E9n (twee)"}, false},
        {{"Regel 1"}, false},
        {{""}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.front());
        conv::Cue cue;
        for (const char* line : c.lines) cue.lines.push_back({line, false});
        EXPECT_EQ(conv::is_sound_description(cue), c.description);
    }
}

// A file whose described sounds line up with the reference at another offset than
// its speech (a musical: more sung and described than spoken): the descriptions do
// not pull the placement, and against a plain reference or speech alike.
TEST(SyncAlign, SoundDescriptionsDoNotPullThePlacement) {
    constexpr std::array<const char*, 5> kDescriptions{"[muziek]", "\u266A Kom naar de kust \u266A",
                                                       "(deur slaat dicht)", "[MUSIC]",
                                                       "JAN: [lacht]"};
    const std::vector<TimeSpan> film = testsup::film_times(120, 8);
    // Every other cue spoken 6 s late; every cue's span described 3 s early.
    std::vector<TimeSpan> spoken, described;
    for (size_t i = 0; i < film.size(); ++i) {
        if (i % 2 == 0) spoken.push_back({film[i].start_ms + 6000, film[i].end_ms + 6000});
        described.push_back({film[i].start_ms - 3000, film[i].end_ms - 3000});
    }
    std::string text = testsup::subrip(spoken);
    for (size_t i = 0; i < described.size(); ++i) {
        std::string one = testsup::subrip({described[i]});
        one.replace(one.find("Regel 1"), 7, kDescriptions[i % kDescriptions.size()]);
        text += std::to_string(spoken.size() + i + 1) + one.substr(1);
    }
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    const struct {
        const char* name;
        std::vector<TimeSpan> reference;
    } references[] = {
        {"plain subtitles", film},
        {"speech", testsup::noisy_speech(film, 0, 0, 8)},
    };
    for (const auto& r : references) {
        SCOPED_TRACE(r.name);
        std::string output;
        conv::ConvertReport report;
        conv::Alignment a;
        ASSERT_EQ(conv::convert_aligned(bytes, conv::ConvertOptions{}, r.reference, false, output,
                                        report, a),
                  conv::kConvertOk)
            << report.error;
        ASSERT_EQ(a.segments.size(), 1u) << conv::alignment_text(a);
        EXPECT_NEAR(a.segments[0].offset_ms, -6000, 150) << conv::alignment_text(a);
        EXPECT_EQ(report.cues_read, 180);
    }
}

}  // namespace
