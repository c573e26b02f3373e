// The vendor command set over the simulated world, on each path where the paths differ.
#include "controller/command_set.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <span>

#include "sim/sim_world.h"
#include "support/command_paths.h"
#include "support/fakes.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

using sim::Attachment;
using sim::ControllerCommand;
using sim::EnclosureConfig;
using sim::RequestMatch;
using sim::VendorLayout;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr unsigned kDrive = 1;

using testing::AtaPath;
using testing::MailboxPath;
using testing::PathCase;
using testing::VendorPath;
constexpr const auto& kPaths = testing::kCommandPaths;

std::vector<std::uint8_t> Noise(std::size_t length, unsigned seed) {
  std::mt19937 engine(seed);
  std::vector<std::uint8_t> bytes(length);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(engine());
  return bytes;
}

class CommandSetTest : public ::testing::Test {
 protected:
  CommandSetTest() : commands(state, transport, random, Ui()) {}

  CommandUi Ui() {
    return CommandUi{dialogs, [this](const std::string& text) { status.push_back(text); },
                     [this] { ++pumps; }, [this] { ++settingsDisabled; }};
  }

  // One enclosure on disk 1, found in slot 0 and chosen for the flash operations.
  void Use(const PathCase& path, std::uint32_t flashSize = 0x80000) {
    EnclosureConfig config;
    config.attachment = path.attachment;
    config.vendorLayout = path.layout;
    config.flashSize = flashSize;
    world.AddEnclosure(kDrive, config);
    state.DeviceCount = 1;
    state.DeviceSlots[0] = path.slot;
    state.UpgradeSlot = 0;
    state.CurrentSlot = 0;
    world.ClearLogs();
  }

  // The mode codes the controller received, in order.
  std::vector<std::uint8_t> Modes() {
    std::vector<std::uint8_t> modes;
    for (const ControllerCommand& c : world.Commands(kDrive))
      if (c.kind == ControllerCommand::Kind::Mode) modes.push_back(c.modeCode);
    return modes;
  }
  std::vector<ControllerCommand> Decoded(ControllerCommand::Kind kind) {
    std::vector<ControllerCommand> out;
    for (const ControllerCommand& c : world.Commands(kDrive))
      if (c.kind == kind) out.push_back(c);
    return out;
  }
  // Requests that reached the drive, opens left out.
  std::vector<sim::RawRequest> Sent() {
    std::vector<sim::RawRequest> sent;
    for (const sim::RawRequest& r : world.RawLog(kDrive))
      if (r.kind != sim::RawRequest::Kind::Open) sent.push_back(r);
    return sent;
  }
  std::vector<std::uint8_t> FlashRange(std::uint32_t address, std::uint32_t length) {
    const std::vector<std::uint8_t> flash = world.Flash(kDrive);
    return {flash.begin() + address, flash.begin() + address + length};
  }

  testing::FakeClock clock;
  sim::SimWorld world{clock};
  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  Transport transport{world};
  AppState state;
  std::vector<std::string> status;
  int pumps = 0;
  int settingsDisabled = 0;
  VendorCommandSet commands;
};

