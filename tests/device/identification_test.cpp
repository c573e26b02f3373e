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

// The identification requests a drive received, in order: "READ 58", "IDENTIFY", "INQUIRY",
// and vendor frames as their leading bytes ("FE 8B" one prefix, "FE FE 8B" two).
std::vector<std::string> Probes(const std::vector<sim::RawRequest>& log) {
  const auto hex = [](std::uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string{digits[b >> 4], digits[b & 15]};
  };
  std::vector<std::string> probes;
  for (const sim::RawRequest& r : log) {
    if (r.kind == sim::RawRequest::Kind::Ata) {
      probes.push_back(r.ataIn[AtaRegisters::Command] == 0xEC ? "IDENTIFY" : "ATA " + hex(r.ataIn[6]));
    } else if (r.kind == sim::RawRequest::Kind::Scsi && !r.cdb.empty()) {
      if (r.cdb[0] == 0x28 && r.lba) {
        probes.push_back("READ " + std::to_string(*r.lba));
      } else if (r.cdb[0] == 0x12) {
        probes.push_back("INQUIRY");
      } else if (r.cdb[0] == 0xFE && r.cdb.size() > 2) {
        probes.push_back(r.cdb[1] == 0xFE ? "FE FE " + hex(r.cdb[2]) : "FE " + hex(r.cdb[1]));
      } else {
        probes.push_back("SCSI " + hex(r.cdb[0]));
      }
    }
  }
  return probes;
}

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

// Every disk is probed in the same order until a path answers; a disk is recorded only when
// the model in its buffer, as the probes left it, is an enclosure's. A controller that keeps
// its information sector only in IDENTIFY, or answers only the information query, leaves no
// model there and is not recorded.
TEST_F(IdentificationTest, EachAttachmentIsProbedInOrderAndRecordedOnlyWithItsModel) {
  const std::vector<std::string> sectorAndAta = {"READ 58", "IDENTIFY"};
  const std::vector<std::string> upToInquiry = {"READ 58", "IDENTIFY", "INQUIRY"};
  const auto then = [](std::vector<std::string> probes, std::initializer_list<const char*> more) {
    probes.insert(probes.end(), more.begin(), more.end());
    return probes;
  };
  const struct {
    const char* name;
    std::optional<EnclosureConfig> config;  // none: a plain disk
    std::vector<DeviceSlot> slots;          // for the drive on disk 3
    std::vector<std::string> probes;
  } cases[] = {
      {"plain disk", std::nullopt, {}, then(upToInquiry, {"FE 8B", "FE 78", "FE FE 8B", "FE FE 78"})},
      {"USB, one-prefix frames", Usb(VendorLayout::OnePrefix), {0xA3}, then(upToInquiry, {"FE 8B"})},
      {"USB, two-prefix frames only",
       Usb(VendorLayout::TwoPrefix),
       {0x23},
       then(upToInquiry, {"FE 8B", "FE 78", "FE FE 8B"})},
      {"USB, information query only",
       Usb(VendorLayout::OnePrefix, false),
       {},
       then(upToInquiry, {"FE 8B", "FE 78"})},
      {"USB, query only, two prefixes",
       Usb(VendorLayout::TwoPrefix, false),
       {},
       then(upToInquiry, {"FE 8B", "FE 78", "FE FE 8B", "FE FE 78"})},
      {"SATA", Attached(Attachment::Sata), {0x53}, sectorAndAta},
      {"ATA only", Attached(Attachment::AtaOnly), {}, sectorAndAta},
      {"tagged, another model", Attached(Attachment::Sata, "OTHERCO RAID BOX"), {}, sectorAndAta},
      {"vendor frames, another model",
       [] {
         EnclosureConfig c = Usb(VendorLayout::OnePrefix);
         c.model = "OTHERCO USB BRIDGE";
         return c;
       }(),
       {},
       then(upToInquiry, {"FE 8B"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    world.AddDisk(0);
    if (c.config) {
      world.AddEnclosure(3, *c.config);
    } else {
      world.AddDisk(3);
    }
    const DetectionInput input = Counted();
    world.ClearLogs();
    const DetectionResult result = RunDetection(transport, input, DetectionTables{});
    EXPECT_EQ(SlotsOf(result), c.slots);
    EXPECT_EQ(Probes(world.RawLog(3)), c.probes);
    EXPECT_FALSE(result.statusText.has_value());
    if (!c.slots.empty()) {
      // The disk's buffer holds the controller's information sector for the window.
      const Sector& info = result.tables.driveSectorBuffers[3];
      EXPECT_EQ(FirmwareRevisionOf(info), c.config->revision);
      EXPECT_EQ(ControllerModelOf(info), c.config->model);
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

// IDENTIFY still finds the controller; its model is read from what the disk's buffer held
// before the lost read.
TEST_F(IdentificationTest, AFailedLba58ReadIsReportedAndTheOtherPathsAreStillTried) {
  world.AddEnclosure(2, Attached(Attachment::Sata));
  world.FailNext(2, sim::RequestMatch::ScsiAt(0x28, 58));
  world.ClearLogs();
  const DetectionResult first = Detect();
  EXPECT_EQ(first.statusText, "Read Error for LBA = 58 and sector count = 1");
  EXPECT_EQ(Probes(world.RawLog(2)), (std::vector<std::string>{"READ 58", "IDENTIFY"}));
  EXPECT_THAT(SlotsOf(first), ElementsAre()) << "an empty buffer holds no model";

  const DetectionResult second = Detect();
  world.FailNext(2, sim::RequestMatch::ScsiAt(0x28, 58));
  const DetectionResult third = RunDetection(transport, Counted(), second.tables);
  EXPECT_FALSE(second.statusText.has_value());
  EXPECT_EQ(third.statusText, "Read Error for LBA = 58 and sector count = 1");
  EXPECT_THAT(SlotsOf(third), ElementsAre(0x12)) << "reached over ATA, with the model read before";
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
