// The subtitle library's pass as a caller other than the file menu sees it: progress
// through the callback, the outcome as data, nothing drawn, and a stop from the
// callback. What the menu shows of it is tested by test_drop_in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "conv/convert.h"
#include "library/library.h"
#include "sim/model.h"
#include "tests/support/menu_support.h"
#include "tests/support/sync_samples.h"
#include "tests/support/ts_samples.h"

namespace {

constexpr const char* kSubtitleDir = "/var/tuxbox/Tresk/tit/";
constexpr const char* kMovieDir = "/media/hdd/movie/";

std::string sample(const std::string& name) {
    std::ifstream in(std::string(LUMETRA_SOURCE_DIR) + "/tests/samples/drop_in/" + name,
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What the callback was told, a run of reports of one step and name as one.
struct report {
    library_step step;
    std::string name;
    bool operator==(const report&) const = default;
};

// The status strip, where the menu's pass draws.
std::vector<uint32_t> status_strip() {
    std::vector<uint32_t> out;
    for (int y = 50; y < 82; ++y) {
        for (int x = 40; x <= 670; ++x) out.push_back(testsup::pixel(x, y));
    }
    return out;
}

class Library : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    const std::vector<conv::TimeSpan> film = testsup::film_times(300, 7);
    const testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[3], 8);
    void SetUp() override { ASSERT_TRUE(testsup::open_menu_box(root)); }
    void TearDown() override { testsup::close_menu_box(); }

    void add_recording(const std::string& name) const {
        const testsup::Bytes bytes = testsup::recording(film, testsup::RecordingPlan{});
        root.write(kMovieDir + name, std::string(bytes.begin(), bytes.end()));
    }
    conv::ConvertedFrom header_of(const std::string& converted) const {
        const std::string text = root.read(kSubtitleDir + converted);
        return conv::converted_from_header(text.substr(0, text.find('\n')));
    }
};

}  // namespace

// One file aligned and one that cannot be converted: the callback hears each step in
// order, reading with a percentage that only grows, and the failure and the alignment
// come back as data with their texts, while the screen stays as it was. A second pass
// with nothing new tells nothing.
TEST_F(Library, APassReportsItsStepsAndOutcomeAndDrawsNothing) {
    add_recording("film.ts");
    root.write_subtitles("film.srt", testsup::subrip(copy.cues));
    root.write_subtitles("kapot.vtt", sample("no_cues.vtt"));
    const std::vector<uint32_t> before = status_strip();

    std::vector<report> reports;
    std::vector<int> percents;
    const library_pass pass = library_convert_dropped_files([&](const library_progress& p) {
        if (p.step == library_step::reading) percents.push_back(p.percent);
        const report r{p.step, std::string(p.name)};
        if (reports.empty() || !(reports.back() == r)) reports.push_back(r);
        return false;
    });

    const std::string recording = std::string(kMovieDir) + "film.ts";
    EXPECT_EQ(reports, (std::vector<report>{{library_step::converting, "film.srt"},
                                            {library_step::reading, recording},
                                            {library_step::aligning, recording},
                                            {library_step::converting, "kapot.vtt"}}));
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.front(), 0);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_LE(percents.back(), 99);

    EXPECT_TRUE(pass.tried);
    EXPECT_EQ(pass.failures, 1);
    EXPECT_EQ(pass.first_failed, "kapot.vtt");
    EXPECT_EQ(library_failure_text(pass.first_error), "geen ondertitels gevonden");
    EXPECT_EQ(pass.misalignments, 0);
    EXPECT_EQ(pass.first_aligned, "film.srt");
    EXPECT_EQ(header_of("film.tkx").sync_reference, recording);
    EXPECT_TRUE(status_strip() == before) << "the pass drew on the screen";

    reports.clear();
    const library_pass again = library_convert_dropped_files([&](const library_progress& p) {
        reports.push_back({p.step, std::string(p.name)});
        return false;
    });
    EXPECT_TRUE(reports.empty());
    EXPECT_FALSE(again.tried);
    EXPECT_EQ(again.failures, 0);
    EXPECT_TRUE(again.first_aligned.empty());
}