TEST_F(CommandSetTest, EraseProgramAndReadBackRoundTripOnEveryPath) {
  // Ranges below, across and above the protected low area.
  const struct {
    std::uint32_t address, length;
    bool unlocks;
  } ranges[] = {
      {0x0000, 0x2000, true}, {0xB000, 0x2000, true}, {0xC000, 0x2000, false}, {0x7F000, 0x1000, false}};
  for (const PathCase& path : kPaths) {
    Use(path);
    for (const auto& r : ranges) {
      SCOPED_TRACE(std::string(path.name) + " at " + std::to_string(r.address));
      world.ClearLogs();
      const std::vector<std::uint8_t> image = Noise(r.length, r.address);
      ASSERT_TRUE(commands.EraseSpi(r.address, r.length));
      EXPECT_EQ(FlashRange(r.address, r.length), std::vector<std::uint8_t>(r.length, 0xFF));
      ASSERT_TRUE(commands.WriteSpi(r.address, r.length, image));
      std::vector<std::uint8_t> back(r.length);
      ASSERT_TRUE(commands.ReadSpi(r.address, r.length, back));
      EXPECT_EQ(back, image);
      EXPECT_EQ(FlashRange(r.address, r.length), image);
      EXPECT_TRUE(status.empty()) << status.back();

      // The low area is unlocked exactly around the operations that start below it.
      using namespace ControllerMode;
      std::vector<std::uint8_t> expected;
      if (path.attachment != Attachment::Usb) {
        const std::vector<std::uint8_t> bracketed =
            r.unlocks ? std::vector<std::uint8_t>{SpiAccessBegin, LowAreaUnlock, LowAreaLock, SpiAccessEnd}
                      : std::vector<std::uint8_t>{SpiAccessBegin, SpiAccessEnd};
        expected = bracketed;
        expected.insert(expected.end(), bracketed.begin(), bracketed.end());
        expected.insert(expected.end(), {SpiAccessBegin, SpiAccessEnd});
      }
      EXPECT_EQ(Modes(), expected);
      const auto flags = world.Flags(kDrive);
      EXPECT_FALSE(flags.spiAccessOpen);
      EXPECT_FALSE(flags.lowAreaUnlocked);
    }
  }
}

