// The playback clock: start, stop, shift and positioning on the main thread, and
// the subtitle thread that advances the clock and shows and clears subtitles.
//
// Locks. sub_zamek (the store's) is held by the thread for a whole pass and by the
// positioning operations while they write the index and time, so the two never
// interleave and the thread never reads a record being released. hodiny_mutex
// guards every read-modify-write of the clock words (advance, stop, shift, start)
// so no time is counted twice or lost; it is a leaf: nothing else is locked, and
// nothing is drawn, while it is held. Order: sub_zamek, then kresleni_mutex, then
// znak_mutex; hodiny_mutex may be taken under any of them.
//
// The thread's wait. A pass is needed only when something is due: the start of the
// subtitle at akt_poz, the end of the subtitle on screen, or the end of the film,
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
// difference beyond kFilmJump is a jump in the film that the index follows by
// search, and a smaller one beyond kFilmDrift is corrected quietly. Between readings
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

#include "fb/painter.h"
#include "fb/screen.h"
#include "fb/status.h"
#include "hw/device.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"
#include "tmr/film.h"

namespace {

// The thread's deadline when nothing is due until the clock changes.
constexpr std::chrono::nanoseconds kBezTerminu = std::chrono::nanoseconds::min();
// Shown-end value meaning that no subtitle is on screen.
constexpr uint32_t kNicZobrazeno = UINT32_MAX;
// The end of film comes this many ms after the end of the last subtitle.
constexpr uint32_t kPresahKonce = 10;
// One shift of the clock, in ms; also the lowest time a shift starts from.
constexpr uint32_t kPosun = 500;
// Start handshake: this many polls, each waiting up to kCekaniStartu.
constexpr int kPokusuStartu = 25;
constexpr std::chrono::milliseconds kCekaniStartu{10};
// The thread wakes this long before a subtitle's start and polls the clock from there.
constexpr std::chrono::microseconds kPredstih{300};
// Stop: the thread's acknowledgement is checked at least this often.
constexpr std::chrono::milliseconds kCekaniKonce{100};
// Pause between stopping the clock and asking the thread to end, in us.
constexpr useconds_t kPauzaZastaveni = 10000;
constexpr int kChybaVlakna = 6;
constexpr const char* kZpravaKonec = "Einde. Druk \x0b\x02\x12\x13\x0c voor sluiten.";
// Reading the decoder while the clock runs: every 50 ms notices a pause within a
// quarter of a second, and costs twenty short wake-ups a second.
constexpr std::chrono::milliseconds kFilmRead{50};
// A time stamp that stands this long is a paused film: five frames at 25 per second,
// well beyond the 40 ms between two frames plus a reading's delay, and short enough
// that a subtitle cannot come much too early at a pause.
constexpr std::chrono::milliseconds kFilmStill{200};
// A film time this far (ms) from the clock is a jump in the film: well beyond any
// frame step or reading delay, and below any seek a player offers.
constexpr int64_t kFilmJump = 1000;
// Differences up to this (ms) are the decoder's frame steps and reading delays; the
// clock is set to the film only beyond it, so it does not stutter back and forth.
constexpr int64_t kFilmDrift = 100;

// One reading of the wall clock: milliseconds as tmr_get_ms counts them, and the
// microseconds already run within that millisecond.
struct okamzik {
    int32_t ms;
    int32_t us;
};

// Guards the clock words' updates, the changes of zmeny, and platny_start; see the
// top of the file.
std::mutex hodiny_mutex;
// Wakes the thread (clock changed, stop requested) and the main thread (thread state changed).
std::condition_variable hodiny_cv;
// Count of clock changes, bumped under hodiny_mutex; the thread sleeps, and polls
// before a start, only while it is unchanged.
// 32 bits: the box has no 64-bit atomics, and only equality is ever compared.
std::atomic<uint32_t> zmeny{0};
// The start whose thread may run. Each start counts it up and hands its number to its
// thread; giving up on a late thread counts it up again. A thread that comes late
// therefore ends at once, even when a later start has begun meanwhile.
uint32_t platny_start = 0;
// End time in ms of the subtitle on the band as the thread knows it; kNicZobrazeno
// when none. Guarded by sub_zamek: the thread's passes and tmr_obnov_pas.
uint32_t zobrazeny_konec = kNicZobrazeno;

// Following the film, all under hodiny_mutex: a new sync point is due at the next
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

okamzik ted();
void posun_hodiny(const okamzik& t);
void nastav_pozici(int32_t poz, uint32_t cas);
template <typename F>
void zmen_hodiny(F&& zmena);
std::chrono::nanoseconds mono_ted();
bool pruchod(std::chrono::nanoseconds& termin, bool& zacatek, const film_reading& film,
             std::chrono::nanoseconds film_due);
void cekej(uint32_t videno, std::chrono::nanoseconds termin, bool zacatek);

}  // namespace

