// The controller's serial NOR flash: erase sets a 4 KB sector to 0xFF, a page program
// can only clear bits and stays inside its 256-byte page, addresses wrap at the end.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace caspira::sim {

class SpiFlash {
 public:
  // `size` must be a power of two between 4 KB and 16 MB (checked by the caller).
  explicit SpiFlash(std::uint32_t size);

  std::uint32_t size() const { return static_cast<std::uint32_t>(bytes_.size()); }
  // The byte address the chip decodes: the high address bits beyond its size are ignored.
  std::uint32_t Decode(std::uint32_t address) const { return address & (size() - 1); }

  void Read(std::uint32_t address, std::uint8_t* out, std::uint32_t length) const;
  // Programs `length` (at most 256) bytes from `address`; bytes past the page's end wrap
  // to the page's start, as the chip does. Bits only go from 1 to 0.
  void ProgramPage(std::uint32_t address, const std::uint8_t* data, std::uint32_t length);
  // Erases the 4 KB sector that holds `address`.
  void EraseSector(std::uint32_t address);
  // Sets bytes directly, as a programmer clip would (tests and power-on images).
  void Preset(std::uint32_t address, const std::uint8_t* data, std::uint32_t length);

  // A bit that programming never clears.
  void AddStuckBit(std::uint32_t address, unsigned bit);
  void ClearStuckBits() { stuck_.clear(); }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::map<std::uint32_t, std::uint8_t> stuck_;  // address -> bits held at 1
};

}  // namespace caspira::sim
