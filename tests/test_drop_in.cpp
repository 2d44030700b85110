// Drop-in subtitle files: what the file menu converts, lists and deletes, in
// process and as a whole run of lumetra-sim.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "conv/convert.h"
#include "menu/drop_in.h"
#include "menu/menus.h"
#include "sim/model.h"
#include "sim/picture.h"
#include "sub/subtitles.h"
#include "tests/support/menu_support.h"
#include "tests/support/sim_support.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSubtitleDirPath = "/var/tuxbox/Tresk/tit/";

// The first cue starts at 0, so that it is on screen while the clock stands still.
constexpr std::string_view kSrt =
    "1\r\n00:00:00,000 --> 00:00:05,000\r\nEerste regel\r\n\r\n"
    "2\r\n00:00:06,000 --> 00:00:08,500\r\nTweede\r\n";
// Starts like a SubRip file but holds no cue that can be read.
constexpr std::string_view kBrokenSrt = "1\n00:00:01,000 --> 00:00:0";

std::string hand_written(const std::string& text) {
    return "[KTF2: 1 0 ]\n{25}{75}" + text + "\n";
}

// What the converter makes of kSrt, naming source as the file it came from.
std::string converted(const std::string& source) {
    conv::ConvertOptions options;
    options.source_name = source;
    conv::ConvertReport report;
    std::string out;
    const auto* bytes = reinterpret_cast<const uint8_t*>(kSrt.data());
    EXPECT_EQ(conv::convert_subtitles({bytes, kSrt.size()}, options, out, report), conv::kConvertOk)
        << report.error;
    return out;
}

// The file menu with keys queued ahead; its result.
int menu(std::initializer_list<int> keys) {
    testsup::queue(keys);
    return testsup::run_modal([] { return menu_file(); });
}

// The first line of the first subtitle loaded.
std::string loaded() {
    if (subtitles.load() == nullptr || subtitle_count <= 0) return "<none>";
    return subtitles.load()[0].lines[0].get();
}