relaxed<int32_t> bezi_timer{0};
relaxed<int32_t> kreslim{0};
relaxed<int32_t> konec_filmu{0};
relaxed<int32_t> akt_poz{0};
relaxed<uint32_t> akt_cas{0};
relaxed<int32_t> posl_tik{0};
relaxed<uint32_t> cas_konce{0};
relaxed<int32_t> stav_threadu{2};
relaxed<int32_t> film_paused{0};
pthread_t titl_tid;

int tmr_sub_init() {
    zmen_hodiny([] {
        akt_poz = 0;
        posl_tik = 0;
        stav_threadu = 2;
        akt_cas = 0;
        bezi_timer = 0;
        kreslim = 0;
        konec_filmu = 0;
    });
    uint32_t start;
    {
        std::lock_guard zamek(hodiny_mutex);
        start = ++platny_start;
    }
    sub_nacti_pri_startu();

    pthread_attr_t atributy;
    pthread_attr_init(&atributy);
    pthread_attr_setdetachstate(&atributy, PTHREAD_CREATE_DETACHED);
    int r = hw_pthread_create(&titl_tid, &atributy, titl_thread,
                              reinterpret_cast<void*>(static_cast<uintptr_t>(start)));
    pthread_attr_destroy(&atributy);
    if (r != 0) {
        errno = r;
        std::perror("Vytvareni threadu!");
        return kChybaVlakna;
    }

    // Each poll waits on the thread's report rather than sleeping a fixed 10 ms.
    for (int i = 0; i < kPokusuStartu; ++i) {
        if (stav_threadu == 0) return 0;
        std::fputs(".", stdout);
        std::unique_lock zamek(hodiny_mutex);
        hodiny_cv.wait_for(zamek, kCekaniStartu, [] { return stav_threadu == 0; });
    }
    // Too late: a thread that starts after all ends at once.
    std::lock_guard zamek(hodiny_mutex);
    ++platny_start;
    return kChybaVlakna;
}

int tmr_sub_deinit() {
    tmr_zastav();
    hw_usleep(kPauzaZastaveni);
    {
        std::unique_lock zamek(hodiny_mutex);
        if (stav_threadu == 0) {
            stav_threadu = 1;
            ++zmeny;
            hodiny_cv.notify_all();
            while (stav_threadu != 2) hodiny_cv.wait_for(zamek, kCekaniKonce);
        } else {
            ++platny_start;
        }
    }
    std::lock_guard zamek(sub_zamek);
    sub_uvolni(titulky_pamet, pocet_titulku);
    return 0;
}

void tmr_play() {
    zmen_hodiny([] {
        // The main loop checks this before it calls; checked again here because the
        // thread may have reached the end of film in between.
        if (konec_filmu != 0) return;
        okamzik t = ted();
        posun_hodiny(t);
        posl_tik = t.ms;
        bezi_timer = 1;
        film_paused = 0;
        film_sync_due = tmr_film_present();
    });
}

void tmr_zastav() {
    zmen_hodiny([] {
        posun_hodiny(ted());
        bezi_timer = 0;
        film_paused = 0;
    });
}

