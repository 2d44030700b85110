// Allocation failures at every allocation site of the subtitle loader, the
// replacement of the loaded file, the subtitle file menu and the start-up: each one
// in turn fails, and the player must show the error box for that road (or fall back
// silently where that is its answer) and keep nothing it allocated on the failing road.
//
// This program replaces the global allocation functions. The player allocates with
// the nothrow forms: those made inside a counting window, on the thread that opened
// it, are numbered, and the chosen one returns null. The throwing forms are left
// alone there, since the simulator's model allocates with them on the same thread;
// the one place the player grows containers (the file menu's name and row lists,
// whose sizes are known) has a window of its own that fails throwing allocations
// of those sizes. Every block carries a tag in a small header saying whether it was
// allocated in a window, so that the blocks still alive from windows can be
// counted whichever thread frees them.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/settings.h"
#include "fb/glyph.h"
#include "fb/screen.h"
#include "menu/menus.h"
#include "menu/window.h"
#include "rc/remote.h"
#include "sim/model.h"
#include "sub/subtitles.h"
#include "tests/support/hardening_support.h"
#include "tests/support/menu_support.h"
#include "tests/support/support.h"
#include "tmr/clock.h"

namespace {

// The header keeps the block's alignment (max_align_t) for the caller.
constexpr size_t kHeader = 16;
constexpr uint32_t kTagPlain = 0x5a5a0000;
constexpr uint32_t kTagWindow = 0x5a5a0001;

std::atomic<long> window_live{0};
thread_local bool counting = false;
thread_local int counted = 0;
thread_local int fail_at = 0;
thread_local bool failed = false;
// Sizes of throwing allocations the window counts; none: it counts the nothrow ones.
thread_local const std::vector<size_t>* throwing_sizes = nullptr;

bool fail_this_one(bool nothrow, size_t n) {
    if (!counting) return false;
    if (throwing_sizes == nullptr
            ? !nothrow
            : nothrow || std::find(throwing_sizes->begin(), throwing_sizes->end(), n) ==
                             throwing_sizes->end()) {
        return false;
    }
    if (++counted != fail_at) return false;
    failed = true;
    return true;
}

void* allocate(size_t n) {
    auto* p = static_cast<unsigned char*>(std::malloc(n + kHeader));
    if (p == nullptr) return nullptr;
    auto* tag = reinterpret_cast<uint32_t*>(p);
    *tag = counting ? kTagWindow : kTagPlain;
    if (counting) window_live++;
    return p + kHeader;
}

void release(void* q) {
    if (q == nullptr) return;
    auto* p = static_cast<unsigned char*>(q) - kHeader;
    if (*reinterpret_cast<uint32_t*>(p) == kTagWindow) window_live--;
    std::free(p);
}

void* allocate_or_throw(size_t n) {
    void* p = fail_this_one(false, n) ? nullptr : allocate(n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* allocate_or_null(size_t n) {
    return fail_this_one(true, n) ? nullptr : allocate(n);
}

}  // namespace

void* operator new(size_t n) {
    return allocate_or_throw(n);
}
void* operator new[](size_t n) {
    return allocate_or_throw(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    return allocate_or_null(n);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
    return allocate_or_null(n);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, size_t) noexcept {
    release(p);
}
void operator delete[](void* p, size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}

namespace {

namespace fs = std::filesystem;

constexpr const char* kSubtitleDirPath = "/var/tuxbox/Tresk/tit/";

// Opens a counting window on this thread in which allocation n fails (0: none):
// the n-th nothrow allocation, or with sizes the n-th throwing one of those sizes.
void open_window(int n, const std::vector<size_t>* sizes = nullptr) {
    counted = 0;
    failed = false;
    fail_at = n;
    throwing_sizes = sizes;
    counting = true;
}

// Closes it; returns whether the chosen allocation was reached (and failed).
bool close_window() {
    counting = false;
    throwing_sizes = nullptr;
    return failed;
}

// Blocks the loaded subtitles own: the array and one per line text.
long store_blocks() {
    const subtitle* t = subtitles;
    if (t == nullptr) return 0;
    long n = 1;
    for (int32_t i = 0; i < subtitle_count; ++i) n += t[i].line_count;
    return n;
}

void release_store() {
    std::lock_guard lock(subtitles_mutex);
    sub_release(subtitles_owner, subtitle_count);
    subtitles = nullptr;
}

// Three subtitles, four line texts.
constexpr const char* kFilm = "[KTF2: 3 0 ]\n{1}{2}a|b\n{3}{4}c\n{5}{6}d\n";

std::string one_line(const std::string& text) {
    return "[KTF2: 1 0 ]\n{25}{75}" + text + "\n";
}

class LoaderAlloc : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
    void SetUp() override {
        testsup::setup_box(root);
        root.write_subtitles("film.tkx", kFilm);
    }
    void TearDown() override { release_store(); }
};

TEST_F(LoaderAlloc, EverySiteFailsAsOutOfMemoryAndKeepsNothing) {
    int sites = 0;
    for (int n = 1;; ++n) {
        sub_error = 0;
        subtitle_count = 7;
        const long before = window_live;
        open_window(n);
        auto records = sub_load_file("/var/tuxbox/Tresk/tit/film.tkx");
        if (!close_window()) {
            ASSERT_TRUE(records) << n;
            EXPECT_EQ(subtitle_count, 3);
            std::unique_ptr<subtitle[]> p = std::move(records);
            sub_release(p, 3);
            EXPECT_EQ(window_live, before);
            break;
        }
        ++sites;
        EXPECT_FALSE(records) << n;
        EXPECT_EQ(sub_error, 3) << n;
        // The array itself failing leaves the count as it was; later failures release.
        EXPECT_EQ(subtitle_count, n == 1 ? 7 : 0) << n;
        EXPECT_EQ(window_live, before) << "blocks kept after failing allocation " << n;
    }
    // The array and the four line texts.
    EXPECT_EQ(sites, 5);
    std::printf("faults injected: %d\n", sites);
}

TEST_F(LoaderAlloc, ReplacementFailsCleanlyAtEverySite) {
    root.write_subtitles("next.tkx", kFilm);
    int sites = 0;
    for (int n = 1;; ++n) {
        release_store();
        {
            auto records = sub_load_file("/var/tuxbox/Tresk/tit/film.tkx");
            std::lock_guard lock(subtitles_mutex);
            subtitles_owner = std::move(records);
            subtitles = subtitles_owner.get();
        }
        const subtitle* old = subtitles;
        ASSERT_NE(old, nullptr);
        const long before = window_live;
        open_window(n);
        const int r = sub_load_new("next.tkx");
        if (!close_window()) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(subtitle_count, 3);
            EXPECT_EQ(window_live - before, store_blocks());
            break;
        }
        ++sites;
        EXPECT_EQ(r, 3) << n;
        // Wherever the new file failed, the old subtitles stay in force.
        EXPECT_EQ(subtitles.load(), old) << n;
        EXPECT_EQ(subtitle_count, 3) << n;
        EXPECT_EQ(window_live, before) << n;
    }
    EXPECT_EQ(sites, 6);
    std::printf("faults injected: %d\n", sites);
}

class FileMenuAlloc : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};

