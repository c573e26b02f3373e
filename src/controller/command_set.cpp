#include "controller/command_set.h"

#include <algorithm>
#include <cstdio>

#include "device/device_slot.h"

namespace caspira {
namespace {

constexpr const char* kDeviceNotFound = "Device not found!!!";
constexpr const char* kNoUpgradeMode = "No Upgrade Mode!!!";
constexpr const char* kLba20WriteError = "Write Error for LBA = 20 and sector count = 1";
constexpr const char* kLba60ReadError = "Read Error for LBA = 60 and sector count = 1";

constexpr std::size_t kSettingsAutoScanByte = CommandSectorLayout::Address;
constexpr std::size_t kScanDiskByte = CommandSectorLayout::Address;
constexpr std::size_t kScanFirstLba = 7;
constexpr std::size_t kScanLastLba = 13;
constexpr std::size_t kPageProgramMarker = 509;
constexpr std::uint8_t kPageProgramMarkerValue = 0x55;

struct ModeMapping {
  std::uint8_t code;
  std::uint8_t parameter;
};

// The mailbox command of a mode code, or nothing for a code the controller does not know.
std::optional<ModeMapping> MailboxModeCommand(std::uint8_t mode) {
  switch (mode) {
    case ControllerMode::SpiAccessEnd: return ModeMapping{CommandCode::SpiAccess, 0};
    case ControllerMode::SpiAccessBegin: return ModeMapping{CommandCode::SpiAccess, 1};
    case ControllerMode::LowAreaUnlock: return ModeMapping{CommandCode::LowArea, 1};
    case ControllerMode::LowAreaLock: return ModeMapping{CommandCode::LowArea, 0};
    case ControllerMode::UpgradeModeLeave: return ModeMapping{CommandCode::UpgradeMode, 0};
    case ControllerMode::UpgradeModeEnter: return ModeMapping{CommandCode::UpgradeMode, 1};
    default: return std::nullopt;
  }
}

bool OpensItsOwnDevice(std::uint8_t mode) {
  return (mode & 0x10) != 0;
}

// The buffer holds every step of `length` bytes in `stride` steps, the last one whole.
bool CoversSteps(std::size_t size, std::uint32_t length, std::uint32_t stride) {
  const std::uint64_t steps = (std::uint64_t{length} + stride - 1) / stride;
  return size >= steps * stride;
}

}  // namespace

CommandPath PathOfSlot(DeviceSlot slot) {
  if ((slot & SlotVendorScsiPath) != 0) return CommandPath::VendorScsi;
  if ((slot & SlotSectorTag) != 0) return CommandPath::Mailbox;
  return CommandPath::Ata;
}

// One exchange: the open device and the path its slot names, fixed when it was opened.
struct VendorCommandSet::Opened {
  DeviceHandle handle;
  DeviceSlot slot = 0;
  CommandPath path = CommandPath::Ata;
};

// Marks a flash operation as running for its whole length.
class VendorCommandSet::FlashGuard {
 public:
  explicit FlashGuard(bool& running) : running_(running) { running_ = true; }
  ~FlashGuard() { running_ = false; }

