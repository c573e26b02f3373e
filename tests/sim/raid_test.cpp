// The RAID state behind the status record: disk events, rebuilds, scans and bad sectors
// as simulated time passes.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "sim_fixture.h"

namespace caspira::sim::testing {
namespace {

struct PortEvent {
  const char* name;
  std::uint8_t before;
  std::function<std::string(SimWorld&)> event;
  std::uint8_t after;
};

class PortEventTest : public SimTest, public ::testing::WithParamInterface<PortEvent> {};

TEST_P(PortEventTest, ChangesThePortFlags) {
  EnclosureConfig c = Sata();
  c.raid.portFlags = GetParam().before;
  world.AddEnclosure(1, c);
  EXPECT_EQ(GetParam().event(world), "");
  EXPECT_EQ(world.Raid(1).portFlags, GetParam().after);
  EXPECT_EQ(world.LiveRecord(1)[104], GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Events, PortEventTest,
    ::testing::Values(
        PortEvent{"RemoveP1", 0x33, [](SimWorld& w) { return w.RemoveDisk(1, Port::P1); }, 0x43},
        PortEvent{"RemoveP0", 0x33, [](SimWorld& w) { return w.RemoveDisk(1, Port::P0); }, 0x34},
        PortEvent{"InsertP1", 0x43, [](SimWorld& w) { return w.InsertDisk(1, Port::P1); }, 0x13},
        PortEvent{"InitializeP1", 0x13, [](SimWorld& w) { return w.InitializeDisk(1, Port::P1); }, 0x33},
        PortEvent{"FailP0", 0x33, [](SimWorld& w) { return w.FailDisk(1, Port::P0); }, 0x39},
        PortEvent{"FailP1", 0x33, [](SimWorld& w) { return w.FailDisk(1, Port::P1); }, 0x93}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(SimTest, AnAbsentDiskLeavesItsFieldsEmpty) {
  world.AddEnclosure(1, Sata());
  world.RemoveDisk(1, Port::P1);
  const auto r = world.LiveRecord(1);
  EXPECT_EQ(r[78], 0);
  EXPECT_EQ(r[302], 0);
  EXPECT_EQ(r[342], 0);
  EXPECT_EQ(r[357] >> 4, 0);
}

TEST_F(SimTest, RebuildRunsWithTheClockAndEndsWithTheDiskInitialized) {
  world.AddEnclosure(1, Sata());
  world.RemoveDisk(1, Port::P1);
  world.InsertDisk(1, Port::P1);
  ASSERT_EQ(world.StartRebuild(1, Port::P1, ActivitySpeed{100.0, std::nullopt}), "");
  RaidState s = world.Raid(1);
  EXPECT_EQ(s.activityFlags, 0x02) << "rebuild from P0 to P1";
  EXPECT_EQ(s.progressPercent, 0);

  Step(37.5);
  EXPECT_EQ(world.Raid(1).progressPercent, 37);
  Step(62.0);
  s = world.Raid(1);
  EXPECT_EQ(s.progressPercent, 99) << "a running rebuild shows 99 at most";
  EXPECT_EQ(s.activityFlags, 0x02);
  Step(1.0);
  s = world.Raid(1);
  EXPECT_EQ(s.activityFlags, 0);
  EXPECT_EQ(s.progressPercent, 0);
  EXPECT_EQ(s.portFlags, 0x33);
}

TEST_F(SimTest, RebuildCanStartPartWayAndStopsWhenADiskGoes) {
  world.AddEnclosure(1, Sata());
  ASSERT_EQ(world.StartRebuild(1, Port::P0, ActivitySpeed{100.0, std::nullopt}, 40), "");
  EXPECT_EQ(world.Raid(1).activityFlags, 0x01) << "rebuild from P1 to P0";
  EXPECT_EQ(world.Raid(1).progressPercent, 40);
  Step(10);
  EXPECT_EQ(world.Raid(1).progressPercent, 50) << "the whole rebuild takes the seconds given";
  world.RemoveDisk(1, Port::P1);
  EXPECT_EQ(world.Raid(1).activityFlags, 0);
  Step(100);
  EXPECT_EQ(world.Raid(1).portFlags & 0x03, 0x01) << "P0 never became initialized";
}

TEST_F(SimTest, OnlyAMirrorRebuilds) {
  EnclosureConfig c = Sata();
  c.raid.systemRaidMode = kModeStriping;
  world.AddEnclosure(1, c);
  EXPECT_EQ(world.StartRebuild(1, Port::P1), "only a mirror rebuilds");
}

TEST_F(SimTest, ScanKeepsRunningWhenTheOtherDiskGoes) {
  world.AddEnclosure(1, Sata());
  ASSERT_EQ(world.StartScan(1, Port::P0, 0, UINT64_MAX, ActivitySpeed{100.0, std::nullopt}), "");
  world.RemoveDisk(1, Port::P1);
  EXPECT_EQ(world.Raid(1).activityFlags, 0x81);
  world.RemoveDisk(1, Port::P0);
  EXPECT_EQ(world.Raid(1).activityFlags, 0);
}

TEST_F(SimTest, AutoScanStartsAfterTheIdleTimeAndTakesTurnsWithTheDisks) {
  EnclosureConfig c = Sata();
  c.raid.raidSettingSource = 0x13;
  c.raid.autoScanIdleSeconds = 60;
  c.raid.disks[0].sectors = c.raid.disks[1].sectors = 2500000;  // 10 s at the default rate
  world.AddEnclosure(1, c);
  Step(59);
  EXPECT_EQ(world.Raid(1).activityFlags, 0);
  Step(2);
  EXPECT_EQ(world.Raid(1).activityFlags, 0x81) << "auto scan of P0";
  Step(10);
  EXPECT_EQ(world.Raid(1).activityFlags, 0);
  Step(60);
  EXPECT_EQ(world.Raid(1).activityFlags, 0x82) << "then P1";

  auto device = Open(1);
  CommandSector off(0x20, 1);  // auto scan off
  Mailbox(*device, off.Sum());
  Step(3600);
  EXPECT_EQ(world.Raid(1).activityFlags, 0) << "the running scan ends and no new one starts";
}

// An idle time too short to move the clock (or none, or not a number) waits the minimum:
// one-sector disks are scanned once a second, not without end, and with both disks gone
// the world does not retry forever at the same instant.
class ShortIdleTest : public SimTest, public ::testing::WithParamInterface<double> {};

TEST_P(ShortIdleTest, AutoScanStillWaitsASecond) {
  EnclosureConfig c = Sata();
  c.raid.raidSettingSource = 0x13;  // auto scan on
  c.raid.autoScanIdleSeconds = GetParam();
  for (SimDisk& disk : c.raid.disks) {
    disk.sectors = 1;
    disk.defects = {0};  // every scan reports it, so the count tells the scans
  }
  world.AddEnclosure(1, c);
  Step(10.5);
  EXPECT_EQ(world.Raid(1).badSectorCount, 10) << "one scan per second of world time";

  world.RemoveDisk(1, Port::P0);
  world.RemoveDisk(1, Port::P1);
  Step(100);  // returns: nothing to scan is not an endless retry
  EXPECT_EQ(world.Raid(1).badSectorCount, 10);
  world.InsertDisk(1, Port::P0);
  Step(1.5);
  EXPECT_EQ(world.Raid(1).badSectorCount, 11) << "auto scan takes the disk once it is back";
}

INSTANTIATE_TEST_SUITE_P(IdleTimes, ShortIdleTest,
                         ::testing::Values(0.0, 1e-300, -5.0, std::numeric_limits<double>::quiet_NaN()),
                         [](const auto& test) { return "Case" + std::to_string(test.index); });

TEST_F(SimTest, BadSectorsFillARingOfTenAndTheCountStopsAt255) {
  world.AddEnclosure(1, Sata());
  world.ReportBadSectors(1, Port::P0, {100, 101, 102});
  std::vector<std::uint32_t> more;
  for (std::uint32_t k = 3; k < 17; ++k) more.push_back(100 + k);
  world.ReportBadSectors(1, Port::P1, more);
  RaidState s = world.Raid(1);
  EXPECT_EQ(s.badSectorCount, 17);
  EXPECT_EQ(s.activityFlags, 0x0C);
  for (std::uint32_t k = 7; k < 17; ++k) EXPECT_EQ(s.badSectorLba[k % 10], 100 + k) << k;
  const auto r = world.LiveRecord(1);
  EXPECT_EQ(r[471], 17);
  EXPECT_EQ(r[472 + 4 * 6], 116);

  std::vector<std::uint32_t> many(300);
  for (std::uint32_t k = 0; k < many.size(); ++k) many[k] = 1000 + k;
  world.ReportBadSectors(1, Port::P0, many);
  s = world.Raid(1);
  EXPECT_EQ(s.badSectorCount, 255);
  EXPECT_EQ(s.badSectorLba[254 % 10], 1000 + 254 - 17) << "the ring holds the last ones counted";
}

}  // namespace
}  // namespace caspira::sim::testing
