// Device faults under the whole program: a framebuffer whose open, ioctls or mmap
// fail, remote controls that cannot be opened or named, and remotes whose reads
// come short or fail. Start-up failures end with status 1 and their diagnostic,
// nothing left open or mapped; read faults are no key, and the program goes on.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>

#include "app/app.h"
#include "app/settings.h"
#include "fb/glyph.h"
#include "menu/menus.h"
#include "menu/window.h"
#include "rc/remote.h"
#include "sim/model.h"
#include "sub/subtitles.h"
#include "tests/support/hardening_support.h"
#include "tests/support/support.h"
#include "tmr/clock.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kConf = "/var/tuxbox/Tresk/tresk.conf";

class DeviceFaults : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    bool running = false;

    void SetUp() override {
        root.write_subtitles("a.tkx", "[KTF2: 2 0 ]\n{25}{75}a\n{100}{150}b\n");
        fs::create_symlink("a.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
        saved_settings = stored_settings{1, 0, 0, 0, 0, 0, 0};
    }
    void TearDown() override {
        sim::clear_faults();
        if (running) app_shutdown(0);
        EXPECT_EQ(sim::open_descriptors(), 0);
        EXPECT_FALSE(sim::framebuffer().mapped);
    }
    // A box with these devices; returns app_start's result and its output. arm runs
    // just before the start, with the model set up.
    int start(sim::fb_config fb, std::vector<sim::input_config> inputs, std::string& out,
              const std::function<void()>& arm = {}) {
        sim::reset();
        sim::set_root(root.path());
        sim::set_framebuffer(fb);
        for (const auto& in : inputs) sim::add_input(in);
        sim::set_sleep_scale(0);
        if (arm) arm();
        int r = 0;
        out = testsup::capture_output([&] { r = app_start(); });
        running = r == -1;
        last_code = 0;
        return r;
    }
    static sim::fb_config box_fb() { return {.xres = 720, .yres = 576}; }
    static sim::input_config remote(std::string name = "dreambox remote control") {
        sim::input_config c;
        c.name = std::move(name);
        return c;
    }
};

struct fb_fault {
    const char* name;
    sim::fb_config cfg;
    const char* diagnostic;
};

class FramebufferFaults : public DeviceFaults, public ::testing::WithParamInterface<fb_fault> {};

TEST_P(FramebufferFaults, EndTheProgramWithStatusOneAndTheirDiagnostic) {
    std::string out;
    EXPECT_EQ(start(GetParam().cfg, {remote()}, out), 1);
    EXPECT_NE(out.find(GetParam().diagnostic), std::string::npos) << out;
    // The settings are neither read into use nor written.
    EXPECT_FALSE(root.exists(kConf));
    // Nor is the font engine left set up, holding the font file open.
    EXPECT_EQ(ft_lib, nullptr);
}

