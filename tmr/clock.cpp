// The playback clock: start, stop, shift and positioning on the main thread, and
// the subtitle thread that advances the clock and shows and clears subtitles.
//
// The clock decides what belongs on the band and when; the painter draws it, told
// through fb/band.h (the paint, the clear, the status line and the play icon's
// state), and asks the clock nothing. The store does not call the clock either: a
// replacement or a rescale of the subtitles runs here, under subtitles_mutex, with
// the clock's own update in the same hold.
//
// Locks. subtitles_mutex (the store's) is held by the thread for a whole pass and by the
// positioning operations while they write the index and time, so the two never
// interleave and the thread never reads a record being released. clock_mutex
// guards every read-modify-write of the clock words (advance, stop, shift, start)
// so no time is counted twice or lost; it is a leaf: nothing else is locked, and
// nothing is drawn, while it is held. Order: subtitles_mutex, then paint_mutex, then
// pixel_mutex; clock_mutex may be taken under any of them.
//
// The thread's wait. A pass is needed only when something is due: the start of the
// subtitle at current_index, the end of the subtitle on screen, or the end of the film,
// or when the main thread has moved the clock. So the thread computes the nearest
// of those deadlines, converts it to the monotonic clock, and sleeps on a condition
// variable until then; every main-thread clock operation bumps a change counter and
// notifies it, so a jump, shift, start or stop takes effect at once. The kernel wakes
// a sleeping thread a tenth of a millisecond or more late, so for a subtitle's start
// the thread wakes a little early and polls the clock for the last fraction of a
// millisecond: the subtitle is painted right at its time, at the cost of a fraction
// of a millisecond of polling per subtitle. Between events the thread costs nothing,
// unlike a loop of 500 ns sleeps, which would keep a core of the box busy.
//
// Following the film. With the box's video decoder present (tmr/film.h), a start of
// the clock takes a sync point: the clock's time T0 and the decoder's time stamp P0.
// While the clock runs, the thread reads the decoder every kFilmRead and compares
// the film's time, T0 + (PTS - P0) / 90 ms, with the clock: a standing time stamp
// (or a frozen decoder) holds the clock at the film's time until it moves again, a
// jump in the film (tmr_film_gap) is followed by search, and a drift is corrected
// quietly. Between readings
// the clock runs on the wall clock as without a decoder, so subtitles still come on
// time; a reading that fails just leaves it so. The viewer's shift moves T0 (a new
// sync point at the next reading); positioning keeps the clock following.
#include <pthread.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "fb/band.h"
#include "hw/device.h"
#include "sub/retime.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"
#include "tmr/film.h"

