// Automatic sync of a two-hour film (1500 cues) to a subtitle reference, for each
// distortion of the test material: the time one alignment takes, and as counters the
// share of cues (in thousandths) placed within 100 ms of where they belong, beside
// the same share for the best single offset alone, the baseline a user might
// otherwise use.
#include <benchmark/benchmark.h>

#include <vector>

#include "conv/align.h"
#include "tests/support/sync_samples.h"

namespace {

constexpr int kCues = 1500;
constexpr int64_t kToleranceMs = 100;

void BM_AlignTwoHourFilm(benchmark::State& state) {
    const testsup::Distortion& d = testsup::kDistortions[static_cast<size_t>(state.range(0))];
    state.SetLabel(d.name);
    const std::vector<conv::TimeSpan> film = testsup::film_times(kCues, 7);
    const testsup::Distorted copy = testsup::distort(film, d, 11);
    conv::Alignment alignment;
    for (auto _ : state) {
        alignment = conv::align_spans(copy.cues, film);
        benchmark::DoNotOptimize(alignment.matched_ms);
    }
    state.counters["within_100ms_permille"] =
        testsup::accuracy_permille(copy, alignment, kToleranceMs);
    state.counters["single_offset_permille"] =
        testsup::single_offset_permille(copy, alignment, kToleranceMs);
    state.counters["confidence_permille"] = alignment.confidence_permille;
    state.counters["splits"] = static_cast<double>(alignment.segments.size()) - 1;
}
BENCHMARK(BM_AlignTwoHourFilm)
    ->DenseRange(0, static_cast<int>(testsup::kDistortions.size()) - 1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
