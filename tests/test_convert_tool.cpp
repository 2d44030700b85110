// lumetra-convert run as a program: options, output names, failures and exit
// status, --all, and the sample files giving the expected output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "conv/convert.h"
#include "tests/support/convert_samples.h"
#include "tests/support/sim_support.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSrt =
    "1\n00:00:01,000 --> 00:00:03,000\nEen heel lange regel die zeker gebroken moet worden\n\n"
    "2\n00:00:04,000 --> 00:00:05,000\n<i>Schuin</i>\n";
// Starts like a SubRip file but holds no cue that can be read.
constexpr std::string_view kBroken = "1\n00:00:01,000 --> 00:00:0";

struct result {
    int status = -1;
    std::string err;
};

result convert(const std::vector<std::string>& args) {
    std::vector<std::string> argv{LUMETRA_CONVERT_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    simtest::process p(argv);
    result r;
    if (p.wait(60000)) r.status = p.status();
    r.err = p.err();
    return r;
}

void write(const std::string& path, std::string_view bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> names(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// What the library makes of bytes with options, and the summary line for it.
std::string expected(std::string_view bytes, conv::ConvertOptions options,
                     const std::string& source, const std::string& shown, std::string* summary) {
    options.source_name = source;
    conv::ConvertReport report;
    std::string out;
    const int r = conv::convert_subtitles(
        {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, options, out, report);
    if (summary != nullptr) *summary = conv::summary_line(shown, r, report) + "\n";
    return out;
}

}  // namespace

TEST(ConvertTool, UsageErrorsWriteNothing) {
    simtest::scratch_dir dir;
    const std::string film = dir.file("film.srt");
    write(film, kSrt);
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--plain"},
        {"-o", dir.file("x.tkx"), film, film},
        {"-o", dir.file("x.tkx"), "--all", dir.path(), film},
        {"--fps", "fast", film},
        {"--fps", "0", film},
        {"--wrap", "0", film},
        {"--wrap", "12x", film},
        {"--offset", "nan", film},
        {"--bogus", film},
        {film, "--offset"},
    };
    for (const auto& args : cases) {
        const result r = convert(args);
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(r.status, 2) << shown << r.err;
        EXPECT_NE(r.err.find("usage: lumetra-convert"), std::string::npos) << shown << r.err;
        EXPECT_EQ(names(dir.path()), std::vector<std::string>{"film.srt"}) << shown;
    }
    EXPECT_EQ(convert({"--help"}).status, 0);
}

TEST(ConvertTool, WritesEachFileBesideItselfAndReportsEveryFile) {
    simtest::scratch_dir dir;
    const std::string film = dir.file("film.en.srt"), broken = dir.file("broken.srt");
    write(film, kSrt);
    write(broken, kBroken);
    const std::string missing = dir.file("missing.srt");

    // Options go through to the library as given; a failed file stops no other.
    const result r =
        convert({"--offset", "-0.5", "--wrap", "20", "--plain", broken, film, missing});
    EXPECT_EQ(r.status, 1) << r.err;
    conv::ConvertOptions options;
    options.offset_seconds = -0.5;
    options.wrap_width = 20;
    options.plain = true;
    std::string summary_broken, summary_film;
    expected(kBroken, options, "broken.srt", broken, &summary_broken);
    const std::string text = expected(kSrt, options, "film.en.srt", film, &summary_film);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(read(dir.file("film.en.tkx")), text);
    ASSERT_NE(r.err.find('\n'), std::string::npos);
    // Line by line: the broken file, the film, the missing file.
    EXPECT_EQ(r.err.substr(0, summary_broken.size()), summary_broken);
    EXPECT_EQ(r.err.substr(summary_broken.size(), summary_film.size()), summary_film);
    const std::string last = r.err.substr(summary_broken.size() + summary_film.size());
    EXPECT_EQ(std::count(last.begin(), last.end(), '\n'), 1) << last;
    EXPECT_NE(last.find(missing), std::string::npos) << last;
    // Nothing but the output: no temporary file left, nothing for the failures.
    EXPECT_EQ(names(dir.path()),
              (std::vector<std::string>{"broken.srt", "film.en.srt", "film.en.tkx"}));

    // -o, with a forced encoding; an output that is the input is refused.
    const std::string latin = "1\n00:00:01,000 --> 00:00:02,000\n\xe8\x9a\x9e\xf8\n";
    write(dir.file("cz.srt"), latin);
    ASSERT_EQ(convert({"--encoding", "WINDOWS-1250", "-o", dir.file("out.tkx"), dir.file("cz.srt")})
                  .status,
              0);
    conv::ConvertOptions cp1250;
    cp1250.forced_encoding = "WINDOWS-1250";
    EXPECT_EQ(read(dir.file("out.tkx")), expected(latin, cp1250, "cz.srt", "", nullptr));
    EXPECT_NE(read(dir.file("out.tkx")).find("\xc4\x8d\xc5\xa1\xc5\xbe\xc5\x99"), std::string::npos)
        << "čšžř in UTF-8";
    EXPECT_EQ(convert({"-o", dir.file("out.tkx"), dir.file("out.tkx")}).status, 1);
    EXPECT_EQ(read(dir.file("out.tkx")), expected(latin, cp1250, "cz.srt", "", nullptr));
    // An output directory that cannot be written: a failure, the input untouched.
    EXPECT_EQ(convert({"-o", dir.file("no/such/dir/x.tkx"), film}).status, 1);
    EXPECT_EQ(read(film), kSrt);
}

TEST(ConvertTool, AllConvertsWhatHasNoTkxOfItsOwn) {
    simtest::scratch_dir dir;
    write(dir.file("a.srt"), kSrt);
    write(dir.file("b.srt"), kSrt);
    write(dir.file("b.tkx"), "[KTF2: 1 0 ]\n{25}{75}by hand\n");
    write(dir.file("c.vtt"), "WEBVTT\n\n00:01.000 --> 00:02.000\nHallo\n");
    write(dir.file("notes.txt"), "Bring popcorn.\n");
    fs::create_directory(dir.file("folder.srt"));

    result r = convert({"--all", dir.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_EQ(read(dir.file("a.tkx")), expected(kSrt, {}, "a.srt", "", nullptr));
    EXPECT_EQ(read(dir.file("b.tkx")), "[KTF2: 1 0 ]\n{25}{75}by hand\n");
    EXPECT_TRUE(fs::exists(dir.file("c.tkx")));
    EXPECT_EQ(names(dir.path()),
              (std::vector<std::string>{"a.srt", "a.tkx", "b.srt", "b.tkx", "c.tkx", "c.vtt",
                                        "folder.srt", "notes.txt"}));

    r = convert({"--all", dir.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("nothing to convert"), std::string::npos) << r.err;
    EXPECT_EQ(convert({"--all", dir.file("none")}).status, 1);
}

// Every sample file, converted in one run, gives exactly the file the library's
// sample tests expect. In the cross build this runs the static box binary under the
// emulator, with the box's own code-page tables: the box and the PC write the same.
TEST(ConvertTool, SamplesGiveTheExpectedFiles) {
    simtest::scratch_dir dir;
    const std::vector<testsup::Sample> all = testsup::samples();
    std::vector<std::string> args;
    for (const testsup::Sample& s : all) {
        write(dir.file(s.name), s.input);
        args.push_back(dir.file(s.name));
    }
    const result r = convert(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), static_cast<long>(all.size()));
    for (const testsup::Sample& s : all) {
        const std::string out = dir.file(s.name.substr(0, s.name.rfind('.')) + ".tkx");
        EXPECT_EQ(read(out), "[KTF2: " + std::to_string(s.source.size()) + " 0 converted from " +
                                 s.name + "]\n" + s.expected)
            << s.name;
    }
}