namespace {

// The thread's deadline when nothing is due until the clock changes.
constexpr std::chrono::nanoseconds kNoDeadline = std::chrono::nanoseconds::min();
// The second language's own shift goes no further than this either way, in ms.
constexpr int64_t kMaxSecondShiftMs = 10 * 60 * 1000;
// Shown-end value meaning that no subtitle is on screen.
constexpr uint32_t kNothingShown = UINT32_MAX;
// The end of film comes this many ms after the end of the last subtitle.
constexpr uint32_t kFilmEndMargin = 10;
// One shift of the clock, in ms; also the lowest time a shift starts from.
constexpr uint32_t kShiftMs = 500;
// Start handshake: this many polls, each waiting up to kStartPollWait.
constexpr int kStartPolls = 25;
constexpr std::chrono::milliseconds kStartPollWait{10};
// The thread wakes this long before a subtitle's start and polls the clock from there.
constexpr std::chrono::microseconds kWakeEarly{300};
// Stop: the thread's acknowledgement is checked at least this often.
constexpr std::chrono::milliseconds kStopPollWait{100};
// Pause between stopping the clock and asking the thread to end, in us.
constexpr useconds_t kStopPauseUs = 10000;
constexpr int kThreadError = 6;
constexpr const char* kEndOfFilmMessage = "Einde. Druk \x0b\x02\x12\x13\x0c voor sluiten.";
// Shown when a subtitle that ends a part of the film has stopped the clock.
constexpr const char* kEndOfPartMessage = "Volgende deel ondertitels. Ga verder \x0e\x0f";
// Reading the decoder while the clock runs: every 50 ms notices a pause within a
// quarter of a second, and costs twenty short wake-ups a second.
constexpr std::chrono::milliseconds kFilmRead{50};
// A time stamp that stands this long is a paused film: five frames at 25 per second,
// well beyond the 40 ms between two frames plus a reading's delay, and short enough
// that a subtitle cannot come much too early at a pause.
constexpr std::chrono::milliseconds kFilmStill{200};

// One reading of the wall clock: milliseconds as tmr_get_ms counts them, and the
// microseconds already run within that millisecond.
struct instant {
    int32_t ms;
    int32_t us;
};

// Guards the clock words' updates, the changes of clock_changes, and valid_start; see the
// top of the file.
std::mutex clock_mutex;
// Wakes the thread (clock changed, stop requested) and the main thread (thread state changed).
std::condition_variable clock_cv;
// Count of clock changes, bumped under clock_mutex; the thread sleeps, and polls
// before a start, only while it is unchanged.
// 32 bits: the box has no 64-bit atomics, and only equality is ever compared.
std::atomic<uint32_t> clock_changes{0};
// The start whose thread may run. Each start counts it up and hands its number to its
// thread; giving up on a late thread counts it up again. A thread that comes late
// therefore ends at once, even when a later start has begun meanwhile.
uint32_t valid_start = 0;
// End time in ms of the subtitle on the band as the thread knows it; kNothingShown
// when none. Guarded by subtitles_mutex: the thread's passes and tmr_restore_band.
uint32_t shown_end_ms = kNothingShown;

// The second language, guarded by subtitles_mutex like shown_end_ms: the index of the
// next record to show, the one on the band (-1: none), and the array and clock change
// its index was found for. After any change of the clock, or another array, the index
// is found anew by time: the second language has no steps of its own to follow.
int32_t second_index = 0;
int32_t second_shown = -1;
const subtitle* second_found_in = nullptr;
uint32_t second_found_at = 0;
bool second_find_due = true;

// Following the film, all under clock_mutex: a new sync point is due at the next
// reading (the clock was started or shifted); the sync point; the time stamp read
// last and the monotonic time at which it last moved.
bool film_sync_due = false;
uint32_t film_t0 = 0;
uint64_t film_p0 = 0;
uint64_t film_last_pts = 0;
std::chrono::nanoseconds film_last_move{0};

// What a decoder reading changed.
struct film_change {
    bool jumped = false;
    bool pause_changed = false;
};
film_change follow_film(const film_reading& film, std::chrono::nanoseconds mono);
uint32_t film_time_at(uint64_t pts);

instant wall_now();
void advance_clock(const instant& t);
void set_position(int32_t position, uint32_t time_ms);
template <typename F>
void change_clock(F&& change);
void publish_play_state();
std::chrono::nanoseconds mono_now();
bool run_pass(std::chrono::nanoseconds& deadline, bool& at_start, const film_reading& film,
              std::chrono::nanoseconds film_due);
bool second_pass(uint32_t time_ms, uint32_t changes);
uint64_t second_due_in(uint32_t time_ms, bool& at_start);
void sleep_until_due(uint32_t seen, std::chrono::nanoseconds deadline, bool at_start);

}  // namespace

relaxed<int32_t> clock_running{0};
relaxed<int32_t> film_ended{0};
relaxed<int32_t> current_index{0};
relaxed<uint32_t> clock_ms{0};
relaxed<int32_t> last_tick_ms{0};
relaxed<uint32_t> film_end_ms{0};
relaxed<int32_t> thread_state{2};
relaxed<int32_t> film_paused{0};
pthread_t subtitle_thread_id;

