// The video decoder, read through the device layer.
#include "tmr/film.h"

#include <fcntl.h>
#include <linux/dvb/video.h>
#include <sys/ioctl.h>

#include <chrono>

#include "app/relaxed.h"
#include "hw/device.h"

namespace {

constexpr const char* kVideoPath = "/dev/dvb/adapter0/video0";

// The decoder's descriptor; -1 when there is none. Written by the main thread while
// the subtitle thread is not running, read by the thread.
relaxed<int32_t> video_fd{-1};

// The decoder's state is asked this seldom: a standing time stamp tells a pause anyway.
constexpr std::chrono::seconds kStatusInterval{1};
// A difference from this many ms on is a jump; above kDriftMs a drift.
constexpr int64_t kJumpMs = 1000;
constexpr int64_t kDriftMs = 100;

// What the decoder last said of its state. Only the reader of tmr_film_read touches
// it: the main thread while it opens the decoder, then the subtitle thread.
struct status_memory {
    bool usable = true;        // the request has not failed
    bool asked = false;        // an answer is held
    bool playing = true;       // that answer
    uint64_t pts = 0;          // the time stamp when it came
    std::chrono::nanoseconds at{0};  // monotonic time of the request
};
status_memory status;

std::chrono::nanoseconds mono_now();

}  // namespace

bool tmr_film_open() {
    tmr_film_close();
    const int fd = hw_open(kVideoPath, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    video_fd = fd;
    status = status_memory{};
    // A decoder that cannot give its time stamp (no film, another driver) is no reference.
    if (!tmr_film_read().ok) {
        tmr_film_close();
        return false;
    }
    return true;
}

void tmr_film_close() {
    const int fd = video_fd;
    if (fd < 0) return;
    video_fd = -1;
    hw_close(fd);
}

bool tmr_film_present() {
    return video_fd >= 0;
}

film_reading tmr_film_read() {
    film_reading r;
    const int fd = video_fd;
    if (fd < 0 || !tmr_film_pts(r.pts)) return r;
    r.ok = true;
    const std::chrono::nanoseconds now = mono_now();
    if (status.usable && (!status.asked || now - status.at >= kStatusInterval)) {
        video_status answer{};
        status.at = now;
        if (hw_ioctl(fd, VIDEO_GET_STATUS, &answer) != 0) {
            status.usable = false;
            status.asked = false;
        } else {
            status.asked = true;
            status.playing = answer.play_state == VIDEO_PLAYING;
            status.pts = r.pts;
        }
    }
    // A film whose stamp moved on since the decoder said it stood plays again; a
    // jump of the stamp is a seek, which leaves a paused film paused.
    const int64_t moved = tmr_film_ms(status.pts, r.pts);
    r.playing = !status.asked || status.playing ||
                (r.pts != status.pts && moved >= 0 && tmr_film_gap(moved) != film_gap::jump);
    return r;
}

bool tmr_film_pts(uint64_t& pts) {
    const int fd = video_fd;
    if (fd < 0) return false;
    __u64 stamp = 0;
    if (hw_ioctl(fd, VIDEO_GET_PTS, &stamp) != 0) return false;
    pts = stamp % kPtsWrap;
    return true;
}

film_gap tmr_film_gap(int64_t difference_ms) {
    const int64_t size = difference_ms < 0 ? -difference_ms : difference_ms;
    if (size >= kJumpMs) return film_gap::jump;
    if (size > kDriftMs) return film_gap::drift;
    return film_gap::none;
}

int64_t tmr_film_ms(uint64_t from, uint64_t to) {
    const uint64_t ahead = (to - from) % kPtsWrap;
    const int64_t ticks = ahead < kPtsWrap / 2
                              ? static_cast<int64_t>(ahead)
                              : static_cast<int64_t>(ahead) - static_cast<int64_t>(kPtsWrap);
    return ticks / static_cast<int64_t>(kPtsPerMs);
}

namespace {

std::chrono::nanoseconds mono_now() {
    struct timespec ts {};
    hw_clock_gettime_mono(&ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

}  // namespace
