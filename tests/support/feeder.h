// Feeds key presses to a modal wait from a second thread.
//
// A modal screen drains pending keys before it waits, so presses meant as its
// answer must arrive after the drain: each press here is sent only once the
// remote's queue is empty again, a short settle time has passed, and the player
// has read the empty queue three more times (it is polling, not draining).
#pragma once

#include <atomic>
#include <thread>
#include <vector>

namespace testsup {

class key_feeder {
  public:
    // Presses each code in turn on device 0, each after the previous one was read.
    explicit key_feeder(std::vector<int> codes, int settle_ms = 60);
    ~key_feeder();
    key_feeder(const key_feeder&) = delete;
    key_feeder& operator=(const key_feeder&) = delete;
    // True once every press has been sent and read.
    bool done() const { return done_.load(); }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace testsup
