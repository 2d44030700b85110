// lumetra-convert run as a program: options, output names, failures and exit
// status, --all, and the sample files giving the expected output; and the header
// line recording what a converted file was made from.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conv/convert.h"
#include "tests/support/convert_samples.h"
#include "tests/support/converted_header.h"
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

// What the library makes of bytes with options, read from the file at source, and
// the summary line for it.
std::string expected(std::string_view bytes, conv::ConvertOptions options,
                     const std::string& source, const std::string& shown, std::string* summary) {
    options.source_name = fs::path(source).filename().string();
    conv::ConvertReport report;
    std::string out;
    const int r = conv::convert_subtitles(
        {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, options, out, report);
    if (summary != nullptr) *summary = conv::summary_line(shown, r, report) + "\n";
    return out.empty() ? out : testsup::with_stamp(out, source);
}

}  // namespace

// An option's value of the wrong kind (not a number, an encoding the tool does not
// know, a directory where a file is wanted or the other way round) is a usage error.
TEST(ConvertTool, UsageErrorsWriteNothing) {
    simtest::scratch_dir dir;
    const std::string film = dir.file("film.srt");
    write(film, kSrt);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no FILE given"},
        {{"--plain"}, "no FILE given"},
        {{"-o", dir.file("x.tkx"), film, film}, "-o takes exactly one FILE"},
        {{"-o", dir.file("x.tkx"), "--all", dir.path(), film}, "-o takes exactly one FILE"},
        {{"--fps", "fast", film}, "--fps takes"},
        {{"--fps", "0", film}, "--fps takes"},
        {{"--wrap", "0", film}, "--wrap takes"},
        {{"--wrap", "12x", film}, "--wrap takes"},
        {{"--offset", "nan", film}, "--offset takes"},
        {{"--bogus", film}, "unknown option --bogus"},
        {{film, "--offset"}, "--offset needs a value"},
        {{"--encoding", "NOPE", film}, "unknown encoding NOPE"},
        {{"-o", dir.path(), film}, "-o takes a file, not a directory"},
        {{"-o", dir.file("new") + "/", film}, "-o takes a file, not a directory"},
        {{"--all", film}, "--all takes a directory"},
        {{"--sync-to", dir.path(), film}, "--sync-to takes a file, not a directory"},
        {{"--sync-to", "-", film}, "--sync-to takes a file, not standard input"},
    };
    for (const auto& [args, said] : cases) {
        const result r = convert(args);
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(r.status, 2) << shown << r.err;
        EXPECT_EQ(r.err.rfind("lumetra-convert: " + said, 0), 0u) << shown << r.err;
        EXPECT_NE(r.err.find("usage: lumetra-convert"), std::string::npos) << shown << r.err;
        EXPECT_EQ(names(dir.path()), std::vector<std::string>{"film.srt"}) << shown;
    }
    // An encoding it knows, in any case, is no usage error.
    EXPECT_EQ(convert({"--encoding", "windows-1250", "-o", "-", film}).status, 0);
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
    expected(kBroken, options, broken, broken, &summary_broken);
    const std::string text = expected(kSrt, options, film, film, &summary_film);
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
    EXPECT_EQ(read(dir.file("out.tkx")), expected(latin, cp1250, dir.file("cz.srt"), "", nullptr));
    EXPECT_NE(read(dir.file("out.tkx")).find("\xc4\x8d\xc5\xa1\xc5\xbe\xc5\x99"), std::string::npos)
        << "čšžř in UTF-8";
    EXPECT_EQ(convert({"-o", dir.file("out.tkx"), dir.file("out.tkx")}).status, 1);
    EXPECT_EQ(read(dir.file("out.tkx")), expected(latin, cp1250, dir.file("cz.srt"), "", nullptr));
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
    EXPECT_EQ(read(dir.file("a.tkx")), expected(kSrt, {}, dir.file("a.srt"), "", nullptr));
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
        EXPECT_EQ(read(out), "[KTF2: " + std::to_string(s.source.size()) +
                                 testsup::header_end(s.name, dir.file(s.name), s.expected) + "\n" +
                                 s.expected)
            << s.name;
    }
}

