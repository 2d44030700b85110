// The rate two syncs give, the fraction arithmetic of the correction, its texts, and
// a film timed at 23.976 against a box at 25 corrected from two syncs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "sub/retime.h"
#include "sub/subtitles.h"
#include "tests/support/store_support.h"
#include "tmr/sync.h"

namespace {

constexpr int kTo25 = 0;      // 23,976 -> 25
constexpr int kTo24 = 2;      // 24 -> 25
constexpr int kTo2997 = 5;    // 25 -> 29,97
constexpr int kNtscDown = 7;  // 23,976 -> 24 (999 / 1000)
constexpr int kPal1001 = 8;   // 1001 -> 1000

TEST(SyncEstimate, TheRuleOnRatesBaselinesAndTolerance) {
    const struct {
        const char* what;
        int64_t dt, df;
        rate_kind kind;
        int standard;
        uint32_t num, den;
    } cases[] = {
        {"23.976 film on a 25 box, 3 min", 180000, 172627, rate_kind::standard, kTo25, 2997, 3125},
        {"the same, 1 ms short of 2 min", 119999, 115083, rate_kind::too_close, -1, 1, 1},
        {"the same at exactly 2 min", 120000, 115085, rate_kind::standard, kTo25, 2997, 3125},
        {"0.28 %: no drift", 180000, 180500, rate_kind::no_drift, -1, 1, 1},
        // 0.6 s is what two syncs can err: 1 explains as well as 1000 / 999 does.
        {"0.30 % over 3 min: as likely no drift", 180000, 180540, rate_kind::no_drift, -1, 1, 1},
        {"0.33 % over 2.5 min: as likely no drift", 150000, 150500, rate_kind::no_drift, -1, 1, 1},
        {"0.1 %, 3 s over 50 min", 3000000, 3003000, rate_kind::standard, kPal1001, 1001, 1000},
        {"0.1 % the other way over 50 min", 3000000, 2997000, rate_kind::standard, kNtscDown, 999,
         1000},
        {"0.1 % over 3 min: too short to tell", 180000, 180180, rate_kind::no_drift, -1, 1, 1},
        {"0.2 % over 1 h: no ratio, under 0.3 %", 3600000, 3607200, rate_kind::no_drift, -1, 1, 1},
        {"1.5 %: no ratio near, measured", 180000, 182700, rate_kind::measured, -1, 203, 200},
        {"10 %: still measured", 180000, 198000, rate_kind::measured, -1, 11, 10},
        {"12 %: beyond", 180000, 201600, rate_kind::beyond, -1, 1, 1},
        {"25 -> 29.97: 17 % off, but a ratio", 180000, 150150, rate_kind::standard, kTo2997, 2500,
         2997},
        {"film went back", 180000, -5000, rate_kind::beyond, -1, 1, 1},
        // 0.9615 lies 0.15 % from 24/25 and 0.25 % from 23.976/25: 2 min tell
        // 0.5 %, so the nearer ratio; an hour tells 0.017 %, so neither.
        {"0.9615 over 2 min", 120000, 115380, rate_kind::standard, kTo24, 24, 25},
        {"0.9615 over 1 h", 3600000, 3461400, rate_kind::measured, -1, 1923, 2000},
        {"0.33 % over 10 min", 600000, 602000, rate_kind::measured, -1, 301, 300},
    };
    for (const auto& c : cases) {
        const sync_point a{60000, 1000000};
        const sync_point b{static_cast<uint32_t>(60000 + c.dt), 1000000 + c.df};
        const rate_estimate e = tmr_sync_estimate(a, b);
        EXPECT_EQ(e.kind, c.kind) << c.what;
        EXPECT_EQ(e.standard, c.standard) << c.what;
        if (c.kind == rate_kind::standard || c.kind == rate_kind::measured) {
            EXPECT_EQ(e.num, c.num) << c.what;
            EXPECT_EQ(e.den, c.den) << c.what;
        }
    }
    // A baseline is measured forwards in subtitle time only.
    EXPECT_EQ(tmr_sync_estimate({300000, 0}, {100000, 200000}).kind, rate_kind::too_close);
}

TEST(SyncFractions, ComposedMapsAndTheirTexts) {
    const time_map to25 = tmr_sync_compose({}, 180000, 2997, 3125);
    EXPECT_EQ(to25, (time_map{7373, 2997, 3125}));
    EXPECT_EQ(sub_map_time(180000, to25), 180000u) << "the synced line stays";
    EXPECT_EQ(sub_map_time(60000, to25), 64915u);
    EXPECT_EQ(sub_map_time(0, {-500, 1, 1}), 0u) << "held at 0";
    EXPECT_EQ(sub_map_time(4294967000u, {1000, 1, 1}), UINT32_MAX) << "held at the top";
    // The way back is the identity, exactly.
    EXPECT_EQ(tmr_sync_compose(to25, 180000, 3125, 2997), (time_map{0, 1, 1}));
    // Terms stay within range however often corrections compound; the rate keeps
    // its value to well within a millisecond over four hours.
    time_map m;
    for (int i = 0; i < 20; ++i) m = tmr_sync_compose(m, 100000, 1000003 + i, 1000000);
    EXPECT_LE(m.num, kMaxTerm);
    EXPECT_LE(m.den, kMaxTerm);
    long double rate = 1;
    for (int i = 0; i < 20; ++i) rate *= (1000003 + i) / 1000000.0L;
    const long double expected = 100000 + (14400000 - 100000) * rate;
    EXPECT_NEAR(static_cast<double>(sub_map_time(14400000, m)), static_cast<double>(expected), 2.0);

    // The restored correction as the viewer knows it: what it moves the line at the
    // current position by, and the rate; the rate alone where that line stays put.
    char text[96];
    const struct {
        time_map map;
        uint32_t own_ms;  // the file's own time of the current line
        const char* text;
    } restored[] = {
        {{2500, 3125, 2997}, 0, "Synchronisatie hersteld: +2,5 s, 25 \x08 23,976"},
        {{-1260, 1, 1}, 3000000, "Synchronisatie hersteld: -1,3 s"},
        // 24 -> 25 synced at 50:10; near there the lines are 2.5 s early, though the
        // map's own shift is -125.4 s: 2950000 * 25 / 24 - 125417 = 2947500.
        {{-125417, 25, 24}, 2950000, "Synchronisatie hersteld: -2,5 s, 25 \x08 24"},
        {{-125417, 25, 24}, 200000, "Synchronisatie hersteld: -117,1 s, 25 \x08 24"},
        {{-125417, 25, 24}, 0, "Synchronisatie hersteld: 25 \x08 24"},  // held at 0
        // The line synced: 180000 * 2997 / 3125 + 7373 = 180000.
        {{7373, 2997, 3125}, 180000, "Synchronisatie hersteld: 23,976 \x08 25"},
        {{40, 203, 200}, 0, "Synchronisatie hersteld: factor 1,0150"},
        {{-100, 1001, 1000}, 3600000, "Synchronisatie hersteld: +3,5 s, 1001 \x08 1000"},
    };
    for (const auto& r : restored) {
        tmr_sync_restored_text(r.map, r.own_ms, text, sizeof text);
        EXPECT_STREQ(text, r.text);
    }
    // Cut to the size given, NUL-terminated.
    tmr_sync_restored_text({-125417, 25, 24}, 2950000, text, 30);
    EXPECT_STREQ(text, "Synchronisatie hersteld: -2,5");
    rate_estimate e;
    e.num = 2997;
    e.den = 3125;
    tmr_sync_question(e, text, sizeof text);
    EXPECT_STREQ(text, "Ondertitels lopen uit: 23,976 \x08 25 toepassen?");
    e.num = 203;
    e.den = 200;
    tmr_sync_question(e, text, sizeof text);
    EXPECT_STREQ(text, "Ondertitels lopen uit: factor 1,0150 toepassen?");
}

// A film at 25 whose subtitles were timed at 23.976: lines every 20 s of film time,
// the file's times 25 / 23.976 of them (in whole 40 ms frames). The viewer syncs at
// the first line and at the tenth, a little late each time; after the correction
// every line after the second sync comes within that lateness of its film time.
// (Three minutes cannot tell 23.976 / 25 from 24 / 25 when the two syncs err 0.3 s
// apart the wrong way: the nearer ratio is proposed, and a third sync refines it.)
class SyncScenario : public testsup::ClockTest {};

TEST_F(SyncScenario, TwoSyncsPutEveryLaterLineOnItsFilmTime) {
    constexpr int kLines = 30;
    auto film_ms = [](int i) { return int64_t{10000} + 20000 * i; };
    std::string file = "[KTF2: " + std::to_string(kLines) + " 0 ]\n";
    for (int i = 0; i < kLines; ++i) {
        const int64_t from = (film_ms(i) * 25000 / 23976 + 20) / 40;
        file += "{" + std::to_string(from) + "}{" + std::to_string(from + 50) + "}Regel " +
                std::to_string(i) + "\n";
    }
    write_sub("drift.tkx", file);
    ASSERT_EQ(tmr_load_subtitles("drift.tkx"), 0);
    const struct {
        int64_t late_a, late_b;  // how late the viewer pressed OK, ms
    } viewers[] = {{0, 0}, {250, 40}, {-100, -50}};
    for (const auto& v : viewers) {
        tmr_apply_map({});
        // The clock is at the line's start when the viewer starts it (the step keys
        // put it there); the film is at the line's time plus the viewer's lateness.
        const sync_point a{subtitles[0].start_ms, film_ms(0) + v.late_a};
        const sync_point b{subtitles[9].start_ms, film_ms(9) + v.late_b};
        const rate_estimate e = tmr_sync_estimate(a, b);
        ASSERT_EQ(e.kind, rate_kind::standard);
        ASSERT_EQ(e.standard, kTo25);
        tmr_apply_map(tmr_sync_compose({}, b.subtitle_ms, e.num, e.den));
        EXPECT_EQ(subtitles[9].start_ms, b.subtitle_ms) << "the line synced stays";
        EXPECT_EQ(last_end_ms, static_cast<int32_t>(subtitles[kLines - 1].end_ms));
        EXPECT_EQ(film_end_ms, subtitles[kLines - 1].end_ms + 10);
        // From the second sync on the clock runs with the film: clock time c shows at
        // film time b.film_ms + (c - b.subtitle_ms).
        std::string figures;
        for (int i = 9; i < kLines; ++i) {
            const int64_t shown = b.film_ms + (int64_t{subtitles[i].start_ms} - b.subtitle_ms);
            const int64_t error = shown - film_ms(i);
            figures += " " + std::to_string(error);
            EXPECT_LE(std::llabs(error - v.late_b), 45) << "line " << i;
            EXPECT_LE(std::llabs(error), 100) << "line " << i;
        }
        std::printf("late %lld/%lld ms: error of lines 9..29 (ms):%s\n",
                    static_cast<long long>(v.late_a), static_cast<long long>(v.late_b),
                    figures.c_str());
    }
}

}  // namespace
