// Alignment: the score of a placement is how many ms of the cues' intervals the
// reference covers. The best offset for a ratio comes from a grid of offsets whose
// exact scores are summed from each (cue, reference span) pair's four slope changes,
// then refined to the ms; splits come from a dynamic programme over the cues in time
// order choosing among offsets found for windows of cues, with a penalty per change.
// The box runs it too: the grids' sums are 32-bit, the pairs of a set of cues are
// visited once where sets are sums of smaller ones (windows of halves, stretches of
// blocks), and a ratio is only looked for near where the single offset puts it.
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
// A ratio replaces none only when it covers more by half of what its drift across the
// cues costs without it (see required_gain_permille), between these (thousandths):
// near-1 ratios on a short file gain only a few percent.
constexpr int64_t kLeastRatioGainPermille = 10;
constexpr int64_t kMostRatioGainPermille = 50;
// A ratio's best offset is looked for this far around where the single offset puts
// it (see align_spans): the stretch the single offset places may be placed apart from
// the rest, by a cut scene or an advertising break.
constexpr int64_t kRatioSlackMs = 60'000;
// Cue pairs with reference spans one grid pass may visit; beyond it, the reference's
// small gaps are closed until it fits. Bounds the time for any input.
constexpr int64_t kMaxPairs = 1'500'000;
// Cues aligned at most, and their total time at most; more are no film's subtitles.
constexpr size_t kMaxCues = 50'000;
constexpr int64_t kMostCueMs = int64_t{1} << 30;
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
// Each placed stretch is checked in blocks of about this many cues: a block whose
// own evidence does not favour its offset over every other (10 s or more away)
// is placed on nothing, and its own best offset is tried as a split.
constexpr size_t kCheckCues = 150;
// A block stands out at its offset by less than this: it is not supported.
constexpr int kBlockPermille = 100;
// Rounds of looking for splits again with the blocks' own offsets.
constexpr int kSplitRounds = 3;
// An offset within the reference's jitter of zero, at most this, is no move at all.
constexpr int64_t kMostInSyncMs = 200;
// Cues further than this from any reference start say nothing about its jitter.
constexpr int64_t kJitterReachMs = 1000;
// Unsupported stretches a refusal names; more are left at "...".
constexpr size_t kNamedStretches = 3;

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

int64_t scaled(int64_t t, int64_t numerator, int64_t denominator) {
    return floor_div(t * numerator + denominator / 2, denominator);
}

// A span's length for 32-bit sums of a few: anything longer than any offset range is
// as good as infinite.
uint32_t clamped_length(const TimeSpan& s) {
    return static_cast<uint32_t>(std::min<int64_t>(s.end_ms - s.start_ms, int64_t{1} << 30));
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
        lengths_.reserve(spans_.size());
        for (size_t i = 0; i < spans_.size(); ++i) {
            before_[i + 1] = before_[i] + spans_[i].end_ms - spans_[i].start_ms;
            lengths_.push_back(clamped_length(spans_[i]));
        }
    }

    bool empty() const { return spans_.empty(); }
    const std::vector<TimeSpan>& spans() const { return spans_; }
    // The spans' lengths, as clamped_length gives them.
    const std::vector<uint32_t>& lengths() const { return lengths_; }
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
    std::vector<uint32_t> lengths_;
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

// The exact score at every grid offset of a range. A cue [a, b) against a span [r, s)
// overlaps by a trapezoid in the offset d whose slope changes by +1 at r-b, -1 at r-a,
// -1 at s-b and +1 at s-a; a grid point's score is the sum over the changes p below it
// of w * (d - p). Each grid cell keeps the changes since the point before it as their
// weight and their distance below its point (less than a grid step), so that the
// cells hold 32-bit sums and the scores follow from one pass of additions: the box's
// processor has no 64-bit multiply or divide.
int64_t point(int64_t k) {
    return -kMaxOffsetMs + k * kGridMs;
}

class OffsetGrid {
  public:
    OffsetGrid() : cells_(kGridPoints) {}