    void SetUp() override {
        ASSERT_TRUE(testsup::open_menu_box(root));
        release_store();
    }
    void TearDown() override {
        release_store();
        testsup::close_menu_box();
    }
    void files() {
        for (const char* name : {"a", "b", "c"}) {
            root.write_subtitles(std::string(name) + ".tkx", one_line(name));
        }
    }
    // Runs the file menu with allocation n failing on its thread, answering with keys.
    int menu(int n, std::vector<int> keys, bool& hit, std::vector<testsup::seen_screen>& seen,
             const std::vector<size_t>* sizes = nullptr) {
        testsup::modal_keys driver(std::move(keys));
        const int r = testsup::run_modal([n, &hit, sizes] {
            open_window(n, sizes);
            const int r = menu_file();
            hit = close_window();
            return r;
        });
        driver.stop();
        seen = driver.seen();
        return r;
    }
};

TEST_F(FileMenuAlloc, ChoosingAFileSurvivesEveryFailingAllocation) {
    files();
    const int w11 = menu_error_width(11);
    const int w3 = menu_error_width(3);
    int sites = 0;
    for (int n = 1; n < 100; ++n) {
        release_store();
        std::error_code ec;
        fs::remove(root.host(std::string(kSubtitleDirPath) + "tresk.qst"), ec);
        const long before = window_live;
        bool hit = false;
        std::vector<testsup::seen_screen> seen;
        const int r = menu(n, {KEY_OK, KEY_OK, KEY_OK}, hit, seen);
        ASSERT_FALSE(seen.empty()) << n;
        if (!hit) {
            EXPECT_EQ(r, 0);
            EXPECT_TRUE(seen[0].list);
            break;
        }
        ++sites;
        if (seen[0].error_box == w11) {
            // Listing the directory failed: error box 11, nothing loaded, nothing kept.
            EXPECT_EQ(r, -1) << n;
            EXPECT_EQ(subtitles.load(), nullptr) << n;
            EXPECT_EQ(window_live, before) << n;
            continue;
        }
        // Anything else must end with the first file loaded and linked: either the
        // failure did not matter (a list without marks) or it showed error box 3 and
        // the list again, where the second OK chose the file.
        EXPECT_TRUE(seen[0].list) << n;
        EXPECT_EQ(r, 0) << n;
        ASSERT_NE(subtitles.load(), nullptr) << n;
        EXPECT_STREQ(subtitles.load()[0].lines[0].get(), "a") << n;
        EXPECT_EQ(fs::read_symlink(root.host(std::string(kSubtitleDirPath) + "tresk.qst"), ec),
                  "a.tkx")
            << n;
        if (seen.size() > 1 && !seen[1].list) {
            EXPECT_EQ(seen[1].error_box, w3) << n;
        }
        EXPECT_EQ(window_live - before, store_blocks()) << n;
    }
    // Three name copies, the marks, the path of the file, its array and its line text.
    EXPECT_EQ(sites, 7);
    std::printf("faults injected: %d\n", sites);
}

