// Device-change notifications, and the text that explains missing rights.
#include "platform/linux/device_changes.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "platform/linux/fake_kernel.h"
#include "platform/linux/linux_host.h"

namespace caspira {
namespace {

using linux_backend::UeventChangeSource;
using linux_backend::UeventIsDeviceChange;
using testing::FakeKernel;
using ::testing::HasSubstr;
using testing::LinuxFixture;
using ::testing::Not;

std::string Uevent(const std::string& action, const std::string& subsystem) {
  std::string m = action + "@/devices/pci0000:00/0000:00:14.0/usb2/2-1/host6/block/sdb";
  m += '\0';
  m += "ACTION=" + action;
  m += '\0';
  m += "DEVPATH=/devices/pci0000:00/0000:00:14.0/usb2/2-1/host6/block/sdb";
  m += '\0';
  m += "SUBSYSTEM=" + subsystem;
  m += '\0';
  m += "DEVNAME=sdb";
  m += '\0';
  return m;
}

bool Counts(const std::string& message) {
  return UeventIsDeviceChange({reinterpret_cast<const std::uint8_t*>(message.data()), message.size()});
}

// Each source owns a descriptor; a copy (or a move the class does not make right) would
// close it twice.
template <typename Source>
constexpr bool kOwnsAlone = !std::is_copy_constructible_v<Source> && !std::is_copy_assignable_v<Source> &&
                            !std::is_move_constructible_v<Source> && !std::is_move_assignable_v<Source>;
static_assert(kOwnsAlone<UeventChangeSource>);
static_assert(kOwnsAlone<linux_backend::UdevChangeSource>);

TEST(Uevents, OnlyBlockDevicesComingAndGoingCount) {
  EXPECT_TRUE(Counts(Uevent("add", "block")));
  EXPECT_TRUE(Counts(Uevent("remove", "block")));
  EXPECT_FALSE(Counts(Uevent("change", "block"))) << "our own exchanges cause these";
  EXPECT_FALSE(Counts(Uevent("bind", "block")));
  EXPECT_FALSE(Counts(Uevent("add", "usb")));
  EXPECT_FALSE(Counts(Uevent("add", "blockx")));
  std::string udevMessage = "libudev";
  udevMessage += '\0';
  udevMessage += "ACTION=add";
  udevMessage += '\0';
  udevMessage += "SUBSYSTEM=block";
  EXPECT_FALSE(Counts(udevMessage)) << "not the kernel's";
  std::string unterminated = Uevent("remove", "block");
  unterminated.pop_back();
  EXPECT_TRUE(Counts(unterminated));
  EXPECT_FALSE(Counts(""));
}

TEST(Uevents, EachAddOrRemoveIsOneNotificationAndTakingNeverBlocks) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds), 0);
  UeventChangeSource source(fds[0]);
  const auto send = [&](const std::string& m) {
    ASSERT_EQ(::send(fds[1], m.data(), m.size(), 0), ssize_t(m.size()));
  };

  EXPECT_EQ(source.TakeNotifications(), 0u) << "nothing pending: returns at once";
  for (const auto& [action, subsystem] : std::vector<std::pair<std::string, std::string>>{
           {"add", "block"}, {"change", "block"}, {"add", "block"}, {"add", "scsi"}, {"remove", "block"}})
    send(Uevent(action, subsystem));
  pollfd ready{source.NotificationFd(), POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 0), 1) << "the descriptor shows pending notifications";
  EXPECT_EQ(source.TakeNotifications(), 3u);
  EXPECT_EQ(poll(&ready, 1, 0), 0) << "taking drains them";
  EXPECT_EQ(source.TakeNotifications(), 0u);
  close(fds[1]);
}

TEST(DeviceChanges, UseUdevWhereItRunsAndTheKernelsEventsWhereItDoesNot) {
  if (!UeventChangeSource::Start()) GTEST_SKIP() << "no netlink sockets in this sandbox";
  // The "typical" tree has /run/udev/control; "gaps" has no udev at all.
  const auto withUdev = linux_backend::StartDeviceChanges(LinuxFixture("typical"));
  ASSERT_NE(withUdev, nullptr);
  EXPECT_NE(dynamic_cast<linux_backend::UdevChangeSource*>(withUdev.get()), nullptr);
  EXPECT_GE(withUdev->NotificationFd(), 0);
  EXPECT_EQ(withUdev->TakeNotifications(), 0u) << "returns at once with nothing pending";

  const auto withoutUdev = linux_backend::StartDeviceChanges(LinuxFixture("gaps"));
  ASSERT_NE(withoutUdev, nullptr);
  EXPECT_NE(dynamic_cast<UeventChangeSource*>(withoutUdev.get()), nullptr);
  EXPECT_EQ(withoutUdev->TakeNotifications(), 0u);

  LinuxHost host({LinuxFixture("gaps"), std::make_shared<FakeKernel>(), {}});
  DeviceChangeSource* source = host.DeviceChanges();
  EXPECT_NE(source, nullptr);
  EXPECT_EQ(host.DeviceChanges(), source) << "one source for the program's life";
}

struct RightsCase {
  const char* name;
  std::map<std::string, int> openErrors;
  bool problem;
};

TEST(AccessProblem, SpeaksOnlyWhenDisksExistAndRightsKeepThemAllShut) {
  const std::vector<RightsCase> cases = {
      {"every node opens", {}, false},
      {"no rights to any node", {{"sg0", -EACCES}, {"sg1", -EACCES}, {"sg2", -EPERM}}, true},
      {"one node opens", {{"sg0", -EACCES}, {"sg1", -EACCES}}, false},
      {"nodes missing, not forbidden", {{"sg0", -ENOENT}, {"sg1", -ENOENT}, {"sg2", -ENOENT}}, false},
      {"some forbidden, the rest missing", {{"sg0", -ENOENT}, {"sg1", -EACCES}, {"sg2", -ENODEV}}, true},
  };
  for (const RightsCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto kernel = std::make_shared<FakeKernel>();
    kernel->openErrors = c.openErrors;
    LinuxHost host({LinuxFixture("typical"), kernel, {}});
    const std::string text = host.AccessProblem();
    EXPECT_EQ(!text.empty(), c.problem) << text;
    EXPECT_EQ(kernel->OpenCount(), 0u);
    if (c.problem) {
      EXPECT_THAT(text, HasSubstr("/dev/sg"));
      EXPECT_THAT(text, HasSubstr("sudo caspira"));
      EXPECT_EQ(text.find('\n'), std::string::npos) << "one paragraph";
    }
  }
}

TEST(AccessProblem, NamesTheGroupOnlyWhenJoiningItHelps) {
  const std::string withGroup = AccessProblemText("/dev/sg1", "disk");
  EXPECT_THAT(withGroup, HasSubstr("/dev/sg1"));
  EXPECT_THAT(withGroup, HasSubstr("sudo usermod -aG disk $USER"));
  const std::string withoutGroup = AccessProblemText("/dev/sg1", "");
  EXPECT_THAT(withoutGroup, Not(HasSubstr("usermod")));
  EXPECT_THAT(withoutGroup, HasSubstr("udev rule"));
}

}  // namespace
}  // namespace caspira