    // The slope changes of the cues' pairs for the grid offsets from `from` to `to`
    // (ms, within the limit).
    void collect(Spans cues, const Coverage& ref, int64_t from = -kMaxOffsetMs,
                 int64_t to = kMaxOffsetMs) {
        std::fill(cells_.begin() + first_, cells_.begin() + last_ + 1, Cell{});
        first_ = static_cast<int32_t>(std::clamp<int64_t>(
            floor_div(from + kMaxOffsetMs + kGridMs - 1, kGridMs), 0, kGridPoints - 1));
        last_ = static_cast<int32_t>(
            std::clamp<int64_t>(floor_div(to + kMaxOffsetMs, kGridMs), first_, kGridPoints - 1));
        const uint32_t reach = static_cast<uint32_t>((last_ - first_) * kGridMs);
        const int64_t low = point(first_), high = point(last_);
        const std::vector<TimeSpan>& spans = ref.spans();
        const std::vector<uint32_t>& lengths = ref.lengths();
        Cell* cells = cells_.data() + first_;
        int32_t weight_first = 0;
        int64_t moment_first = 0;
        // A change at p, given as its distance above the range's first point.
        auto change = [&](int64_t above_first, int32_t w) {
            if (above_first <= 0) {
                weight_first += w;
                moment_first += w > 0 ? -above_first : above_first;
            } else if (above_first <= reach) {
                put(cells, static_cast<uint32_t>(above_first), w);
            }
        };
        for (const TimeSpan& c : cues) {
            // The pairs whose trapezoid reaches into the range.
            const size_t lo = ref.first_ending_after(c.start_ms + low);
            const size_t hi = ref.first_starting_from(c.end_ms + high);
            const int64_t before_end = c.end_ms + low, before_start = c.start_ms + low;
            const uint32_t length = clamped_length(c);
            for (size_t j = lo; j < hi; ++j) {
                // Mostly all four changes lie within the range: 32-bit sums from the
                // first, as the cue's and the span's lengths apart.
                const int64_t above = spans[j].start_ms - before_end;
                if (static_cast<uint64_t>(above - 1) < reach) {
                    const uint32_t rise = static_cast<uint32_t>(above);
                    const uint32_t fall = rise + length, end = rise + lengths[j];
                    if (end + length <= reach) {
                        put(cells, rise, 1);
                        put(cells, fall, -1);
                        put(cells, end, -1);
                        put(cells, end + length, 1);
                        continue;
                    }
                }
                change(above, 1);
                change(spans[j].start_ms - before_start, -1);
                change(spans[j].end_ms - before_end, -1);
                change(spans[j].end_ms - before_start, 1);
            }
        }
        weight_first_ = weight_first;
        moment_first_ = moment_first;
    }

    // Adds another grid's changes (both of the whole range): the grid of both sets of
    // cues.
    void add(const OffsetGrid& other) {
        for (int32_t k = 0; k < kGridPoints; ++k) {
            cells_[k].weight += other.cells_[k].weight;
            cells_[k].below_point += other.cells_[k].below_point;
        }
        weight_first_ += other.weight_first_;
        moment_first_ += other.moment_first_;
    }

  private:
    static constexpr uint32_t kStep = kGridMs;

    // The changes since the point before this one: their weights, and their weights
    // times their distances below this point.
    struct Cell {
        int32_t weight = 0;
        int32_t below_point = 0;
    };

    // A change of weight w above the first point.
    static void put(Cell* cells, uint32_t above, int32_t w) {
        const uint32_t k = (above + kStep - 1) / kStep;
        cells[k].weight += w;
        cells[k].below_point += w * static_cast<int32_t>(k * kStep - above);
    }

    // Cells first_ + 1 to last_ hold changes; those at or below the first point are
    // summed apart.
    std::vector<Cell> cells_;
    int32_t weight_first_ = 0;
    int64_t moment_first_ = 0;
    int32_t first_ = 0, last_ = kGridPoints - 1;

    friend class GridScores;
};

// The scores of a grid's offsets, from its changes (or two grids' of the whole
// range, summed), with the best of them and their total.
class GridScores {
  public:
    GridScores() : scores_(kGridPoints) {}

    void tally(const OffsetGrid& grid) { tally(grid, nullptr); }
    void tally(const OffsetGrid& a, const OffsetGrid& b) { tally(a, &b); }

