// What the event recorder has already reported for one device.
#pragma once

#include <cstdint>

namespace caspira {

struct DeviceEventState {
  std::uint8_t prevPortFlags = 0;   // the portFlags value last compared
  bool scanActive = false;          // the activity last seen is a surface scan
  bool stopRequested = false;       // a stop-scan command was sent since the last poll
  std::uint8_t badSectorsSeen = 0;  // badSectorCount already logged
  std::uint8_t lastPercent = 0xFF;  // last percent logged; 0xFF = nothing tracked
  std::uint8_t progressSide = 0;    // 0 = P0 side, 1 = P1 side
};

}  // namespace caspira
