// Menu figures with thousands of subtitle files: the file menu from directory scan
// and sort to the first page and a cancel, the drop-in pass with nothing new to
// convert, and single highlight moves in a long list.
// Sleeps are scaled to zero, so the figures are the menus' own work.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/input.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fb/screen.h"
#include "hw/device.h"
#include "menu/drop_in.h"
#include "menu/list.h"
#include "menu/menus.h"
#include "rc/remote.h"
#include "sim/model.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf";

// A box whose subtitle directory holds n files named in no particular order.
class box {
  public:
    explicit box(int n) {
        std::string templ = (fs::temp_directory_path() / "lumetra-bench-XXXXXX").string();
        root_ = ::mkdtemp(templ.data());
        fs::create_directories(root_ + "/var/tuxbox/Tresk/tit");
        fs::copy_file(kFont, root_ + "/var/tuxbox/Tresk/Tresk.ttf");
        for (int i = 0; i < n; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "Film %05d deel %d.tkx", (i * 7919) % n, i % 3);
            std::ofstream(root_ + "/var/tuxbox/Tresk/tit/" + name) << "x";
        }
        sim::reset();
        sim::set_root(root_);
        sim::set_framebuffer({.xres = 720, .yres = 576});
        sim::add_input({"bench remote control"});
        sim::set_sleep_scale(0);
        fb = hw_open("/dev/fb/0", O_RDWR);
        sx = 40;
        sy = 50;
        ex = 670;
        ey = 526;
        ok_ = fb_init() == 1 && rc_init() == 1;
        last_code = 0;
    }
    ~box() {
        rc_deinit();
        fb_deinit(0);
        hw_close(fb);
        fb = -1;
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    bool ok() const { return ok_; }
    // Host path of the subtitle directory, with its slash.
    std::string subtitle_dir() const { return root_ + "/var/tuxbox/Tresk/tit/"; }

  private:
    std::string root_;
    bool ok_ = false;
};

void press(int code) {
    sim::push_key(0, static_cast<uint16_t>(code), 1);
    sim::push_key(0, static_cast<uint16_t>(code), 0);
}

void BM_FileMenuOpenAndCancel(benchmark::State& state) {
    box b(static_cast<int>(state.range(0)));
    if (!b.ok()) {
        state.SkipWithError("display or remote did not come up");
        return;
    }
    for (auto _ : state) {
        press(KEY_EXIT);
        benchmark::DoNotOptimize(menu_file());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FileMenuOpenAndCancel)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

// The drop-in pass before each listing with nothing new to convert: n subtitle files,
// each with the downloaded file it was converted from (second argument 1) or
// without (0). A directory listing and one lstat per downloaded file, nothing opened.
void BM_DropInPassNothingNew(benchmark::State& state) {
    box b(0);
    if (!b.ok()) {
        state.SkipWithError("display or remote did not come up");
        return;
    }
    for (int i = 0; i < state.range(0); ++i) {
        const std::string base = b.subtitle_dir() + "Film " + std::to_string(i);
        std::ofstream(base + ".tkx") << "x";
        if (state.range(1) != 0) {
            std::ofstream(base + ".srt") << "1\n00:00:01,000 --> 00:00:02,000\nHallo\n";
        }
    }
    for (auto _ : state) menu_convert_dropped_files();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DropInPassNothingNew)
    ->ArgsProduct({{100, 1000, 5000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// Fifty DOWN presses and a cancel in a list of n items; per item of work the cost
// must not grow with n.
void BM_ListMenuMoves(benchmark::State& state) {
    box b(0);
    if (!b.ok()) {
        state.SkipWithError("display or remote did not come up");
        return;
    }
    const int n = static_cast<int>(state.range(0));
    std::vector<std::string> texts;
    for (int i = 0; i < n; ++i) texts.push_back("Film " + std::to_string(i));
    std::vector<const char*> items;
    for (auto& t : texts) items.push_back(t.c_str());
    for (auto _ : state) {
        for (int i = 0; i < 50; ++i) press(KEY_DOWN);
        press(KEY_EXIT);
        benchmark::DoNotOptimize(menu_list("Bench", n, 28, items.data(), nullptr, 1));
    }
    state.SetItemsProcessed(state.iterations() * 51);
}
BENCHMARK(BM_ListMenuMoves)->Arg(20)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