    // The best offset of the range and its score; ties go to the offset nearest zero.
    void best(int64_t& offset, int64_t& score) const {
        offset = point(best_);
        score = scores_[best_];
    }

    // The best offset, its score, the mean score over the grid and the best score at
    // least kApartMs away from the best offset.
    void best(int64_t& offset, int64_t& score, int64_t& mean, int64_t& rival) const {
        best(offset, score);
        around(offset, mean, rival);
    }

    // The mean score over the grid and the best score at least kApartMs from offset.
    void around(int64_t offset, int64_t& mean, int64_t& rival) const {
        rival = 0;
        // The points within kApartMs of offset are those strictly between these.
        const int64_t near_low = floor_div(offset - kApartMs + kMaxOffsetMs, kGridMs);
        const int64_t near_high =
            floor_div(offset + kApartMs + kMaxOffsetMs + kGridMs - 1, kGridMs);
        int32_t most = 0;
        for (int64_t k = first_; k <= std::min<int64_t>(last_, near_low); ++k)
            most = std::max(most, scores_[k]);
        for (int64_t k = std::max<int64_t>(first_, near_high); k <= last_; ++k)
            most = std::max(most, scores_[k]);
        rival = most;
        mean = total_ / kGridPoints;
    }

  private:
    void tally(const OffsetGrid& a, const OffsetGrid* b) {
        first_ = a.first_;
        last_ = a.last_;
        if (b != nullptr) {
            tally_cells<true>(a, *b);
        } else {
            tally_cells<false>(a, a);
        }
    }

    // One pass, its sums in registers: the scores, the best and the total. A score is
    // at most the cues' total time (kMostCueMs), so it fits 32 bits.
    template <bool two>
    void tally_cells(const OffsetGrid& a, const OffsetGrid& b) {
        const OffsetGrid::Cell* cells = a.cells_.data();
        const OffsetGrid::Cell* more = b.cells_.data();
        int32_t* scores = scores_.data();
        int32_t score =
            static_cast<int32_t>(a.moment_first_ + (two ? b.moment_first_ : int64_t{0}));
        int32_t weight = a.weight_first_ + (two ? b.weight_first_ : 0);
        scores[first_] = score;
        int32_t best = first_, best_score = score;
        int64_t total = score;
        // Ties go to the offset nearest zero: the point zero is.
        constexpr int32_t kZero = kMaxOffsetMs / kGridMs;
        for (int32_t k = first_ + 1; k <= last_; ++k) {
            int32_t below_point = cells[k].below_point, change = cells[k].weight;
            if (two) {
                below_point += more[k].below_point;
                change += more[k].weight;
            }
            score += static_cast<int32_t>(kGridMs) * weight + below_point;
            weight += change;
            scores[k] = score;
            total += score;
            if (score > best_score) {
                best_score = score;
                best = k;
            } else if (score == best_score && std::abs(k - kZero) < std::abs(best - kZero)) {
                best = k;
            }
        }
        best_ = best;
        total_ = total;
    }

    std::vector<int32_t> scores_;
    int32_t first_ = 0, last_ = kGridPoints - 1;
    int32_t best_ = 0;
    int64_t total_ = 0;
};

// The score at every offset from `from` to `to` (a few grid steps at most), to the ms,
// in the same way: only the pairs that overlap somewhere between are visited.
void fine_scores(Spans cues, const Coverage& ref, int64_t from, int64_t to,
                 std::span<int64_t> scores) {
    const size_t n = static_cast<size_t>(to - from + 1);
    std::array<int32_t, 2 * kGridMs + 2> weight{};
    int32_t weight_first = 0;
    int64_t moment_first = 0;
    auto add = [&](int64_t above_first, int32_t w) {
        if (above_first <= 0) {
            weight_first += w;
            moment_first += w > 0 ? -above_first : above_first;
        } else if (above_first < static_cast<int64_t>(n)) {
            weight[static_cast<size_t>(above_first)] += w;
        }
    };
    const std::vector<TimeSpan>& spans = ref.spans();
    for (const TimeSpan& c : cues) {
        const size_t lo = ref.first_ending_after(c.start_ms + from);
        const size_t hi = ref.first_starting_from(c.end_ms + to);
        const int64_t before_end = c.end_ms + from, before_start = c.start_ms + from;
        for (size_t j = lo; j < hi; ++j) {
            add(spans[j].start_ms - before_end, 1);
            add(spans[j].start_ms - before_start, -1);
            add(spans[j].end_ms - before_end, -1);
            add(spans[j].end_ms - before_start, 1);
        }
    }
    int64_t score = moment_first;
    int32_t w = weight_first;
    scores[0] = score;
    for (size_t i = 1; i < n; ++i) {
        score += w;
        w += weight[i];
        scores[i] = score;
    }
}

