#include "tests/support/feeder.h"

#include <chrono>

#include "sim/model.h"
#include "tests/support/support.h"

namespace testsup {

key_feeder::key_feeder(std::vector<int> codes, int settle_ms)
    : thread_([this, codes = std::move(codes), settle_ms] {
          auto empty = [this] { return stop_.load() || sim::input_pending(0) == 0; };
          for (int code : codes) {
              if (!wait_until(empty, 20000) || stop_) return;
              std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
              // A drain reads until the queue is empty once; a wait for a key reads it
              // again and again. Three empty reads more: the player is waiting, however
              // slow the machine (pressed anyway after the deadline).
              const uint64_t reads = sim::input_reads(0);
              wait_until([&] { return stop_.load() || sim::input_reads(0) >= reads + 3; }, 20000);
              if (stop_) return;
              press(code);
          }
          wait_until(empty, 20000);
          done_ = true;
      }) {}

key_feeder::~key_feeder() {
    stop_ = true;
    thread_.join();
}

}  // namespace testsup
