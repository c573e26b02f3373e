#include "device/device_info.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device/discovery.h"

namespace caspira {
namespace {

// An information sector with the revision and model written in ATA string order.
Sector InfoSector(const std::string& revision, const std::string& model) {
  Sector s{};
  const auto put = [&s](std::size_t offset, std::size_t length, const std::string& text) {
    std::string padded = text;
    padded.resize(length, ' ');
    for (std::size_t i = 0; i < length; ++i) s[offset + (i ^ 1)] = static_cast<std::uint8_t>(padded[i]);
  };
  put(46, 8, revision);
  put(54, 40, model);
  s[258] = 0x33;
  s[259] = 0x58;
  return s;
}

TEST(DeviceInfoTest, RevisionDecidesWhetherAutoScanIsSupported) {
  const struct {
    const char* revision;
    bool supported;
  } cases[] = {
      {"090619.1", true},  {"090618.1", false}, {"100101.0", true},
      {"000000.0", false}, {"0906191 ", false},  // no point as the seventh character
      {"09O619.1", false},                       // a letter among the digits
      {"0906", false},                           // too short
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.revision);
    const Sector info = InfoSector(c.revision, "TALVEN RD2");
    EXPECT_EQ(FirmwareRevisionOf(info), std::string(c.revision).append(8 - std::strlen(c.revision), ' '));
    EXPECT_EQ(AutoScanSupportedFor(FirmwareRevisionOf(info)), c.supported);
  }
  EXPECT_EQ(FirmwareRevisionText(InfoSector("090619.1", "x")), "F/W Rev. 090619.1");
}

TEST(DeviceInfoTest, ModelLosesTrailingBlanksButNeverItsFirstSixCharacters) {
  EXPECT_EQ(ControllerModelOf(InfoSector("", "TALVEN RD2 Controller")), "TALVEN RD2 Controller");
  EXPECT_EQ(ControllerModelOf(InfoSector("", "AB")), "AB    ");
  EXPECT_EQ(ControllerModelOf(InfoSector("", std::string(40, 'M'))), std::string(40, 'M'));
  Sector withNul = InfoSector("", "TALVEN RD2");
  withNul[54 + (8 ^ 1)] = 0;  // a NUL ends the text early
  EXPECT_EQ(ControllerModelOf(withNul), "TALVEN R");
}

TEST(DeviceInfoTest, VolumeNamesJoinAsLettersOrAsKernelNames) {
  EXPECT_EQ(JoinVolumeNames({}), "");
  EXPECT_EQ(JoinVolumeNames({"E", "F"}), "EF");
  EXPECT_EQ(JoinVolumeNames({"sdb1", "sdb2"}), "sdb1 sdb2");
  EXPECT_EQ(JoinVolumeNames({"sdb"}), "sdb");
  EXPECT_EQ(DeviceCaption("Caspira v0.22 RAID Manager", "TALVEN RD2", {"E", "F"}),
            "Caspira v0.22 RAID Manager - TALVEN RD2 [EF]");
}

TEST(DeviceInfoTest, LabelListsTheFixedVolumesOfTheCurrentDevice) {
  AppState state;
  state.DeviceCount = 2;
  state.DeviceSlots = {0xA1, 0x52};
  state.DriveLetterCount = 5;
  state.DriveTable[0] = {"C", kDriveFixed, 0};
  state.DriveTable[1] = {"E", kDriveFixed, 1};
  state.DriveTable[2] = {"F", kDriveFixed, 1};
  state.DriveTable[3] = {"G", kDriveRemovable, 1};  // not fixed: not listed
  state.DriveTable[4] = {"H", kDriveUnopenable, 1};
  state.DriveTable[5] = {"I", kDriveFixed, 1};  // past DriveLetterCount: stale
  EXPECT_EQ(BuildDeviceLabel(state), "1/2 Device1[EF]");
  state.CurrentSlot = 1;
  EXPECT_EQ(BuildDeviceLabel(state), "2/2 Device2[]");
}

}  // namespace
}  // namespace caspira
