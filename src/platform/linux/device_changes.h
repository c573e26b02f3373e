// Hearing disks come and go.
//
// With udev running, a libudev monitor on the block subsystem tells when udev has finished
// with a disk or partition that was added or removed. Without udev (no /run/udev/control) the
// kernel's own uevents say the same a little earlier. Only "add" and "remove" count: the
// "change" events that closing a disk node written to, or a media check, cause are ignored,
// so the program's own exchanges never look like a device change.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

#include "platform/device_host.h"

struct udev;
struct udev_monitor;

namespace caspira::linux_backend {

// Whether a device event's action is a device coming or going.
bool IsDeviceChangeAction(std::string_view action);

// Whether one kernel uevent datagram ("add@/devices/...\0ACTION=add\0SUBSYSTEM=block\0...")
// tells that a block device came or went.
bool UeventIsDeviceChange(std::span<const std::uint8_t> message);

class UdevChangeSource final : public DeviceChangeSource {
 public:
  // Null when libudev cannot set up the monitor.
  static std::unique_ptr<UdevChangeSource> Start();
  ~UdevChangeSource() override;
  // It owns the monitor and its descriptor: a copy would release them twice.
  UdevChangeSource(const UdevChangeSource&) = delete;
  UdevChangeSource& operator=(const UdevChangeSource&) = delete;
  int NotificationFd() const override { return fd_; }
  unsigned TakeNotifications() override;

 private:
  UdevChangeSource(struct udev* context, struct udev_monitor* monitor, int fd)
      : udev_(context), monitor_(monitor), fd_(fd) {}
  struct udev* udev_;
  struct udev_monitor* monitor_;
  int fd_;
};

class UeventChangeSource final : public DeviceChangeSource {
 public:
  // Null when the kernel's uevent socket cannot be opened.
  static std::unique_ptr<UeventChangeSource> Start();
  // Reads uevent datagrams from `fd`, which it owns from then on.
  explicit UeventChangeSource(int fd);
  ~UeventChangeSource() override;
  // It owns the socket: a copy would close it twice.
  UeventChangeSource(const UeventChangeSource&) = delete;
  UeventChangeSource& operator=(const UeventChangeSource&) = delete;
  int NotificationFd() const override { return fd_; }
  unsigned TakeNotifications() override;

 private:
  int fd_;
};

// The source for the system below `root`: udev when it runs there, else kernel uevents;
// null when neither can be had.
std::unique_ptr<DeviceChangeSource> StartDeviceChanges(const std::filesystem::path& root);

}  // namespace caspira::linux_backend