void tmr_uprav(int smer) {
    zmen_hodiny([smer] {
        if (konec_filmu != 0) return;
        // akt_cas is only as new as the thread's last wake-up; count the time run since.
        okamzik t = ted();
        posun_hodiny(t);
        if (akt_cas <= kPosun) return;
        akt_cas = smer > 0 ? akt_cas + kPosun : akt_cas - kPosun;
        posl_tik = t.ms;
        bezi_timer = 1;
        // The subtitles move against the film: the film's time stays where it is.
        film_sync_due = tmr_film_present();
    });
}

void tmr_nastav_akt_tit(int32_t poradi) {
    const bool followed = tmr_following();
    tmr_zastav();
    fb_info_paletka();
    if (poradi == -1) {
        std::lock_guard zamek(sub_zamek);
        tmr_reset_pod_zamkem();
        zmen_hodiny([] { konec_filmu = 0; });
        return;
    }
    uint32_t cas = 0;
    {
        std::lock_guard zamek(sub_zamek);
        const titulek* pole = titulky;
        int32_t pocet = pocet_titulku;
        if (poradi < 0 || poradi >= pocet) poradi = 0;
        if (pole != nullptr && pocet > 0) cas = pole[poradi].cas_od;
        nastav_pozici(poradi, cas);
    }
    fb_info_time(cas);
    tmr_resume_following(followed);
}

void tmr_update_tit(int32_t krok) {
    const bool followed = tmr_following();
    tmr_zastav();
    fb_info_paletka();
    uint32_t cas = 0;
    {
        std::lock_guard zamek(sub_zamek);
        const titulek* pole = titulky;
        int32_t pocet = pocet_titulku;
        int64_t poz = akt_poz;
        if (poz == 0 && krok == 0) {
            poz = 1;
        } else {
            poz += krok;
        }
        if (poz >= pocet) poz = static_cast<int64_t>(pocet) - 1;
        if (poz < 0) poz = 0;
        if (pole != nullptr && pocet > 0) cas = pole[poz].cas_od;
        nastav_pozici(static_cast<int32_t>(poz), cas);
    }
    fb_info_time(cas);
    tmr_resume_following(followed);
}

void tmr_nastav_tit(int32_t cas) {
    const bool followed = tmr_following();
    tmr_zastav();
    fb_info_paletka();
    if (cas == -1) {
        std::lock_guard zamek(sub_zamek);
        tmr_reset_pod_zamkem();
        zmen_hodiny([] { konec_filmu = 0; });
        return;
    }
    uint32_t zacatek = 0;
    {
        std::lock_guard zamek(sub_zamek);
        const titulek* pole = titulky;
        int32_t pocet = pocet_titulku;
        int32_t poz = 0;
        if (pole != nullptr && pocet > 0) {
            // The hint is the count, so this is a plain binary search.
            poz = sub_najdi_titulek(static_cast<uint32_t>(cas), pocet);
            // After a rescale to a lower rate a time can lie past the last subtitle:
            // the clock goes to the last one rather than past the array.
            if (poz >= pocet) poz = pocet - 1;
            zacatek = pole[poz].cas_od;
        }
        nastav_pozici(poz, zacatek);
    }
    fb_info_time(zacatek);
    tmr_resume_following(followed);
}

bool tmr_following() {
    return tmr_film_present() && bezi_timer != 0;
}

void tmr_resume_following(bool followed) {
    if (!followed) return;
    tmr_play();
    fb_info_paletka();
}

int32_t tmr_get_poz() {
    return konec_filmu != 0 ? 0 : akt_poz.load();
}

void tmr_reset() {
    std::lock_guard zamek(sub_zamek);
    tmr_reset_pod_zamkem();
}

void tmr_reset_pod_zamkem() {
    zmen_hodiny([] {
        akt_poz = 0;
        posl_tik = ted().ms;
        akt_cas = 0;
    });
    tmr_nastav_konec_pod_zamkem();
}

