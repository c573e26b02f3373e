// Byte layouts shared by the simulated devices.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace caspira::sim {

// A text in ATA string order: padded with blanks to `length`, the two bytes of every
// 16-bit word swapped.
inline void PutAtaString(std::uint8_t* out, std::size_t length, std::string_view text) {
  for (std::size_t i = 0; i < length; ++i) {
    const char c = i < text.size() ? text[i] : ' ';
    out[i ^ 1] = static_cast<std::uint8_t>(c);
  }
}

inline void PutLe(std::uint8_t* out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint64_t GetLe(const std::uint8_t* in, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i > 0; --i) value = (value << 8) | in[i - 1];
  return value;
}

inline std::uint64_t GetBe(const std::uint8_t* in, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value = (value << 8) | in[i];
  return value;
}

inline void PutBe(std::uint8_t* out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
}

// A small deterministic noise source (xorshift), for generated flash contents and garbage.
class Noise {
 public:
  explicit Noise(std::uint32_t seed) : state_(seed == 0 ? 0x9E3779B9u : seed) {}
  std::uint8_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<std::uint8_t>(state_ >> 11);
  }

 private:
  std::uint32_t state_;
};

}  // namespace caspira::sim
