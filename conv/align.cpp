// Alignment: the score of a placement is how many ms of the cues' intervals the
// reference covers. The best offset for a ratio comes from a grid of offsets whose
// exact scores are summed from each (cue, reference span) pair's four slope changes,
// then refined to the ms; splits come from a dynamic programme over the cues in time
// order choosing among offsets found for windows of cues, with a penalty per change.
#include "conv/align.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <limits>
#include <numeric>

namespace conv {
namespace {

struct Ratio {
    int64_t numerator;
    int64_t denominator;
    const char* name;
};

// The usual frame-rate conversions, as what a source time is multiplied by
// (23.976 is 24000/1001; 24/23.976 is exactly 1001/1000, so those repeat).
constexpr std::array<Ratio, 8> kRatios{{
    {960, 1001, "23.976/25"},
    {1001, 960, "25/23.976"},
    {24, 25, "24/25"},
    {25, 24, "25/24"},
    {1001, 1000, "24/23.976"},
    {1000, 1001, "23.976/24"},
    {1001, 1000, "1001/1000"},
    {1000, 1001, "1000/1001"},
}};

// Offsets are searched on this grid first, then to the ms around the best.
constexpr int64_t kGridMs = 40;
constexpr int64_t kGridPoints = 2 * kMaxOffsetMs / kGridMs + 1;
// A ratio replaces none only when it covers this much more (percent).
constexpr int64_t kRatioGainPercent = 5;
// Cue pairs with reference spans one grid pass may visit; beyond it, the reference's
// small gaps are closed until it fits. Bounds the time for any input.
constexpr int64_t kMaxPairs = 1'500'000;
// Cues aligned at most; more are no film's subtitles.
constexpr size_t kMaxCues = 50'000;
// Windows of cues whose own best offsets are the candidates for splits.
constexpr size_t kWindowCues = 60;
constexpr size_t kMaxCandidates = 48;
// A window's offset is a candidate only when its peak stands out this much.
constexpr int kCandidatePermille = 250;
// Offsets this far apart are different placements, not the same peak.
constexpr int64_t kApartMs = 10'000;
// Candidates closer than this are one.
constexpr int64_t kSameOffsetMs = 250;
// A split costs this many median cue durations of covered time.
constexpr int64_t kSplitPenaltyCues = 4;

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

int64_t scaled(int64_t t, int64_t numerator, int64_t denominator) {
    return floor_div(t * numerator + denominator / 2, denominator);
}

// The reference as sorted disjoint spans, with the covered ms before each.
class Coverage {
  public:
    Coverage(std::vector<TimeSpan> spans, int64_t close_gaps_ms) {
        std::sort(spans.begin(), spans.end(),
                  [](const TimeSpan& a, const TimeSpan& b) { return a.start_ms < b.start_ms; });
        for (const TimeSpan& s : spans) {
            if (s.end_ms <= s.start_ms) continue;
            if (!spans_.empty() && s.start_ms <= spans_.back().end_ms + close_gaps_ms) {
                spans_.back().end_ms = std::max(spans_.back().end_ms, s.end_ms);
            } else {
                spans_.push_back(s);
            }
        }
        before_.resize(spans_.size() + 1, 0);
        for (size_t i = 0; i < spans_.size(); ++i)
            before_[i + 1] = before_[i] + spans_[i].end_ms - spans_[i].start_ms;
    }

    bool empty() const { return spans_.empty(); }
    const std::vector<TimeSpan>& spans() const { return spans_; }
    int64_t total() const { return before_.back(); }

    // Covered ms in [a, b).
    int64_t overlap(int64_t a, int64_t b) const {
        return b <= a ? 0 : covered_below(b) - covered_below(a);
    }

    // Index of the first span ending after t.
    size_t first_ending_after(int64_t t) const {
        return std::upper_bound(spans_.begin(), spans_.end(), t,
                                [](int64_t v, const TimeSpan& s) { return v < s.end_ms; }) -
               spans_.begin();
    }
    // Index of the first span starting at or after t.
    size_t first_starting_from(int64_t t) const {
        return std::lower_bound(spans_.begin(), spans_.end(), t,
                                [](const TimeSpan& s, int64_t v) { return s.start_ms < v; }) -
               spans_.begin();
    }

  private:
    int64_t covered_below(int64_t t) const {
        size_t i = first_ending_after(t);
        int64_t c = before_[i];
        if (i < spans_.size() && t > spans_[i].start_ms) c += t - spans_[i].start_ms;
        return c;
    }

