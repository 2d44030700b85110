// The video decoder, read through the device layer.
#include "tmr/film.h"

#include <fcntl.h>
#include <linux/dvb/video.h>
#include <sys/ioctl.h>

#include "app/relaxed.h"
#include "hw/device.h"

namespace {

constexpr const char* kVideoPath = "/dev/dvb/adapter0/video0";

// The decoder's descriptor; -1 when there is none. Written by the main thread while
// the subtitle thread is not running, read by the thread.
relaxed<int32_t> video_fd{-1};

}  // namespace

bool tmr_film_open() {
    tmr_film_close();
    const int fd = hw_open(kVideoPath, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    video_fd = fd;
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
    if (fd < 0) return r;
    __u64 pts = 0;
    if (hw_ioctl(fd, VIDEO_GET_PTS, &pts) != 0) return r;
    r.ok = true;
    r.pts = pts % kPtsWrap;
    video_status status{};
    r.playing = hw_ioctl(fd, VIDEO_GET_STATUS, &status) != 0 || status.play_state == VIDEO_PLAYING;
    return r;
}

int64_t tmr_film_ms(uint64_t from, uint64_t to) {
    const uint64_t ahead = (to - from) % kPtsWrap;
    const int64_t ticks = ahead < kPtsWrap / 2
                              ? static_cast<int64_t>(ahead)
                              : static_cast<int64_t>(ahead) - static_cast<int64_t>(kPtsWrap);
    return ticks / static_cast<int64_t>(kPtsPerMs);
}
