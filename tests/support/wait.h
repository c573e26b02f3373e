// Waiting for a condition in tests: generous timeouts, never fixed sleeps.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace caspira::testing {

inline constexpr std::chrono::seconds kGenerousTimeout{30};

// Polls `condition` until it holds or the timeout passes; `between` runs between polls
// (the GUI tests pass the Qt event pump).
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = kGenerousTimeout,
                    const std::function<void()>& between = {}) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (between) between();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace caspira::testing
