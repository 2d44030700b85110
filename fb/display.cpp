// Taking the box's display over and giving it back, and the manual blit.
//
// A signal handler may only do async-signal-safe things, and the player's own
// shut-down cannot be reached from one (the main thread may be inside a menu's key
// wait, or hold the locks). So everything the handler needs is prepared while the
// display is set up: it clears the mapping, blits, puts the found mode back with the
// ioctls, and then lets the signal do what it did before the player took over
// (by default: end the process, as it always has).
#include "fb/display.h"

#include <pthread.h>
#include <signal.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hw/device.h"

namespace {

// The blit of drivers in manual-blit mode: request number 0x22 as it is, without
// the 'F' type, a direction or a size (unlike the switch, _IOW('F', 0x21, __u8),
// which the box software uses and the player never does).
constexpr unsigned long kFbioBlit = 0x22;

// What the driver said to the first blit.
enum : int { kBlitUntried, kBlitWorks, kBlitMissing };
std::atomic<int> blit_support{kBlitUntried};

constexpr std::array<int, 2> kSignals{SIGTERM, SIGINT};

// What a way out puts back, prepared before the handlers are installed and left
// alone while they are.
struct give_back_plan {
    int fd = -1;
    fb_var_screeninfo found{};
};
give_back_plan plan;
// Set once the player's mode is in force and the plan is complete; whoever takes it
// (the shut-down or a handler) gives the display back, once.
std::atomic<bool> armed{false};
std::atomic<uint32_t*> signal_mem{nullptr};
std::atomic<size_t> signal_length{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
              std::atomic<uint32_t*>::is_always_lock_free &&
              std::atomic<size_t>::is_always_lock_free);

// The dispositions the program had before the player's handlers; whether installed.
// A handler may run on any thread as soon as sigaction has put it in place, so the
// flag is set (releasing the disposition written before it) before that.
std::array<struct sigaction, kSignals.size()> previous{};
std::array<std::atomic<bool>, kSignals.size()> installed{};

// Puts the found mode back, then the found page when the mode alone did not.
// Async-signal-safe with the signal-safe ioctl.
void put_back(int (*ioctl_call)(int, unsigned long, void*)) {
    fb_var_screeninfo mode = plan.found;  // the driver writes the mode it took into it
    if (ioctl_call(plan.fd, FBIOPUT_VSCREENINFO, &mode) == -1) return;
    if (mode.xoffset == plan.found.xoffset && mode.yoffset == plan.found.yoffset) return;
    fb_var_screeninfo page = plan.found;
    ioctl_call(plan.fd, FBIOPAN_DISPLAY, &page);
}

extern "C" void give_back_on_signal(int sig) {
    const int saved_errno = errno;
    if (armed.exchange(false)) {
        uint32_t* mem = signal_mem.load();
        if (mem != nullptr) {
            std::memset(mem, 0, signal_length.load());
            if (blit_support.load() != kBlitMissing) {
                hw_ioctl_in_signal(plan.fd, kFbioBlit, nullptr);
            }
        }
        put_back(hw_ioctl_in_signal);
    }
    for (size_t i = 0; i < kSignals.size(); ++i) {
        if (kSignals[i] == sig && installed[i].load(std::memory_order_acquire))
            sigaction(sig, &previous[i], nullptr);
    }
    // Blocked while the handler runs: delivered, as before, once it returns.
    raise(sig);
    errno = saved_errno;
}

void install_handlers() {
    for (size_t i = 0; i < kSignals.size(); ++i) {
        installed[i] = false;
        struct sigaction was {};
        if (sigaction(kSignals[i], nullptr, &was) == -1 || was.sa_handler == SIG_IGN) continue;
        previous[i] = was;
        struct sigaction act {};
        act.sa_handler = give_back_on_signal;
        sigemptyset(&act.sa_mask);
        for (int s : kSignals) sigaddset(&act.sa_mask, s);
        act.sa_flags = SA_RESTART;
        installed[i].store(true, std::memory_order_release);
        if (sigaction(kSignals[i], &act, nullptr) != 0) installed[i] = false;
    }
}

void restore_handlers() {
    for (size_t i = 0; i < kSignals.size(); ++i) {
        // Put back before the flag clears: a handler running in between still finds
        // the disposition to hand the signal on to.
        if (installed[i]) sigaction(kSignals[i], &previous[i], nullptr);
        installed[i] = false;
    }
}

}  // namespace

void fb_display_remember(const fb_var_screeninfo& found) {
    plan.found = found;
    blit_support = kBlitUntried;
}

void fb_display_taken_over(int fd) {
    plan.fd = fd;
    armed = true;
    install_handlers();
}

void fb_display_show_first_page(int fd, fb_var_screeninfo& var) {
    if (var.yoffset == 0) return;
    fb_var_screeninfo first = var;
    first.yoffset = 0;
    if (hw_ioctl(fd, FBIOPAN_DISPLAY, &first) == -1) {
        std::perror("fb_init: FBIOPAN_DISPLAY");
        return;
    }
    var.yoffset = 0;
}

void fb_display_set_mapping(uint32_t* mem, size_t length) {
    signal_mem = nullptr;
    signal_length = length;
    signal_mem = mem;
}

void fb_display_blit(int fd) {
    if (blit_support.load() == kBlitMissing) return;
    if (hw_ioctl(fd, kFbioBlit, nullptr) == 0) {
        int untried = kBlitUntried;
        blit_support.compare_exchange_strong(untried, kBlitWorks);
        return;
    }
    if ((errno == ENOTTY || errno == EINVAL) && blit_support.load() == kBlitUntried) {
        blit_support = kBlitMissing;
    }
}

void fb_display_give_back(int fd) {
    // A signal now would find the plan half carried out: it waits until the handlers
    // are gone and then acts as it did before the player took over.
    sigset_t block, was;
    sigemptyset(&block);
    for (int s : kSignals) sigaddset(&block, s);
    pthread_sigmask(SIG_BLOCK, &block, &was);
    signal_mem = nullptr;
    if (armed.exchange(false)) {
        plan.fd = fd;
        put_back(hw_ioctl);
    }
    restore_handlers();
    pthread_sigmask(SIG_SETMASK, &was, nullptr);
}
