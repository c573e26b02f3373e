// Texts of the main window's clock labels.
#pragma once

#include <string>

#include "platform/clock.h"

namespace caspira {

inline std::string StartTimeText(DateTime start) {
  return "GUI start Time : " + FormatDateTimeC(start);
}
inline std::string RemovedAtText(DateTime moment) {
  return "Drive removed at: " + FormatDateTimeC(moment);
}
inline std::string ElapsedText(DateTime start, DateTime now) {
  return "Time Elapsed " + FormatElapsed(now - start);
}
inline constexpr const char* kElapsedDesignText = "Time Elapsed 0-00:00:00";

}  // namespace caspira
