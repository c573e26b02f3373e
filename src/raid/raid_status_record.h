// RaidStatusRecord: the 512-byte record in which an enclosure's controller reports the
// state of its two-disk RAID, decoded once into plain fields. The presentation, the event
// recorder and the start banner all read this one decoded form, so an offset is fixed in
// exactly one place (RaidStatusRecordWire below).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "device/transport.h"

namespace caspira {

inline constexpr std::size_t kRaidStatusRecordSize = 512;

// The record as the controller lays it out. Every field is a byte or a byte array, so the
// structure has no padding and no byte order of its own; numbers are little-endian and texts
// are in ATA string order. Bytes not listed are not interpreted. On the vendor SCSI path
// bytes 0..255 are the last written 256-byte slot of the controller's flash record area.
struct RaidStatusRecordWire {
  std::uint8_t slotMarker;                        // 0: 0xFF = erased flash slot
  std::uint8_t configVersion;                     // 1
  std::array<std::uint8_t, 53> reserved2;         // 2..54
  std::uint8_t spiRaidMode;                       // 55
  std::uint8_t raidSettingSource;                 // 56
  std::uint8_t systemRaidMode;                    // 57
  std::array<std::uint8_t, 20> p0Serial;          // 58..77
  std::array<std::uint8_t, 20> p1Serial;          // 78..97
  std::array<std::uint8_t, 5> configuredSectors;  // 98..102
  std::uint8_t reserved103;                       // 103
  std::uint8_t portFlags;                         // 104
  std::uint8_t activityFlags;                     // 105
  std::uint8_t progressPercent;                   // 106
  std::array<std::uint8_t, 80> reserved107;       // 107..186
  std::array<std::uint8_t, 3> firmwareSuffix;     // 187..189
  std::array<std::uint8_t, 66> reserved190;       // 190..255
  std::array<std::uint8_t, 40> p0Model;           // 256..295
  std::array<std::uint8_t, 5> p0Sectors;          // 296..300
  std::uint8_t reserved301;                       // 301
  std::array<std::uint8_t, 40> p1Model;           // 302..341
  std::array<std::uint8_t, 5> p1Sectors;          // 342..346
  std::array<std::uint8_t, 10> reserved347;       // 347..356
  std::uint8_t sataGeneration;                    // 357
  std::array<std::uint8_t, 113> reserved358;      // 358..470
  std::uint8_t badSectorCount;                    // 471
  std::array<std::uint8_t, 40> badSectorLba;      // 472..511: ten 32-bit LBAs
};

static_assert(std::is_standard_layout_v<RaidStatusRecordWire>);
static_assert(std::is_trivially_copyable_v<RaidStatusRecordWire>);
static_assert(sizeof(RaidStatusRecordWire) == kRaidStatusRecordSize);
static_assert(kRaidStatusRecordSize == kSectorSize);
static_assert(offsetof(RaidStatusRecordWire, spiRaidMode) == 55);
static_assert(offsetof(RaidStatusRecordWire, raidSettingSource) == 56);
static_assert(offsetof(RaidStatusRecordWire, systemRaidMode) == 57);
static_assert(offsetof(RaidStatusRecordWire, p0Serial) == 58);
static_assert(offsetof(RaidStatusRecordWire, p1Serial) == 78);
static_assert(offsetof(RaidStatusRecordWire, configuredSectors) == 98);
static_assert(offsetof(RaidStatusRecordWire, portFlags) == 104);
static_assert(offsetof(RaidStatusRecordWire, activityFlags) == 105);
static_assert(offsetof(RaidStatusRecordWire, progressPercent) == 106);
static_assert(offsetof(RaidStatusRecordWire, firmwareSuffix) == 187);
static_assert(offsetof(RaidStatusRecordWire, p0Model) == 256);
static_assert(offsetof(RaidStatusRecordWire, p0Sectors) == 296);
static_assert(offsetof(RaidStatusRecordWire, p1Model) == 302);
static_assert(offsetof(RaidStatusRecordWire, p1Sectors) == 342);
static_assert(offsetof(RaidStatusRecordWire, sataGeneration) == 357);
static_assert(offsetof(RaidStatusRecordWire, badSectorCount) == 471);
static_assert(offsetof(RaidStatusRecordWire, badSectorLba) == 472);

// RAID modes (systemRaidMode, spiRaidMode). Any other value is undefined.
namespace RaidMode {
inline constexpr std::uint8_t Striping = 0;
inline constexpr std::uint8_t Mirror = 1;
inline constexpr std::uint8_t Nraid = 2;
inline constexpr std::uint8_t Jbod = 3;
inline constexpr std::uint8_t Bypass = 0x3F;
}  // namespace RaidMode

// raidSettingSource: the high nibble says where the RAID mode came from, bits 0 and 1 are
// the buzzer and auto-scan settings.
namespace SettingSource {
inline constexpr std::uint8_t BuzzerSounds = 0x01;  // clear = buzzer muted
inline constexpr std::uint8_t AutoScan = 0x02;
inline constexpr std::uint8_t OriginMask = 0xF0;
inline constexpr std::uint8_t ModeByJumper = 0xF0;
inline constexpr std::uint8_t ModeFromFlash = 0x10;
}  // namespace SettingSource

// portFlags: P0 in the low nibble, P1 in the high nibble.
namespace PortFlag {
inline constexpr std::uint8_t P0Inserted = 0x01;
inline constexpr std::uint8_t P0Initialized = 0x02;
inline constexpr std::uint8_t P0Absent = 0x04;
inline constexpr std::uint8_t P0Failed = 0x08;  // capacity too small
inline constexpr std::uint8_t P1Inserted = 0x10;
inline constexpr std::uint8_t P1Initialized = 0x20;
inline constexpr std::uint8_t P1Absent = 0x40;
inline constexpr std::uint8_t P1Failed = 0x80;
}  // namespace PortFlag

// activityFlags.
namespace ActivityFlag {
inline constexpr std::uint8_t P0Side = 0x01;  // scan of P0, or rebuild from P1 to P0
inline constexpr std::uint8_t P1Side = 0x02;  // scan of P1, or rebuild from P0 to P1
inline constexpr std::uint8_t Running = P0Side | P1Side;
inline constexpr std::uint8_t P0BadSector = 0x04;
inline constexpr std::uint8_t P1BadSector = 0x08;
// The activity is a surface scan, not a rebuild. Only firmware with auto-scan support
// sets it meaningfully; older firmware's activity is always a rebuild.
inline constexpr std::uint8_t Scan = 0x80;
}  // namespace ActivityFlag

inline constexpr std::size_t kBadSectorRingSize = 10;

// The decoded record. Texts are decoded from ATA string order and end at their first NUL
// or at the field's end; trailing blanks stay. Sector counts are the 40-bit values.
struct RaidStatusRecord {
  std::uint8_t slotMarker = 0;
  std::uint8_t configVersion = 0;
  std::uint8_t spiRaidMode = 0;
  std::uint8_t raidSettingSource = 0;
  std::uint8_t systemRaidMode = 0;
  std::string p0Serial;  // up to 20 characters
  std::string p1Serial;  // up to 20 characters
  std::uint64_t configuredSectors = 0;
  std::uint8_t portFlags = 0;
  std::uint8_t activityFlags = 0;
  std::uint8_t progressPercent = 0;
  std::array<std::uint8_t, 3> firmwareSuffix{};  // raw; FirmwareSuffixText checks it
  std::string p0Model;                           // up to 40 characters
  std::uint64_t p0Sectors = 0;
  std::string p1Model;  // up to 40 characters
  std::uint64_t p1Sectors = 0;
  std::uint8_t sataGeneration = 0;  // low nibble P0, high nibble P1
  std::uint8_t badSectorCount = 0;
  // The ring of the last ten bad-sector LBAs: bad sector k (from 0) is at k mod 10.
  std::array<std::uint32_t, kBadSectorRingSize> badSectorLba{};
  // The 512 bytes as read, for comparisons the fields above do not cover.
  Sector raw{};
};

RaidStatusRecord DecodeRaidStatusRecord(std::span<const std::uint8_t, kRaidStatusRecordSize> bytes);

// The readable text of a field stored in ATA string order: output character k is field
// byte k XOR 1. The text ends at its first NUL or at the field's end; nothing is trimmed.
// A field of odd length ends before its last byte, which has no partner.
std::string AtaText(std::span<const std::uint8_t> field);

// Whole gigabytes (GiB) of a count of 512-byte sectors, rounded down.
constexpr std::uint64_t GigabytesOf(std::uint64_t sectors) {
  return sectors >> 21;
}

inline bool BuzzerMuted(const RaidStatusRecord& record) {
  return (record.raidSettingSource & SettingSource::BuzzerSounds) == 0;
}
inline bool AutoScanOn(const RaidStatusRecord& record) {
  return (record.raidSettingSource & SettingSource::AutoScan) != 0;
}

// The LBA of bad sector k (counting from 0) in the ring of the last ten.
inline std::uint32_t BadSectorLbaOf(const RaidStatusRecord& record, unsigned k) {
  return record.badSectorLba[k % kBadSectorRingSize];
}

// One disk's part of the record, so P0 and P1 can be handled by the same code.
enum class DiskPort : std::uint8_t { P0 = 0, P1 = 1 };

// The four port bits of one disk moved to the low nibble: 0x01 inserted, 0x02 initialized,
// 0x04 absent, 0x08 failed (the values of the PortFlag::P0 constants).
constexpr std::uint8_t PortStateOf(std::uint8_t portFlags, DiskPort port) {
  return static_cast<std::uint8_t>((port == DiskPort::P0 ? portFlags : portFlags >> 4) & 0x0F);
}

struct DiskStatus {
  std::uint8_t portState = 0;  // PortStateOf
  std::uint8_t sataGeneration = 0;
  std::string serial;
  std::string model;
  std::uint64_t sectors = 0;
};

DiskStatus DiskStatusOf(const RaidStatusRecord& record, DiskPort port);

// The RAID mode names, one row per name. Modes 0..3 are rows 0..3.
inline constexpr std::array<std::string_view, 6> RaidModeNames = {"Striping", "Mirror", "NRAID",
                                                                  "JBOD",     "Bypass", "Undefine"};

// The name of a RAID mode value: rows 0..3 for 0..3, "Bypass" for 0x3F, "Undefine" for
// every other value.
std::string_view RaidModeName(std::uint8_t mode);

// The firmware code of the record: the three firmwareSuffix characters when they are an
// upper-case letter followed by two upper-case hexadecimal digits, "C00" otherwise.
std::string FirmwareSuffixText(const RaidStatusRecord& record);

}  // namespace caspira
