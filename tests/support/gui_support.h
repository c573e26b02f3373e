// Helpers for window tests.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <chrono>
#include <functional>
#include <ostream>

#include "support/wait.h"

namespace caspira::testing {

// Runs the Qt event loop until `condition` holds (or a generous timeout passes).
inline bool PumpUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = kGenerousTimeout) {
  return WaitFor(condition, timeout, [] { QCoreApplication::processEvents(); });
}

}  // namespace caspira::testing

// Failure messages show a window text as text (found by argument-dependent lookup, so it
// lives beside QString in the global namespace).
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
