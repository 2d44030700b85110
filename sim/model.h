// The simulator's model of the box: a framebuffer driver, input-event devices,
// the box's file system under a root directory, and fault injection.
//
// The player's device layer (hw/device.h) is implemented on top of this model in
// the simulator build. Tests and the lumetra-sim front end configure it here.
// All functions are thread-safe.
#pragma once

#include <linux/fb.h>
#include <linux/input.h>
#include <sys/ioctl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct fb_config {
    bool present = true;               // a framebuffer device exists
    bool at_fb0 = false;               // it is /dev/fb0 rather than /dev/fb/0
    uint32_t xres = 1280, yres = 720;  // the mode the driver starts in
    uint32_t smem_len = 0;             // video memory; 0 = enough for this mode and 720 x 576
    bool keep_stride = false;          // the driver keeps its line_length when the mode changes
    uint32_t bits_per_pixel = 32;      // the depth the driver starts in (8 or 32)
    bool refuse_depth = false;         // a request for another depth fails with EINVAL (as
                                       // cirrusfb's for 32 bits at 720 x 576)
    bool keep_depth = false;           // a request for another depth succeeds, but the mode
                                       // handed back keeps the driver's depth
    bool fail_open = false;
    bool fail_fscreeninfo = false;
    bool fail_vscreeninfo = false;
    bool fail_put = false;
    bool fail_mmap = false;
    // Box software double-buffers its menus: the driver lays out `pages` screens one under
    // the other (virtual height pages x yres, kept at every mode change) and shows page
    // `shown_page` at start (yoffset shown_page x yres). A mode request's yoffset is
    // clamped to the last page; FBIOPAN_DISPLAY moves the shown page.
    uint32_t pages = 1;
    uint32_t shown_page = 0;
    // Left in manual-blit mode by the box software: the screen shows the memory as it
    // was at the last FBIO_BLIT (nothing before the first). Only such a driver knows
    // FBIO_BLIT and FBIO_SET_MANUAL_BLIT; any other answers ENOTTY, as drivers do for
    // requests they do not have.
    bool manual_blit = false;
    int blit_errno = 0;  // FBIO_BLIT fails with this errno; 0: the driver's own answer
};

// The manual-blit requests as the drivers that have them define them: the switch
// carries a byte; the blit is request number 0x22 itself, with neither the 'F' type
// nor a direction or size.
constexpr unsigned long kFbioSetManualBlit = _IOW('F', 0x21, uint8_t);
constexpr unsigned long kFbioBlit = 0x22;

struct input_config {
    std::string name;          // EVIOCGNAME answer
    bool fail_open = false;    // exists, but open fails (EACCES)
    bool fail_name = false;    // EVIOCGNAME fails (ENOTTY)
    bool short_reads = false;  // every read returns half a record
    bool read_errors = false;  // every read fails with EIO
};

// The box's video decoder, "/dev/dvb/adapter0/video0": a 33-bit presentation time
// stamp at 90 kHz that advances while the film plays.
struct video_config {
    bool present = false;
    uint64_t start_pts = 0x0f00d1234;  // an arbitrary 33-bit start
    bool playing = true;
    bool fail_open = false;    // exists, but open fails (EBUSY: the box's player holds it)
    bool fail_pts = false;     // VIDEO_GET_PTS fails (EIO)
    bool fail_status = false;  // VIDEO_GET_STATUS fails (ENOTTY: a driver without it)
};

// The longest jump of the video decoder's time stamp: 2^33 ticks of 90 kHz.
constexpr uint64_t kPtsRange = uint64_t{1} << 33;

struct fb_state {
    fb_var_screeninfo var;
    fb_fix_screeninfo fix;
    int put_count;  // FBIOPUT_VSCREENINFO requests accepted or refused
    bool open;
    bool mapped;
    int pan_count;             // FBIOPAN_DISPLAY requests accepted or refused
    int blit_count;            // FBIO_BLIT requests accepted or refused
    int blits_done;            // of them, the ones that put the memory on screen
    int manual_blit_switches;  // FBIO_SET_MANUAL_BLIT requests
    bool manual_blit;          // the driver's mode now
};

