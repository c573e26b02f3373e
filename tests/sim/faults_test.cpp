// Every fault switch produces the failure it names, and nothing else; drives and volumes
// come and go with a notification.
#include <gtest/gtest.h>

#include <functional>

#include "sim_fixture.h"

namespace caspira::sim::testing {
namespace {

using Request = std::function<bool(BlockDevice&)>;

bool ReadAt(BlockDevice& d, std::uint32_t lba) {
  return ReadLba(d, lba).completed;
}
bool WriteAt(BlockDevice& d, std::uint32_t lba) {
  return WriteLba(d, lba, Sector{}).completed;
}
bool Vendor(BlockDevice& d, std::uint8_t op) {
  return Send(d, VendorFrame(true, op, 0), DataDirection::In, 512).completed;
}
bool Ata(BlockDevice& d, std::uint8_t command, std::uint8_t features) {
  return SendAta(d, Registers(command, features), command == 0xEC ? 1 : 0).completed;
}

struct FaultCase {
  const char* name;
  Attachment attachment;
  RequestMatch match;
  Request hit;   // fails while the fault lasts
  Request miss;  // never fails
};

class FailNextTest : public SimTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FailNextTest, FailsExactlyTheNextMatchingRequests) {
  const FaultCase& p = GetParam();
  EnclosureConfig c;
  c.attachment = p.attachment;
  world.AddEnclosure(2, c);
  auto device = Open(2);
  world.FailNext(2, p.match, 2);
  EXPECT_TRUE(p.miss(*device));
  EXPECT_FALSE(p.hit(*device));
  EXPECT_TRUE(p.miss(*device));
  EXPECT_FALSE(p.hit(*device));
  EXPECT_TRUE(p.hit(*device)) << "two and no more";
  const auto log = world.RawLog(2);
  ASSERT_EQ(log.size(), 6u);  // the open and five requests
  EXPECT_EQ(log[2].note, "fault: request failed");
  EXPECT_FALSE(log[2].completed);
}

INSTANTIATE_TEST_SUITE_P(
    Matches, FailNextTest,
    ::testing::Values(
        FaultCase{"ScsiOpcode", Attachment::Sata, RequestMatch::Scsi(0x28),
                  [](auto& d) { return ReadAt(d, 33); }, [](auto& d) { return WriteAt(d, 500); }},
        FaultCase{"ScsiLba", Attachment::Sata, RequestMatch::ScsiAt(0x28, 33),
                  [](auto& d) { return ReadAt(d, 33); }, [](auto& d) { return ReadAt(d, 34); }},
        FaultCase{"VendorOpcode", Attachment::Usb, RequestMatch::Vendor(0x85),
                  [](auto& d) { return Vendor(d, 0x85); }, [](auto& d) { return Vendor(d, 0x8B); }},
        FaultCase{"AtaCommandAndFeatures", Attachment::Sata, RequestMatch::Ata(0x88, 0x01),
                  [](auto& d) { return Ata(d, 0x88, 0x01); }, [](auto& d) { return Ata(d, 0x88, 0x03); }},
        FaultCase{"AtaCommand", Attachment::Sata, RequestMatch::Ata(0xEC),
                  [](auto& d) { return Ata(d, 0xEC, 0); }, [](auto& d) { return Ata(d, 0x88, 0x03); }}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(SimTest, FailedRequestsLeaveTheControllerAndTheBufferAlone) {
  world.AddEnclosure(1, Sata());
  auto device = Open(1);
  world.FailNext(1, RequestMatch::Scsi(0x2A));
  CommandSector begin(0x03, 1);
  EXPECT_FALSE(WriteLba(*device, 20, begin.Sum().bytes).completed);
  EXPECT_FALSE(world.Flags(1).spiAccessOpen);
  world.FailNext(1, RequestMatch::Scsi(0x28));
  EXPECT_EQ(ReadLba(*device, 33).data, Bytes(512, 0xEE));
}

TEST_F(SimTest, RefusalsCompleteWithTheDevicesErrorAndChangeNothing) {
  world.AddEnclosure(1, Sata());
  auto device = Open(1);
  world.RefuseNext(1, RequestMatch::Scsi(0x2A));
  CommandSector begin(0x03, 1);
  const auto write = WriteLba(*device, 20, begin.Sum().bytes);
  EXPECT_TRUE(write.completed) << "the host delivered it";
  EXPECT_EQ(write.status, 0x02);
  EXPECT_EQ(write.senseKey, 0x05);
  EXPECT_FALSE(world.Flags(1).spiAccessOpen) << "the controller did not act on it";
  EXPECT_EQ(world.RawLog(1).back().note, "fault: refused by the device");

  world.RefuseEvery(1, RequestMatch::Ata(0x88));
  for (int i = 0; i < 2; ++i) {
    const auto ata = SendAta(*device, Registers(0x88, 0x03), 0);
    EXPECT_TRUE(ata.completed);
    EXPECT_EQ(ata.registers[AtaRegisters::Command], 0x51) << "ERR in the status register";
    EXPECT_EQ(ata.registers[AtaRegisters::Features], 0x04) << "ABRT in the error register";
  }
  EXPECT_EQ(ReadLba(*device, 33).status, 0) << "other requests are answered";
}

TEST_F(SimTest, OpenFaultsAndFailingEverything) {
  world.AddDisk(0);
  world.FailNext(0, RequestMatch::Open(), 1);
  EXPECT_EQ(world.OpenPhysicalDrive(0), nullptr);
  auto device = Open(0);
  ASSERT_NE(device, nullptr);
  world.FailEvery(0, RequestMatch::AnyRequest());
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(ReadAt(*device, 1));
  EXPECT_FALSE(Ata(*device, 0xEC, 0));
  world.ClearFaults(0);
  EXPECT_TRUE(ReadAt(*device, 1));
}

TEST_F(SimTest, UnpluggingKillsHandlesAndNotifiesPluggingBringsTheDriveBack) {
  world.AddEnclosure(1, Usb());
  world.AddVolume({"E", kDriveFixed, 1, true});
  DeviceChangeSource* changes = world.DeviceChanges();
  ASSERT_NE(changes, nullptr);
  changes->TakeNotifications();
  auto old = Open(1);
  RaidState s = world.Raid(1);
  s.progressPercent = 42;
  world.SetRaid(1, s);

  world.Unplug(1);
  EXPECT_EQ(changes->TakeNotifications(), 1u);
  EXPECT_EQ(world.OpenPhysicalDrive(1), nullptr);
  EXPECT_FALSE(ReadAt(*old, 0));
  EXPECT_EQ(world.ListVolumes(), std::vector<std::string>{});
  EXPECT_EQ(world.OpenVolume("E"), nullptr);

  world.Plug(1);
  EXPECT_EQ(changes->TakeNotifications(), 1u);
  EXPECT_FALSE(ReadAt(*old, 0)) << "a handle from before the unplug stays dead";
  auto fresh = Open(1);
  EXPECT_TRUE(ReadAt(*fresh, 0));
  EXPECT_EQ(world.Raid(1).progressPercent, 42) << "the enclosure kept its state";
  EXPECT_EQ(world.ListVolumes(), std::vector<std::string>{"E"});
}

TEST_F(SimTest, ALongDelayBecomesATimeout) {
  world.AddDisk(0);
  auto device = Open(0);
  world.Delay(0, std::chrono::milliseconds(1), 1);
  EXPECT_TRUE(ReadAt(*device, 1)) << "a short delay only holds the request back";
  world.Delay(0, std::chrono::milliseconds(1000), 1);
  EXPECT_FALSE(Send(*device, Rw10(0x28, 1), DataDirection::In, 512, {}, 1).completed);
  EXPECT_EQ(world.RawLog(0).back().note, "fault: delayed past its timeout");
  EXPECT_TRUE(ReadAt(*device, 1));
}

TEST_F(SimTest, CorruptedRecordsReadBackWithABadSumOrAsGarbage) {
  world.AddEnclosure(1, Sata());
  world.AddEnclosure(2, Usb());
  auto sata = Open(1);
  auto usb = Open(2);
  const auto sumOk = [](const Bytes& r) {
    unsigned sum = 0;
    for (int i = 0; i < 254; ++i) sum += r[static_cast<std::size_t>(i)];
    return (r[254] | (r[255] << 8)) == static_cast<int>(sum & 0xFFFF);
  };
  world.CorruptRecord(1, RecordCorruption::BadSum, 1);
  EXPECT_FALSE(sumOk(ReadLba(*sata, 33).data));
  EXPECT_TRUE(sumOk(ReadLba(*sata, 33).data)) << "one read only";

  const auto live = world.LiveRecord(2);
  world.CorruptRecord(2, RecordCorruption::Garbage);
  for (int i = 0; i < 2; ++i)
    EXPECT_NE(Send(*usb, VendorFrame(true, 0x85, 0x78000), DataDirection::In, 512).data,
              Bytes(live.begin(), live.end()));
  world.ClearFaults(2);
  EXPECT_EQ(Send(*usb, VendorFrame(true, 0x85, 0x78000), DataDirection::In, 512).data,
            Bytes(live.begin(), live.end()));
}

TEST_F(SimTest, AStuckBitSurvivesProgramming) {
  world.AddEnclosure(1, Usb());
  auto device = Open(1);
  world.SetStuckBit(1, 0x30010, 3);
  Send(*device, VendorFrame(true, 0x81, 0x30000), DataDirection::In, 8);
  Send(*device, VendorFrame(true, 0x89, 0x30000), DataDirection::Out, 256, Bytes(256, 0x00));
  const Bytes back = Send(*device, VendorFrame(true, 0x85, 0x30000), DataDirection::In, 512).data;
  EXPECT_EQ(back[0x10], 0x08);
  EXPECT_EQ(back[0x11], 0x00);
}

TEST_F(SimTest, LatencyModelKeepsAnswersUnchanged) {
  world.AddEnclosure(1, Usb());
  LatencyModel model;
  model.enabled = true;
  model.perSectorErase = std::chrono::microseconds(10);
  world.SetLatency(1, model);
  auto device = Open(1);
  EXPECT_EQ(Send(*device, VendorFrame(true, 0x81, 0x30000), DataDirection::In, 8).status, 0);
  EXPECT_EQ(Send(*device, VendorFrame(true, 0x85, 0x30000), DataDirection::In, 512).data, Bytes(512, 0xFF));
}

// ---- drives and volumes ----

TEST_F(SimTest, DrivesAndVolumesComeAndGoWithNotifications) {
  DeviceChangeSource* changes = world.DeviceChanges();
  ASSERT_NE(changes, nullptr);
  world.AddDisk(0);
  world.AddUnopenableDrive(4);
  world.AddVolume({"C", kDriveFixed, 0, true});
  world.AddVolume({"Z", kDriveRemote, std::nullopt, true});
  world.AddVolume({"Q", kDriveFixed, 4, false});
  EXPECT_EQ(changes->TakeNotifications(), 5u);
  EXPECT_EQ(changes->TakeNotifications(), 0u);

  EXPECT_EQ(world.OpenPhysicalDrive(4), nullptr);
  EXPECT_EQ(world.OpenPhysicalDrive(3), nullptr);
  EXPECT_EQ(world.ListVolumes(), (std::vector<std::string>{"C", "Q", "Z"}));
  const VolumeInfo q = world.QueryVolume("Q");
  EXPECT_EQ(q.driveType, kDriveFixed);
  EXPECT_FALSE(q.opened);
  EXPECT_EQ(q.diskNumber, 4u);
  EXPECT_EQ(world.OpenVolume("Q"), nullptr);
  EXPECT_FALSE(world.QueryVolume("Z").diskNumber.has_value());
  EXPECT_EQ(world.QueryVolume("X").opened, false);

  auto c = world.OpenVolume("C");
  ASSERT_NE(c, nullptr);
  Sector data{};
  data[0] = 0x77;
  ASSERT_TRUE(WriteLba(*c, 9, data).completed);
  EXPECT_EQ(world.StoredSector(0, 9)->at(0), 0x77) << "a volume's requests reach its disk";
  EXPECT_EQ(world.RawLog(0).back().volume, "C");

  world.RemoveDrive(0);
  EXPECT_EQ(changes->TakeNotifications(), 1u);
  EXPECT_EQ(world.ListVolumes(), (std::vector<std::string>{"Q", "Z"}));
  EXPECT_FALSE(ReadAt(*c, 9)) << "the disk under the volume is gone";
  world.AddEnclosure(0, Sata());
  EXPECT_EQ(changes->TakeNotifications(), 1u);
  EXPECT_FALSE(ReadAt(*c, 9)) << "a new drive in the same place is another device";
}

}  // namespace
}  // namespace caspira::sim::testing
