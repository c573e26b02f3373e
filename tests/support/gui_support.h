// Helpers for window tests.
#pragma once

#include <QCoreApplication>
#include <chrono>
#include <functional>

#include "support/wait.h"

namespace caspira::testing {

// Runs the Qt event loop until `condition` holds (or a generous timeout passes).
inline bool PumpUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = kGenerousTimeout) {
  return WaitFor(condition, timeout, [] { QCoreApplication::processEvents(); });
}

}  // namespace caspira::testing