    std::vector<TimeSpan> spans_;
    std::vector<int64_t> before_;
};

struct Placement {
    int64_t numerator = 1;
    int64_t denominator = 1;
    int64_t offset = 0;
};

// Cues sorted by start, their spans scaled by the ratio being tried.
using Spans = std::span<const TimeSpan>;

int64_t score_at(Spans cues, const Coverage& ref, int64_t offset) {
    int64_t sum = 0;
    for (const TimeSpan& c : cues) sum += ref.overlap(c.start_ms + offset, c.end_ms + offset);
    return sum;
}

// Pairs of cue and reference span that overlap at some offset within the limit.
int64_t pair_count(Spans cues, const Coverage& ref) {
    int64_t n = 0;
    for (const TimeSpan& c : cues) {
        size_t lo = ref.first_ending_after(c.start_ms - kMaxOffsetMs);
        size_t hi = ref.first_starting_from(c.end_ms + kMaxOffsetMs);
        if (hi > lo) n += static_cast<int64_t>(hi - lo);
    }
    return n;
}

// The exact score at every grid offset. A cue [a, b) against a span [r, s) overlaps
// by a trapezoid in the offset d whose slope changes by +1 at r-b, -1 at r-a, -1 at
// s-b and +1 at s-a; a grid point's score is the sum over the changes p below it of
// w * (d - p), kept as the sums of w and of w * p per grid cell.
class OffsetGrid {
  public:
    OffsetGrid() : weight_(kGridPoints + 1), moment_(kGridPoints + 1) {}

    void fill(Spans cues, const Coverage& ref) {
        std::fill(weight_.begin(), weight_.end(), 0);
        std::fill(moment_.begin(), moment_.end(), 0);
        const std::vector<TimeSpan>& spans = ref.spans();
        for (const TimeSpan& c : cues) {
            size_t lo = ref.first_ending_after(c.start_ms - kMaxOffsetMs);
            size_t hi = ref.first_starting_from(c.end_ms + kMaxOffsetMs);
            for (size_t j = lo; j < hi; ++j) {
                add(spans[j].start_ms - c.end_ms, 1);
                add(spans[j].start_ms - c.start_ms, -1);
                add(spans[j].end_ms - c.end_ms, -1);
                add(spans[j].end_ms - c.start_ms, 1);
            }
        }
    }

    // The best grid offset, its score, the mean score over the grid and the best
    // score at least kApartMs away from the best offset.
    void best(int64_t& offset, int64_t& score, int64_t& mean, int64_t& rival) const {
        int64_t total = 0;
        score = -1;
        for_each_score([&](int64_t d, int64_t value) {
            total += value;
            // Ties go to the offset nearest zero.
            if (value > score || (value == score && std::llabs(d) < std::llabs(offset))) {
                score = value;
                offset = d;
            }
        });
        mean = total / kGridPoints;
        rival = 0;
        for_each_score([&](int64_t d, int64_t value) {
            if (std::llabs(d - offset) >= kApartMs) rival = std::max(rival, value);
        });
    }

  private:
    template <typename Visit>
    void for_each_score(Visit visit) const {
        int64_t w = 0, m = 0;
        for (int64_t k = 0; k < kGridPoints; ++k) {
            w += weight_[k];
            m += moment_[k];
            const int64_t d = -kMaxOffsetMs + k * kGridMs;
            visit(d, d * w - m);
        }
    }

    void add(int64_t p, int w) {
        // The first grid point at or after p; changes below the range count from 0.
        int64_t k = p <= -kMaxOffsetMs ? 0 : floor_div(p + kMaxOffsetMs + kGridMs - 1, kGridMs);
        if (k >= kGridPoints) return;
        weight_[k] += w;
        moment_[k] += w * p;
    }

