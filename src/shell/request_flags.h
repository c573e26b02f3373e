// The byte of pending work that the polling thread services, and the monitoring bit.
#pragma once

#include <cstdint>

namespace caspira::RequestFlag {

inline constexpr std::uint8_t Poll = 0x01;           // read and present every checked device
inline constexpr std::uint8_t WriteSettings = 0x02;  // write buzzer mute and auto scan
inline constexpr std::uint8_t ScanCommand = 0x04;    // send the surface-scan start or stop
inline constexpr std::uint8_t Monitoring = 0x10;     // "Start" pressed, periodic polls run

inline constexpr std::uint8_t WorkBits = Poll | WriteSettings | ScanCommand;

}  // namespace caspira::RequestFlag
