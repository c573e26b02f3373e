// The start banner and the device information block, from hand-built records and
// controller information sectors.
#include "raid/start_banner.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "raid/record_bytes.h"

namespace caspira {
namespace {

using testing::RecordBytes;
using Lines = std::vector<std::string>;

constexpr std::uint64_t kGiB = 1ULL << 21;  // sectors

TEST(CapacityTextTest, GigabytesAreTheSectorsShiftedRightBy21) {
  const struct {
    std::uint64_t sectors;
    const char* text;
  } cases[] = {
      {0, "0 GB(0 Sectors)"},
      {2'097'151, "0 GB(2097151 Sectors)"},
      {2'097'152, "1 GB(2097152 Sectors)"},
      {3'907'029'168, "1863 GB(3907029168 Sectors)"},
      {0xFF'FFFF'FFFF, "524287 GB(1099511627775 Sectors)"},  // the largest 40-bit count
  };
  for (const auto& c : cases) EXPECT_EQ(CapacityText(c.sectors), c.text) << c.sectors;
}

TEST(StartBannerTest, IsTheSeparatorAndTheStartLine) {
  LogBuffer log;
  WriteStartBanner(log, "Caspira v0.22 RAID Manager", "12/11/26 09:30:00");
  EXPECT_EQ(log.Lines(),
            (Lines{std::string(83, '-'), "Caspira v0.22 RAID Manager has started from 12/11/26 09:30:00"}));
}

class DeviceInformationTest : public ::testing::Test {
 protected:
  DeviceInformationTest() {
    record.Mode(1)
        .Configured(465 * kGiB)
        .Ports(0x22)
        .Sata(0x32)
        .Suffix('A', '1', '0')
        .P0Serial("SER-P0")
        .P1Serial("SER-P1")
        .P0Sectors(465 * kGiB)
        .P1Sectors(931 * kGiB);
    info.Ata(46, 8, "090619.1").Ata(54, 40, "TALVEN TR-2000");
  }

  Lines Block(std::size_t slot = 0) {
    LogBuffer log;
    WriteDeviceInformation(log, slot, DecodeRaidStatusRecord(record.bytes()), info.bytes());
    return log.Lines();
  }

  RecordBytes record;
  RecordBytes info;
};

const std::string kP0Serial = "    Serial no.: \"SER-P0              \"";
const std::string kP1Serial = "    Serial no.: \"SER-P1              \"";
const std::string kP0Capacity = "    Capacity : 465 GB(975175680 Sectors)";
const std::string kP1Capacity = "    Capacity : 931 GB(1952448512 Sectors)";

TEST_F(DeviceInformationTest, BlockOfADeviceWithBothDisksPresent) {
  EXPECT_EQ(Block(2), (Lines{
                          "Device3 information :",
                          "Model# TALVEN TR-2000",
                          "Mirror, F/W Rev. 090619.1.A10",
                          "Configured Capacity : 465 GB(975175680 Sectors)",
                          "  P0 is present.(SATA2)",
                          kP0Serial,
                          kP0Capacity,
                          "  P1 is present.(SATA3)",
                          kP1Serial,
                          kP1Capacity,
                      }));
}

TEST_F(DeviceInformationTest, ModeLineNamesTheModeAndKeepsTheRevisionAsStored) {
  const struct {
    std::function<void(RecordBytes& record, RecordBytes& info)> change;
    const char* line;
  } cases[] = {
      {[](RecordBytes& r, RecordBytes&) { r.Mode(0); }, "Striping, F/W Rev. 090619.1.A10"},
      {[](RecordBytes& r, RecordBytes&) { r.Mode(3); }, "JBOD, F/W Rev. 090619.1.A10"},
      {[](RecordBytes& r, RecordBytes&) { r.Mode(0x3F); }, "Bypass, F/W Rev. 090619.1.A10"},
      {[](RecordBytes& r, RecordBytes&) { r.Mode(4); }, "Undefine, F/W Rev. 090619.1.A10"},
      {[](RecordBytes& r, RecordBytes&) { r.Mode(0x40); }, "Undefine, F/W Rev. 090619.1.A10"},
      {[](RecordBytes&, RecordBytes& i) { i.Ata(46, 8, "0906"); }, "Mirror, F/W Rev. 0906    .A10"},
      {[](RecordBytes& r, RecordBytes&) { r.Suffix('a', '1', '0'); }, "Mirror, F/W Rev. 090619.1.C00"},
      {[](RecordBytes& r, RecordBytes&) { r.Suffix('B', 'F', '9'); }, "Mirror, F/W Rev. 090619.1.BF9"},
  };
  for (const auto& c : cases) {
    c.change(record, info);
    EXPECT_EQ(Block().at(2), c.line);
    record.Mode(1).Suffix('A', '1', '0');
    info.Ata(46, 8, "090619.1");
  }
}

TEST_F(DeviceInformationTest, ModelLosesTrailingBlanksButABlankModelKeepsSix) {
  const struct {
    const char* model;
    const char* line;
  } cases[] = {
      {"", "Model#       "},
      {"AB", "Model# AB    "},
      {"A B  C", "Model# A B  C"},
  };
  for (const auto& c : cases) {
    info.Ata(54, 40, c.model);
    EXPECT_EQ(Block().at(1), c.line);
  }
}

TEST_F(DeviceInformationTest, DiskLinesFollowTheFirstPortBitThatIsSet) {
  const struct {
    std::uint8_t ports;
    Lines diskLines;
  } cases[] = {
      {0x00, {}},
      {0x06, {"  P0 is absent. "}},
      {0x44, {"  P0 is absent. ", "  P1 is absent. "}},
      {0x11, {"P0 was inserted.", "P1 was inserted."}},
      {0x88,
       {"  P0 was failed, Capacity too small.", kP0Serial, kP0Capacity,
        "  P1 was failed, Capacity too small.", kP1Serial, kP1Capacity}},
      {0x2A,
       {"  P0 is present.(SATA2)", kP0Serial, kP0Capacity, "  P1 is present.(SATA3)", kP1Serial,
        kP1Capacity}},
      {0x90, {"  P1 was failed, Capacity too small.", kP1Serial, kP1Capacity}},
  };
  for (const auto& c : cases) {
    record.Ports(c.ports);
    const Lines block = Block();
    EXPECT_EQ(Lines(block.begin() + 4, block.end()), c.diskLines) << "portFlags " << int{c.ports};
  }
}

}  // namespace
}  // namespace caspira
