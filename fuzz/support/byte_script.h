// Reading a fuzz input front to back as a script of small numbers and byte strings, and
// writing one (for seeds). Past the end every read gives zeros, so a short input is still a
// complete script: whatever it does not say is "no", "nothing" or "fails".
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace caspira::fuzz {

class ByteScript {
 public:
  ByteScript(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool AtEnd() const { return at_ >= size_; }
  std::size_t Remaining() const { return AtEnd() ? 0 : size_ - at_; }

  std::uint8_t U8() { return AtEnd() ? 0 : data_[at_++]; }
  std::uint16_t U16() {
    const std::uint16_t low = U8();
    return static_cast<std::uint16_t>(low | (U8() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | (std::uint32_t{U16()} << 16);
  }
  bool Bool() { return (U8() & 1) != 0; }

  // Up to `n` bytes (fewer at the end of the input).
  std::span<const std::uint8_t> Bytes(std::size_t n) {
    const std::size_t take = std::min(n, Remaining());
    const std::span<const std::uint8_t> bytes(data_ + at_, take);
    at_ += take;
    return bytes;
  }
  // A length byte (at most `max`), then that many bytes as text.
  std::string Text(std::size_t max) {
    const auto bytes = Bytes(std::min<std::size_t>(U8(), max));
    return {bytes.begin(), bytes.end()};
  }
  // Everything not read yet.
  std::span<const std::uint8_t> Rest() { return Bytes(Remaining()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Writes what ByteScript reads.
class ByteWriter {
 public:
  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void Bool(bool v) { U8(v ? 1 : 0); }
  void Bytes(std::span<const std::uint8_t> v) { bytes_.insert(bytes_.end(), v.begin(), v.end()); }
  void Text(const std::string& v) {
    const std::size_t n = std::min<std::size_t>(v.size(), 255);
    U8(static_cast<std::uint8_t>(n));
    bytes_.insert(bytes_.end(), v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
  }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace caspira::fuzz
