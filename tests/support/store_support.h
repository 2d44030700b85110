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

inline constexpr const char* kTitDir = "/var/tuxbox/Tresk/tit/";

// A box root and the model over it, without a display.
class StoreTest : public ::testing::Test {
  protected:
    box_root root{dejavu_condensed()};

    void SetUp() override {
        setup_box(root);
        sub_chyba = 0;
    }
    void TearDown() override {
        std::lock_guard zamek(sub_zamek);
        sub_uvolni(titulky_pamet, pocet_titulku);
        titulky = nullptr;
    }

    void write_sub(const std::string& name, std::string_view content) {
        root.write_subtitles(name, content);
    }
    // Loads a file of the subtitle directory without installing it.
    std::unique_ptr<titulek[]> load(const std::string& name, std::string_view content) {
        write_sub(name, content);
        return sub_nacti_titulky((std::string(kTitDir) + name).c_str());
    }
    // Loads a file and installs it as the player's subtitles.
    bool install(const std::string& name, std::string_view content) {
        auto pole = load(name, content);
        std::lock_guard zamek(sub_zamek);
        titulky_pamet = std::move(pole);
        titulky = titulky_pamet.get();
        return titulky_pamet != nullptr;
    }
};

// The same with the display up (the clock draws its state and time on the status line).
class ClockTest : public StoreTest {
  protected:
    bool thread_started = false;

    void SetUp() override {
        StoreTest::SetUp();
        bezi_timer = 0;
        konec_filmu = 0;
        akt_poz = 0;
        akt_cas = 0;
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
