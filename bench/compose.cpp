// The cost of painting one subtitle: its time against the floor of clearing the band
// and copying the back buffer, the bytes it writes into the framebuffer, the first
// paint of glyphs not in the cache yet, and (where installed) libass drawing the same
// subtitle into a screen-sized ARGB buffer.
//
// The subtitle is a typical one: two lines of about 30 characters at zoom 3, no
// background box (so every glyph gets its outline), following another two-line
// subtitle; one benchmark paints a line too wide for the band. The player runs over
// the simulator's model of the box with a scratch root holding the font. Every
// benchmark brings up its own display, so that its figures do not depend on which
// benchmarks ran before it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fb/glyph.h"
#include "fb/painter.h"
#include "fb/screen.h"
#include "hw/device.h"
#include "sim/model.h"
#include "sub/subtitles.h"

#if LUMETRA_HAVE_LIBASS
#include <ass/ass.h>

#include FT_TRUETYPE_TABLES_H
#endif

namespace {

namespace fs = std::filesystem;

constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf";
constexpr const char* kLines[2][2] = {
    {"Dat had je niet moeten zeggen,", "want nu weet iedereen het al."},
    {"Morgen gaan we samen naar zee,", "als het weer een beetje meezit."},
};
constexpr int32_t kZoom = 3;

subtitle record_of(const char* const (&lines)[2]) {
    subtitle t{};
    t.line_count = 2;
    for (int i = 0; i < 2; ++i) {
        size_t n = std::strlen(lines[i]) + 1;
        t.lines[i] = std::make_unique<char[]>(n);
        std::memcpy(t.lines[i].get(), lines[i], n);
    }
    return t;
}

// A display brought up for one benchmark, with the two subtitles; the glyph cache
// starts empty.
struct bench_display {
    std::string root;
    subtitle records[2] = {record_of(kLines[0]), record_of(kLines[1])};
    bool ready = false;

    bench_display() {
        std::string dir_template = (fs::temp_directory_path() / "lumetra-bench-XXXXXX").string();
        if (::mkdtemp(dir_template.data()) == nullptr) return;
        root = dir_template;
        std::error_code ec;
        fs::create_directories(root + "/var/tuxbox/Tresk/tit", ec);
        fs::copy_file(kFont, root + "/var/tuxbox/Tresk/Tresk.ttf", ec);
        if (ec) return;
        sim::reset();
        sim::set_root(root);
        sim::set_framebuffer({.xres = 720, .yres = 576});
        fb = hw_open("/dev/fb/0", O_RDWR);
        ready = open();
    }
    bench_display(const bench_display&) = delete;
    bench_display& operator=(const bench_display&) = delete;

    bool open() {
        sx = 40;
        sy = 50;
        ex = 670;
        ey = 526;
        painted_record = nullptr;
        subtitle_shown = 0;
        if (fb_init() != 1) return false;
        zoom = kZoom;
        background_level = 0;
        fb_font_set_zoom();
        fb_compute_band();
        return true;
    }
    void close() {
        if (fb_mem != nullptr) fb_deinit(0);
    }

    // The two subtitles in turn, each after the other.
    void paint(int64_t i) { fb_paint_subtitle(&records[i & 1]); }

