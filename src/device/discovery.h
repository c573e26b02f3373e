// Drive discovery and device identification: lists the volumes and physical disks, builds
// the drive table and picks out the enclosures with the command paths their controllers
// answer on.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/device_slot.h"
#include "device/transport.h"
#include "platform/dialogs.h"
#include "shell/app_state.h"

namespace caspira {

// Lets the window process its pending messages; empty on the detection thread.
using MessagePump = std::function<void()>;

inline constexpr const char* kDriveCountMessage = "Drive Count Must less than 20.";
inline constexpr const char* kLba58ReadError = "Read Error for LBA = 58 and sector count = 1";

// The volumes present now, in the host's order; at most 24.
std::vector<std::string> EnumerateDriveLetters(DeviceHost& host, const MessagePump& pump = {});
// The number of physical disks 0..9 that can be opened (not the highest number).
int CountPhysicalDrives(const Transport& transport, const MessagePump& pump = {});

// What a detection run starts from: the latest counts of the window thread and the device
// being upgraded, if any.
struct DetectionInput {
  std::vector<std::string> driveLetters;
  std::int32_t driveLetterCount = 0;
  std::int32_t physicalDriveCount = 0;
  // DeviceSlots[UpgradeTarget()] when the run was asked for during flash work: that
  // device is not probed but keeps this value.
  std::optional<DeviceSlot> upgradeSlotValue;
};

// The tables a detection run fills. Rows and slots past the counts keep what earlier runs
// left there.
struct DetectionTables {
  DriveTableRows driveTable{};
  std::array<DeviceSlot, kMaxDeviceSlots> deviceSlots{};
  std::int32_t deviceCount = 0;
  std::array<Sector, kMaxPhysicalDrives> driveSectorBuffers{};
};

// One run's result, with what the window thread must show for it.
struct DetectionResult {
  DetectionTables tables;
  std::vector<Message> messages;          // message boxes, in order
  std::optional<std::string> statusText;  // for status bar panel 4
  // Where the device being upgraded sits in the new slot table, when it was kept.
  std::optional<std::int32_t> upgradeSlotIndex;
};

// Fills the drive table rows from the volume names (at most 20 rows; more gives the
// message once).
void BuildDriveTable(DeviceHost& host, const DetectionInput& input, DetectionResult& result,
                     const MessagePump& pump = {});
// Probes the physical disks and fills the device slots; returns the number found.
std::int32_t IdentifyDevices(const Transport& transport, const DetectionInput& input, DetectionResult& result,
                             const MessagePump& pump = {});
// BuildDriveTable, then IdentifyDevices into deviceCount. `previous` is the last run's
// tables, whose stale rows and slots carry over.
DetectionResult RunDetection(const Transport& transport, const DetectionInput& input,
                             const DetectionTables& previous, const MessagePump& pump = {});

// The model number in a controller information sector begins with kModelPrefix.
bool ModelMatchesPrefix(const Sector& info);

// Names of the fixed volumes on `disk`, among the first DriveLetterCount rows (at most 20).
std::vector<std::string> FixedVolumesOnDisk(const AppState& state, unsigned disk);
// Volume names in a label: single letters run together ("EF"), longer names take a blank
// between them ("sdb1 sdb2").
std::string JoinVolumeNames(const std::vector<std::string>& names);
// The device selector label for CurrentSlot, e.g. "1/2 Device1[EF]".
std::string BuildDeviceLabel(const AppState& state);

// Runs detections on the detection thread: the window thread posts the input, the thread
// keeps the working tables and publishes each result for the window thread to adopt.
class Detector {
 public:
  explicit Detector(const Transport& transport) : transport_(transport) {}

  // Window thread: the input of the next run (call before raising DetectRequest).
  void PostInput(DetectionInput input);
  // Detection thread: one run over the posted input.
  void Run();
  // Window thread: the result of the last finished run (after DetectDone).
  std::optional<DetectionResult> TakeResult();

 private:
  const Transport& transport_;
  DetectionTables working_;  // detection thread only
  std::mutex mutex_;
  DetectionInput input_;
  std::optional<DetectionResult> result_;
};

}  // namespace caspira