 private:
  bool& running_;
};

VendorCommandSet::VendorCommandSet(AppState& state, const Transport& transport, Random& random, CommandUi ui)
    : state_(state), transport_(transport), random_(random), ui_(std::move(ui)) {}

bool VendorCommandSet::Fail(const std::string& status) {
  if (ui_.setStatus) ui_.setStatus(status);
  return false;
}

bool VendorCommandSet::NoDeviceFailure() {
  Fail(kDeviceNotFound);
  ui_.dialogs.ShowMessage(AppMessage("No Device found !"));
  return false;
}

bool VendorCommandSet::NoUpgradeModeFailure() {
  Fail(kNoUpgradeMode);
  ui_.dialogs.ShowMessage(AppMessage("No Upgrade Mode !"));
  return false;
}

bool VendorCommandSet::InvalidDriveFailure() {
  ui_.dialogs.ShowMessage(SystemMessage("Invalid Drive"));
  return false;
}

bool VendorCommandSet::OpenSlot(std::int32_t slotIndex, Opened& opened) {
  // A slot index outside the table names no device at all.
  if (slotIndex < 0 || slotIndex >= kMaxDeviceSlots) return InvalidDriveFailure();
  opened.slot = state_.DeviceSlots[static_cast<std::size_t>(slotIndex)];
  opened.path = PathOfSlot(opened.slot);
  opened.handle = OpenDevice(transport_, static_cast<std::uint8_t>(SlotDisk(opened.slot)));
  if (!opened.handle) return InvalidDriveFailure();
  opened.handle.vendorCdbShift = SlotCdbShift(opened.slot);
  return true;
}

bool VendorCommandSet::EnterFlashOperation(Opened& opened) {
  if (state_.DeviceCount == 0) return NoDeviceFailure();
  const auto target = state_.UpgradeTarget();
  if (!target || static_cast<std::int32_t>(*target) >= state_.DeviceCount) return NoUpgradeModeFailure();
  return OpenSlot(static_cast<std::int32_t>(*target), opened);
}

bool VendorCommandSet::WriteCommandSector(Opened& opened, std::uint32_t lba) {
  StampCommandSector(state_.CommandSector);
  return WriteSectors(opened.handle, lba, 1, state_.CommandSector).Succeeded();
}

bool VendorCommandSet::WriteToVaryingMailbox(Opened& opened) {
  state_.MailboxLba = (random_.Next() & 0x7F) + kFirstVaryingMailboxLba;
  if (WriteCommandSector(opened, state_.MailboxLba)) return true;
  return Fail("Write Error at Sec_CNT=1 LBA=" + std::to_string(state_.MailboxLba));
}

bool VendorCommandSet::AtaVendorCommand(Opened& opened, std::uint8_t features, std::uint32_t address) {
  AtaRegisters regs;
  regs[AtaRegisters::Features] = features;
  regs[AtaRegisters::LbaLow] = static_cast<std::uint8_t>(address);
  regs[AtaRegisters::LbaMid] = static_cast<std::uint8_t>(address >> 8);
  regs[AtaRegisters::LbaHigh] = static_cast<std::uint8_t>(address >> 16);
  regs[AtaRegisters::Device] = 0xE0;
  regs[AtaRegisters::Command] = kAtaVendorCommand;
  const RequestOutcome outcome = SendAtaCommand(opened.handle, regs, {}, 0);
  if (outcome.category == RequestCategory::NoMemory)
    ui_.dialogs.ShowMessage(SystemMessage(kRequestMemoryMessage));
  return outcome.Succeeded();
}

bool VendorCommandSet::SendMode(Opened& opened, std::uint8_t code) {
  switch (opened.path) {
    case CommandPath::VendorScsi: return true;  // the vendor path has no mode commands
    case CommandPath::Mailbox: {
      const auto command = MailboxModeCommand(code);
      if (!command) return false;
      state_.CommandSector[CommandSectorLayout::Code] = command->code;
      state_.CommandSector[CommandSectorLayout::Parameter] = command->parameter;
      return WriteToVaryingMailbox(opened);
    }
    case CommandPath::Ata:
      if (AtaVendorCommand(opened, code, 0)) return true;
      char text[48];
      std::snprintf(text, sizeof text, "VU command 0x88 FEA %02X Error", code);
      return Fail(text);
  }
  return false;
}

bool VendorCommandSet::SetControllerMode(std::uint8_t code) {
  const auto target = state_.UpgradeTarget();
  const std::int32_t addressed = target ? static_cast<std::int32_t>(*target) : state_.CurrentSlot;
  if (addressed >= 0 && addressed < kMaxDeviceSlots &&
      PathOfSlot(state_.DeviceSlots[static_cast<std::size_t>(addressed)]) == CommandPath::VendorScsi)
    return true;                               // nothing is sent, nothing is opened
  if (!OpensItsOwnDevice(code)) return false;  // the others belong inside a flash operation
  Opened opened;
  if (!EnterFlashOperation(opened)) return false;
  return SendMode(opened, code);
}

bool VendorCommandSet::LeaveFlashOperation(Opened& opened, bool unlocked, bool ok) {
  if (unlocked && !SendMode(opened, ControllerMode::LowAreaLock)) ok = false;
  if (!SendMode(opened, ControllerMode::SpiAccessEnd)) ok = false;
  return ok;
}

bool VendorCommandSet::BeginFlashOperation(Opened& opened, bool unlock) {
  if (flashRunning_) return false;  // one flash operation at a time
  if (!EnterFlashOperation(opened) || !SendMode(opened, ControllerMode::SpiAccessBegin)) return false;
  if (unlock && !SendMode(opened, ControllerMode::LowAreaUnlock)) {
    SendMode(opened, ControllerMode::SpiAccessEnd);
    return false;
  }
  return true;
}

void VendorCommandSet::PrepareFlashCommand(std::uint8_t code, std::uint8_t parameter) {
  Sector& sector = state_.CommandSector;
  StampCommandSector(sector);
  sector[CommandSectorLayout::Code] = code;
  sector[CommandSectorLayout::Parameter] = parameter;
}

template <typename Step>
bool VendorCommandSet::FlashSteps(std::uint32_t address, std::uint32_t length, std::uint32_t stride,
                                  Step&& step) {
  for (std::uint32_t offset = 0; offset < length; offset += stride) {
    const std::uint32_t a = address + offset;
    SetCommandAddress(state_.CommandSector, a);
    if (ui_.pump) ui_.pump();
    if (!step(a, offset)) return false;  // a failed step ends the loop
  }
  return true;
}

bool VendorCommandSet::ReadSpi(std::uint32_t address, std::uint32_t length,
                               std::span<std::uint8_t> destination) {
  if (!CoversSteps(destination.size(), length, kFlashReadStep)) return false;
  Opened opened;
  if (!BeginFlashOperation(opened, false)) return false;
  FlashGuard running(flashRunning_);

  PrepareFlashCommand(CommandCode::FlashRead, 0x03);
  const bool ok = FlashSteps(address, length, kFlashReadStep, [&](std::uint32_t a, std::uint32_t offset) {
    const std::span<std::uint8_t> into = destination.subspan(offset, kFlashReadStep);
    bool done = false;
    switch (opened.path) {
      case CommandPath::VendorScsi:
        done = SendVendorCommand(opened.handle, VendorCommandKind::FlashRead, into, a) ||
               Fail("Read SPI Error USB");
        break;
      case CommandPath::Mailbox:
        done = WriteToVaryingMailbox(opened) &&
               (ReadSectors(opened.handle, kFlashDataLba, 1, into) || Fail(kLba60ReadError));
        break;
      case CommandPath::Ata:
        done = (AtaVendorCommand(opened, kAtaFeatureFlashRead, a) ||
                Fail("VU command 0x88 FEA 0x01 Read Error")) &&
               (ReadSectors(opened.handle, kFlashDataLba, 1, into) || Fail(kLba60ReadError));
        break;
    }
    if (done) ++state_.ProgressCount;
    return done;
  });
  return LeaveFlashOperation(opened, false, ok);
}

bool VendorCommandSet::WriteSpi(std::uint32_t address, std::uint32_t length,
                                std::span<const std::uint8_t> source) {
  if (!CoversSteps(source.size(), length, kFlashPageSize)) return false;
  const bool unlock = address < LowAreaLimit;
  Opened opened;
  if (!BeginFlashOperation(opened, unlock)) return false;
  FlashGuard running(flashRunning_);

  Sector& sector = state_.CommandSector;
  sector[kPageProgramMarker] = kPageProgramMarkerValue;
  PrepareFlashCommand(CommandCode::PageProgram, 0x02);
  std::array<std::uint8_t, kFlashPageSize> page{};
  const bool ok = FlashSteps(address, length, kFlashPageSize, [&](std::uint32_t a, std::uint32_t offset) {
    const auto from = source.subspan(offset, kFlashPageSize);
    bool done = false;
    if (opened.path == CommandPath::VendorScsi) {
      std::copy(from.begin(), from.end(), page.begin());
      done = SendVendorCommand(opened.handle, VendorCommandKind::PageProgram, page, a) ||
             Fail("Write SPI Error USB");
    } else {
      std::copy(from.begin(), from.end(), sector.begin() + CommandSectorLayout::Payload);
      done = WriteCommandSector(opened, kMailboxLba) || Fail(kLba20WriteError);
    }
    // One step of progress per 512 programmed bytes, after the second page.
    if (done && offset % kFlashReadStep == kFlashPageSize) ++state_.ProgressCount;
    return done;
  });
  return LeaveFlashOperation(opened, unlock, ok);
}

bool VendorCommandSet::EraseSpi(std::uint32_t address, std::uint32_t length) {
  // Only the start address decides, also when the range reaches past the low area.
  const bool unlock = address < LowAreaLimit;
  Opened opened;
  if (!BeginFlashOperation(opened, unlock)) return false;
  FlashGuard running(flashRunning_);

  PrepareFlashCommand(CommandCode::SectorErase, 0x20);
  std::array<std::uint8_t, 8> reply{};
  const bool ok = FlashSteps(address, length, kFlashEraseStep, [&](std::uint32_t a, std::uint32_t) {
    const bool done = opened.path == CommandPath::VendorScsi
                          ? SendVendorCommand(opened.handle, VendorCommandKind::SectorErase, reply, a) ||
                                Fail("Erase SPI Error USB")
                          : WriteCommandSector(opened, kMailboxLba) || Fail(kLba20WriteError);
    if (done) ++state_.ProgressCount;
    return done;
  });
  return LeaveFlashOperation(opened, unlock, ok);
}

bool VendorCommandSet::ReadSpiRecord(std::span<std::uint8_t> destination) {
  if (destination.size() < kSectorSize) return false;
  if (state_.DeviceCount == 0) return NoDeviceFailure();
  Opened opened;
  // The upgrade reads the record of the device it is upgrading; everyone else reads the
  // active one. Upgrading with no target names no device: invalid drive.
  std::int32_t slot = state_.CurrentSlot;
  if (state_.UpgradeInProgress) {
    const auto target = state_.UpgradeTarget();
    slot = target ? static_cast<std::int32_t>(*target) : -1;
  }
  if (!OpenSlot(slot, opened)) return false;

  if (opened.path != CommandPath::VendorScsi) {
    return ReadSectors(opened.handle, kStatusRecordLba, 1, destination) ||
           Fail("Read Error for LBA = 33 and sector count = 1");
  }

  // The newest record is the last written 256-byte slot of the record area: skip the
  // erased slots at the start, then walk the written ones.
  const std::uint32_t last = state_.SpiSize - kRecordSlotSize;
  std::uint32_t& at = state_.RecordAddress;
  at = RecordAreaBase;
  // A probe's outcome is not looked at: only the first byte it leaves in the destination.
  const auto probe = [&] {
    static_cast<void>(SendVendorCommand(opened.handle, VendorCommandKind::RecordProbe, destination, at));
    return destination[0];
  };
  while (at <= last) {
    if (probe() != 0xFF) break;
    at += kRecordSlotSize;
  }
  while (at <= last) {
    if (probe() == 0xFF) break;
    at += kRecordSlotSize;
  }
  at -= kRecordSlotSize;
  return SendVendorCommand(opened.handle, VendorCommandKind::FlashRead, destination, at) ||
         Fail("Read Error for USB");
}

template <typename Fill>
bool VendorCommandSet::SendActiveDeviceCommand(std::int32_t activeSlot, Fill&& fill) {
  if (state_.DeviceCount == 0) return NoDeviceFailure();
  state_.CurrentSlot = activeSlot;
  Opened opened;
  if (!OpenSlot(activeSlot, opened)) return false;
  if (ui_.disableSettingsControls) ui_.disableSettingsControls();
  fill(state_.CommandSector);
  const bool ok = WriteCommandSector(opened, kMailboxLba) || Fail(kLba20WriteError);
  opened.handle.Close();
  if (activeSlot < kShownDevices)
    state_.SettingsCooldown[static_cast<std::size_t>(activeSlot)] = kSettingsCooldownSeconds;
  return ok;
}

bool VendorCommandSet::WriteDeviceSettings(std::int32_t activeSlot, bool buzzerMute, bool autoScan) {
  if (state_.UpdatingControls) return false;
  return SendActiveDeviceCommand(activeSlot, [&](Sector& sector) {
    sector[CommandSectorLayout::Code] = CommandCode::Settings;
    sector[CommandSectorLayout::Parameter] = buzzerMute ? 0 : 1;
    sector[kSettingsAutoScanByte] = autoScan ? 1 : 0;
  });
}

bool VendorCommandSet::SendScanCommand(std::int32_t activeSlot, const ScanRequest& request) {
  const bool ok = SendActiveDeviceCommand(activeSlot, [&](Sector& sector) {
    sector[CommandSectorLayout::Code] = CommandCode::SurfaceScan;
    sector[CommandSectorLayout::Parameter] = request.start ? 0 : 1;
    sector[kScanDiskByte] = request.disk;
    PutLba48(sector, kScanFirstLba, request.startLba);
    PutLba48(sector, kScanLastLba, request.endLba);
  });
  // Only a stop that reached the device is later logged as the user's abort.
  if (ok && !request.start && activeSlot >= 0 && activeSlot < kShownDevices)
    state_.EventStates[static_cast<std::size_t>(activeSlot)].stopRequested = true;
  return ok;
}

}  // namespace caspira