namespace {

std::string sample(const std::string& name) {
    return read(std::string(LUMETRA_SOURCE_DIR) + "/tests/samples/drop_in/" + name);
}

// The project's version, from the project line of CMakeLists.txt.
std::string project_version() {
    const std::string cmake = read(std::string(LUMETRA_SOURCE_DIR) + "/CMakeLists.txt");
    const std::string mark = "\nproject(lumetra VERSION ";
    const size_t at = cmake.find(mark);
    if (at == std::string::npos) return "<none>";
    const size_t start = at + mark.size();
    return cmake.substr(start, cmake.find(' ', start) - start);
}

std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// Runs the converter with text on its standard input.
result convert_piped(const std::vector<std::string>& args, std::string_view input,
                     std::string* out) {
    std::vector<std::string> argv{LUMETRA_CONVERT_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    simtest::process p(argv, {}, true);
    p.write_stdin(input);
    p.close_stdin();
    result r;
    if (p.wait(60000)) r.status = p.status();
    r.err = p.err();
    *out = p.out();
    return r;
}

}  // namespace

// An output is never the input itself, however it is named, and a file the converter
// did not write is replaced only with --force.
TEST(ConvertToolOverwrite, NeverTheInputAndNoFileItDidNotWrite) {
    simtest::scratch_dir dir;
    const std::string film = sample("film.srt");
    const std::string hand = "[KTF2: 1 0 ]\n{25}{75}Met de hand geschreven\n";
    write(dir.file("same.srt"), film);
    write(dir.file("beside.srt"), film);
    write(dir.file("beside.tkx"), hand);
    write(dir.file("hand.tkx"), hand);
    write(dir.file("old.tkx"), "[KTF2: 1 0 converted from same.srt]\n{25}{75}oud\n");
    write(dir.file("empty.tkx"), "");
    fs::create_directory_symlink(".", dir.file("here"));
    fs::create_hard_link(dir.file("same.srt"), dir.file("hard.tkx"));
    const std::string same = dir.file("same.srt");
    // Converted files: one as it was written, one corrected by hand since.
    for (const char* name : {"fresh.tkx", "edited.tkx"}) {
        ASSERT_EQ(convert({same, "-o", dir.file(name)}).status, 0) << name;
    }
    std::string edited = read(dir.file("edited.tkx"));
    edited.replace(edited.find("zes uur"), 7, "acht uur");
    write(dir.file("edited.tkx"), edited);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string said;       // in the line for the file
        std::string untouched;  // keeps its bytes
        std::string converted;  // holds the converted file afterwards
    };
    const std::vector<Case> cases = {
        {{same, "-o", dir.path() + "/./same.srt"},
         1,
         "the output would replace the input",
         "same.srt",
         ""},
        {{same, "-o", dir.file("here/same.srt")},
         1,
         "the output would replace the input",
         "same.srt",
         ""},
        {{same, "-o", dir.file("hard.tkx")},
         1,
         "the output would replace the input",
         "same.srt",
         ""},
        {{"--force", same, "-o", dir.file("here/same.srt")},
         1,
         "the output would replace the input",
         "same.srt",
         ""},
        {{dir.file("beside.srt")},
         1,
         dir.file("beside.tkx") + " exists and was not written by lumetra-convert (--force "
                                  "replaces it)",
         "beside.tkx",
         ""},
        {{same, "-o", dir.file("hand.tkx")}, 1, "exists and was not written", "hand.tkx", ""},
        {{"--force", same, "-o", dir.file("hand.tkx")}, 0, "SubRip", "same.srt", "hand.tkx"},
        {{same, "-o", dir.file("old.tkx")}, 0, "SubRip", "same.srt", "old.tkx"},
        {{same, "-o", dir.file("empty.tkx")}, 0, "SubRip", "same.srt", "empty.tkx"},
        {{same, "-o", dir.file("fresh.tkx")}, 0, "SubRip", "same.srt", "fresh.tkx"},
        {{same, "-o", dir.file("edited.tkx")},
         1,
         dir.file("edited.tkx") + " was changed since lumetra-convert wrote it (--force replaces "
                                  "it)",
         "edited.tkx",
         ""},
        {{"--force", same, "-o", dir.file("edited.tkx")}, 0, "SubRip", "same.srt", "edited.tkx"},
    };
    for (const Case& c : cases) {
        const std::string before = read(dir.file(c.untouched));
        const result r = convert(c.args);
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        EXPECT_EQ(r.status, c.status) << shown << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << shown << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << r.err;
        EXPECT_EQ(read(dir.file(c.untouched)), before) << shown;
        if (!c.converted.empty()) {
            const std::string start = "[KTF2: 5 0 converted from same.srt; ";
            EXPECT_EQ(read(dir.file(c.converted)).substr(0, start.size()), start) << shown;
        }
    }
    EXPECT_EQ(read(same), film);
}