int tmr_sub_init() {
    change_clock([] {
        current_index = 0;
        last_tick_ms = 0;
        thread_state = 2;
        clock_ms = 0;
        clock_running = 0;
        painting = 0;
        film_ended = 0;
    });
    uint32_t start;
    {
        std::lock_guard lock(clock_mutex);
        start = ++valid_start;
    }
    sub_load_at_start();

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    int r = hw_pthread_create(&subtitle_thread_id, &attributes, tmr_subtitle_thread,
                              reinterpret_cast<void*>(static_cast<uintptr_t>(start)));
    pthread_attr_destroy(&attributes);
    if (r != 0) {
        errno = r;
        std::perror("Vytvareni threadu!");
        return kThreadError;
    }

    // Each poll waits on the thread's report rather than sleeping a fixed 10 ms.
    for (int i = 0; i < kStartPolls; ++i) {
        if (thread_state == 0) return 0;
        std::fputs(".", stdout);
        std::unique_lock lock(clock_mutex);
        clock_cv.wait_for(lock, kStartPollWait, [] { return thread_state == 0; });
    }
    // Too late: a thread that starts after all ends at once.
    std::lock_guard lock(clock_mutex);
    ++valid_start;
    return kThreadError;
}

int tmr_sub_deinit() {
    tmr_stop();
    hw_usleep(kStopPauseUs);
    {
        std::unique_lock lock(clock_mutex);
        if (thread_state == 0) {
            thread_state = 1;
            ++clock_changes;
            clock_cv.notify_all();
            while (thread_state != 2) clock_cv.wait_for(lock, kStopPollWait);
        } else {
            ++valid_start;
        }
    }
    std::lock_guard lock(subtitles_mutex);
    sub_release_second();
    sub_release(subtitles_owner, subtitle_count);
    return 0;
}

void tmr_play() {
    change_clock([] {
        // The main loop checks this before it calls; checked again here because the
        // thread may have reached the end of film in between.
        if (film_ended != 0) return;
        instant t = wall_now();
        advance_clock(t);
        last_tick_ms = t.ms;
        clock_running = 1;
        film_paused = 0;
        film_sync_due = tmr_film_present();
    });
}

void tmr_stop() {
    change_clock([] {
        advance_clock(wall_now());
        clock_running = 0;
        film_paused = 0;
    });
}

void tmr_shift(int direction) {
    std::lock_guard lock(subtitles_mutex);
    bool shifted = false;
    change_clock([direction, &shifted] {
        if (film_ended != 0) return;
        // clock_ms is only as new as the thread's last wake-up; count the time run since.
        instant t = wall_now();
        advance_clock(t);
        if (clock_ms <= kShiftMs) return;
        clock_ms = direction > 0 ? clock_ms + kShiftMs : clock_ms - kShiftMs;
        last_tick_ms = t.ms;
        clock_running = 1;
        // The subtitles move against the film: the film's time stays where it is.
        film_sync_due = tmr_film_present();
        shifted = true;
    });
    // The shift is the first file's: the second language keeps its place in the film
    // by moving its own shift with the clock.
    if (shifted && second_subtitles != nullptr) {
        const int64_t d = direction > 0 ? int64_t{kShiftMs} : -int64_t{kShiftMs};
        second_shift_ms = static_cast<int32_t>(std::clamp<int64_t>(
            int64_t{second_shift_ms} + d, -kMaxSecondShiftMs, kMaxSecondShiftMs));
    }
}

void tmr_go_to_subtitle(int32_t index) {
    const bool followed = tmr_following();
    tmr_stop();
    fb_show_icons();
    if (index == -1) {
        std::lock_guard lock(subtitles_mutex);
        tmr_reset_locked();
        change_clock([] { film_ended = 0; });
        return;
    }
    uint32_t time_ms = 0;
    {
        std::lock_guard lock(subtitles_mutex);
        const subtitle* records = subtitles;
        int32_t count = subtitle_count;
        if (index < 0 || index >= count) index = 0;
        if (records != nullptr && count > 0) time_ms = records[index].start_ms;
        set_position(index, time_ms);
    }
    fb_show_time(time_ms);
    tmr_resume_following(followed);
}

void tmr_step_subtitle(int32_t step) {
    const bool followed = tmr_following();
    tmr_stop();
    fb_show_icons();
    uint32_t time_ms = 0;
    {
        std::lock_guard lock(subtitles_mutex);
        const subtitle* records = subtitles;
        int32_t count = subtitle_count;
        int64_t position = current_index;
        if (position == 0 && step == 0) {
            position = 1;
        } else {
            position += step;
        }
        if (position >= count) position = static_cast<int64_t>(count) - 1;
        if (position < 0) position = 0;
        if (records != nullptr && count > 0) time_ms = records[position].start_ms;
        set_position(static_cast<int32_t>(position), time_ms);
    }
    fb_show_time(time_ms);
    tmr_resume_following(followed);
}

