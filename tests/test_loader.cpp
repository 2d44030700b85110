// The subtitle file loader: header, subtitle lines, line splitting, failures and
// what they leave behind, replacement, and the start-up choice of file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "fb/screen.h"
#include "sub/subtitles.h"
#include "tests/support/store_support.h"
#include "tmr/clock.h"

namespace {

using testsup::ClockTest;
using testsup::StoreTest;
using testsup::wait_until;

std::string line(const subtitle& t, int i) {
    return t.lines[i] ? t.lines[i].get() : "<null>";
}

class Loader : public StoreTest {};

TEST_F(Loader, ReadsRecordsAndFileGlobals) {
    auto records = load("a.tkx",
                        "[KTF2: 2 5 ]\n"
                        "{250}{300}Hello|world\n"
                        "{400}{450}{258}Top line\n");
    ASSERT_TRUE(records);
    EXPECT_EQ(subtitle_count, 2);
    EXPECT_EQ(time_offset_ms, 200);
    EXPECT_EQ(last_end_ms, 18000);
    EXPECT_EQ(records[0].start_ms, 10000u);
    EXPECT_EQ(records[0].end_ms, 12000u);
    EXPECT_EQ(records[0].flags, 0);
    ASSERT_EQ(records[0].line_count, 2);
    EXPECT_EQ(line(records[0], 0), "Hello");
    EXPECT_EQ(line(records[0], 1), "world");
    EXPECT_FALSE(records[0].lines[2]);
    EXPECT_EQ(records[1].flags, 258);
    ASSERT_EQ(records[1].line_count, 1);
    EXPECT_EQ(line(records[1], 0), "Top line");
}

TEST_F(Loader, HeaderForms) {
    // The byte-order mark, blanks matching no white space, trailing text.
    EXPECT_TRUE(load("bom.tkx", "\xEF\xBB\xBF[KTF2: 1 0 ]\n{1}{2}a\n"));
    EXPECT_TRUE(load("tight.tkx", "[KTF2:1 0]\n{1}{2}a\n"));
    EXPECT_TRUE(load("tail.tkx", "[KTF2: 1 0 ] anything\r\n{1}{2}a\r\n"));
    struct {
        const char* header;
        int32_t error;
    } bad[] = {
        {"[KTF2: 1 ]\n", 9},            // one number
        {" [KTF2: 1 0 ]\n", 9},         // not at the start of the line
        {"[KTF3: 1 0 ]\n", 9},          // another format
        {"[KTF2: 0 0 ]\n", 9},          // no subtitles
        {"[KTF2: -2 0 ]\n", 9},         // negative count
        {"\xEF\xBB[KTF2: 1 0 ]\n", 9},  // a cut byte-order mark
    };
    for (const auto& b : bad) {
        sub_error = 0;
        EXPECT_FALSE(load("bad.tkx", std::string(b.header) + "{1}{2}a\n")) << b.header;
        EXPECT_EQ(sub_error, b.error) << b.header;
    }
}

TEST_F(Loader, NegativeOffsetFailsKeepingTheRawOffset) {
    subtitle_count = 7;
    EXPECT_FALSE(load("neg.tkx", "[KTF2: 1 -1 ]\n{1}{2}a\n"));
    EXPECT_EQ(sub_error, 9);
    EXPECT_EQ(time_offset_ms, -1);
    // Failed before the array existed: the count is left alone.
    EXPECT_EQ(subtitle_count, 7);
}

TEST_F(Loader, OpenAndReadFailures) {
    EXPECT_FALSE(sub_load_file(nullptr));
    EXPECT_EQ(sub_error, 2);
    sub_error = 0;
    EXPECT_FALSE(sub_load_file("/var/tuxbox/Tresk/tit/missing.tkx"));
    EXPECT_EQ(sub_error, 2);
    EXPECT_FALSE(load("empty.tkx", ""));
    EXPECT_EQ(sub_error, 10);
}

TEST_F(Loader, ShortFileFailsAndLeavesNothing) {
    subtitle_count = 7;
    EXPECT_FALSE(load("short.tkx", "[KTF2: 3 0 ]\n{1}{2}a\n{3}{4}b|c\n"));
    EXPECT_EQ(sub_error, 9);
    EXPECT_EQ(subtitle_count, 0);
    // The end time of the last line that was read.
    EXPECT_EQ(last_end_ms, 160);
    // (The sanitizer build checks that no line text was left allocated.)
}

TEST_F(Loader, LinesAfterTheCountAreIgnoredButABlankLineInsideFails) {
    auto records = load("extra.tkx", "[KTF2: 2 0 ]\n{1}{2}a\n{3}{4}b\n\nnot a subtitle\n{5}{6}c\n");
    ASSERT_TRUE(records);
    EXPECT_EQ(subtitle_count, 2);
    EXPECT_EQ(last_end_ms, 160);
    EXPECT_FALSE(load("blank.tkx", "[KTF2: 3 0 ]\n{1}{2}a\n\n{3}{4}b\n{5}{6}c\n"));
    EXPECT_EQ(sub_error, 9);
}

TEST_F(Loader, EndNotAfterStartGetsTwoSeconds) {
    auto records = load("t.tkx", "[KTF2: 3 0 ]\n{100}{100}a\n{200}{100}b\n{300}{301}c\n");
    ASSERT_TRUE(records);
    EXPECT_EQ(records[0].start_ms, 4000u);
    EXPECT_EQ(records[0].end_ms, 6000u);
    EXPECT_EQ(records[1].start_ms, 8000u);
    EXPECT_EQ(records[1].end_ms, 10000u);
    EXPECT_EQ(records[2].end_ms, 12040u);
}

TEST_F(Loader, BraceGroupsAfterTheEndFrame) {
    auto records = load("b.tkx",
                        "[KTF2: 4 0 ]\n"
                        "{1}{2}{3}\n"      // flags 3 kept, then read as text
                        "{1}{2}{x}text\n"  // not a number: part of the text
                        "{1}{2}{-1}neg\n"
                        "{ 1}{+2}{ 512}sp\n");  // signs and leading blanks in numbers
    ASSERT_TRUE(records);
    EXPECT_EQ(records[0].flags, 3);
    EXPECT_EQ(line(records[0], 0), "{3}");
    EXPECT_EQ(records[1].flags, 0);
    EXPECT_EQ(line(records[1], 0), "{x}text");
    EXPECT_EQ(records[2].flags, -1);
    EXPECT_EQ(line(records[2], 0), "neg");
    EXPECT_EQ(records[3].start_ms, 40u);
    EXPECT_EQ(records[3].end_ms, 80u);
    EXPECT_EQ(records[3].flags, 512);

    for (const char* bad : {"{1}{2}\n", "{1}{2}\r\n", "{1}2}a\n", "1}{2}a\n", "{a}{2}b\n"}) {
        sub_error = 0;
        EXPECT_FALSE(load("bad.tkx", std::string("[KTF2: 1 0 ]\n") + bad)) << bad;
        EXPECT_EQ(sub_error, 9) << bad;
    }
}

TEST_F(Loader, TextSplitsIntoAtMostFourLines) {
    auto records = load("s.tkx",
                        "[KTF2: 6 0 ]\n"
                        "{1}{2}|a\n"
                        "{1}{2}a||b\n"
                        "{1}{2}a|\n"
                        "{1}{2}1|2|3|4|5\n"
                        "{1}{2}|\n"
                        "{1}{2}\xc4\x8d\x0b\x02x\x0c|\x0e\x0f\r\n");
    ASSERT_TRUE(records);
    ASSERT_EQ(records[0].line_count, 2);
    EXPECT_EQ(line(records[0], 0), "");
    EXPECT_EQ(line(records[0], 1), "a");
    ASSERT_EQ(records[1].line_count, 2);
    EXPECT_EQ(line(records[1], 0), "a");
    EXPECT_EQ(line(records[1], 1), "b");
    ASSERT_EQ(records[2].line_count, 1);
    EXPECT_EQ(line(records[2], 0), "a");
    ASSERT_EQ(records[3].line_count, 4);
    EXPECT_EQ(line(records[3], 3), "4");
    ASSERT_EQ(records[4].line_count, 1);
    EXPECT_EQ(line(records[4], 0), "");
    // Bytes pass through unchanged; the carriage return ends the text.
    ASSERT_EQ(records[5].line_count, 2);
    EXPECT_EQ(line(records[5], 0), "\xc4\x8d\x0b\x02x\x0c");
    EXPECT_EQ(line(records[5], 1), "\x0e\x0f");
}

TEST_F(Loader, FrameNumbersWrapModulo32Bits) {
    auto records = load("w.tkx",
                        "[KTF2: 3 0 ]\n"
                        "{4294967297}{4294967298}a\n"  // 2^32 + 1, 2^32 + 2: frames 1, 2
                        "{107374183}{107374184}b\n"    // x 40 passes 2^32: 24 and 64
                        "{-1}{0}c\n");                 // -40 wraps; the end is not after it
    ASSERT_TRUE(records);
    EXPECT_EQ(records[0].start_ms, 40u);
    EXPECT_EQ(records[0].end_ms, 80u);
    EXPECT_EQ(records[1].start_ms, 24u);
    EXPECT_EQ(records[1].end_ms, 64u);
    EXPECT_EQ(records[2].start_ms, 4294967256u);
    EXPECT_EQ(records[2].end_ms, 1960u);
    EXPECT_EQ(last_end_ms, 1960);
}

TEST_F(Loader, LongLinesAreCutAt999Bytes) {
    // The first 999 bytes are one line; the rest is read as the next line.
    std::string head = "{1}{2}";
    std::string text(999 - head.size(), 'x');
    auto records = load("l.tkx", "[KTF2: 2 0 ]\n" + head + text + "{3}{4}b\n");
    ASSERT_TRUE(records);
    EXPECT_EQ(line(records[0], 0), text);
    EXPECT_EQ(line(records[1], 0), "b");
    EXPECT_EQ(records[1].start_ms, 120u);

    // A remainder that is no subtitle line fails the load.
    EXPECT_FALSE(load("l2.tkx", "[KTF2: 2 0 ]\n" + head + text + "yyy\n{3}{4}b\n"));
    EXPECT_EQ(sub_error, 9);
}

TEST_F(Loader, HugeCountInASmallFileFailsWithoutAllocatingIt) {
    EXPECT_FALSE(load("huge.tkx", "[KTF2: 2000000000 0 ]\n{1}{2}a\n{3}{4}b\n"));
    EXPECT_EQ(sub_error, 9);
    EXPECT_EQ(last_end_ms, 160);
    EXPECT_EQ(subtitle_count, 0);
}

TEST_F(Loader, ReleaseClearsTheViewAndTheRepaintRecord) {
    ASSERT_TRUE(install("r.tkx", "[KTF2: 2 0 ]\n{1}{2}a\n{3}{4}b\n"));
    {
        std::lock_guard paint_lock(paint_mutex);
        painted_record = &subtitles[1];
    }
    {
        std::lock_guard lock(subtitles_mutex);
        sub_release(subtitles_owner, subtitle_count);
    }
    EXPECT_FALSE(subtitles_owner);
    EXPECT_EQ(subtitles.load(), nullptr);
    EXPECT_EQ(painted_record.load(), nullptr);
    EXPECT_EQ(subtitle_count, 0);

    // A null array is ignored and leaves the count.
    subtitle_count = 3;
    std::unique_ptr<subtitle[]> no_lines;
    sub_release(no_lines, 3);
    EXPECT_EQ(subtitle_count, 3);
}

// Start-up: the link's file, else the special file, each only when larger than 20 bytes.
class StartupLoad : public StoreTest {
  protected:
    // 21 bytes, 19 bytes: both valid files.
    static constexpr const char* kBig = "[KTF2: 1 0 ]\n{1}{2}a\n";
    static constexpr const char* kSmall = "[KTF2:1 0]\n{1}{2}b\n";