// An output that is no regular file (a pipe here; /dev/null alike) is written into:
// renaming a temporary file over it would put a regular file in its place.
TEST(ConvertToolOverwrite, AnOutputThatIsNoRegularFileIsWrittenIntoNotReplaced) {
    simtest::scratch_dir dir;
    write(dir.file("film.srt"), kSrt);
    const std::string pipe = dir.file("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // Open for reading first, so that the tool's open for writing does not wait.
    const int fd = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    const result r = convert({dir.file("film.srt"), "-o", pipe});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string got;
    std::array<char, 4096> chunk;
    for (ssize_t n; (n = ::read(fd, chunk.data(), chunk.size())) > 0;) got.append(chunk.data(), n);
    ::close(fd);
    struct stat st;
    ASSERT_EQ(::lstat(pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(got, expected(kSrt, {}, dir.file("film.srt"), "", nullptr));
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"film.srt", "pipe"}));
}

// Any name the file system takes converts, beside itself under the name its base
// gives, and the header keeps the whole name.
TEST(ConvertToolNames, AnyNameConvertsAndIsRecordedWhole) {
    simtest::scratch_dir dir;
    const std::string film = sample("film.srt");
    struct Case {
        std::string name;
        std::string output;
    };
    const std::vector<Case> cases = {
        {std::string(247, 'a') + ".srt", std::string(247, 'a') + ".tkx"},  // 251 bytes
        {std::string(236, 'b') + ".srt", std::string(236, 'b') + ".tkx"},  // 240: over 200
        {".srt", ".srt.tkx"},
        {"Amélie (2001) ČZ.srt", "Amélie (2001) ČZ.tkx"},
        {"tab\there; new\nline \\ back.srt", "tab\there; new\nline \\ back.tkx"},
        {"geen punt", "geen punt.tkx"},
    };
    for (const Case& c : cases) {
        write(dir.file(c.name), film);
        const result r = convert({dir.file(c.name)});
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        ASSERT_TRUE(fs::exists(dir.file(c.output))) << c.name;
        const std::string file = read(dir.file(c.output));
        const std::string header = first_line(file);
        EXPECT_NE(header.find(" converted from " + testsup::header_name(c.name)), std::string::npos)
            << header;
        EXPECT_EQ(header, "[KTF2: 5" + testsup::header_end(c.name, dir.file(c.name),
                                                           testsup::after_header(file)))
            << c.name;
        EXPECT_LE(header.size(), testsup::kLongestHeader) << c.name;
        fs::remove(dir.file(c.name));
        fs::remove(dir.file(c.output));
        EXPECT_TRUE(names(dir.path()).empty()) << c.name << ": a file was left behind";
    }
}