TEST_F(CommandSetTest, ProgressCountsReadAndProgrammedHalfKilobytesAndErasedSectors) {
  Use(MailboxPath());
  const std::vector<std::uint8_t> data(0x2000, 0x00);
  std::vector<std::uint8_t> back(0x2000);
  const struct {
    const char* name;
    std::function<bool()> run;
    int steps;
  } cases[] = {
      {"read 8 KB", [&] { return commands.ReadSpi(0x10000, 0x2000, back); }, 16},
      {"program 8 KB", [&] { return commands.WriteSpi(0x10000, 0x2000, data); }, 16},
      {"program one page", [&] { return commands.WriteSpi(0x20000, 256, data); }, 0},
      {"erase 8 KB", [&] { return commands.EraseSpi(0x30000, 0x2000); }, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    state.ProgressCount = 0;
    pumps = 0;
    ASSERT_TRUE(c.run());
    EXPECT_EQ(state.ProgressCount, c.steps);
    EXPECT_GT(pumps, 0);  // the window keeps processing its messages
  }
}

TEST_F(CommandSetTest, TheRecordSearchReadsTheSlotBeforeTheFirstErasedOne) {
  const std::vector<std::uint8_t> erased(0x8000, 0xFF);
  std::vector<std::uint8_t> written(256, 0x00);
  const struct {
    const char* name;
    std::uint32_t spiSize;
    std::uint32_t writtenSlots;  // slots written from the start of the area
    std::uint32_t readFrom;
  } cases[] = {
      {"erased area", 0x80000, 0, 0x80000 - 256},
      {"three records", 0x80000, 3, 0x78200},
      {"full area", 0x80000, 128, 0x80000 - 256},
      {"flash smaller than the area", 0x40000, 0, 0x78000 - 256},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Use(VendorPath());
    world.PresetFlash(kDrive, 0x78000, erased);
    for (std::uint32_t slot = 0; slot < c.writtenSlots; ++slot)
      world.PresetFlash(kDrive, 0x78000 + slot * 256, written);
    state.SpiSize = c.spiSize;
    world.ClearLogs();
    Sector record{};
    ASSERT_TRUE(commands.ReadSpiRecord(record));
    EXPECT_EQ(state.RecordAddress, c.readFrom);
    const std::vector<sim::RawRequest> sent = Sent();
    ASSERT_FALSE(sent.empty());
    const sim::RawRequest& last = sent.back();
    // The final read is kind 1 (flag 0) at the address found.
    EXPECT_THAT(last.cdb, ElementsAre(0xFE, 0x85, 0, c.readFrom >> 16 & 0xFF, c.readFrom >> 8 & 0xFF,
                                      c.readFrom & 0xFF, 0, 0, 0, 0));
    if (c.spiSize < 0x78100) {
      EXPECT_EQ(sent.size(), 1u);  // nothing probed
    }
  }
}

TEST_F(CommandSetTest, TheMailboxPathReadsTheRecordFromSector33) {
  Use(MailboxPath());
  Sector record{};
  ASSERT_TRUE(commands.ReadSpiRecord(record));
  const sim::StatusRecordBytes live = world.LiveRecord(kDrive);
  EXPECT_TRUE(std::equal(live.begin(), live.end(), record.begin()));
}

struct FailureCase {
  const char* name;
  const PathCase* path;
  std::function<void(sim::SimWorld&)> fault;
  std::function<bool(VendorCommandSet&)> run;
  std::string status;
  std::vector<std::uint8_t> modes;  // mode commands the controller received
};

TEST_F(CommandSetTest, EveryFailureShowsItsTextAndStillClosesTheFlashAccess) {
  using namespace ControllerMode;
  std::vector<std::uint8_t> buffer(0x80000);
  const auto read = [&](VendorCommandSet& c) { return c.ReadSpi(0x10000, 0x1000, buffer); };
  const auto writeLow = [&](VendorCommandSet& c) { return c.WriteSpi(0x0000, 0x1000, buffer); };
  const auto write = [&](VendorCommandSet& c) { return c.WriteSpi(0x10000, 0x1000, buffer); };
  const auto erase = [&](VendorCommandSet& c) { return c.EraseSpi(0x10000, 0x1000); };
  const auto record = [&](VendorCommandSet& c) { return c.ReadSpiRecord(buffer); };
  const auto failAt = [](std::uint32_t lba) {
    return [lba](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::ScsiAt(0x2A, lba)); };
  };
  const FailureCase cases[] = {
      {"vendor read",
       &VendorPath(),
       [](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::Vendor(0x85)); },
       read,
       "Read SPI Error USB",
       {}},
      {"vendor program",
       &VendorPath(),
       [](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::Vendor(0x89)); },
       write,
       "Write SPI Error USB",
       {}},
      {"vendor erase",
       &VendorPath(),
       [](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::Vendor(0x81)); },
       erase,
       "Erase SPI Error USB",
       {}},
      // The random source gives 10, 20, 30...: SpiAccessBegin goes to sector 13, the first
      // read command to 23.
      {"mailbox sector",
       &MailboxPath(),
       failAt(23),
       read,
       "Write Error at Sec_CNT=1 LBA=23",
       {SpiAccessBegin, SpiAccessEnd}},
      {"sector 60",
       &MailboxPath(),
       [](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::ScsiAt(0x28, 60)); },
       read,
       "Read Error for LBA = 60 and sector count = 1",
       {SpiAccessBegin, SpiAccessEnd}},
      {"sector 20, low area",
       &MailboxPath(),
       failAt(20),
       writeLow,
       "Write Error for LBA = 20 and sector count = 1",
       {SpiAccessBegin, LowAreaUnlock, LowAreaLock, SpiAccessEnd}},
      {"sector 20, erase",
       &AtaPath(),
       failAt(20),
       erase,
       "Write Error for LBA = 20 and sector count = 1",
       {SpiAccessBegin, SpiAccessEnd}},
      {"ATA flash read",
       &AtaPath(),
       [](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::Ata(0x88, 0x01)); },
       read,
       "VU command 0x88 FEA 0x01 Read Error",
       {SpiAccessBegin, SpiAccessEnd}},
      {"ATA access begin",
       &AtaPath(),
       [](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::Ata(0x88, 0x03)); },
       read,
       "VU command 0x88 FEA 03 Error",
       {}},
      {"ATA access end",
       &AtaPath(),
       [](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::Ata(0x88, 0x02)); },
       read,
       "VU command 0x88 FEA 02 Error",
       {SpiAccessBegin}},
      {"ATA unlock",
       &AtaPath(),
       [](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::Ata(0x88, 0x04)); },
       writeLow,
       "VU command 0x88 FEA 04 Error",
       {SpiAccessBegin, SpiAccessEnd}},
      {"vendor record",
       &VendorPath(),
       [](sim::SimWorld& w) { w.FailEvery(kDrive, RequestMatch::Vendor(0x85)); },
       record,
       "Read Error for USB",
       {}},
      {"sector 33",
       &MailboxPath(),
       [](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::ScsiAt(0x28, 33)); },
       record,
       "Read Error for LBA = 33 and sector count = 1",
       {}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    Use(*c.path);
    random.queued = {10, 20, 30, 40, 50, 60};
    status.clear();
    c.fault(world);
    EXPECT_FALSE(c.run(commands));
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back(), c.status);
    EXPECT_EQ(Modes(), c.modes);
    EXPECT_TRUE(dialogs.shown.empty());
    world.ClearFaults(kDrive);
  }
}