    ~bench_display() {
        close();
        if (fb >= 0) hw_close(fb);
        fb = -1;
        std::error_code ec;
        if (!root.empty()) fs::remove_all(root, ec);
    }
};

// The calling thread's CPU time as a std::chrono clock.
struct cpu_clock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<cpu_clock>;
    static constexpr bool is_steady = true;
    static time_point now() {
        timespec ts{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return time_point(duration(int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec));
    }
};

double micros(cpu_clock::duration t, double n) {
    return std::chrono::duration<double, std::micro>(t).count() / n;
}

// What a paint of the whole band costs at least: clear the band, copy the back buffer.
void floor_paint() {
    std::memset(reinterpret_cast<char*>(fb_mem) + band_start, 0, static_cast<size_t>(band_size));
    auto target =
        reinterpret_cast<uintptr_t>(bb_targets[0].load()) - reinterpret_cast<uintptr_t>(fb_mem);
    size_t length = std::min<size_t>(static_cast<size_t>(bbuf_size), fb_fix.smem_len - target);
    std::memcpy(reinterpret_cast<char*>(fb_mem) + target, bbuf.get(), length);
    benchmark::ClobberMemory();
}

void BM_Floor(benchmark::State& state) {
    bench_display d;
    if (!d.ready) return state.SkipWithError("no display");
    for (auto _ : state) floor_paint();
    state.SetBytesProcessed(state.iterations() * (band_size + bbuf_size));
}
BENCHMARK(BM_Floor);

// Warm paints: the glyphs are in the cache after the first two.
void BM_Compose(benchmark::State& state) {
    bench_display d;
    if (!d.ready) return state.SkipWithError("no display");
    d.paint(0);
    d.paint(1);
    int64_t i = 0;
    const long reads = sim::file_reads();
    for (auto _ : state) {
        d.paint(i++);
        benchmark::ClobberMemory();
    }
    state.counters["font_reads"] =
        static_cast<double>(sim::file_reads() - reads) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Compose);

// A line wider than the band at the largest size, as a viewer who turned the size up
// sees it: the paint breaks it into screen lines. Warm, like BM_Compose.
void BM_ComposeLongLine(benchmark::State& state) {
    bench_display d;
    if (!d.ready) return state.SkipWithError("no display");
    zoom = 7;
    fb_font_set_zoom();
    fb_compute_band();
    const char* const lines[2] = {
        "Dat had je niet moeten zeggen, want nu weet iedereen het al en dat was niet de "
        "bedoeling.",
        "Morgen gaan we samen naar zee."};
    subtitle t = record_of(lines);
    fb_paint_subtitle(&t);
    const long reads = sim::file_reads();
    for (auto _ : state) {
        fb_paint_subtitle(&t);
        benchmark::ClobberMemory();
    }
    state.counters["font_reads"] =
        static_cast<double>(sim::file_reads() - reads) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ComposeLongLine);

// Runs first, between (not timed) and second in turn, so that their ratio compares
// like with like in the same moments, and reports each one's thread CPU time per
// iteration (the machine may be busy with other work meanwhile) and second / first.
template <typename First, typename Between, typename Second>
void in_turn(benchmark::State& state, First first, Between between, Second second,
             const char* first_name, const char* second_name, const char* ratio_name) {
    cpu_clock::duration first_time{}, second_time{};
    const long reads = sim::file_reads();
    for (auto _ : state) {
        auto t0 = cpu_clock::now();
        first();
        benchmark::ClobberMemory();
        auto t1 = cpu_clock::now();
        between();
        auto t2 = cpu_clock::now();
        second();
        benchmark::ClobberMemory();
        auto t3 = cpu_clock::now();
        first_time += t1 - t0;
        second_time += t3 - t2;
    }
    double n = static_cast<double>(state.iterations());
    state.counters[first_name] = micros(first_time, n);
    state.counters[second_name] = micros(second_time, n);
    state.counters[ratio_name] = micros(second_time, n) / micros(first_time, n);
    // Paints of cached glyphs never read the font file.
    state.counters["font_reads"] = static_cast<double>(sim::file_reads() - reads) / n;
}

// The floor against a paint that follows another paint. The floor leaves the band
// blank and the back buffer copied: the paint between, after which the screen rows
// are forgotten, puts the screen back in a paint's hands.
void BM_ComposeOverFloor(benchmark::State& state) {
    bench_display d;
    if (!d.ready) return state.SkipWithError("no display");
    d.paint(0);
    d.paint(1);
    int64_t i = 0;
    in_turn(
        state, floor_paint,
        [&] {
            fb_forget_screen_rows();
            d.paint(i++);
        },
        [&] { d.paint(i++); }, "floor_us", "paint_us", "ratio");
}
BENCHMARK(BM_ComposeOverFloor);

// A moment at which both languages change (the first's paint, then the second's, in its
// own rows at the top of the band, one size smaller) against a moment at which one
// does: the target is at most twice the one.
void BM_ComposeBothLanguages(benchmark::State& state) {
    bench_display d;
    if (!d.ready) return state.SkipWithError("no display");
    subtitle second[2] = {record_of(kLines[1]), record_of(kLines[0])};
    d.paint(0);
    fb_paint_second(&second[0]);
    d.paint(1);
    fb_paint_second(&second[1]);
    int64_t i = 0;
    in_turn(
        state, [&] { d.paint(i++); }, [] {},
        [&] {
            d.paint(i);
            fb_paint_second(&second[i & 1]);
            ++i;
        },
        "one_us", "both_us", "ratio");
}
BENCHMARK(BM_ComposeBothLanguages);

// The first paint of a subtitle whose glyphs are not in the cache: every iteration
// starts with a display brought up afresh (not timed).
void BM_ComposeCold(benchmark::State& state) {
    bench_display d;
    if (!d.ready) return state.SkipWithError("no display");
    using clock_lock = cpu_clock;
    clock_lock::duration paints{};
    for (auto _ : state) {
        state.PauseTiming();
        d.close();
        if (!d.open()) return state.SkipWithError("display set-up failed");
        state.ResumeTiming();
        auto t0 = clock_lock::now();
        d.paint(0);
        benchmark::ClobberMemory();
        paints += clock_lock::now() - t0;
    }
    state.counters["paint_us"] = micros(paints, static_cast<double>(state.iterations()));
}
BENCHMARK(BM_ComposeCold);

// Bytes a paint writes into the framebuffer. Every word of the mapping is first set
// to a value no paint writes; after the paint the words that lost it were written,
// and the others get their old value back, so the screen is what the paint left.
constexpr uint32_t kMarker = 0x13579BDFu;

struct writes {
    int64_t written;  // bytes written
    int64_t changed;  // bytes of the rows whose pixels changed
};

writes measure_writes(bench_display& d, int64_t i) {
    std::span<uint32_t> px = fb_pixels(0);
    std::vector<uint32_t> before(px.begin(), px.end());
    std::fill(px.begin(), px.end(), kMarker);
    d.paint(i);
    writes z{0, 0};
    const size_t row = px_per_line;
    for (size_t r = 0; r * row < px.size(); ++r) {
        bool changed_row = false;
        for (size_t j = r * row; j < std::min(px.size(), (r + 1) * row); ++j) {
            if (px[j] == kMarker) {
                px[j] = before[j];
            } else {
                z.written += 4;
            }
            changed_row = changed_row || px[j] != before[j];
        }
        if (changed_row) z.changed += static_cast<int64_t>(row) * 4;
    }
    return z;
}

void BM_PaintBytes(benchmark::State& state) {
    bench_display d;
    if (!d.ready) return state.SkipWithError("no display");
    d.paint(0);
    d.paint(1);
    writes now{}, full{};
    int64_t i = 0;
    for (auto _ : state) {
        writes z = measure_writes(d, i++);
        now.written += z.written;
        now.changed += z.changed;
        // The same paint writing the whole band, as every paint did before it
        // tracked the rows it leaves blank.
        fb_forget_screen_rows();
        z = measure_writes(d, i++);
        full.written += z.written;
    }
    double n = static_cast<double>(state.iterations());
    state.counters["bytes"] = static_cast<double>(now.written) / n;
    state.counters["changed_row_bytes"] = static_cast<double>(now.changed) / n;
    state.counters["bytes_over_changed"] =
        static_cast<double>(now.written) / static_cast<double>(std::max<int64_t>(now.changed, 1));
    state.counters["full_band_bytes"] = static_cast<double>(full.written) / n;
}
BENCHMARK(BM_PaintBytes)->Iterations(50);

#if LUMETRA_HAVE_LIBASS

// libass drawing the same two subtitles in turn with the same font at the same pixel
// size and a 2-pixel outline, blended into a 720 x 576 ARGB buffer. The rectangles of
// the previous subtitle are cleared first, as a player would.
struct libass {
    ASS_Library* library = nullptr;
    ASS_Renderer* renderer = nullptr;
    ASS_Track* track = nullptr;
    std::vector<uint32_t> image = std::vector<uint32_t>(720 * 576, 0);
    struct rect {
        int x, y, w, h;
    };
    std::vector<rect> previous;

