// The web page's commands and state on the main thread: uploads converted and
// followed, choosing and deleting as the file menu does, commands refused while a box
// waits for a key and carried out inside the file menu's list, the page's keys, the
// status line as the page reads it and the pairing code on the TV.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include "app/app.h"
#include "fb/status.h"
#include "menu/window.h"
#include "sub/subtitles.h"
#include "tests/support/support.h"
#include "tmr/clock.h"
#include "web/bridge.h"

namespace {

constexpr const char* kFilm =
    "[KTF2: 2 0 ]\n"
    "{25}{75}Eerste|regel twee\n"  // 1000 .. 3000 ms
    "{100}{150}Tweede\n";          // 4000 .. 6000 ms
constexpr const char* kDirectory = "/var/tuxbox/Tresk/tit/";

std::vector<uint8_t> sample(const std::string& name) {
    std::ifstream in(std::string(LUMETRA_SOURCE_DIR) + "/tests/samples/convert/" + name,
                     std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class WebLink : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    bool ended = false;

    void SetUp() override {
        root.write_subtitles("film.tkx", kFilm);
        root.write_subtitles("tweede.tkx", kFilm);
        root.write_subtitles("derde.tkx", kFilm);
        std::filesystem::create_symlink("film.tkx",
                                        root.host(std::string(kDirectory) + "tresk.qst"));
        testsup::setup_box(root, {.xres = 720, .yres = 576});
        web_set_serving(true);
        ASSERT_EQ(app_start(), -1);
    }
    void TearDown() override {
        if (!ended) app_shutdown(0);
        web_set_serving(false);
    }

    // Runs main-loop passes (this thread is the main thread) until the command, posted
    // from another thread, has its result.
    web_result run(web_command c, int wait_ms = 4000) {
        auto result =
            std::async(std::launch::async, [&] { return web_run_command(std::move(c), wait_ms); });
        while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            if (app_pass() >= 0) ended = true;
        }
        return result.get();
    }
    web_result add(const std::string& name, std::vector<uint8_t> bytes, bool replace = false) {
        return run({web_command_kind::add, name, std::move(bytes), replace});
    }
    // Passes until the snapshot satisfies cond.
    bool passes_until(const std::function<bool(const web_state&)>& cond) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            if (app_pass() >= 0) ended = true;
            if (cond(web_snapshot())) return true;
        }
        return false;
    }
    // Waits, on the page's side, until the TV waits for a key in a box opened after
    // the snapshot numbered after.
    static bool tv_waits_after(uint64_t after) {
        return testsup::wait_until([after] {
            const web_state s = web_snapshot();
            return s.busy && s.serial > after;
        });
    }
    static const web_job* job(const web_state& s, const std::string& name) {
        for (const web_job& j : s.jobs)
            if (j.name == name) return &j;
        return nullptr;
    }
    static bool has_file(const web_state& s, const std::string& name) {
        return std::find(s.files.begin(), s.files.end(), name) != s.files.end();
    }
    bool exists(const std::string& name) {
        return std::filesystem::exists(
            std::filesystem::symlink_status(root.host(kDirectory + name)));
    }
};

