// The main loop: start-up, every row of the key table with its guard and its
// help-box rule, the exit prompt, and the roads out of the program.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/app.h"
#include "app/settings.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "menu/menus.h"
#include "rc/remote.h"
#include "sim/model.h"
#include "sub/subtitles.h"
#include "tests/support/feeder.h"
#include "tests/support/support.h"
#include "tmr/clock.h"
#include "tmr/time_entry.h"

namespace {

constexpr const char* kFilm =
    "[KTF2: 6 0 ]\n"
    "{25}{75}First|line two\n"         // 1000 .. 3000 ms
    "{100}{150}Second\n"               // 4000 .. 6000
    "{200}{250}Third\n"                // 8000 .. 10000
    "{300}{350}Fourth\n"               // 12000 .. 14000
    "{400}{450}Fifth\n"                // 16000 .. 18000
    "{500}{550}Sixth\n";               // 20000 .. 22000

std::string record(std::array<uint8_t, 4> bytes, int32_t position) {
    std::string s(16, '\0');
    std::memcpy(s.data(), bytes.data(), 4);
    std::memcpy(s.data() + 4, &position, 4);
    return s;
}

class MainLoop : public ::testing::Test {
protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    bool ended = false;

    void TearDown() override {
        if (!ended) app_shutdown(0);
    }