// The offset within a grid step of around whose score is highest, to the ms; the
// middle of a plateau of equal scores.
int64_t refine(Spans cues, const Coverage& ref, int64_t around, int64_t& score) {
    const int64_t lo = std::max(-kMaxOffsetMs, around - kGridMs);
    const int64_t hi = std::min(kMaxOffsetMs, around + kGridMs);
    std::array<int64_t, 2 * kGridMs + 1> scores{};
    fine_scores(cues, ref, lo, hi, scores);
    auto search = [&](int64_t from, int64_t to, int64_t step, int64_t& best_score) {
        int64_t first = from, last = from;
        best_score = -1;
        for (int64_t d = from; d <= to; d += step) {
            const int64_t s = scores[static_cast<size_t>(d - lo)];
            if (s > best_score) {
                best_score = s;
                first = last = d;
            } else if (s == best_score && last == d - step) {
                last = d;
            }
        }
        return (first + last) / 2;
    };
    int64_t coarse = search(lo, hi, 5, score);
    return search(std::max(lo, coarse - 5), std::min(hi, coarse + 5), 1, score);
}

// How far a score stands out above the best elsewhere, relative to how far it stands
// above the mean, in thousandths: near 0 for a peak of noise among others.
int stand_out(int64_t score, int64_t mean, int64_t rival) {
    const int64_t above_mean = score - mean;
    return above_mean <= 0 ? 0
                           : static_cast<int>(
                                 std::clamp<int64_t>((score - rival) * 1000 / above_mean, 0, 1000));
}

struct Found {
    int64_t offset = 0;
    int64_t score = -1;
    int64_t mean = 0;
    int64_t rival = 0;
    int prominence() const { return stand_out(score, mean, rival); }
};

// A stretch of cues judged at the offset it was given: how far that offset stands out
// on the stretch's own evidence, and the stretch's own best offset (unrefined).
struct Judged {
    int support = 0;
    Found own;
};

// Judges cues at offset by the scores of their grid.
Judged judge(Spans cues, const Coverage& ref, const GridScores& scores, int64_t offset) {
    Judged j;
    scores.best(j.own.offset, j.own.score, j.own.mean, j.own.rival);
    int64_t mean = 0, rival = 0;
    scores.around(offset, mean, rival);
    j.support = stand_out(score_at(cues, ref, offset), mean, rival);
    return j;
}

// What a stretch between splits was found to be: its offset refined from the
// candidate, its score there, and its judgement as a whole and block by block.
struct RunCheck {
    size_t first = 0, end = 0;
    int64_t candidate = 0;
    int64_t offset = 0, score = 0;
    Judged whole;
    std::vector<Judged> blocks;  // none when the run is one block
};

// What the alignment works with: grids of several sets of cues, to be summed, and
// the scores of one.
struct Grids {
    OffsetGrid part, other, all;
    GridScores scores;
};

// Checks the run of cues [first, end) at the candidate offset. The whole run's grid is
// the sum of its blocks' grids: its cues' pairs are visited once.
RunCheck check_run(Spans placed, size_t first, size_t end, int64_t candidate, const Coverage& ref,
                   Grids& grids) {
    RunCheck check;
    check.first = first;
    check.end = end;
    check.candidate = candidate;
    const Spans run = placed.subspan(first, end - first);
    check.offset = refine(run, ref, candidate, check.score);
    const size_t blocks = (run.size() + kCheckCues - 1) / kCheckCues;
    if (blocks <= 1) {
        grids.part.collect(run, ref);
        grids.scores.tally(grids.part);
        check.whole = judge(run, ref, grids.scores, check.offset);
        return check;
    }
    for (size_t b = 0; b < blocks; ++b) {
        const size_t from = run.size() * b / blocks, to = run.size() * (b + 1) / blocks;
        const Spans block = run.subspan(from, to - from);
        OffsetGrid& grid = b == 0 ? grids.all : grids.part;
        grid.collect(block, ref);
        grids.scores.tally(grid);
        check.blocks.push_back(judge(block, ref, grids.scores, check.offset));
        if (b > 0) grids.all.add(grids.part);
    }
    grids.scores.tally(grids.all);
    check.whole = judge(run, ref, grids.scores, check.offset);
    return check;
}

