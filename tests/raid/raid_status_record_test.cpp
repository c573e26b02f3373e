// Decoding the status record: every field at its offset, texts in ATA string order, 40-bit
// counts, the bad-sector ring, and the small text helpers read from the record.
#include "raid/raid_status_record.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "raid/record_bytes.h"
#include "sim/raid_engine.h"

namespace caspira {
namespace {

using ::testing::ElementsAre;
using testing::RecordBytes;

// Every field gets a value of its own over a background of 0xEE, so a field read one byte
// too early or too late, or too wide, picks up a background byte.
TEST(RaidStatusRecordTest, EveryFieldIsReadFromItsOwnBytes) {
  RecordBytes b;
  b.Fill(0xEE)
      .Byte(0, 0x00)
      .Byte(1, 0xA7)
      .Byte(55, 0x03)
      .SettingSource(0x12)
      .Mode(0x01)
      .P0Serial("P0SERIAL-ABCDEFGHIJ")
      .P1Serial("P1SERIAL-0123456789")
      .Configured(0x12'3456'789AULL)
      .Ports(0x32)
      .Activity(0x81)
      .Percent(42)
      .Suffix('B', '1', 'F')
      .P0Model("P0 MODEL 0123456789 0123456789 012345678")
      .P0Sectors(0xAB'CDEF'0123ULL)
      .P1Model("P1 MODEL 0123456789 0123456789 012345678")
      .P1Sectors(0x01'0000'0001ULL)
      .Sata(0x32)
      .Byte(471, 13);
  for (std::uint32_t k = 0; k < 10; ++k) b.Le(472 + 4 * k, 0xC0DE'0000u + k, 4);

  const RaidStatusRecord r = DecodeRaidStatusRecord(b.bytes());
  EXPECT_EQ(r.slotMarker, 0x00);
  EXPECT_EQ(r.configVersion, 0xA7);
  EXPECT_EQ(r.spiRaidMode, 0x03);
  EXPECT_EQ(r.raidSettingSource, 0x12);
  EXPECT_EQ(r.systemRaidMode, 0x01);
  EXPECT_EQ(r.p0Serial, "P0SERIAL-ABCDEFGHIJ ");
  EXPECT_EQ(r.p1Serial, "P1SERIAL-0123456789 ");
  EXPECT_EQ(r.configuredSectors, 0x12'3456'789AULL);
  EXPECT_EQ(r.portFlags, 0x32);
  EXPECT_EQ(r.activityFlags, 0x81);
  EXPECT_EQ(r.progressPercent, 42);
  EXPECT_THAT(r.firmwareSuffix, ElementsAre('B', '1', 'F'));
  EXPECT_EQ(r.p0Model, "P0 MODEL 0123456789 0123456789 012345678");  // all 40
  EXPECT_EQ(r.p0Sectors, 0xAB'CDEF'0123ULL);
  EXPECT_EQ(r.p1Model, "P1 MODEL 0123456789 0123456789 012345678");
  EXPECT_EQ(r.p1Sectors, 0x01'0000'0001ULL);
  EXPECT_EQ(r.sataGeneration, 0x32);
  EXPECT_EQ(r.badSectorCount, 13);
  for (std::uint32_t k = 0; k < 10; ++k) EXPECT_EQ(r.badSectorLba[k], 0xC0DE'0000u + k) << k;
  EXPECT_EQ(r.raw, b.bytes());
}

TEST(RaidStatusRecordTest, SectorCountsAreFortyBitsWide) {
  RecordBytes b;
  b.Fill(0xFF);  // bytes 103 and 301 beside the counts are all ones too
  const RaidStatusRecord r = DecodeRaidStatusRecord(b.bytes());
  EXPECT_EQ(r.configuredSectors, 0xFF'FFFF'FFFFULL);
  EXPECT_EQ(r.p0Sectors, 0xFF'FFFF'FFFFULL);
  EXPECT_EQ(r.p1Sectors, 0xFF'FFFF'FFFFULL);
  EXPECT_EQ(GigabytesOf(r.configuredSectors), 0x7FFFFu);
}

TEST(RaidStatusRecordTest, GigabytesAreRoundedDown) {
  EXPECT_EQ(GigabytesOf(465ULL * (1 << 21) + (1 << 20)), 465u);
  EXPECT_EQ(GigabytesOf((1 << 21) - 1), 0u);
  EXPECT_EQ(GigabytesOf(3907029168ULL), 1863u);
}

TEST(RaidStatusRecordTest, AtaTextSwapsEveryPairAndEndsAtTheFirstNul) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> field;
    std::string text;
  } cases[] = {
      {"pairs swapped", {'B', 'A', 'D', 'C'}, "ABCD"},
      {"trailing blanks kept", {'B', 'A', ' ', ' '}, "AB  "},
      {"leading blanks kept", {' ', ' ', 'B', 'A'}, "  AB"},
      {"NUL in the first byte of a pair ends after its partner", {'B', 'A', 0, 'C'}, "ABC"},
      {"NUL in the second byte of a pair ends before it", {'B', 'A', 'D', 0}, "AB"},
      {"empty field", {0, 0}, ""},
      {"8-bit bytes pass through", {0xE9, 'A'}, "A\xE9"},
      {"odd length: the unpaired last byte is left out", {'B', 'A', 'C'}, "AB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AtaText(c.field), c.text);
  }
}

TEST(RaidStatusRecordTest, BadSectorRingIndexWrapsAtTen) {
  RecordBytes b;
  for (std::uint32_t k = 0; k < 10; ++k) b.Le(472 + 4 * k, 1000 + k, 4);
  const RaidStatusRecord r = DecodeRaidStatusRecord(b.bytes());
  EXPECT_EQ(BadSectorLbaOf(r, 0), 1000u);
  EXPECT_EQ(BadSectorLbaOf(r, 9), 1009u);
  EXPECT_EQ(BadSectorLbaOf(r, 10), 1000u);
  EXPECT_EQ(BadSectorLbaOf(r, 255), 1005u);
}

TEST(RaidStatusRecordTest, DiskStatusTakesEachPortsNibbleAndFields) {
  RecordBytes b;
  b.Ports(0x84).Sata(0x31).P0Serial("S0").P1Serial("S1").P0Model("M0").P1Model("M1");
  b.P0Sectors(100).P1Sectors(200);
  const RaidStatusRecord r = DecodeRaidStatusRecord(b.bytes());
  const DiskStatus p0 = DiskStatusOf(r, DiskPort::P0);
  const DiskStatus p1 = DiskStatusOf(r, DiskPort::P1);
  EXPECT_EQ(p0.portState, PortFlag::P0Absent);
  EXPECT_EQ(p1.portState, PortFlag::P0Failed);
  EXPECT_EQ(p0.sataGeneration, 1);
  EXPECT_EQ(p1.sataGeneration, 3);
  EXPECT_EQ(p0.serial.substr(0, 2), "S0");
  EXPECT_EQ(p1.model.substr(0, 2), "M1");
  EXPECT_EQ(p0.sectors, 100u);
  EXPECT_EQ(p1.sectors, 200u);
}

TEST(RaidStatusRecordTest, SettingSourceBits) {
  const struct {
    std::uint8_t source;
    bool muted, autoScan;
  } cases[] = {{0xF3, false, true}, {0x10, true, false}, {0x11, false, false}, {0x12, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.source));
    const RaidStatusRecord r = DecodeRaidStatusRecord(RecordBytes().SettingSource(c.source).bytes());
    EXPECT_EQ(BuzzerMuted(r), c.muted);
    EXPECT_EQ(AutoScanOn(r), c.autoScan);
  }
}

// The simulated controller builds its records from a layout written independently of the
// decoder; both must agree on every field.
TEST(RaidStatusRecordTest, DecodesTheRecordTheSimulatedControllerBuilds) {
  sim::RaidState s;
  s.configVersion = 0xA3;
  s.spiRaidMode = sim::kModeJbod;
  s.raidSettingSource = 0xF2;
  s.systemRaidMode = sim::kModeNraid;
  s.configuredSectors = 1953525168ULL * 2;
  s.disks[0] = sim::SimDisk{"WDC WD10EZEX-00BN5A0", "WD-WCC3F1234567", 1953525168ULL, 3, {}};
  s.disks[1] = sim::SimDisk{"ST1000DM003-1CH162", "Z1D0ABCD", 1953525169ULL, 2, {}};
  s.portFlags = 0x22;
  s.activityFlags = 0x82;
  s.progressPercent = 61;
  s.firmwareSuffix = "C1E";
  s.badSectorCount = 12;
  for (std::uint32_t k = 0; k < 10; ++k) s.badSectorLba[k] = 5000 + k;

  const sim::StatusRecordBytes bytes = sim::BuildStatusRecord(s);
  const RaidStatusRecord r = DecodeRaidStatusRecord(bytes);
  EXPECT_EQ(r.slotMarker, 0x00);
  EXPECT_EQ(r.configVersion, 0xA3);
  EXPECT_EQ(r.spiRaidMode, sim::kModeJbod);
  EXPECT_EQ(r.raidSettingSource, 0xF2);
  EXPECT_EQ(RaidModeName(r.systemRaidMode), "NRAID");
  EXPECT_EQ(r.configuredSectors, 1953525168ULL * 2);
  EXPECT_EQ(r.p0Model, "WDC WD10EZEX-00BN5A0" + std::string(20, ' '));
  EXPECT_EQ(r.p1Model, "ST1000DM003-1CH162" + std::string(22, ' '));
  EXPECT_EQ(r.p0Serial, "WD-WCC3F1234567     ");
  EXPECT_EQ(r.p1Serial, "Z1D0ABCD            ");
  EXPECT_EQ(r.p0Sectors, 1953525168ULL);
  EXPECT_EQ(r.p1Sectors, 1953525169ULL);
  EXPECT_EQ(r.portFlags, 0x22);
  EXPECT_EQ(r.activityFlags, 0x82);
  EXPECT_EQ(r.progressPercent, 61);
  EXPECT_EQ(FirmwareSuffixText(r), "C1E");
  EXPECT_EQ(DiskStatusOf(r, DiskPort::P0).sataGeneration, 3);
  EXPECT_EQ(DiskStatusOf(r, DiskPort::P1).sataGeneration, 2);
  EXPECT_EQ(r.badSectorCount, 12);
  EXPECT_EQ(BadSectorLbaOf(r, 12), 5002u);
}

TEST(RaidModeNameTest, NamesEveryModeValue) {
  const struct {
    std::uint8_t mode;
    const char* name;
  } cases[] = {{0, "Striping"},    {1, "Mirror"},    {2, "NRAID"},       {3, "JBOD"},       {4, "Undefine"},
               {0x3E, "Undefine"}, {0x3F, "Bypass"}, {0x40, "Undefine"}, {0xFF, "Undefine"}};
  for (const auto& c : cases) EXPECT_EQ(RaidModeName(c.mode), c.name) << static_cast<int>(c.mode);
}

TEST(FirmwareSuffixTextTest, OnlyALetterAndTwoUpperCaseHexDigitsAreShown) {
  const struct {
    const char* name;
    std::uint8_t a, b, c;
    const char* text;
  } cases[] = {
      {"letter and hex digits", 'B', '1', 'F', "B1F"},
      {"first and last letters", 'Z', '9', 'A', "Z9A"},
      {"zeros after A", 'A', '0', '0', "A00"},
      {"lower-case first letter", 'b', '1', 'F', "C00"},
      {"lower-case hex digit", 'B', '1', 'f', "C00"},
      {"letter above F second", 'B', 'G', '0', "C00"},
      {"letter above F third", 'B', '0', 'G', "C00"},
      {"digit first", '1', '0', '0', "C00"},
      {"character before A", '@', '0', '0', "C00"},
      {"character after Z", '[', '0', '0', "C00"},
      {"character before 0", 'B', '/', '0', "C00"},
      {"character after 9", 'B', '0', ':', "C00"},
      {"three zero bytes", 0, 0, 0, "C00"},
      {"blanks", ' ', ' ', ' ', "C00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RaidStatusRecord r = DecodeRaidStatusRecord(RecordBytes().Suffix(c.a, c.b, c.c).bytes());
    EXPECT_EQ(FirmwareSuffixText(r), c.text);
  }
}

}  // namespace
}  // namespace caspira
