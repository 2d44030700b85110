// Small subtitle files of each format and encoding the converter reads, with the
// exact file it writes for each and the source times of every subtitle written.
// Files as they come from the internet, damaged ones among them, are kept in
// tests/samples/convert/ with the lines the converter writes for each beside them
// (NAME.expected).
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace testsup {

struct Span {
    uint32_t start;
    uint32_t end;
};

struct Sample {
    std::string name;
    std::string input;
    std::string format;
    std::string encoding;
    std::string expected;  // the lines after the header
    // Source times of each written subtitle, and how far the player may be off them.
    std::vector<Span> source;
    uint32_t tolerance = 20;
    std::vector<std::string> notes = {};  // notes the report must carry
};

inline std::span<const uint8_t> bytes(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// UTF-16LE with a byte-order mark.
inline std::string utf16le(std::u16string_view text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

inline const std::string kCzechExpected =
    "{25}{88}Příliš žluťoučký kůň|úpěl ďábelské ódy.\n"
    "{100}{150}{1}Ještě jednou, ěščřžýáíé!\n";
inline const std::vector<Span> kCzechTimes = {{1000, 3500}, {4000, 6000}};

inline const std::string kMicroDvdCues =
    "{24}{72}{y:i}Hello|world\n"
    "{96}{120}/Slash italic|plain\n"
    "{130}{150}{P:0}Top {c:$0000ff}blue\n";
inline const std::string kMicroDvdExpected =
    "{25}{75}{1}Hello|world\n"
    "{100}{125}{1}Slash italic|plain\n"
    "{136}{156}{256}Top blue\n";
// Frames at 23.976 per second.
inline const std::vector<Span> kMicroDvdTimes = {{1001, 3003}, {4004, 5005}, {5422, 6256}};

inline std::vector<Sample> samples() {
    return {
        {"czech-1250.srt",
         "1\r\n00:00:01,000 --> 00:00:03,500\r\nP\xF8\xEDli\x9A \x9Elu\x9Dou\xE8k\xFD "
         "k\xF9\xF2\r\n\xFAp\xECl \xEF\xE1"
         "belsk\xE9 \xF3"
         "dy.\r\n\r\n2\r\n00:00:04,000 --> 00:00:06,000\r\n<i>Je\x9At\xEC jednou, "
         "\xEC\x9A\xE8\xF8\x9E\xFD\xE1\xED\xE9!</i>\r\n",
         "SubRip", "WINDOWS-1250", kCzechExpected, kCzechTimes},
        {"czech-8859-2.srt",
         "1\n00:00:01,000 --> 00:00:03,500\nP\xF8\xEDli\xB9 \xBElu\xBBou\xE8k\xFD "
         "k\xF9\xF2\n\xFAp\xECl \xEF\xE1"
         "belsk\xE9 \xF3"
         "dy.\n\n2\n00:00:04,000 --> 00:00:06,000\n<i>Je\xB9t\xEC jednou, "
         "\xEC\xB9\xE8\xF8\xBE\xFD\xE1\xED\xE9!</i>\n",
         "SubRip", "ISO-8859-2", kCzechExpected, kCzechTimes},
        {"czech-utf16.srt",
         utf16le(u"1\r\n00:00:01,000 --> 00:00:03,500\r\nPříliš žluťoučký kůň\r\núpěl "
                 u"ďábelské ódy.\r\n\r\n2\r\n00:00:04,000 --> 00:00:06,000\r\n<i>Ještě "
                 u"jednou, ěščřžýáíé!</i>\r\n"),
         "SubRip", "UTF-16LE", kCzechExpected, kCzechTimes},
        {"western.srt",
         "1\n00:00:01,000 --> 00:00:03,000\n\xC7"
         "a, c'est tr\xE8s \xE9l\xE9gant \xE0 No\xEBl.\n",
         "SubRip",
         "WINDOWS-1252",
         "{25}{75}Ça, c'est très élégant à Noël.\n",
         {{1000, 3000}}},
        {"styles.ass",
         "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\n"
         "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
         "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
         "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
         "Style: Default,Arial,20,&H00FFFFFF,&H000000FF,&H0,&H0,0,0,0,0,100,100,0,0,1,2,2,2,10,"
         "10,10,1\n"
         "Style: Thoughts,Arial,20,&H00FFFFFF,&H000000FF,&H0,&H0,0,-1,0,0,100,100,0,0,1,2,2,2,"
         "10,10,10,1\n"
         "Style: Sign,Arial,20,&H00FFFFFF,&H000000FF,&H0,&H0,0,0,0,0,100,100,0,0,1,2,2,8,10,10,"
         "10,1\n\n[Events]\n"
         "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
         "Dialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,Hello, {\\i1}world{\\i0}\\Nsecond "
         "line\n"
         "Dialogue: 0,0:00:04.00,0:00:05.50,Thoughts,,0,0,0,,I wonder\\hwhy\n"
         "Dialogue: 0,0:00:06.00,0:00:07.00,Sign,,0,0,0,,EXIT\n"
         "Dialogue: 0,0:00:08.00,0:00:09.00,Default,,0,0,0,,{\\an8}Top {\\p1}m 0 0 l 100 0 "
         "100 100{\\p0}text\n"
         "Comment: 0,0:00:10.00,0:00:11.00,Default,,0,0,0,,not shown\n",
         "ASS/SSA",
         "UTF-8",
         "{25}{75}Hello, world|second line\n{100}{138}{1}I wonder why\n{150}{175}{256}EXIT\n"
         "{200}{225}{256}Top text\n",
         {{1000, 3000}, {4000, 5500}, {6000, 7000}, {8000, 9000}}},
        {"rate.sub", "{1}{1}23.976\n" + kMicroDvdCues, "MicroDVD", "UTF-8", kMicroDvdExpected,
         kMicroDvdTimes, 40},
        {"norate.sub", kMicroDvdCues, "MicroDVD", "UTF-8", kMicroDvdExpected, kMicroDvdTimes, 40},
        {"pal.sub", "{0}{0}25.0\n{25}{50}x\n", "MicroDVD", "UTF-8", "{25}{50}x\n", {{1000, 2000}}},
        {"settings.vtt",
         "WEBVTT - test\n\nSTYLE\n::cue { color: red }\n\nNOTE a comment\nwith --> in it\n\n"
         "1\n00:01.000 --> 00:03.000 line:10% align:center\n<v Bob>Hello &amp; <b>bye</b></v>\n"
         "\n00:00:04.000 --> 00:00:05.000 line:-1\n<i>bottom</i> <00:00:04.500>x\n\n"
         "id2\n00:00:06.000 --> 00:00:07.000 line:0\nline zero\n",
         "WebVTT",
         "UTF-8",
         "{25}{75}{256}Hello & bye\n{100}{125}bottom x\n{150}{175}{256}line zero\n",
         {{1000, 3000}, {4000, 5000}, {6000, 7000}}},
        // Unsorted and overlapping: the second cue shows under the first while both run.
        {"overlap.srt",
         "3\n00:00:05,000 --> 00:00:07,000\nThird\n\n1\n00:00:01,000 --> 00:00:04,000\nFirst\n\n"
         "2\n00:00:02,000 --> 00:00:03,000\nSecond\n",
         "SubRip",
         "UTF-8",
         "{25}{50}First\n{50}{75}First|Second\n{75}{100}First\n{125}{175}Third\n",
         {{1000, 2000}, {2000, 3000}, {3000, 4000}, {5000, 7000}}},
        // CR line ends, an empty cue, five lines (joined to fit four), and a duplicate.
        {"five.srt",
         "1\r00:00:01,000 --> 00:00:02,000\r\r2\r00:00:03,000 --> 00:00:04,000\ra\rb\rc\rd\re\r\r"
         "3\r00:00:05,000 --> 00:00:06,000\rtwice\r\r4\r00:00:05,000 --> 00:00:06,000\rtwice\r",
         "SubRip",
         "UTF-8",
         "{75}{100}a b c d e\n{125}{150}twice\n",
         {{3000, 4000}, {5000, 6000}}},
        // Entities, a literal bar, a control byte, the top, and a wrapped line.
        {"cleanup.srt",
         "1\n00:00:01,000 --> 00:00:04,000\nTom &amp; Jerry | &lt;3 2<3 and 4>1 \x01"
         "bell\n{\\an8}This is a rather long line that has to be wrapped somewhere\n",
         "SubRip",
         "UTF-8",
         "{25}{100}{256}Tom & Jerry ¦ <3 2<3 and 4>1 bell|"
         "This is a rather long line that|has to be wrapped somewhere\n",
         {{1000, 4000}}},
        {"tenths.txt",
         "[10][35]Hello|/italic line\n[40][60]second\n",
         "MPL2",
         "UTF-8",
         "{25}{88}{4}Hello|italic line\n{100}{150}second\n",
         {{1000, 3500}, {4000, 6000}}},
        // No ends: the next start, or the time to read the text.
        {"clock.txt",
         "00:00:01:Hello|world\n00:00:02:next\n0:00:10=third\n",
         "TMPlayer",
         "UTF-8",
         "{25}{50}Hello|world\n{50}{100}next\n{250}{300}third\n",
         {{1000, 2000}, {2000, 4000}, {10000, 12000}}},
        {"viewer.sub",
         "[INFORMATION]\n[TITLE]x\n[END INFORMATION]\n[SUBTITLE]\n00:00:01.00,00:00:03.50\n"
         "Hello[br]world\n\n00:00:04.00,00:00:05.00\nOne\n",
         "SubViewer",
         "UTF-8",
         "{25}{88}Hello|world\n{100}{125}One\n",
         {{1000, 3500}, {4000, 5000}}},
    };
}

// The bytes of a file in tests/samples/convert/, empty when it cannot be read.
inline std::string sample_file(const std::string& name) {
    std::ifstream in(std::string(LUMETRA_SOURCE_DIR) + "/tests/samples/convert/" + name,
                     std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<Sample> file_samples() {
    const std::string skipped = ": time line not understood, cue skipped";
    const std::vector<Span> czech = {{1000, 3000}, {3500, 5000},   {5500, 7000},
                                     {8000, 9500}, {10000, 12000}, {12500, 14500}};
    std::vector<Span> flight;
    for (uint32_t i = 0; i < 25; ++i) flight.push_back({1000 + 2400 * i, 3000 + 2400 * i});
    // The first n cues of that rhythm.
    auto every = [](size_t n) {
        std::vector<Span> spans;
        for (uint32_t i = 0; i < n; ++i) spans.push_back({1000 + 2400 * i, 3000 + 2400 * i});
        return spans;
    };
    std::vector<Sample> out = {
        // An interrupted copy: the last time line is cut.
        {"cut.srt",
         {},
         "SubRip",
         "UTF-8",
         {},
         {{1200, 3400}, {3900, 6100}, {6800, 9000}, {9500, 12250}, {13000, 15500}},
         20,
         {"line 24" + skipped}},
        // The copy stopped after the next block's number.
        {"trailing-number.srt",
         {},
         "SubRip",
         "UTF-8",
         {},
         {{62000, 64000}, {65500, 67000}},
         20,
         {"line 9: subtitle cut off at the end of the file, cue skipped"}},
        // Shifted by hand below zero: one cue wholly before it, one across it.
        {"shifted.srt",
         {},
         "SubRip",
         "UTF-8",
         {},
         {{0, 1500}, {2000, 4000}, {4500, 6000}},
         20,
         {"1 subtitle ending at or before 0 dropped"}},
        // A letter O for a zero, damaged arrows, a missing number, a missing blank line.
        {"typo.srt",
         {},
         "SubRip",
         "UTF-8",
         {},
         {{1000, 3000}, {3500, 5000}, {5500, 7000}, {12500, 14000}, {14500, 16000}, {16500, 18000}},
         20,
         {"line 14" + skipped}},
        // UTF-16 with an em-dash arrow, no-break spaces, a typo and a mark mid-file.
        {"odd-utf16.srt",
         {},
         "SubRip",
         "UTF-16LE",
         {},
         {{1000, 2500}, {3000, 5000}, {6000, 8000}, {12000, 14000}},
         20,
         {"line 14" + skipped}},
        // Cues without the blank line between them, and a cut time line.
        {"missing-blank.vtt",
         {},
         "WebVTT",
         "UTF-8",
         {},
         {{1000, 2500}, {3000, 4000}, {4500, 6000}, {8000, 9000}},
         20,
         {"line 15" + skipped}},
        // Six short cues: too few bytes for a sure guess of the code page.
        {"czech-short-1250.srt", {}, "SubRip", "WINDOWS-1250", {}, czech},
        {"czech-short-8859-2.srt", {}, "SubRip", "ISO-8859-2", {}, czech},
        // Good UTF-8 with one byte of a Windows-1250 editor in it.
        {"stray-byte.srt",
         {},
         "SubRip",
         "UTF-8",
         {},
         flight,
         20,
         {"line 55: a byte not valid in UTF-8 replaced"}},
        // Code pages beyond Central and Western Europe, in 3 cues and in 30.
        {"russian-1251.srt", {}, "SubRip", "WINDOWS-1251", {}, every(30)},
        {"russian-short-1251.srt", {}, "SubRip", "WINDOWS-1251", {}, every(3)},
        {"russian-short-koi8-r.srt", {}, "SubRip", "KOI8-R", {}, every(3)},
        {"ukrainian-short-koi8-u.srt", {}, "SubRip", "KOI8-U", {}, every(3)},
        {"bulgarian-short-1251.srt", {}, "SubRip", "WINDOWS-1251", {}, every(3)},
        {"greek-1253.srt", {}, "SubRip", "WINDOWS-1253", {}, every(30)},
        {"greek-short-8859-7.srt", {}, "SubRip", "ISO-8859-7", {}, every(3)},
        {"turkish-short-1254.srt", {}, "SubRip", "WINDOWS-1254", {}, every(3)},
        {"lithuanian-short-1257.srt", {}, "SubRip", "WINDOWS-1257", {}, every(3)},
        // UTF-8 with a few notes and ellipses, and one right quote of a Windows editor.
        {"utf8-stray-windows.srt",
         {},
         "SubRip",
         "UTF-8",
         {},
         every(10),
         20,
         {"line 11: a byte not valid in UTF-8 replaced"}},
        // Each line of a subtitle on a file line of its own; an empty one ends the one
        // before.
        {"multiline-tmplayer.txt",
         {},
         "TMPlayer",
         "UTF-8",
         {},
         {{1000, 3590}, {4000, 7000}, {9000, 11000}},
         20,
         {"1 empty subtitle dropped"}},
        // Times without a fraction, and fractions of one or two digits (",04" is 40 ms).
        {"no-fraction.srt",
         {},
         "SubRip",
         "UTF-8",
         {},
         {{99000, 101040}, {102400, 104000}, {105250, 107500}}},
        {"no-fraction.vtt",
         {},
         "WebVTT",
         "UTF-8",
         {},
         {{99000, 101040}, {102400, 104000}, {105000, 107000}}},
        {"no-fraction-utf16.srt",
         {},
         "SubRip",
         "UTF-16LE",
         {},
         {{99000, 101040}, {102400, 104000}}},
        // The frame rate with a decimal comma, and with an end frame past 1.
        {"rate-comma.sub",
         {},
         "MicroDVD",
         "UTF-8",
         {},
         {{1001, 3003}, {3600000, 3602002}},
         20,
         {"frame rate 29,97 from the file"}},
        {"rate-any-end.sub",
         {},
         "MicroDVD",
         "UTF-8",
         {},
         {{1000, 3000}, {3600000, 3602000}},
         20,
         {"frame rate 25.000 from the file"}},
    };
    for (Sample& s : out) {
        s.input = sample_file(s.name);
        s.expected = sample_file(s.name + ".expected");
    }
    return out;
}

inline std::vector<Sample> all_samples() {
    std::vector<Sample> out = samples();
    for (Sample& s : file_samples()) out.push_back(std::move(s));
    return out;
}

}  // namespace testsup