    std::vector<int32_t> weight_;
    std::vector<int64_t> moment_;
};

// The offset within a grid step of around whose score is highest, to the ms; the
// middle of a plateau of equal scores.
int64_t refine(Spans cues, const Coverage& ref, int64_t around, int64_t& score) {
    auto search = [&](int64_t from, int64_t to, int64_t step, int64_t& best_score) {
        int64_t first = from, last = from;
        best_score = -1;
        for (int64_t d = from; d <= to; d += step) {
            int64_t s = score_at(cues, ref, d);
            if (s > best_score) {
                best_score = s;
                first = last = d;
            } else if (s == best_score && last == d - step) {
                last = d;
            }
        }
        return (first + last) / 2;
    };
    int64_t lo = std::max(-kMaxOffsetMs, around - kGridMs);
    int64_t hi = std::min(kMaxOffsetMs, around + kGridMs);
    int64_t coarse = search(lo, hi, 5, score);
    return search(std::max(lo, coarse - 5), std::min(hi, coarse + 5), 1, score);
}

struct Found {
    int64_t offset = 0;
    int64_t score = -1;
    int64_t mean = 0;
    int64_t rival = 0;
    // How far the best stands out above the best elsewhere, relative to how far it
    // stands above the mean: near 0 for a peak of noise among others.
    int prominence() const {
        const int64_t above_mean = score - mean;
        return above_mean <= 0 ? 0
                               : static_cast<int>(std::clamp<int64_t>(
                                     (score - rival) * 1000 / above_mean, 0, 1000));
    }
};

Found best_offset(Spans cues, const Coverage& ref, OffsetGrid& grid) {
    Found f;
    grid.fill(cues, ref);
    grid.best(f.offset, f.score, f.mean, f.rival);
    f.offset = refine(cues, ref, f.offset, f.score);
    return f;
}

std::vector<TimeSpan> scaled_spans(Spans cues, int64_t numerator, int64_t denominator) {
    std::vector<TimeSpan> out(cues.begin(), cues.end());
    if (numerator == denominator) return out;
    for (TimeSpan& c : out) {
        c.start_ms = scaled(c.start_ms, numerator, denominator);
        c.end_ms = std::max(scaled(c.end_ms, numerator, denominator), c.start_ms + 1);
    }
    return out;
}

// Assigns each cue one of the candidate offsets so that the covered ms minus the
// penalty per change of offset is highest; returns the run starts (cue index and
// candidate).
std::vector<std::pair<size_t, size_t>> split_runs(Spans cues, const Coverage& ref,
                                                  const std::vector<int64_t>& candidates,
                                                  int64_t penalty) {
    const size_t n = cues.size(), k = candidates.size();
    std::vector<int64_t> total(k, 0);
    // came_from[i * k + j]: the candidate of cue i-1 on the best path with cue i at j.
    std::vector<uint8_t> came_from(n * k);
    for (size_t i = 0; i < n; ++i) {
        size_t leader = 0;
        for (size_t j = 1; j < k; ++j)
            if (total[j] > total[leader]) leader = j;
        const int64_t switched = total[leader] - penalty;
        for (size_t j = 0; j < k; ++j) {
            uint8_t from = static_cast<uint8_t>(j);
            if (i > 0 && switched > total[j]) {
                total[j] = switched;
                from = static_cast<uint8_t>(leader);
            }
            came_from[i * k + j] = from;
            total[j] +=
                ref.overlap(cues[i].start_ms + candidates[j], cues[i].end_ms + candidates[j]);
        }
    }
    size_t at = static_cast<size_t>(std::max_element(total.begin(), total.end()) - total.begin());
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t i = n; i-- > 0;) {
        size_t from = came_from[i * k + at];
        if (i == 0 || from != at) runs.emplace_back(i, at);
        at = from;
    }
    std::reverse(runs.begin(), runs.end());
    return runs;
}

int64_t median_duration(Spans cues) {
    std::vector<int64_t> d;
    d.reserve(cues.size());
    for (const TimeSpan& c : cues) d.push_back(c.end_ms - c.start_ms);
    std::nth_element(d.begin(), d.begin() + d.size() / 2, d.end());
    return d[d.size() / 2];
}

std::string signed_seconds(int64_t ms) {
    char text[32];
    int64_t a = std::llabs(ms);
    std::snprintf(text, sizeof text, "%c%lld.%03lld s", ms < 0 ? '-' : '+',
                  static_cast<long long>(a / 1000), static_cast<long long>(a % 1000));
    return text;
}

}  // namespace

std::vector<TimeSpan> cue_spans(std::span<const Cue> cues) {
    std::vector<TimeSpan> spans;
    spans.reserve(cues.size());
    for (const Cue& c : cues) spans.push_back({c.start_ms, c.end_ms});
    return spans;
}

