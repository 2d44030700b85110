// The converter's rules beyond single samples: both decoders and both detections
// agree, code pages of short files and stray bytes, bad input fails with one line
// and no output, times and overlaps, the header's source name, the options and the
// four-line limit, and the quick check the file menu uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "conv/align.h"
#include "conv/convert.h"
#include "conv/model.h"
#include "tests/support/convert_samples.h"
#include "tests/support/converted_header.h"

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

// The single-byte code pages the box decodes from its own tables.
constexpr const char* kCodePages[] = {
    "WINDOWS-1250", "WINDOWS-1251", "WINDOWS-1252", "WINDOWS-1253", "WINDOWS-1254",
    "WINDOWS-1257", "ISO-8859-2",   "ISO-8859-5",   "ISO-8859-7",   "ISO-8859-9",
    "ISO-8859-13",  "ISO-8859-15",  "KOI8-R",       "KOI8-U"};

TEST(ConvertEncoding, TablesAndIconvAndBothDetectionsAgree) {
    // Every high byte of each code page, as the box build and the PC build decode it
    // (a byte the page leaves undefined is U+FFFD both ways; a build without iconv has
    // the tables only).
    for (const char* page : kCodePages) {
        if (!conv::have_iconv()) break;
        for (int b = 0x80; b < 0x100; ++b) {
            SCOPED_TRACE(std::string(page) + " byte " + std::to_string(b));
            const std::string one(1, static_cast<char>(b));
            std::string by_iconv, by_tables, error;
            ASSERT_TRUE(
                conv::decode_to_utf8(bytes(one), page, conv::Decoder::kIconv, by_iconv, error));
            ASSERT_TRUE(
                conv::decode_to_utf8(bytes(one), page, conv::Decoder::kTables, by_tables, error));
            EXPECT_EQ(by_iconv, by_tables);
        }
    }
    // Whole conversions: the build's decoder with uchardet, and tables with our own
    // detection.
    for (const testsup::Sample& s : testsup::all_samples()) {
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
    // The names people and uchardet give the code pages, for the box's tables too.
    const std::string cyrillic = "1\n00:00:01,000 --> 00:00:02,000\n\xC4\xC1\n";
    for (const auto& [name, text] : {std::pair{"cp1251", "ДБ"}, std::pair{"koi8r", "да"},
                                     std::pair{"ISO_8859-5", "ФС"}, std::pair{"greek", "ΔΑ"}}) {
        SCOPED_TRACE(name);
        conv::ConvertOptions forced;
        forced.forced_encoding = name;
        std::string output;
        conv::ConvertReport report;
        ASSERT_EQ(conv::convert_with(bytes(cyrillic), forced, conv::Decoder::kTables, false, output,
                                     report),
                  conv::kConvertOk)
            << report.error;
        EXPECT_EQ(body(Result{0, output, report}), std::string("{25}{50}") + text + "\n");
    }
    conv::ConvertOptions bogus;
    bogus.forced_encoding = "NO-SUCH-CODE";
    Result r = run(srt, bogus);
    EXPECT_EQ(r.code, conv::kConvertFailed);
    EXPECT_EQ(r.report.error, "unknown encoding NO-SUCH-CODE");
}

// Decoded text of a file, with the encoding each detection finds.
std::string decoded(std::string_view input, bool use_uchardet, std::string& encoding) {
    encoding = conv::detect_encoding(bytes(input), use_uchardet).name;
    std::string text, error;
    conv::decode_to_utf8(bytes(input), encoding, conv::default_decoder(), text, error);
    return text;
}

bool has_c1(std::string_view text) {
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '\xC2' && static_cast<unsigned char>(text[i + 1]) < 0xA0) return true;
    return false;
}

