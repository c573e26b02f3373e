// TRaidThread: hands pending work from RequestFlags to the window thread, one request
// per turn, and waits for it. It touches nothing else.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/loop_thread.h"

namespace caspira {

class TRaidThread {
 public:
  static constexpr std::chrono::milliseconds kPeriod{50};

  // `synchronize` runs ServiceRequests on the window thread and returns when it is done
  // or when `StopRequested()` turns true.
  TRaidThread(const std::atomic<bool>& detecting, const std::atomic<std::uint8_t>& requestFlags,
              std::function<void()> synchronize, std::chrono::microseconds period = kPeriod);

  void Start() { loop_.Start(); }
  void Stop() { loop_.Stop(); }
  void RequestStop() { loop_.RequestStop(); }
  bool StopRequested() const { return loop_.StopRequested(); }

 private:
  bool Turn();

  const std::atomic<bool>& detecting_;
  const std::atomic<std::uint8_t>& requestFlags_;
  std::function<void()> synchronize_;
  LoopThread loop_;
};

}  // namespace caspira
