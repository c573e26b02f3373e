// What sysfs tells about the host's disks and volumes.
//
// Everything is read below a root directory ("/" on a real system); tests point it at a
// fixture tree. Nothing is cached: each call reads the tree as it is now.
//
// - The physical drives are the SCSI disks (/sys/block/sd*) in kernel-name order: sda, sdb,
//   ..., sdz, sdaa. Drive N is the N-th of them, whatever names are missing in between.
// - Pass-through goes to the disk's SCSI generic node (device/scsi_generic/sgN -> /dev/sgN),
//   or to the disk's own node where it has none.
// - The volumes are the partitions of disks backed by a device (not loop, zram, dm or md),
//   and whole disks without partitions that udev found a filesystem on.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_host.h"

namespace caspira::linux_backend {

struct DevNumbers {
  unsigned major = 0;
  unsigned minor = 0;
  friend bool operator==(const DevNumbers&, const DevNumbers&) = default;
};
// "8:16" as sysfs writes it (trailing newline allowed).
std::optional<DevNumbers> ParseDevNumbers(std::string_view text);

// Orders kernel names as the kernel numbers them: runs of letters by length, then
// alphabetically (sdz before sdaa), runs of digits by value (sda2 before sda10).
bool KernelNameLess(std::string_view a, std::string_view b);

// A device node and what it must turn out to be when opened.
struct DeviceNode {
  std::filesystem::path path;
  bool character = false;             // a character device (sg) rather than a block device
  std::optional<DevNumbers> numbers;  // from sysfs; unknown when unreadable
};

struct ScsiDisk {
  std::string name;               // "sdb"
  std::optional<std::string> sg;  // "sg1"
  DeviceNode node;                // where pass-through goes
  std::optional<bool> removable;  // unknown when the attribute cannot be read
  DeviceIdentity identity;
};

struct Volume {
  std::string name;                    // "sdb1", "nvme0n1p2", or a whole disk such as "sdc"
  std::string disk;                    // the disk it lives on
  std::optional<unsigned> diskNumber;  // that disk's position among the SCSI disks
  std::optional<bool> removable;
  DeviceNode node;
  DeviceIdentity identity;
};

class SysfsView {
 public:
  explicit SysfsView(std::filesystem::path root);

  // Every SCSI disk, in kernel-name order (more than ten may exist).
  std::vector<ScsiDisk> ScsiDisks() const;
  // Every volume, disk by disk in kernel-name order, partitions by number.
  std::vector<Volume> Volumes() const;

  const std::filesystem::path& root() const { return root_; }

 private:
  std::optional<ScsiDisk> ReadScsiDisk(const std::string& name) const;

  std::filesystem::path root_;
};

// The first line of a sysfs attribute without surrounding blanks; nothing when it cannot be
// read (missing, a directory, unreadable) or is empty.
std::optional<std::string> ReadAttribute(const std::filesystem::path& path);

}  // namespace caspira::linux_backend
