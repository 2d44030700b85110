// Drop-in subtitle files: what the file menu converts, lists and deletes, in
// process and as a whole run of lumetra-sim.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "conv/convert.h"
#include "conv/recording.h"
#include "fb/status.h"
#include "library/library.h"
#include "menu/drop_in.h"
#include "menu/menus.h"
#include "sim/model.h"
#include "sim/picture.h"
#include "sub/subtitles.h"
#include "tests/support/converted_header.h"
#include "tests/support/menu_support.h"
#include "tests/support/sim_support.h"
#include "tests/support/sync_samples.h"
#include "tests/support/ts_samples.h"

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
    EXPECT_EQ(root.read(std::string(kSubtitleDirPath) + "film.tkx"),
              testsup::with_stamp(converted("film.srt"),
                                  root.host(std::string(kSubtitleDirPath) + "film.srt")));

    // Nothing new: the pass opens no file at all, not even the ones that failed.
    sim::fail_call("fopen", EIO, -1, kSubtitleDirPath);
    const int faults = sim::faults_injected();
    menu_convert_dropped_files();
    EXPECT_EQ(sim::faults_injected(), faults) << "a file was opened with nothing new to convert";
    sim::clear_faults();

    // A failed file that changes is tried again; a write that fails leaves neither a
    // .tkx nor a half file behind.
    root.write_subtitles("broken.srt", kSrt);
    sim::fail_call("rename", EIO, 1, ".part");
    menu_convert_dropped_files();
    EXPECT_EQ(sim::faults_injected(), faults + 1);
    EXPECT_EQ(names(), (std::vector<std::string>{"a.tkx", "broken.srt", "film.srt", "film.tkx",
                                                 "folder.srt", "notes.txt", "tresk.qst"}));
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

namespace {

std::string sample(const std::string& name) {
    std::ifstream in(std::string(LUMETRA_SOURCE_DIR) + "/tests/samples/drop_in/" + name,
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string subtitle_path(const std::string& name) {
    return kSubtitleDirPath + name;
}

std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

void set_modified(const std::string& host_path, time_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, host_path.c_str(), times, 0), 0) << host_path;
}

// The status strip (message and icons) as the screen shows it now.
std::vector<uint32_t> status_strip() {
    std::vector<uint32_t> out;
    for (int y = 50; y < 82; ++y) {
        for (int x = 40; x <= 670; ++x) out.push_back(testsup::pixel(x, y));
    }
    return out;
}

// The strip as it looks with text on it.
std::vector<uint32_t> strip_showing(const std::string& text) {
    fb_show_status(text.c_str());
    return status_strip();
}

std::vector<uint32_t> blank_strip() {
    fb_clear_status();
    return status_strip();
}

// Whether the status line shows text now ("" for a blank line). The screen is read
// before the text is drawn for comparison: both in one expression would leave the
// order to the compiler.
bool status_reads(const std::string& text) {
    const std::vector<uint32_t> shown = status_strip();
    return shown == (text.empty() ? blank_strip() : strip_showing(text));
}

class DropInFiles : public DropIn {
  protected:
    // True when converted (a .tkx) was made from source as it is now, with the
    // default options.
    bool made_from_now(const std::string& converted, const std::string& source) const {
        if (!exists(converted)) return false;
        const std::string file = root.read(subtitle_path(converted));
        const std::string header = first_line(file);
        const std::string end = testsup::header_end(source, root.host(subtitle_path(source)),
                                                    testsup::after_header(file));
        return header.starts_with("[KTF2: ") && header.ends_with(end);
    }
    // The same for the .tkx named after source without its extension.
    bool made_from_now(const std::string& source) const {
        return made_from_now(source.substr(0, source.rfind('.')) + ".tkx", source);
    }
    // True when the header of converted names source, whole, as what it was made from.
    bool names_source(const std::string& converted, const std::string& source) const {
        const std::string header = first_line(root.read(subtitle_path(converted)));
        const std::string named = " converted from " + testsup::header_name(source);
        const size_t at = header.find(named);
        return at != std::string::npos && at + named.size() < header.size() &&
               (header[at + named.size()] == ';' || header[at + named.size()] == ']');
    }
};

}  // namespace

