// The platform layer over the host's real disks.
//
// Physical drive N is the N-th SCSI disk (sda = 0), reached through its SCSI generic node
// with SG_IO; volumes are the partitions and whole-disk filesystems the kernel knows; device
// changes come from udev (or the kernel's uevents). Every request passes the write interlock
// (write_guard.h) first.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_host.h"
#include "platform/linux/kernel_io.h"
#include "platform/linux/sysfs.h"
#include "platform/linux/write_guard.h"

namespace caspira {

// The text that tells the user how to get the rights the program needs. `node` is a disk
// node that could not be opened ("/dev/sg1"); `group` the group that owns it, empty when
// joining a group would not help (no group, or root's).
std::string AccessProblemText(const std::string& node, const std::string& group);

class LinuxHost final : public DeviceHost {
 public:
  struct Options {
    std::filesystem::path root = "/";              // where /sys, /dev and /run are
    std::shared_ptr<linux_backend::KernelIo> io;   // null: the real kernel
    linux_backend::WriteGuard::Reporter reporter;  // refusals; empty: stderr
  };

  LinuxHost();
  explicit LinuxHost(Options options);
  ~LinuxHost() override;

  std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned number) override;
  std::unique_ptr<BlockDevice> OpenVolume(const std::string& name) override;
  std::vector<std::string> ListVolumes() override;
  VolumeInfo QueryVolume(const std::string& name) override;
  DeviceChangeSource* DeviceChanges() override;
  DeviceIdentity DescribePhysicalDrive(unsigned number) override;
  void SetEnclosures(const std::vector<DeviceIdentity>& recognised,
                     const std::vector<DeviceIdentity>& kept) override;
  std::string AccessProblem() override;

  // The interlock, for diagnostics: what it refused.
  const linux_backend::WriteGuard& guard() const { return *guard_; }

 private:
  linux_backend::SysfsView view_;
  std::shared_ptr<linux_backend::KernelIo> io_;
  std::shared_ptr<linux_backend::WriteGuard> guard_;

  std::once_flag changesOnce_;
  std::unique_ptr<DeviceChangeSource> changes_;
};

}  // namespace caspira
