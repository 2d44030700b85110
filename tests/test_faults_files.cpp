// File system faults under the running program: opening, reading, listing,
// linking, removing and renaming fail at the worst moments, and each gives the
// error box, the diagnostic or the silent fallback the player has for it, with the
// program going on (or ending) cleanly: no descriptor left open, the settings file
// always a whole record.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/settings.h"
#include "fb/painter.h"
#include "fb/screen.h"
#include "menu/window.h"
#include "rc/remote.h"
#include "sim/model.h"
#include "sub/subtitles.h"
#include "tests/support/hardening_support.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSubtitleDirPath = "/var/tuxbox/Tresk/tit/";
constexpr const char* kConf = "/var/tuxbox/Tresk/tresk.conf";
constexpr const char* kLink = "/var/tuxbox/Tresk/tit/tresk.qst";

// A film whose first line names it.
std::string film(const std::string& name, int lines = 2) {
    std::string s = "[KTF2: " + std::to_string(lines) + " 0 ]\n";
    for (int i = 0; i < lines; ++i) {
        s += "{" + std::to_string(100 * i + 25) + "}{" + std::to_string(100 * i + 75) + "}" + name +
             "\n";
    }
    return s;
}

std::string record(int8_t zoom, int8_t background_level, int32_t position) {
    stored_settings n{zoom, background_level, 1, 2, position, 0, 0};
    return std::string(reinterpret_cast<const char*>(&n), sizeof n);
}

class FileFaults : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    bool running = false;

    void SetUp() override {
        root.write_subtitles("a.tkx", film("a"));
        root.write_subtitles("b.tkx", film("b"));
        root.write_subtitles("tresk.tkx", film("special"));
        fs::create_symlink("a.tkx", root.host(kLink));
        testsup::setup_box(root, {.xres = 720, .yres = 576});
        sim::set_sleep_scale(0);
        // Each case is a new process as far as the player's state goes.
        saved_settings = stored_settings{1, 0, 0, 0, 0, 0, 0};
        last_code = 352;
    }
    void TearDown() override {
        sim::clear_faults();
        if (running) app_shutdown(0);
        EXPECT_EQ(sim::open_descriptors(), 0);
    }

    // Starts the program; true when it runs (the main loop would follow).
    bool start() {
        running = app_start() == -1;
        // The remote's power-on guard against a first OK is not what is tested here.
        last_code = 0;
        return running;
    }
    // Runs passes until the typed keys are used up and nothing is pending; false
    // when the program ended on the way.
    bool run(testsup::typed_keys& keys, int extra_passes = 4) {
        int after = 0;
        while (after < extra_passes) {
            if (app_pass() >= 0) {
                running = false;
                return false;
            }
            if (keys.done() && sim::input_pending(0) == 0) ++after;
        }
        return true;
    }
    static std::string first_line() {
        const subtitle* t = subtitles;
        return t != nullptr && subtitle_count > 0 ? t[0].lines[0].get() : "<none>";
    }
    std::string link() const {
        std::error_code ec;
        auto t = fs::read_symlink(root.host(kLink), ec);
        return ec ? "<none>" : t.string();
    }
    std::string conf() const { return root.read(kConf); }
};

TEST_F(FileFaults, RememberedFileThatCannotBeOpenedFallsBackToTheSpecialFileSilently) {
    sim::fail_call("fopen", EACCES, 1, "tit/tresk.qst");
    std::string out = testsup::capture_output([&] { ASSERT_TRUE(start()); });
    EXPECT_EQ(first_line(), "special");
    EXPECT_EQ(out.find("ERROR"), std::string::npos);
    EXPECT_EQ(sim::faults_injected(), 1);
}

TEST_F(FileFaults, RememberedFileWithAReadErrorFallsBackToo) {
    // The header arrives, the first subtitle line does not.
    sim::fail_call("fread", EIO, 1, "tit/tresk.qst", 13);
    ASSERT_TRUE(start());
    EXPECT_EQ(first_line(), "special");
}

TEST_F(FileFaults, NothingLoadableAtStartOpensTheMenuAndLeavingItEnds) {
    // Display choices as without a file: the later cases of this process see them.
    const stored_settings stored{1, 1, 0, 0, 5, 0, 0};
    const std::string bytes(reinterpret_cast<const char*>(&stored), sizeof stored);
    root.write(kConf, bytes);
    sim::fail_call("fopen", EIO, 2, "/tit/");
    ASSERT_TRUE(start());
    EXPECT_EQ(subtitles.load(), nullptr);
    testsup::typed_keys keys({KEY_EXIT});
    EXPECT_FALSE(run(keys));
    ASSERT_EQ(keys.seen().size(), 1u);
    EXPECT_TRUE(keys.seen()[0].list);
    // Leaving without subtitles keeps the stored resume position.
    EXPECT_EQ(conf(), bytes);
}

