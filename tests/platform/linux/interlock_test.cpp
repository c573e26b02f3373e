// The write interlock: only identified enclosures' mailbox sectors can ever be written.
#include "platform/linux/write_guard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "device/device_slot.h"
#include "device/discovery.h"
#include "device/enclosure_report.h"
#include "device/transport.h"
#include "platform/linux/fake_kernel.h"
#include "platform/linux/linux_host.h"

namespace caspira {
namespace {

namespace fs = std::filesystem;
using linux_backend::JudgeAtaRequest;
using linux_backend::JudgeScsiRequest;
using testing::FakeKernel;
using ::testing::HasSubstr;
using testing::LinuxFixture;

ScsiRequest Request(std::vector<std::uint8_t> cdb, DataDirection direction, std::uint32_t length) {
  static std::uint8_t buffer[4096];
  ScsiRequest r;
  std::copy(cdb.begin(), cdb.end(), r.cdb.begin());
  r.cdbLength = static_cast<std::uint8_t>(cdb.size());
  r.direction = direction;
  r.transferLength = length;
  r.data = length == 0 ? nullptr : buffer;
  return r;
}

ScsiRequest Write10(std::uint32_t lba, std::uint8_t count = 1) {
  const Cdb10 cdb = ReadWriteCdb(kOpWrite10, lba, count);
  return Request({cdb.begin(), cdb.end()}, DataDirection::Out, count * 512u);
}

struct PolicyCase {
  const char* name;
  ScsiRequest request;
  bool toAnyDisk;
  bool toEnclosure;
};

TEST(Interlock, LetsReadsAndProbesAnywhereAndMailboxWritesToEnclosuresOnly) {
  const auto in = DataDirection::In, out = DataDirection::Out, none = DataDirection::None;
  const Cdb10 read = ReadWriteCdb(kOpRead10, 58, 1);
  // clang-format off
  const std::vector<PolicyCase> cases = {
      {"READ(10)", Request({read.begin(), read.end()}, in, 512), true, true},
      {"INQUIRY", Request({0x12, 0, 0, 0, 0x24, 0, 0, 0, 0, 0}, in, 36), true, true},
      {"TEST UNIT READY", Request({0, 0, 0, 0, 0, 0}, none, 0), true, true},
      {"READ CAPACITY(16)", Request({0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, in, 32), true, true},
      {"controller information probe", Request({0xFE, 0x8B, 0, 0, 0, 0, 0, 0, 0, 0}, in, 512), true, true},
      {"controller query, two prefixes", Request({0xFE, 0xFE, 0x78, 0, 0, 0, 0, 0, 0, 0}, in, 20), true, true},
      {"mailbox LBA 20", Write10(20), false, true},
      {"mailbox LBA 3", Write10(3), false, true},
      {"mailbox LBA 130", Write10(130), false, true},
      {"LBA 0 (the partition table)", Write10(0), false, false},
      {"LBA 2", Write10(2), false, false},
      {"LBA 131", Write10(131), false, false},
      {"LBA 0x10000014", Write10(0x10000014), false, false},
      {"two sectors at LBA 20", Write10(20, 2), false, false},
      {"flash read", Request({0xFE, 0x85, 0, 0x01, 0x23, 0x45, 0, 0, 0, 0}, in, 512), false, true},
      {"page program (data out)", Request({0xFE, 0xFE, 0x89, 0, 0x07, 0xFF, 0, 0, 0, 0}, out, 256), false, true},
      {"sector erase (data in, but destroys)", Request({0xFE, 0x81, 0, 0, 0x10, 0, 0, 0, 0, 0}, in, 8), false, true},
      {"controller probe with data out", Request({0xFE, 0x8B, 0, 0, 0, 0, 0, 0, 0, 0}, out, 512), false, true},
      {"WRITE(6)", Request({0x0A, 0, 0, 20, 1, 0}, out, 512), false, false},
      {"WRITE(12)", Request({0xAA, 0, 0, 0, 0, 20, 0, 0, 0, 1, 0, 0}, out, 512), false, false},
      {"WRITE(16)", Request({0x8A, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, 1, 0, 0}, out, 512), false, false},
      {"WRITE SAME(10)", Request({0x41, 0, 0, 0, 0, 20, 0, 0, 1, 0}, out, 512), false, false},
      {"UNMAP", Request({0x42, 0, 0, 0, 0, 0, 0, 0, 24, 0}, out, 24), false, false},
      {"FORMAT UNIT", Request({0x04, 0, 0, 0, 0, 0}, none, 0), false, false},
      {"WRITE BUFFER", Request({0x3B, 0x05, 0, 0, 0, 0, 0, 0x02, 0, 0}, out, 512), false, false},
      {"MODE SELECT(10)", Request({0x55, 0x10, 0, 0, 0, 0, 0, 0, 24, 0}, out, 24), false, false},
      {"ATA PASS-THROUGH(16) PIO data-out",
       Request({0x85, 0x0A, 0x06, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0x30, 0}, out, 512), false, false},
      {"ATA PASS-THROUGH(12) non-data", Request({0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0xE0, 0xB4, 0, 0}, none, 0),
       false, false},
      {"another vendor opcode", Request({0xC1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, out, 512), false, false},
      {"READ(10) with data out", Request({read.begin(), read.end()}, out, 512), false, false},
  };
  // clang-format on
  for (const PolicyCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto anyDisk = JudgeScsiRequest(c.request, false);
    const auto enclosure = JudgeScsiRequest(c.request, true);
    EXPECT_EQ(anyDisk.allowed, c.toAnyDisk) << anyDisk.reason;
    EXPECT_EQ(enclosure.allowed, c.toEnclosure) << enclosure.reason;
    if (!anyDisk.allowed) {
      EXPECT_FALSE(anyDisk.reason.empty());
    }
  }
}

TEST(Interlock, LetsAtaIdentifyAnywhereAndTheVendorCommandToEnclosuresOnly) {
  const auto ata = [](std::uint8_t command, std::uint32_t sectors) {
    static std::uint8_t data[512];
    AtaRequest r;
    r.registers[AtaRegisters::Command] = command;
    r.registers[AtaRegisters::Device] = 0xE0;
    r.sectors = sectors;
    r.data = sectors == 0 ? nullptr : data;
    return r;
  };
  EXPECT_TRUE(JudgeAtaRequest(ata(0xEC, 1), false).allowed);
  EXPECT_FALSE(JudgeAtaRequest(ata(0x88, 0), false).allowed);
  EXPECT_TRUE(JudgeAtaRequest(ata(0x88, 0), true).allowed);
  EXPECT_FALSE(JudgeAtaRequest(ata(0xB4, 0), true).allowed) << "SANITIZE is non-data too";
  EXPECT_FALSE(JudgeAtaRequest(ata(0xF9, 0), true).allowed) << "nor SET MAX ADDRESS";
  EXPECT_FALSE(JudgeAtaRequest(ata(0xEC, 0), true).allowed);
  EXPECT_FALSE(JudgeAtaRequest(ata(0x88, 1), true).allowed);
}

// A host over a copy of the "typical" tree, so that tests can unplug and plug disks.
class HostInterlockTest : public ::testing::Test {
 protected:
  static fs::path CopyOfTypical() {
    const fs::path root =
        fs::temp_directory_path() / ("caspira-interlock-" + std::to_string(::getpid()) + "-" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::copy(LinuxFixture("typical"), root, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    return root;
  }
  ~HostInterlockTest() override { fs::remove_all(root); }

  // Identification, as the detection thread runs it: open every drive, then report the
  // recognised ones as the devices it opened.
  void Identify(const std::vector<unsigned>& enclosures) {
    std::vector<DeviceIdentity> opened(kMaxPhysicalDrives), recognised;
    for (unsigned n = 0; n < kMaxPhysicalDrives; ++n)
      if (const auto device = host.OpenPhysicalDrive(n)) opened[n] = device->Identity();
    for (unsigned n : enclosures) recognised.push_back(opened[n]);
    host.SetEnclosures(recognised, {});
  }
  // What a detection run found: these disks, the one at `upgradeSlot` left unprobed.
  static DetectionResult Found(const std::vector<unsigned>& disks,
                               std::optional<std::int32_t> upgradeSlot = std::nullopt) {
    DetectionResult result;
    for (std::size_t i = 0; i < disks.size(); ++i) result.tables.deviceSlots[i] = disks[i] | SlotSectorTag;
    result.tables.deviceCount = static_cast<std::int32_t>(disks.size());
    result.upgradeSlotIndex = upgradeSlot;
    return result;
  }
  bool Write(unsigned drive, std::uint32_t lba) {
    DeviceHandle handle = OpenDevice(transport, static_cast<std::uint8_t>(drive));
    std::vector<std::uint8_t> sector(512, 0x33);
    return handle && WriteSectors(handle, lba, 1, sector);
  }
  // Unplugs sdb: sdc becomes drive 1.
  void UnplugSdb() { fs::remove_all(root / "sys/block/sdb"); }

  fs::path root = CopyOfTypical();
  std::shared_ptr<FakeKernel> kernel = std::make_shared<FakeKernel>();
  std::vector<std::string> reported;
  LinuxHost host{{root, kernel, [this](const std::string& line) { reported.push_back(line); }}};
  Transport transport{host};
};

TEST_F(HostInterlockTest, RefusesLbaZeroOnAnEnclosureWithoutSendingIt) {
  Identify({1});
  EXPECT_TRUE(Write(1, 20));
  ASSERT_EQ(kernel->sent.size(), 1u);

  EXPECT_FALSE(Write(1, 0));
  EXPECT_EQ(kernel->sent.size(), 1u) << "the refused write never reached the kernel";
  EXPECT_EQ(host.guard().RefusedCount(), 1u);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_THAT(reported[0], HasSubstr("refused WRITE(10) LBA 0, 1 block to sdb"));
  EXPECT_EQ(host.guard().Refusals(), reported);
}

TEST_F(HostInterlockTest, RefusesEveryWriteToADiskIdentificationDidNotReport) {
  EXPECT_FALSE(Write(1, 20)) << "nothing identified yet";
  Identify({1});
  EXPECT_FALSE(Write(0, 20));
  EXPECT_FALSE(Write(2, 20));
  AtaRegisters mode;
  mode.r = {0x11, 0, 0, 0, 0, 0xE0, 0x88};
  DeviceHandle disk0 = OpenDevice(transport, 0);
  EXPECT_FALSE(SendAtaCommand(disk0, mode, {}, 0));
  std::vector<std::uint8_t> page(256);
  EXPECT_FALSE(SendVendorCommand(disk0, VendorCommandKind::PageProgram, page, 0x1000));
  EXPECT_TRUE(kernel->sent.empty());
  EXPECT_EQ(host.guard().RefusedCount(), 5u);

  Identify({});
  EXPECT_FALSE(Write(1, 20)) << "an enclosure that identification no longer reports";
}

TEST_F(HostInterlockTest, NeverWritesThroughAVolume) {
  Identify({1});
  DeviceHandle volume = OpenVolume(transport, "sdb1");
  ASSERT_TRUE(volume);
  std::vector<std::uint8_t> sector(512);
  EXPECT_FALSE(WriteSectors(volume, 20, 1, sector)) << "volume LBAs are not the disk's";
  host.SetEnclosures({volume.device().Identity()}, {});
  EXPECT_FALSE(WriteSectors(volume, 20, 1, sector)) << "not even when reported as an enclosure";
  Identify({2});  // sdc carries a filesystem on the whole disk
  DeviceHandle wholeDisk = OpenVolume(transport, "sdc");
  ASSERT_TRUE(wholeDisk);
  EXPECT_FALSE(WriteSectors(wholeDisk, 20, 1, sector)) << "not even where it is the whole disk";
  EXPECT_TRUE(Write(2, 20)) << "the disk itself is the enclosure";
  EXPECT_EQ(kernel->sent.size(), 1u);
  EXPECT_EQ(kernel->sent[0].node, "sg2");
}

TEST_F(HostInterlockTest, ADiskThatTakesOverAnEnclosuresNumberIsNotTrusted) {
  Identify({1});
  UnplugSdb();  // before the next identification, drive 1 is sdc
  EXPECT_FALSE(Write(1, 20));
  EXPECT_THAT(reported.back(), HasSubstr("to sdc"));
  EXPECT_TRUE(kernel->sent.empty());
}

TEST_F(HostInterlockTest, ADifferentDiskUnderTheEnclosuresNameIsNotTrusted) {
  Identify({1});
  // Another disk arrives as sdb: same name and numbers, a new sequence number.
  std::ofstream(root / "sys/block/sdb/diskseq") << "12\n";
  EXPECT_FALSE(Write(1, 20));
  EXPECT_TRUE(kernel->sent.empty());
}

TEST_F(HostInterlockTest, TheEnclosureIsTheDiskIdentificationOpenedNotTheOneAtItsNumberLater) {
  ProbedDrives probed(transport);
  ASSERT_TRUE(OpenDevice(probed.transport(), 1));  // identification probes sdb as drive 1
  UnplugSdb();                                     // by the report, drive 1 is sdc
  ReportEnclosures(host, probed, Found({1}));
  EXPECT_FALSE(Write(1, 20)) << "sdc was never identified";
  EXPECT_TRUE(kernel->sent.empty());
}

TEST_F(HostInterlockTest, TheDeviceBeingUpgradedStaysAnEnclosureOnlyWhileItIsTheSameDisk) {
  Identify({1});
  // A run during the upgrade leaves drive 1 unprobed: it keeps its rights.
  ReportEnclosures(host, ProbedDrives(transport), Found({1}, 0));
  EXPECT_TRUE(Write(1, 20));

  // Keeping never makes an enclosure of a disk that was not one.
  ReportEnclosures(host, ProbedDrives(transport), Found({2, 1}, 0));
  EXPECT_FALSE(Write(2, 20));
  EXPECT_FALSE(Write(1, 20)) << "a slot whose disk the run never opened gives no rights";

  // Nor of another disk that arrived under the upgraded one's name.
  Identify({1});
  std::ofstream(root / "sys/block/sdb/diskseq") << "12\n";
  ReportEnclosures(host, ProbedDrives(transport), Found({1}, 0));
  EXPECT_FALSE(Write(1, 20));
  EXPECT_EQ(kernel->sent.size(), 1u) << "only the first write went out";
}

// A controller information sector: the tag, and a model beginning with the prefix in ATA
// string order.
FakeKernel::Answer EnclosureAnswer() {
  FakeKernel::Answer answer;
  answer.dataIn.assign(kSectorSize, 0);
  answer.dataIn[kControllerTagOffset] = kControllerTag[0];
  answer.dataIn[kControllerTagOffset + 1] = kControllerTag[1];
  const std::string model = kModelPrefix;
  for (std::size_t i = 0; i < model.size(); ++i)
    answer.dataIn[kInfoModelOffset + (i ^ 1)] = static_cast<std::uint8_t>(model[i]);
  return answer;
}

TEST_F(HostInterlockTest, ADetectionRunGivesRightsToWhatItFoundAndKeepsThemForTheUpgradedDevice) {
  kernel->answers["sg1"] = EnclosureAnswer();  // sdb is an enclosure; sda and sdc read zeros
  DetectionInput input{{}, 0, 3, std::nullopt};
  DetectionResult result = RunDetection(transport, input, DetectionTables{});
  ASSERT_EQ(result.tables.deviceCount, 1);
  ASSERT_EQ(SlotDisk(result.tables.deviceSlots[0]), 1u);
  EXPECT_TRUE(Write(1, 20));
  EXPECT_FALSE(Write(0, 20));
  EXPECT_FALSE(Write(2, 20));

  // While drive 1 is upgraded, a run neither opens it nor takes its rights away.
  kernel->opens.clear();
  input.upgradeSlotValue = result.tables.deviceSlots[0];
  result = RunDetection(transport, input, result.tables);
  ASSERT_EQ(result.upgradeSlotIndex, 0);
  for (const FakeKernel::Opened& opened : kernel->opens) EXPECT_NE(opened.node, "sg1");
  EXPECT_TRUE(Write(1, 20));
}

}  // namespace
}  // namespace caspira
