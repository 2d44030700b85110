// lumetra-convert --sync-to run as a program: a distorted SubRip file aligned to the
// file it came from, a reference that does not match refused (and written unaligned
// with --force), and references that cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "conv/convert.h"
#include "tests/support/sim_support.h"
#include "tests/support/sync_samples.h"
#include "tests/support/ts_samples.h"

namespace fs = std::filesystem;

namespace {

using Result = simtest::run_result;

Result convert(const std::vector<std::string>& args) {
    return simtest::run_convert(args, 60000);
}

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

conv::ConvertedFrom header_of(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return conv::converted_from_header(line);
}

// Thousandths of the copy's cues that the converted file at path starts within
// tolerance_ms of where they belong.
int placed_permille(const testsup::Distorted& copy, const std::string& path, int64_t tolerance_ms) {
    return testsup::converted_placed_permille(copy, testsup::file_text(path), tolerance_ms);
}

TEST(SyncTool, AlignsRefusesAndForces) {
    simtest::scratch_dir dir;
    const std::vector<conv::TimeSpan> film = testsup::film_times(600, 21);
    const testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[11], 22);
    const testsup::Distorted unrelated =
        testsup::distort(testsup::film_times(600, 23), testsup::kDistortions[0], 24);
    write(dir.file("film.en.srt"), testsup::subrip(film));
    write(dir.file("film.srt"), testsup::subrip(copy.cues));
    write(dir.file("other.srt"), testsup::subrip(unrelated.cues));
    const std::string out = dir.file("film.tkx");
    const std::string other_out = dir.file("other.tkx");

