// The background threads' hand-over, over the simulated world. These tests also run
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>

#include "device/discovery.h"
#include "device/drive_detect_thread.h"
#include "raid/raid_thread.h"
#include "shell/request_flags.h"
#include "sim/sim_world.h"
#include "support/fakes.h"
#include "support/wait.h"

namespace caspira {
namespace {

TEST(DetectionThreadTest, RunsDetectionsWhileTheWindowThreadUsesTheSameDisks) {
  testing::FakeClock clock;
  sim::SimWorld world(clock);
  Transport transport{world};
  world.AddDisk(0);
  sim::EnclosureConfig sata;
  world.AddEnclosure(1, sata);
  world.AddVolume({"E", kDriveFixed, 1u, true});

  std::atomic<bool> request{false}, detecting{false}, done{false};
  Detector detector(transport);
  DriveDetectThread thread(
      DetectionFlags{request, detecting, done}, [&] { detector.Run(); }, std::chrono::milliseconds(1));
  thread.Start();

  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    const bool second = round % 2 == 1;
    if (second)
      world.AddEnclosure(3, sata);
    else
      world.RemoveDrive(3);
    DetectionInput input;
    input.driveLetters = EnumerateDriveLetters(world);
    input.driveLetterCount = static_cast<std::int32_t>(input.driveLetters.size());
    input.physicalDriveCount = CountPhysicalDrives(transport);
    detector.PostInput(input);
    detecting = true;
    request = true;
    // Meanwhile the window thread talks to the same enclosure.
    ASSERT_TRUE(testing::WaitFor([&] {
      DeviceHandle handle = OpenDevice(transport, 1);
      Sector sector{};
      EXPECT_TRUE(ReadSectors(handle, 33, 1, sector));
      return done.load();
    }));
    done = false;
    EXPECT_FALSE(detecting);
    const std::optional<DetectionResult> result = detector.TakeResult();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->tables.deviceCount, second ? 2 : 1);
    EXPECT_EQ(result->tables.driveTable[0].name, "E");
    EXPECT_FALSE(detector.TakeResult().has_value());
  }
  thread.Stop();
}

TEST(RaidThreadTest, HandsOverOneRequestPerTurnAndHoldsBackWhileDetecting) {
  std::atomic<bool> detecting{true};
  std::atomic<std::uint8_t> flags{RequestFlag::Poll | RequestFlag::WriteSettings | RequestFlag::Monitoring};
  std::atomic<int> handedOver{0};
  TRaidThread thread(
      detecting, flags,
      [&] {
        // What the window thread does: service the highest-priority bit.
        const std::uint8_t pending = flags;
        const std::uint8_t bit =
            (pending & RequestFlag::Poll) != 0 ? RequestFlag::Poll : RequestFlag::WriteSettings;
        flags &= static_cast<std::uint8_t>(~bit);
        ++handedOver;
      },
      std::chrono::milliseconds(1));
  thread.Start();
  // Nothing is handed over while a detection runs; pending work waits for it.
  for (int i = 0; i < 20; ++i) std::this_thread::yield();
  EXPECT_EQ(handedOver, 0);
  detecting = false;
  ASSERT_TRUE(testing::WaitFor([&] { return handedOver == 2; }));
  EXPECT_EQ(flags, RequestFlag::Monitoring);  // the monitoring bit is no work
  thread.Stop();
  EXPECT_EQ(handedOver, 2);
}

}  // namespace
}  // namespace caspira