TEST(ConvertEncoding, ShortCentralEuropeanFilesByTheirLetters) {
    // Six cues are too few bytes for uchardet to be sure: the letters decide, with
    // uchardet (where built in) and without.
    for (const char* name : {"czech-short-1250.srt", "czech-short-8859-2.srt"}) {
        std::string input = testsup::sample_file(name);
        ASSERT_FALSE(input.empty()) << name;
        for (bool use_uchardet : {true, false}) {
            SCOPED_TRACE(std::string(name) + (use_uchardet ? " with uchardet" : " without"));
            std::string encoding;
            std::string text = decoded(input, use_uchardet, encoding);
            EXPECT_EQ(encoding, std::string(name).find("1250") != std::string::npos ? "WINDOWS-1250"
                                                                                    : "ISO-8859-2");
            for (const char* word : {"Šťastnou", "Máš", "už"})
                EXPECT_NE(text.find(word), std::string::npos) << word;
            EXPECT_EQ(text.find("\xC2\xA9"), std::string::npos);  // ©
            EXPECT_EQ(text.find("\xC2\xBB"), std::string::npos);  // »
        }
    }
    // Never a code page that reads a byte as a control code when another reads all:
    // quotes and a dash of Windows-1250/1252 are control codes in ISO-8859-2.
    const std::string cases[] = {
        "1\n00:00:01,000 --> 00:00:02,000\n\x84"
        "Dobr\xFD den,\x93 \x96 \xF8"
        "ekl.\n",
        "1\n00:00:01,000 --> 00:00:02,000\n\x93"
        "Caf\xE9\x94 \x96 ok\n",
        "1\n00:00:01,000 --> 00:00:02,000\n\x9E\xE1"
        "dn\xE9 \x9A\xB9\x9D\n",
    };
    for (const std::string& input : cases) {
        for (bool use_uchardet : {true, false}) {
            SCOPED_TRACE(input);
            std::string encoding;
            std::string text = decoded(input, use_uchardet, encoding);
            EXPECT_NE(encoding, "ISO-8859-2");
            EXPECT_FALSE(has_c1(text)) << text;
            EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos) << text;
        }
    }
}

TEST(ConvertEncoding, Utf8WhenValidSequencesOutnumberStrayBytesFourToOne) {
    // A letter of two bytes n times, and k stray bytes of a code page.
    auto text = [](int n, int k) {
        std::string s = "1\n00:00:01,000 --> 00:00:02,000\n";
        for (int i = 0; i < n; ++i) s += "caf\xC3\xA9 ";
        for (int i = 0; i < k; ++i) s += "\x9A";
        return s + "\n";
    };
    struct {
        int valid;
        int stray;
        bool utf8;
    } cases[] = {
        {4, 1, true},     // 4 to 1
        {3, 1, false},    // just under
        {8, 2, true},     // 4 to 1 again
        {7, 2, false},    // just under
        {40, 10, true},   // many
        {39, 10, false},  // a code page file, for all its valid pairs
        {3, 0, true},     // all valid
        {0, 1, false},    // no sequence at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.valid) + " valid, " + std::to_string(c.stray) + " stray");
        std::string input = text(c.valid, c.stray);
        for (bool use_uchardet : {true, false}) {
            std::string output;
            conv::ConvertReport report;
            conv::convert_with(bytes(input), {}, conv::Decoder::kTables, use_uchardet, output,
                               report);
            EXPECT_EQ(report.encoding == "UTF-8", c.utf8) << report.encoding;
        }
    }
    // Each stray byte shows as U+FFFD, and a note says where the first is.
    Result one = run(text(4, 1));
    EXPECT_NE(body(one).find("caf\xC3\xA9 \xEF\xBF\xBD\n"), std::string::npos) << body(one);
    EXPECT_EQ(one.report.notes,
              std::vector<std::string>{"line 3: a byte not valid in UTF-8 replaced"});
    Result two = run(text(8, 2));
    EXPECT_NE(body(two).find("\xEF\xBF\xBD\xEF\xBF\xBD\n"), std::string::npos);
    EXPECT_EQ(two.report.notes,
              std::vector<std::string>{"2 bytes not valid in UTF-8 replaced, the first on line 3"});
}

// A file of three cues with the lines given, line ends "\r\n".
std::string srt(const std::vector<std::u8string_view>& lines) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i)
        out += std::to_string(i + 1) + "\r\n00:00:0" + std::to_string(2 * i + 1) +
               ",000 --> 00:00:0" + std::to_string(2 * i + 2) + ",000\r\n" +
               std::string(lines[i].begin(), lines[i].end()) + "\r\n\r\n";
    return out;
}

