// What the program does with a host's answers, in the order it does it: count the drives and
// volumes, identify the enclosures, show what their information sectors say, then read each
// found controller's status record and a piece of its flash.
//
// The run starts from a small header (written by make_device_seeds, mutated by the fuzzer):
//   flags (bit 0: a device is being upgraded), that device's slot value, a slot to use when
//   identification finds nothing, the flash address (24 bits) and length (in 512-byte steps)
//   to read.
#pragma once

#include <string>
#include <vector>

#include "controller/command_set.h"
#include "device/device_info.h"
#include "device/discovery.h"
#include "platform/random.h"
#include "support/byte_script.h"

namespace caspira::fuzz {

class SilentDialogs final : public Dialogs {
 public:
  void ShowMessage(const Message&) override {}
  bool AskYesNo(const Message&) override { return false; }
  std::vector<std::string> OpenFiles(const FileDialogOptions&) override { return {}; }
  std::string SaveFile(const FileDialogOptions&) override { return {}; }
};

struct ExerciseHeader {
  bool upgrading = false;
  std::uint8_t upgradeSlotValue = 0;
  std::uint8_t fallbackSlot = 0;
  std::uint32_t readAddress = 0;
  std::uint8_t readSteps = 0;

  static ExerciseHeader Read(ByteScript& s) {
    ExerciseHeader h;
    h.upgrading = s.Bool();
    h.upgradeSlotValue = s.U8();
    h.fallbackSlot = s.U8();
    h.readAddress = s.U32() & 0xFFFFFF;
    h.readSteps = s.U8();
    return h;
  }
  void Write(ByteWriter& w) const {
    w.Bool(upgrading);
    w.U8(upgradeSlotValue);
    w.U8(fallbackSlot);
    w.U32(readAddress);
    w.U8(readSteps);
  }
};

// Everything a run found, to compare a recording with its replay.
struct ExerciseOutcome {
  std::vector<DeviceSlot> slots;
  std::vector<std::string> models;
  std::vector<bool> recordsRead;
  friend bool operator==(const ExerciseOutcome&, const ExerciseOutcome&) = default;
};

inline ExerciseOutcome Exercise(DeviceHost& host, const ExerciseHeader& header) {
  ExerciseOutcome outcome;
  SilentDialogs dialogs;
  Transport transport{host};

  DetectionInput input;
  input.driveLetters = EnumerateDriveLetters(host);
  input.driveLetterCount = static_cast<std::int32_t>(input.driveLetters.size());
  input.physicalDriveCount = CountPhysicalDrives(transport);
  if (header.upgrading) input.upgradeSlotValue = header.upgradeSlotValue;
  const DetectionResult result = RunDetection(transport, input, DetectionTables{});

  AppState state;
  state.DeviceCount = result.tables.deviceCount;
  state.DeviceSlots = result.tables.deviceSlots;
  state.DriveTable = result.tables.driveTable;
  state.DriveLetterCount = input.driveLetterCount;
  for (std::int32_t i = 0; i < state.DeviceCount; ++i) {
    const DeviceSlot slot = state.DeviceSlots[static_cast<std::size_t>(i)];
    outcome.slots.push_back(slot);
    const Sector& info = result.tables.driveSectorBuffers[SlotDisk(slot) % kMaxPhysicalDrives];
    const std::string revision = FirmwareRevisionOf(info);
    outcome.models.push_back(ControllerModelOf(info));
    (void)FirmwareRevisionText(info);
    (void)AutoScanSupportedFor(revision);
    state.CurrentSlot = i;
    (void)DeviceCaption("Caspira", outcome.models.back(), FixedVolumesOnDisk(state, SlotDisk(slot)));
    (void)BuildDeviceLabel(state);
  }
  if (state.DeviceCount == 0) {  // still let the command set meet the device, on some path
    state.DeviceCount = 1;
    state.DeviceSlots[0] = header.fallbackSlot;
  }

  StdRandom random;
  VendorCommandSet commands(state, transport, random, CommandUi{dialogs, {}, {}, {}});
  const std::int32_t devices = std::min<std::int32_t>(state.DeviceCount, 2);
  for (std::int32_t i = 0; i < devices; ++i) {
    state.CurrentSlot = i;
    Sector record{};
    outcome.recordsRead.push_back(commands.ReadSpiRecord(record));

    state.UpgradeSlot = i;
    const std::uint32_t length = (header.readSteps % 4 + 1u) * kFlashReadStep;
    std::vector<std::uint8_t> flash(length);
    (void)commands.ReadSpi(header.readAddress, length, flash);
    state.ClearUpgradeTarget();
  }
  return outcome;
}

}  // namespace caspira::fuzz
