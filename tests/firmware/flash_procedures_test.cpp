// The firmware upgrade and direct programming over the simulated world: what reaches the
// controller, what the window is told to show, and the boxes, on every path and with faults
// switched on where a step fails.
#include "firmware/flash_procedures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "firmware/firmware_image.h"
#include "sim/sim_world.h"
#include "support/command_paths.h"
#include "support/fakes.h"
#include "support/firmware_images.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

using sim::Attachment;
using sim::ControllerCommand;
using sim::RequestMatch;
using sim::VendorLayout;
using ::testing::ElementsAre;

constexpr unsigned kDrive = 1;
constexpr std::uint8_t kEnter = 0x11;
constexpr std::uint8_t kLeave = 0x10;

using testing::MailboxPath;
using testing::PathCase;
using testing::VendorPath;
constexpr const auto& kPaths = testing::kCommandPaths;

bool HasModeCommands(const PathCase& path) {
  return path.attachment != Attachment::Usb;  // the vendor path has no modes
}

Message CompletedBox() {
  return AppMessage(
      "Firmware Upgrade 3/3 completed!\n\nPlease power off this device or the system,\nand power on it to "
      "enable the new firmware!",
      "Firmware Upgrade Message", MessageIcon::Exclamation);
}

class FlashProcedureTest : public ::testing::Test {
 protected:
  FlashProcedureTest()
      : commands(state, transport, random,
                 CommandUi{dialogs,
                           [this](const std::string& text) { SetStatus(text); },
                           [this] {
                             if (onStep) onStep();
                           },
                           {}}),
        flash(state, commands) {}

  // One enclosure on disk 1, found in slot 0.
  void Use(const PathCase& path, std::uint32_t flashSize = 0x80000) {
    sim::EnclosureConfig config;
    config.attachment = path.attachment;
    config.vendorLayout = path.layout;
    config.flashSize = flashSize;
    world.AddEnclosure(kDrive, config);
    state.DeviceCount = 1;
    state.DeviceSlots[0] = path.slot;
    state.SpiSize = flashSize;
    world.ClearLogs();
  }

  FirmwareUi Ui() {
    return FirmwareUi{dialogs,
                      [this](const FlashDisplay& d) {
                        displays.push_back(d);
                        if (d.status) SetStatus(*d.status);
                      },
                      [this] { return status; },
                      [this] {
                        ++openDialogs;
                        if (onOpenDialog) onOpenDialog();
                      }};
  }

  // As the window runs them: the busy guard's release clears the target afterwards.
  bool Upgrade() {
    const bool ok = RunFirmwareUpgrade(state, flash, Ui(), 0);
    state.ClearUpgradeTarget();
    return ok;
  }
  bool Program(std::uint32_t startOffset) {
    const bool ok = RunDirectProgramming(state, flash, Ui(), 0, startOffset);
    state.ClearUpgradeTarget();
    return ok;
  }

  // Fails the next request matching `match` once the progress count reaches `at`.
  void FailAt(std::int32_t at, RequestMatch match) {
    onStep = [this, at, match, armed = true]() mutable {
      if (armed && state.ProgressCount >= at) {
        world.FailNext(kDrive, match);
        armed = false;
      }
    };
  }

  void SetStatus(const std::string& text) {
    status = text;
    statusLog.push_back(text);
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (const FlashDisplay& d : displays)
      if (d.caption) out.push_back(*d.caption);
    return out;
  }
  std::vector<std::uint8_t> Modes() {
    std::vector<std::uint8_t> modes;
    for (const ControllerCommand& c : world.Commands(kDrive))
      if (c.kind == ControllerCommand::Kind::Mode && !c.ignored) modes.push_back(c.modeCode);
    return modes;
  }
  std::vector<std::uint32_t> Addresses(ControllerCommand::Kind kind) {
    std::vector<std::uint32_t> out;
    for (const ControllerCommand& c : world.Commands(kDrive))
      if (c.kind == kind && !c.ignored) out.push_back(c.address);
    return out;
  }
  bool Sent(unsigned drive) {
    for (const sim::RawRequest& r : world.RawLog(drive))
      if (r.kind != sim::RawRequest::Kind::Open) return true;
    return false;
  }