// A callback that asks to stop at every report stops only the reading: the first
// recording is left after its first report, the second is never opened, and both
// files are converted as they are, reported as stopped.
TEST_F(Library, AStopFromTheCallbackStopsTheReadingForTheWholePass) {
    for (const std::string name : {"a", "b"}) {
        add_recording(name + ".ts");
        root.write_subtitles(name + ".srt", testsup::subrip(copy.cues));
    }
    std::vector<std::string> read;
    const library_pass pass = library_convert_dropped_files([&](const library_progress& p) {
        if (p.step == library_step::reading) read.emplace_back(p.name);
        return true;
    });
    EXPECT_EQ(read, std::vector<std::string>{std::string(kMovieDir) + "a.ts"});
    EXPECT_TRUE(pass.alignment_stopped);
    EXPECT_EQ(pass.misalignments, 2);
    EXPECT_EQ(pass.first_misaligned, "a.srt");
    EXPECT_EQ(pass.misalignment, library_alignment::stopped);
    EXPECT_EQ(library_alignment_text(pass.misalignment), "uitlijnen afgebroken");
    for (const std::string name : {"a", "b"}) {
        EXPECT_TRUE(header_of(name + ".tkx").converted) << name;
        EXPECT_TRUE(header_of(name + ".tkx").options.empty()) << name;
    }
}

// A stop asked while the cues are aligned ends the alignment there: the callback is
// not asked again for that recording, no other recording is read in the pass, and
// both files are converted as they are, reported as stopped. Aligning asks often
// enough for a stop after several reports to be heard.
TEST_F(Library, AStopWhileAligningStopsTheAlignmentForTheWholePass) {
    for (const int stop_at : {1, 2, 6}) {
        SCOPED_TRACE(stop_at);
        for (const std::string name : {"a", "b"}) {
            add_recording(name + ".ts");
            root.write_subtitles(name + ".srt", testsup::subrip(copy.cues));
        }
        std::vector<std::string> read;
        int aligning = 0;
        const library_pass pass = library_convert_dropped_files([&](const library_progress& p) {
            if (p.step == library_step::reading &&
                (read.empty() || read.back() != std::string(p.name))) {
                read.emplace_back(p.name);
            }
            return p.step == library_step::aligning && ++aligning >= stop_at;
        });
        EXPECT_EQ(aligning, stop_at);
        EXPECT_EQ(read, std::vector<std::string>{std::string(kMovieDir) + "a.ts"});
        EXPECT_TRUE(pass.alignment_stopped);
        EXPECT_EQ(pass.misalignments, 2);
        EXPECT_EQ(pass.first_misaligned, "a.srt");
        EXPECT_EQ(pass.misalignment, library_alignment::stopped);
        EXPECT_TRUE(pass.first_aligned.empty());
        for (const std::string name : {"a", "b"}) {
            EXPECT_TRUE(header_of(name + ".tkx").converted) << name;
            EXPECT_TRUE(header_of(name + ".tkx").options.empty()) << name;
            std::filesystem::remove(root.host(kSubtitleDir + name + ".tkx"));
            std::filesystem::remove(root.host(kSubtitleDir + name + ".srt"));
        }
    }
}