TEST_F(FileMenuAlloc, DeletingMarkedFilesSurvivesEveryFailingAllocation) {
    int sites = 0;
    const int w11 = menu_error_width(11);
    for (int n = 1; n < 100; ++n) {
        files();
        release_store();
        const long before = window_live;
        bool hit = false;
        std::vector<testsup::seen_screen> seen;
        root.write_subtitles("d.tkx", one_line("d"));
        // Mark a and b, confirm, say yes, then leave the shortened list (c and d).
        const int r =
            menu(n, {KEY_BLUE, KEY_DOWN, KEY_BLUE, KEY_OK, KEY_OK, KEY_EXIT, KEY_EXIT}, hit, seen);
        const bool a = root.exists(std::string(kSubtitleDirPath) + "a.tkx");
        const bool b = root.exists(std::string(kSubtitleDirPath) + "b.tkx");
        EXPECT_TRUE(root.exists(std::string(kSubtitleDirPath) + "c.tkx")) << n;
        if (!hit) {
            EXPECT_EQ(r, -1);
            EXPECT_FALSE(a);
            EXPECT_FALSE(b);
            EXPECT_EQ(window_live, before);
            break;
        }
        ++sites;
        for (const auto& s : seen) {
            if (!s.list && s.error_box != 0) {
                EXPECT_EQ(s.error_box, w11) << n;
            }
        }
        if (r == 1) {
            // Without a mark buffer BLUE marks nothing: DOWN and OK chose b.
            EXPECT_TRUE(a && b) << n;
            ASSERT_NE(subtitles.load(), nullptr) << n;
            EXPECT_STREQ(subtitles.load()[0].lines[0].get(), "b") << n;
            EXPECT_EQ(window_live - before, store_blocks()) << n;
        } else {
            EXPECT_EQ(r, -1) << n;
            // A path that cannot be built skips its file, silently.
            EXPECT_FALSE(a && b && seen.size() >= 6) << n;
            EXPECT_EQ(window_live, before) << n;
        }
    }
    EXPECT_GE(sites, 9);
    std::printf("faults injected: %d\n", sites);
}