    void link_to(const std::string& target) {
        std::filesystem::create_symlink(target, root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    }
    std::string loaded() {
        if (subtitles == nullptr) return "<none>";
        return subtitles[0].lines[0].get();
    }
};

TEST_F(StartupLoad, LinkedFileFirst) {
    ASSERT_EQ(std::string(kBig).size(), 21u);
    write_sub("chosen.tkx", "[KTF2: 1 0 ]\n{1}{2}chosen\n");
    write_sub("tresk.tkx", "[KTF2: 1 0 ]\n{1}{2}special\n");
    link_to("chosen.tkx");
    sub_load_at_start();
    EXPECT_EQ(loaded(), "chosen");
    EXPECT_TRUE(subtitles_ever_loaded);
}

TEST_F(StartupLoad, SmallLinkedFileIsSkipped) {
    ASSERT_EQ(std::string(kSmall).size(), 19u);
    write_sub("small.tkx", kSmall);
    write_sub("tresk.tkx", "[KTF2: 1 0 ]\n{1}{2}special\n");
    link_to("small.tkx");
    sub_load_at_start();
    EXPECT_EQ(loaded(), "special");
}

TEST_F(StartupLoad, A21ByteFileIsLoaded) {
    write_sub("big.tkx", kBig);
    link_to("big.tkx");
    sub_load_at_start();
    EXPECT_EQ(loaded(), "a");
}

TEST_F(StartupLoad, BadLinkedFileFallsBackToTheSpecialFile) {
    write_sub("bad.tkx", "[KTF2: 2 0 ]\n{1}{2}only one line\n");
    write_sub("tresk.tkx", "[KTF2: 1 0 ]\n{1}{2}special\n");
    link_to("bad.tkx");
    sub_load_at_start();
    EXPECT_EQ(loaded(), "special");
    EXPECT_EQ(subtitle_count, 1);
}

TEST_F(StartupLoad, NothingLoadable) {
    write_sub("tresk.tkx", kSmall);
    link_to("gone.tkx");
    sub_load_at_start();
    EXPECT_EQ(loaded(), "<none>");
    EXPECT_FALSE(subtitles_owner);
}

// Replacement runs with the clock, which draws on the status line.
class Replace : public ClockTest {};

TEST_F(Replace, NewFileResetsTheClockAndDropsTheRepaintRecord) {
    ASSERT_TRUE(install("old.tkx", "[KTF2: 2 0 ]\n{100}{150}old|one\n{200}{250}old two\n"));
    {
        std::lock_guard paint_lock(paint_mutex);
        painted_record = &subtitles[0];
    }
    current_index = 2;
    clock_ms = 9000;
    film_ended = 1;
    clock_running = 1;
    write_sub("new.tkx", "[KTF2: 3 0 ]\n{10}{20}n1\n{30}{40}n2\n{50}{60}n3\n");
    EXPECT_EQ(sub_load_new("new.tkx"), 0);
    ASSERT_NE(subtitles.load(), nullptr);
    EXPECT_EQ(subtitles.load(), subtitles_owner.get());
    EXPECT_EQ(subtitle_count, 3);
    EXPECT_EQ(line(subtitles[2], 0), "n3");
    EXPECT_EQ(painted_record.load(), nullptr);
    EXPECT_EQ(current_index, 0);
    EXPECT_EQ(clock_ms, 0u);
    EXPECT_EQ(clock_running, 0);
    EXPECT_EQ(film_ended, 0);
    EXPECT_EQ(film_end_ms, 2410u);
    EXPECT_TRUE(subtitles_ever_loaded);
}

TEST_F(Replace, FailedLoadKeepsTheOldSubtitlesPlayingAndTheClockWhereItWas) {
    write_sub("old.tkx", "[KTF2: 3 2 ]\n{25}{50}one\n{75}{80}two\n{85}{150}three\n");
    std::filesystem::create_symlink("old.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    start_thread();
    const subtitle* old = subtitles;
    tmr_go_to_subtitle(1);
    ASSERT_TRUE(wait_until([] { return current_index == 2; })) << "the thread showed the second";
    const subtitle* shown = painted_record;
    ASSERT_EQ(time_offset_ms, 80);
    ASSERT_EQ(last_end_ms, 6000);
    // The bad file gets far enough to scan its offset and read a line.
    write_sub("bad.tkx", "[KTF2: 2 7 ]\n{1}{2}a\n");
    const std::pair<const char*, int> failures[] = {
        {"bad.tkx", 9}, {"missing.tkx", 2}, {nullptr, 2}};
    for (const auto& [name, error] : failures) {
        EXPECT_EQ(sub_load_new(name), error) << error;
        ASSERT_EQ(subtitles.load(), old);
        ASSERT_EQ(subtitle_count, 3);
        EXPECT_EQ(line(subtitles[2], 0), "three");
        EXPECT_EQ(painted_record.load(), shown) << "the subtitle on screen can be repainted";
        EXPECT_EQ(current_index, 2);
        EXPECT_EQ(clock_ms, 3000u);
        EXPECT_EQ(time_offset_ms, 80) << "the typed-time offset is the old file's";
        EXPECT_EQ(last_end_ms, 6000);
    }
    // The thread plays on through the old records.
    tmr_play();
    EXPECT_TRUE(wait_until([] { return current_index == 3; }));
}

}  // namespace
