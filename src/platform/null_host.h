// A host with no disks and no volumes.
#pragma once

#include "platform/device_host.h"

namespace caspira {

class NullHost final : public DeviceHost {
 public:
  std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned) override { return nullptr; }
  std::unique_ptr<BlockDevice> OpenVolume(const std::string&) override { return nullptr; }
  std::vector<std::string> ListVolumes() override { return {}; }
  VolumeInfo QueryVolume(const std::string&) override { return {}; }
  DeviceChangeSource* DeviceChanges() override { return nullptr; }
};

}  // namespace caspira
