// Scenario files: malformed ones are refused with their line number; good ones build the
// world and play their timeline as the clock moves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "sim_fixture.h"
#include "support/process.h"

namespace caspira::sim::testing {
namespace {

struct Malformed {
  const char* text;
  int line;
  const char* says;
};

class MalformedScenarioTest : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedScenarioTest, IsRefusedWithItsLineNumber) {
  std::string error;
  EXPECT_FALSE(ParseScenario(GetParam().text, error).has_value());
  EXPECT_EQ(error.rfind("line " + std::to_string(GetParam().line) + ": ", 0), 0u) << error;
  EXPECT_NE(error.find(GetParam().says), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MalformedScenarioTest,
    ::testing::Values(
        Malformed{"disk 0\nfrobnicate 1\n", 2, "unknown statement \"frobnicate\""},
        Malformed{"# a comment\n\ndisk 12\n", 3, "drive number is 0..9"},
        Malformed{"enclosure 1 firewire\n", 1, "attachment is one of"},
        Malformed{"enclosure 1 usb model \"TALVEN\n", 1, "no closing quote"},
        Malformed{"enclosure 1 sata flash 3000\n", 1, "power of two"},
        Malformed{"disk 0\nremove 0 P1\n", 2, "not described as an enclosure"},
        Malformed{"enclosure 1 sata\nremove 1 P2\n", 2, "port is P0 or P1"},
        Malformed{"enclosure 1 sata\nraid 1 mode mirror colour blue\n", 2, "unknown word \"colour\""},
        Malformed{"enclosure 1 sata\nat soon remove 1 P1\n", 2, "time in seconds"},
        Malformed{"enclosure 1 sata\nat 5\n", 2, "needs a statement"},
        Malformed{"enclosure 1 sata\nrebuild 1 P1 from 100\n", 2, "above 99"},
        Malformed{"enclosure 1 sata\nfail-next 1 scsi 0x28 lba\n", 2, "needs an LBA"},
        Malformed{"enclosure 1 sata\nstuck-bit 1 0x100 9\n", 2, "above 7"},
        Malformed{"unopenable 2\nlatency 3 on\n", 2, "not described before this line"},
        Malformed{"volume E disk 1\n", 1, "\"drive N\" or on \"none\""},
        // Numbers out of their ranges, and sizes said with the unit written.
        Malformed{"enclosure 1 sata\nraid 1 autoscan on autoscan-idle 1e-300\n", 2,
                  "an idle time is 1 to 10000000 seconds, not \"1e-300\""},
        Malformed{"enclosure 1 sata\nraid 1 autoscan-idle 0\n", 2, "an idle time is 1 to"},
        Malformed{"enclosure 1 sata\nraid 1 autoscan-idle 1e8s\n", 2, "not \"1e8s\""},
        Malformed{"enclosure 1 sata flash 18014398509481988K\n", 1,
                  "power of two from 4K to 16M, not \"18014398509481988K\""},
        Malformed{"enclosure 1 sata flash 3K\n", 1, "16M, not \"3K\""},
        Malformed{"enclosure 1 sata flash 32M\n", 1, "16M, not \"32M\""},
        Malformed{"enclosure 1 sata\nrebuild 1 P1 seconds 0\n", 2,
                  "a duration is 0.001 to 10000000 seconds, not \"0\""},
        Malformed{"enclosure 1 sata\nscan 1 P0 seconds 1e-300\n", 2, "a duration is 0.001"},
        Malformed{"enclosure 1 sata\nscan 1 P0 rate 0\n", 2, "sectors per second 0 is below 1"},
        Malformed{"disk 0\nat 1e9 unplug 0\n", 2, "\"at\" needs a time of 0 to 10000000 seconds"},
        Malformed{"disk 0\ndelay 0 3600001ms\n", 2,
                  "a delay is 0 to 3600000 milliseconds, not \"3600001ms\""},
        Malformed{"disk 0\nfail-next 0 any count 0\n", 2, "a count 0 is below 1"},
        Malformed{"enclosure 1 sata\ncorrupt-record 1 sum count 0\n", 2, "a count 0 is below 1"},
        // A volume on a drive nobody described, or with no name.
        Malformed{"disk 0\nvolume E drive 7\n", 2, "drive 7 is not described before this line"},
        Malformed{"volume \"\" none\n", 1, "a volume name is not empty"}),
    [](const auto& test) { return "Case" + std::to_string(test.index); });

TEST(ScenarioRangeTest, NumbersAtTheEndsOfTheirRangesAreTaken) {
  std::string error;
  const auto scenario = ParseScenario(R"(disk 0
enclosure 1 sata flash 4K
enclosure 2 sata flash 16M
enclosure 3 sata flash 0x1000000
raid 1 autoscan-idle 1
raid 2 autoscan-idle 10000000s
rebuild 2 P1 seconds 0.001
scan 2 P0 rate 1
delay 0 3600000ms count 1000000
fail-next 0 any count 1
at 10000000 unplug 0
)",
                                      error);
  EXPECT_TRUE(scenario.has_value()) << error;
}

TEST_F(SimTest, ScenarioBuildsTheWorldAndPlaysItsTimeline) {
  std::string error;
  const auto scenario = ParseScenario(R"(# two drives
disk 0 model "HOST DISK" sectors 1000
enclosure 1 sata revision 090700.2 model "TALVEN TR-9" flash 1M
raid 1 mode mirror buzzer off autoscan on autoscan-idle 9999
port 1 P0 model "D0" serial "S0" sectors 3000000 sata 3
port 1 P1 model "D1" serial "S1" sectors 2000000
volume C drive 0
volume E drive 1 type removable
at 5 remove 1 P1
at 10s insert 1 P1
at 10.5 rebuild 1 P1 seconds 20
at 12 unplug 1
at 40 plug 1
at 41 fail-next 1 scsi 0x28 lba 33 count 1
)",
                                      error);
  ASSERT_TRUE(scenario.has_value()) << error;
  world.Load(*scenario);
  DeviceChangeSource* changes = world.DeviceChanges();
  changes->TakeNotifications();

