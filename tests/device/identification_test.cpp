// Discovery and identification over the simulated world.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/device_info.h"
#include "device/discovery.h"
#include "sim/sim_world.h"
#include "support/fakes.h"

namespace caspira {
namespace {

using sim::Attachment;
using sim::EnclosureConfig;
using sim::SimWorld;
using sim::VendorLayout;
using ::testing::ElementsAre;

class IdentificationTest : public ::testing::Test {
 protected:
  DetectionInput Counted() {
    DetectionInput input;
    input.driveLetters = EnumerateDriveLetters(world);
    input.driveLetterCount = static_cast<std::int32_t>(input.driveLetters.size());
    input.physicalDriveCount = CountPhysicalDrives(transport);
    return input;
  }
  DetectionResult Detect() { return RunDetection(transport, Counted(), DetectionTables{}); }
  std::vector<DeviceSlot> SlotsOf(const DetectionResult& r) {
    return {r.tables.deviceSlots.begin(), r.tables.deviceSlots.begin() + r.tables.deviceCount};
  }

  testing::FakeClock clock;
  SimWorld world{clock};
  Transport transport{world};
};

EnclosureConfig Usb(VendorLayout layout, bool answersInfoKind = true) {
  EnclosureConfig c;
  c.attachment = Attachment::Usb;
  c.vendorLayout = layout;
  c.answersInfoKind = answersInfoKind;
  return c;
}

EnclosureConfig Attached(Attachment attachment, std::string model = "TALVEN TR-2 RAID") {
  EnclosureConfig c;
  c.attachment = attachment;
  c.model = std::move(model);
  return c;
}

TEST_F(IdentificationTest, EachAttachmentGetsTheSlotOfThePathsItAnswersOn) {
  const struct {
    const char* name;
    EnclosureConfig config;
    std::vector<DeviceSlot> slots;  // for the enclosure on disk 3
    bool infoSector;                // its information sector is known
  } cases[] = {
      {"USB, one-prefix frames", Usb(VendorLayout::OnePrefix), {0xA3}, true},
      {"USB, two-prefix frames only", Usb(VendorLayout::TwoPrefix), {0x23}, true},
      {"USB, information query only", Usb(VendorLayout::OnePrefix, false), {0xA3}, false},
      {"USB, query only, two prefixes", Usb(VendorLayout::TwoPrefix, false), {0x23}, false},
      {"SATA", Attached(Attachment::Sata), {0x53}, true},
      {"ATA only", Attached(Attachment::AtaOnly), {0x13}, true},
      {"tagged, another model", Attached(Attachment::Sata, "OTHERCO RAID BOX"), {}, true},
      {"vendor frames, another model",
       [] {
         EnclosureConfig c = Usb(VendorLayout::OnePrefix);
         c.model = "OTHERCO USB BRIDGE";
         return c;
       }(),
       {},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    world.AddDisk(0);
    world.AddEnclosure(3, c.config);
    const DetectionResult result = Detect();
    EXPECT_EQ(SlotsOf(result), c.slots);
    if (!c.slots.empty()) {
      // The disk's buffer holds the controller's information sector for the window, or
      // nothing when none was given.
      const Sector& info = result.tables.driveSectorBuffers[3];
      EXPECT_EQ(FirmwareRevisionOf(info), c.infoSector ? c.config.revision : "");
      EXPECT_EQ(ControllerModelOf(info), c.infoSector ? c.config.model : "");
    }
    world.RemoveDrive(3);
  }
}

// A disk that refused a probe returned no data: whatever an earlier run left in its buffer
// is not its answer. Here drive 3 held an enclosure at the last run and now holds a plain
// disk whose sector 58 read is lost.
TEST_F(IdentificationTest, ARefusedProbeLeavesNothingToJudge) {
  world.AddEnclosure(3, Attached(Attachment::Sata));
  const DetectionResult before = Detect();
  ASSERT_THAT(SlotsOf(before), ElementsAre(0x53));
  world.AddDisk(3);
  world.FailNext(3, sim::RequestMatch::ScsiAt(0x28, 58));
  const DetectionResult after = RunDetection(transport, Counted(), before.tables);
  EXPECT_EQ(after.statusText, "Read Error for LBA = 58 and sector count = 1");
  EXPECT_THAT(SlotsOf(after), ElementsAre());
}

// The detection thread shows nothing itself: the box is in the result for the window.
TEST_F(IdentificationTest, AnIdentifyBlockThatCannotBeObtainedIsReportedForTheWindow) {
  world.AddEnclosure(2, Attached(Attachment::Sata));
  transport.allocateBlock = [](std::size_t) { return std::unique_ptr<std::uint8_t[]>(); };
  const DetectionResult result = Detect();
  EXPECT_THAT(result.messages, ElementsAre(SystemMessage("Menory Alloc Error!!")));
  EXPECT_THAT(SlotsOf(result), ElementsAre(0x42)) << "sector 58 still found it";
}

TEST_F(IdentificationTest, PlainDisksAreNotEnclosuresAndOnlyDisksThatOpenAreCounted) {
  world.AddDisk(0);
  world.AddUnopenableDrive(1);
  world.AddUnopenableDrive(2);
  world.AddEnclosure(4, Attached(Attachment::Sata));
  world.AddDisk(6);
  world.AddEnclosure(9, Usb(VendorLayout::OnePrefix));
  EXPECT_EQ(CountPhysicalDrives(transport), 4);
  // With four opened disks counted, probing goes on to disk 9 to reach the fourth.
  EXPECT_THAT(SlotsOf(Detect()), ElementsAre(0x54, 0xA9));
}

TEST_F(IdentificationTest, ProbingStopsOnceTheCountedDisksWereProbed) {
  world.AddEnclosure(0, Attached(Attachment::Sata));
  world.AddEnclosure(5, Attached(Attachment::Sata));
  DetectionInput input = Counted();
  input.physicalDriveCount = 1;  // counted before disk 5 came
  world.ClearLogs();
  DetectionResult result;
  EXPECT_EQ(IdentifyDevices(transport, input, result), 1);
  EXPECT_TRUE(world.RawLog(5).empty());
}

TEST_F(IdentificationTest, AtMostEightEnclosuresAreRecorded) {
  for (unsigned k = 0; k < 10; ++k) world.AddEnclosure(k, Attached(Attachment::Sata));
  EXPECT_THAT(SlotsOf(Detect()), ElementsAre(0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57));
}

TEST_F(IdentificationTest, AFailedLba58ReadIsReportedAndTheOtherPathsAreStillTried) {
  world.AddEnclosure(2, Attached(Attachment::Sata));
  world.FailNext(2, sim::RequestMatch::ScsiAt(0x28, 58));
  const DetectionResult result = Detect();
  EXPECT_EQ(result.statusText, "Read Error for LBA = 58 and sector count = 1");
  // IDENTIFY still found the controller, which is then reached over ATA.
  EXPECT_THAT(SlotsOf(result), ElementsAre(0x12));
  EXPECT_FALSE(Detect().statusText.has_value());
}

TEST_F(IdentificationTest, DriveTableRowsFollowTheVolumes) {
  world.AddDisk(0);
  world.AddEnclosure(1, Attached(Attachment::Sata));
  world.AddVolume({"C", kDriveFixed, 0u, true});
  world.AddVolume({"E", kDriveFixed, 1u, true});
  world.AddVolume({"F", kDriveRemovable, 1u, true});
  world.AddVolume({"G", kDriveFixed, 1u, false});           // cannot be opened
  world.AddVolume({"H", kDriveFixed, std::nullopt, true});  // its disk cannot be told

  DetectionTables previous;
  previous.driveTable[4] = {"old", 0, 7};
  previous.driveTable[5] = {"stale", kDriveFixed, 1};
  DetectionInput input = Counted();
  const DetectionResult result = RunDetection(transport, input, previous);
  const DriveTableRows& rows = result.tables.driveTable;
  EXPECT_EQ(rows[0], (DriveEntry{"C", kDriveFixed, 0}));
  EXPECT_EQ(rows[1], (DriveEntry{"E", kDriveFixed, 1}));
  EXPECT_EQ(rows[2], (DriveEntry{"F", kDriveRemovable, 1}));
  EXPECT_EQ(rows[3].driveType, kDriveUnopenable);
  EXPECT_EQ(rows[4], (DriveEntry{"H", kDriveFixed, 7}));      // keeps its previous disk number
  EXPECT_EQ(rows[5], (DriveEntry{"stale", kDriveFixed, 1}));  // past the count: untouched
  EXPECT_TRUE(result.messages.empty());
}

TEST_F(IdentificationTest, MoreThanTwentyVolumesFillTwentyRowsAndSayItOnce) {
  world.AddEnclosure(1, Attached(Attachment::Sata));
  for (char letter = 'C'; letter <= 'Z'; ++letter)
    world.AddVolume({std::string(1, letter), kDriveFixed, 1u, true});
  const DetectionInput input = Counted();
  EXPECT_EQ(input.driveLetterCount, 24);
  const DetectionResult result = RunDetection(transport, input, DetectionTables{});
  EXPECT_EQ(result.tables.driveTable[19].name, "V");
  EXPECT_EQ(result.tables.driveTable.size(), 20u);
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_EQ(result.messages[0], SystemMessage("Drive Count Must less than 20."));
  EXPECT_THAT(SlotsOf(result), ElementsAre(0x51));  // identification still runs
}

TEST_F(IdentificationTest, NoVolumesLeaveTheTableAloneAndStillProbe) {
  world.AddEnclosure(2, Attached(Attachment::Sata));
  DetectionTables previous;
  previous.driveTable[0] = {"X", kDriveFixed, 4};
  const DetectionResult result = RunDetection(transport, Counted(), previous);
  EXPECT_EQ(result.tables.driveTable[0], (DriveEntry{"X", kDriveFixed, 4}));
  EXPECT_THAT(SlotsOf(result), ElementsAre(0x52));
}

TEST_F(IdentificationTest, LabelsOfTwoEnclosuresListTheirOwnVolumes) {
  world.AddDisk(0);
  world.AddEnclosure(1, Usb(VendorLayout::OnePrefix));
  world.AddEnclosure(2, Attached(Attachment::Sata));
  world.AddVolume({"C", kDriveFixed, 0u, true});
  world.AddVolume({"E", kDriveFixed, 1u, true});
  world.AddVolume({"F", kDriveFixed, 1u, true});
  const DetectionInput input = Counted();
  const DetectionResult result = RunDetection(transport, input, DetectionTables{});
  AppState state;
  state.DriveTable = result.tables.driveTable;
  state.DeviceSlots = result.tables.deviceSlots;
  state.DeviceCount = result.tables.deviceCount;
  state.DriveLetterCount = input.driveLetterCount;
  EXPECT_EQ(BuildDeviceLabel(state), "1/2 Device1[EF]");
  state.CurrentSlot = 1;
  EXPECT_EQ(BuildDeviceLabel(state), "2/2 Device2[]");
}

TEST_F(IdentificationTest, TheDeviceBeingUpgradedKeepsItsSlotAndIsNotProbed) {
  world.AddEnclosure(1, Attached(Attachment::Sata));
  world.AddEnclosure(3, Usb(VendorLayout::OnePrefix));
  world.AddEnclosure(2, Attached(Attachment::Sata));  // came while upgrading disk 3
  DetectionInput input = Counted();
  input.upgradeSlotValue = 0xA3;  // the device being upgraded held disk 3
  world.ClearLogs();
  const DetectionResult result = RunDetection(transport, input, DetectionTables{});
  EXPECT_THAT(SlotsOf(result), ElementsAre(0x51, 0x52, 0xA3));
  EXPECT_EQ(result.upgradeSlotIndex, 2);
  EXPECT_TRUE(world.RawLog(3).empty());
}

}  // namespace
}  // namespace caspira