    libass() {
        library = ass_library_init();
        if (library == nullptr) return;
        ass_set_message_cb(library, quiet, nullptr);
        renderer = ass_renderer_init(library);
        if (renderer == nullptr) return;
        ass_set_frame_size(renderer, 720, 576);
        ass_set_storage_size(renderer, 720, 576);
        ass_set_fonts(renderer, kFont, "DejaVu Sans Condensed", ASS_FONTPROVIDER_NONE, nullptr, 0);
        ass_set_hinting(renderer, ASS_HINTING_NONE);
        std::string script = header();
        for (int i = 0; i < 2; ++i) {
            char line[256];
            std::snprintf(line, sizeof line,
                          "Dialogue: 0,0:00:%02d.00,0:00:%02d.00,Default,,0,0,0,,%s\\N%s\n", 5 * i,
                          5 * i + 5, kLines[i][0], kLines[i][1]);
            script += line;
        }
        track = ass_read_memory(library, script.data(), script.size(), nullptr);
    }
    ~libass() {
        if (track != nullptr) ass_free_track(track);
        if (renderer != nullptr) ass_renderer_done(renderer);
        if (library != nullptr) ass_library_done(library);
    }
    libass(const libass&) = delete;
    libass& operator=(const libass&) = delete;

    static void quiet(int, const char*, va_list, void*) {}