// The alignment to a recording's pieces is part of its reading: its reports are the
// reading's (4 % after the first round of pieces, 9 % after the second; their reading
// reports less), and a stop there stops the pass as a stop while reading does: nothing
// is read or aligned after it.
TEST_F(Library, AStopWhileAligningToThePiecesStopsThePass) {
    for (const int stop_at : {4, 9}) {
        SCOPED_TRACE(stop_at);
        for (const std::string name : {"a", "b"}) {
            add_recording(name + ".ts");
            root.write_subtitles(name + ".srt", testsup::subrip(copy.cues));
        }
        std::vector<int> percents;
        int after_stop = 0;
        const library_pass pass = library_convert_dropped_files([&](const library_progress& p) {
            if (p.step == library_step::converting) return false;
            if (!percents.empty() && percents.back() == stop_at) ++after_stop;
            if (p.step == library_step::reading) percents.push_back(p.percent);
            return p.step == library_step::reading && p.percent == stop_at;
        });
        EXPECT_EQ(after_stop, 0);
        ASSERT_FALSE(percents.empty());
        EXPECT_EQ(percents.back(), stop_at);
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_TRUE(pass.alignment_stopped);
        EXPECT_EQ(pass.misalignment, library_alignment::stopped);
        for (const std::string name : {"a", "b"}) {
            EXPECT_TRUE(header_of(name + ".tkx").options.empty()) << name;
            std::filesystem::remove(root.host(kSubtitleDir + name + ".tkx"));
            std::filesystem::remove(root.host(kSubtitleDir + name + ".srt"));
        }
    }
}

// A file handed over is added under its own name, whole or not at all, never over a
// file there already nor under a name the library keeps for itself, and the next pass
// converts it.
TEST_F(Library, AFileHandedOverIsAddedWholeAndNeverReplacesOne) {
    const std::string srt = testsup::subrip(copy.cues);
    root.write_subtitles("film.srt", "the viewer's own");
    const struct {
        std::string name;
        size_t size;          // bytes of srt handed over; more are padded
        const char* refused;  // the text of the error; nullptr: added
    } cases[] = {
        {"nieuw.srt", srt.size(), nullptr},
        {"eigen.tkx", srt.size(), nullptr},
        {"film.srt", srt.size(), "naam al in gebruik"},
        {"../nieuw.srt", srt.size(), "ongeldige naam"},
        {"map/nieuw.srt", srt.size(), "ongeldige naam"},
        {std::string("nul\0.srt", 8), srt.size(), "ongeldige naam"},
        {"", srt.size(), "ongeldige naam"},
        {"..", srt.size(), "ongeldige naam"},
        {"tresk.qst", srt.size(), "ongeldige naam"},
        {".lumetra-drop-in.part", srt.size(), "ongeldige naam"},
        {"._nieuw.srt", srt.size(), "ongeldige naam"},
        {std::string(252, 'a') + ".srt", srt.size(), "naam te lang"},
        {"groot.srt", (4u << 20) + 1, "bestand te groot"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes(srt.begin(), srt.end());
        bytes.resize(c.size, '\n');
        std::string error;
        EXPECT_EQ(library_add_file(c.name, bytes, error), c.refused == nullptr) << c.name;
        if (c.refused != nullptr) {
            EXPECT_EQ(library_failure_text(error), c.refused) << c.name;
        }
    }
    sim::fail_call("rename", EIO, 1, ".part");
    std::string error;
    const std::vector<uint8_t> bytes(srt.begin(), srt.end());
    EXPECT_FALSE(library_add_file("mislukt.srt", bytes, error));
    EXPECT_EQ(library_failure_text(error), "niet op te slaan");
    sim::clear_faults();

    EXPECT_EQ(root.read(std::string(kSubtitleDir) + "film.srt"), "the viewer's own");
    EXPECT_EQ(root.read(std::string(kSubtitleDir) + "nieuw.srt"), srt);
    library_convert_dropped_files({});
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(root.host(kSubtitleDir))) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"eigen.tkx", "film.srt", "nieuw.srt", "nieuw.tkx"}));
}

// The converter's errors in the viewer's words: a line number only when it is one.
TEST(LibraryTexts, ErrorsReadAsTheViewerReadsThem) {
    const struct {
        const char* error;
        const char* text;
    } cases[] = {
        {"line 12: end before start", "fout in regel 12"},
        {"line 123456789: x", "fout in regel 123456789"},
        {"line 1234567890: x", "niet te lezen"},
        {"line : x", "niet te lezen"},
        {"file too large (5 MB)", "bestand te groot"},
        {"", "niet te lezen"},
    };
    for (const auto& c : cases) EXPECT_EQ(library_failure_text(c.error), c.text) << c.error;
}
