// The cost of painting one subtitle, against the floor every paint pays anyway:
// clearing the band and copying the back buffer to it.
//
// The subtitle is a typical one: two lines of about 30 characters, zoom 3, no
// background box (so every glyph gets its outline), glyph cache warm. The player
// runs over the simulator's model of the box with a scratch root holding the font.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/screen.h"
#include "hw/device.h"
#include "sim/model.h"
#include "sub/subtitles.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf";
constexpr const char* kRadky[2] = {"Dat had je niet moeten zeggen,",
                                   "want nu weet iedereen het al."};
constexpr int32_t kZoom = 3;

// A display brought up once for all benchmarks of the run.
struct displej {
    std::string koren;
    titulek zaznam{};
    bool pripraven = false;

    displej() {
        std::string vzor = (fs::temp_directory_path() / "lumetra-bench-XXXXXX").string();
        if (::mkdtemp(vzor.data()) == nullptr) return;
        koren = vzor;
        std::error_code ec;
        fs::create_directories(koren + "/var/tuxbox/Tresk/tit", ec);
        fs::copy_file(kFont, koren + "/var/tuxbox/Tresk/Tresk.ttf", ec);
        if (ec) return;
        sim::reset();
        sim::set_root(koren);
        sim::set_framebuffer({.xres = 720, .yres = 576});
        fb = hw_open("/dev/fb/0", O_RDWR);
        sx = 40;
        sy = 50;
        ex = 670;
        ey = 526;
        if (fb_init() != 1) return;
        zoom = kZoom;
        transp = 0;
        fb_font_nastav_zoom();
        fb_prepocti_pas();

        zaznam.pocet_radku = 2;
        for (int i = 0; i < 2; ++i) {
            size_t n = std::strlen(kRadky[i]) + 1;
            zaznam.radky[i] = std::make_unique<char[]>(n);
            std::memcpy(zaznam.radky[i].get(), kRadky[i], n);
        }
        fb_zobraz_titulek(&zaznam);  // warms the glyph cache
        pripraven = true;
    }

    ~displej() {
        if (fb_mem != nullptr) fb_deinit(0);
        if (fb >= 0) hw_close(fb);
        std::error_code ec;
        if (!koren.empty()) fs::remove_all(koren, ec);
    }
};

displej& d() {
    static displej dd;
    return dd;
}

// The calling thread's CPU time as a std::chrono clock.
struct cpu_hodiny {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<cpu_hodiny>;
    static constexpr bool is_steady = true;
    static time_point now() {
        timespec ts{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return time_point(duration(int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec));
    }
};

// What every paint must do in any case: clear the band, copy the back buffer.
void spodek() {
    std::memset(reinterpret_cast<char*>(fb_mem) + pas_od, 0, static_cast<size_t>(pas_delka));
    auto cil = reinterpret_cast<uintptr_t>(bb_cil[0].load()) - reinterpret_cast<uintptr_t>(fb_mem);
    size_t delka = std::min<size_t>(static_cast<size_t>(bbuf_delka), fb_fix.smem_len - cil);
    std::memcpy(reinterpret_cast<char*>(fb_mem) + cil, bbuf.get(), delka);
    benchmark::ClobberMemory();
}

void BM_Floor(benchmark::State& state) {
    if (!d().pripraven) return state.SkipWithError("no display");
    for (auto _ : state) spodek();
    state.SetBytesProcessed(state.iterations() * (pas_delka + bbuf_delka));
}
BENCHMARK(BM_Floor);

void BM_Compose(benchmark::State& state) {
    if (!d().pripraven) return state.SkipWithError("no display");
    for (auto _ : state) {
        fb_zobraz_titulek(&d().zaznam);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Compose);

// Both in turn, so that the ratio compares like with like in the same moments.
void BM_ComposeOverFloor(benchmark::State& state) {
    if (!d().pripraven) return state.SkipWithError("no display");
    // Thread CPU time: the machine may be busy with other work meanwhile.
    using hodiny = cpu_hodiny;
    hodiny::duration podlaha{}, malba{};
    for (auto _ : state) {
        auto t0 = hodiny::now();
        spodek();
        auto t1 = hodiny::now();
        fb_zobraz_titulek(&d().zaznam);
        benchmark::ClobberMemory();
        auto t2 = hodiny::now();
        podlaha += t1 - t0;
        malba += t2 - t1;
    }
    double n = static_cast<double>(state.iterations());
    auto us = [n](hodiny::duration t) {
        return std::chrono::duration<double, std::micro>(t).count() / n;
    };
    state.counters["floor_us"] = us(podlaha);
    state.counters["paint_us"] = us(malba);
    state.counters["ratio"] = us(malba) / us(podlaha);
}
BENCHMARK(BM_ComposeOverFloor);

}  // namespace

BENCHMARK_MAIN();