  testing::FakeClock clock;
  sim::SimWorld world{clock};
  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  Transport transport{world};
  AppState state;
  VendorCommandSet commands;
  FlashCommands flash;
  std::function<void()> onStep;
  std::function<void()> onOpenDialog;
  std::vector<FlashDisplay> displays;
  std::string status;
  std::vector<std::string> statusLog;
  int openDialogs = 0;
};

class UpgradeOnEveryPath : public FlashProcedureTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(UpgradeOnEveryPath, WritesTheWholeFlashAndReportsEachStep) {
  Use(GetParam());
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x80000, 3);
  InstallImage(state, image);

  ASSERT_TRUE(Upgrade()) << status;
  EXPECT_EQ(world.Flash(kDrive), image);
  EXPECT_EQ(state.ProgressCount, 2176);  // 128 erase + 1024 program + 1024 verify steps
  ASSERT_GE(displays.size(), 2u);
  FlashDisplay open;
  open.title = "Firmware Update...";
  open.maximum = 2206;
  open.position = 0;
  open.caption = "Process 1 / 3";
  open.panelShown = true;
  open.timerRunning = true;
  EXPECT_EQ(displays.front(), open);
  EXPECT_EQ(displays[displays.size() - 2].status, "SPI Verify OK");
  EXPECT_EQ(displays.back().panelShown, false);
  EXPECT_EQ(displays.back().timerRunning, false);
  EXPECT_THAT(Captions(), ElementsAre("Process 1 / 3", "Process 2 / 3", "Process 3 / 3"));
  EXPECT_THAT(statusLog, ElementsAre("SPI Erase OK", "SPI Program OK", "SPI Verify OK"));
  EXPECT_THAT(dialogs.shown, ElementsAre(CompletedBox()));
  EXPECT_FALSE(world.Flags(kDrive).upgradeMode);
  if (HasModeCommands(GetParam())) {
    const std::vector<std::uint8_t> modes = Modes();
    ASSERT_FALSE(modes.empty());
    EXPECT_EQ(modes.front(), kEnter);
    EXPECT_EQ(modes.back(), kLeave);
  }
  // The image stays loaded, to be written again.
  EXPECT_EQ(LoadedImage(state).size(), image.size());
}

INSTANTIATE_TEST_SUITE_P(Paths, UpgradeOnEveryPath, ::testing::ValuesIn(kPaths),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(FlashProcedureTest, AnImageLongerThanTheFlashIsCutAtTheFlashSize) {
  Use(MailboxPath(), 0x100000);
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x100000, 5);
  InstallImage(state, image);
  state.SpiSize = 0x80000;  // the 4M choice on a larger flash
  const std::vector<std::uint8_t> before = world.Flash(kDrive);
  ASSERT_TRUE(Upgrade()) << status;
  const std::vector<std::uint8_t> flashNow = world.Flash(kDrive);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x80000, flashNow.begin()));
  EXPECT_TRUE(std::equal(before.begin() + 0x80000, before.end(), flashNow.begin() + 0x80000));
}

// Refusals before anything is erased: the box, and upgrade mode left again.
struct Refusal {
  const char* name;
  std::function<void(sim::SimWorld&)> arrange;
  std::uint8_t imageConfigVersion;
  Message box;
};

void PrintTo(const Refusal& refusal, std::ostream* os) {
  *os << refusal.name;
}

class UpgradeRefusal : public FlashProcedureTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(UpgradeRefusal, NothingIsErasedAndUpgradeModeIsLeft) {
  Use(MailboxPath());
  InstallImage(state, testing::MakeFirmwareImage(0x80000, 1, GetParam().imageConfigVersion));
  if (GetParam().arrange) GetParam().arrange(world);
  world.ClearLogs();

  EXPECT_FALSE(Upgrade());
  EXPECT_THAT(dialogs.shown, ElementsAre(GetParam().box));
  EXPECT_TRUE(Addresses(ControllerCommand::Kind::FlashErase).empty());
  EXPECT_TRUE(Addresses(ControllerCommand::Kind::FlashProgram).empty());
  EXPECT_THAT(Modes(), ElementsAre(kEnter, kLeave));
  EXPECT_FALSE(world.Flags(kDrive).upgradeMode);
  EXPECT_TRUE(displays.empty()) << "the progress panel never showed";
}