// A controller that answers the other vendor frame layout than its slot names refuses every
// frame with CHECK CONDITION. The request completes on the bus, yet nothing was read,
// programmed or erased: each operation fails with its own text and stops at the first frame.
TEST_F(CommandSetTest, AVendorControllerAddressedInTheWrongLayoutFailsEveryFlashOperation) {
  const PathCase wrongLayouts[] = {
      {"slot says one prefix, controller takes two", Attachment::Usb, VendorLayout::TwoPrefix, 0xA1},
      {"slot says two prefixes, controller takes one", Attachment::Usb, VendorLayout::OnePrefix, 0x21},
  };
  std::vector<std::uint8_t> buffer = Noise(0x1000, 3);
  const struct {
    const char* name;
    std::function<bool(VendorCommandSet&)> run;
    std::string status;
  } operations[] = {
      {"read", [&](VendorCommandSet& c) { return c.ReadSpi(0x10000, 0x1000, buffer); }, "Read SPI Error USB"},
      {"program", [&](VendorCommandSet& c) { return c.WriteSpi(0x10000, 0x1000, buffer); },
       "Write SPI Error USB"},
      {"erase", [&](VendorCommandSet& c) { return c.EraseSpi(0x10000, 0x1000); }, "Erase SPI Error USB"},
      {"record", [&](VendorCommandSet& c) { return c.ReadSpiRecord(buffer); }, "Read Error for USB"},
  };
  for (const PathCase& path : wrongLayouts) {
    for (const auto& operation : operations) {
      SCOPED_TRACE(std::string(path.name) + ", " + operation.name);
      Use(path);
      const std::vector<std::uint8_t> flash = world.Flash(kDrive);
      status.clear();
      EXPECT_FALSE(operation.run(commands));
      EXPECT_THAT(status, ElementsAre(operation.status));
      EXPECT_EQ(world.Flash(kDrive), flash);
      const std::vector<sim::RawRequest> sent = Sent();
      ASSERT_FALSE(sent.empty());
      EXPECT_TRUE(sent.back().completed);
      EXPECT_EQ(sent.back().status, 2) << "CHECK CONDITION";
      if (operation.status != "Read Error for USB") {
        EXPECT_EQ(sent.size(), 1u) << "the first refusal ends the loop";
      }
    }
  }
  EXPECT_TRUE(dialogs.shown.empty());
}

