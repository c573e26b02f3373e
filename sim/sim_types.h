// The simulated world's vocabulary: how drives and enclosures are configured, the RAID
// state behind an enclosure's status record, the fault switches, and what the world logs.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_host.h"

namespace caspira::sim {

// The two disk ports of an enclosure.
enum class Port : std::uint8_t { P0 = 0, P1 = 1 };

// How an enclosure is attached to the host, and so which paths its controller answers on.
enum class Attachment : std::uint8_t {
  Usb,      // vendor SCSI frames (0xFE); sectors 58 and 3..130 are ordinary data
  Sata,     // sector 58 and IDENTIFY carry the information sector; sector mailbox; ATA 0x88
  AtaOnly,  // as Sata, but sector 58 is ordinary data: only IDENTIFY carries the tag
};

// The vendor frame layout a USB controller answers: one 0xFE prefix byte or two.
enum class VendorLayout : std::uint8_t { OnePrefix, TwoPrefix };

// RAID modes as the status record codes them.
inline constexpr std::uint8_t kModeStriping = 0;
inline constexpr std::uint8_t kModeMirror = 1;
inline constexpr std::uint8_t kModeNraid = 2;
inline constexpr std::uint8_t kModeJbod = 3;
inline constexpr std::uint8_t kModeBypass = 0x3F;

// portFlags bits, per port: P0 uses the low nibble, P1 the high nibble.
inline constexpr std::uint8_t kPortInserted = 0x01;
inline constexpr std::uint8_t kPortInitialized = 0x02;
inline constexpr std::uint8_t kPortAbsent = 0x04;
inline constexpr std::uint8_t kPortFailed = 0x08;
inline constexpr std::uint8_t PortBits(Port port, std::uint8_t bits) {
  return static_cast<std::uint8_t>(port == Port::P0 ? bits : bits << 4);
}

// activityFlags bits.
inline constexpr std::uint8_t kActivityP0 = 0x01;
inline constexpr std::uint8_t kActivityP1 = 0x02;
inline constexpr std::uint8_t kBadSectorP0 = 0x04;
inline constexpr std::uint8_t kBadSectorP1 = 0x08;
inline constexpr std::uint8_t kActivityIsScan = 0x80;

// raidSettingSource bits.
inline constexpr std::uint8_t kSettingBuzzerSounds = 0x01;
inline constexpr std::uint8_t kSettingAutoScan = 0x02;
inline constexpr std::uint8_t kSettingByJumper = 0xF0;
inline constexpr std::uint8_t kSettingFromFlash = 0x10;

// The flash area where the controller keeps its records, in 256-byte slots to the end.
inline constexpr std::uint32_t kRecordAreaBase = 0x78000;
inline constexpr std::uint32_t kRecordSlotSize = 256;
inline constexpr std::uint32_t kLowAreaLimit = 0xC000;
inline constexpr std::uint32_t kFlashSectorSize = 4096;
inline constexpr std::uint32_t kFlashPageSize = 256;
inline constexpr std::uint32_t kDefaultFlashSize = 0x80000;

// Rebuilds and scans move this many sectors per second unless told otherwise
// (about 128 MB/s, a disk's sustained rate).
inline constexpr double kDefaultSectorsPerSecond = 250000.0;

// The shortest idle time before an auto scan. A shorter one (or none) would have the
// controller start scan after scan without the clock moving on: with tiny disks a
// quarter of a million scans per second of world time, with both disks gone an endless
// retry at the same instant.
inline constexpr double kMinAutoScanIdleSeconds = 1.0;

// One disk behind an enclosure port.
struct SimDisk {
  std::string model = "SIMDISK SD500";
  std::string serial = "SD500-0001";
  std::uint64_t sectors = 976773168;  // 500 GB
  std::uint8_t sataGeneration = 2;
  // LBAs a surface scan of this disk reports as bad sectors when it passes them.
  std::vector<std::uint64_t> defects;
};

// Everything behind an enclosure's status record. Tests may read and replace it whole
// (SimWorld::Raid, SimWorld::SetRaid); the controller writes a new record whenever it changes.
struct RaidState {
  std::uint8_t configVersion = 0xA0;
  std::uint8_t spiRaidMode = kModeMirror;
  std::uint8_t raidSettingSource = kSettingFromFlash | kSettingBuzzerSounds;
  std::uint8_t systemRaidMode = kModeMirror;
  std::uint64_t configuredSectors = 976773168;
  std::array<SimDisk, 2> disks{SimDisk{}, SimDisk{"SIMDISK SD500", "SD500-0002", 976773168, 2, {}}};
  std::uint8_t portFlags = 0x33;  // both disks inserted and initialized
  std::uint8_t activityFlags = 0;
  std::uint8_t progressPercent = 0;
  std::string firmwareSuffix = "A10";  // three characters at 187..189
  std::uint8_t badSectorCount = 0;
  std::array<std::uint32_t, 10> badSectorLba{};
  // How long the controller stays idle with auto scan on before it scans a disk by itself;
  // below kMinAutoScanIdleSeconds (or not a number) it waits that minimum.
  double autoScanIdleSeconds = 3600.0;
};

// The volume size a RAID mode gives two disks of these sizes.
std::uint64_t CapacityOf(std::uint8_t mode, std::uint64_t p0Sectors, std::uint64_t p1Sectors);

struct PlainDiskConfig {
  std::string model = "SIMDISK HOST-SSD";
  std::string serial = "HOST-0001";
  std::string revision = "1.0";
  std::uint64_t sectors = 500118192;  // 256 GB
};

struct EnclosureConfig {
  Attachment attachment = Attachment::Sata;
  VendorLayout vendorLayout = VendorLayout::OnePrefix;  // USB only
  bool answersInfoKind = true;             // USB: false = kind 16 unanswered, only the 0x78 query answers
  std::string revision = "090619.1";       // 8 characters at 46
  std::string model = "TALVEN TR-2 RAID";  // at 54; a real enclosure's begins with "TALVEN"
  std::string serial = "TR2-SIM-0001";
  std::uint32_t flashSize = kDefaultFlashSize;  // a power of two, 4 KB .. 16 MB
  // The flash at power-on; empty: a generated image whose record at 0x78000 is the
  // controller's own. A given image is copied from address 0 and the rest is erased.
  std::vector<std::uint8_t> flashImage;
  RaidState raid;
};

struct VolumeConfig {
  std::string name;
  std::uint8_t driveType = kDriveFixed;
  std::optional<unsigned> disk;  // the physical drive of its first extent
  bool openable = true;
};

// What "fail the next N requests" matches.
struct RequestMatch {
  enum class Kind : std::uint8_t {
    Open,          // OpenPhysicalDrive of the drive
    ScsiOpcode,    // CDB byte 0
    ScsiLba,       // CDB byte 0 and the READ(10)/WRITE(10) LBA
    VendorOpcode,  // the opcode of a 0xFE frame, in either layout
    AtaCommand,    // the command register, and the Features register when given
    Any,           // every request
  };
  Kind kind = Kind::Any;
  std::uint8_t opcode = 0;
  std::uint32_t lba = 0;
  std::optional<std::uint8_t> features;

