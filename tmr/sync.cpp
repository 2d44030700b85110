// The viewer's syncs, the rate they give, and the correction of the file playing.
#include "tmr/sync.h"

#include <time.h>

#include <cstdio>
#include <numeric>

#include "hw/device.h"
#include "tmr/clock.h"
#include "tmr/film.h"

namespace {

// |r - 1| below this many thousandths is no drift.
constexpr int64_t kNoDriftPerMille = 3;
// A measured rate further than a tenth from 1 is no drift two syncs can tell.
constexpr int64_t kMaxDriftDivisor = 10;
// A measured rate's denominator is brought below this: 2^24 ms is over 4 h, so the
// rate keeps a precision of 1 ms over the longest film.
constexpr uint64_t kMeasuredTerm = uint64_t{1} << 24;

// What the main thread knows of the syncs of the file playing.
struct sync_state {
    bool have_first = false;
    sync_point first;  // the earliest usable sync: the baseline grows from it
    bool have_last = false;
    sync_point last;             // the sync recorded last
    bool stopped_by_ok = false;  // OK stopped the clock, and it has not started since
    uint32_t stopped_at = 0;     // the clock's time then
    bool have_film_ref = false;
    uint64_t film_ref = 0;  // the decoder's time stamp that film times count from
    time_map applied;       // the correction of the file's own times
    bool declined = false;  // a rate the viewer refused, not proposed again
    uint32_t declined_num = 0;
    uint32_t declined_den = 0;
};
sync_state state;

int64_t magnitude(int64_t v);
int64_t divide_rounded(int64_t x, int64_t y);
bool film_now(int64_t& ms);
void rate_label(uint32_t num, uint32_t den, char* out, size_t size);

}  // namespace

const standard_rate kStandardRates[kStandardRateCount] = {
    {2997, 3125, "23,976 \x08 25"}, {3125, 2997, "25 \x08 23,976"}, {24, 25, "24 \x08 25"},
    {25, 24, "25 \x08 24"},         {2997, 2500, "29,97 \x08 25"},  {2500, 2997, "25 \x08 29,97"},
    {1000, 999, "24 \x08 23,976"},  {999, 1000, "23,976 \x08 24"},  {1001, 1000, "1001 \x08 1000"},
    {1000, 1001, "1000 \x08 1001"},
};

rate_estimate tmr_sync_estimate(const sync_point& a, const sync_point& b) {
    rate_estimate e;
    if (b.subtitle_ms <= a.subtitle_ms || b.subtitle_ms - a.subtitle_ms < kMinBaseline) return e;
    const int64_t dt = int64_t{b.subtitle_ms} - a.subtitle_ms;
    const int64_t df = b.film_ms - a.film_ms;
    if (df <= 0) {
        e.kind = rate_kind::beyond;
        return e;
    }
    // Two syncs of +-kSyncAccuracy each tell rates apart by 2 * kSyncAccuracy / dt:
    // |df / dt - n / d| <= 2 * kSyncAccuracy / dt  <=>  |df * d - n * dt| <= 2 * kSyncAccuracy * d.
    const int64_t margin = 2 * int64_t{kSyncAccuracy};
    const int64_t off = magnitude(df - dt);
    // No correction (ratio 1) explains the syncs as well: what a standard ratio close
    // to 1 would propose waits for a baseline long enough to tell them apart.
    const bool none_explains = off <= margin;
    int best = -1;
    int64_t best_error = 0;
    for (size_t i = 0; i < kStandardRateCount; ++i) {
        const standard_rate& s = kStandardRates[i];
        const int64_t error = magnitude(df * s.den - int64_t{s.num} * dt);
        if (error > margin * s.den) continue;
        // Nearest by error / den, compared without division.
        if (best < 0 || error * kStandardRates[best].den < best_error * s.den) {
            best = static_cast<int>(i);
            best_error = error;
        }
    }
    if (best >= 0 && !none_explains) {
        e.kind = rate_kind::standard;
        e.standard = best;
        e.num = kStandardRates[best].num;
        e.den = kStandardRates[best].den;
        return e;
    }
    if (none_explains || off * 1000 < kNoDriftPerMille * dt) {
        e.kind = rate_kind::no_drift;
        return e;
    }
    if (off * kMaxDriftDivisor > dt) {
        e.kind = rate_kind::beyond;
        return e;
    }
    uint64_t num = static_cast<uint64_t>(df);
    uint64_t den = static_cast<uint64_t>(dt);
    tmr_sync_reduce(num, den);
    while (den > kMeasuredTerm) {
        num = (num + 1) >> 1;
        den = (den + 1) >> 1;
    }
    e.kind = rate_kind::measured;
    e.num = static_cast<uint32_t>(num);
    e.den = static_cast<uint32_t>(den);
    return e;
}

void tmr_sync_reduce(uint64_t& num, uint64_t& den) {
    if (den == 0) {
        num = den = 1;
        return;
    }
    const uint64_t g = std::gcd(num, den);
    if (g > 1) {
        num /= g;
        den /= g;
    }
    while (num > kMaxTerm || den > kMaxTerm) {
        num = (num + 1) >> 1;
        den = (den + 1) >> 1;
    }
    if (den == 0) den = 1;
}

time_map tmr_sync_compose(const time_map& applied, uint32_t pivot, uint32_t num, uint32_t den) {
    if (num == 0 || den == 0) return applied;
    uint64_t n = uint64_t{applied.num} * num;
    uint64_t d = uint64_t{applied.den} * den;
    tmr_sync_reduce(n, d);
    // t' = pivot + (own * N / D + s - pivot) * num / den
    //    = own * (N * num) / (D * den) + (s * num + pivot * (den - num)) / den.
    const int64_t shift =
        divide_rounded(applied.shift_ms * num + int64_t{pivot} * (int64_t{den} - num), den);
    return {shift, static_cast<uint32_t>(n), static_cast<uint32_t>(d)};
}