void WithActivity(sim::SimWorld& world, std::uint8_t flags) {
  sim::RaidState raid = world.Raid(kDrive);
  raid.activityFlags = flags;
  world.SetRaid(kDrive, raid);
}

const Message kBusyBox = SystemMessage("Don't upgrade new firmware when device is rebuilding or scanning.");

INSTANTIATE_TEST_SUITE_P(
    Checks, UpgradeRefusal,
    ::testing::Values(
        Refusal{"ConfigurationVersionDiffers", nullptr, 0xA1,
                SystemMessage("SPI Configuration Version Error")},
        Refusal{"RebuildTowardsP0", [](sim::SimWorld& w) { WithActivity(w, 0x01); }, 0xA0, kBusyBox},
        Refusal{"RebuildTowardsP1", [](sim::SimWorld& w) { WithActivity(w, 0x02); }, 0xA0, kBusyBox},
        Refusal{"ScanOfP1", [](sim::SimWorld& w) { WithActivity(w, 0x82); }, 0xA0, kBusyBox},
        Refusal{"BothSides", [](sim::SimWorld& w) { WithActivity(w, 0x03); }, 0xA0, kBusyBox},
        Refusal{"RecordReadFails",
                [](sim::SimWorld& w) { w.FailNext(kDrive, RequestMatch::ScsiAt(0x28, 33)); }, 0xA0,
                AppMessage("Get SPI Record fail ")}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(FlashProcedureTest, ScanFlagAndBadSectorFlagsAloneDoNotRefuse) {
  for (std::uint8_t flags : {std::uint8_t{0x80}, std::uint8_t{0x0C}}) {
    SCOPED_TRACE(int(flags));
    Use(MailboxPath());
    InstallImage(state, testing::MakeFirmwareImage(0x80000, flags));
    WithActivity(world, flags);
    dialogs.shown.clear();
    EXPECT_TRUE(Upgrade()) << status;
    EXPECT_THAT(dialogs.shown, ElementsAre(CompletedBox()));
  }
}

TEST_F(FlashProcedureTest, WithNoImageNothingIsSent) {
  Use(MailboxPath());
  EXPECT_FALSE(Upgrade());
  EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("Please Load Firmware File First ")));
  EXPECT_FALSE(Sent(kDrive));
}

// An image that does not reach as far as the upgrade reads is refused before anything is
// sent: programming the flash from it would read past its end.
TEST_F(FlashProcedureTest, AShortImageIsRefusedBeforeAnythingIsSent) {
  const struct {
    std::uint32_t flashSize;
    std::uint32_t imageSize;
    std::uint32_t needed;
  } cases[] = {
      {0x80000, 0x78002, 0x80000},    // a loadable image, but shorter than the flash
      {0x100000, 0x80000, 0x100000},  // the 8M choice with a 4M image
      {0x20000, 0x20000, 0x78002},    // as long as a 1M flash, but without the version byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.imageSize);
    Use(MailboxPath(), c.flashSize);
    InstallImage(state, testing::MakeFirmwareImage(c.imageSize));
    dialogs.shown.clear();
    EXPECT_FALSE(Upgrade());
    EXPECT_THAT(dialogs.shown,
                ElementsAre(AppMessage(
                    "The firmware image is too short for this flash: " + std::to_string(c.imageSize) +
                    " bytes, " + std::to_string(c.needed) + " needed.\nNothing was sent to the device.")));
    EXPECT_FALSE(Sent(kDrive));
    EXPECT_EQ(state.UpgradeSlot, kNoUpgradeSlot);
  }
}

// A step that fails mid-way: its text in the status bar and in the failure box, never the
// success box, and upgrade mode left.
struct StepFault {
  const char* name;
  const PathCase* path;
  std::int32_t at;  // progress count when the fault is switched on
  RequestMatch match;
  std::string text;
};

void PrintTo(const StepFault& fault, std::ostream* os) {
  *os << fault.name;
}

class UpgradeStepFault : public FlashProcedureTest, public ::testing::WithParamInterface<StepFault> {};