void tmr_nastav_konec_pod_zamkem() {
    const titulek* pole = titulky;
    int32_t pocet = pocet_titulku;
    if (pole == nullptr || pocet <= 0) return;
    zmen_hodiny([konec = pole[pocet - 1].cas_do + kPresahKonce] { cas_konce = konec; });
}

void tmr_obnov_pas() {
    {
        std::lock_guard zamek(sub_zamek);
        uint32_t cas;
        {
            std::lock_guard hodiny(hodiny_mutex);
            posun_hodiny(ted());
            cas = akt_cas;
        }
        std::lock_guard kresleni(kresleni_mutex);
        const titulek* zaznam = akt_titulek;
        if (zaznam != nullptr && zaznam->cas_od <= cas && cas <= zaznam->cas_do) {
            bb_zobraz_na_fb(pozice);
            zobrazeny_konec = zaznam->cas_do;
        } else {
            fb_smaz_titobr();
            zobrazeny_konec = kNicZobrazeno;
        }
    }
    // The thread's next deadline may be the end just put back.
    tmr_probud();
}

int32_t tmr_get_ms() {
    return ted().ms;
}

void tmr_probud() {
    zmen_hodiny([] {});
}

void* titl_thread(void* arg) {
    const auto start = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
    {
        std::lock_guard zamek(sub_zamek);
        // A late thread must not touch the clock of a later start.
        {
            std::lock_guard hodiny(hodiny_mutex);
            if (start != platny_start) return nullptr;
        }
        // The reset comes before the report, so that the position the main thread
        // sets once tmr_sub_init has returned is never overwritten by it.
        if (titulky != nullptr) tmr_reset_pod_zamkem();
        zobrazeny_konec = kNicZobrazeno;
        std::lock_guard hodiny(hodiny_mutex);
        if (start != platny_start) return nullptr;
        stav_threadu = 0;
        hodiny_cv.notify_all();
    }
    std::chrono::nanoseconds film_due{0};
    for (;;) {
        uint32_t videno = 0;
        std::chrono::nanoseconds termin = kBezTerminu;
        bool zacatek = false;
        // The decoder is read outside every lock: nothing waits on it.
        film_reading film;
        if (tmr_film_present()) {
            bool due;
            {
                std::lock_guard hodiny(hodiny_mutex);
                due = bezi_timer != 0 && (film_sync_due || mono_ted() >= film_due);
            }
            if (due) {
                film = tmr_film_read();
                film_due = mono_ted() + kFilmRead;
            }
        }
        {
            std::lock_guard zamek(sub_zamek);
            {
                std::lock_guard hodiny(hodiny_mutex);
                if (stav_threadu != 0) break;
                videno = zmeny;
            }
            if (pruchod(termin, zacatek, film, film_due)) continue;
        }
        cekej(videno, termin, zacatek);
    }
    // The last thing the thread does: the main thread may release everything once it
    // sees the state 2, which it can only read after this lock is let go.
    std::lock_guard hodiny(hodiny_mutex);
    stav_threadu = 2;
    hodiny_cv.notify_all();
    return nullptr;
}