    // Aligned: ratio, two breaks and the rest undone; the summary says what was done.
    Result r = convert({"--sync-to", dir.file("film.en.srt"), dir.file("film.srt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("; aligned to " + dir.file("film.en.srt") + ": offset "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(", ratio 23.976/25, 2 splits ("), std::string::npos) << r.err;
    // Frames of 40 ms round the times by up to 20 ms.
    EXPECT_GE(placed_permille(copy, out, 120), 980);
    // The header names the reference, so that a file aligned by hand is never taken
    // for a plain conversion.
    EXPECT_EQ(header_of(out).sync_reference, dir.file("film.en.srt"));

    // No match: nothing written, one line, exit 1.
    r = convert({"--sync-to", dir.file("film.en.srt"), dir.file("other.srt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, dir.file("other.srt") + ": no reliable match: left as it was\n");
    EXPECT_FALSE(fs::exists(other_out));

    // --force writes it as it was, still exit 1.
    r = convert({"--sync-to", dir.file("film.en.srt"), "--force", dir.file("other.srt")});
    EXPECT_EQ(r.status, 1);
    // The summary of what was written, with the refusal at its end.
    EXPECT_NE(r.err.find(" dropped"), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.ends_with("; no reliable match: left as it was\n")) << r.err;
    testsup::Distorted as_it_was = unrelated;
    for (size_t i = 0; i < as_it_was.cues.size(); ++i)
        as_it_was.belongs[i] = as_it_was.cues[i].start_ms;
    EXPECT_EQ(placed_permille(as_it_was, other_out, 20), 1000);
    EXPECT_EQ(header_of(other_out).options, "");
}

// The player's own file is a reference like the file it was made from; the frames
// (40 ms) its header puts before every subtitle count.
TEST(SyncTool, PlayerFileAsReference) {
    simtest::scratch_dir dir;
    const std::vector<conv::TimeSpan> film = testsup::film_times(600, 31);
    testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[11], 32);
    write(dir.file("film.en.srt"), testsup::subrip(film));
    write(dir.file("film.srt"), testsup::subrip(copy.cues));
    ASSERT_EQ(convert({dir.file("film.en.srt"), "-o", dir.file("reference.tkx")}).status, 0);
    // The same subtitles shown 10 s later: 250 frames before each.
    const std::string made = testsup::file_text(dir.file("reference.tkx"));
    const std::string count = made.substr(7, made.find(' ', 7) - 7);
    write(dir.file("later.tkx"), "[KTF2: " + count + " 250 ]" + made.substr(made.find('\n')));
    for (const auto& [reference, later_ms] :
         {std::pair<std::string, int64_t>{"reference.tkx", 0}, {"later.tkx", 10000}}) {
        SCOPED_TRACE(reference);
        fs::remove(dir.file("film.tkx"));
        const Result r = convert({"--sync-to", dir.file(reference), dir.file("film.srt")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("; aligned to " + dir.file(reference) + ": offset "),
                  std::string::npos)
            << r.err;
        testsup::Distorted shifted = copy;
        for (int64_t& b : shifted.belongs) b += b < 0 ? 0 : later_ms;
        EXPECT_GE(placed_permille(shifted, dir.file("film.tkx"), 120), 980);
    }
}

// Everything after a converted file's header.
std::string body_of(const std::string& path) {
    const std::string text = testsup::file_text(path);
    return text.substr(std::min(text.size(), text.find('\n') + 1));
}

// A file already in sync comes out as a plain conversion would; --dry-run says what
// would be done, aligned or refused, and writes nothing.
TEST(SyncTool, AlreadyInSyncAndDryRun) {
    simtest::scratch_dir dir;
    const std::vector<conv::TimeSpan> film = testsup::film_times(300, 51);
    write(dir.file("film.en.srt"), testsup::subrip(film));
    const testsup::Distortion in_sync{"", 1, 1, 0};
    write(dir.file("film.srt"), testsup::subrip(testsup::distort(film, in_sync, 52).cues));
    write(dir.file("late.srt"),
          testsup::subrip(testsup::distort(film, testsup::kDistortions[0], 53).cues));
    write(dir.file("other.srt"), testsup::subrip(testsup::film_times(300, 54)));

    Result r = convert({"--sync-to", dir.file("film.en.srt"), dir.file("film.srt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(": offset +0.000 s, ratio 1, 0 splits, score "), std::string::npos)
        << r.err;
    EXPECT_TRUE(r.err.ends_with(" %, already in sync\n")) << r.err;
    EXPECT_EQ(convert({dir.file("film.srt"), "-o", dir.file("plain.tkx")}).status, 0);
    EXPECT_EQ(body_of(dir.file("film.tkx")), body_of(dir.file("plain.tkx")));

    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;
    } dry_runs[] = {
        {{"--dry-run", "--sync-to", dir.file("film.en.srt"), dir.file("late.srt")},
         0,
         "; aligned to " + dir.file("film.en.srt") + ": offset -37."},
        {{"--sync-to", dir.file("film.en.srt"), "--dry-run", "-o", "-", dir.file("late.srt")},
         0,
         ", confidence "},
        {{"--dry-run", "--sync-to", dir.file("film.en.srt"), dir.file("other.srt")},
         1,
         dir.file("other.srt") + ": no reliable match: left as it was"},
        {{"--dry-run", dir.file("other.srt")}, 0, " read, 300 written, "},
    };
    for (const auto& d : dry_runs) {
        SCOPED_TRACE(d.args.back());
        r = convert(d.args);
        EXPECT_EQ(r.status, d.status) << r.err;
        EXPECT_NE(r.err.find(d.says), std::string::npos) << r.err;
        EXPECT_TRUE(r.err.ends_with(" (dry run: nothing written)\n")) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dir.file("late.tkx")));
        EXPECT_FALSE(fs::exists(dir.file("other.tkx")));
    }
}

void write(const std::string& path, const testsup::Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

TEST(SyncTool, RecordingAsReference) {
    simtest::scratch_dir dir;
    const std::vector<conv::TimeSpan> film = testsup::film_times(600, 41);
    testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[11], 42);
    write(dir.file("film.srt"), testsup::subrip(copy.cues));
    testsup::RecordingPlan teletext;
    teletext.dvb = false;
    teletext.teletext = true;
    testsup::Bytes damaged = testsup::recording(film, teletext);
    for (size_t at = 188 * 1000; at + 188 <= damaged.size(); at += 188 * 997) damaged[at] = 0;
    testsup::RecordingPlan no_map;
    no_map.pmt = false;
    for (int64_t& b : copy.belongs) b += b < 0 ? 0 : teletext.lead_ms;
    const std::string out = dir.file("film.tkx");
    const struct {
        const char* name;
        testsup::Bytes recording;
        std::string first_line;  // its start after "lumetra-convert: film.ts: "
        std::string also;        // and what else it says
        int status;
    } cases[] = {
        {"DVB subtitles", testsup::recording(film, {}),
         "DVB subtitles page 1 (nld, PID 0x0103), 600 subtitles", "", 0},
        // A subtitle lost with the packets that carried it.
        {"damaged teletext", damaged, "teletext page 888 (nld, PID 0x0104), 59",
         " subtitles (damaged: 4512 bytes out of sync, ", 0},
        {"no program map", testsup::recording(film, no_map),
         "no program map table: the recording is damaged", "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(out);
        write(dir.file("film.ts"), c.recording);
        const Result r = convert({"--sync-to", dir.file("film.ts"), dir.file("film.srt")});
        EXPECT_EQ(r.status, c.status) << r.err;
        const std::string line = r.err.substr(0, r.err.find('\n'));
        EXPECT_EQ(line.rfind("lumetra-convert: " + dir.file("film.ts") + ": " + c.first_line, 0),
                  0u)
            << r.err;
        EXPECT_NE(line.find(c.also), std::string::npos) << line;
        if (c.status != 0) {
            EXPECT_EQ(r.err, line + "\n");
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        EXPECT_NE(r.err.find("; aligned to " + dir.file("film.ts") + ": offset "),
                  std::string::npos)
            << r.err;
        EXPECT_GE(placed_permille(copy, out, 120), 980);
    }
}

TEST(SyncTool, UnreadableReferenceWritesNothing) {
    simtest::scratch_dir dir;
    write(dir.file("film.srt"), testsup::subrip(testsup::film_times(50, 1)));
    write(dir.file("notes.txt"), "nothing with a time in it\n");
    write(dir.file("kapot.tkx"), "[KTF2: 2 0 ]\n{25}{75}een\ntwee\n");
    const struct {
        std::string reference;
        std::string says;
    } cases[] = {
        {dir.file("missing.srt"), "cannot read the file"},
        {dir.file("notes.txt"), "no subtitle format recognised"},
        {dir.file("kapot.tkx"), "line 3: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reference);
        const Result r = convert({"--sync-to", c.reference, dir.file("film.srt")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("lumetra-convert: " + c.reference + ": " + c.says, 0), 0u) << r.err;
        EXPECT_FALSE(fs::exists(dir.file("film.tkx")));
    }
    EXPECT_EQ(convert({dir.file("film.srt"), "--sync-to"}).status, 2);
    EXPECT_EQ(convert({"--sync-to", "", dir.file("film.srt")}).status, 2);
}

}  // namespace