// The drive the slot names now holds an ordinary disk of eight sectors: it refuses every
// write and read past its end with CHECK CONDITION and aborts the ATA vendor command. Each
// refusal fails its command with the same text as a request the host could not deliver.
TEST_F(CommandSetTest, ACommandTheDeviceRefusesShowsItsFailureText) {
  using namespace ControllerMode;
  std::vector<std::uint8_t> buffer(0x1000);
  const struct {
    const char* name;
    DeviceSlot slot;
    std::deque<std::uint32_t> random;  // mailbox sectors 3 + n: below 8 the disk takes them
    std::function<bool(VendorCommandSet&)> run;
    std::string status;
  } cases[] = {
      {"mailbox mode command",
       0x41,
       {40},
       [&](VendorCommandSet& c) { return c.ReadSpi(0x10000, 0x1000, buffer); },
       "Write Error at Sec_CNT=1 LBA=43"},
      {"sector 60",
       0x41,
       {0, 1, 2},
       [&](VendorCommandSet& c) { return c.ReadSpi(0x10000, 0x1000, buffer); },
       "Read Error for LBA = 60 and sector count = 1"},
      {"page program",
       0x41,
       {0, 1},
       [&](VendorCommandSet& c) { return c.WriteSpi(0x10000, 0x1000, buffer); },
       "Write Error for LBA = 20 and sector count = 1"},
      {"erase",
       0x41,
       {0, 1},
       [&](VendorCommandSet& c) { return c.EraseSpi(0x10000, 0x1000); },
       "Write Error for LBA = 20 and sector count = 1"},
      {"record",
       0x41,
       {},
       [&](VendorCommandSet& c) { return c.ReadSpiRecord(buffer); },
       "Read Error for LBA = 33 and sector count = 1"},
      {"settings",
       0x41,
       {},
       [&](VendorCommandSet& c) { return c.WriteDeviceSettings(0, true, false); },
       "Write Error for LBA = 20 and sector count = 1"},
      {"scan stop",
       0x41,
       {},
       [&](VendorCommandSet& c) {
         return c.SendScanCommand(0, ScanRequest{1, false, 0, 100});
       },
       "Write Error for LBA = 20 and sector count = 1"},
      {"ATA access begin",
       0x11,
       {},
       [&](VendorCommandSet& c) { return c.ReadSpi(0x10000, 0x1000, buffer); },
       "VU command 0x88 FEA 03 Error"},
      {"ATA upgrade mode",
       0x11,
       {},
       [&](VendorCommandSet& c) { return c.SetControllerMode(UpgradeModeEnter); },
       "VU command 0x88 FEA 11 Error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    world.AddDisk(kDrive, sim::PlainDiskConfig{"SIMDISK TINY", "T-1", "1.0", 8});
    state.DeviceCount = 1;
    state.DeviceSlots[0] = c.slot;
    state.UpgradeSlot = 0;
    state.EventStates[0].stopRequested = false;
    random.queued = c.random;
    world.ClearLogs();
    status.clear();
    EXPECT_FALSE(c.run(commands));
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back(), c.status);
    const std::vector<sim::RawRequest> sent = Sent();
    ASSERT_FALSE(sent.empty());
    const bool refused = std::any_of(sent.begin(), sent.end(), [](const sim::RawRequest& r) {
      return r.completed && (r.status == 2 || (r.ataOut[AtaRegisters::Command] & 0x01) != 0);
    });
    EXPECT_TRUE(refused) << "the request completed and the device refused it";
    EXPECT_FALSE(state.EventStates[0].stopRequested);
  }
  EXPECT_TRUE(dialogs.shown.empty());
}

