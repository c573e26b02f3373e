// Telling the host which disks identification found to be enclosures.
//
// A host that guards real disks trusts them by identity, and a drive number may belong to
// another disk by the time identification ends (a hot-plug while it probes). So the report
// names the very devices identification opened and recognised: identification opens the
// disks through a ProbedDrives, which notes each physical drive's identity as it opens it.
// It keeps nothing beyond one run.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "device/transport.h"
#include "platform/device_host.h"

namespace caspira {

class ProbedDrives final : public DeviceHost {
 public:
  explicit ProbedDrives(const Transport& transport);
  // Handles opened through transport() point at it.
  ProbedDrives(const ProbedDrives&) = delete;
  ProbedDrives& operator=(const ProbedDrives&) = delete;

  // The transport identification probes through: the given one, opening through this host.
  const Transport& transport() const { return transport_; }
  // The identity of physical drive `number` as it was last opened through this host;
  // empty when it was not opened.
  DeviceIdentity OpenedAs(unsigned number) const;

  std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned number) override;
  std::unique_ptr<BlockDevice> OpenVolume(const std::string& name) override;
  std::vector<std::string> ListVolumes() override;
  VolumeInfo QueryVolume(const std::string& name) override;
  DeviceChangeSource* DeviceChanges() override;
  DeviceIdentity DescribePhysicalDrive(unsigned number) override;
  void SetEnclosures(const std::vector<DeviceIdentity>& recognised,
                     const std::vector<DeviceIdentity>& kept) override;
  std::string AccessProblem() override;

 private:
  DeviceHost& host_;
  Transport transport_;
  std::array<DeviceIdentity, kMaxPhysicalDrives> opened_{};
};

// Tells `host` the enclosures of a finished identification: the disk of every slot found,
// as identification opened it, except the device being upgraded, which was not probed: it
// is reported as kept, as the host describes its disk now.
void ReportEnclosures(DeviceHost& host, const ProbedDrives& probed, const DetectionResult& result);

}  // namespace caspira