    // A box with the film as the remembered file, optionally with settings.
    void start(const std::string& settings = "") {
        root.write_subtitles("film.tkx", kFilm);
        std::filesystem::create_symlink("film.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
        if (!settings.empty()) root.write("/var/tuxbox/Tresk/tresk.conf", settings);
        testsup::setup_box(root, {.xres = 720, .yres = 576});
        ASSERT_EQ(app_start(), -1);
        ASSERT_NE(subtitles.load(), nullptr);
    }

    // Runs passes until every pending record has been read; returns the exit
    // status if the program ended.
    int drain_passes() {
        int r = -1;
        for (int i = 0; i < 100 && r < 0; ++i) {
            if (sim::input_pending(0) == 0 && i > 0) break;
            r = app_pass();
        }
        if (r >= 0) ended = true;
        return r;
    }

    int key(int code) {
        testsup::press(code);
        return drain_passes();
    }

    // The clock stands at the start of subtitle i and the thread has shown it,
    // which moves the index one past it.
    void expect_at(int32_t i) {
        const uint32_t starts[] = {1000, 4000, 8000, 12000, 16000, 20000};
        EXPECT_TRUE(testsup::wait_until([&] { return current_index == i + 1; }))
            << "index " << current_index << ", expected " << i + 1;
        EXPECT_EQ(clock_ms, starts[i]);
    }

    // OK until the clock runs: the first OK after start-up is not a press
    // until some release has been seen.
    void run_clock() {
        for (int i = 0; i < 2 && clock_running == 0; ++i) key(KEY_OK);
        ASSERT_EQ(clock_running, 1);
    }
};

TEST_F(MainLoop, FirstStartShowsTheStartMessageAndHelpPageOne) {
    start();
    EXPECT_EQ(clock_running, 0);
    EXPECT_EQ(help_countdown, 300);
    EXPECT_EQ(help_page, 1);
    EXPECT_EQ(status_countdown, 100);
}

TEST_F(MainLoop, StoredPositionResumesThereWithoutHelp) {
    start(record({1, 1, 0, 0}, 3));
    EXPECT_EQ(help_countdown, -1);
    expect_at(3);
    EXPECT_EQ(clock_running, 0);
}

TEST_F(MainLoop, StoredPositionBeyondTheFilmStartsAtTheFirstSubtitle) {
    start(record({1, 1, 0, 0}, 99));
    expect_at(0);
}

TEST_F(MainLoop, OkStartsAndStopsTheClockAndClosesHelp) {
    start();
    ASSERT_EQ(help_countdown, 300);
    key(KEY_OK);
    // The very first OK after start-up counts only once a release was seen: the
    // press above was followed by its release, so press again.
    if (clock_running == 0) key(KEY_OK);
    EXPECT_EQ(clock_running, 1);
    EXPECT_EQ(help_countdown, -1);
    EXPECT_GT(status_countdown, 95) << "the icons are redrawn and counted down from 100";
    key(KEY_OK);
    EXPECT_EQ(clock_running, 0);
}

TEST_F(MainLoop, OkAfterTheEndOfTheFilmOnlyClosesHelp) {
    start();
    film_ended = 1;
    key(KEY_OK);
    key(KEY_OK);
    EXPECT_EQ(clock_running, 0);
    EXPECT_EQ(help_countdown, -1);
}

TEST_F(MainLoop, ArrowsStepByTheClockState) {
    start(record({1, 1, 0, 0}, 4));
    expect_at(4);
    key(KEY_RIGHT);  // the subtitle at the current position: the next one not yet shown
    expect_at(5);
    key(KEY_LEFT);  // stopped: -2, the one before the one last shown
    expect_at(4);
    key(KEY_UP);  // +9, clamped to the last subtitle
    expect_at(5);
    key(KEY_DOWN);  // stopped: -11, clamped to 0
    expect_at(0);
    run_clock();
    key(KEY_LEFT);  // running: -1, the one last shown again
    EXPECT_EQ(clock_running, 0);
    expect_at(0);
}

TEST_F(MainLoop, DigitsEnterATime) {
    start();
    for (int code : {KEY_0, KEY_0, KEY_0, KEY_0}) key(code);
    EXPECT_EQ(entry_place, 0);
    key(KEY_9);  // 0:00:09 lies inside the third subtitle
    EXPECT_EQ(entry_place, -1);
    expect_at(2);
}

TEST_F(MainLoop, ChannelKeysShiftHalfASecondAndRun) {
    start(record({1, 1, 0, 0}, 2));
    expect_at(2);
    auto t0 = std::chrono::steady_clock::now();
    key(KEY_CHANNELDOWN);
    EXPECT_EQ(clock_running, 1);
    key(KEY_OK);
    auto ran = std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(clock_running, 0);
    EXPECT_GE(clock_ms, 7500u);
    EXPECT_LE(clock_ms, 7500u + static_cast<uint32_t>(ran) + 20);
    key(KEY_CHANNELUP);
    EXPECT_EQ(clock_running, 1) << "a shift leaves the clock running";
}

TEST_F(MainLoop, VolumeKeysMoveTheBand) {
    start();
    int32_t l = static_cast<int32_t>(fb_fix.line_length);
    key(KEY_VOLUMEDOWN);
    EXPECT_EQ(bottom_shift, 0) << "down from the unshifted bottom position does nothing";
    key(KEY_VOLUMEUP);
    EXPECT_EQ(bottom_shift, 5 * l);
    key(KEY_VOLUMEDOWN);
    EXPECT_EQ(bottom_shift, 0);
}

TEST_F(MainLoop, VideoTogglesTheInset) {
    start();
    key(KEY_VIDEO);
    EXPECT_EQ(inset_on, 1);
    EXPECT_EQ(sy, 82);
    EXPECT_EQ(ey, 494);
    key(KEY_VIDEO);
    EXPECT_EQ(inset_on, 0);
    EXPECT_EQ(sy, 50);
    EXPECT_EQ(ey, 526);
}

TEST_F(MainLoop, ColourKeysRestyleAndCloseHelp) {
    start();
    ASSERT_GT(help_countdown, 0);
    key(KEY_GREEN);
    EXPECT_EQ(palette_index, 1);
    EXPECT_EQ(help_countdown, -1) << "a handled key closes an open help page";
    key(KEY_YELLOW);
    EXPECT_EQ(colour_scheme, 1);
    key(KEY_RED);
    EXPECT_EQ(zoom, 2);
    key(KEY_BLUE);
    EXPECT_EQ(background_level, 2);
}

TEST_F(MainLoop, RedAndBlueAreRefusedWhileTheThreadPaints) {
    start();
    painting = 1;
    key(KEY_RED);
    key(KEY_BLUE);
    painting = 0;
    EXPECT_EQ(zoom, 1);
    EXPECT_EQ(background_level, 1);
    EXPECT_EQ(help_countdown, -1) << "a refused key still closes help";
}

TEST_F(MainLoop, HelpKeyPagesWhileStoppedAndOnlyClosesWhileRunning) {
    start();
    ASSERT_EQ(help_page, 1);
    key(KEY_HELP);
    EXPECT_EQ(help_page, 2);
    EXPECT_GT(help_countdown, 295);
    key(KEY_HELP);
    EXPECT_EQ(help_countdown, -1);
    key(KEY_HELP);
    EXPECT_EQ(help_page, 1);
    run_clock();
    key(KEY_HELP);
    EXPECT_EQ(help_countdown, -1);
    key(KEY_HELP);
    EXPECT_EQ(help_countdown, -1) << "nothing opens while the clock runs";
}

TEST_F(MainLoop, UnknownKeyLeavesHelpOpen) {
    start();
    key(KEY_A);
    EXPECT_GT(help_countdown, 0);
}

TEST_F(MainLoop, HelpClosesByItselfAfterItsCountdown) {
    start();
    for (int i = 0; i < 300 && help_countdown > 0; ++i) app_pass();
    EXPECT_EQ(help_countdown, -1);
}

TEST_F(MainLoop, StatusLineCountsDownOnlyWhileTheClockRuns) {
    start();
    for (int i = 0; i < 150; ++i) app_pass();
    EXPECT_EQ(status_countdown, 100) << "stays while stopped";
    run_clock();
    for (int i = 0; i < 150 && status_countdown >= 0; ++i) app_pass();
    EXPECT_EQ(status_countdown, -1);
}

TEST_F(MainLoop, MenuStopsTheClockAndLoadsTheOnlyFile) {
    start();
    run_clock();
    key(KEY_MENU);
    EXPECT_EQ(clock_running, 0);
    EXPECT_NE(subtitles.load(), nullptr);
    EXPECT_EQ(current_index, 0) << "the reload reset the clock";
}

TEST_F(MainLoop, TvOpensTheRateMenuAndResyncsTheClock) {
    start(record({1, 1, 0, 0}, 2));
    expect_at(2);
    testsup::key_feeder answer({KEY_EXIT});
    testsup::press(KEY_TV);
    drain_passes();
    ASSERT_TRUE(testsup::wait_until([&] { return answer.done(); }));
    EXPECT_EQ(clock_running, 0);
    // A cancelled menu leaves the times and puts the clock at the subtitle at the index.
    expect_at(3);
}

class ExitPrompt : public MainLoop {
protected:
    // EXIT, then the answer once the prompt has drained the keys.
    int answer(int code) {
        testsup::key_feeder feeder({code});
        testsup::press(KEY_EXIT);
        int r = -1;
        for (int i = 0; i < 20 && r < 0 && !feeder.done(); ++i) r = app_pass();
        testsup::wait_until([&] { return feeder.done(); });
        if (r < 0) r = drain_passes();
        if (r >= 0) ended = true;
        return r;
    }
};

TEST_F(ExitPrompt, ExitAgainCancels) {
    start();
    EXPECT_EQ(answer(KEY_EXIT), -1);
    EXPECT_EQ(quit_requested, 0);
    EXPECT_EQ(status_countdown, -1) << "the prompt is cleared";
    EXPECT_GT(help_countdown, 0) << "cancelling leaves the help page open";
}

TEST_F(ExitPrompt, OkClosesWithoutSaving) {
    start(record({1, 1, 0, 0}, 3));
    EXPECT_EQ(answer(KEY_OK), 0);
    EXPECT_EQ(save_on_exit, 0);
    EXPECT_EQ(root.read("/var/tuxbox/Tresk/tresk.conf"), record({1, 1, 0, 0}, 0));
}

TEST_F(ExitPrompt, YellowSavesThePosition) {
    start(record({1, 1, 0, 0}, 3));
    expect_at(3);
    EXPECT_EQ(answer(KEY_YELLOW), 0);
    EXPECT_EQ(save_on_exit, 1);
    // The thread showed subtitle 3 at once (the clock stands at its start), so
    // the current index is one past it.
    std::string conf = root.read("/var/tuxbox/Tresk/tresk.conf");
    ASSERT_EQ(conf.size(), 16u);
    int32_t position;
    std::memcpy(&position, conf.data() + 4, 4);
    EXPECT_EQ(position, 4);
}

class Roads : public ::testing::Test {
protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    // A new process as far as the record goes: these roads may keep its position.
    void SetUp() override { saved_settings = stored_settings{1, 0, 0, 0, 0, 0, 0}; }
};

TEST_F(Roads, NoFramebufferEndsWithStatusOne) {
    testsup::setup_box(root, {.present = false});
    int r = 0;
    std::string out = testsup::capture_output([&] { r = app_main(); });
    EXPECT_EQ(r, 1);
    EXPECT_NE(out.find("Nelze otevrit!"), std::string::npos) << out;
    EXPECT_FALSE(root.exists("/var/tuxbox/Tresk/tresk.conf"));
}

TEST_F(Roads, MissingFontEndsWithStatusOneAndLeavesTheSettings) {
    testsup::box_root bare{""};
    testsup::setup_box(bare, {.xres = 720, .yres = 576});
    int r = 0;
    testsup::capture_output([&] { r = app_main(); });
    EXPECT_EQ(r, 1);
    EXPECT_FALSE(bare.exists("/var/tuxbox/Tresk/tresk.conf"));
}

TEST_F(Roads, NoRemoteEndsWithStatusOneAfterWritingTheSettings) {
    testsup::setup_box(root, {.xres = 720, .yres = 576}, 0);
    int r = 0;
    std::string out = testsup::capture_output([&] { r = app_main(); });
    EXPECT_EQ(r, 1);
    EXPECT_NE(out.find("rc_init: No RC?"), std::string::npos) << out;
    EXPECT_EQ(root.read("/var/tuxbox/Tresk/tresk.conf"), record({1, 1, 0, 0}, 0));
    EXPECT_EQ(sim::open_descriptors(), 0);
}

TEST_F(Roads, NoSubtitleDirectoryShowsErrorElevenAndEndsWithZero) {
    testsup::box_root nodir{testsup::dejavu_condensed(), false};
    testsup::setup_box(nodir, {.xres = 720, .yres = 576});
    ASSERT_EQ(app_start(), -1);
    // Not OK: the first OK after start-up is swallowed until a release was seen.
    testsup::key_feeder dismiss({KEY_EXIT});
    int r = -1;
    for (int i = 0; i < 10 && r < 0; ++i) r = app_pass();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(nodir.read("/var/tuxbox/Tresk/tresk.conf"), record({1, 1, 0, 0}, 0));
}

}  // namespace
