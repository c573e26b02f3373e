// Typed numbers and the go-to arithmetic: the go-to dialog turns an address in bytes,
// 16-bit words or sectors into a 1-based sector number.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace caspira {

// A typed number that cannot be read. The action that read it stops; the application shows
// the text.
class ConversionError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A typed number: hexadecimal when it ends in "H" or "h" (read up to the first character
// that is not a hexadecimal digit, keeping the low 32 bits), otherwise a signed 32-bit
// decimal number: an optional sign and digits, nothing else. Throws ConversionError for
// decimal text it cannot read, the empty text included.
std::int32_t ParseNumber(std::string_view text);

// The go-to dialog's state, which lives as long as the program.
namespace GotoUnit {
inline constexpr std::uint8_t Byte = 1;
inline constexpr std::uint8_t Word = 2;
inline constexpr std::uint8_t Sector = 3;
inline constexpr std::uint8_t UnitMask = 0x0F;
// Set while the dialog is open; still set after it closed without "OK".
inline constexpr std::uint8_t Pending = 0x10;
}  // namespace GotoUnit

struct GotoState {
  std::uint8_t GotoUnit = 0;     // low nibble: the unit; GotoUnit::Pending; 0: cancelled
  std::uint32_t GotoValue = 0;   // the number last confirmed
  std::uint32_t ViewSector = 0;  // 1-based; 0 at start
};

// The sector a confirmed dialog leads to, or nothing when it was cancelled or closed
// without "OK" (or names no unit).
std::optional<std::uint32_t> GotoSector(std::uint8_t gotoUnit, std::uint32_t value);

}  // namespace caspira
