// The remote control: device search by name, key reads with repeat suppression.
#include "rc/remote.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hw/device.h"
#include "web/bridge.h"

std::array<int, 2> rc_fd{-1, -1};
input_event rc_ev{};
// Starts at KEY_OK so that a stray OK record left over from whatever started the
// player is not taken as a key press before the first release has been seen.
uint16_t last_code = KEY_OK;

namespace {

constexpr int kNameLength = 128;
// Records other than key records one call reads past on one device at most, so that a
// device flooding them cannot hold the caller; what is left is read by the next call.
constexpr int kMaxSkippedRecords = 64;

// Reads one whole record from a slot into rc_ev; false when there is none.
bool read_record(int fd) {
    if (fd < 0) return false;
    input_event ev;
    ssize_t n = hw_read(fd, &ev, sizeof ev);
    if (n != static_cast<ssize_t>(sizeof ev)) return false;
    rc_ev = ev;
    return true;
}

// Reads records from a slot until a key record is in rc_ev; false when the slot has
// none. The kernel follows every key record with a report record (EV_SYN) and may put
// others (EV_MSC scan codes) before it; they say nothing about keys and are dropped.
bool read_key_record(int fd) {
    for (int i = 0; i <= kMaxSkippedRecords; ++i) {
        if (!read_record(fd)) return false;
        if (rc_ev.type == EV_KEY) return true;
    }
    return false;
}

}  // namespace

int rc_init() {
    rc_fd = {-1, -1};
    int found = 0;
    char buf[kNameLength];
    for (int n = 0; found < 2; ++n) {
        std::snprintf(buf, sizeof buf, "/dev/input/event%d", n);
        struct stat st;
        if (hw_stat(buf, &st) != 0) break;
        int fd = hw_open(buf, O_RDONLY | O_NONBLOCK | O_EXCL);
        rc_fd[found] = fd;
        if (fd < 0) {
            std::perror("rc_init: open");
            return 0;
        }
        // The kernel does not terminate a cut name: ask for one byte less and terminate it.
        char name[kNameLength];
        std::memset(name, 0, sizeof name);
        if (hw_ioctl(fd, EVIOCGNAME(sizeof name - 1), name) < 0) {
            std::perror("rc_init: EVIOCGNAME");
        } else {
            std::memcpy(buf, name, sizeof name);
        }
        if (std::strstr(buf, "remote control") != nullptr) {
            ++found;
        } else {
            hw_close(fd);
            rc_fd[found] = -1;
        }
    }
    if (rc_fd[0] != -1) return 1;
    std::perror("rc_init: No RC?");
    return 0;
}

int rc_read_key() {
    int result = -1;
    bool have_key = read_key_record(rc_fd[0]) || (rc_fd[1] != -1 && read_key_record(rc_fd[1]));
    if (have_key) {
        if (rc_ev.value == 0) {
            last_code = 0;
        } else if (rc_ev.code != last_code) {
            last_code = rc_ev.code;
            result = rc_ev.code;
        }
    }
    // The web page's keys come after the remote's, one a call like them.
    if (result < 0) result = web_take_key();
    hw_usleep(10000);
    return result;
}

void rc_deinit() {
    while (rc_read_key() >= 0) hw_usleep(10000);
    if (rc_fd[0] != -1) hw_close(rc_fd[0]);
    if (rc_fd[1] != -1) hw_close(rc_fd[1]);
    rc_fd = {-1, -1};
}