void tmr_go_to_time(int32_t time_ms) {
    const bool followed = tmr_following();
    tmr_stop();
    fb_show_icons();
    if (time_ms == -1) {
        std::lock_guard lock(subtitles_mutex);
        tmr_reset_locked();
        change_clock([] { film_ended = 0; });
        return;
    }
    uint32_t at_start = 0;
    {
        std::lock_guard lock(subtitles_mutex);
        const subtitle* records = subtitles;
        int32_t count = subtitle_count;
        int32_t position = 0;
        if (records != nullptr && count > 0) {
            // The hint is the count, so this is a plain binary search.
            position = sub_find(static_cast<uint32_t>(time_ms), count);
            // After a rescale to a lower rate a time can lie past the last subtitle:
            // the clock goes to the last one rather than past the array.
            if (position >= count) position = count - 1;
            at_start = records[position].start_ms;
        }
        set_position(position, at_start);
    }
    fb_show_time(at_start);
    tmr_resume_following(followed);
}

bool tmr_following() {
    return tmr_film_present() && clock_running != 0;
}

void tmr_resume_following(bool followed) {
    if (!followed) return;
    tmr_play();
    fb_show_icons();
}

uint32_t tmr_film_time() {
    uint64_t pts = 0;
    const bool read = tmr_film_pts(pts);
    std::lock_guard clock_lock(clock_mutex);
    advance_clock(wall_now());
    if (!read || !tmr_film_present()) return clock_ms;
    return film_time_at(pts);
}

void tmr_rejoin_film() {
    uint64_t pts = 0;
    const bool read = tmr_film_pts(pts);
    {
        std::lock_guard lock(subtitles_mutex);
        const subtitle* records = subtitles;
        const int32_t count = subtitle_count;
        change_clock([&] {
            if (film_ended != 0) return;
            const instant t = wall_now();
            advance_clock(t);
            // The sync point taken before stays: the clock goes to the film's time by
            // it, and a reading that fails now leaves the thread to do so later. A
            // sync point still due was never taken: it is taken at the next reading.
            if (read && !film_sync_due) {
                clock_ms = film_time_at(pts);
                if (records != nullptr && count > 0) current_index = sub_find(clock_ms, count);
            }
            last_tick_ms = t.ms;
            clock_running = 1;
            film_paused = 0;
        });
        // The box that covered the band cleared it.
        shown_end_ms = kNothingShown;
    }
}

void tmr_find_position_locked() {
    const subtitle* records = subtitles;
    const int32_t count = subtitle_count;
    if (records == nullptr || count <= 0) return;
    change_clock([count] {
        advance_clock(wall_now());
        current_index = sub_find(clock_ms, count);
    });
}

int32_t tmr_resume_index() {
    return film_ended != 0 ? 0 : current_index.load();
}

void tmr_reset() {
    std::lock_guard lock(subtitles_mutex);
    tmr_reset_locked();
}

void tmr_reset_locked() {
    change_clock([] {
        current_index = 0;
        last_tick_ms = wall_now().ms;
        clock_ms = 0;
    });
    tmr_set_film_end_locked();
}

void tmr_set_film_end_locked() {
    const subtitle* records = subtitles;
    int32_t count = subtitle_count;
    if (records == nullptr || count <= 0) return;
    change_clock([end = records[count - 1].end_ms + kFilmEndMargin] { film_end_ms = end; });
}

int tmr_load_subtitles(const char* name) {
    {
        std::lock_guard lock(subtitles_mutex);
        const int error = sub_replace(name);
        if (error != 0) return error;
        // The clock still stands where the old file was; put it at the start
        // before the thread can look at the new records.
        tmr_reset_locked();
    }
    tmr_go_to_time(-1);
    return 0;
}

int tmr_load_second(const char* name) {
    {
        std::lock_guard lock(subtitles_mutex);
        const int error = sub_load_second(name);
        if (error != 0) return error;
    }
    tmr_wake();
    return 0;
}