// The box that says so is the command set's to show; the transport shows nothing.
TEST_F(CommandSetTest, AnAtaRequestBlockThatCannotBeObtainedShowsTheMemoryMessage) {
  Use(AtaPath());
  transport.allocateBlock = [](std::size_t) { return std::unique_ptr<std::uint8_t[]>(); };
  std::vector<std::uint8_t> buffer(0x1000);
  const struct {
    const char* name;
    std::function<bool()> run;
    std::string status;
  } cases[] = {
      {"read", [&] { return commands.ReadSpi(0x10000, 0x1000, buffer); }, "VU command 0x88 FEA 03 Error"},
      {"upgrade mode", [&] { return commands.SetControllerMode(ControllerMode::UpgradeModeEnter); },
       "VU command 0x88 FEA 11 Error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs.shown.clear();
    status.clear();
    EXPECT_FALSE(c.run());
    EXPECT_THAT(dialogs.shown, ElementsAre(SystemMessage("Menory Alloc Error!!")));
    EXPECT_THAT(status, ElementsAre(c.status));
  }
  EXPECT_TRUE(Sent().empty());
}

TEST_F(CommandSetTest, ABufferShorterThanItsStepsIsRefusedBeforeAnythingIsSent) {
  Use(MailboxPath());
  std::vector<std::uint8_t> buffer(0x1000);
  const std::span<std::uint8_t> span(buffer);
  const std::function<bool()> operations[] = {
      [&] { return commands.ReadSpi(0, 0x1000, span.first(0xFFF)); },
      [&] { return commands.ReadSpi(0, 0x300, span.first(0x300)); },  // the second step reads 512
      [&] { return commands.WriteSpi(0, 0x1000, span.first(0xF00)); },
      [&] { return commands.WriteSpi(0, 0x80, span.first(0x80)); },  // a page is 256 bytes
      [&] { return commands.ReadSpiRecord(span.first(511)); },
  };
  for (const auto& operation : operations) EXPECT_FALSE(operation());
  EXPECT_TRUE(world.RawLog(kDrive).empty());
}

TEST_F(CommandSetTest, AFailedAccessBeginSendsNoEndAndAFailedUnlockDoes) {
  using namespace ControllerMode;
  Use(MailboxPath());
  const std::vector<std::uint8_t> page(256, 0);
  random.queued = {10};  // SpiAccessBegin to sector 13
  world.FailNext(kDrive, RequestMatch::ScsiAt(0x2A, 13));
  EXPECT_FALSE(commands.WriteSpi(0, 256, page));
  EXPECT_EQ(status.back(), "Write Error at Sec_CNT=1 LBA=13");
  EXPECT_THAT(Modes(), ElementsAre());
  EXPECT_EQ(Sent().size(), 1u);

  world.ClearLogs();
  random.queued = {10, 20, 30};  // begin, unlock (fails), end
  world.FailNext(kDrive, RequestMatch::ScsiAt(0x2A, 23));
  EXPECT_FALSE(commands.WriteSpi(0, 256, page));
  EXPECT_THAT(Modes(), ElementsAre(SpiAccessBegin, SpiAccessEnd));
  EXPECT_TRUE(Decoded(ControllerCommand::Kind::FlashProgram).empty());
}

TEST_F(CommandSetTest, WithoutADeviceEveryCheckingOperationSaysSoAndSendsNothing) {
  Use(MailboxPath());
  state.DeviceCount = 0;
  std::vector<std::uint8_t> buffer(0x1000);
  const std::function<bool()> operations[] = {
      [&] { return commands.ReadSpi(0, 0x1000, buffer); },
      [&] { return commands.WriteSpi(0, 0x1000, buffer); },
      [&] { return commands.EraseSpi(0, 0x1000); },
      [&] { return commands.ReadSpiRecord(buffer); },
      [&] { return commands.WriteDeviceSettings(0, true, false); },
      [&] { return commands.SendScanCommand(0, ScanRequest{}); },
      [&] { return commands.SetControllerMode(ControllerMode::UpgradeModeEnter); },
  };
  for (const auto& operation : operations) {
    dialogs.shown.clear();
    EXPECT_FALSE(operation());
    EXPECT_EQ(status.back(), "Device not found!!!");
    EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("No Device found !")));
  }
  EXPECT_TRUE(world.RawLog(kDrive).empty());  // not even opened
}