// Forgets every device and fault; root becomes "" (paths are used as they are).
void reset();
void set_root(const std::string& root);
std::string root();
// A box path as the host sees it: absolute paths go under the root.
std::string resolve(const char* path);

void set_framebuffer(const fb_config& cfg);
fb_state framebuffer();
// The whole video memory (smem_len bytes) as 32-bit words; empty without a framebuffer.
std::span<uint32_t> fb_memory();
// What the screen shows: the video memory, or in manual-blit mode the copy of it the
// last FBIO_BLIT took (all zero before the first), smem_len bytes, with the state it
// is shown in (yoffset picks the page). The memory is copied as it is: the caller holds
// the player's pixel lock. False without a framebuffer.
bool fb_scanout(std::vector<uint32_t>& out, fb_state& st);
// Called with the mapped memory just before the player's shut-down clears it.
void set_before_clear(std::function<void(const void*, size_t)> hook);

// Adds /dev/input/event<N> and returns N (devices are numbered from 0 without gaps).
int add_input(const input_config& cfg);
// Queues one record on device dev. As with the kernel, a record sent while the
// device is not open is lost.
void push_event(int dev, uint16_t type, uint16_t code, int32_t value);
// Queues a key record (value 1 press, 2 auto-repeat, 0 release) and the report record
// the kernel's input layer sends after it: EV_SYN, SYN_REPORT, value 1 after an
// auto-repeat and 0 otherwise. Both are queued at once, as one read may take both.
void push_key(int dev, uint16_t code, int32_t value);
bool input_open(int dev);
size_t input_pending(int dev);
// The key records (EV_KEY) among them: what the player has yet to take as keys, the
// report records it reads past aside.
size_t input_pending_keys(int dev);
// Reads the player has made on device dev (with a record pending or not); once the
// queue is empty, a rise by two means the player is polling, not draining.
uint64_t input_reads(int dev);
// Called on the reading thread before each read of an input device, with the
// device's number, outside the model's lock: it may queue records (push_event).
// A test can so answer the player exactly when it reads, on its own thread.
void set_input_hook(std::function<void(int dev)> hook);
// Called first on each thread the player starts, before its own code: a test can so
// make a thread late, as a starved one on a busy box is.
void set_thread_hook(std::function<void()> hook);
// Threads the player started that have not yet returned from their entry function.
int threads_running();
// Waits until every device whose name contains "remote control" is open; false on timeout.
bool wait_remotes_open(int timeout_ms);
// Number of descriptors the model has handed out and not seen closed.
int open_descriptors();

// Adds (or replaces) the video decoder.
void set_video(const video_config& cfg);
// The film: play, pause, jump by ms (either way, modulo the 33-bit range), and put
// the time stamp 2 s before it wraps.
void video_play();
void video_pause();
void video_seek(int64_t ms);
void video_wrap();
void video_fail_pts(bool fail);
// The time stamp now; 0 without a decoder.
uint64_t video_pts();
bool video_playing();
bool video_open();
// VIDEO_GET_PTS and VIDEO_GET_STATUS requests made since the decoder was set.
uint64_t video_pts_requests();
uint64_t video_status_requests();

// hw_fread and hw_fseek calls since the last reset().
long file_reads();
// Bytes read from files, not devices, with hw_read and hw_pread since the last reset().
int64_t file_bytes_read();

// Scales every sleep of the player: 1 real time, 0 no sleeping at all.
void set_sleep_scale(double scale);

// Fault injection in the file system side of the device layer: the next `count`
// calls (-1: every call) of `call` whose box path contains `path` ("" any path)
// fail with errno `err`. call is one of "open" (paths outside /dev), "fopen",
// "opendir", "stat", "lstat", "unlink", "rmdir", "symlink" (path: the link),
// "rename" (path: the source), "fsync" (path ""), "read" (hw_read or hw_pread of any
// descriptor; path "" or the input device's path) and "fread": each file opened
// with hw_fopen while an "fread" fault is armed (count counts files) delivers
// `after_bytes` bytes and then fails every read with err. Faults are forgotten by
// reset() and clear_faults().
void fail_call(std::string_view call, int err, int count = 1, std::string_view path = {},
               long after_bytes = 0);
void clear_faults();
// Calls failed and files armed since the last reset().
int faults_injected();

}  // namespace sim
