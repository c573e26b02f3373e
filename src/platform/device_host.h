// The platform layer: how the program reaches the host's disks.
//
// Two implementations exist: the Linux backend (platform/linux) for real disks and the
// simulated world (sim/) for tests, demos and benchmarks. The core talks to disks only
// through these interfaces; nothing here depends on an operating-system header.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace caspira {

inline constexpr std::uint32_t kSectorSize = 512;

// Highest physical drive number the program looks at ("PhysicalDrive0".."PhysicalDrive9").
inline constexpr unsigned kMaxPhysicalDrives = 10;

enum class DataDirection : std::uint8_t { None, In, Out };

// Why the host did not complete a request. Only read when ExecuteScsi or ExecuteAta
// returned false.
enum class HostFailure : std::uint8_t {
  Transport,  // the bus, the adapter or its driver lost the request, or it timed out
  System,     // the operating system (or the host's own checks) refused to send it
};

// One SCSI command with its data phase. The device fills status and sense.
struct ScsiRequest {
  std::array<std::uint8_t, 16> cdb{};
  std::uint8_t cdbLength = 10;
  DataDirection direction = DataDirection::None;
  std::uint32_t transferLength = 0;  // bytes moved through `data`
  std::uint32_t timeoutSeconds = 2;
  std::uint8_t* data = nullptr;  // transferLength bytes, or null when no data moves

  // Filled in by the device when the host completed the request. A completed request may
  // still carry CHECK CONDITION: the transport sorts status and sense into the outcome.
  std::uint8_t status = 0;
  std::array<std::uint8_t, 32> sense{};
  std::uint8_t senseLength = 0;
  std::uint32_t residual = 0;  // bytes of transferLength the device did not move

  // Filled in by the host when it did not complete the request.
  HostFailure failure = HostFailure::Transport;
  int osError = 0;  // the operating system's error number, when it gave one
};

// The seven ATA task-file registers, in the order the program passes them around.
struct AtaRegisters {
  enum Index : std::size_t { Features, SectorCount, LbaLow, LbaMid, LbaHigh, Device, Command };
  std::array<std::uint8_t, 7> r{};

  std::uint8_t& operator[](std::size_t i) { return r[i]; }
  std::uint8_t operator[](std::size_t i) const { return r[i]; }
  friend bool operator==(const AtaRegisters&, const AtaRegisters&) = default;
};

// How an ATA command ended, as the device reported it.
enum class AtaCompletion : std::uint8_t {
  FromStatus,  // `registers` holds the device's completion registers: its status decides
  Succeeded,   // no register image came back; the command succeeded all the same
  Failed,      // no register image came back; the command failed
};

// ATA status register bits that mean a command did not end well.
inline constexpr std::uint8_t kAtaStatusBusy = 0x80;
inline constexpr std::uint8_t kAtaStatusDeviceFault = 0x20;
inline constexpr std::uint8_t kAtaStatusError = 0x01;

// One ATA command. On return `registers` holds what the device reported
// (for a command that failed too, when the device got that far): the error register in
// the Features slot, the status register in the Command slot.
struct AtaRequest {
  AtaRegisters registers;
  std::uint32_t sectors = 0;     // data-in sectors; 0 = no data phase
  std::uint8_t* data = nullptr;  // sectors * 512 bytes

  // Filled in by the device when the host completed the request.
  AtaCompletion completion = AtaCompletion::FromStatus;

  // Filled in by the host when it did not complete the request.
  HostFailure failure = HostFailure::Transport;
  int osError = 0;
};

// Which disk or volume a device is, as the host knew it when it opened or described it.
// Two opens of the same disk give equal identities; a disk that takes over another's number
// or name after a hot-plug gives a different one. Empty where the host does not tell disks
// apart (the simulated world).
struct DeviceIdentity {
  std::string name;        // kernel name: "sdb", or "sdb1" for a volume
  std::string dev;         // "major:minor" of the block device
  std::string diskseq;     // the kernel's disk sequence number, where it has one
  std::string devicePath;  // resolved path of the disk's device: where it is attached
  bool volume = false;     // a volume's node, even where the volume is the whole disk

  bool Known() const { return !name.empty(); }
  friend bool operator==(const DeviceIdentity&, const DeviceIdentity&) = default;
};

// An opened disk or volume. Closing is destruction.
class BlockDevice {
 public:
  virtual ~BlockDevice() = default;
  // True when the host completed the request, whatever the device answered: its answer is
  // in the request's status and sense (SCSI) or registers and completion (ATA).
  virtual bool ExecuteScsi(ScsiRequest& request) = 0;
  virtual bool ExecuteAta(AtaRequest& request) = 0;
  // Which disk this is; empty where the host does not tell disks apart.
  virtual DeviceIdentity Identity() const { return {}; }
};

// Drive types of a volume, as the drive table records them.
enum DriveType : std::uint8_t {
  kDriveUnknown = 0,
  kDriveNoRoot = 1,
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdRom = 5,
  kDriveRamDisk = 6,
  kDriveUnopenable = 255,
};

// What the host can tell about one volume at the moment of asking.
struct VolumeInfo {
  std::uint8_t driveType = kDriveUnknown;
  bool opened = false;                      // the volume could be opened
  std::optional<std::uint32_t> diskNumber;  // physical drive of its first extent, when known
};

// Tells that disks came or went. The window's event loop watches `NotificationFd` for
// readability and then calls `TakeNotifications`.
class DeviceChangeSource {
 public:
  virtual ~DeviceChangeSource() = default;
  // A file descriptor that becomes readable when notifications are pending.
  virtual int NotificationFd() const = 0;
  // Consumes the pending notifications and returns how many there were.
  virtual unsigned TakeNotifications() = 0;
};

class DeviceHost {
 public:
  virtual ~DeviceHost() = default;

  // Physical drive 0..9, or null when it does not exist or cannot be opened.
  virtual std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned number) = 0;
  // A volume by name (a kernel name such as "sdb1", or a single letter in the simulated
  // world), or null when it cannot be opened.
  virtual std::unique_ptr<BlockDevice> OpenVolume(const std::string& name) = 0;

  // The volumes present now, in the host's order (kernel-name order on Linux).
  virtual std::vector<std::string> ListVolumes() = 0;
  virtual VolumeInfo QueryVolume(const std::string& name) = 0;

  // Device-change notifications; null when the host cannot provide them.
  virtual DeviceChangeSource* DeviceChanges() = 0;

  // Physical drive `number` as the host would open it now, described without opening it;
  // empty when there is none or the host does not tell disks apart.
  virtual DeviceIdentity DescribePhysicalDrive(unsigned /*number*/) { return {}; }

  // Identification tells the host which disks are enclosures: `recognised` are the
  // identities of the opened devices it recognised; `kept` are disks it deliberately left
  // unprobed (the one being upgraded), which stay enclosures only if they were before. A
  // host that guards real disks lets controller writes reach these disks only.
  virtual void SetEnclosures(const std::vector<DeviceIdentity>& /*recognised*/,
                             const std::vector<DeviceIdentity>& /*kept*/) {}

  // Why the host found no disks it could use, when that is worth telling the user once
  // (missing rights, for instance); empty otherwise.
  virtual std::string AccessProblem() { return {}; }
};

}  // namespace caspira
