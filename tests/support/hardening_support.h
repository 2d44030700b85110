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
// fb_error_sirka), or 0 when no error box is shown.
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

// Resident set size of this process in KiB (VmRSS), 0 if unknown.
size_t rss_kib();

}  // namespace testsup
