// The host is used by the detection thread and the window thread at once: identification
// reports enclosures while the window writes to them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device/transport.h"
#include "platform/linux/fake_kernel.h"
#include "platform/linux/linux_host.h"

namespace caspira {
namespace {

using testing::FakeKernel;
using testing::LinuxFixture;

TEST(LinuxHostThreads, IdentificationAndWritesRunTogetherWithoutLettingABadWriteThrough) {
  auto kernel = std::make_shared<FakeKernel>();
  std::atomic<unsigned> reports{0};
  LinuxHost host({LinuxFixture("typical"), kernel, [&](const std::string&) { ++reports; }});
  Transport transport{host};
  std::atomic<bool> identifying{true};

  std::thread detection([&] {
    for (int run = 0; run < 200; ++run) {
      std::vector<DeviceIdentity> opened(kMaxPhysicalDrives);
      for (unsigned n = 0; n < kMaxPhysicalDrives; ++n)
        if (const auto device = host.OpenPhysicalDrive(n)) opened[n] = device->Identity();
      host.SetEnclosures(run % 2 == 0 ? std::vector{opened[1]} : std::vector{opened[1], opened[2]}, {});
    }
    identifying = false;
  });
  std::vector<std::uint8_t> sector(512, 0x33);
  unsigned refusedHere = 0;
  while (identifying) {
    DeviceHandle enclosure = OpenDevice(transport, 1);
    DeviceHandle disk = OpenDevice(transport, 0);
    ASSERT_TRUE(enclosure && disk);
    if (!WriteSectors(enclosure, 20, 1, sector)) ++refusedHere;  // before the first report
    EXPECT_FALSE(WriteSectors(enclosure, 0, 1, sector));
    EXPECT_FALSE(WriteSectors(disk, 20, 1, sector));
    refusedHere += 2;
  }
  detection.join();

  for (const FakeKernel::Sent& sent : kernel->sent) {
    EXPECT_EQ(sent.node, "sg1");
    EXPECT_EQ(sent.cdb[5], 20);
  }
  EXPECT_EQ(host.guard().RefusedCount(), refusedHere);
  EXPECT_EQ(reports.load(), refusedHere);
  EXPECT_EQ(kernel->OpenCount(), 0u);
}

}  // namespace
}  // namespace caspira