// A file that cannot be converted is named on the status line with the reason, once
// for each state of it, and the line stays while the menu loads a file.
TEST_F(DropInFiles, AFileThatCannotBeConvertedIsNamedOncePerChange) {
    root.write_subtitles("film.tkx", hand_written("film"));
    root.write_subtitles("notities.txt", sample("readme.srt"));  // no subtitles: no word
    const std::vector<uint32_t> blank = blank_strip();
    const std::string picture("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x02\x80", 20);
    struct Case {
        std::string name;
        std::string bytes;
        std::string shown;
        uintmax_t grown_to = 0;  // made this large (and sparse) after writing
    };
    const std::vector<Case> cases = {
        {"leeg.srt", "", "leeg.srt: leeg bestand"},
        {"omslag.srt", picture, "omslag.srt: geen tekstbestand"},
        {"lees mij.srt", sample("readme.srt"), "lees mij.srt: onbekend formaat"},
        {"later.vtt", sample("no_cues.vtt"), "later.vtt: geen ondertitels gevonden"},
        {"groot.srt", sample("film.srt"), "groot.srt: bestand te groot", 5u << 20},
        {"tab\tnaam.vtt", sample("no_cues.vtt"), "tab?naam.vtt: geen ondertitels gevonden"},
        {"De.Veerboot.1962.1080p.BluRay.x264-GROEP.nl.vtt", sample("no_cues.vtt"),
         "De.Veerboot.1962\u2026.nl.vtt: geen ondertitels gevonden"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        root.write_subtitles(c.name, c.bytes);
        if (c.grown_to != 0) fs::resize_file(root.host(subtitle_path(c.name)), c.grown_to);
        menu_convert_dropped_files();
        const std::vector<uint32_t> shown = status_strip();
        const std::vector<uint32_t> wanted = strip_showing(c.shown);
        ASSERT_NE(wanted, blank);
        EXPECT_TRUE(shown == wanted) << "the status line does not read \"" << c.shown << "\"";
        // Unchanged, it is not named again.
        fb_clear_status();
        menu_convert_dropped_files();
        EXPECT_TRUE(status_strip() == blank);
        fs::remove(root.host(subtitle_path(c.name)));
    }

    // Changed, it is named again; two at once are counted.
    root.write_subtitles("later.vtt", sample("no_cues.vtt"));
    root.write_subtitles("ook.vtt", sample("no_cues.vtt"));
    menu_convert_dropped_files();
    EXPECT_TRUE(status_reads("later.vtt: geen ondertitels gevonden (+1)"));
    fb_clear_status();
    root.write_subtitles("later.vtt", sample("no_cues.vtt") + "\n");
    menu_convert_dropped_files();
    EXPECT_TRUE(status_reads("later.vtt: geen ondertitels gevonden"));

    // Through the menu: film, the only file, loads at once, and the line stays.
    fb_clear_status();
    root.write_subtitles("kapot.vtt", sample("no_cues.vtt"));
    EXPECT_EQ(menu({}), 0);
    EXPECT_EQ(loaded(), "film");
    EXPECT_TRUE(status_reads("kapot.vtt: geen ondertitels gevonden"));
    EXPECT_EQ(names(), (std::vector<std::string>{"film.tkx", "kapot.vtt", "later.vtt",
                                                 "notities.txt", "ook.vtt", "tresk.qst"}));
}

// A .tkx made by conversion follows its source: a source replaced (other size or
// other time, older or newer) is converted again. The viewer's own files are not
// replaced: written by hand, made with options chosen by hand, copied from the
// converted file of another name, or corrected by hand after it was converted.
TEST_F(DropInFiles, AReplacedSourceIsConvertedAgainAndNoFileOfTheViewersIs) {
    const std::string film = sample("film.srt"), corrected = sample("film_corrected.srt");
    std::string same_size = film;
    same_size.replace(same_size.find("zes uur"), 7, "elf uur");
    const std::vector<std::pair<std::string, std::string>> kept = {
        {"hand.tkx", hand_written("hand")},
        {"opties.tkx",
         "[KTF2: 1 0 converted from opties.srt; 1 bytes, modified 1.000000000; --offset -1.5]\n"
         "{25}{75}opties\n"},
        {"kopie.tkx",
         "[KTF2: 1 0 converted from film.srt; 1 bytes, modified 1.000000000]\n"
         "{25}{75}kopie\n"},
    };
    const auto source_of = [](const std::string& tkx) {
        return tkx.substr(0, tkx.find('.')) + ".srt";
    };
    for (const auto& [name, text] : kept) {
        root.write_subtitles(name, text);
        root.write_subtitles(source_of(name), film);
    }
    for (const char* source : {"film.srt", "gelijk.srt", "oud.srt", "nieuw.srt", "bewerkt.srt"}) {
        root.write_subtitles(source, film);
    }
    // Converted before sources were stamped: kept while the source is not newer.
    for (const std::string name : {"oud.tkx", "nieuw.tkx"}) {
        root.write_subtitles(name,
                             "[KTF2: 1 0 converted from " + source_of(name) + "]\n{25}{75}x\n");
        set_modified(root.host(subtitle_path(name)), 1200000000);
    }
    set_modified(root.host(subtitle_path("oud.srt")), 1100000000);
    set_modified(root.host(subtitle_path("nieuw.srt")), 1300000000);

    menu_convert_dropped_files();
    EXPECT_TRUE(made_from_now("film.srt"));
    EXPECT_TRUE(made_from_now("gelijk.srt"));
    EXPECT_TRUE(made_from_now("nieuw.srt"));
    EXPECT_EQ(first_line(root.read(subtitle_path("oud.tkx"))),
              "[KTF2: 1 0 converted from oud.srt]");
    // A converted file the viewer corrected by hand is the viewer's from then on.
    ASSERT_TRUE(made_from_now("bewerkt.srt"));
    std::string edited = root.read(subtitle_path("bewerkt.tkx"));
    edited.replace(edited.find("zes uur"), 7, "acht uur");
    root.write_subtitles("bewerkt.tkx", edited);

    root.write_subtitles("film.srt", corrected);
    root.write_subtitles("gelijk.srt", same_size);
    set_modified(root.host(subtitle_path("gelijk.srt")), 1000000000);  // older than before
    set_modified(root.host(subtitle_path("oud.srt")), 1250000000);
    for (const auto& [name, text] : kept) root.write_subtitles(source_of(name), corrected);
    root.write_subtitles("bewerkt.srt", corrected);
    menu_convert_dropped_files();
    for (const char* source : {"film.srt", "gelijk.srt", "oud.srt", "nieuw.srt"}) {
        EXPECT_TRUE(made_from_now(source)) << source;
    }
    EXPECT_NE(root.read(subtitle_path("film.tkx")).find("half zeven"), std::string::npos);
    EXPECT_NE(root.read(subtitle_path("gelijk.tkx")).find("elf uur"), std::string::npos);
    for (const auto& [name, text] : kept) EXPECT_EQ(root.read(subtitle_path(name)), text) << name;
    EXPECT_EQ(root.read(subtitle_path("bewerkt.tkx")), edited);
}

// Deleting an entry deletes every source of its name, so that it does not come back
// (also beside a .tkx written by hand); which source makes the .tkx is fixed by the
// order of formats.
TEST_F(DropInFiles, DeletingAnEntryDeletesEverySourceOfItsName) {
    const std::vector<std::vector<std::pair<std::string, std::string>>> sets = {
        {{"een.vtt", "film.vtt"}, {"een.srt", "film.srt"}},
        {{"twee.ass", "film.ass"}, {"twee.srt", "film.srt"}},
        {{"drie.txt", "film.srt"}, {"drie.vtt", "film.vtt"}},
        {{"vier.ass", "film.ass"}, {"vier.SRT", "film.srt"}},
        {{"vijf.zzz", "film.srt"}, {"vijf.ssa", "film.ass"}},
        {{"zes.srt", "film.srt"}, {"zes.vtt", "film.vtt"}},
        {{"zeven.ssa", "film.ass"}, {"zeven.ass", "film.ass"}},
        {{"acht.sub", "film.srt"}, {"acht.vtt", "film.vtt"}},
        {{"negen.txt", "film.srt"}, {"negen.sub", "film.srt"}},
    };
    const std::vector<std::string> first = {"een.srt",   "twee.srt", "drie.vtt",
                                            "vier.SRT",  "vijf.ssa", "zes.srt",
                                            "zeven.ass", "acht.vtt", "negen.sub"};
    for (const auto& set : sets) {
        for (const auto& [name, source] : set) root.write_subtitles(name, sample(source));
    }
    root.write_subtitles("een.nfo", sample("readme.srt"));  // no subtitles: stays
    menu_convert_dropped_files();
    for (const std::string& source : first) {
        EXPECT_TRUE(names_source(source.substr(0, source.find('.')) + ".tkx", source)) << source;
        EXPECT_TRUE(made_from_now(source)) << source;
    }
    for (const std::string& source : first) {
        const std::string converted = source.substr(0, source.find('.')) + ".tkx";
        EXPECT_EQ(library_delete_subtitle_file(subtitle_path(converted).c_str()), 0);
    }
    menu_convert_dropped_files();
    EXPECT_EQ(names(), std::vector<std::string>{"een.nfo"});

    // Through the menu: dup and hand marked and deleted; keep is left and loads at once.
    root.write_subtitles("dup.srt", sample("film.srt"));
    root.write_subtitles("dup.ass", sample("film.ass"));
    root.write_subtitles("hand.srt", sample("film.srt"));
    root.write_subtitles("hand.tkx", hand_written("hand"));
    root.write_subtitles("keep.tkx", hand_written("keep"));
    EXPECT_EQ(menu({KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_OK, testsup::kDrained, KEY_GREEN}), 0);
    EXPECT_EQ(loaded(), "keep");
    EXPECT_EQ(names(), (std::vector<std::string>{"een.nfo", "keep.tkx", "tresk.qst"}));
}

// Deleting a converted file deletes only sources of its own base name, whatever its
// header names: a link by itself, never what it points at, and never a folder.
TEST_F(DropInFiles, DeletingDeletesOnlySourcesOfTheSameBaseName) {
    root.write_subtitles("ander.srt", sample("film.srt"));
    menu_convert_dropped_files();
    ASSERT_TRUE(exists("ander.tkx"));
    const std::string copy = root.read(subtitle_path("ander.tkx"));
    root.write_subtitles("mijn.tkx", copy + "{500}{550}Mijn eigen regel\n");
    root.write_subtitles("hernoemd.tkx", copy);
    root.write_subtitles("hernoemd.txt", "Gekopieerd van ander.tkx\n");
    root.write("/var/tuxbox/Tresk/slachtoffer.srt", sample("film.srt"));
    fs::create_symlink("../slachtoffer.srt", root.host(subtitle_path("link.srt")));
    root.write_subtitles("link.tkx", copy);
    fs::create_directory(root.host(subtitle_path("map.srt")));
    root.write_subtitles("map.tkx", copy);
    for (const char* name : {"mijn.tkx", "hernoemd.tkx", "link.tkx", "map.tkx"}) {
        EXPECT_EQ(library_delete_subtitle_file(subtitle_path(name).c_str()), 0) << name;
    }
    EXPECT_EQ(names(),
              (std::vector<std::string>{"ander.srt", "ander.tkx", "hernoemd.txt", "map.srt"}));
    EXPECT_EQ(root.read("/var/tuxbox/Tresk/slachtoffer.srt"), sample("film.srt"));
}

// A link to a subtitle file is converted like the file, and goes with its entry as a
// link: what it points at stays. A link leading nowhere or to a folder is passed over.
TEST_F(DropInFiles, ALinkToASubtitleFileConvertsAndOnlyTheLinkGoesWithItsEntry) {
    root.write("/var/tuxbox/Tresk/origineel.srt", sample("film.srt"));
    fs::create_directory(root.host("/var/tuxbox/Tresk/map"));
    fs::create_symlink("../origineel.srt", root.host(subtitle_path("link.srt")));
    fs::create_symlink("../weg.srt", root.host(subtitle_path("los.srt")));
    fs::create_symlink("../map", root.host(subtitle_path("map.srt")));
    menu_convert_dropped_files();
    EXPECT_TRUE(made_from_now("link.srt"));

    EXPECT_EQ(library_delete_subtitle_file(subtitle_path("link.tkx").c_str()), 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"los.srt", "map.srt"}));
    EXPECT_EQ(root.read("/var/tuxbox/Tresk/origineel.srt"), sample("film.srt"));
}

