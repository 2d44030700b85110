// A whole evening with the simulator: a first start without settings, playing,
// restyling, jumping and stepping, saving on exit; then a second start that resumes
// where the viewer left, and a close that forgets the position. A file choice that
// fails keeps the film playing, and roads that end without the viewer's close keep
// the place in the film.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/sim_support.h"
#include "tests/support/support.h"

namespace {

constexpr const char* kFilm =
    "[KTF2: 8 0 ]\n"
    "{50}{250}Eerste ondertitel\n"          // 2 s .. 10 s
    "{300}{500}Tweede ondertitel\n"         // 12 .. 20
    "{550}{750}{256}Derde, bovenaan\n"      // 22 .. 30, top position
    "{800}{1000}Vierde ondertitel\n"        // 32 .. 40
    "{1050}{1250}Vijfde ondertitel\n"       // 42 .. 50
    "{1300}{1500}Zesde ondertitel\n"        // 52 .. 60
    "{1550}{1750}Zevende ondertitel\n"      // 62 .. 70
    "{1800}{2000}Achtste ondertitel\n";     // 72 .. 80

constexpr uint32_t kLine = 720 * 4;
constexpr uint32_t kBlueDim = 0xff0000a8, kBlueBright = 0xff0000ff;

struct picture {
    uint32_t w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t at(uint32_t x, uint32_t y) const { return px[size_t{y} * w + x]; }
    size_t count(uint32_t y0, uint32_t y1, bool (*before)(uint32_t)) const {
        size_t n = 0;
        for (uint32_t y = y0; y < y1 && y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) n += before(at(x, y));
        }
        return n;
    }
};

picture load(const std::string& path) {
    picture p;
    EXPECT_TRUE(simtest::read_png_argb(path, p.w, p.h, p.px)) << path;
    return p;
}

std::string settings_record(uint8_t zoom, uint8_t background_level, uint8_t pal, uint8_t scheme,
                            int32_t position, int32_t bottom, int32_t top) {
    std::string s(16, '\0');
    s[0] = char(zoom), s[1] = char(background_level), s[2] = char(pal), s[3] = char(scheme);
    std::memcpy(s.data() + 4, &position, 4);
    std::memcpy(s.data() + 8, &bottom, 4);
    std::memcpy(s.data() + 12, &top, 4);
    return s;
}

simtest::run_result run(const testsup::box_root& root, const simtest::scratch_dir& dir,
                        const std::string& name, const std::string& keys) {
    std::string path = dir.file(name + ".keys");
    std::ofstream(path) << keys;
    return simtest::run_sim({"--headless", "--root", root.path(), "--keys", path, "--mode",
                             "720x576", "--timeout", "90"},
                            120000);
}

// Band rows of the default layout: below the status strip down to ey.
constexpr uint32_t kBandTop = 82, kBandBottom = 526;

}  // namespace

TEST(SimEvening, FirstNightSavesWhatTheViewerChoseAndTheSecondResumesThere) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", kFilm);
    // The file chosen on an earlier evening.
    std::filesystem::create_symlink("film.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    simtest::scratch_dir dir;
    const std::string conf = "/var/tuxbox/Tresk/tresk.conf";

    // First night: no settings file.
    std::string first =
        "wait 800\n"
        "snap " + dir.file("1-help.png") + "\n"
        "press RED\n"  // zoom 1 -> 2; also closes the help page
        "wait 200\n"
        "press OK\n"  // play
        "wait 3000\n"
        "snap " + dir.file("1-playing.png") + "\n"
        "press OK\n"  // pause
        "press GREEN\n"
        "press YELLOW\n"
        "press BLUE\n"  // background 1 -> 2
        "press VOLUMEUP\n"
        "press VIDEO\n"
        "press VIDEO\n"
        "press 0\npress 0\npress 0\npress 3\npress 5\n"  // jump to 0:00:35, the fourth
        "wait 300\n"
        "press RIGHT\n"  // the next one not yet shown: the fifth
        "wait 300\n"
        "press LEFT\n"  // stopped: back two, the fourth again
        "wait 300\n"
        "snap " + dir.file("1-fourth.png") + "\n"
        "press EXIT\n"
        "wait 300\n"
        "press YELLOW\n";  // save and close
    simtest::run_result r1 = run(root, dir, "first", first);
    ASSERT_EQ(r1.status, 0) << r1.out << r1.err;

    picture help = load(dir.file("1-help.png"));
    EXPECT_GT(help.count(kBandTop, kBandBottom, [](uint32_t p) { return p == kBlueDim; }), 500u)
        << "help page 1 is open after the first start";
    EXPECT_EQ(help.at(40, 50), 0xffa8a8a8u) << "the start message's strip (dim palette)";

    picture playing = load(dir.file("1-playing.png"));
    EXPECT_GT(playing.count(300, kBandBottom, [](uint32_t p) { return (p >> 24) != 0; }), 200u)
        << "the first subtitle is on screen at the bottom";
    EXPECT_EQ(playing.count(kBandTop, kBandBottom, [](uint32_t p) { return p == kBlueDim; }), 0u)
        << "the help page was closed";

    // Zoom 2, background 2, bright palette, scheme 1, the fourth subtitle shown (index
    // 3, so the clock's index is 4), the bottom band 5 lines up.
    EXPECT_EQ(root.read(conf), settings_record(2, 2, 1, 1, 4, 5 * kLine, 0));

    // Second night: resumes at the fourth subtitle's successor without help.
    std::string second =
        "wait 800\n"
        "snap " + dir.file("2-start.png") + "\n"
        "press EXIT\n"
        "wait 300\n"
        "press GREEN\n";  // close without saving
    simtest::run_result r2 = run(root, dir, "second", second);
    ASSERT_EQ(r2.status, 0) << r2.out << r2.err;
    picture resumed = load(dir.file("2-start.png"));
    EXPECT_EQ(resumed.count(kBandTop, kBandBottom, [](uint32_t p) { return p == kBlueBright; }),
              0u)
        << "no help page when resuming";
    EXPECT_EQ(resumed.at(40, 50), 0xffffffffu) << "the status line, bright palette";
    EXPECT_GT(resumed.count(300, kBandBottom, [](uint32_t p) { return (p >> 24) != 0; }), 200u)
        << "the subtitle at the resume position is shown";
    // The status line shows the time of the resumed subtitle, not the start message:
    // its text differs from the first start's strip.
    size_t differing = 0;
    for (uint32_t y = 50; y < 82; ++y) {
        for (uint32_t x = 40; x < 600; ++x) {
            bool a = help.at(x, y) == 0xff000000u, b = resumed.at(x, y) == 0xff000000u;
            differing += a != b;
        }
    }
    EXPECT_GT(differing, 100u);

    // Closing without saving forgets the position and keeps the display choices.
    EXPECT_EQ(root.read(conf), settings_record(2, 2, 1, 1, 0, 5 * kLine, 0));
}

