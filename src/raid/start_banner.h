// The lines with which the event log opens: the start line, and one information block per
// enclosure that answered (model, RAID mode, firmware, capacities, and both disks). Also
// the texts of a disk's serial number and capacity that the event lines share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/transport.h"
#include "raid/log_buffer.h"
#include "raid/raid_status_record.h"

namespace caspira {

// The line that opens and closes a banner: 83 "-".
inline const std::string kLogSeparator(83, '-');

// The detail lines under an event carry two blanks; those of an information block four.
inline constexpr std::string_view kEventDetailIndent = "  ";
inline constexpr std::string_view kBlockDetailIndent = "    ";

// "<GB> GB(<sectors> Sectors)": the gigabytes are the sector count shifted right by 21,
// rounded down; both numbers plain decimal.
std::string CapacityText(std::uint64_t sectors);

// `indent` "Serial no.: " and the disk's serial in double quotation marks, untrimmed.
std::string SerialLine(std::string_view indent, const DiskStatus& disk);
// `indent` "Capacity : " and CapacityText of the disk's sectors.
std::string CapacityLine(std::string_view indent, const DiskStatus& disk);

// Appends the separator and the start line: the window title, " has started from " and
// the time stamp.
void WriteStartBanner(LogBuffer& log, const std::string& windowTitle, const std::string& stamp);

// Appends the information block of the device in `slot` (0..3): its record and the
// controller's information sector (ATA IDENTIFY layout: firmware revision at 46, model at
// 54). The block has no device prefix and no time stamp.
void WriteDeviceInformation(LogBuffer& log, std::size_t slot, const RaidStatusRecord& record,
                            const Sector& controllerInfo);

}  // namespace caspira
