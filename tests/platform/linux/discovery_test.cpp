// Physical drives and volumes as found in fixture trees of /sys/block.
#include "platform/linux/sysfs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/linux/fake_kernel.h"
#include "platform/linux/linux_host.h"

namespace caspira {
namespace {

using linux_backend::DevNumbers;
using linux_backend::KernelNameLess;
using ::testing::ElementsAre;
using testing::FakeKernel;
using testing::LinuxFixture;

struct Host {
  explicit Host(const std::string& fixture)
      : host({LinuxFixture(fixture), kernel, [](const std::string&) {}}) {}

  // The node each physical drive 0..11 opens, "-" where there is none.
  std::vector<std::string> DriveNodes() {
    std::vector<std::string> nodes;
    for (unsigned n = 0; n < 12; ++n) {
      kernel->opens.clear();
      auto device = host.OpenPhysicalDrive(n);
      nodes.push_back(device && !kernel->opens.empty() ? kernel->opens.back().node : "-");
    }
    return nodes;
  }

  std::shared_ptr<FakeKernel> kernel = std::make_shared<FakeKernel>();
  LinuxHost host;
};

TEST(KernelNameOrder, SortsAsTheKernelNumbers) {
  const std::vector<std::pair<std::string, std::string>> ordered = {
      {"sda", "sdb"},         {"sdz", "sdaa"},         {"sdaa", "sdab"},
      {"sda2", "sda10"},      {"sda", "sda1"},         {"nvme0n1p2", "nvme0n1p10"},
      {"nvme0n1", "nvme1n1"}, {"nvme2n1", "nvme10n1"}, {"mmcblk0", "mmcblk0p1"},
      {"sdb9", "sdb10"},
  };
  for (const auto& [before, after] : ordered) {
    EXPECT_TRUE(KernelNameLess(before, after)) << before << " < " << after;
    EXPECT_FALSE(KernelNameLess(after, before)) << after << " !< " << before;
  }
  EXPECT_FALSE(KernelNameLess("sdb", "sdb"));
}

TEST(ParseDevNumbers, ReadsMajorAndMinor) {
  EXPECT_EQ(linux_backend::ParseDevNumbers("8:16\n"), (DevNumbers{8, 16}));
  EXPECT_EQ(linux_backend::ParseDevNumbers("259:0"), (DevNumbers{259, 0}));
  for (const char* bad : {"", "8", "8:", ":16", "8:x", "-1:2", "8:16:1", "99999999999:1"})
    EXPECT_FALSE(linux_backend::ParseDevNumbers(bad)) << bad;
}

TEST(PhysicalDrives, AreTheScsiDisksInKernelNameOrderThroughTheirGenericNodes) {
  Host typical("typical");  // sda sdb sdc, plus an NVMe disk, a CD drive and a loop device
  EXPECT_THAT(typical.DriveNodes(),
              ElementsAre("sg0", "sg1", "sg2", "-", "-", "-", "-", "-", "-", "-", "-", "-"));

  Host gaps("gaps");  // sda, sdc and sdf: the drives are numbered without holes
  EXPECT_THAT(gaps.DriveNodes(),
              ElementsAre("sg0", "sg2", "sg5", "-", "-", "-", "-", "-", "-", "-", "-", "-"));

  Host many("many");  // sda..sdl and sdaa: only the first ten are drives
  EXPECT_THAT(many.DriveNodes(),
              ElementsAre("sg0", "sg1", "sg2", "sg3", "sg4", "sg5", "sg6", "sg7", "sg8", "sg9", "-", "-"));
  const auto disks = linux_backend::SysfsView(LinuxFixture("many")).ScsiDisks();
  ASSERT_EQ(disks.size(), 13u);
  EXPECT_EQ(disks.back().name, "sdaa");
}

TEST(PhysicalDrives, WithoutAGenericNodeGoToTheDiskNode) {
  const auto disks = linux_backend::SysfsView(LinuxFixture("nosg")).ScsiDisks();
  ASSERT_EQ(disks.size(), 3u);
  EXPECT_EQ(disks[0].node.path.filename(), "sg0");
  EXPECT_TRUE(disks[0].node.character);
  EXPECT_EQ(disks[0].node.numbers, (DevNumbers{21, 0}));
  EXPECT_EQ(disks[1].node.path.filename(), "sdb");  // no scsi_generic at all
  EXPECT_FALSE(disks[1].node.character);
  EXPECT_EQ(disks[1].node.numbers, (DevNumbers{8, 16}));
  EXPECT_EQ(disks[2].node.path.filename(), "sg2");  // the older device/scsi_generic:sg2 layout
  EXPECT_EQ(disks[2].node.numbers, (DevNumbers{21, 2}));
}

TEST(PhysicalDrives, ANodeThatWillNotOpenIsNoDrive) {
  Host typical("typical");
  typical.kernel->openErrors["sg1"] = -EACCES;
  EXPECT_EQ(typical.host.OpenPhysicalDrive(1), nullptr);
  EXPECT_NE(typical.host.OpenPhysicalDrive(2), nullptr) << "numbers do not shift past it";
}

struct VolumeRow {
  std::string name;
  std::uint8_t driveType;
  bool opened;
  std::optional<std::uint32_t> diskNumber;
  friend bool operator==(const VolumeRow&, const VolumeRow&) = default;
  friend std::ostream& operator<<(std::ostream& os, const VolumeRow& v) {
    return os << v.name << " type " << int{v.driveType} << (v.opened ? " opened" : " closed") << " disk "
              << (v.diskNumber ? std::to_string(*v.diskNumber) : "-");
  }
};

std::vector<VolumeRow> Rows(LinuxHost& host) {
  std::vector<VolumeRow> rows;
  for (const std::string& name : host.ListVolumes()) {
    const VolumeInfo info = host.QueryVolume(name);
    rows.push_back({name, info.driveType, info.opened, info.diskNumber});
  }
  return rows;
}

TEST(Volumes, ArePartitionsAndWholeDiskFilesystemsWithTheirDisk) {
  Host typical("typical");
  typical.kernel->openErrors["sda2"] = -EACCES;
  // The NVMe disk comes after the SCSI disks in kernel-name order and has no drive number;
  // sdc carries a filesystem on the whole disk; the CD drive has none and the loop device's
  // partition is no disk's.
  EXPECT_THAT(Rows(typical.host),
              ElementsAre(VolumeRow{"sda1", kDriveFixed, true, 0}, VolumeRow{"sda2", kDriveFixed, false, 0},
                          VolumeRow{"sdb1", kDriveFixed, true, 1}, VolumeRow{"sdc", kDriveRemovable, true, 2},
                          VolumeRow{"nvme0n1p1", kDriveFixed, true, std::nullopt},
                          VolumeRow{"nvme0n1p2", kDriveFixed, true, std::nullopt},
                          VolumeRow{"nvme0n1p10", kDriveFixed, true, std::nullopt}));
  EXPECT_EQ(typical.kernel->OpenCount(), 0u) << "every query closes what it opened";
  for (const auto& open : typical.kernel->opens) EXPECT_FALSE(open.writable) << open.node;

  const VolumeInfo unknown = typical.host.QueryVolume("sdq1");
  EXPECT_EQ(unknown.driveType, kDriveUnknown);
  EXPECT_FALSE(unknown.opened);
  EXPECT_FALSE(unknown.diskNumber);
  EXPECT_EQ(typical.host.OpenVolume("sdq1"), nullptr);
  EXPECT_EQ(typical.host.OpenVolume("../sda"), nullptr) << "only listed volumes open";
}

TEST(Volumes, CarryTheirDiskNumberPastTheTenthDisk) {
  Host many("many");
  EXPECT_THAT(Rows(many.host),
              ElementsAre(VolumeRow{"sdj1", kDriveFixed, true, 9}, VolumeRow{"sdk1", kDriveFixed, true, 10},
                          VolumeRow{"sdaa1", kDriveFixed, true, 12}));
  Host gaps("gaps");
  EXPECT_THAT(Rows(gaps.host), ElementsAre(VolumeRow{"sdc1", kDriveFixed, true, 1}));
}

TEST(Discovery, SurvivesUnreadableAttributes) {
  // sda: removable is a directory, dev is no device number, the sg node's dev is a directory;
  // sdb: no removable attribute, its partition's dev is a dangling link;
  // sdc: an empty removable attribute, an empty scsi_generic directory.
  const auto disks = linux_backend::SysfsView(LinuxFixture("unreadable")).ScsiDisks();
  ASSERT_EQ(disks.size(), 3u);
  EXPECT_EQ(disks[0].node.path.filename(), "sg0");
  EXPECT_FALSE(disks[0].node.numbers) << "nothing to check the node against";
  EXPECT_FALSE(disks[0].removable);
  EXPECT_EQ(disks[2].node.path.filename(), "sdc");
  EXPECT_EQ(disks[2].node.numbers, (DevNumbers{8, 32}));

  Host unreadable("unreadable");
  EXPECT_THAT(unreadable.DriveNodes(),
              ElementsAre("sg0", "sdb", "sdc", "-", "-", "-", "-", "-", "-", "-", "-", "-"));
  // A disk whose removable flag cannot be read gets no drive type rather than a guessed one.
  EXPECT_THAT(Rows(unreadable.host), ElementsAre(VolumeRow{"sda1", kDriveUnknown, true, 0},
                                                 VolumeRow{"sdb1", kDriveUnknown, true, 1}));
}

TEST(Discovery, FindsNothingUnderAnEmptyRoot) {
  Host nothing("does-not-exist");
  EXPECT_THAT(nothing.DriveNodes(), ::testing::Each("-"));
  EXPECT_TRUE(nothing.host.ListVolumes().empty());
  EXPECT_TRUE(nothing.host.AccessProblem().empty());
}

}  // namespace
}  // namespace caspira
