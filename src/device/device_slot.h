// DeviceSlot bits and the marks by which an enclosure controller is recognised.
#pragma once

#include <cstdint>
#include <span>

#include "device/transport.h"

namespace caspira {

inline constexpr std::uint32_t kSlotDiskMask = 0x0F;
inline constexpr std::uint32_t SlotAtaPath = 0x10;         // IDENTIFY carried the tag
inline constexpr std::uint32_t SlotVendorScsiPath = 0x20;  // answers vendor SCSI frames
inline constexpr std::uint32_t SlotSectorTag = 0x40;       // LBA 58 carried the tag
inline constexpr std::uint32_t SlotCompactCdb = 0x80;      // one-prefix vendor frames
inline constexpr std::uint32_t kSlotKindMask = 0xF0;

inline constexpr unsigned SlotDisk(std::uint32_t slot) {
  return slot & kSlotDiskMask;
}
// Any kind bit set: a controller answers on this disk.
inline constexpr bool SlotIsEnclosure(std::uint32_t slot) {
  return (slot & kSlotKindMask) != 0;
}
// The vendor frame layout a slot's controller expects.
inline constexpr std::uint8_t SlotCdbShift(std::uint32_t slot) {
  return (slot & SlotCompactCdb) != 0 ? 1 : 0;
}

// The controller information sector: ATA IDENTIFY layout, tagged "3X" at 258.
inline constexpr std::size_t kInfoRevisionOffset = 46;
inline constexpr std::size_t kInfoRevisionLength = 8;
inline constexpr std::size_t kInfoModelOffset = 54;
inline constexpr std::size_t kInfoModelLength = 40;
inline constexpr std::size_t kControllerTagOffset = 258;
inline constexpr std::uint8_t kControllerTag[2] = {0x33, 0x58};

inline bool HasControllerTag(std::span<const std::uint8_t> sector) {
  return sector.size() > kControllerTagOffset + 1 && sector[kControllerTagOffset] == kControllerTag[0] &&
         sector[kControllerTagOffset + 1] == kControllerTag[1];
}

// Every enclosure's controller reports a model number beginning with this.
inline constexpr const char* kModelPrefix = "TALVEN";

// Sectors the controller treats specially.
inline constexpr std::uint32_t kMailboxLba = 20;
inline constexpr std::uint32_t kStatusRecordLba = 33;
inline constexpr std::uint32_t kControllerInfoLba = 58;
inline constexpr std::uint32_t kFlashDataLba = 60;
inline constexpr std::uint32_t kFirstVaryingMailboxLba = 3;
inline constexpr std::uint32_t kLastVaryingMailboxLba = 130;

}  // namespace caspira