TEST_F(FileMenuAlloc, ListsThatCannotGrowShowErrorElevenAndKeepNothing) {
    files();
    // The name list starts with room for 16 names; the row list holds the three names.
    const std::vector<size_t> sizes{16 * sizeof(void*), 3 * sizeof(void*)};
    int sites = 0;
    for (int n = 1; n < 10; ++n) {
        const long before = window_live;
        bool hit = false;
        std::vector<testsup::seen_screen> seen;
        const int r = menu(n, {KEY_OK, KEY_OK}, hit, seen, &sizes);
        ASSERT_FALSE(seen.empty());
        if (!hit) {
            EXPECT_EQ(r, 0);
            break;
        }
        ++sites;
        EXPECT_EQ(seen[0].error_box, menu_error_width(11)) << n;
        EXPECT_EQ(r, -1) << n;
        EXPECT_EQ(window_live, before) << n;
    }
    EXPECT_EQ(sites, 2);
    std::printf("faults injected: %d\n", sites);
}

class StartupAlloc : public ::testing::Test {
  protected:
    testsup::box_root root{testsup::dejavu_condensed()};
};

TEST_F(StartupAlloc, EverySiteEndsWithAStatusOrAFallbackAndReleasesAll) {
    int sites = 0;
    const std::string conf = "/var/tuxbox/Tresk/tresk.conf";
    for (int n = 1; n < 200; ++n) {
        std::error_code ec;
        fs::remove(root.host(conf), ec);
        fs::remove(root.host(std::string(kSubtitleDirPath) + "tresk.qst"), ec);
        root.write_subtitles("film.tkx", kFilm);
        root.write_subtitles("tresk.tkx", one_line("special file"));
        fs::create_symlink("film.tkx", root.host(std::string(kSubtitleDirPath) + "tresk.qst"));
        testsup::setup_box(root, {.xres = 720, .yres = 576});
        sim::set_sleep_scale(0);
        // Each start is a new process: the settings record as the program loads it.
        saved_settings = stored_settings{1, 0, 0, 0, 0, 0, 0};
        last_code = 0;
        const long before = window_live;
        open_window(n);
        const int r = app_start();
        const bool hit = close_window();
        if (r == -1) {
            // Running: the remembered file, the special file as its silent fallback,
            // or no subtitles at all (the first pass would open the file menu).
            const subtitle* t = subtitles;
            if (!hit) {
                ASSERT_NE(t, nullptr);
                EXPECT_EQ(subtitle_count, 3);
            }
            if (t != nullptr && subtitle_count == 1) {
                EXPECT_STREQ(t[0].lines[0].get(), "special file") << n;
            }
            app_shutdown(0);
            EXPECT_TRUE(root.exists(conf)) << n;
        } else {
            // The display could not be brought up: status 1, the settings untouched.
            EXPECT_TRUE(hit) << n;
            EXPECT_EQ(r, 1) << n;
            EXPECT_FALSE(root.exists(conf)) << n;
            // The process ends here, and the font engine fb_init had started goes with it.
            fb_font_deinit();
        }
        EXPECT_EQ(sim::open_descriptors(), 0) << n;
        EXPECT_EQ(window_live, before) << "blocks kept after failing allocation " << n;
        if (!hit) break;
        ++sites;
    }
    // The font stream, the back buffer, and the loads of both files.
    EXPECT_GE(sites, 4);
    std::printf("faults injected: %d\n", sites);
}

}  // namespace
