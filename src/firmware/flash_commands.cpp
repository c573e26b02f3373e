#include "firmware/flash_commands.h"

#include "shell/scoped_flag.h"

namespace caspira {

bool FlashCommands::EnterUpgradeMode() {
  return commands_.SetControllerMode(ControllerMode::UpgradeModeEnter);
}

bool FlashCommands::LeaveUpgradeMode() {
  return commands_.SetControllerMode(ControllerMode::UpgradeModeLeave);
}

bool FlashCommands::ReadTargetRecord(RaidStatusRecord& record) {
  Sector bytes{};
  bool ok = false;
  {
    // The record read addresses the upgrade target only while this is set.
    const ScopedFlag upgrading(state_.UpgradeInProgress);
    ok = commands_.ReadSpiRecord(bytes);
  }
  if (ok) record = DecodeRaidStatusRecord(bytes);
  return ok;
}

bool FlashCommands::Erase(std::uint32_t address, std::uint32_t length) {
  return commands_.EraseSpi(address, length);
}

bool FlashCommands::Program(std::uint32_t address, std::span<const std::uint8_t> source) {
  return commands_.WriteSpi(address, static_cast<std::uint32_t>(source.size()), source);
}

bool FlashCommands::Read(std::uint32_t address, std::span<std::uint8_t> destination) {
  return commands_.ReadSpi(address, static_cast<std::uint32_t>(destination.size()), destination);
}

}  // namespace caspira
