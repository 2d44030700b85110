// Support for the fault-injection and soak tests: reading which modal screen is
// on screen, answering modal screens key by key, and the process's memory use.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace testsup {

// Width in pixels of the red title bar of an error box on screen (compare with
// menu_error_width), or 0 when no error box is shown.
int error_box_width();
// Whether the list menu's window (its blue title bar) is on screen.
bool list_menu_shown();

// What a modal_keys driver saw on screen just before it sent a key.
struct seen_screen {
    int error_box;  // error_box_width()
    bool list;      // list_menu_shown()
};

// Answers modal screens from a thread of its own. Each key is pressed on device 0
// only once the player polls for one (the queue is empty and it has read twice
// since, so any drain is over), after noting what the screen shows. Keys left over
// when the modal call has returned are not sent.
class modal_keys {
  public:
    explicit modal_keys(std::vector<int> keys);
    ~modal_keys();
    modal_keys(const modal_keys&) = delete;
    modal_keys& operator=(const modal_keys&) = delete;
    // The screens seen before the keys sent so far, in order.
    std::vector<seen_screen> seen() const;
    // Stops sending; called by the destructor.
    void stop();

  private:
    std::vector<int> keys_;
    std::vector<seen_screen> seen_;
    mutable std::mutex m_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Types keys from the remote's read hook, on the player's own thread, as a viewer
// would: each key (a press and a release on device dev) once the player has found
// the queue empty twice in a row, so a drain never eats it; the screen is noted
// just before. For a player run on the test's thread with sleeps scaled to nothing.
// Once the keys are used up, a player still reading 20000 times in one go is stuck
// in a modal screen: EXIT is pressed for it and stuck() says so.
class typed_keys {
  public:
    explicit typed_keys(std::vector<int> keys, int dev = 0);
    ~typed_keys();
    typed_keys(const typed_keys&) = delete;
    typed_keys& operator=(const typed_keys&) = delete;
    std::vector<seen_screen> seen() const;
    // Keys sent so far, and whether all were.
    size_t sent() const;
    bool done() const { return sent() == keys_.size(); }
    bool stuck() const;

  private:
    void on_read(int dev);
    std::vector<int> keys_;
    int dev_;
    size_t next_ = 0;
    int idle_ = 0;
    long after_ = 0;
    bool stuck_ = false;
    std::vector<seen_screen> seen_;
    mutable std::mutex m_;
};

// Resident set size of this process in KiB (VmRSS), 0 if unknown.
size_t rss_kib();

}  // namespace testsup