// Any name the file system takes converts, is converted again when replaced, goes
// with its entry, and lists and loads.
TEST_F(DropInFiles, AnyNameTheFileSystemTakesConvertsAndGoesWithItsEntry) {
    const std::string longest = std::string(247, 'a') + ".srt";  // 251 bytes
    const std::vector<std::pair<std::string, std::string>> sources = {
        {longest, std::string(247, 'a') + ".tkx"},
        {std::string(236, 'b') + ".srt", std::string(236, 'b') + ".tkx"},  // more than 200
        {".srt", ".srt.tkx"},                                              // listed as ".srt"
        {"tab\there; new\nline \\ back.srt", "tab\there; new\nline \\ back.tkx"},
        {"Amélie (2001) ČZ.srt", "Amélie (2001) ČZ.tkx"},
        {"geen punt", "geen punt.tkx"},
    };
    for (const auto& [source, converted] : sources)
        root.write_subtitles(source, sample("film.srt"));
    menu_convert_dropped_files();
    for (const auto& [source, converted] : sources) {
        ASSERT_TRUE(exists(converted)) << source;
        EXPECT_TRUE(names_source(converted, source)) << source;
        EXPECT_TRUE(made_from_now(converted, source)) << source;
    }
    EXPECT_EQ(names().size(), 2 * sources.size()) << "a temporary file was left behind";

    for (const auto& [source, converted] : sources) {
        root.write_subtitles(source, sample("film_corrected.srt"));
    }
    menu_convert_dropped_files();
    for (const auto& [source, converted] : sources) {
        EXPECT_TRUE(made_from_now(converted, source)) << source;
    }

    for (const auto& [source, converted] : sources) {
        if (source == longest) continue;
        EXPECT_EQ(library_delete_subtitle_file(subtitle_path(converted).c_str()), 0) << source;
    }
    EXPECT_EQ(names(), (std::vector<std::string>{longest, std::string(247, 'a') + ".tkx"}));
    EXPECT_EQ(menu({}), 0);
    EXPECT_EQ(loaded(), "De veerboot vertrekt om half zeven.");
}

