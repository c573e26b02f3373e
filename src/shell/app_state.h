// AppState: the program-wide state, owned by the main window for the whole run.
//
// Three threads meet here: the window thread, DriveDetectThread and TRaidThread. The
// hand-over flags are atomics; every other field belongs to the window thread. The
// detection thread never writes these fields: it works on its own tables and the window
// thread adopts the result when it sees DetectDone.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "device/transport.h"
#include "platform/clock.h"
#include "raid/device_event_state.h"
#include "raid/log_buffer.h"
#include "raid/settings_choice.h"
#include "raid/status_presentation.h"

namespace caspira {

inline constexpr int kDriveTableRows = 20;
inline constexpr int kMaxDriveLetters = 24;
inline constexpr int kMaxDeviceSlots = 8;
inline constexpr int kShownDevices = 4;
inline constexpr int kNoUpgradeSlot = 256;
inline constexpr std::uint32_t kDefaultSpiSize = 0x80000;

// One row of the drive table: a volume, its drive type and the disk it lives on.
struct DriveEntry {
  std::string name;             // the volume's name (a letter in the simulated world)
  std::uint8_t driveType = 0;   // DriveType, or 255 when the volume could not be opened
  std::uint8_t diskNumber = 0;  // low byte of the physical disk of its first extent

  friend bool operator==(const DriveEntry&, const DriveEntry&) = default;
};

using DriveTableRows = std::array<DriveEntry, kDriveTableRows>;
// One enclosure found: disk number in bits 0..3, the paths its controller answers on in
// bits 4..7 (see device/device_slot.h).
using DeviceSlot = std::uint32_t;

struct AppState {
  // Device access and identification. Each exchange owns its device handle, its vendor
  // frame layout and its response buffer (DeviceHandle), so none of them is kept here.
  DriveTableRows DriveTable{};
  std::int32_t DriveLetterCount = 0;
  std::int32_t PhysicalDriveCount = 0;
  std::array<DeviceSlot, kMaxDeviceSlots> DeviceSlots{};
  std::int32_t DeviceCount = 0;
  std::int32_t CurrentSlot = 0;
  std::int32_t UpgradeSlot = kNoUpgradeSlot;
  std::array<Sector, kMaxPhysicalDrives> DriveSectorBuffers{};
  Sector CommandSector{};
  std::uint32_t MailboxLba = 0;  // the last varying mailbox sector, for the error text
  std::array<Sector, 10> StatusRecords{};
  const Sector* ViewData = nullptr;

  // Detection hand-over.
  std::atomic<bool> DetectRequest{true};
  std::atomic<bool> Detecting{true};
  std::atomic<bool> DetectDone{false};
  bool DetectBlink = true;
  std::uint8_t DeviceChangeCountdown = 0;
  std::string DeviceLabel;
  std::string WindowTitle;
  std::string FirmwareRevisionText;
  bool AutoScanSupported = false;

  // Work requests, polling and presentation.
  std::atomic<std::uint8_t> RequestFlags{0};
  bool FirstStatusPending = true;
  bool UpgradeInProgress = false;
  bool UpdatingControls = false;
  std::array<DeviceEventState, kShownDevices> EventStates{};
  // Today's event log lines (the LogBuffer), and how many of them the event log window
  // has copied: one count for the whole program, whichever window is open.
  LogBuffer EventLog;
  std::int32_t MirroredLines = 0;
  // An event log window is open; the "Log" button opens no second one.
  bool LogWindowOpen = false;
  std::array<std::uint8_t, kShownDevices> PollFailures{};
  std::array<std::uint8_t, kShownDevices> SettingsCooldown{};
  // Settings writes raised by a click on a device's page, by slot: both boxes as the user
  // left them. The write goes to that slot's device with these states, whatever page is
  // shown when it is serviced, and a click on another page cannot overwrite it. Whoever
  // drops RequestFlag::WriteSettings drops these too.
  std::array<std::optional<SettingsChoice>, kShownDevices> PendingSettings{};
  // The RAID panel as last drawn, shared by all devices.
  PresentationState Presentation{};
  // The slot whose page the scan button was pressed on: the scan command goes there.
  std::int32_t ScanSlot = 0;
  std::uint8_t ScanDisk = 0;
  std::uint8_t ScanStart = 0;
  std::uint64_t ScanStartLba = 0;
  std::uint64_t ScanEndLba = 0;
  std::uint32_t RecordAddress = 0;

  // Firmware maintenance.
  std::unique_ptr<std::uint8_t[]> ImageBuffer;
  std::uint32_t ImageSize = 0;
  std::uint32_t SpiSize = kDefaultSpiSize;
  bool OperationBusy = false;
  std::int32_t ProgressCount = 0;

  // Elapsed-time clock.
  DateTime StartTime = 0;
  DateTime CurrentTime = 0;

  // The slot whose controller flash work addresses, or nothing. `UpgradeSlot` holds the
  // stored value (256 when none, as the firmware actions set and reset it); every reader
  // asks here, so a value that names no slot (256, negative, past the table) means "none"
  // everywhere alike.
  std::optional<std::size_t> UpgradeTarget() const {
    if (UpgradeSlot < 0 || UpgradeSlot >= kMaxDeviceSlots) return std::nullopt;
    return static_cast<std::size_t>(UpgradeSlot);
  }
  bool IsUpgradeTarget(std::size_t slot) const { return UpgradeTarget() == slot; }
  void ClearUpgradeTarget() { UpgradeSlot = kNoUpgradeSlot; }

  // Releases the firmware image, if one is loaded.
  void ReleaseImage() {
    ImageBuffer.reset();
    ImageSize = 0;
  }
};

}  // namespace caspira
