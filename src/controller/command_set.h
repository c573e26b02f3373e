// The vendor command set: everything the program asks of an enclosure's controller. Reading,
// programming and erasing its SPI flash, switching its modes, reading its status record,
// writing its buzzer and auto-scan settings and starting or stopping a surface scan, over
// whichever of the three paths the device's slot names.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "controller/command_sector.h"
#include "device/transport.h"
#include "platform/dialogs.h"
#include "platform/random.h"
#include "shell/app_state.h"

namespace caspira {

// Mode codes of SetControllerMode.
namespace ControllerMode {
inline constexpr std::uint8_t SpiAccessEnd = 0x02;
inline constexpr std::uint8_t SpiAccessBegin = 0x03;
inline constexpr std::uint8_t LowAreaUnlock = 0x04;
inline constexpr std::uint8_t LowAreaLock = 0x05;
inline constexpr std::uint8_t UpgradeModeLeave = 0x10;
inline constexpr std::uint8_t UpgradeModeEnter = 0x11;
}  // namespace ControllerMode

inline constexpr std::uint32_t RecordAreaBase = 0x78000;
inline constexpr std::uint32_t LowAreaLimit = 0xC000;
inline constexpr std::uint32_t kRecordSlotSize = 256;
inline constexpr std::uint32_t kFlashReadStep = 512;
inline constexpr std::uint32_t kFlashPageSize = 256;
inline constexpr std::uint32_t kFlashEraseStep = 4096;
inline constexpr std::uint8_t kSettingsCooldownSeconds = 4;

// The ATA vendor command and its flash-read feature.
inline constexpr std::uint8_t kAtaVendorCommand = 0x88;
inline constexpr std::uint8_t kAtaFeatureFlashRead = 0x01;

// How a command reaches a slot's controller.
enum class CommandPath { VendorScsi, Mailbox, Ata };
CommandPath PathOfSlot(DeviceSlot slot);

// What the commands need from the window, which owns status bar panel 4 and the controls.
struct CommandUi {
  Dialogs& dialogs;
  std::function<void(const std::string&)> setStatus;  // status bar panel 4
  std::function<void()> pump;                         // lets the window process its messages
  std::function<void()> disableSettingsControls;      // Buzzer Mute and Auto Scan
};

// A surface-scan command: start or stop, of P0 (0) or P1 (1), over a sector range.
struct ScanRequest {
  std::uint8_t disk = 0;
  bool start = true;
  std::uint64_t startLba = 0;
  std::uint64_t endLba = 0;
};

class VendorCommandSet {
 public:
  VendorCommandSet(AppState& state, const Transport& transport, Random& random, CommandUi ui);

  // The flash operations work on the UpgradeSlot device and let the window process its
  // messages once per step. A step succeeds only when the device did what it was asked: a
  // refused command fails like one the host could not deliver. A buffer that does not hold
  // every step (reads 512 bytes, programs 256 at a time) is refused before anything is
  // sent.
  bool ReadSpi(std::uint32_t address, std::uint32_t length, std::span<std::uint8_t> destination);
  bool WriteSpi(std::uint32_t address, std::uint32_t length, std::span<const std::uint8_t> source);
  bool EraseSpi(std::uint32_t address, std::uint32_t length);
  // A mode change of the upgrade target. A controller reached by vendor SCSI frames has no
  // modes: when the target (or, with no target, the CurrentSlot device) is one, nothing is
  // sent and the answer is true. Otherwise the code is sent to the upgrade target only;
  // with none set, the no-upgrade-mode failure.
  bool SetControllerMode(std::uint8_t code);
  // The device's current status record (512 bytes; a shorter destination is refused).
  bool ReadSpiRecord(std::span<std::uint8_t> destination);
  // The buzzer and auto-scan settings, to the device of the active tab page.
  bool WriteDeviceSettings(std::int32_t activeSlot, bool buzzerMute, bool autoScan);
  // A surface-scan start or stop, to the device of the active tab page.
  bool SendScanCommand(std::int32_t activeSlot, const ScanRequest& request);

  // A flash read, program or erase is under way (settings and scan commands wait for it).
  bool FlashOperationRunning() const { return flashRunning_; }

 private:
  class FlashGuard;
  struct Opened;

  bool NoDeviceFailure();
  bool NoUpgradeModeFailure();
  bool InvalidDriveFailure();
  bool Fail(const std::string& status);
  // Opens the device of `slotIndex`, or shows the invalid-drive failure.
  bool OpenSlot(std::int32_t slotIndex, Opened& opened);
  // The common entry checks of the flash operations; opens the UpgradeSlot device.
  bool EnterFlashOperation(Opened& opened);
  // Entry checks, then SpiAccessBegin and, when asked, LowAreaUnlock (a failed unlock
  // still ends the access).
  bool BeginFlashOperation(Opened& opened, bool unlock);
  // A mode command over an exchange that is already open.
  bool SendMode(Opened& opened, std::uint8_t code);
  // Writes the command sector (freshly summed) to `lba`.
  bool WriteCommandSector(Opened& opened, std::uint32_t lba);
  // Writes it to a freshly drawn varying mailbox sector, reporting a failure.
  bool WriteToVaryingMailbox(Opened& opened);
  bool AtaVendorCommand(Opened& opened, std::uint8_t features, std::uint32_t address);
  // The command sector of a flash command: tag and sum as it stands, code and parameter.
  void PrepareFlashCommand(std::uint8_t code, std::uint8_t parameter);
  // The steps of a flash operation: for each, its address into the command sector, one
  // message pump, then `step(address, offset)`; stops at the first step that fails.
  template <typename Step>
  bool FlashSteps(std::uint32_t address, std::uint32_t length, std::uint32_t stride, Step&& step);
  // The settings and scan commands: the device of the active tab page opened, the settings
  // boxes disabled, the sector filled by `fill` and written to sector 20, the cooldown set.
  template <typename Fill>
  bool SendActiveDeviceCommand(std::int32_t activeSlot, Fill&& fill);
  // Closes the flash exchange with the mode commands that end it.
  bool LeaveFlashOperation(Opened& opened, bool unlocked, bool ok);

  AppState& state_;
  const Transport& transport_;
  Random& random_;
  CommandUi ui_;
  bool flashRunning_ = false;
};

}  // namespace caspira
