#include "raid/start_banner.h"

#include "device/device_info.h"

namespace caspira {

std::string CapacityText(std::uint64_t sectors) {
  return std::to_string(GigabytesOf(sectors)) + " GB(" + std::to_string(sectors) + " Sectors)";
}

std::string SerialLine(std::string_view indent, const DiskStatus& disk) {
  return std::string(indent) + "Serial no.: \"" + disk.serial + "\"";
}

std::string CapacityLine(std::string_view indent, const DiskStatus& disk) {
  return std::string(indent) + "Capacity : " + CapacityText(disk.sectors);
}

void WriteStartBanner(LogBuffer& log, const std::string& windowTitle, const std::string& stamp) {
  log.Append(kLogSeparator);
  log.Append(windowTitle + " has started from " + stamp);
}

namespace {

// One disk's lines in the block: the first of absent, present, failed and inserted that
// the flags carry decides; a disk with none of them gets no line.
void WriteDiskLines(LogBuffer& log, const RaidStatusRecord& record, DiskPort port) {
  const DiskStatus disk = DiskStatusOf(record, port);
  const std::string name = port == DiskPort::P0 ? "P0" : "P1";
  const std::uint8_t state = disk.portState;
  const auto details = [&] {
    log.Append(SerialLine(kBlockDetailIndent, disk));
    log.Append(CapacityLine(kBlockDetailIndent, disk));
  };
  if ((state & PortFlag::P0Absent) != 0) {
    log.Append("  " + name + " is absent. ");
  } else if ((state & PortFlag::P0Initialized) != 0) {
    log.Append("  " + name + " is present.(SATA" + std::to_string(disk.sataGeneration) + ")");
    details();
  } else if ((state & PortFlag::P0Failed) != 0) {
    log.Append("  " + name + " was failed, Capacity too small.");
    details();
  } else if ((state & PortFlag::P0Inserted) != 0) {
    log.Append(name + " was inserted.");
  }
}

}  // namespace

void WriteDeviceInformation(LogBuffer& log, std::size_t slot, const RaidStatusRecord& record,
                            const Sector& controllerInfo) {
  log.Append("Device" + std::to_string(slot + 1) + " information :");
  log.Append("Model# " + ControllerModelOf(controllerInfo));
  log.Append(std::string(RaidModeName(record.systemRaidMode)) + ", F/W Rev. " +
             FirmwareRevisionOf(controllerInfo) + "." + FirmwareSuffixText(record));
  log.Append("Configured Capacity : " + CapacityText(record.configuredSectors));
  WriteDiskLines(log, record, DiskPort::P0);
  WriteDiskLines(log, record, DiskPort::P1);
}

}  // namespace caspira
