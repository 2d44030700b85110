// Converting a two-hour SubRip file (1500 cues, about 100 KB, some in italics and a
// few overlapping) to the player's format: the time it takes, and the most memory
// it holds at once, counted by the allocation functions below and reported as
// bytes and as a multiple of the file's size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <span>
#include <string>

#include "conv/convert.h"

namespace {

// Bytes allocated and not yet freed, and the most of them since the last reset.
// Each block carries its size in front of it.
size_t g_live = 0;
size_t g_peak = 0;
constexpr size_t kHeader = alignof(std::max_align_t);

[[gnu::noinline]] void* counted_alloc(size_t size) {
    void* p = std::malloc(size + kHeader);
    if (p == nullptr) return nullptr;
    *static_cast<size_t*>(p) = size;
    g_live += size;
    g_peak = std::max(g_peak, g_live);
    return static_cast<char*>(p) + kHeader;
}

[[gnu::noinline]] void counted_free(void* p) {
    if (p == nullptr) return;
    void* block = static_cast<char*>(p) - kHeader;
    g_live -= *static_cast<size_t*>(block);
    std::free(block);
}

constexpr int kCues = 1500;
constexpr int kFilmMs = 2 * 3600 * 1000;

std::string two_hour_film() {
    const char* texts[] = {"Where were you last night?", "<i>Out. Walking by the river.</i>",
                           "You could have called.\nI waited until two.",
                           "I know. I'm sorry, it won't happen again.",
                           "- Is the car outside?\n- Since eight o'clock."};
    std::string srt;
    char timing[64];
    int step = kFilmMs / kCues;
    for (int i = 0; i < kCues; ++i) {
        int start = i * step + 200;
        // Every fiftieth cue runs into the next one.
        int end = start + step * 3 / 4 + (i % 50 == 0 ? step : 0);
        std::snprintf(timing, sizeof timing, "%d\n%02d:%02d:%02d,%03d --> %02d:%02d:%02d,%03d\n",
                      i + 1, start / 3600000, start / 60000 % 60, start / 1000 % 60, start % 1000,
                      end / 3600000, end / 60000 % 60, end / 1000 % 60, end % 1000);
        srt += timing;
        srt += texts[i % 5];
        srt += "\n\n";
    }
    return srt;
}

void BM_ConvertTwoHourSubRip(benchmark::State& state) {
    const std::string file = two_hour_film();
    std::span<const uint8_t> input(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    conv::ConvertOptions options;
    options.source_name = "film.srt";
    size_t peak = 0;
    for (auto _ : state) {
        g_live = 0;
        g_peak = 0;
        std::string output;
        conv::ConvertReport report;
        int result = conv::convert_subtitles(input, options, output, report);
        benchmark::DoNotOptimize(output.data());
        if (result != conv::kConvertOk) state.SkipWithError(report.error.c_str());
        peak = std::max(peak, g_peak);
    }
    state.counters["file_bytes"] = static_cast<double>(file.size());
    state.counters["peak_bytes"] = static_cast<double>(peak);
    state.counters["peak_per_file_byte"] = static_cast<double>(peak) / file.size();
}
BENCHMARK(BM_ConvertTwoHourSubRip)->Unit(benchmark::kMillisecond);

}  // namespace

void* operator new(size_t size) {
    void* p = counted_alloc(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return counted_alloc(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return counted_alloc(size);
}
void operator delete(void* p) noexcept {
    counted_free(p);
}
void operator delete[](void* p) noexcept {
    counted_free(p);
}
void operator delete(void* p, size_t) noexcept {
    counted_free(p);
}
void operator delete[](void* p, size_t) noexcept {
    counted_free(p);
}

BENCHMARK_MAIN();