TEST_F(FileFaults, MenuWithAnUnreadableDirectoryShowsErrorElevenAndKeepsTheFilm) {
    ASSERT_TRUE(start());
    const subtitle* before = subtitles;
    // Opened twice: the drop-in conversion's pass, then the listing.
    sim::fail_call("opendir", EACCES, 2, "/tit/");
    testsup::typed_keys keys({KEY_MENU, KEY_OK});
    ASSERT_TRUE(run(keys));
    ASSERT_EQ(keys.seen().size(), 2u);
    EXPECT_EQ(keys.seen()[1].error_box, menu_error_width(11));
    EXPECT_EQ(subtitles.load(), before);
    EXPECT_EQ(first_line(), "a");
    EXPECT_FALSE(keys.stuck());
}

TEST_F(FileFaults, ChosenFileThatCannotBeOpenedShowsErrorTwoThenTheListAgain) {
    ASSERT_TRUE(start());
    sim::fail_call("fopen", ENOENT, 1, "tit/b.tkx");
    // List (a, b, tresk): DOWN, OK on b; the error box; the list again: OK on a.
    testsup::typed_keys keys({KEY_MENU, KEY_DOWN, KEY_OK, KEY_OK, KEY_OK});
    ASSERT_TRUE(run(keys));
    auto seen = keys.seen();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_TRUE(seen[1].list);
    EXPECT_EQ(seen[3].error_box, menu_error_width(2));
    EXPECT_TRUE(seen[4].list);
    EXPECT_EQ(first_line(), "a");
    EXPECT_EQ(link(), "a.tkx");
}

TEST_F(FileFaults, ChosenFileThatFailsToLoadKeepsTheFilmWhenTheViewerLeaves) {
    ASSERT_TRUE(start());
    sim::fail_call("fopen", ENOENT, 1, "tit/b.tkx");
    // b fails with its own error box, the list comes back, EXIT leaves it: the old
    // film plays on and the program runs.
    testsup::typed_keys keys({KEY_MENU, KEY_DOWN, KEY_OK, KEY_OK, KEY_EXIT});
    EXPECT_TRUE(run(keys));
    auto seen = keys.seen();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[3].error_box, menu_error_width(2));
    EXPECT_TRUE(seen[4].list);
    EXPECT_EQ(first_line(), "a");
    EXPECT_EQ(link(), "a.tkx");
}

TEST_F(FileFaults, ReadErrorsWhileLoadingGiveErrorTenOrNine) {
    ASSERT_TRUE(start());
    // Nothing at all can be read: error 10. The header but no subtitle line: error 9.
    sim::fail_call("fread", EIO, 1, "tit/b.tkx", 0);
    sim::fail_call("fread", EIO, 1, "tit/tresk.tkx", 13);
    testsup::typed_keys keys(
        {KEY_MENU, KEY_DOWN, KEY_OK, KEY_OK, KEY_DOWN, KEY_DOWN, KEY_OK, KEY_OK, KEY_OK});
    ASSERT_TRUE(run(keys));
    auto seen = keys.seen();
    ASSERT_EQ(seen.size(), 9u);
    EXPECT_EQ(seen[3].error_box, menu_error_width(10));
    EXPECT_EQ(seen[7].error_box, menu_error_width(9));
    EXPECT_EQ(first_line(), "a");
    EXPECT_EQ(sim::faults_injected(), 2);
}

TEST_F(FileFaults, LinkThatCannotBeMadeIsIgnoredAndTheFilmPlays) {
    ASSERT_TRUE(start());
    sim::fail_call("symlink", EROFS, 1, "tresk.qst");
    testsup::typed_keys keys({KEY_MENU, KEY_DOWN, KEY_OK});
    ASSERT_TRUE(run(keys));
    for (const auto& s : keys.seen()) EXPECT_EQ(s.error_box, 0);
    EXPECT_EQ(first_line(), "b");
    // The old link went before the new one failed.
    EXPECT_EQ(link(), "<none>");
}

TEST_F(FileFaults, OldLinkThatCannotBeRemovedStaysAndTheFilmPlays) {
    ASSERT_TRUE(start());
    sim::fail_call("unlink", EBUSY, 1, "tresk.qst");
    testsup::typed_keys keys({KEY_MENU, KEY_DOWN, KEY_OK});
    ASSERT_TRUE(run(keys));
    EXPECT_EQ(first_line(), "b");
    EXPECT_EQ(link(), "a.tkx");
}

