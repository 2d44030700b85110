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
                tmr_zastav();
                break;
            case 2:
                tmr_uprav(rng() % 2 ? 1 : -1);
                break;
            case 3:
                tmr_nastav_akt_tit(static_cast<int32_t>(rng() % 320) - 10);
                break;
            case 4:
                tmr_update_tit(static_cast<int32_t>(rng() % 23) - 11);
                break;
            case 5:
                tmr_nastav_tit(static_cast<int32_t>(rng() % 40000));
                break;
            case 6:
                if (kreslim == 0) fb_zmen_zoom();
                break;
            case 7:
                fb_zmen_barvu_tit();
                break;
            case 8:
                if (kreslim == 0) fb_zmen_transp();
                break;
            case 9:
                fb_uprav_posun(rng() % 2 ? 1 : -1);
                break;
            case 10:
                fb_prekresli_titulek();
                break;
            case 11:
                // Rescale and come back, as the FPS menu does, so times stay in range.
                sub_prepocti(std::bit_cast<float>(kFactors[rng() % 6]));
                tmr_update_tit(0);
                break;
            case 12: {
                const char* names[] = {"a.tkx", "b.tkx", "bad.tkx"};
                const char* name = names[rng() % 3];
                int r = sub_nacti_novy(name);
                EXPECT_EQ(r, name[0] == 'b' && name[1] == 'a' ? 9 : 0);
                ++replaced;
                if (r != 0) {
                    ASSERT_EQ(sub_nacti_novy("a.tkx"), 0);
                }
                tmr_play();
                break;
            }
            case 13:
                rc_cas(static_cast<int>(rng() % 10));
                break;
            case 14:
                fb_prepni_posun();
                break;
            default:
                tmr_play();
                break;
        }
        // Now and then let the clock play through a few subtitles in real time.
        if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        int32_t poz = akt_poz;
        ASSERT_GE(poz, 0);
        ASSERT_LE(poz, pocet_titulku);
    }
    EXPECT_GT(replaced, 250);

    // Still in step afterwards: a jump shows its target at once.
    ASSERT_EQ(sub_nacti_novy("a.tkx"), 0);
    tmr_nastav_akt_tit(10);
    ASSERT_TRUE(wait_until([] { return akt_poz == 11; }));
    EXPECT_EQ(akt_titulek.load(), &titulky[10]);
}

}  // namespace
