// The platform layer over the host's real disks.
#pragma once

#include "platform/null_host.h"

namespace caspira {

// Until the real-disk backend is in place the program runs over a host with no disks.
class LinuxHost final : public DeviceHost {
 public:
  std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned) override { return nullptr; }
  std::unique_ptr<BlockDevice> OpenVolume(const std::string&) override { return nullptr; }
  std::vector<std::string> ListVolumes() override { return {}; }
  VolumeInfo QueryVolume(const std::string&) override { return {}; }
  DeviceChangeSource* DeviceChanges() override { return nullptr; }
};

}  // namespace caspira