TEST_P(UpgradeStepFault, ReportsTheFailureAndLeavesUpgradeMode) {
  const StepFault& fault = GetParam();
  Use(*fault.path);
  InstallImage(state, testing::MakeFirmwareImage());
  FailAt(fault.at, fault.match);

  EXPECT_FALSE(Upgrade());
  EXPECT_EQ(status, fault.text);
  EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage(fault.text)));
  EXPECT_EQ(displays.back().panelShown, false);
  EXPECT_FALSE(world.Flags(kDrive).upgradeMode);
  if (HasModeCommands(*fault.path)) {
    EXPECT_EQ(Modes().back(), kLeave);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UpgradeStepFault,
    ::testing::Values(
        StepFault{"MidEraseVendor", &kPaths[0], 60, RequestMatch::Vendor(0x81), "SPI Erase Fail."},
        StepFault{"MidEraseMailbox", &kPaths[2], 60, RequestMatch::ScsiAt(0x2A, 20), "SPI Erase Fail."},
        StepFault{"MidProgramVendor", &kPaths[1], 600, RequestMatch::Vendor(0x89), "SPI Program Fail."},
        StepFault{"MidProgramAta", &kPaths[3], 600, RequestMatch::ScsiAt(0x2A, 20), "SPI Program Fail."},
        StepFault{"MidVerifyMailbox", &kPaths[2], 1600, RequestMatch::ScsiAt(0x28, 60),
                  "Read Error for LBA = 60 and sector count = 1"},
        StepFault{"MidVerifyAta", &kPaths[3], 1600, RequestMatch::Ata(0x88, 0x01),
                  "VU command 0x88 FEA 0x01 Read Error"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(FlashProcedureTest, AStuckBitFailsTheVerifyOnEveryPath) {
  for (const PathCase& path : kPaths) {
    SCOPED_TRACE(path.name);
    Use(path);
    std::vector<std::uint8_t> image = testing::MakeFirmwareImage();
    image[0x20000] = 0x00;  // the stuck bit cannot follow
    world.SetStuckBit(kDrive, 0x20000, 3);
    InstallImage(state, image);
    dialogs.shown.clear();
    statusLog.clear();

    EXPECT_FALSE(Upgrade());
    EXPECT_THAT(statusLog, ElementsAre("SPI Erase OK", "SPI Program OK", "SPI Verify fail !!!"));
    EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("SPI Verify fail !!!")));
    EXPECT_FALSE(world.Flags(kDrive).upgradeMode);
  }
}

// A detection run during the upgrade finds the device gone and another enclosure in its
// slot: the upgrade stops there, and not one more command goes to the other enclosure.
TEST_F(FlashProcedureTest, ADeviceGoneMidUpgradeLeavesTheEnclosureInItsSlotAlone) {
  Use(MailboxPath());
  sim::EnclosureConfig other;
  other.attachment = Attachment::Sata;
  world.AddEnclosure(2, other);
  InstallImage(state, testing::MakeFirmwareImage());
  world.ClearLogs();
  onStep = [this, done = false]() mutable {
    if (done || state.ProgressCount < 40) return;
    done = true;
    world.Unplug(kDrive);
    state.DeviceSlots[0] = 0x52;  // what the new detection found in slot 0
  };

  EXPECT_FALSE(Upgrade());
  EXPECT_FALSE(Sent(2));
  EXPECT_EQ(dialogs.shown.size(), 1u);
  EXPECT_NE(dialogs.shown.back(), CompletedBox());
}

// Direct programming: the ranges it erases and programs, its captions and progress.
TEST_F(FlashProcedureTest, DirectProgrammingFromTheOffsetOrFromZero) {
  const struct {
    std::uint32_t offset;
    std::int32_t maximum;
    const char* eraseCaption;
    bool unlocks;
  } cases[] = {
      {0xC000, 1044, "Process to Erase Full SPI 475136", false},
      {0, 1152, "Process to Erase Full SPI 524288", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    Use(MailboxPath());
    const std::vector<std::uint8_t> before = world.Flash(kDrive);
    const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x80000, 9);
    InstallImage(state, image);
    displays.clear();
    statusLog.clear();
    dialogs.shown.clear();

    ASSERT_TRUE(Program(c.offset)) << status;
    const std::vector<std::uint32_t> erased = Addresses(ControllerCommand::Kind::FlashErase);
    const std::vector<std::uint32_t> programmed = Addresses(ControllerCommand::Kind::FlashProgram);
    ASSERT_FALSE(erased.empty());
    EXPECT_EQ(erased.front(), c.offset);
    EXPECT_EQ(erased.back(), 0x7F000u);
    EXPECT_EQ(erased.size(), (0x80000 - c.offset) / 4096);
    ASSERT_FALSE(programmed.empty());
    EXPECT_EQ(programmed.front(), c.offset);
    EXPECT_EQ(programmed.back(), 0x7FF00u);
    const std::vector<std::uint8_t> flashNow = world.Flash(kDrive);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + c.offset, flashNow.begin()));
    EXPECT_TRUE(std::equal(image.begin() + c.offset, image.end(), flashNow.begin() + c.offset));

    EXPECT_THAT(Captions(), ElementsAre("", c.eraseCaption, "Process to program Full SPI 524288"));
    EXPECT_EQ(displays[1].title, "File To SPI...");
    EXPECT_EQ(displays[1].maximum, c.maximum);
    EXPECT_EQ(state.ProgressCount, c.maximum);  // a full run ends at the maximum
    EXPECT_THAT(statusLog, ElementsAre("Full SPI Erase OK", "SPI Page Program OK"));
    EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("File To SPI OK.")));
    const std::vector<std::uint8_t> modes = Modes();
    EXPECT_EQ(modes.front(), kEnter);
    EXPECT_EQ(modes.back(), kLeave);
    EXPECT_EQ(std::count(modes.begin(), modes.end(), 0x04), c.unlocks ? 2 : 0);
    EXPECT_FALSE(world.Flags(kDrive).upgradeMode);
  }
}