void tmr_sync_question(const rate_estimate& rate, char* out, size_t size) {
    char label[40];
    rate_label(rate.num, rate.den, label, sizeof label);
    std::snprintf(out, size, "Ondertitels lopen uit: %s toepassen?", label);
}

void tmr_sync_restored_text(const time_map& map, uint32_t own_ms, char* out, size_t size) {
    // What the viewer sees of the correction is how far it moves the lines about
    // the current position; the map's own shift is its value at 0, far from there
    // when it has a rate.
    const int64_t moved = int64_t{sub_map_time(own_ms, map)} - own_ms;
    const bool rate = map.num != map.den;
    char shift[32] = "";
    if (divide_rounded(magnitude(moved), 100) != 0 || !rate) {
        tmr_sync_seconds_text(moved, shift, sizeof shift);
    }
    char label[40] = "";
    if (rate) rate_label(map.num, map.den, label, sizeof label);
    std::snprintf(out, size, "Synchronisatie hersteld: %s%s%s", shift,
                  shift[0] != '\0' && rate ? ", " : "", label);
}

void tmr_sync_seconds_text(int64_t ms, char* out, size_t size) {
    const int64_t tenths = divide_rounded(magnitude(ms), 100);
    std::snprintf(out, size, "%c%lld,%lld s", ms < 0 ? '-' : '+',
                  static_cast<long long>(tenths / 10), static_cast<long long>(tenths % 10));
}

rate_estimate tmr_sync_started(uint32_t started_from_ms) {
    rate_estimate none;
    none.kind = rate_kind::no_drift;
    if (clock_running == 0) return none;
    // Not clock_ms: the subtitle thread may have moved it on since the start.
    const uint32_t t = started_from_ms;
    const bool plain_pause = state.stopped_by_ok && t == state.stopped_at;
    state.stopped_by_ok = false;
    int64_t f = 0;
    if (!tmr_film_present()) {
        // Without a decoder the film's time is the monotonic clock's, which ran on
        // while the film was paused with the subtitles: the syncs before say nothing.
        if (plain_pause) {
            state.have_first = state.have_last = false;
            return none;
        }
        timespec ts{};
        hw_clock_gettime_mono(&ts);
        f = int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
    } else if (!film_now(f)) {
        return none;
    }
    return tmr_sync_record({t, f});
}

rate_estimate tmr_sync_record(const sync_point& point) {
    rate_estimate none;
    none.kind = rate_kind::no_drift;
    state.last = point;
    state.have_last = true;
    if (!state.have_first) {
        state.first = point;
        state.have_first = true;
        return none;
    }
    rate_estimate e = tmr_sync_estimate(state.first, point);
    if (e.kind == rate_kind::beyond) {
        // The film or the clock was moved between them: start again from this one.
        state.first = point;
        return none;
    }
    if (e.kind != rate_kind::standard && e.kind != rate_kind::measured) return none;
    if (state.declined && state.declined_num == e.num && state.declined_den == e.den) return none;
    return e;
}

void tmr_sync_stopped() {
    state.stopped_by_ok = true;
    state.stopped_at = clock_ms;
}

void tmr_sync_apply(const rate_estimate& rate) {
    if (!state.have_last) return;
    const uint32_t pivot = state.last.subtitle_ms;
    state.applied = tmr_sync_compose(state.applied, pivot, rate.num, rate.den);
    tmr_apply_map(state.applied);
    // The baseline moves with the subtitles, so that a later sync measures what is left.
    const time_map about_pivot = tmr_sync_compose({}, pivot, rate.num, rate.den);
    state.first.subtitle_ms = sub_map_time(state.first.subtitle_ms, about_pivot);
    state.declined = false;
}

void tmr_sync_decline(const rate_estimate& rate) {
    state.declined = true;
    state.declined_num = rate.num;
    state.declined_den = rate.den;
}

void tmr_sync_reset(const time_map& applied) {
    state = sync_state{};
    state.applied = applied;
}

time_map tmr_sync_applied() {
    return state.applied;
}

void tmr_sync_rescaled(uint32_t pivot, uint32_t num, uint32_t den) {
    const time_map applied = tmr_sync_compose(state.applied, pivot, num, den);
    tmr_sync_reset(applied);
}

namespace {

int64_t magnitude(int64_t v) {
    return v < 0 ? -v : v;
}

// x / y rounded to the nearest, halves away from zero; y > 0.
int64_t divide_rounded(int64_t x, int64_t y) {
    return x >= 0 ? (x + y / 2) / y : -((-x + y / 2) / y);
}

// The film's time now by the decoder, counted from the time stamp of the first sync
// read from it (the short way round the 33-bit range).
bool film_now(int64_t& ms) {
    uint64_t pts = 0;
    if (!tmr_film_pts(pts)) return false;
    if (!state.have_film_ref) {
        state.film_ref = pts;
        state.have_film_ref = true;
    }
    ms = tmr_film_ms(state.film_ref, pts);
    return true;
}

// "23,976 \x08 25" for a standard rate, else the factor with four decimals.
void rate_label(uint32_t num, uint32_t den, char* out, size_t size) {
    for (const standard_rate& s : kStandardRates) {
        if (uint64_t{s.num} * den == uint64_t{num} * s.den) {
            std::snprintf(out, size, "%s", s.label);
            return;
        }
    }
    const int64_t factor = divide_rounded(int64_t{num} * 10000, den == 0 ? 1 : den);
    std::snprintf(out, size, "factor %lld,%04lld", static_cast<long long>(factor / 10000),
                  static_cast<long long>(factor % 10000));
}

}  // namespace