TEST_F(WebLink, UploadsAreConvertedListedAndAskedBeforeTheyReplaceAnything) {
    // A Czech file in Windows-1250: stored, converted by the drop-in's pass, listed.
    EXPECT_EQ(add("ceske.srt", sample("czech-short-1250.srt")).status, 201);
    ASSERT_TRUE(passes_until([](const web_state& s) {
        const web_job* j = job(s, "ceske.srt");
        return j != nullptr && j->step == "klaar" && has_file(s, "ceske");
    }));
    // The same name again is a question for the viewer; agreeing replaces it.
    web_result again = add("ceske.srt", sample("czech-short-1250.srt"));
    EXPECT_EQ(again.status, 409);
    EXPECT_EQ(again.error, "bestaat al");
    EXPECT_EQ(add("ceske.srt", sample("czech-short-1250.srt"), true).status, 201);

    // A file that holds no subtitles fails with the status line's words.
    EXPECT_EQ(add("kapot.srt", std::vector<uint8_t>(300, 0x01)).status, 201);
    ASSERT_TRUE(passes_until([](const web_state& s) {
        const web_job* j = job(s, "kapot.srt");
        return j != nullptr && j->step == "mislukt";
    }));
    EXPECT_FALSE(job(web_snapshot(), "kapot.srt")->text.empty());

    // A .tkx of the viewer's (no conversion header) is not replaced by a conversion of
    // an upload of its name without a question; with the viewer's yes it is.
    root.write_subtitles("eigen.tkx", kFilm);
    web_result viewers = add("eigen.srt", sample("czech-short-1250.srt"));
    EXPECT_EQ(viewers.status, 409);
    EXPECT_EQ(viewers.error, "eigen.tkx bestaat al");
    EXPECT_FALSE(exists("eigen.srt"));
    EXPECT_EQ(add("eigen.srt", sample("czech-short-1250.srt"), true).status, 201);
    ASSERT_TRUE(passes_until([](const web_state& s) {
        const web_job* j = job(s, "eigen.srt");
        return j != nullptr && j->step == "klaar";
    }));
    EXPECT_NE(root.read(std::string(kDirectory) + "eigen.tkx"), kFilm);

    // Names the library keeps for itself, and names with a path, are refused.
    EXPECT_EQ(add("tresk.qst", sample("czech-short-1250.srt")).status, 400);
    EXPECT_EQ(add("../buiten.srt", sample("czech-short-1250.srt")).status, 400);
    EXPECT_EQ(add("groot.srt", std::vector<uint8_t>((4 << 20) + 1, 'a')).status, 413);
}

TEST_F(WebLink, ChooseAndDeleteWorkAsTheFileMenuOnListedNamesOnly) {
    ASSERT_EQ(app_pass(), -1);
    web_result chosen = run({web_command_kind::choose, "tweede", {}, false});
    EXPECT_EQ(chosen.status, 200) << chosen.error;
    EXPECT_EQ(clock_running, 0);
    EXPECT_EQ(
        std::filesystem::read_symlink(root.host(std::string(kDirectory) + "tresk.qst")).filename(),
        "tweede.tkx");
    ASSERT_TRUE(passes_until([](const web_state& s) { return s.file == "tweede" && s.loaded; }));

    EXPECT_EQ(run({web_command_kind::choose, "geen", {}, false}).status, 404);
    EXPECT_EQ(run({web_command_kind::choose, "../../../etc/passwd", {}, false}).status, 404);
    EXPECT_EQ(run({web_command_kind::remove, "../film", {}, false}).status, 404);

    // Deleting takes the converted file's sources with it, as the file menu does.
    EXPECT_EQ(add("weg.srt", sample("czech-short-1250.srt")).status, 201);
    ASSERT_TRUE(passes_until([](const web_state& s) { return has_file(s, "weg"); }));
    EXPECT_EQ(run({web_command_kind::remove, "weg", {}, false}).status, 200);
    EXPECT_FALSE(exists("weg.tkx"));
    EXPECT_FALSE(exists("weg.srt"));
    ASSERT_TRUE(passes_until([](const web_state& s) { return !has_file(s, "weg"); }));
}

TEST_F(WebLink, ABoxWaitingForAKeyRefusesCommandsTheFileMenuMakesRoomForThem) {
    ASSERT_EQ(app_pass(), -1);
    // The frame-rate menu waits for a key: a command is withdrawn after its wait, the
    // page's keys reach the menu and close it.
    std::atomic<int> status{0};
    uint64_t before = web_published_serial();
    std::thread page([&] {
        status = web_run_command({web_command_kind::remove, "tweede", {}, false}, 300).status;
        ASSERT_TRUE(tv_waits_after(before));
        web_post_key(KEY_EXIT);
    });
    app_key(KEY_TV);
    page.join();
    EXPECT_EQ(status, 409);
    EXPECT_TRUE(exists("tweede.tkx"));

    // In the file menu's list the command runs, and the list is drawn again without
    // the row; the page's EXIT leaves the menu.
    status = 0;
    before = web_published_serial();
    std::thread page2([&] {
        ASSERT_TRUE(tv_waits_after(before));
        status = web_run_command({web_command_kind::remove, "tweede", {}, false}, 3000).status;
        const uint64_t relisted = web_published_serial();
        ASSERT_TRUE(tv_waits_after(relisted));
        web_post_key(KEY_EXIT);
    });
    app_key(KEY_MENU);
    page2.join();
    EXPECT_EQ(status, 200);
    EXPECT_FALSE(exists("tweede.tkx"));
}