void tmr_release_second() {
    {
        std::lock_guard lock(subtitles_mutex);
        sub_release_second();
    }
    tmr_wake();
}

int32_t tmr_shift_second(int32_t delta_ms) {
    int32_t shift;
    {
        std::lock_guard lock(subtitles_mutex);
        if (second_subtitles == nullptr) return 0;
        shift = static_cast<int32_t>(std::clamp<int64_t>(int64_t{second_shift_ms} + delta_ms,
                                                         -kMaxSecondShiftMs, kMaxSecondShiftMs));
        second_shift_ms = shift;
    }
    // The thread finds the second language's index anew for the shifted times.
    tmr_wake();
    return shift;
}

void tmr_map_second(const time_map& map) {
    {
        std::lock_guard lock(subtitles_mutex);
        if (!sub_map_second_locked(map)) return;
    }
    tmr_wake();
}

void tmr_rescale(const float& factor) {
    {
        std::lock_guard lock(subtitles_mutex);
        if (!sub_rescale(factor)) return;
        // The end of the film moves with the records, or a film rescaled to play
        // longer would end before its last subtitles.
        tmr_set_film_end_locked();
    }
    // The subtitle thread may be waiting for a time that has just moved.
    tmr_wake();
}

void tmr_apply_map(const time_map& map) {
    {
        std::lock_guard lock(subtitles_mutex);
        if (!sub_apply_map_locked(map)) return;
        // The end of the film and the index follow the records; the clock stays.
        tmr_set_film_end_locked();
        tmr_find_position_locked();
    }
    tmr_wake();
}

void tmr_shift_all(int64_t delta_ms) {
    {
        std::lock_guard lock(subtitles_mutex);
        if (!sub_shift_all_locked(delta_ms)) return;
        // The end of the film and the index follow the records; the clock stays.
        tmr_set_film_end_locked();
        tmr_find_position_locked();
    }
    tmr_wake();
}

void tmr_restore_band() {
    {
        std::lock_guard lock(subtitles_mutex);
        uint32_t time_ms;
        {
            std::lock_guard clock_lock(clock_mutex);
            advance_clock(wall_now());
            time_ms = clock_ms;
        }
        uint32_t end_ms = 0;
        shown_end_ms = fb_restore_band(time_ms, end_ms) ? end_ms : kNothingShown;
        // The box took the second language off too; the next pass puts it back.
        second_find_due = true;
    }
    // The thread's next deadline may be the end just put back.
    tmr_wake();
}

int32_t tmr_get_ms() {
    return wall_now().ms;
}

void tmr_wake() {
    change_clock([] {});
}

void* tmr_subtitle_thread(void* arg) {
    const auto start = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
    {
        std::lock_guard lock(subtitles_mutex);
        // A late thread must not touch the clock of a later start.
        {
            std::lock_guard clock_lock(clock_mutex);
            if (start != valid_start) return nullptr;
        }
        // The reset comes before the report, so that the position the main thread
        // sets once tmr_sub_init has returned is never overwritten by it.
        if (subtitles != nullptr) tmr_reset_locked();
        shown_end_ms = kNothingShown;
        std::lock_guard clock_lock(clock_mutex);
        if (start != valid_start) return nullptr;
        thread_state = 0;
        clock_cv.notify_all();
    }
    std::chrono::nanoseconds film_due{0};
    for (;;) {
        uint32_t seen = 0;
        std::chrono::nanoseconds deadline = kNoDeadline;
        bool at_start = false;
        // The decoder is read outside every lock: nothing waits on it.
        film_reading film;
        if (tmr_film_present()) {
            bool due;
            {
                std::lock_guard clock_lock(clock_mutex);
                due = clock_running != 0 && (film_sync_due || mono_now() >= film_due);
            }
            if (due) {
                film = tmr_film_read();
                film_due = mono_now() + kFilmRead;
            }
        }
        {
            std::lock_guard lock(subtitles_mutex);
            {
                std::lock_guard clock_lock(clock_mutex);
                if (thread_state != 0) break;
                seen = clock_changes;
            }
            if (run_pass(deadline, at_start, film, film_due)) continue;
        }
        sleep_until_due(seen, deadline, at_start);
    }
    // The last thing the thread does: the main thread may release everything once it
    // sees the state 2, which it can only read after this lock is let go.
    std::lock_guard clock_lock(clock_mutex);
    thread_state = 2;
    clock_cv.notify_all();
    return nullptr;
}