// UTF-8 text in a code page, by the tables' own reading of each byte (checked against
// iconv above); empty when some character is not in the page.
std::string encoded(std::string_view utf8, const char* page) {
    std::vector<std::pair<std::string, char>> letters;
    for (int b = 0x80; b < 0x100; ++b) {
        std::string one(1, static_cast<char>(b)), text, error;
        if (conv::decode_to_utf8(bytes(one), page, conv::Decoder::kTables, text, error))
            letters.emplace_back(text, static_cast<char>(b));
    }
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            out += utf8[i++];
            continue;
        }
        auto match = std::find_if(letters.begin(), letters.end(), [&](const auto& letter) {
            return utf8.substr(i, letter.first.size()) == letter.first;
        });
        if (match == letters.end()) return {};
        out += match->second;
        i += match->first.size();
    }
    return out;
}

TEST(ConvertEncoding, ThreeCuesOfEachLanguageInEachOfItsCodePages) {
    struct {
        const char* language;
        std::vector<std::u8string_view> lines;
        std::vector<const char*> pages;
    } cases[] = {
        {"Russian",
         {u8"Где мои ключи?", u8"Они лежат на столе.", u8"Спасибо, я опаздываю на работу."},
         {"WINDOWS-1251", "KOI8-R", "ISO-8859-5"}},
        {"Ukrainian",
         {u8"Де ти був учора?", u8"Я їздив до бабусі в село.", u8"Вона передає тобі привіт."},
         {"WINDOWS-1251", "KOI8-U"}},
        {"Belarusian",
         {u8"Добры дзень, як справы?", u8"Усё добра, дзякуй.", u8"Сёння ў нас свята."},
         {"WINDOWS-1251"}},
        {"Bulgarian",
         {u8"Къде е гарата?", u8"Направо, после наляво.", u8"Благодаря ви много."},
         {"WINDOWS-1251", "ISO-8859-5"}},
        {"Serbian",
         {u8"Добро јутро, како си?", u8"Добро сам, хвала.", u8"Идемо ли данас у град?"},
         {"WINDOWS-1251", "ISO-8859-5"}},
        {"Macedonian",
         {u8"Добро утро, како си?", u8"Јас сум добро, благодарам.", u8"Ќе одиме ли на море?"},
         {"WINDOWS-1251"}},
        {"Greek",
         {u8"Πού είναι ο σταθμός;", u8"Ευθεία και μετά αριστερά.", u8"Σας ευχαριστώ πολύ."},
         {"WINDOWS-1253", "ISO-8859-7"}},
        {"Turkish",
         {u8"İstasyon nerede?", u8"Düz gidin, sonra sola dönün.", u8"Çok teşekkür ederim."},
         {"WINDOWS-1254", "ISO-8859-9"}},
        {"Lithuanian",
         {u8"Kur yra stotis?", u8"Eikite tiesiai, paskui į kairę.", u8"Labai ačiū už pagalbą."},
         {"WINDOWS-1257", "ISO-8859-13"}},
        {"Latvian",
         {u8"Kur ir stacija?", u8"Ejiet taisni, pēc tam pa kreisi.",
          u8"Paldies, jūs esat ļoti laipns."},
         {"WINDOWS-1257", "ISO-8859-13"}},
        {"Estonian",
         {u8"Kus on rongijaam?", u8"Minge otse, siis vasakule.", u8"Tänan väga, head päeva."},
         {"WINDOWS-1257"}},
        {"Czech",
         {u8"Kde je nádraží?", u8"Jděte rovně, pak doleva.", u8"Děkuji mnohokrát."},
         {"WINDOWS-1250", "ISO-8859-2"}},
        {"Polish",
         {u8"Gdzie jest dworzec?", u8"Proszę iść prosto, potem w lewo.",
          u8"Dziękuję bardzo za pomoc."},
         {"WINDOWS-1250", "ISO-8859-2"}},
        {"Hungarian",
         {u8"Hol van az állomás?", u8"Menjen egyenesen, aztán balra.",
          u8"Köszönöm szépen a segítséget."},
         {"WINDOWS-1250", "ISO-8859-2"}},
        {"French",
         {u8"Où est la gare ?", u8"Allez tout droit, puis à gauche.",
          u8"Merci beaucoup, très gentil."},
         {"WINDOWS-1252", "ISO-8859-15"}},
        {"German",
         {u8"Wo ist der Bahnhof?", u8"Gehen Sie geradeaus, dann links.",
          u8"Vielen Dank für Ihre Hilfe, schönen Tag."},
         {"WINDOWS-1252", "ISO-8859-15"}},
    };
    for (const auto& c : cases) {
        const std::string utf8 = srt(c.lines);
        const std::string expected = body(run(utf8));
        for (const char* page : c.pages) {
            const std::string input = encoded(utf8, page);
            ASSERT_FALSE(input.empty()) << c.language << " not in " << page;
            for (bool use_uchardet : {true, false}) {
                SCOPED_TRACE(std::string(c.language) + " in " + page +
                             (use_uchardet ? " with uchardet" : ""));
                std::string output;
                conv::ConvertReport report;
                ASSERT_EQ(conv::convert_with(bytes(input), {}, conv::default_decoder(),
                                             use_uchardet, output, report),
                          conv::kConvertOk)
                    << report.error;
                // Another page is right where it reads these bytes alike.
                EXPECT_EQ(body(Result{0, output, report}), expected) << report.encoding;
            }
        }
    }
}

