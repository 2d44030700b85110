// Both threads draw text at once: subtitle lines into the back buffer and status
// messages on the screen from one, screen text and status times from the other.
// Each string comes out as if drawn alone, and the status strip shows one whole
// message, never a mixture.
#include <gtest/gtest.h>

#include <barrier>
#include <string>
#include <thread>
#include <vector>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "fb/text.h"
#include "tests/support/text_support.h"

using testsup::text_display;

namespace {

constexpr const char* kLine = "Tot ziens, AV \xc3\xa9\xe2\x82\xac \x0b\x01kleur\x0c \x0e\x0f";
constexpr const char* kScreenText = "Yo! Te laat. \x1a\x1b";
constexpr const char* kEndMessage = "Einde ondertitels \x0e\x0f";

// The status strip's message part: columns sx .. ex - 65, rows sy .. sy + 31.
std::vector<uint32_t> message_part(text_display& d) {
    std::vector<uint32_t> v;
    for (int r = 50; r < 82; ++r) {
        for (int c = 40; c < 670 - 64; ++c) v.push_back(d.px(c, r));
    }
    return v;
}

std::vector<uint32_t> screen_rows(text_display& d, int from, int to) {
    std::vector<uint32_t> v;
    for (int r = from; r < to; ++r) {
        for (int c = 0; c < 720; ++c) v.push_back(d.px(c, r));
    }
    return v;
}

}  // namespace

TEST(TextThreads, TwoThreadsDrawTextAtOnce) {
    text_display d;
    ASSERT_TRUE(d.ok());
    background_level = 0;  // outlines in the back buffer

    // Each drawing alone.
    fb_draw_string(kLine, 1, 41, 40, 1, 628, 3);
    const std::vector<uint32_t> line_alone = d.back();
    d.clear();
    fb_draw_string(kScreenText, 0, 60, 300, 0, 600, 7);
    const std::vector<uint32_t> text_alone = screen_rows(d, 250, 330);
    d.clear();
    fb_show_status(kEndMessage);
    const std::vector<uint32_t> end_alone = message_part(d);
    d.clear();
    fb_show_time(3723000);
    const std::vector<uint32_t> time_alone = message_part(d);
    d.clear();

    // Rounds in which both threads draw at the same moment, each checked after both
    // have finished.
    constexpr int kRounds = 100;
    std::barrier sync(2);
    std::thread subtitles([&] {
        for (int i = 0; i < kRounds; ++i) {
            sync.arrive_and_wait();
            fb_draw_string(kLine, 1, 41, 40, 1, 628, 3);
            fb_show_status(kEndMessage);
            sync.arrive_and_wait();
        }
    });
    int mixed = 0, wrong_line = 0, wrong_text = 0;
    for (int i = 0; i < kRounds; ++i) {
        sync.arrive_and_wait();
        fb_show_time(3723000);
        fb_draw_string(kScreenText, 0, 60, 300, 0, 600, 7);
        if (i % 5 == 3) fb_show_icons();
        sync.arrive_and_wait();
        const std::vector<uint32_t> strip = message_part(d);
        mixed += !(strip == end_alone || strip == time_alone);
        wrong_line += !(d.back() == line_alone);
        wrong_text += !(screen_rows(d, 250, 330) == text_alone);
        d.clear();
    }
    subtitles.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(wrong_line, 0);
    EXPECT_EQ(wrong_text, 0);
}