// A name whose converted file's name would be longer than the file system takes is
// refused with the reason; the status line shortens the name, never its own count.
TEST_F(DropInFiles, ANameTooLongForItsConvertedFileIsRefusedAndTheCountStaysWhole) {
    // Wide letters first: the line names the first.
    const std::vector<std::string> sources = {std::string(255, 'W'), std::string(252, 'a'),
                                              std::string(252, 'm') + ".nl"};
    for (const std::string& source : sources) root.write_subtitles(source, sample("film.srt"));
    testing::internal::CaptureStdout();
    menu_convert_dropped_files();
    const std::string log = testing::internal::GetCapturedStdout();
    for (const std::string& source : sources) {
        EXPECT_NE(log.find(source + ": name too long\n"), std::string::npos) << log;
    }
    EXPECT_EQ(names().size(), sources.size());
    const std::string shown = "WWWWWWWWWWWWWW\u2026WWWWWW: naam te lang (+2)";
    EXPECT_TRUE(status_reads(shown));
    // The whole of it is drawn: without its last character it looks otherwise.
    EXPECT_NE(strip_showing(shown), strip_showing(shown.substr(0, shown.size() - 1)));
}

// Drop-in files aligned to the box's recordings of the same film.
namespace {

constexpr const char* kMovieDir = "/media/hdd/movie/";

std::string bytes_text(const testsup::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Thousandths of the copy's genuine cues that the converted text starts within 100 ms
// of where they belong in the recording, which starts lead_ms before the film.
int placed_permille(testsup::Distorted copy, const std::string& converted_text, int64_t lead_ms) {
    for (int64_t& b : copy.belongs) b += b < 0 ? 0 : lead_ms;
    return testsup::converted_placed_permille(copy, converted_text, 100);
}

class DropInRecordings : public DropInFiles {
  protected:
    const std::vector<conv::TimeSpan> film = testsup::film_times(300, 7);
    // A copy at another frame rate and offset, as downloaded.
    const testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[3], 8);
    const testsup::RecordingPlan plan;  // DVB subtitles, the film 95 s in

    conv::ConvertedFrom header_of(const std::string& converted) const {
        return conv::converted_from_header(first_line(root.read(subtitle_path(converted))));
    }
    // The text the plain conversion of the copy gives, header left out.
    std::string unaligned_body() const {
        std::string text;
        conv::ConvertReport report;
        const std::string srt = testsup::subrip(copy.cues);
        conv::convert_subtitles({reinterpret_cast<const uint8_t*>(srt.data()), srt.size()}, {},
                                text, report);
        return text.substr(text.find('\n'));
    }
    std::string body_of(const std::string& converted) const {
        const std::string text = root.read(subtitle_path(converted));
        return text.substr(text.find('\n'));
    }
};

}  // namespace

