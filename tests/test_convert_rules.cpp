// The converter's rules beyond single samples: both decoders and both detections
// agree, bad input fails with one line and no output, times, the header's source
// name, the options, and the quick check the file menu uses.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "conv/convert.h"
#include "conv/model.h"
#include "tests/support/convert_samples.h"

namespace {

using testsup::bytes;

struct Result {
    int code;
    std::string output;
    conv::ConvertReport report;
};

Result run(std::string_view input, conv::ConvertOptions options = {}) {
    Result r;
    r.code = conv::convert_subtitles(bytes(input), options, r.output, r.report);
    return r;
}

// The subtitle lines of a converted file, without its header.
std::string body(const Result& r) {
    size_t eol = r.output.find('\n');
    return eol == std::string::npos ? r.output : r.output.substr(eol + 1);
}

TEST(ConvertEncoding, TablesAndIconvAndBothDetectionsAgree) {
    // Every byte of each code page, as the box build and the PC build decode it (a
    // build without iconv has the tables only).
    std::string all;
    for (int b = 0x20; b < 0x100; ++b) all += static_cast<char>(b);
    for (const char* page : {"WINDOWS-1250", "WINDOWS-1252", "ISO-8859-2"}) {
        if (!conv::have_iconv()) break;
        SCOPED_TRACE(page);
        std::string by_iconv, by_tables, error;
        ASSERT_TRUE(conv::decode_to_utf8(bytes(all), page, conv::Decoder::kIconv, by_iconv, error));
        ASSERT_TRUE(
            conv::decode_to_utf8(bytes(all), page, conv::Decoder::kTables, by_tables, error));
        EXPECT_EQ(by_iconv, by_tables);
    }
    // Whole conversions: the build's decoder with uchardet, and tables with our own
    // detection.
    for (const testsup::Sample& s : testsup::samples()) {
        SCOPED_TRACE(s.name);
        std::string pc, box;
        conv::ConvertReport pc_report, box_report;
        ASSERT_EQ(
            conv::convert_with(bytes(s.input), {}, conv::default_decoder(), true, pc, pc_report),
            conv::kConvertOk);
        ASSERT_EQ(
            conv::convert_with(bytes(s.input), {}, conv::Decoder::kTables, false, box, box_report),
            conv::kConvertOk);
        EXPECT_EQ(pc, box);
        EXPECT_EQ(pc_report.encoding, box_report.encoding);
    }
}

TEST(ConvertEncoding, MarkWinsAndForcedNameOverrides) {
    std::string srt = "1\n00:00:01,000 --> 00:00:02,000\nJi\xF8\xED \xE8\x9A\n";
    EXPECT_EQ(body(run(srt)), "{25}{50}Jiří čš\n");  // Windows-1250 found
    conv::ConvertOptions western;
    western.forced_encoding = "windows-1252";
    EXPECT_EQ(body(run(srt, western)), "{25}{50}Jiøí èš\n");
    // A UTF-8 mark makes the same letter two bytes; valid UTF-8 without one stays.
    EXPECT_EQ(body(run("\xEF\xBB\xBF"
                       "1\n00:00:01,000 --> 00:00:02,000\n\xC3\xA8\n")),
              "{25}{50}è\n");
    EXPECT_EQ(run("1\n00:00:01,000 --> 00:00:02,000\n\xC3\xA8\n").report.encoding, "UTF-8");
    // UTF-16 without a mark shows itself by its zero bytes.
    Result wide = run(testsup::utf16le(u"1\n00:00:01,000 --> 00:00:02,000\nè\n").substr(2));
    EXPECT_EQ(wide.report.encoding, "UTF-16LE");
    EXPECT_EQ(body(wide), "{25}{50}è\n");
    conv::ConvertOptions bogus;
    bogus.forced_encoding = "NO-SUCH-CODE";
    Result r = run(srt, bogus);
    EXPECT_EQ(r.code, conv::kConvertFailed);
    EXPECT_EQ(r.report.error, "unknown encoding NO-SUCH-CODE");
}

TEST(ConvertErrors, BadInputGivesOneLineAndNoOutput) {
    struct {
        const char* what;
        std::string input;
        const char* error;
    } cases[] = {
        {"empty", "", "empty file"},
        {"blank", " \n\r\n\t\n", "empty file"},
        {"binary", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), "not a text file"},
        {"no cue", "just some words\nand more\n", "no subtitle format recognised"},
        {"no cue in ASS", "[Script Info]\nTitle: x\n", "no subtitles found"},
        {"cut time line", "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\n00:00:03,000 --> 00:0",
         "line 6: unreadable time line"},
        {"cut after number", "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\n",
         "line 5: subtitle without a time (file cut short?)"},
        {"cut MicroDVD", "{10}{20}a\n{30}{4", "line 2: unreadable frames"},
        {"absurd time", "1\n99:00:01,000 --> 99:00:02,000\na\n",
         "line 2: time 99:00:01,000 is beyond a day"},
        {"player's own", "[KTF2: 1 0 ]\n{1}{2}a\n", "already in the player's format"},
        {"only empty cues", "1\n00:00:01,000 --> 00:00:02,000\n\n", "no subtitle left to write"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Result r = run(c.input);
        EXPECT_EQ(r.code, conv::kConvertFailed);
        EXPECT_EQ(r.report.error, c.error);
        EXPECT_TRUE(r.output.empty());
        EXPECT_EQ(r.report.error.find('\n'), std::string::npos);
    }
}

TEST(ConvertTimes, OffsetRoundingAndOrder) {
    std::string srt =
        "1\n00:00:00,500 --> 00:00:01,500\ngone\n\n"       // ends before 0 after -2 s
        "2\n00:00:01,000 --> 00:00:03,000\nclipped\n\n"    // starts below 0: from 0
        "3\n00:00:05,019 --> 00:00:05,030\nshort\n\n"      // rounds to no length: one frame
        "4\n00:00:06,000 --> 00:00:05,000\nbackwards\n\n"  // shown for 2 s
        "5\n00:00:09,010 --> 00:00:10,030\ntouching\n\n"
        "6\n00:00:10,030 --> 00:00:11,000\nnext\n";
    conv::ConvertOptions earlier;
    earlier.offset_seconds = -2.0;
    Result r = run(srt, earlier);
    ASSERT_EQ(r.code, conv::kConvertOk) << r.report.error;
    EXPECT_EQ(body(r),
              "{0}{25}clipped\n{75}{76}short\n{100}{150}backwards\n{175}{201}touching\n"
              "{201}{225}next\n");
    EXPECT_EQ(r.report.cues_dropped, 1);
}

TEST(ConvertHeader, SourceNameRoundTripsAndHandWrittenHeadersNameNothing) {
    conv::ConvertOptions options;
    options.source_name = "dir/Film [2019] \x01.srt";
    Result r = run("1\n00:00:01,000 --> 00:00:02,000\na\n", options);
    std::string header = r.output.substr(0, r.output.find('\n'));
    EXPECT_EQ(header, "[KTF2: 1 0 converted from Film [2019] \\x01.srt]");
    EXPECT_EQ(conv::source_name_from_header(header), "Film [2019] \x01.srt");
    EXPECT_EQ(conv::source_name_from_header("\xEF\xBB\xBF" + header + "\r\n"),
              "Film [2019] \x01.srt");
    for (const char* line : {"[KTF2: 1 0 ]", "[KTF2: 1 0 converted from ]",
                             "[KTF2: 1 0 converted from ../x.srt]", "[KTF2: 1 0 converted from ..]",
                             "[KTF2: 1 converted from a.srt]", "[KTF2: 1 0 my notes]", ""}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(conv::source_name_from_header(line), "");
    }
    // Without a name the header is the plain one.
    EXPECT_EQ(run("1\n00:00:01,000 --> 00:00:02,000\na\n").output.substr(0, 13), "[KTF2: 1 0 ]\n");
}

TEST(ConvertOptions, PlainWrapAndFrameRate) {
    std::string srt = "1\n00:00:01,000 --> 00:00:02,000\n<i>one two three four five six</i>\n";
    conv::ConvertOptions narrow;
    narrow.wrap_width = 10;
    EXPECT_EQ(body(run(srt, narrow)), "{25}{50}{21}one two|three four|five six\n");
    narrow.plain = true;
    EXPECT_EQ(body(run(srt, narrow)), "{25}{50}one two|three four|five six\n");
    // A text that begins with a brace gets the flags group, so it stays text.
    EXPECT_EQ(body(run("1\n00:00:01,000 --> 00:00:02,000\n{5} braces\n")),
              "{25}{50}{0}{5} braces\n");
    conv::ConvertOptions pal;
    pal.fps = 25.0;
    EXPECT_EQ(body(run("{25}{50}a\n", pal)), "{25}{50}a\n");
    EXPECT_EQ(body(run("{25}{50}a\n")), "{26}{52}a\n");  // 23.976 unless told
}

TEST(ConvertProbe, LooksConvertibleAndSummary) {
    EXPECT_TRUE(conv::looks_convertible(bytes("1\n00:00:01,000 --> 00:00:02,000\na\n")));
    EXPECT_TRUE(conv::looks_convertible(
        bytes(testsup::utf16le(u"WEBVTT\n\n00:01.000 --> 00:02.000\na\n"))));
    EXPECT_FALSE(conv::looks_convertible(bytes("[KTF2: 1 0 ]\n{1}{2}a\n")));
    EXPECT_FALSE(
        conv::looks_convertible(bytes(std::string("\x7F"
                                                  "ELF\0\0\0",
                                                  7))));
    EXPECT_FALSE(conv::looks_convertible(bytes("")));

    Result ok = run("1\n00:00:01,000 --> 00:00:02,000\na\n\n2\n00:00:03,000 --> 00:00:04,000\n\n");
    EXPECT_EQ(conv::summary_line("a.srt", ok.code, ok.report),
              "a.srt: SubRip, UTF-8, 2 read, 1 written, 0 split, 0 merged, 1 dropped; 1 empty "
              "subtitle dropped");
    Result bad = run("");
    EXPECT_EQ(conv::summary_line("b.srt", bad.code, bad.report), "b.srt: failed: empty file");
}

}  // namespace