// A file that fails to load leaves the film playing: its error box, then EXIT from the
// list, and the old subtitle is back on screen with the clock where it stood.
TEST(SimEvening, AFailedFileChoiceKeepsTheFilmAndItsPosition) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", kFilm);
    root.write_subtitles("bad.tkx", "[KTF2: 2 0 ]\n{50}{250}only one line\n");
    std::filesystem::create_symlink("film.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    const std::string conf = "/var/tuxbox/Tresk/tresk.conf";
    root.write(conf, settings_record(2, 2, 1, 1, 3, 0, 0));
    simtest::scratch_dir dir;
    // "bad" is the first row: error box 9; EXIT closes it, EXIT leaves the list.
    std::string keys = "wait 800\npress MENU\nwait 300\npress OK\nwait 300\npress EXIT\n";
    keys += "wait 300\npress EXIT\nwait 500\nsnap " + dir.file("after.png") + "\n";
    keys += "press EXIT\nwait 300\npress YELLOW\n";  // save and close
    simtest::run_result r = run(root, dir, "failed-choice", keys);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    picture after = load(dir.file("after.png"));
    EXPECT_GT(after.count(300, kBandBottom, [](uint32_t p) { return (p >> 24) != 0; }), 200u)
        << "the resumed subtitle is shown again";
    // Resumed at index 3, whose subtitle the thread showed: the clock's index is 4.
    EXPECT_EQ(root.read(conf), settings_record(2, 2, 1, 1, 4, 0, 0));
}

// Without a remote, and when no subtitle file can be loaded, the player ends without
// losing the stored position; the refused zoom byte 9 (zoom 1 in force) is rewritten.
TEST(SimEvening, FailedStartsAndEndsWithoutSubtitlesKeepTheStoredPosition) {
    const std::string conf = "/var/tuxbox/Tresk/tresk.conf";
    simtest::scratch_dir dir;
    for (bool remote : {false, true}) {
        testsup::box_root root(testsup::dejavu_condensed());
        root.write_subtitles("bad.tkx", "[KTF2: 2 0 ]\n{50}{250}only one line\n");
        root.write(conf, settings_record(9, 2, 1, 1, 3, 0, 0));
        simtest::run_result r;
        if (remote) {
            // Error box 9 for the only file, then EXIT from its one-row list.
            r = run(root, dir, "nothing-loadable", "wait 800\npress EXIT\nwait 300\npress EXIT\n");
        } else {
            r = simtest::run_sim(
                {"--headless", "--root", root.path(), "--remotes", "0", "--timeout", "60"});
            EXPECT_NE((r.out + r.err).find("rc_init: No RC?"), std::string::npos) << r.out;
        }
        EXPECT_EQ(r.status, remote ? 0 : 1) << r.out << r.err;
        EXPECT_EQ(root.read(conf), settings_record(1, 2, 1, 1, 3, 0, 0)) << remote;
    }
}