// A file named after the title of a recording is aligned to its subtitles, says so,
// is not read again with nothing new, and is aligned again when replaced.
TEST_F(DropInRecordings, ADroppedFileIsAlignedToTheRecordingOfItsTitle) {
    const std::string recording = std::string(kMovieDir) + "20261207 2015 - NPO 1 - film.ts";
    root.write(recording, bytes_text(testsup::recording(film, plan)));
    // Another title, and one that only ends like it.
    root.write(std::string(kMovieDir) + "20261201 2030 - NPO 2 - Ander.ts", "not read");
    root.write(std::string(kMovieDir) + "Superfilm.ts", "not read");
    root.write_subtitles("Film.srt", testsup::subrip(copy.cues));

    menu_convert_dropped_files();
    ASSERT_TRUE(exists("Film.tkx"));
    EXPECT_GE(placed_permille(copy, root.read(subtitle_path("Film.tkx")), plan.lead_ms), 980);
    const conv::ConvertedFrom from = header_of("Film.tkx");
    EXPECT_EQ(from.sync_reference, recording);
    EXPECT_TRUE(from.only_sync_option) << from.options;
    EXPECT_TRUE(status_reads("Film.srt: uitgelijnd op opname"));

    // Nothing new: neither the recording nor the converted file is opened again.
    sim::fail_call("open", EIO, -1, kMovieDir);
    sim::fail_call("fopen", EIO, -1, kSubtitleDirPath);
    const int faults = sim::faults_injected();
    fb_clear_status();
    menu_convert_dropped_files();
    EXPECT_EQ(sim::faults_injected(), faults);
    EXPECT_TRUE(status_reads(""));
    sim::clear_faults();

    // Replaced, the file is the drop-in's own: converted and aligned again.
    root.write_subtitles("Film.srt", testsup::subrip(copy.cues) + "\n");
    menu_convert_dropped_files();
    ASSERT_TRUE(header_of("Film.tkx").source_stamp.has_value());
    EXPECT_EQ(header_of("Film.tkx").source_stamp->size,
              static_cast<int64_t>(fs::file_size(root.host(subtitle_path("Film.srt")))));
    EXPECT_EQ(header_of("Film.tkx").sync_reference, recording);
    EXPECT_GE(placed_permille(copy, root.read(subtitle_path("Film.tkx")), plan.lead_ms), 980);

    // A file aligned by hand with more options is the viewer's: never replaced.
    const std::string by_hand = "[KTF2: 1 0 converted from Film.srt; --wrap 30 --sync-to " +
                                recording.substr(0, recording.find(' ')) + "]\n{25}{75}a\n";
    root.write_subtitles("Film.tkx", by_hand);
    root.write_subtitles("Film.srt", testsup::subrip(copy.cues));
    menu_convert_dropped_files();
    EXPECT_EQ(root.read(subtitle_path("Film.tkx")), by_hand);
}