// The candidates for splits, as (score, offset): the best offsets of windows of
// kWindowCues cues that stand out. A window is two halves, each shared with the next
// or the one before, and its grid is their sum. False when stopped.
template <typename Stop>
bool window_offsets(Spans cues, const Coverage& ref, Grids& grids,
                    std::vector<std::pair<int64_t, int64_t>>& found, const Stop& stopped) {
    constexpr size_t kHalf = kWindowCues / 2;
    auto half = [&](size_t first) {
        return cues.subspan(first, std::min(kHalf, cues.size() - first));
    };
    grids.part.collect(half(0), ref);
    for (size_t first = 0; first < cues.size(); first += kHalf) {
        if (stopped()) return false;
        const size_t count = std::min(kWindowCues, cues.size() - first);
        grids.other.collect(half(first + kHalf), ref);
        grids.scores.tally(grids.part, grids.other);
        std::swap(grids.part, grids.other);
        Found f;
        grids.scores.best(f.offset, f.score, f.mean, f.rival);
        f.offset = refine(cues.subspan(first, count), ref, f.offset, f.score);
        if (f.prominence() >= kCandidatePermille) found.emplace_back(f.score, f.offset);
        if (first + count == cues.size()) break;
    }
    return true;
}

// Thousandths a ratio must cover more than none: half of what its drift across the
// cues costs without it. The best single offset meets the drift in the middle, so a
// cue is off by a quarter of it on average, and loses that much of a median cue.
int64_t required_gain_permille(Spans cues, int64_t median, const Ratio& ratio) {
    const int64_t span = cues.back().end_ms - cues.front().start_ms;
    const int64_t drift =
        span * std::llabs(ratio.numerator - ratio.denominator) / ratio.denominator;
    return std::clamp(drift * 1000 / (8 * std::max<int64_t>(median, 1)), kLeastRatioGainPermille,
                      kMostRatioGainPermille);
}

