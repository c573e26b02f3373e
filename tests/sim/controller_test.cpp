// The controller's mailbox, its flash and record area, and the settings and scan commands.
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace caspira::sim::testing {
namespace {

using Kind = ControllerCommand::Kind;

Bytes Page(std::uint8_t value) {
  return Bytes(256, value);
}

// The last command of a kind; the controller's own record writes may follow it.
ControllerCommand Last(SimWorld& world, unsigned drive, Kind kind) {
  const auto commands = world.Commands(drive);
  for (auto it = commands.rbegin(); it != commands.rend(); ++it)
    if (it->kind == kind) return *it;
  ADD_FAILURE() << "no such command";
  return {};
}

Bytes FlashAt(SimWorld& world, unsigned drive, std::uint32_t address, std::size_t length) {
  const auto flash = world.Flash(drive);
  return Bytes(flash.begin() + address, flash.begin() + static_cast<std::ptrdiff_t>(address + length));
}

// ---- the mailbox ----

struct MailboxCase {
  const char* name;
  bool tagged;
  bool summed;
  bool command;
};

class MailboxTest : public SimTest, public ::testing::WithParamInterface<MailboxCase> {};

TEST_P(MailboxTest, OnlyATaggedAndSummedSectorIsACommand) {
  const MailboxCase& p = GetParam();
  world.AddEnclosure(1, Sata());
  auto device = Open(1);
  CommandSector c(0x03, 1);  // SpiAccessBegin
  c.bytes[100] = 0x42;
  c.Sum();
  if (!p.tagged) c.bytes[1] = 'Y';
  if (!p.summed) c.bytes[510] ^= 1;
  ASSERT_TRUE(WriteLba(*device, 77, c.bytes).completed);

  EXPECT_EQ(world.Flags(1).spiAccessOpen, p.command);
  EXPECT_EQ(world.Commands(1).size(), p.command ? 1u : 0u);
  // A command is consumed; anything else is data that reads back.
  const Bytes back = ReadLba(*device, 77).data;
  EXPECT_EQ(back == Bytes(c.bytes.begin(), c.bytes.end()), !p.command);
}

INSTANTIATE_TEST_SUITE_P(Sectors, MailboxTest,
                         ::testing::Values(MailboxCase{"Command", true, true, true},
                                           MailboxCase{"BadTag", false, true, false},
                                           MailboxCase{"BadSum", true, false, false}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(SimTest, MailboxSectorsOutsideTheRangeAreData) {
  world.AddEnclosure(1, Sata());
  auto device = Open(1);
  Mailbox(*device, CommandSector(0x03, 1).Sum(), 131);
  EXPECT_FALSE(world.Flags(1).spiAccessOpen);
  Mailbox(*device, CommandSector(0x03, 1).Sum(), 3);
  EXPECT_TRUE(world.Flags(1).spiAccessOpen);
}

TEST_F(SimTest, UsbControllerTakesOnlySettingsAndScanFromTheMailbox) {
  world.AddEnclosure(1, Usb());
  auto device = Open(1);
  Mailbox(*device, CommandSector(0x03, 1).Sum(), 20);
  EXPECT_FALSE(world.Flags(1).spiAccessOpen);
  EXPECT_EQ(ReadLba(*device, 20).data[2], 0x03) << "stored as data";

  CommandSector settings(0x20, 0);
  settings.bytes[4] = 1;
  Mailbox(*device, settings.Sum(), 20);
  EXPECT_EQ(world.Raid(1).raidSettingSource & 0x03, 0x02);
  Mailbox(*device, CommandSector(0x20, 1).Sum(), 21);
  EXPECT_EQ(world.Raid(1).raidSettingSource & 0x03, 0x02) << "only sector 20 carries them";
}

// ---- flash semantics ----

TEST_F(SimTest, EraseSetsOneSectorAndProgrammingOnlyClearsBits) {
  world.AddEnclosure(1, Usb());
  auto device = Open(1);
  ASSERT_NE(FlashAt(world, 1, 0x10000, 0x2000), Bytes(0x2000, 0xFF)) << "the factory image has code here";
  ASSERT_EQ(Send(*device, VendorFrame(true, 0x81, 0x11234), DataDirection::In, 8).status, 0);
  EXPECT_EQ(FlashAt(world, 1, 0x11000, 4096), Bytes(4096, 0xFF)) << "the 4 KB sector holding the address";
  EXPECT_NE(FlashAt(world, 1, 0x10000, 4096), Bytes(4096, 0xFF)) << "the sector before is untouched";

  Send(*device, VendorFrame(true, 0x89, 0x11100), DataDirection::Out, 256, Page(0xF0));
  Send(*device, VendorFrame(true, 0x89, 0x11100), DataDirection::Out, 256, Page(0x3C));
  EXPECT_EQ(FlashAt(world, 1, 0x11100, 256), Page(0x30)) << "a second program ANDs into the first";

  Bytes counting(256);
  for (int i = 0; i < 256; ++i) counting[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  Send(*device, VendorFrame(true, 0x89, 0x11280), DataDirection::Out, 256, counting);
  const Bytes page = FlashAt(world, 1, 0x11200, 512);
  EXPECT_EQ(page[0x80], 0x00);
  EXPECT_EQ(page[0xFF], 0x7F);
  EXPECT_EQ(page[0x00], 0x80) << "past the page's end a program wraps to the page's start";
  EXPECT_EQ(page[0x7E], 0xFE) << "the data's end lands just before its start";
  EXPECT_EQ(page[0x100], 0xFF) << "the next page is never touched";

  const Answer read = Send(*device, VendorFrame(true, 0x85, 0x11200), DataDirection::In, 512);
  EXPECT_EQ(read.data, page);
}

TEST_F(SimTest, FlashCommandsOutsideSpiAccessOrInTheLockedLowAreaAreIgnored) {
  world.AddEnclosure(1, Sata());
  auto device = Open(1);
  const Bytes low = FlashAt(world, 1, 0x1000, 4096);
  const Bytes high = FlashAt(world, 1, 0xC000, 4096);

  Mailbox(*device, CommandSector(0x01, 0x20, 0xC000).Sum());
  EXPECT_EQ(FlashAt(world, 1, 0xC000, 4096), high) << "no SPI access yet";
  EXPECT_EQ(world.Commands(1).back().reason, "SPI access is not open");

  Mode(*device, 0x03, 1);
  Mailbox(*device, CommandSector(0x01, 0x20, 0x1000).Sum());
  EXPECT_EQ(FlashAt(world, 1, 0x1000, 4096), low);
  EXPECT_EQ(world.Commands(1).back().reason, "the low area is locked");
  Mailbox(*device, CommandSector(0x01, 0x20, 0xC000).Sum());
  EXPECT_EQ(FlashAt(world, 1, 0xC000, 4096), Bytes(4096, 0xFF)) << "above the low area";

  Mode(*device, 0x04, 1);
  Mailbox(*device, CommandSector(0x01, 0x20, 0x1000).Sum());
  EXPECT_EQ(FlashAt(world, 1, 0x1000, 4096), Bytes(4096, 0xFF)) << "unlocked";
  Mailbox(*device, CommandSector::Program(0x1000, Page(0x12)));
  EXPECT_EQ(FlashAt(world, 1, 0x1000, 256), Page(0x12));

  Mode(*device, 0x04, 0);
  Mode(*device, 0x03, 0);
  Mailbox(*device, CommandSector::Program(0xC000, Page(0x00)));
  EXPECT_EQ(FlashAt(world, 1, 0xC000, 256), Page(0xFF)) << "after SpiAccessEnd";
  const ControllerFlags flags = world.Flags(1);
  EXPECT_FALSE(flags.spiAccessOpen);
  EXPECT_FALSE(flags.lowAreaUnlocked);
}

TEST_F(SimTest, PageProgramNeedsItsMarkAndMatchingParameter) {
  world.AddEnclosure(1, Sata());
  auto device = Open(1);
  Mode(*device, 0x03, 1);
  Mailbox(*device, CommandSector(0x01, 0x20, 0x30000).Sum());
  CommandSector unmarked = CommandSector::Program(0x30000, Page(0x00));
  unmarked.bytes[509] = 0;
  Mailbox(*device, unmarked.Sum());
  CommandSector wrongParameter = CommandSector::Program(0x30000, Page(0x00));
  wrongParameter.bytes[3] = 0x03;
  Mailbox(*device, wrongParameter);
  EXPECT_EQ(FlashAt(world, 1, 0x30000, 256), Page(0xFF));
  const auto commands = world.Commands(1);
  ASSERT_GE(commands.size(), 2u);
  EXPECT_TRUE(commands[commands.size() - 1].ignored);
  EXPECT_TRUE(commands[commands.size() - 2].ignored);
}

// Reading flash on the mailbox and ATA paths: a read command, then the data at sector 60.
TEST_F(SimTest, FlashReadsArriveAtSector60OnTheMailboxAndAtaPaths) {
  world.AddEnclosure(1, Sata());
  world.PresetFlash(1, 0x41200, Bytes(512, 0x6B));
  world.PresetFlash(1, 0x41400, Bytes(512, 0x6C));
  auto device = Open(1);
  Mode(*device, 0x03, 1);

  Mailbox(*device, CommandSector(0x00, 0x03, 0x41200).Sum(), 99);
  EXPECT_EQ(ReadLba(*device, 60).data, Bytes(512, 0x6B));

  const AtaAnswer ata = SendAta(*device, Registers(0x88, 0x01, 0x41400));
  ASSERT_TRUE(ata.completed);
  EXPECT_EQ(ata.registers[AtaRegisters::Command], 0x50);
  EXPECT_EQ(ReadLba(*device, 60).data, Bytes(512, 0x6C));
  EXPECT_EQ(world.Commands(1).back().address, 0x41400u);

  ASSERT_TRUE(SendAta(*device, Registers(0x88, 0x02)).completed);  // SpiAccessEnd
  SendAta(*device, Registers(0x88, 0x01, 0x41200));
  EXPECT_EQ(ReadLba(*device, 60).data, Bytes(512, 0x6C)) << "outside SPI access the read is ignored";

  const AtaAnswer unknown = SendAta(*device, Registers(0x88, 0x07));
  EXPECT_EQ(unknown.registers[AtaRegisters::Command], 0x51) << "an unknown Features value aborts";
}

TEST_F(SimTest, ModeCodesOnTheAtaPathSetTheControllerFlags) {
  world.AddEnclosure(1, AtaOnly());
  auto device = Open(1);
  const std::pair<std::uint8_t, ControllerFlags> steps[] = {
      {0x03, {true, false, false}}, {0x04, {true, true, false}},  {0x11, {true, true, true}},
      {0x05, {true, false, true}},  {0x02, {false, false, true}}, {0x10, {false, false, false}},
  };
  for (const auto& [mode, expected] : steps) {
    SCOPED_TRACE(static_cast<int>(mode));
    ASSERT_TRUE(SendAta(*device, Registers(0x88, mode)).completed);
    const ControllerFlags f = world.Flags(1);
    EXPECT_EQ(f.spiAccessOpen, expected.spiAccessOpen);
    EXPECT_EQ(f.lowAreaUnlocked, expected.lowAreaUnlocked);
    EXPECT_EQ(f.upgradeMode, expected.upgradeMode);
    EXPECT_EQ(world.Commands(1).back().modeCode, mode);
  }
}

// ---- the record area ----

// The search the record area is made for: probe 256-byte slots from 0x78000 past the
// erased ones, then past the written ones, and read the last written one.
std::uint32_t NewestBySearch(BlockDevice& device, std::uint32_t flashSize) {
  std::uint32_t address = 0x78000;
  while (address + 256 <= flashSize &&
         Send(device, VendorFrame(true, 0x85, address, 1), DataDirection::In, 512).data[0] == 0xFF)
    address += 256;
  while (address + 256 <= flashSize &&
         Send(device, VendorFrame(true, 0x85, address, 1), DataDirection::In, 512).data[0] != 0xFF)
    address += 256;
  return address - 256;
}

TEST_F(SimTest, RecordAreaAppendsOnEveryChangeAndTheSearchFindsTheNewest) {
  EnclosureConfig c = Usb();
  c.raid.badSectorCount = 1;
  c.raid.badSectorLba[0] = 0xABCDEF;
  world.AddEnclosure(1, c);
  auto device = Open(1);
  EXPECT_EQ(NewestBySearch(*device, 0x80000), 0x78000u) << "the record the factory image holds";

  RaidState s = world.Raid(1);
  s.progressPercent = 12;
  world.SetRaid(1, s);
  s.progressPercent = 13;
  world.SetRaid(1, s);
  EXPECT_EQ(NewestBySearch(*device, 0x80000), 0x78200u);
  world.SetRaid(1, s);
  EXPECT_EQ(NewestBySearch(*device, 0x80000), 0x78200u) << "no change, no write";

  const Answer record = Send(*device, VendorFrame(true, 0x85, 0x78200), DataDirection::In, 512);
  const auto live = world.LiveRecord(1);
  EXPECT_EQ(record.data, Bytes(live.begin(), live.end()))
      << "the newest slot comes with the live second half";
  EXPECT_EQ(record.data[106], 13);
  EXPECT_EQ(record.data[471], 1);
  EXPECT_EQ(record.data[472], 0xEF);

  const Answer older = Send(*device, VendorFrame(true, 0x85, 0x78100), DataDirection::In, 512);
  EXPECT_EQ(older.data[106], 12);
  EXPECT_EQ(Bytes(older.data.begin() + 256, older.data.end()), FlashAt(world, 1, 0x78200, 256))
      << "any other read is plain flash";
}

TEST_F(SimTest, RecordAreaWrapsByErasingAndStartingAtItsFirstSlot) {
  world.AddEnclosure(1, Sata());
  RaidState s = world.Raid(1);
  for (int percent = 1; percent <= 127; ++percent) {  // slots 0x78100 .. 0x7FF00
    s.progressPercent = static_cast<std::uint8_t>(percent);
    world.SetRaid(1, s);
  }
  EXPECT_EQ(world.NewestRecordSlot(1), 0x7FF00u);
  s.progressPercent = 200;
  world.SetRaid(1, s);
  EXPECT_EQ(world.NewestRecordSlot(1), 0x78000u);
  const Bytes slot = FlashAt(world, 1, 0x78000, 256);
  EXPECT_EQ(slot[0], 0x00);
  EXPECT_EQ(slot[106], 200);
  EXPECT_EQ(FlashAt(world, 1, 0x78100, 0x7F00), Bytes(0x7F00, 0xFF));
  EXPECT_EQ(world.Commands(1).end()[-2].kind, Kind::RecordAreaErase);
}

TEST_F(SimTest, AfterAnEraseOverItsNewestSlotTheFlashReadsBackAsProgrammed) {
  world.AddEnclosure(1, Usb());
  auto device = Open(1);
  Send(*device, VendorFrame(true, 0x81, 0x78000), DataDirection::In, 8);
  Send(*device, VendorFrame(true, 0x89, 0x78000), DataDirection::Out, 256, Page(0x00));
  EXPECT_FALSE(world.NewestRecordSlot(1).has_value());
  const Answer a = Send(*device, VendorFrame(true, 0x85, 0x78000), DataDirection::In, 512);
  Bytes expected = Page(0x00);
  expected.resize(512, 0xFF);
  EXPECT_EQ(a.data, expected);

  RaidState s = world.Raid(1);
  s.portFlags = 0x73;
  world.SetRaid(1, s);
  EXPECT_EQ(world.NewestRecordSlot(1), 0x78100u) << "the next erased slot after the programmed one";
}

TEST_F(SimTest, NoRecordWritesInUpgradeModeUntilItEnds) {
  world.AddEnclosure(1, Sata());
  auto device = Open(1);
  Mode(*device, 0x10, 1);
  RaidState s = world.Raid(1);
  s.portFlags = 0x43;
  world.SetRaid(1, s);
  EXPECT_EQ(world.NewestRecordSlot(1), 0x78000u);
  EXPECT_EQ(ReadLba(*device, 33).data[104], 0x43) << "sector 33 is live all the same";
  Mode(*device, 0x10, 0);
  EXPECT_EQ(world.NewestRecordSlot(1), 0x78100u);
  EXPECT_EQ(FlashAt(world, 1, 0x78100, 256)[104], 0x43);
}

TEST_F(SimTest, AFlashWithoutRoomForRecordsIsNeverWrittenByTheController) {
  EnclosureConfig c = Usb();
  c.flashSize = 0x40000;
  world.AddEnclosure(1, c);
  const auto before = world.Flash(1);
  RaidState s = world.Raid(1);
  s.progressPercent = 5;
  world.SetRaid(1, s);
  EXPECT_EQ(world.Flash(1), before);
  EXPECT_FALSE(world.NewestRecordSlot(1).has_value());
}

TEST_F(SimTest, StatusRecordLayoutAtSector33) {
  EnclosureConfig c = Sata();
  c.raid.systemRaidMode = 1;
  c.raid.configuredSectors = 0x0123456789;
  c.raid.disks[0].serial = "SER-P0";
  c.raid.disks[1].model = "DISK MODEL ONE";
  c.raid.disks[1].sectors = 0x0A0B0C0D0E;
  c.raid.disks[0].sataGeneration = 2;
  c.raid.disks[1].sataGeneration = 3;
  c.raid.firmwareSuffix = "B07";
  world.AddEnclosure(1, c);
  auto device = Open(1);
  const Bytes r = ReadLba(*device, 33).data;
  EXPECT_EQ(r[0], 0x00);
  EXPECT_EQ(r[1], 0xA0);
  EXPECT_EQ(r[57], 1);
  EXPECT_EQ(AtaText(r, 58, 6), "SER-P0");
  EXPECT_EQ(Bytes(r.begin() + 98, r.begin() + 103), (Bytes{0x89, 0x67, 0x45, 0x23, 0x01}));
  EXPECT_EQ(std::string(r.begin() + 187, r.begin() + 190), "B07");
  EXPECT_EQ(AtaText(r, 302, 14), "DISK MODEL ONE");
  EXPECT_EQ(Bytes(r.begin() + 342, r.begin() + 347), (Bytes{0x0E, 0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_EQ(r[357], 0x32);
  unsigned sum = 0;
  for (int i = 0; i < 254; ++i) sum += r[static_cast<std::size_t>(i)];
  EXPECT_EQ(r[254] | (r[255] << 8), static_cast<int>(sum & 0xFFFF));
}

// ---- settings and scans ----

struct SettingsCase {
  std::uint8_t parameter;
  std::uint8_t autoScan;
  std::uint8_t bits;  // raidSettingSource & 0x03 afterwards
};

class SettingsTest : public SimTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsTest, Command20SetsBuzzerAndAutoScan) {
  const SettingsCase& p = GetParam();
  EnclosureConfig c = Sata();
  c.raid.raidSettingSource = 0x11;
  world.AddEnclosure(1, c);
  auto device = Open(1);
  CommandSector command(0x20, p.parameter);
  command.bytes[4] = p.autoScan;
  Mailbox(*device, command.Sum());
  EXPECT_EQ(ReadLba(*device, 33).data[56], 0x10 | p.bits) << "the high nibble stays";
}

INSTANTIATE_TEST_SUITE_P(Values, SettingsTest,
                         ::testing::Values(SettingsCase{0, 0, 0x00}, SettingsCase{1, 0, 0x01},
                                           SettingsCase{0, 1, 0x02}, SettingsCase{1, 1, 0x03},
                                           SettingsCase{2, 1, 0x01},  // refused: keeps buzzer on
                                           SettingsCase{1, 7, 0x01}));

CommandSector ScanCommand(std::uint8_t parameter, std::uint8_t disk, std::uint64_t first,
                          std::uint64_t last) {
  CommandSector c(0x24, parameter);
  c.bytes[4] = disk;
  for (int i = 0; i < 6; ++i) {
    c.bytes[7 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(first >> (8 * i));
    c.bytes[13 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(last >> (8 * i));
  }
  return c.Sum();
}

TEST_F(SimTest, Command24StartsAndStopsAScanOfOneDisk) {
  EnclosureConfig c = Sata();
  c.raid.disks[1].sectors = 1000000;
  c.raid.disks[1].defects = {250000, 999999};
  world.AddEnclosure(1, c);
  auto device = Open(1);
  Mailbox(*device, ScanCommand(0, 1, 0, 0xFFFFFFFFFFFF));  // the last LBA is past the disk's end
  const auto command = Last(world, 1, Kind::Scan);
  EXPECT_FALSE(command.ignored) << command.reason;
  EXPECT_EQ(command.lastLba, 0xFFFFFFFFFFFFull);

  Bytes r = ReadLba(*device, 33).data;
  EXPECT_EQ(r[105], 0x82) << "a scan on the P1 side";
  EXPECT_EQ(r[106], 0);
  Step(2.0);  // 500000 sectors at the default rate
  r = ReadLba(*device, 33).data;
  EXPECT_EQ(r[106], 50);
  EXPECT_EQ(r[105], 0x8A) << "a bad sector found on P1";
  EXPECT_EQ(r[471], 1);
  EXPECT_EQ(r[472] | (r[473] << 8) | (r[474] << 16), 250000);

  Mailbox(*device, ScanCommand(1, 0, 0, 0));
  EXPECT_TRUE(world.Commands(1).back().ignored) << "no scan of P0 runs";
  Mailbox(*device, ScanCommand(1, 1, 0, 0));
  r = ReadLba(*device, 33).data;
  EXPECT_EQ(r[105] & 0x83, 0);
  Step(10.0);
  EXPECT_EQ(ReadLba(*device, 33).data[471], 1) << "a stopped scan finds nothing more";
}

TEST_F(SimTest, ScanCommandsTheControllerCannotCarryOutAreRefused) {
  EnclosureConfig c = Sata();
  c.raid.portFlags = 0x43;  // P1 absent
  world.AddEnclosure(1, c);
  auto device = Open(1);
  const CommandSector refused[] = {ScanCommand(0, 1, 0, 100), ScanCommand(0, 2, 0, 100),
                                   ScanCommand(2, 0, 0, 100), ScanCommand(0, 0, 100, 99)};
  for (const CommandSector& command : refused) {
    Mailbox(*device, command);
    EXPECT_TRUE(world.Commands(1).back().ignored);
    EXPECT_EQ(world.Raid(1).activityFlags, 0);
  }
  ASSERT_EQ(world.StartRebuild(1, Port::P1), "P1 is absent");
  world.InsertDisk(1, Port::P1);
  ASSERT_EQ(world.StartRebuild(1, Port::P1), "");
  Mailbox(*device, ScanCommand(0, 0, 0, 100));
  EXPECT_EQ(world.Commands(1).back().reason, "a rebuild is running");
}

}  // namespace
}  // namespace caspira::sim::testing
