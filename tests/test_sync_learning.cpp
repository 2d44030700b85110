// The player learning the drift from the viewer's syncs without a decoder (the
// monotonic clock is the film's), and a remembered correction restored at start-up.
#include <gtest/gtest.h>
#include <linux/input.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "fb/status.h"
#include "hw/device.h"
#include "sim/model.h"
#include "sub/retime.h"
#include "sub/subtitles.h"
#include "tests/support/support.h"
#include "tmr/clock.h"
#include "tmr/sync.h"

namespace {

// Lines every 20 s of film time from 10 s on; the file's times are 25 / 23.976 of
// them in whole 40 ms frames: a file timed at 23.976 against a film at 25.
constexpr int kLines = 30;
int64_t film_ms(int i) {
    return int64_t{10000} + 20000 * i;
}
std::string drifting_file() {
    std::string file = "[KTF2: " + std::to_string(kLines) + " 0 ]\n";
    for (int i = 0; i < kLines; ++i) {
        const int64_t from = (film_ms(i) * 25000 / 23976 + 20) / 40;
        file += "{" + std::to_string(from) + "}{" + std::to_string(from + 50) + "}Regel " +
                std::to_string(i) + "\n";
    }
    return file;
}

int64_t mono_ms() {
    timespec ts{};
    hw_clock_gettime_mono(&ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

class SyncLearning : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    bool started = false;

    void TearDown() override {
        if (started) app_shutdown(0);
    }
    // The player started as on the box, on film.tkx, without a decoder.
    void start(const std::string& settings = "") {
        root.write_subtitles("film.tkx", drifting_file());
        std::filesystem::create_symlink("film.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
        if (!settings.empty()) root.write("/var/tuxbox/Tresk/tresk.conf", settings);
        testsup::setup_box(root, {.xres = 720, .yres = 576});
        ASSERT_EQ(app_start(), -1);
        started = true;
        ASSERT_NE(subtitles.load(), nullptr);
    }
    // A key through the main loop, as the remote gives it.
    void key(int code) {
        testsup::press(code);
        for (int i = 0; i < 100; ++i) {
            if (sim::input_pending(0) == 0 && i > 0) break;
            app_pass();
        }
    }
};

// Without a decoder a sync's film time is the monotonic clock's. OK at line 0 is
// sync A; what happens before the viewer's sync B 3 minutes of film later decides:
// a plain pause (OK, OK without moving the clock) forgets A, any other start keeps
// the earliest sync, and then 23,976 -> 25 is proposed and puts every later line
// within 100 ms of its film time.
TEST_F(SyncLearning, WithoutADecoderSyncsByOkGiveTheRateUnlessThePlayerWasPaused) {
    start();
    for (int i = 0; i < 2 && clock_running == 0; ++i) key(KEY_OK);  // past the power-on guard
    key(KEY_OK);
    ASSERT_EQ(clock_running, 0);
    const struct {
        const char* what;
        bool pause;       // OK to stop and OK to start again
        bool moved_back;  // the clock put back on line 0 in between
        bool proposed;
    } cases[] = {
        {"A, then B", false, false, true},
        {"a plain pause between", true, false, false},
        {"stopped, put back on the line, started", true, true, true},
    };
    for (const auto& c : cases) {
        tmr_sync_reset({});
        tmr_apply_map({});
        tmr_go_to_subtitle(0);
        const uint32_t line0 = subtitles[0].start_ms;
        ASSERT_EQ(clock_ms, line0);
        const int64_t before = mono_ms();
        key(KEY_OK);  // sync A: line 0 is spoken now
        ASSERT_EQ(clock_running, 1) << c.what;
        if (c.pause) {
            ASSERT_TRUE(testsup::wait_until([&] { return clock_ms > line0 + 20; })) << c.what;
            key(KEY_OK);
            ASSERT_EQ(clock_running, 0) << c.what;
            if (c.moved_back) tmr_go_to_subtitle(0);
            key(KEY_OK);
            ASSERT_EQ(clock_running, 1) << c.what;
        }
        // Sync B: 3 minutes of film later the viewer starts the clock at line 9.
        const sync_point b{subtitles[9].start_ms, before + (film_ms(9) - film_ms(0))};
        const rate_estimate e = tmr_sync_record(b);
        if (!c.proposed) {
            EXPECT_EQ(e.kind, rate_kind::no_drift) << c.what;
            // B is the new baseline: 3 minutes on, the drift is seen again from it.
            const sync_point later{subtitles[18].start_ms, b.film_ms + (film_ms(18) - film_ms(9))};
            EXPECT_EQ(tmr_sync_record(later).kind, rate_kind::standard) << c.what;
            continue;
        }
        ASSERT_EQ(e.kind, rate_kind::standard) << c.what;
        EXPECT_EQ(e.num, 2997u);
        EXPECT_EQ(e.den, 3125u);
        tmr_sync_apply(e);
        EXPECT_EQ(subtitles[9].start_ms, b.subtitle_ms) << "the line synced stays";
        EXPECT_EQ(tmr_sync_applied(), tmr_sync_compose({}, b.subtitle_ms, 2997, 3125));
        EXPECT_EQ(last_end_ms, static_cast<int32_t>(subtitles[kLines - 1].end_ms));
        // The clock runs with the monotonic clock from B: line i shows at film time
        // b.film_ms + (its start - b.subtitle_ms); A was taken at `before` or a
        // little after, so the viewer's sync A counts as that much late.
        std::string figures;
        for (int i = 9; i < kLines; ++i) {
            const int64_t shown = b.film_ms + (int64_t{subtitles[i].start_ms} - b.subtitle_ms);
            const int64_t error = shown - (before + film_ms(i) - film_ms(0));
            figures += " " + std::to_string(error);
            EXPECT_LE(std::llabs(error), 100) << c.what << ", line " << i;
        }
        std::printf("%s: error of lines 9..29 (ms):%s\n", c.what, figures.c_str());
    }
}

// Every standard ratio, either way, is proposed once the syncs tell it from no
// correction, however close to 1 it is. Sync A, then B 3 minutes of subtitle time
// later: the ratios within 0.1 % of 1 move the film 0.18 s, less than two syncs can
// err, so nothing is proposed yet and A stays the baseline; C 50 minutes after A
// (3 s of drift for those) brings the proposal.
TEST(SyncLearningRates, EachStandardRateIsProposedOnceTheBaselineTellsItFromNone) {
    const struct {
        const char* label;
        bool after_3_min;
    } expected[kStandardRateCount] = {
        {"23,976 \x08 25", true},  {"25 \x08 23,976", true},  {"24 \x08 25", true},
        {"25 \x08 24", true},      {"29,97 \x08 25", true},   {"25 \x08 29,97", true},
        {"24 \x08 23,976", false}, {"23,976 \x08 24", false}, {"1001 \x08 1000", false},
        {"1000 \x08 1001", false},
    };
    constexpr uint32_t kA = 60000;
    for (size_t i = 0; i < kStandardRateCount; ++i) {
        const standard_rate& s = kStandardRates[i];
        EXPECT_STREQ(s.label, expected[i].label);
        // The film's time at subtitle time t, the film running num / den as fast.
        auto sync_at = [&](uint32_t t) {
            return sync_point{t, 5000000 + (int64_t{t - kA} * s.num + s.den / 2) / s.den};
        };
        tmr_sync_reset({});
        EXPECT_EQ(tmr_sync_record(sync_at(kA)).kind, rate_kind::no_drift) << s.label;
        const rate_estimate b = tmr_sync_record(sync_at(kA + 180000));
        const rate_estimate c = tmr_sync_record(sync_at(kA + 3000000));
        EXPECT_EQ(b.kind, expected[i].after_3_min ? rate_kind::standard : rate_kind::no_drift)
            << s.label;
        EXPECT_EQ(c.kind, rate_kind::standard) << s.label;
        EXPECT_EQ(c.standard, static_cast<int>(i)) << s.label;
        EXPECT_EQ(c.num, s.num) << s.label;
        EXPECT_EQ(c.den, s.den) << s.label;
        char question[96];
        tmr_sync_question(c, question, sizeof question);
        EXPECT_EQ(std::string(question),
                  std::string("Ondertitels lopen uit: ") + expected[i].label + " toepassen?");
    }
}

// A file remembered with a correction and loaded at start-up: the correction is on
// the records at once, the settings' resume position stands, and the status line
// says what was restored. The correction is 23,976 -> 25 synced at line 25 (own time
// 531.8 s): its map moves the file's times by +21.8 s at 0, but the line the player
// resumes at, 24, by less than a second: 510920 * 2997 / 3125 + 21783 = 511776.
TEST_F(SyncLearning, ARememberedFileLoadedAtStartUpGetsItsCorrectionAndTheStatusText) {
    const std::string file = drifting_file();
    root.write("/var/tuxbox/Tresk/tresk.sync",
               "lumetra-sync 1\n" + std::to_string(file.size()) +
                   " 21783 2997 3125 20 film.tkx\n99 -700 1 1 3 ander.tkx\n");
    // Settings: resume at line 24.
    std::string settings(16, '\0');
    settings[0] = settings[1] = 1;
    settings[4] = 24;
    start(settings);
    const time_map map{21783, 2997, 3125};
    ASSERT_EQ(subtitles[24].own_start, 510920u);
    ASSERT_EQ(subtitles[25].own_start, 531800u);
    EXPECT_EQ(tmr_sync_applied(), map);
    for (int i : {0, 24, kLines - 1}) {
        EXPECT_EQ(subtitles[i].start_ms, sub_map_time(subtitles[i].own_start, map)) << i;
        EXPECT_EQ(subtitles[i].end_ms, sub_map_time(subtitles[i].own_end, map)) << i;
    }
    EXPECT_EQ(last_end_ms, static_cast<int32_t>(subtitles[kLines - 1].end_ms));
    EXPECT_EQ(clock_ms, subtitles[24].start_ms)
        << "the settings' resume position, not the memory's";
    EXPECT_EQ(clock_running, 0);
    // The status line shows the restore text: drawing it again changes no pixel of
    // the strip, and drawing the resume time instead would.
    auto strip = [] {
        std::vector<uint32_t> px;
        for (int y = 50; y < 82; ++y) {
            for (int x = 40; x < 600; ++x) px.push_back(testsup::pixel(x, y));
        }
        return px;
    };
    const std::vector<uint32_t> shown = strip();
    fb_show_time(subtitles[24].start_ms);
    ASSERT_NE(strip(), shown) << "the resume time looks different";
    fb_show_status("Synchronisatie hersteld: +0,9 s, 23,976 \x08 25");
    EXPECT_EQ(strip(), shown);
}

}  // namespace
