// Sync that learns: the viewer's syncs (the clock started by OK at a line as it is
// spoken) give the film's rate against the subtitles' once two of them lie far
// enough apart, and the correction is one map of the file's own times (sub/retime.h).
//
// Everything here runs on the main thread. The estimate and the fraction arithmetic
// are integer only: the box has no FPU.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sub/retime.h"

// One sync: the subtitle time on the clock's scale and the film's time then, in ms.
// The film's time is the decoder's while the clock follows the film, else the
// monotonic clock's; only differences of two syncs are used.
struct sync_point {
    uint32_t subtitle_ms = 0;
    int64_t film_ms = 0;
};

// What two syncs say about the rate r = film time / subtitle time.
enum class rate_kind {
    too_close,  // less than kMinBaseline of subtitle time apart (or backwards)
    no_drift,   // r is 1 within the rule's margin: nothing to propose
    standard,   // r is one of kStandardRates within what two syncs can tell apart
    measured,   // r as measured, within 10 % of 1
    beyond,     // no standard ratio and more than 10 % off: the syncs cannot both be right
};
struct rate_estimate {
    rate_kind kind = rate_kind::too_close;
    uint32_t num = 1;  // r = num / den (standard or measured), at most kMaxTerm
    uint32_t den = 1;
    int standard = -1;  // index into kStandardRates, or -1
};

// A standard ratio of frame rates and its label on screen (0x08: the right-arrow
// picture of the symbol font; Dutch decimal commas).
struct standard_rate {
    uint32_t num;
    uint32_t den;
    const char* label;
};
inline constexpr size_t kStandardRateCount = 10;
extern const standard_rate kStandardRates[kStandardRateCount];

// The shortest baseline in ms of subtitle time, and the accuracy of one sync in ms.
inline constexpr uint32_t kMinBaseline = 120000;
inline constexpr uint32_t kSyncAccuracy = 300;

// The rate two syncs give. A standard ratio that explains them is proposed unless no
// correction explains them as well; otherwise a measured rate, unless within 0.3 % of 1.
rate_estimate tmr_sync_estimate(const sync_point& a, const sync_point& b);
// The map after a further correction by num / den about the subtitle time `pivot`:
// every time t becomes pivot + (t - pivot) * num / den.
time_map tmr_sync_compose(const time_map& applied, uint32_t pivot, uint32_t num, uint32_t den);
// A fraction reduced and, where it needs it, brought within kMaxTerm.
void tmr_sync_reduce(uint64_t& num, uint64_t& den);

// The question that proposes a rate, and the status text of a restored correction,
// each written into out (NUL-terminated, cut to size). The restored text gives what
// the map moves the file's own time own_ms by (the line at the current position),
// and its rate, or the rate alone where that line stays within 0.05 s.
void tmr_sync_question(const rate_estimate& rate, char* out, size_t size);
void tmr_sync_restored_text(const time_map& map, uint32_t own_ms, char* out, size_t size);
// A signed time as the status line says it, in seconds with one decimal: "+1,2 s".
void tmr_sync_seconds_text(int64_t ms, char* out, size_t size);

// The state of the file playing. The main loop reports every start and stop of the
// clock by OK; tmr_sync_started returns what to propose (kind standard or measured)
// or kind no_drift when nothing is proposed. started_from_ms is the clock's time when
// OK started it, read before it ran on: the sync's subtitle time, and equal to the time
// it stopped at when the viewer only paused.
rate_estimate tmr_sync_started(uint32_t started_from_ms);
void tmr_sync_stopped();
// Records one sync, as tmr_sync_started does once it has read the clock and the film's
// time, and returns what it gives.
rate_estimate tmr_sync_record(const sync_point& point);
// Applies a proposal about the sync just recorded; the earlier syncs move with it.
void tmr_sync_apply(const rate_estimate& rate);
// The viewer said no: the same rate is not proposed again for this file.
void tmr_sync_decline(const rate_estimate& rate);
// A new file, or its times changed by other means: the syncs are forgotten and the
// file's correction becomes `applied` (the identity for a file on its own times).
void tmr_sync_reset(const time_map& applied);
// The correction applied to the file playing, against its own times.
time_map tmr_sync_applied();
// The FPS menu's rescale by num / den about `pivot`, kept in the correction.
void tmr_sync_rescaled(uint32_t pivot, uint32_t num, uint32_t den);
