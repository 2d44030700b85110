// The subtitle thread plays short subtitles while the main thread repositions,
// shifts, starts and stops the clock, restyles and moves the band, rescales, and
// replaces the subtitles thousands of times. Nothing may crash or race (this file
// also runs under ThreadSanitizer), and the thread must still work afterwards.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "fb/painter.h"
#include "fb/screen.h"
#include "sub/subtitles.h"
#include "tests/support/store_support.h"
#include "tmr/clock.h"
#include "tmr/time_entry.h"

namespace {

using testsup::ClockTest;
using testsup::wait_until;

// n subtitles of one or two frames, one to three frames apart, some at the top,
// some with several lines.
std::string film(int n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s = "[KTF2: " + std::to_string(n) + " 0 ]\n";
    long frame = 1;
    for (int i = 0; i < n; ++i) {
        long end = frame + 1 + static_cast<long>(rng() % 2);
        int flags = (rng() % 4 == 0) ? 0x100 : static_cast<int>(rng() % 256);
        s += "{" + std::to_string(frame) + "}{" + std::to_string(end) + "}{" +
             std::to_string(flags) + "}line " + std::to_string(i) + (i % 3 == 0 ? "|second" : "") +
             "\n";
        frame = end + 1 + static_cast<long>(rng() % 3);
    }
    return s;
}

class Stress : public ClockTest {};

TEST_F(Stress, MainThreadOperationsAgainstThePlayingThread) {
    write_sub("a.tkx", film(300, 1));
    write_sub("b.tkx", film(40, 2));
    write_sub("bad.tkx", "[KTF2: 5 0 ]\n{1}{2}a\n");
    std::filesystem::create_symlink("a.tkx", root.host("/var/tuxbox/Tresk/tit/tresk.qst"));
    start_thread();
    tmr_play();

    constexpr uint32_t kFactors[] = {0x3f7583a5, 0x3f857780, 0x3f75c28f,
                                     0x3f855555, 0x3f997247, 0x3f558c01};
    std::mt19937 rng(7);
    constexpr int kOps = 6000;
    int replaced = 0;
    for (int i = 0; i < kOps; ++i) {
        switch (rng() % 16) {
            case 0:
                tmr_play();
                break;
            case 1:
                tmr_stop();
                break;
            case 2:
                tmr_shift(rng() % 2 ? 1 : -1);
                break;
            case 3:
                tmr_go_to_subtitle(static_cast<int32_t>(rng() % 320) - 10);
                break;
            case 4:
                tmr_step_subtitle(static_cast<int32_t>(rng() % 23) - 11);
                break;
            case 5:
                tmr_go_to_time(static_cast<int32_t>(rng() % 40000));
                break;
            case 6:
                if (painting == 0) fb_next_zoom();
                break;
            case 7:
                fb_next_colour_scheme();
                break;
            case 8:
                if (painting == 0) fb_next_background();
                break;
            case 9:
                fb_shift_band(rng() % 2 ? 1 : -1);
                break;
            case 10:
                fb_put_back_subtitle();
                break;
            case 11:
                // Rescale and come back, as the FPS menu does, so times stay in range.
                sub_rescale(std::bit_cast<float>(kFactors[rng() % 6]));
                tmr_step_subtitle(0);
                break;
            case 12: {
                const char* names[] = {"a.tkx", "b.tkx", "bad.tkx"};
                const char* name = names[rng() % 3];
                int r = sub_load_new(name);
                EXPECT_EQ(r, name[0] == 'b' && name[1] == 'a' ? 9 : 0);
                ++replaced;
                if (r != 0) {
                    ASSERT_EQ(sub_load_new("a.tkx"), 0);
                }
                tmr_play();
                break;
            }
            case 13:
                tmr_enter_digit(static_cast<int>(rng() % 10));
                break;
            case 14:
                fb_toggle_inset();
                break;
            default:
                tmr_play();
                break;
        }
        // Now and then let the clock play through a few subtitles in real time.
        if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        int32_t position = current_index;
        ASSERT_GE(position, 0);
        ASSERT_LE(position, subtitle_count);
    }
    EXPECT_GT(replaced, 250);

    // Still in step afterwards: a jump shows its target at once.
    ASSERT_EQ(sub_load_new("a.tkx"), 0);
    tmr_go_to_subtitle(10);
    ASSERT_TRUE(wait_until([] { return current_index == 11; }));
    EXPECT_EQ(painted_record.load(), &subtitles[10]);
}

}  // namespace