Alignment align_spans(std::span<const TimeSpan> cue_input, std::span<const TimeSpan> reference) {
    Alignment result;
    std::vector<TimeSpan> cues;
    for (const TimeSpan& c : cue_input)
        if (c.end_ms > c.start_ms) cues.push_back(c);
    std::sort(cues.begin(), cues.end(),
              [](const TimeSpan& a, const TimeSpan& b) { return a.start_ms < b.start_ms; });
    if (cues.empty() || cues.size() > kMaxCues) return result;

    // Close the reference's smallest gaps until a grid pass stays within its budget.
    Coverage ref(std::vector<TimeSpan>(reference.begin(), reference.end()), 0);
    for (int64_t gap = 100; !ref.empty() && pair_count(cues, ref) > kMaxPairs; gap *= 2)
        ref = Coverage(ref.spans(), gap);
    if (ref.empty()) return result;

    OffsetGrid grid;
    const Found single = best_offset(cues, ref, grid);
    result.single_offset_ms = single.offset;
    result.single_matched_ms = single.score;

    // A ratio only when it is clearly better than none.
    Placement placement{1, 1, single.offset};
    int64_t placed_score = single.score;
    for (size_t r = 0; r < kRatios.size(); ++r) {
        const Ratio& ratio = kRatios[r];
        bool seen = false;
        for (size_t q = 0; q < r; ++q)
            seen = seen || (kRatios[q].numerator == ratio.numerator &&
                            kRatios[q].denominator == ratio.denominator);
        if (seen) continue;
        std::vector<TimeSpan> scaled = scaled_spans(cues, ratio.numerator, ratio.denominator);
        if (pair_count(scaled, ref) > kMaxPairs) continue;
        Found f = best_offset(scaled, ref, grid);
        if (f.score * 100 > single.score * (100 + kRatioGainPercent) && f.score > placed_score) {
            placement = {ratio.numerator, ratio.denominator, f.offset};
            placed_score = f.score;
            result.ratio_name = ratio.name;
        }
    }
    result.ratio_numerator = placement.numerator;
    result.ratio_denominator = placement.denominator;
    std::vector<TimeSpan> placed = scaled_spans(cues, placement.numerator, placement.denominator);
    for (const TimeSpan& c : placed) result.cue_ms += c.end_ms - c.start_ms;

    // Offsets of windows of cues are the candidates for splits.
    std::vector<std::pair<int64_t, int64_t>> found;  // score, offset
    found.emplace_back(std::numeric_limits<int64_t>::max(), placement.offset);
    if (placed.size() > kWindowCues) {
        for (size_t first = 0; first < placed.size(); first += kWindowCues / 2) {
            size_t count = std::min(kWindowCues, placed.size() - first);
            Found f = best_offset(Spans(placed).subspan(first, count), ref, grid);
            if (f.prominence() >= kCandidatePermille) found.emplace_back(f.score, f.offset);
            if (first + count == placed.size()) break;
        }
    }
    std::sort(found.begin(), found.end(), std::greater<>());
    std::vector<int64_t> candidates;
    for (const auto& [score, offset] : found) {
        bool near = false;
        for (int64_t c : candidates) near = near || std::llabs(c - offset) < kSameOffsetMs;
        if (!near && candidates.size() < kMaxCandidates) candidates.push_back(offset);
    }

    const int64_t penalty = kSplitPenaltyCues * median_duration(placed);
    std::vector<std::pair<size_t, size_t>> runs = split_runs(placed, ref, candidates, penalty);
    result.segments.clear();
    result.matched_ms = 0;
    // The confidence is each stretch's prominence, weighed by its cues.
    int64_t weighed = 0;
    for (size_t r = 0; r < runs.size(); ++r) {
        size_t first = runs[r].first;
        size_t end = r + 1 < runs.size() ? runs[r + 1].first : placed.size();
        Spans run = Spans(placed).subspan(first, end - first);
        int64_t score = 0;
        int64_t offset = refine(run, ref, candidates[runs[r].second], score);
        result.segments.push_back({cues[first].start_ms, offset});
        result.matched_ms += score;
        weighed += static_cast<int64_t>(run.size()) * best_offset(run, ref, grid).prominence();
    }
    result.confidence_permille = static_cast<int>(weighed / static_cast<int64_t>(placed.size()));
    result.reliable = result.confidence_permille >= kReliablePermille;
    return result;
}

int64_t aligned_time(const Alignment& alignment, int64_t start_ms, int64_t t) {
    if (alignment.segments.empty()) return t;
    auto after = std::upper_bound(alignment.segments.begin(), alignment.segments.end(), start_ms,
                                  [](int64_t v, const AlignSegment& s) { return v < s.from_ms; });
    const AlignSegment& segment =
        after == alignment.segments.begin() ? alignment.segments.front() : *(after - 1);
    return scaled(t, alignment.ratio_numerator, alignment.ratio_denominator) + segment.offset_ms;
}

void apply_alignment(const Alignment& alignment, std::vector<Cue>& cues) {
    for (Cue& c : cues) {
        const int64_t start = c.start_ms;
        c.start_ms = aligned_time(alignment, start, start);
        c.end_ms = aligned_time(alignment, start, c.end_ms);
    }
}

std::string alignment_text(const Alignment& alignment) {
    std::string text = "offset ";
    text += alignment.segments.empty() ? signed_seconds(0)
                                       : signed_seconds(alignment.segments.front().offset_ms);
    text += ", ratio ";
    text += alignment.ratio_name;
    const size_t splits = alignment.segments.empty() ? 0 : alignment.segments.size() - 1;
    text += ", " + std::to_string(splits) + (splits == 1 ? " split" : " splits");
    for (size_t i = 1; i < alignment.segments.size(); ++i) {
        text += i == 1 ? " (" : ", ";
        text += signed_seconds(alignment.segments[i].offset_ms);
        if (i + 1 == alignment.segments.size()) text += ")";
    }
    const int64_t percent =
        alignment.cue_ms > 0 ? alignment.matched_ms * 100 / alignment.cue_ms : 0;
    text += ", score " + std::to_string(percent) + " %";
    return text;
}

}  // namespace conv