// The reference's own jitter around the cues at offset: the median distance of a
// cue's start from the nearest start in the reference, among cues that have one near.
int64_t reference_jitter(Spans cues, const Coverage& ref, int64_t offset) {
    const std::vector<TimeSpan>& spans = ref.spans();
    std::vector<int64_t> distances;
    distances.reserve(cues.size());
    for (const TimeSpan& c : cues) {
        const int64_t t = c.start_ms + offset;
        const size_t i = ref.first_starting_from(t);
        int64_t nearest = kJitterReachMs + 1;
        if (i < spans.size()) nearest = spans[i].start_ms - t;
        if (i > 0) nearest = std::min(nearest, t - spans[i - 1].start_ms);
        if (nearest <= kJitterReachMs) distances.push_back(nearest);
    }
    if (distances.empty()) return 0;
    std::nth_element(distances.begin(), distances.begin() + distances.size() / 2, distances.end());
    return distances[distances.size() / 2];
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

Alignment align_spans(std::span<const TimeSpan> cue_input, std::span<const TimeSpan> reference,
                      const AlignStop& stop) {
    Alignment result;
    // Asked between steps; a stopped alignment gives nothing but that.
    auto stopped = [&] {
        if (!stop || !stop()) return false;
        result = Alignment{};
        result.stopped = true;
        return true;
    };
    std::vector<TimeSpan> cues;
    for (const TimeSpan& c : cue_input)
        if (c.end_ms > c.start_ms) cues.push_back(c);
    std::sort(cues.begin(), cues.end(),
              [](const TimeSpan& a, const TimeSpan& b) { return a.start_ms < b.start_ms; });
    if (cues.empty() || cues.size() > kMaxCues) return result;
    int64_t cue_total = 0;
    for (const TimeSpan& c : cues)
        cue_total = std::min(cue_total + c.end_ms - c.start_ms, kMostCueMs);
    if (cue_total >= kMostCueMs) return result;

    // Close the reference's smallest gaps until a grid pass stays within its budget.
    Coverage ref(std::vector<TimeSpan>(reference.begin(), reference.end()), 0);
    for (int64_t gap = 100; !ref.empty() && pair_count(cues, ref) > kMaxPairs; gap *= 2)
        ref = Coverage(ref.spans(), gap);
    if (ref.empty()) return result;

    Grids grids;
    if (stopped()) return result;
    grids.all.collect(cues, ref);
    grids.scores.tally(grids.all);
    Found single;
    grids.scores.best(single.offset, single.score);
    single.offset = refine(cues, ref, single.offset, single.score);
    result.single_offset_ms = single.offset;
    result.single_matched_ms = single.score;

    // A ratio only when it is clearly better than none.
    const int64_t median = median_duration(cues);
    Placement placement{1, 1, single.offset};
    int64_t placed_score = single.score;
    for (size_t r = 0; r < kRatios.size(); ++r) {
        const Ratio& ratio = kRatios[r];
        bool seen = false;
        for (size_t q = 0; q < r; ++q)
            seen = seen || (kRatios[q].numerator == ratio.numerator &&
                            kRatios[q].denominator == ratio.denominator);
        if (seen) continue;
        if (stopped()) return result;
        std::vector<TimeSpan> scaled = scaled_spans(cues, ratio.numerator, ratio.denominator);
        if (pair_count(scaled, ref) > kMaxPairs) continue;
        // The single offset places some stretch of the cues; the ratio moves a cue by
        // its scaled time less its own, so that stretch's placement under the ratio
        // lies within the moves of the first and the last cue from it.
        const int64_t move_first = scaled.front().start_ms - cues.front().start_ms;
        const int64_t move_last = scaled.back().start_ms - cues.back().start_ms;
        const int64_t from = single.offset - std::max(move_first, move_last) - kRatioSlackMs;
        const int64_t to = single.offset - std::min(move_first, move_last) + kRatioSlackMs;
        if (from > kMaxOffsetMs || to < -kMaxOffsetMs) continue;
        Found f;
        grids.part.collect(scaled, ref, from, to);
        grids.scores.tally(grids.part);
        grids.scores.best(f.offset, f.score);
        f.offset = refine(scaled, ref, f.offset, f.score);
        const int64_t gain = required_gain_permille(cues, median, ratio);
        if (f.score * 1000 > single.score * (1000 + gain) && f.score > placed_score) {
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
    if (placed.size() > kWindowCues && !window_offsets(placed, ref, grids, found, stopped))
        return result;
    found.emplace_back(std::numeric_limits<int64_t>::max(), placement.offset);
    std::sort(found.begin(), found.end(), std::greater<>());
    std::vector<int64_t> candidates;
    auto add_candidate = [&](int64_t offset) {
        for (int64_t c : candidates)
            if (std::llabs(c - offset) < kSameOffsetMs) return false;
        if (candidates.size() >= kMaxCandidates) return false;
        candidates.push_back(offset);
        return true;
    };
    for (const auto& [score, offset] : found) add_candidate(offset);

    // Every stretch between splits must be supported on its own, and so must each
    // block of it: a block whose own best offset stands out elsewhere is a split the
    // windows missed, so the splits are looked for again with it. A round mostly
    // finds the runs of the one before again: those are not checked twice.
    const int64_t penalty = kSplitPenaltyCues * median;
    std::vector<RunCheck> checked, checked_before;
    for (int round = 1;; ++round) {
        std::vector<std::pair<size_t, size_t>> runs = split_runs(placed, ref, candidates, penalty);
        result.segments.clear();
        result.unsupported.clear();
        result.matched_ms = 0;
        result.confidence_permille = 1000;
        bool more = false;
        size_t unsupported_end = 0;  // the cue after the last unsupported stretch
        auto unsupported = [&](size_t first, size_t end) {
            if (!result.unsupported.empty() && unsupported_end == first) {
                result.unsupported.back().end_ms = cues[end - 1].end_ms;
            } else {
                result.unsupported.push_back({cues[first].start_ms, cues[end - 1].end_ms});
            }
            unsupported_end = end;
        };
        checked_before.swap(checked);
        checked.clear();
        for (size_t r = 0; r < runs.size(); ++r) {
            if (stopped()) return result;
            const size_t first = runs[r].first;
            const size_t end = r + 1 < runs.size() ? runs[r + 1].first : placed.size();
            const int64_t candidate = candidates[runs[r].second];
            const auto seen =
                std::find_if(checked_before.begin(), checked_before.end(), [&](const RunCheck& c) {
                    return c.first == first && c.end == end && c.candidate == candidate;
                });
            checked.push_back(seen != checked_before.end()
                                  ? std::move(*seen)
                                  : check_run(placed, first, end, candidate, ref, grids));
            const RunCheck& check = checked.back();
            const Judged& whole = check.whole;
            result.segments.push_back({cues[first].start_ms, check.offset, whole.support});
            result.matched_ms += check.score;
            result.confidence_permille = std::min(result.confidence_permille, whole.support);
            if (whole.support < kReliablePermille) unsupported(first, end);
            const size_t size = end - first;
            for (size_t b = 0; b < check.blocks.size(); ++b) {
                const Judged& block = check.blocks[b];
                const size_t from = size * b / check.blocks.size();
                const size_t to = size * (b + 1) / check.blocks.size();
                if (block.support >= kBlockPermille) continue;
                if (whole.support >= kReliablePermille) unsupported(first + from, first + to);
                if (block.own.prominence() >= kCandidatePermille)
                    more = add_candidate(block.own.offset) || more;
            }
            if (whole.support < kReliablePermille && whole.own.prominence() >= kCandidatePermille)
                more = add_candidate(whole.own.offset) || more;
        }
        if (!more || round == kSplitRounds) break;
    }
    result.reliable = result.unsupported.empty() && !result.segments.empty();

    // Already in sync: no ratio, no split, and no more than the reference's own
    // jitter to move: the times stay exactly as they were.
    if (result.reliable && result.segments.size() == 1 && placement.numerator == 1 &&
        placement.denominator == 1) {
        const int64_t offset = result.segments.front().offset_ms;
        const int64_t jitter = std::min(kMostInSyncMs, reference_jitter(cues, ref, offset));
        if (std::llabs(offset) <= jitter) {
            result.segments.front().offset_ms = 0;
            result.matched_ms = score_at(cues, ref, 0);
            result.in_sync = true;
        }
    }
    return result;
}

std::vector<TimeSpan> start_marks(std::span<const TimeSpan> spans) {
    std::vector<TimeSpan> marks;
    marks.reserve(spans.size());
    for (const TimeSpan& s : spans) marks.push_back({s.start_ms, s.start_ms + kStartMarkMs});
    return marks;
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
    for (size_t i = 0; i < alignment.segments.size(); ++i) {
        text += i == 0 ? ", confidence " : " / ";
        text += std::to_string(alignment.segments[i].confidence_permille / 10) + " %";
    }
    if (alignment.in_sync) text += ", already in sync";
    return text;
}

std::string refusal_text(const Alignment& alignment) {
    bool any_supported = false;
    for (const AlignSegment& s : alignment.segments)
        any_supported = any_supported || s.confidence_permille >= kReliablePermille;
    if (!any_supported || alignment.unsupported.empty()) return kNoReliableMatch;
    auto clock = [](int64_t ms) {
        char text[24];
        ms = std::max<int64_t>(ms, 0) / 1000;
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(ms / 3600),
                      static_cast<long long>(ms / 60 % 60), static_cast<long long>(ms % 60));
        return std::string(text);
    };
    std::string text = "no reliable match for ";
    for (size_t i = 0; i < alignment.unsupported.size(); ++i) {
        if (i == kNamedStretches) {
            text += ", ...";
            break;
        }
        text += (i == 0 ? "" : ", ") + clock(alignment.unsupported[i].start_ms) + "-" +
                clock(alignment.unsupported[i].end_ms);
    }
    return text + ": left as it was";
}

}  // namespace conv