  RaidState s = world.Raid(1);
  EXPECT_EQ(s.raidSettingSource, 0x12);
  EXPECT_EQ(s.configuredSectors, 2000000u) << "a mirror of the smaller disk";
  EXPECT_EQ(s.disks[0].sataGeneration, 3);
  EXPECT_EQ(world.Flash(1).size(), 0x100000u);
  EXPECT_EQ(world.ListVolumes(), (std::vector<std::string>{"C", "E"}));
  EXPECT_EQ(world.QueryVolume("E").driveType, kDriveRemovable);
  auto device = Open(1);
  EXPECT_EQ(AtaText(ReadLba(*device, 58).data, 46, 8), "090700.2");

  Step(4.9);
  EXPECT_EQ(world.Raid(1).portFlags, 0x33);
  Step(0.2);
  EXPECT_EQ(world.Raid(1).portFlags, 0x43);
  Step(5.5);  // 10.6 s
  EXPECT_EQ(world.Raid(1).activityFlags, 0x02);
  EXPECT_EQ(changes->TakeNotifications(), 0u);
  Step(1.5);  // 12.1 s
  EXPECT_EQ(changes->TakeNotifications(), 1u);
  EXPECT_EQ(world.OpenPhysicalDrive(1), nullptr);
  Step(20);  // the rebuild ends at 30.5 s, unplugged or not
  EXPECT_EQ(world.Raid(1).portFlags, 0x33);
  Step(8);  // 40.1 s
  auto again = Open(1);
  EXPECT_TRUE(ReadLba(*again, 33).completed);
  Step(1);
  EXPECT_FALSE(ReadLba(*again, 33).completed);

  const auto log = world.EventLog();
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find("line 14: fail-next 1 scsi 0x28 lba 33 count 1"), std::string::npos)
      << log.back();
}

TEST_F(SimTest, StepsTheWorldRefusesAreNotedAndSkipped) {
  std::string error;
  const auto scenario = ParseScenario(
      "enclosure 1 sata\nraid 1 mode jbod\nrebuild 1 P1\nremove-drive 1\nat 1 remove 1 P0\n", error);
  ASSERT_TRUE(scenario.has_value()) << error;
  world.Load(*scenario);
  Step(2);
  const auto log = world.EventLog();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_NE(log[2].find("(refused: only a mirror rebuilds)"), std::string::npos) << log[2];
  EXPECT_NE(log[4].find("(not applied: no enclosure on drive 1)"), std::string::npos) << log[4];
}