namespace {

okamzik ted() {
    struct timeval tv {};
    hw_gettimeofday(&tv);
    // Signed 32-bit milliseconds, wrapping: computed unsigned, where wrapping is defined.
    uint32_t ms =
        static_cast<uint32_t>(tv.tv_sec) * 1000u + static_cast<uint32_t>(tv.tv_usec / 1000);
    return {static_cast<int32_t>(ms), static_cast<int32_t>(tv.tv_usec % 1000)};
}

// Counts the wall-clock time run since the last advance, while the clock runs.
// hodiny_mutex is held.
void posun_hodiny(const okamzik& t) {
    if (bezi_timer == 0) return;
    if (film_paused != 0) {
        // The clock stands with the film; it runs on from the moment the film does.
        posl_tik = t.ms;
        return;
    }
    akt_cas = akt_cas + (static_cast<uint32_t>(t.ms) - static_cast<uint32_t>(posl_tik.load()));
    posl_tik = t.ms;
}

// The end of a positioning operation: the clock stays stopped at the new index and
// time. sub_zamek is held, so the thread is between passes.
void nastav_pozici(int32_t poz, uint32_t cas) {
    zmen_hodiny([poz, cas] {
        bezi_timer = 0;
        akt_cas = cas;
        akt_poz = poz;
        konec_filmu = 0;
    });
}

// Runs a change of the clock words under the clock lock and wakes the thread.
template <typename F>
void zmen_hodiny(F&& zmena) {
    {
        std::lock_guard hodiny(hodiny_mutex);
        zmena();
        ++zmeny;
    }
    hodiny_cv.notify_all();
}

// One pass of the thread, with sub_zamek held: advance, end of film, show, clear.
// Returns true when another pass is due at once; otherwise termin is the next
// deadline on the monotonic clock, or kBezTerminu when only a change of the clock
// can bring one (no subtitles, clock stopped); zacatek tells whether it is the start
// of a subtitle.
bool pruchod(std::chrono::nanoseconds& termin, bool& zacatek, const film_reading& film,
             std::chrono::nanoseconds film_due) {
    const titulek* pole = titulky;
    if (pole == nullptr) return false;
    int32_t pocet = pocet_titulku;

    uint32_t cas;
    bool bezi;
    bool konec = false;
    bool konec_ohlasen;
    bool stoji;
    film_change zmena_filmu;
    uint32_t konec_filmu_cas;
    int32_t us_v_ms;
    std::chrono::nanoseconds mono;
    {
        std::lock_guard hodiny(hodiny_mutex);
        // The monotonic reading goes with the wall-clock one: the deadline is counted
        // from this moment, not from whenever the pass ends.
        okamzik t = ted();
        mono = mono_ted();
        posun_hodiny(t);
        zmena_filmu = follow_film(film, mono);
        cas = akt_cas;
        us_v_ms = t.us;
        konec_filmu_cas = cas_konce;
        if (konec_filmu_cas < cas && konec_filmu == 0) {
            konec_filmu = 1;
            bezi_timer = 0;
            konec = true;
        }
        bezi = bezi_timer != 0;
        konec_ohlasen = konec_filmu != 0;
        stoji = film_paused != 0;
    }
    if (zmena_filmu.pause_changed) fb_info_paletka();
    if (zmena_filmu.jumped) {
        // The film jumped: the subtitle on the band belongs to another place, and the
        // index is found anew, as for a typed time.
        if (zobrazeny_konec != kNicZobrazeno) {
            fb_smaz_titobr();
            zobrazeny_konec = kNicZobrazeno;
        }
        akt_poz = sub_najdi_titulek(cas, pocet);
    }
    if (konec) {
        fb_zobr_info(kZpravaKonec);
        return true;
    }

    int32_t poz = akt_poz;
    // A subtitle whose whole interval the clock passed between two passes (a shift
    // over it, a late wake-up) stays unshown, but must not hold back those after it:
    // the index moves on to the first subtitle whose end is still to come.
    if (poz >= 0 && poz < pocet && pole[poz].cas_do < cas) {
        while (poz < pocet && pole[poz].cas_do < cas) ++poz;
        akt_poz = poz;
    }
    if (poz >= 0 && poz < pocet) {
        const titulek& zaznam = pole[poz];
        if (zaznam.cas_od <= cas && cas <= zaznam.cas_do) {
            kreslim = 1;
            fb_zobraz_titulek(&zaznam);
            zobrazeny_konec = zaznam.cas_do;
            // Nobody else writes the index while sub_zamek is held.
            akt_poz = poz + 1;
            kreslim = 0;
            return true;
        }
    }
    if (zobrazeny_konec < cas) {
        fb_smaz_titobr();
        zobrazeny_konec = kNicZobrazeno;
    }
    if (!bezi) return false;
    const bool following = tmr_film_present();
    if (stoji) {
        // The film stands and the clock with it: only the next reading can change that.
        termin = film_due;
        return false;
    }

    // The nearest deadline, in ms of film time from now.
    uint64_t za_ms = UINT64_MAX;
    zacatek = false;
    if (poz >= 0 && poz < pocet && pole[poz].cas_od > cas) {
        za_ms = pole[poz].cas_od - cas;
        zacatek = true;
    }
    if (zobrazeny_konec != kNicZobrazeno && zobrazeny_konec >= cas &&
        uint64_t{zobrazeny_konec} - cas + 1 < za_ms) {
        za_ms = uint64_t{zobrazeny_konec} - cas + 1;
        zacatek = false;
    }
    if (!konec_ohlasen && konec_filmu_cas >= cas && uint64_t{konec_filmu_cas} - cas + 1 < za_ms) {
        za_ms = uint64_t{konec_filmu_cas} - cas + 1;
        zacatek = false;
    }
    if (za_ms != UINT64_MAX) {
        // The clock reaches the deadline when the wall clock's millisecond count has
        // gone on by za_ms, that is za_ms ms less the part of this millisecond already run.
        termin = mono + std::chrono::microseconds(static_cast<int64_t>(za_ms) * 1000 - us_v_ms);
    }
    if (following && (termin == kBezTerminu || film_due < termin)) {
        termin = film_due;
        zacatek = false;
    }
    return false;
}

// Brings the clock to the film after a reading, hodiny_mutex held; see the top of
// the file. The clock has just been advanced to the moment `mono`.
film_change follow_film(const film_reading& film, std::chrono::nanoseconds mono) {
    film_change zmena;
    if (!film.ok || bezi_timer == 0) return zmena;
    if (film_sync_due) {
        film_sync_due = false;
        film_t0 = akt_cas;
        film_p0 = film.pts;
        // A film that stands stays standing across a shift.
        if (film.pts != film_last_pts || film_paused == 0) {
            film_last_pts = film.pts;
            film_last_move = mono;
        }
        return zmena;
    }
    if (film.pts != film_last_pts) {
        film_last_pts = film.pts;
        film_last_move = mono;
    }
    const bool stoji = !film.playing || mono - film_last_move > kFilmStill;
    const int64_t film_cas = std::clamp<int64_t>(int64_t{film_t0} + tmr_film_ms(film_p0, film.pts),
                                                 0, int64_t{UINT32_MAX});
    const int64_t rozdil = film_cas - int64_t{akt_cas};
    zmena.pause_changed = stoji != (film_paused != 0);
    zmena.jumped = rozdil > kFilmJump || rozdil < -kFilmJump;
    film_paused = stoji ? 1 : 0;
    if (zmena.pause_changed || rozdil > kFilmDrift || rozdil < -kFilmDrift) {
        akt_cas = static_cast<uint32_t>(film_cas);
    }
    return zmena;
}

// The monotonic clock as a duration since its epoch.
std::chrono::nanoseconds mono_ted() {
    struct timespec ts {};
    hw_clock_gettime_mono(&ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

// Sleeps until the deadline (a monotonic time; kBezTerminu: none) or until the clock
// changes. The monotonic clock is the one std::chrono::steady_clock counts on Linux.
// For the start of a subtitle the sleep ends kPredstih early and the rest is polled:
// the kernel wakes a sleeping thread a tenth of a millisecond or more late (timer
// slack, an idle core waking up), which would all be added to the subtitle's delay.
void cekej(uint32_t videno, std::chrono::nanoseconds termin, bool zacatek) {
    auto zmeneno = [videno] { return zmeny != videno; };
    std::unique_lock hodiny(hodiny_mutex);
    if (termin == kBezTerminu) {
        hodiny_cv.wait(hodiny, zmeneno);
        return;
    }
    auto probuzeni = zacatek ? termin - kPredstih : termin;
    if (hodiny_cv.wait_until(hodiny, std::chrono::steady_clock::time_point(probuzeni), zmeneno)) {
        return;
    }
    if (!zacatek) return;
    hodiny.unlock();
    while (mono_ted() < termin && zmeny == videno) {
    }
}

}  // namespace