// What becomes of a file whose recording cannot help: converted as it is, and the
// status line says why, except when the recording simply has no subtitles.
TEST_F(DropInRecordings, ARecordingThatCannotHelpLeavesTheFileUnaligned) {
    testsup::RecordingPlan no_subtitles = plan;
    no_subtitles.dvb = false;
    testsup::RecordingPlan teletext = plan;
    teletext.dvb = false;
    teletext.teletext = true;
    struct Case {
        const char* name;
        std::string recording_path;  // the name matching film.srt
        testsup::Bytes recording;
        std::string shown;  // "" for the icons alone
        bool aligned;
        bool open_fails = false;
    };
    const std::vector<Case> cases = {
        {"no subtitle stream", std::string(kMovieDir) + "film.ts",
         testsup::recording(film, no_subtitles), "", false},
        {"another film", std::string(kMovieDir) + "FILM.ts",
         testsup::recording(testsup::film_times(300, 99), plan),
         "film.srt: niet uitgelijnd, opname past niet", false},
        {"cannot be opened", std::string(kMovieDir) + "film.ts", testsup::recording(film, plan),
         "film.srt: opname niet te lezen", false, true},
        // The box's other recording directory, teletext, a language code in the name.
        {"teletext in /hdd/movie", "/hdd/movie/film.ts", testsup::recording(film, teletext),
         "film.nl.srt: uitgelijnd op opname", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        root.write(c.recording_path, bytes_text(c.recording));
        const std::string source = c.aligned ? "film.nl.srt" : "film.srt";
        root.write_subtitles(source, testsup::subrip(copy.cues));
        if (c.open_fails) sim::fail_call("open", EIO, 1, c.recording_path);
        menu_convert_dropped_files();
        sim::clear_faults();
        const std::string converted = c.aligned ? "film.nl.tkx" : "film.tkx";
        ASSERT_TRUE(exists(converted));
        const std::vector<uint32_t> shown = status_strip();
        if (c.shown.empty()) {
            fb_clear_status();
            fb_show_icons();
        } else {
            fb_show_status(c.shown.c_str());
        }
        EXPECT_TRUE(shown == status_strip())
            << "the status line does not read \"" << c.shown << "\"";
        if (c.aligned) {
            EXPECT_EQ(header_of(converted).sync_reference, c.recording_path);
            EXPECT_GE(placed_permille(copy, root.read(subtitle_path(converted)), plan.lead_ms),
                      980);
        } else {
            EXPECT_TRUE(header_of(converted).options.empty()) << header_of(converted).options;
            EXPECT_EQ(body_of(converted), unaligned_body());
        }
        fs::remove(root.host(c.recording_path));
        fs::remove(root.host(subtitle_path(source)));
        fs::remove(root.host(subtitle_path(converted)));
    }

    // EXIT stops the reading, and no other recording is read in the same pass: both
    // files are converted as they are.
    for (const std::string name : {"a", "b"}) {
        root.write(kMovieDir + name + ".ts", bytes_text(testsup::recording(film, plan)));
        root.write_subtitles(name + ".srt", testsup::subrip(copy.cues));
    }
    testsup::queue({KEY_EXIT});
    menu_convert_dropped_files();
    EXPECT_TRUE(status_reads("a.srt: uitlijnen afgebroken (+1)"));
    for (const std::string name : {"a", "b"}) {
        EXPECT_EQ(body_of(name + ".tkx"), unaligned_body()) << name;
        EXPECT_TRUE(header_of(name + ".tkx").options.empty()) << name;
    }
}

// The status line names a file that could not be converted before one whose alignment
// went wrong, and that before one aligned; "(+N)" counts the other files that went as
// wrong as the one named, never one aligned nor a source of a name converted from
// another source, which is deleted with the entry all the same.
TEST_F(DropInRecordings, TheStatusLineCountsOnlyWhatWentWrongWithNothingListed) {
    const std::string fits = bytes_text(testsup::recording(film, plan));
    const std::string other = bytes_text(testsup::recording(testsup::film_times(300, 99), plan));
    for (const std::string name : {"Aap", "Ander", "Beter", "Cadeau"}) {
        root.write(kMovieDir + name + ".ts", name == "Aap" ? fits : other);
    }
    for (const std::string name : {"Aap", "Ander", "Beter"}) {
        root.write_subtitles(name + ".srt", testsup::subrip(copy.cues));
    }
    menu_convert_dropped_files();
    EXPECT_TRUE(status_reads("Ander.srt: niet uitgelijnd, opname past niet (+1)"));

    root.write_subtitles("Cadeau.srt", testsup::subrip(copy.cues));
    root.write_subtitles("dboth.srt", "");  // in no format, and dboth.vtt converts
    root.write_subtitles("dboth.vtt", sample("film.vtt"));
    root.write_subtitles("kapot.vtt", sample("no_cues.vtt"));
    menu_convert_dropped_files();
    EXPECT_TRUE(made_from_now("dboth.vtt"));
    EXPECT_TRUE(status_reads("kapot.vtt: geen ondertitels gevonden"));

    EXPECT_EQ(library_delete_subtitle_file(subtitle_path("dboth.tkx").c_str()), 0);
    for (const std::string& name : names()) EXPECT_FALSE(name.starts_with("dboth")) << name;
}

// Of several recordings of the title, the newest by the date in the box's name is read
// first, then the next until one fits (one that cannot be read is passed over too); a
// name without a date comes after the dated ones, the newer file first; the file's own
// name comes before any title; three at most are read, and EXIT stops the reading.
TEST_F(DropInRecordings, RecordingsOfTheTitleAreTriedNewestFirstUntilOneFits) {
    const std::string fits = bytes_text(testsup::recording(film, plan));
    const std::string other = bytes_text(testsup::recording(testsup::film_times(300, 99), plan));
    struct Recording {
        std::string name;
        bool fits;
        time_t modified;
        bool unreadable = false;
    };
    struct Case {
        const char* what;
        std::vector<Recording> recordings;
        std::string aligned_to;  // "" for none
        bool exit = false;
    };
    const std::string newest = "20261207 2015 - NPO 1 - film.ts";
    const std::string older = "20261201 2030 - NPO 2 - film.ts";
    const std::vector<Case> cases = {
        {"by the date, not the file's time",
         {{newest, true, 1100000000}, {older, true, 1300000000}},
         newest},
        {"the newest does not fit",
         {{newest, false, 1300000000}, {older, true, 1100000000}},
         older},
        {"the newest cannot be read",
         {{newest, true, 1300000000, true}, {older, true, 1100000000}},
         older},
        {"dated before undated",
         {{"NPO 3 - film.ts", true, 1300000000}, {older, true, 1000}},
         older},
        {"undated by the file's time",
         {{"NPO 3 - film.ts", true, 1200000000}, {"Herhaling - film.ts", true, 1300000000}},
         "Herhaling - film.ts"},
        {"the file's own name first",
         {{"film.ts", true, 1000}, {newest, true, 1300000000}},
         "film.ts"},
        {"three at most",
         {{newest, false, 1000},
          {older, false, 1000},
          {"20261101 2030 - NPO 2 - film.ts", false, 1000},
          {"20261001 2030 - NPO 2 - film.ts", true, 1000}},
         ""},
        {"EXIT", {{newest, false, 1000}, {older, true, 1000}}, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const Recording& r : c.recordings) {
            root.write(kMovieDir + r.name, r.fits ? fits : other);
            set_modified(root.host(kMovieDir + r.name), r.modified);
            if (r.unreadable) sim::fail_call("open", EIO, 1, r.name);
        }
        root.write_subtitles("film.srt", testsup::subrip(copy.cues));
        if (c.exit) testsup::queue({KEY_EXIT});
        menu_convert_dropped_files();
        sim::clear_faults();
        const std::string reference = c.aligned_to.empty() ? "" : kMovieDir + c.aligned_to;
        EXPECT_EQ(header_of("film.tkx").sync_reference, reference);
        EXPECT_TRUE(status_reads(!reference.empty() ? "film.srt: uitgelijnd op opname"
                                 : c.exit           ? "film.srt: uitlijnen afgebroken"
                                          : "film.srt: niet uitgelijnd, opname past niet"));
        for (const Recording& r : c.recordings) fs::remove(root.host(kMovieDir + r.name));
        fs::remove(root.host(subtitle_path("film.srt")));
        fs::remove(root.host(subtitle_path("film.tkx")));
    }
}

// A two-hour film's recording is first read in pieces, a sixteenth of it (and another
// when that is not enough), and aligned to by the starts of its subtitles; only when
// that does not stand (a split, whose place between two pieces is not known) is it
// read whole. Either way the file lands
// where it belongs. Noise between the pieces changes nothing: they are all that is
// read then.
TEST_F(DropInFiles, ARecordingIsReadInPiecesWhenTheyTellEnough) {
    const std::vector<conv::TimeSpan> film = testsup::film_times(1500, 7);
    const testsup::RecordingPlan plan;
    const testsup::Bytes clean = testsup::recording(film, plan);
    testsup::Bytes noisy(clean.size());
    testsup::Random random(3);
    for (uint8_t& b : noisy) b = static_cast<uint8_t>(random.next());
    for (const conv::FilePiece& p : conv::recording_pieces(static_cast<int64_t>(clean.size()), 0)) {
        std::copy_n(clean.begin() + p.offset, p.length, noisy.begin() + p.offset);
    }
    const struct {
        const char* name;
        size_t distortion;
        const testsup::Bytes* recording;
        bool whole;  // read whole after the pieces
    } cases[] = {
        {"an offset", 0, &clean, false},
        {"another frame rate", 3, &clean, false},
        {"noise between the pieces", 0, &noisy, false},
        {"two breaks", 8, &clean, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const testsup::Distorted copy =
            testsup::distort(film, testsup::kDistortions[c.distortion], 11);
        root.write(std::string(kMovieDir) + "film.ts", bytes_text(*c.recording));
        root.write_subtitles("film.srt", testsup::subrip(copy.cues));
        const int64_t before = sim::file_bytes_read();
        menu_convert_dropped_files();
        const int64_t read = sim::file_bytes_read() - before;
        EXPECT_TRUE(status_reads("film.srt: uitgelijnd op opname"));
        EXPECT_GE(placed_permille(copy, root.read(subtitle_path("film.tkx")), plan.lead_ms), 980);
        const int64_t size = static_cast<int64_t>(c.recording->size());
        if (c.whole) {
            EXPECT_GT(read, size);
        } else {
            EXPECT_LE(read * 100, size * 15) << read << " of " << size << " bytes read";
        }
        fs::remove(root.host(subtitle_path("film.tkx")));
        fs::remove(root.host(subtitle_path("film.srt")));
    }
}

// The evening through the simulator: the box has recorded the film, the viewer copies
// a subtitle file of another release into the subtitle directory and starts the
// player; the file is aligned to the recording, loads, and the status line says so.
TEST(DropInSim, ASubtitleFileIsAlignedToTheRecordingOfTheFilm) {
    testsup::box_root root(testsup::dejavu_condensed());
    const std::vector<conv::TimeSpan> film = testsup::film_times(300, 11);
    const testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[8], 12);
    const testsup::RecordingPlan plan;
    root.write(std::string(kMovieDir) + "De veerboot.ts",
               bytes_text(testsup::recording(film, plan)));
    root.write_subtitles("De veerboot.srt", testsup::subrip(copy.cues));
    simtest::scratch_dir dir;
    const std::string keys = dir.file("k");
    std::ofstream(keys) << "wait 3000\nsnap " << dir.file("aligned.png")
                        << "\npress OK\nwait 300\npress EXIT\nwait 300\npress GREEN\n";
    const simtest::run_result r = simtest::run_sim({"--headless", "--root", root.path(), "--keys",
                                                    keys, "--mode", "720x576", "--timeout", "60"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("De veerboot.srt: SubRip"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("; aligned to /media/hdd/movie/De veerboot.ts: offset "),
              std::string::npos)
        << r.out;
    EXPECT_GE(placed_permille(copy, root.read(subtitle_path("De veerboot.tkx")), plan.lead_ms),
              980);

    uint32_t w = 0, h = 0;
    std::vector<uint32_t> px;
    ASSERT_TRUE(simtest::read_png_argb(dir.file("aligned.png"), w, h, px));
    size_t ink = 0;  // the message at the left of the status strip
    for (uint32_t y = 50; y < 82 && y < h; ++y) {
        for (uint32_t x = 40; x < 400 && x < w; ++x) ink += (px[size_t{y} * w + x] >> 24) != 0;
    }
    EXPECT_GT(ink, 300u);
}