TEST_F(CommandSetTest, WithoutAnUpgradeTargetTheFlashOperationsRefuse) {
  Use(MailboxPath());
  state.UpgradeSlot = kNoUpgradeSlot;
  std::vector<std::uint8_t> buffer(0x1000);
  const std::function<bool()> operations[] = {
      [&] { return commands.ReadSpi(0, 0x1000, buffer); },
      [&] { return commands.WriteSpi(0, 0x1000, buffer); },
      [&] { return commands.EraseSpi(0, 0x1000); },
      [&] { return commands.SetControllerMode(ControllerMode::UpgradeModeEnter); },
  };
  for (const auto& operation : operations) {
    dialogs.shown.clear();
    EXPECT_FALSE(operation());
    EXPECT_EQ(status.back(), "No Upgrade Mode!!!");
    EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("No Upgrade Mode !")));
  }
  EXPECT_TRUE(world.RawLog(kDrive).empty());

  // An open that fails is the invalid-drive failure.
  state.UpgradeSlot = 0;
  world.Unplug(kDrive);
  dialogs.shown.clear();
  EXPECT_FALSE(commands.EraseSpi(0, 0x1000));
  EXPECT_THAT(dialogs.shown, ElementsAre(SystemMessage("Invalid Drive")));
}

TEST_F(CommandSetTest, ModeChangesFollowThePathOfTheAddressedDevice) {
  // The vendor path has no mode commands: every code succeeds and nothing is sent.
  Use(VendorPath());
  for (int code = 0; code < 256; ++code)
    EXPECT_TRUE(commands.SetControllerMode(static_cast<std::uint8_t>(code)));
  EXPECT_TRUE(world.RawLog(kDrive).empty());

  // On the mailbox path unknown codes are refused before anything is sent.
  Use(MailboxPath());
  for (const int code : {0x12, 0x1F, 0x90})
    EXPECT_FALSE(commands.SetControllerMode(static_cast<std::uint8_t>(code))) << code;
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(commands.SetControllerMode(ControllerMode::UpgradeModeEnter));
  EXPECT_TRUE(world.Flags(kDrive).upgradeMode);
  EXPECT_TRUE(commands.SetControllerMode(ControllerMode::UpgradeModeLeave));
  EXPECT_FALSE(world.Flags(kDrive).upgradeMode);

  Use(AtaPath());
  EXPECT_TRUE(commands.SetControllerMode(ControllerMode::UpgradeModeEnter));
  EXPECT_TRUE(world.Flags(kDrive).upgradeMode);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].ataIn[AtaRegisters::Features], 0x11);
  EXPECT_EQ(Sent()[0].ataIn[AtaRegisters::Command], 0x88);
}

TEST_F(CommandSetTest, SumsCountThePayloadOnly) {
  Sector sector{};
  EXPECT_EQ(CommandSectorSum(sector), 0x0000);
  sector[0] = sector[2] = sector[6] = 0x77;  // tag, code and address are not summed
  EXPECT_EQ(CommandSectorSum(sector), 0x0000);
  std::fill(sector.begin() + 7, sector.begin() + 263, 0xFF);
  sector[509] = 0x55;
  EXPECT_EQ(CommandSectorSum(sector), 0xFF55);
  StampCommandSector(sector);
  EXPECT_EQ(sector[510], 0x55);
  EXPECT_EQ(sector[511], 0xFF);
}

TEST_F(CommandSetTest, TheCommandSectorKeepsWhatEarlierCommandsLeftInIt) {
  Use(MailboxPath());
  const std::vector<std::uint8_t> page = Noise(256, 7);
  ASSERT_TRUE(commands.WriteSpi(0x20000, 256, page));
  world.ClearLogs();
  ASSERT_TRUE(commands.WriteDeviceSettings(0, true, true));
  const std::vector<sim::RawRequest> sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  const std::vector<std::uint8_t>& sector = sent[0].dataOut;
  ASSERT_EQ(sector.size(), 512u);
  EXPECT_EQ(sector[509], 0x55);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), sector.begin() + 7));
  EXPECT_EQ(sector[2], 0x20);
  EXPECT_EQ(sent[0].lba, 20u);
}