// The header line: what is written is read back, a name made of many escaped bytes
// still fits the player's line, and lines the converter did not write name nothing.
TEST(ConvertHeader, StampOptionsAndNameReadBack) {
    const std::string srt = sample("film.srt");
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(srt.data()), srt.size());
    struct Case {
        std::string name;
        std::optional<conv::SourceStamp> stamp;
        double offset;
        bool plain;
        std::string options;
    };
    const std::vector<Case> cases = {
        {"film.srt", conv::SourceStamp{367, 1700000000, 5}, 0, false, ""},
        {"a; 5 bytes, modified 1.000000000.srt", conv::SourceStamp{1, -2, 999999999}, -1.5, true,
         "--offset -1.5 --plain"},
        {"back\\x41slash.srt", std::nullopt, 0, false, ""},
        {std::string(255, '\x01'), conv::SourceStamp{2, 3, 4}, 0, false, ""},  // does not fit
    };
    for (const Case& c : cases) {
        conv::ConvertOptions options;
        options.source_name = c.name;
        options.source_stamp = c.stamp;
        options.offset_seconds = c.offset;
        options.plain = c.plain;
        conv::ConvertReport report;
        std::string out;
        ASSERT_EQ(conv::convert_subtitles(bytes, options, out, report), conv::kConvertOk);
        const std::string line = first_line(out);
        EXPECT_LE(line.size(), conv::kLongestHeaderLine);
        const conv::ConvertedFrom from = conv::converted_from_header(line);
        EXPECT_TRUE(from.converted) << line;
        if (line.size() + 4 * c.name.size() < conv::kLongestHeaderLine) {
            EXPECT_EQ(from.source_name, c.name) << line;
            EXPECT_TRUE(from.source_stamp == c.stamp) << line;
            EXPECT_EQ(from.options, c.options) << line;
        } else {
            EXPECT_EQ(line, "[KTF2: 5 0 converted from " +
                                testsup::checksum_part(testsup::after_header(out)) + "]");
            EXPECT_TRUE(from.checksum.has_value());
        }
    }
    // Written before stamps: the name alone, even with a "; " of its own.
    const conv::ConvertedFrom old = conv::converted_from_header("[KTF2: 3 0 converted from a; b]");
    EXPECT_TRUE(old.converted);
    EXPECT_EQ(old.source_name, "a; b");
    EXPECT_FALSE(old.source_stamp.has_value());
    for (const char* line : {"[KTF2: 1 0 ]", "[KTF2: 1 0 my notes]", "[KTF2: x converted from a]",
                             "{25}{50}converted from a.srt]", ""}) {
        EXPECT_FALSE(conv::converted_from_header(line).converted) << line;
    }
}

