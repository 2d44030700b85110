// One thread paints subtitles over and over while the main thread restyles them,
// moves and insets the band, switches the palette and clears and restores the
// band. The paint lock must keep every paint whole: whenever no paint is running
// and a subtitle is on screen, the screen at its band position shows exactly the
// back buffer.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "tests/support/painter_support.h"
#include "tests/support/support.h"
#include "tmr/clock.h"

namespace {

class PainterThreads : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        odsazeni = 0;
        posun_dole = 0;
        posun_nahore = 0;
        akt_titulek = nullptr;
        titulek_zobrazen = 0;
        testsup::setup_box(root_, {.xres = 720, .yres = 576});
        ASSERT_EQ(testsup::open_display(), 1);
        kreslim = 0;
    }
    void TearDown() override { testsup::close_display(); }

    testsup::box_root root_;
};

// Checked under the paint lock: a whole paint or none.
bool screen_matches_back_buffer() {
    std::lock_guard kresleni(kresleni_mutex);
    if (titulek_zobrazen == 0 || akt_titulek.load() == nullptr) return true;
    return testsup::screen_shows_bb_at(testsup::target_line(pozice));
}

TEST_P(PainterThreads, PaintsStayWholeUnderRestyling) {
    // Like the subtitle thread, or without the flag, so that the main thread's
    // repaints really run against the thread's paints.
    const bool jako_vlakno = GetParam();
    // The last one is broken into screen lines at the larger sizes.
    titulek zaznamy[4] = {
        testsup::make_record({"Eerste regel van de ondertitel", "en de tweede regel"}, 0x01),
        testsup::make_record({"Boven in beeld"}, 0x100),
        testsup::make_record({"Een", "twee", "drie", "vier"}, 0xE4),
        testsup::make_record({"Dat had je niet moeten zeggen, want nu weet iedereen het al en "
                              "dat was echt niet de bedoeling.",
                              "\x0b\x02Morgen\x0c gaan we samen naar zee."},
                             0x06),
    };
    constexpr int kKreseb = 200;
    std::atomic<int> chyby{0};
    std::atomic<bool> hotovo{false};

    std::thread vlakno([&] {
        for (int i = 0; i < kKreseb; ++i) {
            if (jako_vlakno) kreslim = 1;
            fb_zobraz_titulek(&zaznamy[i % 4]);
            if (jako_vlakno) kreslim = 0;
            if (!screen_matches_back_buffer()) chyby++;
            if (i % 7 == 0) fb_smaz_titobr();
        }
        hotovo = true;
    });

    int kroky = 0;
    while (!hotovo || kroky < 50) {
        switch (kroky++ % 10) {
            case 0:
                fb_zmen_barvu_tit();
                break;
            case 1:
                fb_zmen_transp();
                break;
            case 2:
                fb_zmen_zoom();
                break;
            case 3:
                fb_uprav_posun(-1);
                break;
            case 4:
                fb_uprav_posun(1);
                break;
            case 5:
                fb_prepni_posun();
                break;
            case 6:
                fb_zmen_paletu();
                break;
            case 7:
                fb_prekresli_titulek();
                break;
            case 8:
                fb_smaz_titobr();
                break;
            case 9:
                fb_uprav_posun(-1);
                break;
        }
        if (!screen_matches_back_buffer()) chyby++;
    }
    vlakno.join();

    EXPECT_EQ(chyby, 0);
    EXPECT_GT(kroky, 0);
    // Still in working order: a paint after it all shows where it should.
    fb_zobraz_titulek(&zaznamy[0]);
    EXPECT_TRUE(testsup::screen_shows_bb_at(testsup::target_line(0)));
}

INSTANTIATE_TEST_SUITE_P(Kreslim, PainterThreads, testing::Bool());

}  // namespace
