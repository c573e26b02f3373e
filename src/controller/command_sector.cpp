#include "controller/command_sector.h"

#include "device/device_slot.h"

namespace caspira {

std::uint16_t CommandSectorSum(const Sector& sector) {
  std::uint32_t sum = 0;
  for (std::size_t i = CommandSectorLayout::Payload; i <= CommandSectorLayout::PayloadEnd; ++i)
    sum += sector[i];
  return static_cast<std::uint16_t>(sum);
}

void StampCommandSector(Sector& sector) {
  sector[CommandSectorLayout::Tag] = kControllerTag[0];
  sector[CommandSectorLayout::Tag + 1] = kControllerTag[1];
  const std::uint16_t sum = CommandSectorSum(sector);
  sector[CommandSectorLayout::Sum] = static_cast<std::uint8_t>(sum);
  sector[CommandSectorLayout::Sum + 1] = static_cast<std::uint8_t>(sum >> 8);
}

void SetCommandAddress(Sector& sector, std::uint32_t address) {
  sector[CommandSectorLayout::Address] = static_cast<std::uint8_t>(address >> 16);
  sector[CommandSectorLayout::Address + 1] = static_cast<std::uint8_t>(address >> 8);
  sector[CommandSectorLayout::Address + 2] = static_cast<std::uint8_t>(address);
}

void PutLba48(Sector& sector, std::size_t offset, std::uint64_t lba) {
  for (std::size_t i = 0; i < 6; ++i) sector[offset + i] = static_cast<std::uint8_t>(lba >> (8 * i));
}

}  // namespace caspira