TEST_F(SimTest, TheBuiltInDemoDescribesTwoEnclosuresAndAPlainDisk) {
  std::string error;
  const auto demo = ParseScenario(DemoScenarioText(), error);
  ASSERT_TRUE(demo.has_value()) << error;
  world.Load(*demo);
  for (const std::string& line : world.EventLog()) EXPECT_EQ(line.find("(not"), std::string::npos) << line;
  for (const std::string& line : world.EventLog())
    EXPECT_EQ(line.find("(refused"), std::string::npos) << line;
  EXPECT_TRUE(world.IsPresent(0));
  EXPECT_FALSE(world.IsEnclosure(0));
  ASSERT_TRUE(world.IsEnclosure(1));
  ASSERT_TRUE(world.IsEnclosure(2));

  auto usb = Open(1);
  const Answer info = Send(*usb, VendorFrame(true, 0x8B), DataDirection::In, 512);
  EXPECT_TRUE(Tagged(info.data));
  EXPECT_EQ(AtaText(info.data, 46, 7), "090619.") << "new enough for Auto Scan";
  EXPECT_EQ(world.Raid(1).activityFlags, 0x02) << "P1 rebuilds";

  const RaidState sata = world.Raid(2);
  EXPECT_EQ(sata.activityFlags & 0x83, 0x81) << "P0 scans";
  EXPECT_EQ(sata.raidSettingSource & 0x02, 0x02) << "auto scan on";
  EXPECT_GE(sata.badSectorCount, 2);
  Step(60);
  EXPECT_GT(world.Raid(2).badSectorCount, sata.badSectorCount) << "the scan finds more as it goes";
  EXPECT_EQ(world.ListVolumes(), (std::vector<std::string>{"C", "E", "F", "G"}));
}

TEST(ScenarioFileTest, EveryExampleScenarioLoadsWithoutRefusals) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CASPIRA_SCENARIO_DIR)) {
    if (entry.path().extension() != ".scn") continue;
    ++files;
    SCOPED_TRACE(entry.path().string());
    std::string error;
    const auto scenario = LoadScenarioFile(entry.path().string(), error);
    ASSERT_TRUE(scenario.has_value()) << error;
    caspira::testing::FakeClock clock;
    SimWorld world(clock);
    world.Load(*scenario);
    clock.AdvanceSeconds(3600);
    for (const std::string& line : world.EventLog()) {
      EXPECT_EQ(line.find("(not applied"), std::string::npos) << line;
      EXPECT_EQ(line.find("(refused"), std::string::npos) << line;
    }
  }
  EXPECT_GE(files, 2);
}

TEST(ScenarioFileTest, UnreadableAndMalformedFilesNameTheFile) {
  caspira::testing::TempDir dir;
  std::string error;
  EXPECT_FALSE(LoadScenarioFile(dir / "missing.scn", error).has_value());
  EXPECT_EQ(error.rfind(dir / "missing.scn: cannot be read", 0), 0u) << error;

  std::ofstream(dir / "bad.scn") << "disk 0\r\nwhatever\r\n";
  EXPECT_FALSE(LoadScenarioFile(dir / "bad.scn", error).has_value());
  EXPECT_EQ(error, dir / "bad.scn" + ": line 2: unknown statement \"whatever\"");

  std::ofstream(dir / "good.scn") << "disk 0\r\n";
  EXPECT_TRUE(LoadScenarioFile(dir / "good.scn", error).has_value()) << error;
}

// Whatever the path names, loading ends with a scenario or a message: a directory is not
// an empty scenario, /dev/zero is not read without end, and a FIFO nobody writes to does
// not block.
TEST(ScenarioFileTest, OnlyARegularFileOfAScenariosSizeIsRead) {
  caspira::testing::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  ASSERT_EQ(mkfifo((dir / "fifo.scn").c_str(), 0600), 0);
  const std::string comment = "# " + std::string(98, 'x') + "\n";  // 100 bytes
  {
    std::ofstream full(dir / "full.scn");
    for (std::size_t n = 0; n < kMaxScenarioBytes / comment.size(); ++n) full << comment;
    full << std::string(kMaxScenarioBytes % comment.size(), '\n');
    std::ofstream large(dir / "large.scn");
    for (std::size_t n = 0; n <= kMaxScenarioBytes / comment.size(); ++n) large << comment;
  }
  ASSERT_EQ(std::filesystem::file_size(dir / "full.scn"), kMaxScenarioBytes);

  struct Case {
    std::string path;
    std::string says;
  };
  const Case cases[] = {
      {dir.path(), dir.path() + ": is a directory, not a scenario file"},
      {dir / "fifo.scn", dir / "fifo.scn" + ": is not a regular file, so not a scenario file"},
      {"/dev/zero", "/dev/zero: is not a regular file, so not a scenario file"},
      {dir / "large.scn", dir / "large.scn" + ": is larger than 1 MiB; a scenario file is a small text"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(LoadScenarioFile(c.path, error).has_value()) << c.path;
    EXPECT_EQ(error, c.says);
  }
  std::string error;
  EXPECT_TRUE(LoadScenarioFile(dir / "full.scn", error).has_value()) << error;
}

}  // namespace
}  // namespace caspira::sim::testing
