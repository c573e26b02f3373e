#include "platform/linux/device_changes.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <system_error>

namespace caspira::linux_backend {
namespace {

constexpr unsigned kKernelUeventGroup = 1;

void MakeNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace

bool IsDeviceChangeAction(std::string_view action) {
  return action == "add" || action == "remove";
}

bool UeventIsDeviceChange(std::span<const std::uint8_t> message) {
  const std::string_view text(reinterpret_cast<const char*>(message.data()), message.size());
  std::size_t at = 0;
  bool first = true;
  std::string_view action, subsystem;
  while (at < text.size()) {
    std::size_t end = text.find('\0', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view field = text.substr(at, end - at);
    if (first) {
      // The kernel's header "action@devpath"; anything else is not a kernel uevent.
      if (field.find('@') == std::string_view::npos) return false;
      first = false;
    } else if (field.rfind("ACTION=", 0) == 0) {
      action = field.substr(7);
    } else if (field.rfind("SUBSYSTEM=", 0) == 0) {
      subsystem = field.substr(10);
    }
    at = end + 1;
  }
  return subsystem == "block" && IsDeviceChangeAction(action);
}

std::unique_ptr<UdevChangeSource> UdevChangeSource::Start() {
  struct udev* context = udev_new();
  if (context == nullptr) return nullptr;
  struct udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
  if (monitor == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0 || udev_monitor_get_fd(monitor) < 0) {
    if (monitor != nullptr) udev_monitor_unref(monitor);
    udev_unref(context);
    return nullptr;
  }
  const int fd = udev_monitor_get_fd(monitor);
  MakeNonBlocking(fd);
  return std::unique_ptr<UdevChangeSource>(new UdevChangeSource(context, monitor, fd));
}

UdevChangeSource::~UdevChangeSource() {
  udev_monitor_unref(monitor_);  // closes the descriptor
  udev_unref(udev_);
}

unsigned UdevChangeSource::TakeNotifications() {
  unsigned count = 0;
  while (struct udev_device* device = udev_monitor_receive_device(monitor_)) {
    const char* action = udev_device_get_action(device);
    if (action != nullptr && IsDeviceChangeAction(action)) ++count;
    udev_device_unref(device);
  }
  return count;
}

std::unique_ptr<UeventChangeSource> UeventChangeSource::Start() {
  const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
  if (fd < 0) return nullptr;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = kKernelUeventGroup;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<UeventChangeSource>(fd);
}

UeventChangeSource::UeventChangeSource(int fd) : fd_(fd) {
  MakeNonBlocking(fd_);
}

UeventChangeSource::~UeventChangeSource() {
  close(fd_);
}

unsigned UeventChangeSource::TakeNotifications() {
  unsigned count = 0;
  std::array<std::uint8_t, 8192> buffer;
  for (;;) {
    sockaddr_nl sender{};
    iovec part{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t n = recvmsg(fd_, &message, MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOBUFS) {  // the socket overran: events were lost, so something changed
        ++count;
        continue;
      }
      break;  // drained (EAGAIN), or the socket failed; either way nothing more now
    }
    if (n == 0) break;
    // Only the kernel (port 0) speaks for the hardware on this socket.
    if (message.msg_namelen >= sizeof sender && sender.nl_family == AF_NETLINK && sender.nl_pid != 0)
      continue;
    if ((message.msg_flags & MSG_TRUNC) != 0) continue;
    if (UeventIsDeviceChange({buffer.data(), static_cast<std::size_t>(n)})) ++count;
  }
  return count;
}

std::unique_ptr<DeviceChangeSource> StartDeviceChanges(const std::filesystem::path& root) {
  std::error_code ec;
  if (std::filesystem::exists(root / "run/udev/control", ec))
    if (auto source = UdevChangeSource::Start()) return source;
  if (auto source = UeventChangeSource::Start()) return source;
  return nullptr;
}

}  // namespace caspira::linux_backend
