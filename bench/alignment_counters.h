// The counters every alignment benchmark reports beside its time: the share of the
// copy's cues (thousandths) the alignment puts within tolerance_ms of where they
// belong, the same for the best single offset alone (the baseline a user might
// otherwise use), the alignment's confidence and its number of splits.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "conv/align.h"
#include "tests/support/sync_samples.h"

inline void count_alignment(benchmark::State& state, const testsup::Distorted& copy,
                            const conv::Alignment& alignment, int64_t tolerance_ms) {
    state.counters["within_" + std::to_string(tolerance_ms) + "ms_permille"] =
        testsup::accuracy_permille(copy, alignment, tolerance_ms);
    state.counters["single_offset_permille"] =
        testsup::single_offset_permille(copy, alignment, tolerance_ms);
    state.counters["confidence_permille"] = alignment.confidence_permille;
    state.counters["splits"] = static_cast<double>(alignment.segments.size()) - 1;
}
