// A clock and a random source that tests set by hand.
#pragma once

#include <atomic>
#include <deque>

#include "platform/clock.h"
#include "platform/random.h"

namespace caspira::testing {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(DateTime start = EncodeDateTime({2026, 12, 11, 9, 30, 0, 0})) : now_(start) {}
  DateTime Now() override { return now_.load(); }
  void Set(DateTime value) { now_ = value; }
  void AdvanceSeconds(double seconds) { now_ = now_.load() + seconds / 86400.0; }

 private:
  std::atomic<DateTime> now_;
};

// Returns the queued numbers in turn, then counts up from the last one.
class FakeRandom final : public Random {
 public:
  void Seed(std::uint32_t seed) override { seeds.push_back(seed); }
  std::uint32_t Next() override {
    if (!queued.empty()) {
      last_ = queued.front();
      queued.pop_front();
    } else {
      ++last_;
    }
    return last_;
  }

  std::deque<std::uint32_t> queued;
  std::deque<std::uint32_t> seeds;

 private:
  std::uint32_t last_ = 0;
};

}  // namespace caspira::testing