TEST_F(FileFaults, MarkedFilesThatCannotBeRemovedStayListed) {
    root.write_subtitles("c.tkx", film("c"));
    ASSERT_TRUE(start());
    sim::fail_call("unlink", EPERM, 1, "tit/a.tkx");
    // Looked at twice: for the source it names, then to remove it.
    sim::fail_call("lstat", EIO, 2, "tit/c.tkx");
    // List a, b, c, tresk: mark a, b and c, confirm, yes; b alone goes.
    testsup::typed_keys keys(
        {KEY_MENU, KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_OK, KEY_OK, KEY_EXIT});
    ASSERT_TRUE(run(keys));
    EXPECT_TRUE(root.exists(std::string(kSubtitleDirPath) + "a.tkx"));
    EXPECT_FALSE(root.exists(std::string(kSubtitleDirPath) + "b.tkx"));
    EXPECT_TRUE(root.exists(std::string(kSubtitleDirPath) + "c.tkx"));
    auto seen = keys.seen();
    ASSERT_EQ(seen.size(), 9u);
    EXPECT_TRUE(seen[8].list);
    for (const auto& s : seen) EXPECT_EQ(s.error_box, 0);
    EXPECT_FALSE(keys.stuck());
}

TEST_F(FileFaults, SpecialFileThatCannotBeStatedIsNotOffered) {
    ASSERT_TRUE(start());
    sim::fail_call("stat", EIO, 1, "tit/tresk.tkx");
    // Without the special file YELLOW does nothing in the list; EXIT leaves it.
    testsup::typed_keys keys({KEY_MENU, KEY_YELLOW, KEY_EXIT});
    ASSERT_TRUE(run(keys));
    auto seen = keys.seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[2].list);
    EXPECT_EQ(first_line(), "a");
    EXPECT_EQ(sim::faults_injected(), 1);
}

TEST_F(FileFaults, SettingsThatCannotBeReadGiveTheDefaults) {
    root.write(kConf, record(3, 2, 0));
    sim::fail_call("fopen", EACCES, 1, "tresk.conf");
    ASSERT_TRUE(start());
    EXPECT_EQ(zoom, 1);
    EXPECT_EQ(background_level, 1);
    app_shutdown(0);
    running = false;
    // The defaults differ from the file, so leaving stores them.
    EXPECT_EQ(conf(), std::string("\x01\x01", 2) + std::string(14, '\0'));
}

TEST_F(FileFaults, SettingsCutShortByAReadErrorGiveTheDefaults) {
    root.write(kConf, record(3, 2, 0));
    sim::fail_call("fread", EIO, 1, "tresk.conf", 8);
    ASSERT_TRUE(start());
    EXPECT_EQ(zoom, 1);
    EXPECT_EQ(saved_settings.position, 0);
}

// Each failure on the way to the new settings file loses the new values and leaves
// the old file whole, with no temporary file left behind.
class SettingsWriteFaults : public FileFaults, public ::testing::WithParamInterface<const char*> {};

TEST_P(SettingsWriteFaults, LeaveTheOldFileWhole) {
    const std::string old = record(3, 2, 0);
    root.write(kConf, old);
    ASSERT_TRUE(start());
    ASSERT_EQ(zoom, 3);
    sim::fail_call(GetParam(), EIO, 1, GetParam() == std::string("fsync") ? "" : "tresk.conf");
    testsup::typed_keys keys({KEY_RED, KEY_EXIT, KEY_OK});
    EXPECT_FALSE(run(keys));
    EXPECT_EQ(sim::faults_injected(), 1);
    EXPECT_EQ(conf(), old);
    EXPECT_FALSE(root.exists("/var/tuxbox/Tresk/tresk.conf.new"));
}

INSTANTIATE_TEST_SUITE_P(Calls, SettingsWriteFaults, ::testing::Values("fopen", "fsync", "rename"));

TEST_F(FileFaults, FontThatCannotBeOpenedEndsWithStatusOneAndTouchesNothing) {
    root.write(kConf, record(3, 2, 7));
    sim::fail_call("fopen", EACCES, 1, "Tresk.ttf");
    int r = 0;
    std::string out = testsup::capture_output([&] { r = app_start(); });
    EXPECT_EQ(r, 1);
    EXPECT_NE(out.find("Tresk.ttf"), std::string::npos);
    EXPECT_EQ(conf(), record(3, 2, 7));
    EXPECT_FALSE(sim::framebuffer().mapped);
}

}  // namespace