TEST_F(CommandSetTest, SettingsReachTheDeviceOfTheActiveTab) {
  for (const PathCase& path : kPaths) {
    SCOPED_TRACE(path.name);
    Use(path);
    const struct {
      bool mute, autoScan;
      std::uint8_t sourceBits;  // raidSettingSource bit 0: buzzer sounds, bit 1: auto scan
    } cases[] = {{true, false, 0x00}, {false, true, 0x03}, {true, true, 0x02}};
    for (const auto& c : cases) {
      settingsDisabled = 0;
      state.SettingsCooldown = {};
      ASSERT_TRUE(commands.WriteDeviceSettings(0, c.mute, c.autoScan));
      EXPECT_EQ(world.Raid(kDrive).raidSettingSource & 0x03, c.sourceBits);
      EXPECT_EQ(state.SettingsCooldown[0], 4);
      EXPECT_EQ(settingsDisabled, 1);
    }
  }
  // While a tab change redraws the controls nothing is written.
  world.ClearLogs();
  state.UpdatingControls = true;
  EXPECT_FALSE(commands.WriteDeviceSettings(0, true, true));
  EXPECT_TRUE(world.RawLog(kDrive).empty());
}

TEST_F(CommandSetTest, ScanCommandsCarryTheDiskAndBothLbasLeastSignificantByteFirst) {
  Use(MailboxPath());
  ASSERT_TRUE(commands.SendScanCommand(0, ScanRequest{1, true, 0x010203040506, 0xFFFFFFFFFFFF}));
  std::vector<sim::RawRequest> sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  const std::vector<std::uint8_t>& s = sent[0].dataOut;
  EXPECT_EQ(s[2], 0x24);
  EXPECT_EQ(s[3], 0);  // start
  EXPECT_EQ(s[4], 1);  // P1
  EXPECT_THAT(std::vector<std::uint8_t>(s.begin() + 7, s.begin() + 19),
              ElementsAre(6, 5, 4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF));
  const auto scans = Decoded(ControllerCommand::Kind::Scan);
  ASSERT_EQ(scans.size(), 1u);
  EXPECT_TRUE(scans[0].scanStart);
  EXPECT_EQ(scans[0].firstLba, 0x010203040506u);
  EXPECT_FALSE(state.EventStates[0].stopRequested);

  ASSERT_TRUE(commands.SendScanCommand(0, ScanRequest{1, false, 0, 100}));
  EXPECT_EQ(Sent().back().dataOut[3], 1);  // stop
  EXPECT_TRUE(state.EventStates[0].stopRequested);
  EXPECT_EQ(state.SettingsCooldown[0], 4);

  // A stop that never reached the device is not remembered as the user's.
  state.EventStates[0].stopRequested = false;
  world.FailNext(kDrive, RequestMatch::ScsiAt(0x2A, 20));
  EXPECT_FALSE(commands.SendScanCommand(0, ScanRequest{1, false, 0, 100}));
  EXPECT_EQ(status.back(), "Write Error for LBA = 20 and sector count = 1");
  EXPECT_FALSE(state.EventStates[0].stopRequested);
}

TEST_F(CommandSetTest, AFlashOperationRefusesToStartInsideAnother) {
  Use(MailboxPath());
  std::vector<std::uint8_t> buffer(0x1000);
  bool nested = true;
  VendorCommandSet* self = nullptr;
  VendorCommandSet outer(state, transport, random,
                         CommandUi{dialogs,
                                   [](const std::string&) {},
                                   [&] {
                                     if (self->FlashOperationRunning())
                                       nested = self->EraseSpi(0x40000, 0x1000);
                                   },
                                   {}});
  self = &outer;
  EXPECT_TRUE(outer.ReadSpi(0x10000, 0x1000, buffer));
  EXPECT_FALSE(nested);
  EXPECT_FALSE(outer.FlashOperationRunning());
}

}  // namespace
}  // namespace caspira