class DropIn : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    void SetUp() override { ASSERT_TRUE(testsup::open_menu_box(root)); }
    void TearDown() override { testsup::close_menu_box(); }

    bool exists(const std::string& name) const { return root.exists(kSubtitleDirPath + name); }
    // The names in the subtitle directory, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(root.host(kSubtitleDirPath))) {
            out.push_back(e.path().filename().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(DropIn, ConvertsNewFilesListsThemAndLeavesFailuresAlone) {
    root.write_subtitles("a.tkx", hand_written("a"));
    root.write_subtitles("film.srt", kSrt);
    root.write_subtitles("broken.srt", kBrokenSrt);
    root.write_subtitles("notes.txt", "Bring popcorn.\n");
    fs::create_directory(root.host(std::string(kSubtitleDirPath) + "folder.srt"));

    // Listed: a, film; broken.srt failed and has no .tkx to list.
    EXPECT_EQ(menu({KEY_DOWN, KEY_OK}), 1);
    EXPECT_EQ(loaded(), "Eerste regel");
    EXPECT_EQ(names(), (std::vector<std::string>{"a.tkx", "broken.srt", "film.srt", "film.tkx",
                                                 "folder.srt", "notes.txt", "tresk.qst"}));
    EXPECT_EQ(root.read(std::string(kSubtitleDirPath) + "film.tkx"), converted("film.srt"));

    // Nothing new: the pass opens no file at all, not even the ones that failed.
    sim::fail_call("fopen", EIO, -1, kSubtitleDirPath);
    const int faults = sim::faults_injected();
    menu_convert_dropped_files();
    EXPECT_EQ(sim::faults_injected(), faults) << "a file was opened with nothing new to convert";
    sim::clear_faults();

    // A failed file that changes is tried again; a write that fails leaves neither a
    // .tkx nor a half file behind.
    root.write_subtitles("broken.srt", kSrt);
    sim::fail_call("rename", EIO, 1, "broken");
    menu_convert_dropped_files();
    EXPECT_FALSE(exists("broken.tkx"));
    EXPECT_FALSE(exists("broken.tkx.part"));
    root.write_subtitles("broken.srt", std::string(kSrt) + "\r\n");
    menu_convert_dropped_files();
    EXPECT_TRUE(exists("broken.tkx"));
}

TEST_F(DropIn, DeletingAConvertedFileDeletesItsSourceAndNothingElse) {
    root.write_subtitles("film.srt", kSrt);  // converted by the menu's pass
    root.write_subtitles("hand.tkx", hand_written("hand"));
    root.write_subtitles("hand.txt", "notes beside a file written by hand\n");
    // Converted files whose headers name something outside the directory, the
    // directory itself, or another subtitle file.
    root.write("/var/tuxbox/Tresk/victim.srt", kSrt);
    root.write_subtitles("sub/inner.srt", kSrt);
    root.write_subtitles("up.tkx", converted("../victim.srt"));
    root.write_subtitles("deep.tkx", converted("sub/inner.srt"));
    root.write_subtitles("dots.tkx", converted(".."));
    root.write_subtitles("other.tkx", converted("keep.tkx"));
    root.write_subtitles("keep.tkx", hand_written("keep"));

    // Listed: deep, dots, film, hand, keep, other, up. Mark all but keep, yes; keep is
    // then the only file and loads at once.
    EXPECT_EQ(menu({KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_DOWN,
                    KEY_DOWN, KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_OK, testsup::kDrained, KEY_GREEN}),
              0);
    EXPECT_EQ(loaded(), "keep");
    EXPECT_EQ(names(), (std::vector<std::string>{"hand.txt", "keep.tkx", "sub", "tresk.qst"}));
    EXPECT_TRUE(root.exists("/var/tuxbox/Tresk/victim.srt"));
    EXPECT_TRUE(exists("sub/inner.srt"));
}

// The whole evening through the simulator: an .srt copied into the subtitle
// directory is listed, plays, and goes away with its converted file.
TEST(DropInSim, DroppedSubRipFilePlaysAndIsDeletedWithItsConvertedFile) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("andere.tkx", hand_written("andere"));
    root.write_subtitles("film.srt", kSrt);
    simtest::scratch_dir dir;
    const std::string keys = dir.file("k");
    std::ofstream(keys) << "wait 800\n"
                           "press DOWN\n"  // the list: andere, film
                           "press OK\n"
                           "wait 500\n"
                           "snap "
                        << dir.file("film.png")
                        << "\n"
                           "press MENU\n"
                           "wait 500\n"
                           "press DOWN\n"
                           "press BLUE\n"
                           "press OK\n"
                           "wait 300\n"
                           "press OK\n"  // yes: andere is left and loads at once
                           "wait 500\n"
                           "press EXIT\n"
                           "wait 300\n"
                           "press GREEN\n";
    const simtest::run_result r = simtest::run_sim({"--headless", "--root", root.path(), "--keys",
                                                    keys, "--mode", "720x576", "--timeout", "60"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    uint32_t w = 0, h = 0;
    std::vector<uint32_t> px;
    ASSERT_TRUE(simtest::read_png_argb(dir.file("film.png"), w, h, px));
    size_t visible = 0;  // the first subtitle, in the band below the status strip
    for (uint32_t y = 300; y < 526 && y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) visible += (px[size_t{y} * w + x] >> 24) != 0;
    }
    EXPECT_GT(visible, 200u);
    EXPECT_FALSE(root.exists(std::string(kSubtitleDirPath) + "film.srt"));
    EXPECT_FALSE(root.exists(std::string(kSubtitleDirPath) + "film.tkx"));
    EXPECT_TRUE(root.exists(std::string(kSubtitleDirPath) + "andere.tkx"));
}

}  // namespace