sim::fb_config with(void (*set)(sim::fb_config&)) {
    sim::fb_config c{.xres = 720, .yres = 576};
    set(c);
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    All, FramebufferFaults,
    ::testing::Values(
        fb_fault{"absent", with([](sim::fb_config& c) { c.present = false; }), "Nelze otevrit!"},
        fb_fault{"open", with([](sim::fb_config& c) { c.fail_open = true; }), "Nelze otevrit!"},
        fb_fault{"fscreeninfo", with([](sim::fb_config& c) { c.fail_fscreeninfo = true; }),
                 "fb_init: FBIOGET_FSCREENINFO"},
        fb_fault{"vscreeninfo", with([](sim::fb_config& c) { c.fail_vscreeninfo = true; }),
                 "FBIOGET_VSCREENINFO"},
        fb_fault{"put", with([](sim::fb_config& c) { c.fail_put = true; }), "FBIOPUT_VSCREENINFO"},
        fb_fault{"mmap", with([](sim::fb_config& c) { c.fail_mmap = true; }), "fb_init: mmap!"},
        fb_fault{"too_small", with([](sim::fb_config& c) { c.smem_len = 4096; }),
                 "FBIOPUT_VSCREENINFO"},
        fb_fault{"depth_8_only", with([](sim::fb_config& c) {
                     c.bits_per_pixel = 8;
                     c.refuse_depth = true;
                 }),
                 "fb_init: 8 bits per pixel, 32 refused"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceFaults, RemoteThatCannotBeOpenedEndsWithStatusOneAfterStoringTheSettings) {
    auto in = remote();
    in.fail_open = true;
    std::string out;
    EXPECT_EQ(start(box_fb(), {in}, out), 1);
    EXPECT_NE(out.find("rc_init: open"), std::string::npos) << out;
    // The record is written: the transparency level in force differs from the record.
    EXPECT_EQ(root.read(kConf).size(), 16u);
}

// A start that fails, and an end because no subtitles could be loaded, are not the
// viewer's close: the stored position stays, and a display choice that differs from
// the file (the refused zoom byte 9 gives zoom 1) is still written.
TEST_F(DeviceFaults, FailedStartsAndEndsWithoutSubtitlesKeepTheStoredPosition) {
    auto record = [](int8_t zoom) { return stored_settings{zoom, 1, 0, 0, 3, 0, 0}; };
    enum road { no_remote, late_thread, nothing_loadable };
    for (road road : {no_remote, late_thread, nothing_loadable}) {
        const stored_settings stored = record(9);
        root.write(kConf, std::string(reinterpret_cast<const char*>(&stored), sizeof stored));
        if (road == nothing_loadable) root.write_subtitles("a.tkx", "not a subtitle file at all\n");
        // A thread that never reports in time fails the start with error box 6.
        std::promise<void> gate;
        std::unique_ptr<testsup::typed_keys> keys;
        auto arm = [&] {
            if (road == late_thread) {
                sim::set_thread_hook([opened = gate.get_future().share()] { opened.wait(); });
            }
            // The error box (6 or 9), then the list of the one unloadable file.
            if (road != no_remote) {
                keys = std::make_unique<testsup::typed_keys>(std::vector<int>{KEY_EXIT, KEY_EXIT});
            }
        };
        std::string out;
        std::vector<sim::input_config> inputs;
        if (road != no_remote) inputs.push_back(remote());
        int r = start(box_fb(), inputs, out, arm);
        for (int passes = 0; r < 0 && passes < 100000; ++passes) r = app_pass();
        running = false;
        EXPECT_EQ(r, road == no_remote ? 1 : 0) << road;
        if (road == no_remote) {
            EXPECT_NE(out.find("rc_init: No RC?"), std::string::npos) << out;
        } else {
            const auto seen = keys->seen();
            ASSERT_GE(seen.size(), 1u) << road;
            EXPECT_EQ(seen[0].error_box, menu_error_width(road == late_thread ? 6 : 9)) << road;
        }
        gate.set_value();
        EXPECT_TRUE(testsup::wait_until([] { return sim::threads_running() == 0; }));
        const stored_settings written = record(1);
        EXPECT_EQ(root.read(kConf),
                  std::string(reinterpret_cast<const char*>(&written), sizeof written))
            << road;
    }
}

TEST_F(DeviceFaults, RemoteWhoseNameCannotBeReadIsNoRemote) {
    auto in = remote();
    in.fail_name = true;
    std::string out;
    EXPECT_EQ(start(box_fb(), {in}, out), 1);
    EXPECT_NE(out.find("rc_init: EVIOCGNAME"), std::string::npos) << out;
    EXPECT_NE(out.find("rc_init: No RC?"), std::string::npos) << out;
}

TEST_F(DeviceFaults, FailingFirstRemoteLeavesTheSecondInCharge) {
    auto broken = remote("remote control one");
    broken.read_errors = true;
    std::string out;
    ASSERT_EQ(start(box_fb(), {broken, remote("remote control two")}, out), -1);
    // Play, then leave through the exit prompt, all on the second remote.
    testsup::typed_keys keys({KEY_OK, KEY_EXIT, KEY_OK}, 1);
    int passes = 0;
    int r = -1;
    while (r < 0 && passes < 100000) {
        r = app_pass();
        ++passes;
    }
    running = r < 0;
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(keys.done());
}

TEST_F(DeviceFaults, ShortReadsAreNoKeyAndTheLoopRunsOn) {
    auto in = remote();
    in.short_reads = true;
    std::string out;
    ASSERT_EQ(start(box_fb(), {in}, out), -1);
    ASSERT_GT(help_countdown, 0);
    // Keys sent now come in halves: none reaches the player, and the help box closes
    // by its own countdown.
    for (int i = 0; i < 20; ++i) testsup::press(KEY_EXIT);
    for (int i = 0; i < 400; ++i) ASSERT_EQ(app_pass(), -1);
    EXPECT_EQ(help_countdown, -1);
    EXPECT_EQ(quit_requested, 0);
}

TEST_F(DeviceFaults, PassingReadErrorsLoseNoLaterKey) {
    std::string out;
    ASSERT_EQ(start(box_fb(), {remote()}, out), -1);
    sim::fail_call("read", EIO, 5, "/dev/input/event0");
    testsup::typed_keys keys({KEY_OK});
    for (int i = 0; i < 50 && !(keys.done() && sim::input_pending(0) == 0); ++i) {
        ASSERT_EQ(app_pass(), -1);
    }
    EXPECT_TRUE(keys.done());
    EXPECT_EQ(sim::faults_injected(), 5);
    EXPECT_EQ(clock_running, 1);
}

}  // namespace
