// The world is used by several threads at once: the detection thread, the window thread
// and the world's own timer. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>

#include "sim_fixture.h"
#include "support/wait.h"

namespace caspira::sim::testing {
namespace {

TEST_F(SimTest, ConcurrentRequestsTimeAndPlugging) {
  world.AddEnclosure(1, Usb());
  world.AddEnclosure(2, Sata());
  world.AddDisk(3);
  world.AddVolume({"E", kDriveFixed, 1, true});
  constexpr int kRounds = 300;
  std::atomic<int> usbDone{0}, sataDone{0}, diskCompleted{0};

  std::thread usb([&] {
    auto device = world.OpenPhysicalDrive(1);
    for (int i = 0; i < kRounds; ++i) {
      const std::uint32_t address = 0x40000 + static_cast<std::uint32_t>(i % 16) * 0x1000;
      if (Send(*device, VendorFrame(true, 0x81, address), DataDirection::In, 8).completed &&
          Send(*device, VendorFrame(true, 0x89, address), DataDirection::Out, 256, Bytes(256, 0x11))
              .completed &&
          Send(*device, VendorFrame(true, 0x85, address), DataDirection::In, 512).data[0] == 0x11)
        ++usbDone;
    }
  });
  std::thread sata([&] {
    auto device = world.OpenPhysicalDrive(2);
    for (int i = 0; i < kRounds; ++i) {
      CommandSector settings(0x20, static_cast<std::uint8_t>(i & 1));
      if (WriteLba(*device, 20, settings.Sum().bytes).completed && ReadLba(*device, 33).completed) ++sataDone;
    }
  });
  std::thread plugging([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (i % 2 == 0) {
        world.Unplug(3);
      } else {
        world.Plug(3);
      }
      clock.AdvanceSeconds(0.5);
      world.Advance();
    }
    world.Plug(3);
  });
  std::thread detection([&] {
    for (int i = 0; i < kRounds; ++i) {
      for (unsigned d = 0; d < kMaxPhysicalDrives; ++d) {
        auto device = world.OpenPhysicalDrive(d);
        if (device && d == 3 && ReadLba(*device, 58).completed) ++diskCompleted;
      }
      world.ListVolumes();
      world.QueryVolume("E");
      world.Raid(2);
    }
  });
  usb.join();
  sata.join();
  plugging.join();
  detection.join();

  EXPECT_EQ(usbDone.load(), kRounds);
  EXPECT_EQ(sataDone.load(), kRounds);
  EXPECT_LE(diskCompleted.load(), kRounds);
  EXPECT_TRUE(world.IsPresent(3));
  EXPECT_EQ(world.Raid(2).raidSettingSource & 0x01, (kRounds - 1) & 1);
}

TEST_F(SimTest, ANotificationWakesAWaitingThread) {
  world.AddEnclosure(1, Usb());
  DeviceChangeSource* changes = world.DeviceChanges();
  ASSERT_NE(changes, nullptr);
  changes->TakeNotifications();
  std::atomic<bool> woke{false};
  std::thread watcher([&] {
    pollfd p{changes->NotificationFd(), POLLIN, 0};
    if (poll(&p, 1, 30000) == 1) woke = changes->TakeNotifications() > 0;
  });
  world.Unplug(1);
  watcher.join();
  EXPECT_TRUE(woke.load());
}

}  // namespace
}  // namespace caspira::sim::testing