// Of several sources of one name --all converts one, chosen by the order of formats,
// whatever the order of the directory.
TEST(ConvertToolOrder, AllConvertsOneSourceOfEachNameInTheOrderOfFormats) {
    simtest::scratch_dir dir;
    write(dir.file("dup.ass"), sample("film.ass"));
    write(dir.file("dup.vtt"), sample("film.vtt"));
    write(dir.file("dup.srt"), sample("film.srt"));
    write(dir.file("solo.vtt"), sample("film.vtt"));
    write(dir.file("spare.vtt"), sample("film.vtt"));
    write(dir.file("spare.srt"), sample("no_cues.vtt"));  // .srt first, but it fails
    const result r = convert({"--all", dir.path()});
    EXPECT_EQ(r.status, 1) << r.err;
    for (const auto& [tkx, source] : std::vector<std::pair<std::string, std::string>>{
             {"dup.tkx", "dup.srt"}, {"solo.tkx", "solo.vtt"}, {"spare.tkx", "spare.vtt"}}) {
        const std::string file = read(dir.file(tkx));
        const std::string header = first_line(file);
        const std::string end =
            testsup::header_end(source, dir.file(source), testsup::after_header(file));
        EXPECT_EQ(header.substr(header.find(' ', 7)), end) << tkx;
    }
    EXPECT_NE(r.err.find(dir.file("dup.ass") + ": skipped: dup.srt is converted to " +
                         dir.file("dup.tkx")),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(dir.file("dup.vtt") + ": skipped"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(dir.file("spare.srt") + ": failed: no subtitles found"), std::string::npos)
        << r.err;
}

// The command line as people expect one: every option explained by --help, the
// version, standard input and output, and getopt_long's forms of the options.
TEST(ConvertToolCommandLine, HelpVersionStandardStreamsAndOptionForms) {
    simtest::process help({LUMETRA_CONVERT_BINARY, "--help"});
    ASSERT_TRUE(help.wait(60000));
    EXPECT_EQ(help.status(), 0);
    for (const char* option :
         {"--encoding NAME", "--fps N", "--offset SECONDS", "--wrap N", "--plain", "-o OUT",
          "--all DIR", "--force", "-h, --help", "--version"}) {
        const std::string line = "\n  " + std::string(option) + " ";
        const size_t at = help.out().find(line);
        ASSERT_NE(at, std::string::npos) << option << " is not explained:\n" << help.out();
        const std::string rest = help.out().substr(at + line.size());
        EXPECT_GT(rest.find_first_not_of(' '), 0u) << option;
        EXPECT_GT(rest.find('\n') - rest.find_first_not_of(' '), 8u) << option << ": no words";
    }

    const std::string version = project_version();
    // Each tool names itself, whatever its file is called (under an emulator it is a
    // wrapper of another name).
    const std::array<std::pair<std::string, std::string>, 2> tools{{
        {LUMETRA_CONVERT_BINARY, "lumetra-convert"},
        {LUMETRA_SIM_BINARY, "lumetra-sim"},
    }};
    for (const auto& [program, name] : tools) {
        simtest::process p({program, "--version"});
        ASSERT_TRUE(p.wait(60000));
        EXPECT_EQ(p.status(), 0) << program;
        EXPECT_EQ(p.out(), name + " " + version + "\n");
    }

    simtest::scratch_dir dir;
    const std::string srt = sample("film.srt");
    // What the library makes of the sample read from standard input, with an offset or not.
    const auto from_input = [&](double offset) {
        conv::ConvertOptions options;
        options.source_name = "standard input";
        options.offset_seconds = offset;
        conv::ConvertReport report;
        std::string made;
        EXPECT_EQ(
            conv::convert_subtitles({reinterpret_cast<const uint8_t*>(srt.data()), srt.size()},
                                    options, made, report),
            conv::kConvertOk);
        return made;
    };
    const std::string want = from_input(-1.5);
    ASSERT_EQ(first_line(want), "[KTF2: 5 0 converted from standard input; --offset -1.5" +
                                    testsup::checksum_part(testsup::after_header(want)) + "]");
    // Every form gives the same file: standard input in, standard output out.
    const std::vector<std::vector<std::string>> forms = {
        {"--offset", "-1.5", "-", "-o", "-"},
        {"-", "--offset=-1.5"},
        {"--off", "-1.5", "--", "-"},
        {"-o-", "--offset", "-1.5", "-"},
    };
    for (const auto& args : forms) {
        std::string out;
        const result r = convert_piped(args, srt, &out);
        EXPECT_EQ(r.status, 0) << args[0] << " " << args[1] << ": " << r.err;
        EXPECT_EQ(out, want) << args[0] << " " << args[1];
        EXPECT_EQ(r.err.substr(0, 10), "-: SubRip,") << r.err;
    }
    std::string out;
    EXPECT_EQ(convert_piped({"-", "-o", dir.file("piped.tkx")}, srt, &out).status, 0);
    EXPECT_EQ(read(dir.file("piped.tkx")), from_input(0));
    EXPECT_TRUE(out.empty());

    // Usage errors name the argument in the program's words, with status 2.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--plain=yes", "-"}, "lumetra-convert: --plain takes no value\n"},
        {{"--f", "1", "-"}, "lumetra-convert: ambiguous option --f\n"},
        {{"-x", "-"}, "lumetra-convert: unknown option -x\n"},
        {{"-", "-o"}, "lumetra-convert: -o needs a value\n"},
        {{"-", "--wrap"}, "lumetra-convert: --wrap needs a value\n"},
    };
    for (const auto& [args, said] : refused) {
        const result r = convert(args);
        EXPECT_EQ(r.status, 2) << said;
        EXPECT_EQ(r.err.substr(0, said.size()), said) << r.err;
    }
}