    // libass sizes a font by its ascender plus descender (the OS/2 Windows metrics
    // where present), the player by its em: the style's size is converted, and the
    // glyph width scaled to the player's width.
    static std::string header() {
        const double height = font_sizes[kZoom][0];
        const double width = font_sizes[kZoom][1];
        double size = height;
        FT_Library lib = nullptr;
        FT_Face face = nullptr;
        if (FT_Init_FreeType(&lib) == 0 && FT_New_Face(lib, kFont, 0, &face) == 0) {
            double asc = face->ascender, desc = -face->descender;
            auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
            if (os2 != nullptr && os2->usWinAscent + os2->usWinDescent != 0) {
                asc = static_cast<int16_t>(os2->usWinAscent);
                desc = static_cast<int16_t>(os2->usWinDescent);
            }
            size = height * (asc + desc) / face->units_per_EM;
            FT_Done_Face(face);
        }
        if (lib != nullptr) FT_Done_FreeType(lib);
        char style[512];
        std::snprintf(style, sizeof style,
                      "Style: Default,DejaVu Sans Condensed,%.3f,&H0000FFFF,&H000000FF,"
                      "&H00000000,&H00000000,0,0,0,0,%.3f,100,0,0,1,2,0,2,41,50,30,1\n",
                      size, 100.0 * width / height);
        return std::string(
                   "[Script Info]\nScriptType: v4.00+\nPlayResX: 720\nPlayResY: 576\n"
                   "ScaledBorderAndShadow: yes\nWrapStyle: 2\n\n[V4+ Styles]\n"
                   "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
                   "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, "
                   "ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, "
                   "Alignment, MarginL, MarginR, MarginV, Encoding\n") +
               style +
               "\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, "
               "MarginV, Effect, Text\n";
    }

    bool ready() const { return track != nullptr && track->n_events == 2; }

    // Draws subtitle i & 1; returns the number of images blended.
    int paint(int64_t i) {
        for (const rect& o : previous) {
            for (int r = o.y; r < o.y + o.h; ++r) {
                std::fill_n(image.begin() + r * 720 + o.x, o.w, 0u);
            }
        }
        previous.clear();
        int changed = 0;
        ASS_Image* img = ass_render_frame(renderer, track, (i & 1) * 5000 + 1000, &changed);
        int images = 0;
        for (; img != nullptr; img = img->next, ++images) blend(*img);
        return images;
    }

    // Source-over of one image in its colour (RGBA, alpha 0 = opaque) into ARGB.
    void blend(const ASS_Image& img) {
        const int x0 = std::clamp(img.dst_x, 0, 720), y0 = std::clamp(img.dst_y, 0, 576);
        const int x1 = std::clamp(img.dst_x + img.w, 0, 720);
        const int y1 = std::clamp(img.dst_y + img.h, 0, 576);
        if (x0 >= x1 || y0 >= y1) return;
        previous.push_back({x0, y0, x1 - x0, y1 - y0});
        const uint32_t opacity = 255 - (img.color & 0xFF);
        const uint32_t cr = img.color >> 24, cg = (img.color >> 16) & 0xFF,
                       cb = (img.color >> 8) & 0xFF;
        for (int r = y0; r < y1; ++r) {
            const uint8_t* src = img.bitmap + (r - img.dst_y) * img.stride - img.dst_x;
            uint32_t* dst = image.data() + r * 720;
            for (int c = x0; c < x1; ++c) {
                const uint32_t a = src[c] * opacity / 255;
                if (a == 0) continue;
                const uint32_t d = dst[c];
                const uint32_t na = 255 - a;
                const uint32_t oa = a + ((d >> 24) * na) / 255;
                const uint32_t orr = (cr * a + ((d >> 16) & 0xFF) * na) / 255;
                const uint32_t og = (cg * a + ((d >> 8) & 0xFF) * na) / 255;
                const uint32_t ob = (cb * a + (d & 0xFF) * na) / 255;
                dst[c] = oa << 24 | orr << 16 | og << 8 | ob;
            }
        }
    }
};

void BM_Libass(benchmark::State& state) {
    libass a;
    if (!a.ready()) return state.SkipWithError("libass set-up failed");
    a.paint(0);
    a.paint(1);
    int64_t i = 0;
    for (auto _ : state) {
        a.paint(i++);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Libass);

// Our warm paint and libass's in turn, in the same moments.
void BM_PaintOverLibass(benchmark::State& state) {
    bench_display d;
    libass a;
    if (!d.ready) return state.SkipWithError("no display");
    if (!a.ready()) return state.SkipWithError("libass set-up failed");
    d.paint(0);
    d.paint(1);
    a.paint(0);
    a.paint(1);
    int64_t i = 0;
    in_turn(
        state, [&] { d.paint(i); }, [] {}, [&] { a.paint(i++); }, "paint_us", "libass_us",
        "libass_over_paint");
}
BENCHMARK(BM_PaintOverLibass);

#endif

}  // namespace

BENCHMARK_MAIN();