TEST_F(WebLink, ThePageReadsTheStatusLineTheSubtitleAndThePairingCode) {
    ASSERT_TRUE(passes_until([](const web_state& s) { return s.loaded && s.file == "film"; }));
    // The start message's key symbols come as the keys' names.
    EXPECT_EQ(web_snapshot().status, "Druk: OK om te starten EXIT om te sluiten");

    tmr_go_to_time(1500);
    ASSERT_TRUE(
        passes_until([](const web_state& s) { return s.subtitle == "Eerste\nregel twee"; }));
    tmr_go_to_time(4500);
    ASSERT_TRUE(passes_until([](const web_state& s) { return s.subtitle == "Tweede"; }));

    // The pairing code stays on the status line while it lives, and goes when asked.
    web_show_pairing_code("123456");
    ASSERT_TRUE(passes_until(
        [](const web_state& s) { return s.status == "Koppelcode voor de telefoon: 123456"; }));
    fb_show_status("iets anders");
    ASSERT_TRUE(passes_until(
        [](const web_state& s) { return s.status == "Koppelcode voor de telefoon: 123456"; }));
    web_show_pairing_code("");
    ASSERT_TRUE(passes_until([](const web_state& s) { return s.status.empty(); }));

    // A question the TV asks (the rate offer) comes with the key symbols named.
    web_set_question("Snelheid 25 \x08 23,976? \x0e\x0f Ja");
    ASSERT_TRUE(passes_until([](const web_state& s) {
        return s.question && s.question_text == "Snelheid 25 \u2192 23,976? OK Ja";
    }));
    web_set_question({});
    ASSERT_TRUE(passes_until([](const web_state& s) { return !s.question; }));
}

std::atomic<int> forgotten{0};

TEST_F(WebLink, TheTextKeyForgetsThePairedPhonesAfterTheQuestion) {
    web_set_forget_paired([] { ++forgotten; });
    for (int answer : {KEY_EXIT, KEY_OK}) {
        const uint64_t before = web_published_serial();
        std::thread page([&] {
            ASSERT_TRUE(tv_waits_after(before));
            web_post_key(answer);
        });
        app_key(KEY_TEXT);
        page.join();
    }
    EXPECT_EQ(forgotten, 1);
    web_set_forget_paired(nullptr);
    // Without a server the key does nothing at all.
    web_set_serving(false);
    app_key(KEY_TEXT);
    EXPECT_EQ(forgotten, 1);
}

}  // namespace

namespace {

// The page's second language: chosen beside the file playing, its own shift, its text
// in the state, off again on its own file, and refused for a file not listed.
TEST_F(WebLink, TheSecondLanguageIsChosenShiftedAndTurnedOff) {
    EXPECT_EQ(run({web_command_kind::second_shift, {}, {}, false, 500}).status, 409);
    EXPECT_EQ(run({web_command_kind::second, "onbekend", {}, false}).status, 404);
    ASSERT_EQ(run({web_command_kind::second, "tweede", {}, false}).status, 200);
    EXPECT_STREQ(second_name.data(), "tweede.tkx");
    EXPECT_EQ(run({web_command_kind::second_shift, {}, {}, false, -500}).status, 200);
    EXPECT_EQ(second_shift_ms, -500);
    // At 1500 ms the second's first subtitle (1000..3000, 500 ms later) shows.
    tmr_go_to_time(1500);
    ASSERT_TRUE(passes_until([](const web_state& s) {
        return s.second == "tweede" && s.second_shift_ms == -500 &&
               s.second_subtitle == "Eerste\nregel twee";
    }));
    // Its own file turns it off; so does the off command with none on.
    ASSERT_EQ(run({web_command_kind::second, "tweede", {}, false}).status, 200);
    EXPECT_EQ(second_subtitles.load(), nullptr);
    EXPECT_EQ(run({web_command_kind::second_off, {}, {}, false}).status, 200);
    ASSERT_TRUE(passes_until([](const web_state& s) { return s.second.empty(); }));
    // Deleting the second language's file turns it off.
    ASSERT_EQ(run({web_command_kind::second, "derde", {}, false}).status, 200);
    ASSERT_EQ(run({web_command_kind::remove, "derde", {}, false}).status, 200);
    EXPECT_EQ(second_subtitles.load(), nullptr);
}

}  // namespace
