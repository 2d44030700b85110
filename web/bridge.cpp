// The hand-over between the web server's threads and the main thread: a small key
// queue, a queue of commands each with a waiter, and the published snapshot. One lock
// each; nothing here draws or calls into the player.
#include "web/bridge.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

namespace {

constexpr size_t kKeyQueueSize = 16;
// A command taken by the main thread is waited for this long at most: the main thread
// may be converting a file; a request must still end some day.
constexpr std::chrono::seconds kLongestRun{120};

std::mutex key_mutex;
std::array<int, kKeyQueueSize> keys{};
size_t key_first = 0, key_count = 0;

struct pending_command {
    web_command command;
    web_result result;
    bool taken = false;
    bool done = false;
};

std::mutex command_mutex;
std::condition_variable command_changed;
std::deque<std::shared_ptr<pending_command>> commands;
std::shared_ptr<pending_command> running;  // taken by the main thread, not yet finished

std::mutex state_mutex;
web_state published;
// Under state_mutex: a 32-bit MIPS box has no lock-free 64-bit atomic.
uint64_t published_serial = 0;
std::atomic<bool> serving{false};
std::atomic<uint32_t> serving_generation{0};
std::string question;  // under state_mutex

std::mutex pairing_mutex;
bool pairing_asked = false;
std::string pairing_code;

std::atomic<web_forget_fn> forget_paired{nullptr};

}  // namespace

bool web_post_key(int code) {
    std::lock_guard lock(key_mutex);
    if (key_count == kKeyQueueSize) return false;
    keys[(key_first + key_count) % kKeyQueueSize] = code;
    ++key_count;
    return true;
}

int web_take_key() {
    std::lock_guard lock(key_mutex);
    if (key_count == 0) return -1;
    const int code = keys[key_first];
    key_first = (key_first + 1) % kKeyQueueSize;
    --key_count;
    return code;
}

void web_clear_keys() {
    std::lock_guard lock(key_mutex);
    key_first = key_count = 0;
}

web_result web_run_command(web_command command, int wait_ms) {
    std::shared_ptr<pending_command> p;
    try {
        p = std::make_shared<pending_command>();
        p->command = std::move(command);
    } catch (const std::bad_alloc&) {
        return {500, "geen geheugen"};
    }
    std::unique_lock lock(command_mutex);
    try {
        commands.push_back(p);
    } catch (const std::bad_alloc&) {
        return {500, "geen geheugen"};
    }
    const bool taken = command_changed.wait_for(lock, std::chrono::milliseconds(wait_ms),
                                                [&] { return p->taken; });
    if (!taken) {
        // Withdrawn: the main thread never sees it.
        for (auto i = commands.begin(); i != commands.end(); ++i) {
            if (*i == p) {
                commands.erase(i);
                break;
            }
        }
        return {409, "de tv toont een menu"};
    }
    if (!command_changed.wait_for(lock, kLongestRun, [&] { return p->done; })) {
        return {500, "de tv antwoordt niet"};
    }
    return std::move(p->result);
}

bool web_command_waiting() {
    std::lock_guard lock(command_mutex);
    return !commands.empty();
}

bool web_take_command(web_command& command) {
    std::lock_guard lock(command_mutex);
    if (commands.empty()) return false;
    running = std::move(commands.front());
    commands.pop_front();
    running->taken = true;
    command = std::move(running->command);
    command_changed.notify_all();
    return true;
}

void web_finish_command(web_result result) {
    std::lock_guard lock(command_mutex);
    if (!running) return;
    running->result = std::move(result);
    running->done = true;
    running.reset();
    command_changed.notify_all();
}

web_state web_snapshot() {
    std::lock_guard lock(state_mutex);
    try {
        return published;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

void web_publish(web_state state) {
    std::lock_guard lock(state_mutex);
    state.serial = ++published_serial;
    published = std::move(state);
}

void web_set_question(std::string_view text) {
    std::lock_guard lock(state_mutex);
    try {
        question.assign(text);
    } catch (const std::bad_alloc&) {
        question.clear();
    }
}

std::string web_question() {
    std::lock_guard lock(state_mutex);
    try {
        return question;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

uint64_t web_published_serial() {
    std::lock_guard lock(state_mutex);
    return published_serial;
}

void web_set_serving(bool on) {
    if (on && !serving.load(std::memory_order_relaxed)) serving_generation.fetch_add(1);
    serving.store(on, std::memory_order_relaxed);
}

uint32_t web_serving_generation() {
    return serving_generation.load(std::memory_order_relaxed);
}

bool web_serving() {
    return serving.load(std::memory_order_relaxed);
}

void web_show_pairing_code(std::string_view code) {
    std::lock_guard lock(pairing_mutex);
    try {
        pairing_code.assign(code);
        pairing_asked = true;
    } catch (const std::bad_alloc&) {
        // The code is not shown; the viewer asks again.
    }
}

bool web_take_pairing_code(std::string& code) {
    std::lock_guard lock(pairing_mutex);
    if (!pairing_asked) return false;
    pairing_asked = false;
    code.swap(pairing_code);
    pairing_code.clear();
    return true;
}

void web_set_forget_paired(web_forget_fn forget) {
    forget_paired.store(forget, std::memory_order_relaxed);
}

void web_forget_paired() {
    if (const web_forget_fn f = forget_paired.load(std::memory_order_relaxed)) f();
}
