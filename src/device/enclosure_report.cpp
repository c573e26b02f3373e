#include "device/enclosure_report.h"

#include "device/device_slot.h"

namespace caspira {

ProbedDrives::ProbedDrives(const Transport& transport)
    : host_(transport.host), transport_{*this, transport.allocateBlock} {}

DeviceIdentity ProbedDrives::OpenedAs(unsigned number) const {
  return number < opened_.size() ? opened_[number] : DeviceIdentity{};
}

std::unique_ptr<BlockDevice> ProbedDrives::OpenPhysicalDrive(unsigned number) {
  std::unique_ptr<BlockDevice> device = host_.OpenPhysicalDrive(number);
  if (number < opened_.size()) opened_[number] = device ? device->Identity() : DeviceIdentity{};
  return device;
}

std::unique_ptr<BlockDevice> ProbedDrives::OpenVolume(const std::string& name) {
  return host_.OpenVolume(name);
}

std::vector<std::string> ProbedDrives::ListVolumes() {
  return host_.ListVolumes();
}

VolumeInfo ProbedDrives::QueryVolume(const std::string& name) {
  return host_.QueryVolume(name);
}

DeviceChangeSource* ProbedDrives::DeviceChanges() {
  return host_.DeviceChanges();
}

DeviceIdentity ProbedDrives::DescribePhysicalDrive(unsigned number) {
  return host_.DescribePhysicalDrive(number);
}

void ProbedDrives::SetEnclosures(const std::vector<DeviceIdentity>& recognised,
                                 const std::vector<DeviceIdentity>& kept) {
  host_.SetEnclosures(recognised, kept);
}

std::string ProbedDrives::AccessProblem() {
  return host_.AccessProblem();
}

void ReportEnclosures(DeviceHost& host, const ProbedDrives& probed, const DetectionResult& result) {
  std::vector<DeviceIdentity> recognised;
  std::vector<DeviceIdentity> kept;
  for (std::int32_t i = 0; i < result.tables.deviceCount && i < kMaxDeviceSlots; ++i) {
    const unsigned disk = SlotDisk(result.tables.deviceSlots[static_cast<std::size_t>(i)]);
    if (result.upgradeSlotIndex == i) {
      kept.push_back(host.DescribePhysicalDrive(disk));
    } else {
      recognised.push_back(probed.OpenedAs(disk));
    }
  }
  host.SetEnclosures(recognised, kept);
}

}  // namespace caspira