TEST(ConvertEncoding, UnknownEncodingWhenNoCodePageReadsTheFileAsText) {
    // Scripts none of the code pages holds: the conversion fails and says how to name
    // the encoding, the file menu still offers the file (to say so), and a reference
    // for the timing, whose text is never shown, is read all the same.
    for (const char* name : {"arabic-1256.srt", "japanese-shift-jis.srt", "chinese-gbk.srt"}) {
        SCOPED_TRACE(name);
        const std::string input = testsup::sample_file(name);
        ASSERT_FALSE(input.empty());
        for (conv::Decoder decoder : {conv::default_decoder(), conv::Decoder::kTables}) {
            std::string output;
            conv::ConvertReport report;
            EXPECT_EQ(conv::convert_with(bytes(input), {}, decoder, false, output, report),
                      conv::kConvertFailed);
            EXPECT_TRUE(output.empty());
            EXPECT_EQ(report.error.rfind("unknown encoding", 0), 0u) << report.error;
            EXPECT_NE(report.error.find("--encoding"), std::string::npos) << report.error;
            EXPECT_NE(report.error.find("film.ru.srt"), std::string::npos) << report.error;
        }
        EXPECT_TRUE(conv::looks_convertible(bytes(input)));
        std::vector<conv::TimeSpan> spans;
        std::string error;
        EXPECT_EQ(conv::read_reference_subtitles(bytes(input), spans, error), conv::kConvertOk)
            << error;
        EXPECT_EQ(spans.size(), 3u);
    }
    // Never for few high bytes: a stray byte in English, a Western file of few
    // accented letters, a file whose only high bytes are quotes and dashes.
    const std::string cue = "1\n00:00:01,000 --> 00:00:02,000\n";
    for (const std::string& input :
         {cue + "It\x81s fine.\n", cue + "Hello\xFF world\x9D\n", cue + "A caf\xE9, please.\n",
          cue + "\x93Quoted\x94 \x96 and\x85\n"}) {
        SCOPED_TRACE(input);
        EXPECT_EQ(run(input).code, conv::kConvertOk) << run(input).report.error;
    }
}

