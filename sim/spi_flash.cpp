#include "sim/spi_flash.h"

#include <algorithm>

#include "sim/sim_types.h"

namespace caspira::sim {

SpiFlash::SpiFlash(std::uint32_t size) : bytes_(size, 0xFF) {}

void SpiFlash::Read(std::uint32_t address, std::uint8_t* out, std::uint32_t length) const {
  for (std::uint32_t i = 0; i < length; ++i) out[i] = bytes_[Decode(address + i)];
}

void SpiFlash::ProgramPage(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
  const std::uint32_t start = Decode(address);
  const std::uint32_t page = start & ~(kFlashPageSize - 1);
  length = std::min(length, kFlashPageSize);
  for (std::uint32_t i = 0; i < length; ++i) {
    const std::uint32_t at = page + ((start - page + i) & (kFlashPageSize - 1));
    std::uint8_t value = bytes_[at] & data[i];
    if (const auto it = stuck_.find(at); it != stuck_.end()) value |= it->second;
    bytes_[at] = value;
  }
}

void SpiFlash::EraseSector(std::uint32_t address) {
  const std::uint32_t start = Decode(address) & ~(kFlashSectorSize - 1);
  const std::uint32_t end = std::min<std::uint32_t>(start + kFlashSectorSize, size());
  std::fill(bytes_.begin() + start, bytes_.begin() + end, 0xFF);
}

void SpiFlash::Preset(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
  for (std::uint32_t i = 0; i < length; ++i) bytes_[Decode(address + i)] = data[i];
}

void SpiFlash::AddStuckBit(std::uint32_t address, unsigned bit) {
  stuck_[Decode(address)] |= static_cast<std::uint8_t>(1u << (bit & 7));
}

}  // namespace caspira::sim
