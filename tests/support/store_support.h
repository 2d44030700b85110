// Fixtures for the subtitle store and the playback clock: a box root with subtitle
// files, the simulated display brought up as main does, and loading into the store
// as the player does at start-up.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "sim/model.h"
#include "sub/subtitles.h"
#include "tests/support/support.h"
#include "tmr/clock.h"

namespace testsup {

inline constexpr const char* kSubtitleDir = "/var/tuxbox/Tresk/tit/";

// A box root and the model over it, without a display.
class StoreTest : public ::testing::Test {
  protected:
    box_root root{dejavu_condensed()};

    void SetUp() override {
        setup_box(root);
        sub_error = 0;
    }
    void TearDown() override {
        std::lock_guard lock(subtitles_mutex);
        sub_release_second();
        sub_release(subtitles_owner, subtitle_count);
        subtitles = nullptr;
    }

    void write_sub(const std::string& name, std::string_view content) {
        root.write_subtitles(name, content);
    }
    // Loads a file of the subtitle directory without installing it.
    std::unique_ptr<subtitle[]> load(const std::string& name, std::string_view content) {
        write_sub(name, content);
        return sub_load_file((std::string(kSubtitleDir) + name).c_str());
    }
    // Loads a file and installs it as the player's subtitles.
    bool install(const std::string& name, std::string_view content) {
        auto records = load(name, content);
        std::lock_guard lock(subtitles_mutex);
        subtitles_owner = std::move(records);
        subtitles = subtitles_owner.get();
        return subtitles_owner != nullptr;
    }
};

// The same with the display up (the clock draws its state and time on the status line).
class ClockTest : public StoreTest {
  protected:
    bool thread_started = false;

    void SetUp() override {
        StoreTest::SetUp();
        clock_running = 0;
        film_ended = 0;
        current_index = 0;
        clock_ms = 0;
        ASSERT_EQ(open_display(), 1);
    }
    void TearDown() override {
        if (thread_started) tmr_sub_deinit();
        StoreTest::TearDown();
        close_display();
    }
    // Starts the subtitle thread as main does, loading what the link names.
    void start_thread() {
        ASSERT_EQ(tmr_sub_init(), 0);
        thread_started = true;
    }
};

}  // namespace testsup
