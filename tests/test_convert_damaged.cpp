// The readers on damaged files: a cue that cannot be read is left out with a note
// naming its line and costs no other cue; a time line is never shown as text; and
// TMPlayer's multi-line form makes one subtitle of its lines.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "conv/convert.h"
#include "tests/support/convert_samples.h"

namespace {

using testsup::bytes;

struct Result {
    int code;
    std::string output;
    conv::ConvertReport report;
};

Result run(std::string_view input) {
    Result r;
    r.code = conv::convert_subtitles(bytes(input), {}, r.output, r.report);
    return r;
}

// The subtitle lines of a converted file, without its header.
std::string body(const Result& r) {
    size_t eol = r.output.find('\n');
    return eol == std::string::npos ? r.output : r.output.substr(eol + 1);
}

struct Case {
    const char* what;
    std::string input;
    std::string body;                // the subtitle lines written
    std::vector<std::string> notes;  // the notes, all of them, in order
    int skipped;
};

void check(const Case& c) {
    SCOPED_TRACE(c.what);
    Result r = run(c.input);
    ASSERT_EQ(r.code, conv::kConvertOk) << r.report.error;
    EXPECT_EQ(body(r), c.body);
    EXPECT_EQ(r.report.notes, c.notes);
    EXPECT_EQ(r.report.cues_skipped, c.skipped);
}

const std::string kAssHead =
    "[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

TEST(ConvertDamaged, AnUnreadableCueCostsOnlyItself) {
    const Case cases[] = {
        {"SubRip, time line cut",
         "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\n00:00:03,000 --> 00:0",
         "{25}{50}a\n",
         {"line 6: time line not understood, cue skipped"},
         1},
        {"SubRip, block number last",
         "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\n",
         "{25}{50}a\n",
         {"line 5: subtitle cut off at the end of the file, cue skipped"},
         1},
        {"SubRip, block without a time line: its text joins no other cue",
         "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\nlost\n\n3\n00:00:05,000 --> 00:00:06,000\nc\n",
         "{25}{50}a\n{125}{150}c\n",
         {"line 5: subtitle without a time, cue skipped"},
         1},
        {"SubRip, seconds past 59 and a letter for a digit",
         "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\n00:00:75,000 --> 00:00:76,000\nb\n\n"
         "3\n00:00:O5,000 --> 00:00:06,000\nc\n\n4\n00:00:07,000 --> 00:00:08,000\nd\n",
         "{25}{50}a\n{175}{200}d\n",
         {"line 6: time line not understood, cue skipped",
          "line 10: time line not understood, cue skipped"},
         2},
        {"SubRip, a time beyond a day",
         "1\n99:00:01,000 --> 99:00:02,000\nx\n\n2\n00:00:03,000 --> 00:00:04,000\nb\n",
         "{75}{100}b\n",
         {"line 2: time 99:00:01,000 is beyond a day, cue skipped"},
         1},
        {"SubRip, many: the first three by line, then a count",
         "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\n0:0\nb\n\n3\n0:0\nc\n\n4\n0:0\nd\n\n5\n0:0\n"
         "e\n\n6\n0:0\nf\n",
         "{25}{50}a\n",
         {"line 6: time line not understood, cue skipped",
          "line 10: time line not understood, cue skipped",
          "line 14: time line not understood, cue skipped", "5 unreadable cues skipped in all"},
         5},
        {"SubRip, shifted below zero",
         "1\n-00:00:02,000 --> -00:00:01,000\ngone\n\n2\n-00:00:01,000 --> 00:00:01,000\nfrom 0\n",
         "{0}{25}from 0\n",
         {"1 subtitle ending at or before 0 dropped"},
         0},
        {"WebVTT, time line cut",
         "WEBVTT\n\n00:01.000 --> 00:02.000\na\n\n00:03.000 --> 00:0",
         "{25}{50}a\n",
         {"line 6: time line not understood, cue skipped"},
         1},
        {"WebVTT, identifier and text without a time line",
         "WEBVTT\n\n1\n00:01.000 --> 00:02.000\na\n\n2\nlost\n\n3\n00:05.000 --> 00:06.000\nc\n",
         "{25}{50}a\n{125}{150}c\n",
         {"line 7: subtitle without a time, cue skipped"},
         1},
        {"MicroDVD, frames cut and mistyped, a cue before zero",
         "{1}{1}25.000\n{-25}{25}early\n{50}{75}b\n{1OO}{125}c\n{150}{17",
         "{0}{25}early\n{50}{75}b\n",
         {"frame rate 25.000 from the file", "line 4: frames not understood, cue skipped",
          "line 5: frames not understood, cue skipped"},
         2},
        {"MPL2, times mistyped, a cue before zero",
         "[-10][10]a\n[3O][40]b\n[50][60]c\n",
         "{0}{25}a\n{125}{150}c\n",
         {"line 2: times not understood, cue skipped"},
         1},
        {"TMPlayer, a time mistyped",
         "00:00:01:a\n00:0l:02:b\n00:00:05:c\n",
         "{25}{75}a\n{125}{175}c\n",
         {"line 2: time not understood, cue skipped"},
         1},
        {"ASS, a Dialogue line cut, one before zero",
         kAssHead + "Dialogue: 0,-0:00:01.00,0:00:01.00,Default,,0,0,0,,a\n"
                    "Dialogue: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,b\n"
                    "Dialogue: 0,0:00:04.00,0:0",
         "{0}{25}a\n{50}{75}b\n",
         {"line 8: Dialogue not understood, cue skipped"},
         1},
    };
    for (const Case& c : cases) check(c);
}

TEST(ConvertDamaged, NothingReadableFailsTheFile) {
    // Each is recognised by its format, but no cue of it can be read.
    const std::string inputs[] = {
        "1\n99:00:01,000 --> 99:00:02,000\na\n\n2\n00:00:0l,000 --> 00:00:02,000\nb\n",
        "WEBVTT\n\n00:01.000 --> 00:0x.000\na\n",
        kAssHead + "Dialogue: 0,0:00:0x.00,0:00:02.00,Default,,0,0,0,,a\n",
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        Result r = run(input);
        EXPECT_EQ(r.code, conv::kConvertFailed);
        EXPECT_EQ(r.report.error, "no subtitles found");
        EXPECT_TRUE(r.output.empty());
        EXPECT_GT(r.report.cues_skipped, 0);
    }
}

TEST(ConvertDamaged, ATimeLineIsNeverText) {
    const std::string second = "\nfirst\n\n2\n00:00:03,000 --> 00:00:04,000\nsecond\n";
    const std::string both = "{25}{50}first\n{75}{100}second\n";
    // Arrows as typed or by a word processor: each is the time line it means.
    for (const char* arrow : {"->", "-- >", "\xE2\x80\x94>", "\xE2\x80\x93>", "- ->", "-->>", "--",
                              "\xE2\x86\x92", "\xC2\xA0-->\xC2\xA0"}) {
        check({arrow,
               std::string("1\n00:00:01,000 ") + arrow + " 00:00:02,000" + second,
               both,
               {},
               0});
    }
    const Case cases[] = {
        {"SubRip, no spaces around the arrow",
         "1\n00:00:01,000-->00:00:02,000" + second,
         both,
         {},
         0},
        {"SubRip, a damaged arrow after text with no blank line",
         "1\n00:00:01,000 --> 00:00:02,000\nfirst\n2\n00:00:03,000 -> 00:00:04,000\nsecond\n",
         both,
         {},
         0},
        {"SubRip, an unreadable time line among text",
         "1\n00:00:01,000 --> 00:00:02,000\nfirst\n00:00:03,000 --> 00:00:0X,000\nlost\n\n"
         "3\n00:00:05,000 --> 00:00:06,000\nthird\n",
         "{25}{50}first\n{125}{150}third\n",
         {"line 4: time line not understood, cue skipped"},
         1},
        {"SubRip, text that only mentions an arrow or a time stays text",
         "1\n00:00:01,000 --> 00:00:02,000\nGo --> there\nat 12:30\n",
         "{25}{50}Go --> there|at 12:30\n",
         {},
         0},
        {"WebVTT, no blank line before the next cue",
         "WEBVTT\n\n00:01.000 --> 00:02.000\nfirst\n00:03.000 --> 00:04.000\nsecond\n",
         both,
         {},
         0},
        {"WebVTT, no blank line before the next cue's number",
         "WEBVTT\n\n1\n00:01.000 --> 00:02.000\nfirst\n2\n00:03.000 --> 00:04.000\nsecond\n",
         both,
         {},
         0},
        {"WebVTT, an unreadable time line ends the text",
         "WEBVTT\n\n00:01.000 --> 00:02.000\nfirst\n00:03.000 --> 00:0X.000\nlost\n\n"
         "00:05.000 --> 00:06.000\nthird\n",
         "{25}{50}first\n{125}{150}third\n",
         {"line 5: time line not understood, cue skipped"},
         1},
        {"WebVTT, a note may say -->",
         "WEBVTT\n\nNOTE from --> to\n\n00:01.000 --> 00:02.000\nfirst\n",
         "{25}{50}first\n",
         {},
         0},
    };
    for (const Case& c : cases) check(c);
}

TEST(ConvertTmplayer, MultiLineFormIsOneSubtitle) {
    const Case cases[] = {
        {"two lines of one subtitle",
         "00:00:01,1=line one\n00:00:01,2=line two\n00:00:05,1=next\n",
         "{25}{75}line one|line two\n{125}{175}next\n",
         {},
         0},
        {"an empty line ends the one before",
         "00:00:01,1=line one\n00:00:01,2=\n00:00:02,1=\n00:00:02,2=\n",
         "{25}{50}line one\n",
         {"1 empty subtitle dropped"},
         0},
        {"the same line number again is a new subtitle",
         "00:00:01,1=a\n00:00:03,1=b\n00:00:03,2=c\n",
         "{25}{75}a\n{75}{125}b|c\n",
         {},
         0},
        {"a fraction with a dot is still a fraction",
         "00:00:01.5=half\n00:00:04:next\n",
         "{38}{88}half\n{100}{150}next\n",
         {},
         0},
    };
    for (const Case& c : cases) check(c);
}

}  // namespace