TEST(ConvertEncoding, LanguageCodeInTheNamePutsItsCodePagesFirst) {
    // A Russian word among English lines is too little to tell Cyrillic from accented
    // Latin letters; a name that says Russian decides, and the report says so. A code
    // page of the language is taken whenever it reads the file as text at all; when
    // none does, the best reading of all wins (a misnamed Greek or Czech file).
    const std::string russian = encoded(srt({u8"Yes.", u8"Да.", u8"No."}), "KOI8-R");
    const std::string estonian = encoded(srt({u8"Tänan väga.", u8"Head ööd."}), "WINDOWS-1257");
    const std::string greek = testsup::sample_file("greek-short-8859-7.srt");
    const std::string czech = testsup::sample_file("czech-short-1250.srt");
    const std::string note = " chosen by the language code \"";
    struct {
        const std::string& input;
        const char* name;
        const char* encoding;  // nullptr: as read without a name
        const char* code;      // the note's, nullptr for none
    } cases[] = {
        {russian, "film.ru.srt", "KOI8-R", "ru"},
        {russian, "Film.RUS.srt", "KOI8-R", "rus"},
        {russian, "film.srt", nullptr, nullptr},
        {russian, "ru.srt", nullptr, nullptr},
        {russian, ".ru.srt", nullptr, nullptr},
        {russian, "film.ru", nullptr, nullptr},
        {russian, "dir.ru/film.srt", nullptr, nullptr},
        {russian, "film.xx.srt", nullptr, nullptr},
        {estonian, "film.et.srt", "WINDOWS-1257", "et"},
        {estonian, "film.srt", nullptr, nullptr},
        {greek, "film.ru.srt", "ISO-8859-7", nullptr},
        {czech, "film.ru.srt", "WINDOWS-1250", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        conv::ConvertOptions named;
        named.source_name = c.name;
        const Result r = run(c.input, named);
        ASSERT_EQ(r.code, conv::kConvertOk) << r.report.error;
        const Result unnamed = run(c.input);
        EXPECT_EQ(r.report.encoding, c.encoding ? c.encoding : unnamed.report.encoding);
        const auto noted =
            std::find_if(r.report.notes.begin(), r.report.notes.end(),
                         [&](const std::string& n) { return n.find(note) != std::string::npos; });
        if (c.code == nullptr) {
            EXPECT_EQ(noted, r.report.notes.end());
            continue;
        }
        ASSERT_NE(noted, r.report.notes.end());
        EXPECT_EQ(*noted, std::string(c.encoding) + note + c.code + "\" in the file's name");
        EXPECT_NE(unnamed.report.encoding, c.encoding);
    }
    conv::ConvertOptions named;
    named.source_name = "film.ru.srt";
    EXPECT_EQ(body(run(russian, named)), "{25}{50}Yes.\n{75}{100}Да.\n{125}{150}No.\n");
    // --encoding overrides the name.
    named.forced_encoding = "WINDOWS-1251";
    EXPECT_EQ(run(russian, named).report.encoding, "WINDOWS-1251");
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
        {"only a cut cue", "1\n00:00:03,000 --> 00:0", "no subtitles found"},
        {"absurd time", "1\n99:00:01,000 --> 99:00:02,000\na\n", "no subtitles found"},
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

TEST(ConvertTimes, ShortOverlapsEndTheFirstCue) {
    struct {
        const char* what;
        const char* first;   // times of the first cue
        const char* second;  // and of the second
        const char* body;
        int removed;
    } cases[] = {
        {"30 ms: one frame of both", "00:00:05,000 --> 00:00:07,030",
         "00:00:07,000 --> 00:00:09,000", "{125}{175}a\n{175}{225}b\n", 1},
        {"240 ms", "00:00:05,000 --> 00:00:07,240", "00:00:07,000 --> 00:00:09,000",
         "{125}{175}a\n{175}{225}b\n", 1},
        {"900 ms, under a fifth of 5 s", "00:00:01,000 --> 00:00:06,000",
         "00:00:05,100 --> 00:00:10,100", "{25}{128}a\n{128}{253}b\n", 1},
        {"1 s of 3 s cues: two speakers at once", "00:00:01,000 --> 00:00:04,000",
         "00:00:03,000 --> 00:00:06,000", "{25}{75}a\n{75}{100}a|b\n{100}{150}b\n", 0},
        {"the second within the first", "00:00:01,000 --> 00:00:06,000",
         "00:00:05,900 --> 00:00:05,990", "{25}{148}a\n{148}{150}a|b\n", 0},
        {"both from the same moment", "00:00:01,000 --> 00:00:03,000",
         "00:00:01,000 --> 00:00:03,100", "{25}{75}a|b\n{75}{78}b\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Result r = run(std::string("1\n") + c.first + "\na\n\n2\n" + c.second + "\nb\n");
        ASSERT_EQ(r.code, conv::kConvertOk) << r.report.error;
        EXPECT_EQ(body(r), c.body);
        bool noted = std::find(r.report.notes.begin(), r.report.notes.end(),
                               "1 short overlap removed: the earlier subtitle ends where the next "
                               "starts") != r.report.notes.end();
        EXPECT_EQ(noted, c.removed == 1);
    }
}

TEST(ConvertTimes, ClockTimesWithoutOrWithShortFractions) {
    // 0:01:39 is frame 2475; ",04" is 40 ms (one frame more), ",4" 400 ms.
    struct {
        const char* what;
        std::string input;
        const char* body;
        std::vector<std::string> notes = {};
    } cases[] = {
        {"SubRip, a bare start and a two-digit end", "1\n00:01:39 --> 00:01:41,04\na\n",
         "{2475}{2526}a\n"},
        {"SubRip, one digit, one-digit hours and a bare end", "1\n0:01:39,4 --> 0:01:41\na\n",
         "{2485}{2525}a\n"},
        {"WebVTT, a bare time with hours and minutes with a fraction",
         "WEBVTT\n\n00:01:39 --> 01:41.04\na\n", "{2475}{2526}a\n"},
        {"SubViewer, a bare start and a comma fraction", "00:01:39,00:01:41,04\na\n",
         "{2475}{2526}a\n"},
        {"SubViewer, a bare end", "00:01:39.00,00:01:41\na\n", "{2475}{2525}a\n"},
        {"TMPlayer, a two-digit fraction", "00:01:39,04:a\n", "{2476}{2526}a\n"},
        {"minutes and seconds alone, or a bare time cut or mistyped, are no SubRip time",
         "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\n01:39 --> 01:41\nb\n\n"
         "3\n00:00:05 --> 00:00:0\nc\n\n4\n00:00:07 --> 00:00:08:5\nd\n",
         "{25}{50}a\n",
         {"line 6: time line not understood, cue skipped",
          "line 10: time line not understood, cue skipped",
          "line 14: time line not understood, cue skipped"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Result r = run(c.input);
        ASSERT_EQ(r.code, conv::kConvertOk) << r.report.error;
        EXPECT_EQ(body(r), c.body);
        EXPECT_EQ(r.report.notes, c.notes);
    }
}

TEST(ConvertTimes, CuesOfNoLengthOrNoEndNeverDoubleTheNextText) {
    // No length: one frame and a note naming it. Ending before its start, or no end
    // at all (MicroDVD's "{25}{}"): 2 s, but no further than where the next starts.
    std::string srt =
        "1\n00:00:01,000 --> 00:00:01,000\nnothing\n\n"
        "2\n00:00:02,000 --> 00:00:03,000\nnext\n\n"
        "3\n00:00:05,000 --> 00:00:04,000\nbackwards\n\n"
        "4\n00:00:06,000 --> 00:00:07,000\nafter\n\n"
        "5\n00:00:07,000 --> 00:00:07,000\nnothing again\n";
    Result r = run(srt);
    ASSERT_EQ(r.code, conv::kConvertOk) << r.report.error;
    EXPECT_EQ(body(r),
              "{25}{26}nothing\n{50}{75}next\n{125}{150}backwards\n{150}{175}after\n"
              "{175}{176}nothing again\n");
    EXPECT_EQ(r.report.notes,
              (std::vector<std::string>{
                  "line 2: subtitle at 0:00:01,000 has no length, shown for one frame",
                  "line 18: subtitle at 0:00:07,000 has no length, shown for one frame",
                  "1 subtitle ending before its start shown for up to 2 s"}));
    EXPECT_EQ(r.report.cues_merged, 0);

    conv::ConvertOptions pal;
    pal.fps = 25.0;
    Result open = run("{25}{}open\n{50}{100}next\n{150}{}last\n", pal);
    EXPECT_EQ(body(open), "{25}{50}open\n{50}{100}next\n{150}{200}last\n");
    EXPECT_EQ(open.report.notes, std::vector<std::string>{});
}

TEST(ConvertText, MicroDvdCodesNeverShow) {
    const std::string srt = "1\n00:00:01,000 --> 00:00:02,000\n";
    struct {
        const char* what;
        std::string input;
        const char* body;
    } cases[] = {
        {"SubRip: italics of a line or the cue, the top, and codes that only style",
         srt + "{y:i}Hello {c:$0000FF}you\n{F:Arial}{s:20}{O:10}there\n\n"
               "2\n00:00:03,000 --> 00:00:04,000\n{Y:i}{H:UTF-8}one\ntwo{C:$FF}\n\n"
               "3\n00:00:05,000 --> 00:00:06,000\n{P:0}{S:12}{f:Serif}{o:2}top\n",
         "{25}{50}{1}Hello you|there\n{75}{100}{5}one|two\n{125}{150}{256}top\n"},
        {"WebVTT", "WEBVTT\n\n00:01.000 --> 00:02.000\n<b>{y:b}bold</b> {c:$00FF00}green\n",
         "{25}{50}bold green\n"},
        {"SubViewer", "00:00:01.00,00:00:02.00\n{y:i}a[br]{c:$FF}b\n", "{25}{50}{1}a|b\n"},
        {"MPL2", "[10][20]{c:$FF}a|{Y:b}b\n", "{25}{50}a|b\n"},
        {"TMPlayer", "00:00:01:{y:u}a|{s:9}b\n", "{25}{75}a|b\n"},
        {"braces that are no code stay", srt + "{laughs} {1} {a:b} {yes:no} {Y:} {y:i\n",
         "{25}{50}{0}{laughs} {1} {a:b} {yes:no} {Y:} {y:i\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Result r = run(c.input);
        ASSERT_EQ(r.code, conv::kConvertOk) << r.report.error;
        EXPECT_EQ(body(r), c.body);
    }
}

TEST(ConvertMicroDvd, FrameRateLine) {
    // At 23.976 unless the first line declares a plausible rate.
    struct {
        const char* what;
        const char* input;
        const char* body;
        std::vector<std::string> notes = {};
    } cases[] = {
        {"a decimal comma: the cue at one hour stays there",
         "{1}{1}29,97\n{107892}{107952}x\n",
         "{90000}{90050}x\n",
         {"frame rate 29,97 from the file"}},
        {"any end frame",
         "{1}{100}25.000\n{25}{50}x\n",
         "{25}{50}x\n",
         {"frame rate 25.000 from the file"}},
        {"from frame 0", "{0}{0}25\n{25}{50}x\n", "{25}{50}x\n", {"frame rate 25 from the file"}},
        {"no plausible rate is text", "{0}{1}150\n{25}{50}x\n", "{0}{1}150\n{26}{52}x\n"},
        {"a number later is text", "{100}{120}x\n{1}{10}25\n", "{1}{10}25\n{104}{125}x\n"},
        {"not from frame 0 or 1", "{2}{10}25\n{100}{120}x\n", "{2}{10}25\n{104}{125}x\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Result r = run(c.input);
        ASSERT_EQ(r.code, conv::kConvertOk) << r.report.error;
        EXPECT_EQ(body(r), c.body);
        EXPECT_EQ(r.report.notes, c.notes);
    }
}

TEST(ConvertHeader, SourceNameRoundTripsAndHandWrittenHeadersNameNothing) {
    conv::ConvertOptions options;
    options.source_name = "dir/Film [2019] \x01.srt";
    Result r = run("1\n00:00:01,000 --> 00:00:02,000\na\n", options);
    std::string header = r.output.substr(0, r.output.find('\n'));
    EXPECT_EQ(header, "[KTF2: 1 0 converted from Film [2019] \\x01.srt" +
                          testsup::checksum_part(body(r)) + "]");
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

// The checksum of what follows the header line ends the header, after a name and
// options holding escaped ";" and "]" of their own, and tells a file changed by hand
// from one as it was written; a header without one (written before checksums) is
// taken as it was written.
TEST(ConvertHeader, ChecksumTellsAFileChangedByHand) {
    conv::ConvertOptions options;
    options.source_name = "Film; deel 2 [checksum 0000].srt";
    options.source_stamp = conv::SourceStamp{12, 1700000000, 5};
    options.wrap_width = 30;
    options.sync_reference = "/opnames/Film; deel 2 [HD]; checksum 12345678.ts";
    const Result r = run("1\n00:00:01,000 --> 00:00:02,000\nHallo\n", options);
    ASSERT_EQ(r.code, conv::kConvertOk) << r.report.error;
    const std::string header = r.output.substr(0, r.output.find('\n'));
    EXPECT_TRUE(header.ends_with(testsup::checksum_part(body(r)) + "]")) << header;
    const conv::ConvertedFrom from = conv::converted_from_header(header);
    EXPECT_EQ(from.source_name, options.source_name);
    EXPECT_TRUE(from.source_stamp == options.source_stamp);
    EXPECT_EQ(from.sync_reference, options.sync_reference);
    EXPECT_FALSE(from.only_sync_option);
    EXPECT_TRUE(from.options.starts_with("--wrap 30 --sync-to ")) << from.options;
    EXPECT_EQ(from.options.find("; "), std::string::npos) << from.options;
    EXPECT_TRUE(from.checksum.has_value());

    EXPECT_TRUE(conv::converted_content_matches(r.output));
    const std::string old_header = "[KTF2: 1 0 converted from a.srt; --wrap 30]";
    const struct {
        const char* what;
        std::string file;
        bool matches;
    } cases[] = {
        {"a subtitle corrected", header + "\n{25}{50}Hallo!\n", false},
        {"line ends made \\r\\n", header + "\n" + body(r).insert(body(r).size() - 1, "\r"), false},
        {"cut short", r.output.substr(0, r.output.size() - 1), false},
        {"no line after the header", header, false},
        {"only the header's count changed", "[KTF2: 2" + r.output.substr(8), true},
        {"a header without a checksum", old_header + "\n{25}{50}iets anders\n", true},
        {"written by hand", "[KTF2: 1 0 ]\n{25}{50}x\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(conv::converted_content_matches(c.file), c.matches);
    }
    // Headers written before checksums read as they always did.
    const conv::ConvertedFrom old = conv::converted_from_header(old_header);
    EXPECT_TRUE(old.converted);
    EXPECT_EQ(old.source_name, "a.srt");
    EXPECT_EQ(old.options, "--wrap 30");
    EXPECT_FALSE(old.checksum.has_value());
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

TEST(ConvertOptions, EveryLineFitsFourLinesOfAtMostSixtyCharacters) {
    const std::string words =
        "Ik heb je gisteren nog gezegd dat we niet te laat mochten komen, maar jij moest zo "
        "nodig nog even langs de bakker en nu staan we hier in de regen voor een dichte deur";
    // The words up to the last space before n characters.
    auto first = [&](size_t n) { return words.substr(0, words.rfind(' ', n)); };
    struct {
        const char* what;
        std::string text;  // the cue's lines, "|" between them
        int wrap;
        bool cut;
    } cases[] = {
        {"one long line", words, 40, false},
        {"a long line between short ones", "Kijk!|" + first(140) + "|Nu!", 40, false},
        {"six short lines", "- Wie?|- Ik.|- Waarom?|- Daarom.|- Goed.|- Dag.", 40, false},
        {"a narrow wrap widened", first(120), 10, false},
        {"more than four lines of sixty", words + " " + words, 40, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        conv::ConvertOptions options;
        options.wrap_width = c.wrap;
        std::string source = c.text;
        std::replace(source.begin(), source.end(), '|', '\n');
        Result r = run("1\n00:00:01,000 --> 00:00:02,000\n" + source + "\n", options);
        ASSERT_EQ(r.code, conv::kConvertOk) << r.report.error;
        std::string text = body(r).substr(std::string("{25}{50}").size());
        text.pop_back();  // the line end
        std::vector<std::string> lines;
        for (size_t at = 0;;) {
            size_t bar = text.find('|', at);
            lines.push_back(text.substr(at, bar - at));
            if (bar == std::string::npos) break;
            at = bar + 1;
        }
        EXPECT_LE(lines.size(), 4u) << text;
        for (const std::string& line : lines) EXPECT_LE(line.size(), 60u) << line;
        // The words in their order, none lost unless the cut says so.
        std::string joined;
        for (const std::string& line : lines) joined += (joined.empty() ? "" : " ") + line;
        std::string flat = c.text;
        std::replace(flat.begin(), flat.end(), '|', ' ');
        if (c.cut) {
            EXPECT_EQ(flat.substr(0, joined.size()), joined);
            EXPECT_LT(joined.size(), flat.size());
            ASSERT_FALSE(r.report.notes.empty());
            EXPECT_NE(r.report.notes.back().find("beyond four cut: \""), std::string::npos)
                << r.report.notes.back();
        } else {
            EXPECT_EQ(joined, flat);
            EXPECT_EQ(
                r.report.notes,
                std::vector<std::string>{"1 subtitle wrapped wider than " + std::to_string(c.wrap) +
                                         " characters or joined to fit in four lines"});
        }
    }
    // The narrowest wrap that fits is taken: these 166 characters need five lines
    // of 41 or fewer, and four of 42 hold them.
    ASSERT_EQ(words.size(), 166u);
    EXPECT_EQ(conv::wrap_line(words, 41).size(), 5u);
    EXPECT_EQ(body(run("1\n00:00:01,000 --> 00:00:02,000\n" + words + "\n")),
              "{25}{50}Ik heb je gisteren nog gezegd dat we niet|te laat mochten komen, maar jij "
              "moest zo|nodig nog even langs de bakker en nu staan|we hier in de regen voor een "
              "dichte deur\n");
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
