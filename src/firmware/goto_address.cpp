#include "firmware/goto_address.h"

#include <charconv>

namespace caspira {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::int32_t ParseNumber(std::string_view text) {
  if (!text.empty() && (text.back() == 'H' || text.back() == 'h')) {
    std::uint32_t value = 0;
    for (char c : text.substr(0, text.size() - 1)) {
      const int digit = HexDigit(c);
      if (digit < 0) break;
      value = value * 16 + static_cast<std::uint32_t>(digit);  // the leading digits fall off
    }
    return static_cast<std::int32_t>(value);
  }
  // from_chars takes a minus sign but no plus sign.
  std::string_view digits = text;
  if (digits.size() > 1 && digits.front() == '+' && digits[1] != '-') digits.remove_prefix(1);
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
    throw ConversionError("\"" + std::string(text) + "\" is not a valid number");
  return value;
}

std::optional<std::uint32_t> GotoSector(std::uint8_t gotoUnit, std::uint32_t value) {
  if ((gotoUnit & GotoUnit::Pending) != 0) return std::nullopt;
  switch (gotoUnit) {
    case GotoUnit::Byte: return value / 512 + 1;
    case GotoUnit::Word: return value / 256 + 1;
    case GotoUnit::Sector: return value;
    default: return std::nullopt;
  }
}

}  // namespace caspira
