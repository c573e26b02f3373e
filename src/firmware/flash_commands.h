// The controller commands that firmware work sends, in one place: the procedures speak in
// spans and records, this class speaks to the vendor command set.
#pragma once

#include <cstdint>
#include <span>

#include "controller/command_set.h"
#include "raid/raid_status_record.h"

namespace caspira {

class FlashCommands {
 public:
  FlashCommands(AppState& state, VendorCommandSet& commands) : state_(state), commands_(commands) {}

  bool EnterUpgradeMode();
  bool LeaveUpgradeMode();
  // The status record of the upgrade target (not of the device the window shows).
  bool ReadTargetRecord(RaidStatusRecord& record);
  bool Erase(std::uint32_t address, std::uint32_t length);
  bool Program(std::uint32_t address, std::span<const std::uint8_t> source);
  bool Read(std::uint32_t address, std::span<std::uint8_t> destination);

 private:
  AppState& state_;
  VendorCommandSet& commands_;
};

}  // namespace caspira