// --all takes up every file named as subtitles and every file that looks like
// subtitles whatever its name. Each that fails is named with the reason it has when it
// is named alone, and the run fails; a file --all does not take up is not mentioned.
TEST(ConvertToolAll, NamesEveryFileItTakesUpThatFails) {
    simtest::scratch_dir dir;
    const std::string picture("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x02\x80", 20);
    struct Case {
        std::string name, bytes;
        std::string said;  // after "NAME: "; empty: not mentioned at all
    };
    const std::vector<Case> cases = {
        {"film.srt", std::string(kSrt), "SubRip, "},
        {"leeg.srt", "", "failed: empty file"},
        {"spaties.SUB", " \n\n", "failed: empty file"},
        {"omslag.ass", picture, "failed: not a text file"},
        {"lees mij.vtt", "Eerst lezen.\n", "failed: no subtitle format recognised"},
        {"zonder naam", std::string(kSrt), "SubRip, "},
        {"foto.png", picture, ""},
        {"notes.txt", "Bring popcorn.\n", ""},
        {"leeg.txt", "", ""},
    };
    for (const Case& c : cases) write(dir.file(c.name), c.bytes);
    const result all = convert({"--all", dir.path()});
    EXPECT_EQ(all.status, 1) << all.err;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string start = dir.file(c.name) + ": ";
        const size_t at = all.err.find(start);
        if (c.said.empty()) {
            EXPECT_EQ(all.err.find(dir.file(c.name)), std::string::npos) << all.err;
            continue;
        }
        ASSERT_NE(at, std::string::npos) << all.err;
        const std::string line = all.err.substr(at, all.err.find('\n', at) + 1 - at);
        EXPECT_EQ(line.substr(start.size(), c.said.size()), c.said) << line;
        if (c.said.starts_with("failed")) {
            const result alone = convert({dir.file(c.name)});
            EXPECT_EQ(alone.status, 1);
            EXPECT_EQ(alone.err, line);
        }
    }
}

// Two sources of one output in one run: the first makes it, the second is refused
// with a line saying so, wherever the names point from. Sources of one name in
// different directories have outputs of their own.
TEST(ConvertToolOutputs, OneOutputIsMadeOnceInARun) {
    simtest::scratch_dir dir;
    write(dir.file("two.srt"), sample("film.srt"));
    write(dir.file("two.ass"), sample("film.ass"));
    write(dir.file("other/two.ass"), sample("film.ass"));
    fs::create_directory_symlink(".", dir.file("here"));
    const std::string srt = dir.file("two.srt"), ass = dir.file("two.ass");
    struct Case {
        std::vector<std::string> args;
        std::string made_from;  // the source the header of two.tkx names
        std::string refused;    // the input refused
    };
    const std::vector<Case> cases = {
        {{srt, ass}, "two.srt", ass},
        {{ass, srt}, "two.ass", srt},
        {{srt, dir.file("here/two.ass")}, "two.srt", dir.file("here/two.ass")},
        {{srt, dir.path() + "/other/../two.ass"}, "two.srt", dir.path() + "/other/../two.ass"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        SCOPED_TRACE(shown);
        const result r = convert(c.args);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(conv::converted_from_header(first_line(read(dir.file("two.tkx")))).source_name,
                  c.made_from);
        const std::string output = c.refused.substr(0, c.refused.size() - 4) + ".tkx";
        EXPECT_NE(r.err.find(c.refused + ": not converted: " + output + " is made from "),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        fs::remove(dir.file("two.tkx"));
    }
    const result r = convert({srt, dir.file("other/two.ass")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir.file("two.tkx")) && fs::exists(dir.file("other/two.tkx")));
}