TEST_F(FlashProcedureTest, DirectProgrammingSendsNoLeaveAndNoBoxAfterAFailure) {
  const struct {
    const char* name;
    std::int32_t at;
    std::vector<std::string> statuses;
    bool programs;
  } cases[] = {
      {"erase", 30, {"Write Error for LBA = 20 and sector count = 1", "Full SPI Erase Fail."}, false},
      {"program",
       500,
       {"Full SPI Erase OK", "Write Error for LBA = 20 and sector count = 1", "SPI Page Program Fail."},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Use(MailboxPath());
    InstallImage(state, testing::MakeFirmwareImage());
    dialogs.shown.clear();
    statusLog.clear();
    FailAt(c.at, RequestMatch::ScsiAt(0x2A, 20));

    EXPECT_FALSE(Program(0xC000));
    EXPECT_EQ(statusLog, c.statuses);
    EXPECT_TRUE(dialogs.shown.empty());
    const std::vector<std::uint8_t> modes = Modes();
    EXPECT_EQ(std::count(modes.begin(), modes.end(), kLeave), 0);
    EXPECT_EQ(Addresses(ControllerCommand::Kind::FlashProgram).empty(), !c.programs);
    EXPECT_EQ(displays.back().panelShown, false);
  }
}

TEST_F(FlashProcedureTest, DirectProgrammingAsksForAnImageAndRefusesAShortOne) {
  Use(VendorPath());
  // The open dialog is cancelled.
  EXPECT_FALSE(Program(0xC000));
  EXPECT_EQ(openDialogs, 1);
  EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("Please Load Firmware File First ")));
  EXPECT_FALSE(Sent(kDrive));

  // The dialog loads an image, shorter than the flash.
  dialogs.shown.clear();
  onOpenDialog = [this] { InstallImage(state, testing::MakeFirmwareImage(0x78002)); };
  EXPECT_FALSE(Program(0xC000));
  EXPECT_EQ(openDialogs, 2);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(
      dialogs.shown[0].text,
      "The firmware image is too short for this flash: 491522 bytes, 524288 needed.\nNothing was sent to "
      "the device.");
  EXPECT_FALSE(Sent(kDrive));

  // A loaded image is used as it is.
  InstallImage(state, testing::MakeFirmwareImage());
  dialogs.shown.clear();
  EXPECT_TRUE(Program(0xC000));
  EXPECT_EQ(openDialogs, 2);
}

}  // namespace
}  // namespace caspira
