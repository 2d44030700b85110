// The box's video decoder as the subtitle clock's reference: the time stamp of the
// frame being shown and whether the film plays.
//
// The main thread opens the decoder at start-up (before the subtitle thread starts)
// and closes it at shut-down (after the thread has ended); in between the subtitle
// thread reads it. Every call returns at once: the descriptor is non-blocking and
// the two requests only copy the decoder's state.
#pragma once

#include <cstdint>

// One reading of the decoder.
struct film_reading {
    bool ok = false;       // the time stamp was read
    uint64_t pts = 0;      // 33-bit presentation time stamp, 90 kHz
    bool playing = false;  // the decoder plays (not frozen or stopped)
};

// Ticks of the time stamp per millisecond, and its range.
inline constexpr uint64_t kPtsPerMs = 90;
inline constexpr uint64_t kPtsWrap = uint64_t{1} << 33;

// Opens the decoder read-only and non-blocking; true when it is there and answers
// a time-stamp request. Otherwise the clock stays manual. Main thread, at start-up.
bool tmr_film_open();
// Closes the decoder; the clock is manual from then on. Main thread, at shut-down.
void tmr_film_close();
// Whether a decoder was found.
bool tmr_film_present();
// Reads the time stamp and the play state. The time stamp alone tells a pause (it
// stands), so the decoder's state is asked at most once a second and never again
// once that request fails; in between, its last answer counts while the stamp has
// not moved since. A decoder that cannot tell its state is taken as playing. Called
// by one thread at a time: the main thread at opening, then the subtitle thread.
film_reading tmr_film_read();
// Reads the time stamp only (any thread); false when the decoder does not answer.
bool tmr_film_pts(uint64_t& pts);

// What a difference between the film's time and the clock's is.
enum class film_gap {
    none,   // frame steps and reading delays: left alone
    drift,  // corrected quietly
    jump,   // the film jumped: the index is found anew
};
// Classifies a difference in ms: a jump from a second on either way (no player seeks
// by less), a drift above 100 ms.
film_gap tmr_film_gap(int64_t difference_ms);
// Milliseconds from time stamp `from` to `to`, across the 33-bit wrap: the shorter
// way round, so negative for a stamp that lies behind.
int64_t tmr_film_ms(uint64_t from, uint64_t to);