namespace {

instant wall_now() {
    struct timeval tv {};
    hw_gettimeofday(&tv);
    // Signed 32-bit milliseconds, wrapping: computed unsigned, where wrapping is defined.
    uint32_t ms =
        static_cast<uint32_t>(tv.tv_sec) * 1000u + static_cast<uint32_t>(tv.tv_usec / 1000);
    return {static_cast<int32_t>(ms), static_cast<int32_t>(tv.tv_usec % 1000)};
}

// Counts the wall-clock time run since the last advance, while the clock runs.
// clock_mutex is held.
void advance_clock(const instant& t) {
    if (clock_running == 0) return;
    if (film_paused != 0) {
        // The clock stands with the film; it runs on from the moment the film does.
        last_tick_ms = t.ms;
        return;
    }
    clock_ms =
        clock_ms + (static_cast<uint32_t>(t.ms) - static_cast<uint32_t>(last_tick_ms.load()));
    last_tick_ms = t.ms;
}

// The end of a positioning operation: the clock stays stopped at the new index and
// time. subtitles_mutex is held, so the thread is between passes.
void set_position(int32_t position, uint32_t time_ms) {
    change_clock([position, time_ms] {
        clock_running = 0;
        clock_ms = time_ms;
        current_index = position;
        film_ended = 0;
    });
}

// Runs a change of the clock words under the clock lock and wakes the thread.
template <typename F>
void change_clock(F&& change) {
    {
        std::lock_guard clock_lock(clock_mutex);
        change();
        publish_play_state();
        ++clock_changes;
    }
    clock_cv.notify_all();
}

// Hands the play icon's state to the painter after every change of clock_running or
// film_paused, clock_mutex held, so that the icon drawn next shows the clock as it is.
void publish_play_state() {
    status_playing = clock_running != 0 && film_paused == 0 ? 1 : 0;
}

// One pass of the thread, with subtitles_mutex held: advance, end of film, show, clear.
// Returns true when another pass is due at once; otherwise deadline is the next
// deadline on the monotonic clock, or kNoDeadline when only a change of the clock
// can bring one (no subtitles, clock stopped); at_start tells whether it is the start
// of a subtitle.
bool run_pass(std::chrono::nanoseconds& deadline, bool& at_start, const film_reading& film,
              std::chrono::nanoseconds film_due) {
    const subtitle* records = subtitles;
    if (records == nullptr) return false;
    int32_t count = subtitle_count;

    uint32_t time_ms;
    bool running;
    bool end = false;
    bool end_announced;
    bool standing;
    film_change film_news;
    uint32_t film_end;
    int32_t us_in_ms;
    std::chrono::nanoseconds mono;
    uint32_t changes;
    {
        std::lock_guard clock_lock(clock_mutex);
        changes = clock_changes;
        // The monotonic reading goes with the wall-clock one: the deadline is counted
        // from this moment, not from whenever the pass ends.
        instant t = wall_now();
        mono = mono_now();
        advance_clock(t);
        film_news = follow_film(film, mono);
        time_ms = clock_ms;
        us_in_ms = t.us;
        film_end = film_end_ms;
        if (film_end < time_ms && film_ended == 0) {
            film_ended = 1;
            clock_running = 0;
            end = true;
        }
        running = clock_running != 0;
        end_announced = film_ended != 0;
        standing = film_paused != 0;
        publish_play_state();
    }
    if (film_news.pause_changed) fb_show_icons();
    if (film_news.jumped) {
        // The film jumped: the subtitle on the band belongs to another place, and the
        // index is found anew, as for a typed time.
        if (shown_end_ms != kNothingShown) {
            fb_clear_first();
            shown_end_ms = kNothingShown;
        }
        current_index = sub_find(time_ms, count);
        second_find_due = true;
    }
    if (end) {
        fb_show_status(kEndOfFilmMessage);
        return true;
    }
    if (second_pass(time_ms, changes)) return true;

    int32_t position = current_index;
    // A subtitle whose whole interval the clock passed between two passes (a shift
    // over it, a late wake-up) stays unshown, but must not hold back those after it:
    // the index moves on to the first subtitle whose end is still to come.
    if (position >= 0 && position < count && records[position].end_ms < time_ms) {
        while (position < count && records[position].end_ms < time_ms) ++position;
        current_index = position;
    }
    if (position >= 0 && position < count) {
        const subtitle& record = records[position];
        if (record.start_ms <= time_ms && time_ms <= record.end_ms) {
            painting = 1;
            if (fb_paint_subtitle(&record)) {
                // The end of a part: the viewer starts the next part with OK.
                tmr_stop();
                fb_show_status(kEndOfPartMessage);
            }
            shown_end_ms = record.end_ms;
            // Nobody else writes the index while subtitles_mutex is held.
            current_index = position + 1;
            painting = 0;
            return true;
        }
    }
    if (shown_end_ms < time_ms) {
        fb_clear_first();
        shown_end_ms = kNothingShown;
    }
    if (!running) return false;
    const bool following = tmr_film_present();
    if (standing) {
        // The film stands and the clock with it: only the next reading can change that.
        deadline = film_due;
        return false;
    }

    // The nearest deadline, in ms of film time from now.
    uint64_t due_in_ms = UINT64_MAX;
    at_start = false;
    if (position >= 0 && position < count && records[position].start_ms > time_ms) {
        due_in_ms = records[position].start_ms - time_ms;
        at_start = true;
    }
    if (shown_end_ms != kNothingShown && shown_end_ms >= time_ms &&
        uint64_t{shown_end_ms} - time_ms + 1 < due_in_ms) {
        due_in_ms = uint64_t{shown_end_ms} - time_ms + 1;
        at_start = false;
    }
    if (!end_announced && film_end >= time_ms && uint64_t{film_end} - time_ms + 1 < due_in_ms) {
        due_in_ms = uint64_t{film_end} - time_ms + 1;
        at_start = false;
    }
    bool second_at_start = false;
    if (const uint64_t second_due = second_due_in(time_ms, second_at_start);
        second_due < due_in_ms) {
        due_in_ms = second_due;
        at_start = second_at_start;
    }
    if (due_in_ms != UINT64_MAX) {
        // The clock reaches the deadline when the wall clock's millisecond count has
        // gone on by due_in_ms, that is due_in_ms ms less the part of this millisecond already run.
        deadline =
            mono + std::chrono::microseconds(static_cast<int64_t>(due_in_ms) * 1000 - us_in_ms);
    }
    if (following && (deadline == kNoDeadline || film_due < deadline)) {
        deadline = film_due;
        at_start = false;
    }
    return false;
}

// The second language's part of a pass, subtitles_mutex held: its index is found anew
// after any change of the clock (`changes`) or of its array, then the record due is
// shown, or the one on the band cleared once the clock has left its interval (either
// way: the clock may have gone back). Returns true when it painted.
bool second_pass(uint32_t time_ms, uint32_t changes) {
    const subtitle* records = second_subtitles;
    const int32_t count = second_count;
    if (records == nullptr || count <= 0) {
        second_shown = -1;
        second_found_in = nullptr;
        return false;
    }
    // A paint or clear of the whole band (a box, a menu) wiped the picture.
    if (second_on_band == 0) second_shown = -1;
    if (second_find_due || records != second_found_in || changes != second_found_at) {
        if (records != second_found_in) second_shown = -1;
        second_find_due = false;
        second_found_in = records;
        second_found_at = changes;
        int32_t i = sub_find_second(time_ms);
        // The record on the band, still in its interval, is not painted again.
        if (i == second_shown && i < count) ++i;
        second_index = i;
    }
    int32_t i = second_index;
    while (i < count && sub_second_time(records[i].end_ms) < time_ms) ++i;
    second_index = i;
    if (i < count && sub_second_time(records[i].start_ms) <= time_ms) {
        fb_paint_second(&records[i]);
        second_shown = i;
        second_index = i + 1;
        return true;
    }
    if (second_shown >= 0) {
        const subtitle& shown = records[second_shown];
        if (time_ms < sub_second_time(shown.start_ms) || sub_second_time(shown.end_ms) < time_ms) {
            fb_clear_second();
            second_shown = -1;
        }
    }
    return false;
}

// Ms of clock time until the second language's next event (the start of its next
// record, the end of the one shown); UINT64_MAX when none. subtitles_mutex held.
uint64_t second_due_in(uint32_t time_ms, bool& at_start) {
    const subtitle* records = second_subtitles;
    const int32_t count = second_count;
    uint64_t due = UINT64_MAX;
    if (records == nullptr || count <= 0) return due;
    if (second_index < count) {
        const uint32_t start = sub_second_time(records[second_index].start_ms);
        if (start > time_ms) {
            due = start - time_ms;
            at_start = true;
        }
    }
    if (second_shown >= 0 && second_shown < count) {
        const uint32_t end = sub_second_time(records[second_shown].end_ms);
        if (end >= time_ms && uint64_t{end} - time_ms + 1 < due) {
            due = uint64_t{end} - time_ms + 1;
            at_start = false;
        }
    }
    return due;
}

// Brings the clock to the film after a reading, clock_mutex held; see the top of
// the file. The clock has just been advanced to the moment `mono`.
film_change follow_film(const film_reading& film, std::chrono::nanoseconds mono) {
    film_change change;
    if (!film.ok || clock_running == 0) return change;
    if (film_sync_due) {
        film_sync_due = false;
        film_t0 = clock_ms;
        film_p0 = film.pts;
        // A film that stands stays standing across a shift.
        if (film.pts != film_last_pts || film_paused == 0) {
            film_last_pts = film.pts;
            film_last_move = mono;
        }
        return change;
    }
    if (film.pts != film_last_pts) {
        film_last_pts = film.pts;
        film_last_move = mono;
    }
    const bool standing = !film.playing || mono - film_last_move > kFilmStill;
    const int64_t film_time_ms = std::clamp<int64_t>(
        int64_t{film_t0} + tmr_film_ms(film_p0, film.pts), 0, int64_t{UINT32_MAX});
    const film_gap gap = tmr_film_gap(film_time_ms - int64_t{clock_ms});
    change.pause_changed = standing != (film_paused != 0);
    change.jumped = gap == film_gap::jump;
    film_paused = standing ? 1 : 0;
    if (change.pause_changed || gap != film_gap::none) {
        clock_ms = static_cast<uint32_t>(film_time_ms);
    }
    return change;
}

// The film's time at time stamp `pts` on the clock's scale, by the sync point;
// clock_mutex is held.
uint32_t film_time_at(uint64_t pts) {
    return static_cast<uint32_t>(
        std::clamp<int64_t>(int64_t{film_t0} + tmr_film_ms(film_p0, pts), 0, int64_t{UINT32_MAX}));
}

// The monotonic clock as a duration since its epoch.
std::chrono::nanoseconds mono_now() {
    struct timespec ts {};
    hw_clock_gettime_mono(&ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

// Sleeps until the deadline (a monotonic time; kNoDeadline: none) or until the clock
// changes. The monotonic clock is the one std::chrono::steady_clock counts on Linux.
// For the start of a subtitle the sleep ends kWakeEarly early and the rest is polled:
// the kernel wakes a sleeping thread a tenth of a millisecond or more late (timer
// slack, an idle core waking up), which would all be added to the subtitle's delay.
void sleep_until_due(uint32_t seen, std::chrono::nanoseconds deadline, bool at_start) {
    auto changed = [seen] { return clock_changes != seen; };
    std::unique_lock clock_lock(clock_mutex);
    if (deadline == kNoDeadline) {
        clock_cv.wait(clock_lock, changed);
        return;
    }
    auto wake_at = at_start ? deadline - kWakeEarly : deadline;
    if (clock_cv.wait_until(clock_lock, std::chrono::steady_clock::time_point(wake_at), changed)) {
        return;
    }
    if (!at_start) return;
    clock_lock.unlock();
    while (mono_now() < deadline && clock_changes == seen) {
    }
}

}  // namespace