  static RequestMatch Open() { return {Kind::Open, 0, 0, std::nullopt}; }
  static RequestMatch Scsi(std::uint8_t op) { return {Kind::ScsiOpcode, op, 0, std::nullopt}; }
  static RequestMatch ScsiAt(std::uint8_t op, std::uint32_t lba) {
    return {Kind::ScsiLba, op, lba, std::nullopt};
  }
  static RequestMatch Vendor(std::uint8_t op) { return {Kind::VendorOpcode, op, 0, std::nullopt}; }
  static RequestMatch Ata(std::uint8_t command, std::optional<std::uint8_t> features = std::nullopt) {
    return {Kind::AtaCommand, command, 0, features};
  }
  static RequestMatch AnyRequest() { return {Kind::Any, 0, 0, std::nullopt}; }
};

enum class RecordCorruption : std::uint8_t {
  BadSum,   // the record's 16-bit sum at 254..255 does not match its bytes
  Garbage,  // every byte of the record is noise (slotMarker and all)
};

// Time the simulated hardware takes. Off by default; when on, requests really sleep
// (for benchmarks). The defaults are typical serial-flash datasheet figures.
struct LatencyModel {
  bool enabled = false;
  std::chrono::microseconds perRequest{150};
  std::chrono::microseconds perSectorErase{45000};  // 4 KB sector erase
  std::chrono::microseconds perPageProgram{700};    // 256-byte page program
  std::chrono::microseconds perFlashRead{40};       // 512 bytes at 100 Mbit/s
};

// One entry of a drive's raw request log.
struct RawRequest {
  enum class Kind : std::uint8_t { Open, Scsi, Ata };
  Kind kind = Kind::Scsi;
  double atSeconds = 0;  // world time
  std::string volume;    // the volume it came through, empty for a physical drive
  bool completed = false;
  std::string note;  // why it did not complete, or what a fault did

  // SCSI
  std::vector<std::uint8_t> cdb;
  DataDirection direction = DataDirection::None;
  std::uint32_t transferLength = 0;
  std::optional<std::uint32_t> lba;  // READ(10)/WRITE(10)
  std::uint8_t status = 0;           // 0 GOOD, 2 CHECK CONDITION
  std::uint8_t senseKey = 0;
  std::vector<std::uint8_t> dataOut;

  // ATA
  AtaRegisters ataIn;
  AtaRegisters ataOut;
  std::uint32_t sectors = 0;
};

// One command the controller decoded (or decided to ignore), or a record write of its own.
struct ControllerCommand {
  enum class Path : std::uint8_t { Vendor, Mailbox, Ata, Controller };
  enum class Kind : std::uint8_t {
    Mode,             // modeCode in the ATA coding: 02 end, 03 begin, 04 unlock, 05 lock, 10 leave, 11 enter
    FlashRead,        // address
    FlashProgram,     // address
    FlashErase,       // address
    RecordProbe,      // vendor kind 4 at address
    ControllerInfo,   // vendor kind 16
    VendorQuery,      // vendor query 0x78
    Settings,         // buzzer, autoScan
    Scan,             // scanStart, disk, firstLba, lastLba
    RecordWrite,      // the controller programmed its record into the slot at address
    RecordAreaErase,  // the controller erased its full record area
    Unknown,          // a well-formed mailbox command with a code the controller does not know
  };
  double atSeconds = 0;
  Path path = Path::Mailbox;
  Kind kind = Kind::Mode;
  std::uint32_t lba = 0;  // the mailbox sector it came in (mailbox path)
  std::uint8_t modeCode = 0;
  std::uint32_t address = 0;
  bool buzzer = false;
  bool autoScan = false;
  bool scanStart = false;
  std::uint8_t disk = 0;
  std::uint64_t firstLba = 0;
  std::uint64_t lastLba = 0;
  bool ignored = false;
  std::string reason;  // why it was ignored
};

struct ControllerFlags {
  bool spiAccessOpen = false;
  bool lowAreaUnlocked = false;
  bool upgradeMode = false;
};

// One-line descriptions for failure messages and logs.
std::string Describe(const RawRequest& request);
std::string Describe(const ControllerCommand& command);

}  // namespace caspira::sim
