// The main window's firmware controls over the simulated world, clicked as a user clicks
// them: "Load Firmware ", "Start Upgrade", the hidden direct-programming controls and the
// go-to dialog.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "app/main_window.h"
#include "firmware/goto_dialog.h"
#include "sim/scenario.h"
#include "sim/sim_world.h"
#include "support/fakes.h"
#include "support/firmware_images.h"
#include "support/gui_support.h"
#include "support/process.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

using sim::ControllerCommand;
using ::testing::ElementsAre;

constexpr unsigned kDrive = 1;

Message CompletedBox() {
  return AppMessage(
      "Firmware Upgrade 3/3 completed!\n\nPlease power off this device or the system,\nand power on it to "
      "enable the new firmware!",
      "Firmware Upgrade Message", MessageIcon::Exclamation);
}

// Runs `during` on every turn of the message loop until it returns true.
class DuringEvents {
 public:
  explicit DuringEvents(std::function<bool()> during) : during_(std::move(during)) {
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (!done_ && during_()) done_ = true;
    });
    timer_.start();
  }
  bool done() const { return done_; }

 private:
  std::function<bool()> during_;
  QTimer timer_;
  bool done_ = false;
};

class FirmwareWindowTest : public ::testing::Test {
 protected:
  // The window over `world`, its first detection adopted.
  void Open(std::size_t expectedDevices) {
    world.DeviceChanges()->TakeNotifications();  // building the world is no device change
    form = std::make_unique<TForm1>(ProgramServices{world, dialogs, clock, random});
    form->Timer4->stop();
    ASSERT_TRUE(testing::PumpUntil([this] { return form->state().DetectDone.load(); }));
    form->Timer4Timer();
    ASSERT_EQ(form->state().DeviceCount, static_cast<std::int32_t>(expectedDevices));
    ASSERT_TRUE(testing::PumpUntil([this] { return form->state().RequestFlags == 0; }));
    world.ClearLogs();
  }
  void OpenWith(sim::EnclosureConfig config) {
    world.AddEnclosure(kDrive, config);
    Open(1);
  }

  std::string ImageFile(const std::vector<std::uint8_t>& bytes, const std::string& name = "image.bin") {
    const std::string path = dir / name;
    testing::WriteBytes(path, bytes);
    return path;
  }
  // "Load Firmware " with `path` chosen in the open dialog (none: cancelled).
  void Load(const std::string& path) {
    if (!path.empty()) dialogs.openAnswers.push_back({path});
    form->BitBtn1->click();
  }
  std::vector<std::uint8_t> Image() const {
    const AppState& s = form->state();
    return {s.ImageBuffer.get(), s.ImageBuffer.get() + s.ImageSize};
  }
  std::size_t Count(ControllerCommand::Kind kind) {
    std::size_t n = 0;
    for (const ControllerCommand& c : world.Commands(kDrive)) n += c.kind == kind && !c.ignored;
    return n;
  }

  testing::FakeClock clock;
  sim::SimWorld world{clock};
  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  testing::TempDir dir;
  std::unique_ptr<TForm1> form;
};

TEST_F(FirmwareWindowTest, LoadFirmwareShowsTheFileAndItsSumAndKeepsOrDropsTheImage) {
  OpenWith({});
  TForm1& f = *form;
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x80000, 21);
  const std::string good = ImageFile(image);
  char sum[20];
  std::snprintf(sum, sizeof sum, "Chksum:%08X", testing::SumOf(image));

  ASSERT_TRUE(f.BitBtn1->isEnabled());
  Load(good);
  EXPECT_EQ(Image(), image);
  EXPECT_EQ(f.StatusBar1->panelText(0).toStdString(), sum);
  EXPECT_EQ(f.StatusText(), "File:" + good);
  EXPECT_EQ(f.StatusBar1->panelWidth(4), f.StatusBar1->width() - (100 + 80 + 80 + 100));
  ASSERT_EQ(dialogs.openOptions.size(), 1u);
  EXPECT_EQ(dialogs.openOptions[0].filter, "Binary code (*.bin);;All files (*.*)");
  EXPECT_FALSE(dialogs.openOptions[0].multiSelect);
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_FALSE(f.state().OperationBusy);
  for (QRadioButton* r : {f.RadioButton1M, f.RadioButton2M, f.RadioButton4M, f.RadioButton8M})
    EXPECT_FALSE(r->isEnabled());

  // Cancelling keeps the image, its size and the panels.
  Load("");
  EXPECT_EQ(dialogs.openOptions.size(), 2u);
  EXPECT_EQ(Image(), image);
  EXPECT_EQ(f.StatusText(), "File:" + good);

  // A file that is no image drops the old one too; the panels show the new file.
  std::vector<std::uint8_t> bad = image;
  bad[0x78001] = 0x00;
  const std::string badPath = ImageFile(bad, "bad.bin");
  Load(badPath);
  EXPECT_EQ(f.state().ImageSize, 0u);
  EXPECT_EQ(f.StatusText(), "File:" + badPath);
  std::snprintf(sum, sizeof sum, "Chksum:%08X", testing::SumOf(bad));
  EXPECT_EQ(f.StatusBar1->panelText(0).toStdString(), sum);
  EXPECT_THAT(dialogs.shown, ElementsAre(Message{"The firmware file is not correct.\nPlease check it.",
                                                 "Error", MessageIcon::Error, MessageOwner::None}));

  // "Start Upgrade" then has nothing to write.
  dialogs.shown.clear();
  f.Button2->click();
  EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("Please Load Firmware File First ")));
  EXPECT_TRUE(world.Commands(kDrive).empty());
  EXPECT_FALSE(f.state().OperationBusy);
}

TEST_F(FirmwareWindowTest, AFileWithAByteThatNeverReadsLeavesNoImage) {
  OpenWith({});
  Load(ImageFile(testing::MakeFirmwareImage()));
  ASSERT_NE(form->state().ImageSize, 0u);
  form->SetFirmwareFileOpener([](const std::string&) {
    return std::make_unique<testing::FlakyFirmwareFile>(testing::MakeFirmwareImage(), 1234, 1000);
  });
  Load(dir / "unreadable.bin");
  EXPECT_EQ(form->state().ImageSize, 0u);
  ASSERT_EQ(dialogs.shown.size(), 4u);
  EXPECT_EQ(dialogs.shown.back().text,
            "The firmware file cannot be read at ByteCount = 1234.\nNo firmware image is loaded.");
}

// "8M", then "Start Upgrade": the whole megabyte, with the progress panel up while it runs
// and every other firmware action shut out meanwhile.
TEST_F(FirmwareWindowTest, StartUpgradeWritesTheChosenFlashSizeAndShutsOtherActionsOut) {
  sim::EnclosureConfig config;
  config.flashSize = 0x100000;
  OpenWith(config);
  TForm1& f = *form;
  f.RadioButton8MClick();
  EXPECT_EQ(f.state().SpiSize, 0x100000u);
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x100000, 8);
  Load(ImageFile(image));
  ASSERT_EQ(f.state().ImageSize, 0x100000u);
  dialogs.shown.clear();

  struct Seen {
    bool panelShown = false;
    bool timerRunning = false;
    QString title, caption;
    std::int32_t upgradeSlot = 0;
    bool busy = false;
    bool barFollowsProgress = false;
  } seen;
  const std::size_t dialogsBefore = dialogs.openOptions.size();
  bool gotoOpened = false;
  DuringEvents during([&] {
    if (f.state().ProgressCount < 100) return false;
    seen = {!f.Panel1->isHidden(),   f.Timer1->isActive(),  f.Label12->text(),
            f.Panel1Caption->text(), f.state().UpgradeSlot, f.state().OperationBusy};
    f.Timer1Timer();
    seen.barFollowsProgress = f.ProgressBar1->value() == f.state().ProgressCount;
    // Everything else the user could start now does nothing.
    dialogs.openAnswers.push_back({dir / "image.bin"});
    f.BitBtn1->click();
    f.Button2->click();
    f.Button8->click();
    QTimer::singleShot(0, [&gotoOpened] {  // a go-to dialog that should not be there goes
      if (auto* d = qobject_cast<TForm3*>(QApplication::activeModalWidget())) {
        gotoOpened = true;
        d->reject();
      }
    });
    f.StatusBar1DblClick();
    dialogs.openAnswers.clear();
    return true;
  });

  f.Button2->click();
  ASSERT_TRUE(during.done());
  EXPECT_TRUE(seen.panelShown);
  EXPECT_TRUE(seen.timerRunning);
  EXPECT_EQ(seen.title, "Firmware Update...");
  EXPECT_EQ(seen.caption, "Process 1 / 3");
  EXPECT_EQ(seen.upgradeSlot, 0);
  EXPECT_TRUE(seen.busy);
  EXPECT_TRUE(seen.barFollowsProgress);
  EXPECT_EQ(dialogs.openOptions.size(), dialogsBefore) << "no open dialog while the upgrade ran";
  EXPECT_FALSE(gotoOpened);

  EXPECT_EQ(world.Flash(kDrive), image);
  EXPECT_EQ(Count(ControllerCommand::Kind::FlashErase), 256u);
  EXPECT_EQ(Count(ControllerCommand::Kind::FlashProgram), 4096u);
  EXPECT_EQ(f.ProgressBar1->maximum(), 4096 / 2 * 2 + 256 + 30);
  EXPECT_EQ(f.ProgressBar1->value(), 256 + 2048 + 2048);
  EXPECT_TRUE(f.Panel1->isHidden());
  EXPECT_FALSE(f.Timer1->isActive());
  EXPECT_EQ(f.StatusText(), "SPI Verify OK");
  EXPECT_THAT(dialogs.shown, ElementsAre(CompletedBox()));
  EXPECT_FALSE(f.state().OperationBusy);
  EXPECT_EQ(f.state().UpgradeSlot, kNoUpgradeSlot);
  EXPECT_FALSE(world.Flags(kDrive).upgradeMode);
}

TEST_F(FirmwareWindowTest, AFailedUpgradeShowsThePanelTextInTheBoxAndNeverTheSuccessBox) {
  OpenWith({});
  TForm1& f = *form;
  std::vector<std::uint8_t> image = testing::MakeFirmwareImage();
  image[0x40000] = 0x00;
  world.SetStuckBit(kDrive, 0x40000, 7);
  Load(ImageFile(image));
  dialogs.shown.clear();
  f.Button2->click();
  EXPECT_EQ(f.StatusText(), "SPI Verify fail !!!");
  EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("SPI Verify fail !!!")));
  EXPECT_TRUE(f.Panel1->isHidden());
  EXPECT_FALSE(world.Flags(kDrive).upgradeMode);
  EXPECT_FALSE(f.state().OperationBusy);
}

// Closing the window releases the image; the upgrade under way writes on from its own copy.
TEST_F(FirmwareWindowTest, ClosingTheWindowDuringAnUpgradeLeavesTheWritingAlone) {
  OpenWith({});
  TForm1& f = *form;
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x80000, 12);
  Load(ImageFile(image));
  dialogs.shown.clear();
  DuringEvents during([&] {
    if (f.state().ProgressCount < 300) return false;
    f.FormClose();
    return true;
  });
  f.Button2->click();
  ASSERT_TRUE(during.done());
  EXPECT_EQ(f.state().ImageSize, 0u);
  EXPECT_EQ(world.Flash(kDrive), image);
  EXPECT_THAT(dialogs.shown, ElementsAre(CompletedBox()));
}

// The hidden "Upgrade" button with the hidden "Offset 49152" box.
TEST_F(FirmwareWindowTest, DirectProgrammingWithAndWithoutTheOffset) {
  OpenWith({});
  TForm1& f = *form;
  const std::vector<std::uint8_t> original = world.Flash(kDrive);
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x80000, 4);
  Load(ImageFile(image));
  ASSERT_TRUE(f.Button8->isEnabled());

  ASSERT_TRUE(f.CheckBox2->isChecked());
  dialogs.shown.clear();
  f.Button8->click();
  EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("File To SPI OK.")));
  EXPECT_EQ(f.ProgressBar1->maximum(), 1044);
  EXPECT_EQ(f.Panel1Caption->text(), "Process to program Full SPI 524288");
  EXPECT_EQ(f.StatusText(), "SPI Page Program OK");
  std::vector<std::uint8_t> expected = image;
  std::copy(original.begin(), original.begin() + 0xC000, expected.begin());
  EXPECT_EQ(world.Flash(kDrive), expected) << "the boot loader stays";

  f.CheckBox2->setChecked(false);
  dialogs.shown.clear();
  f.Button8->click();
  EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("File To SPI OK.")));
  EXPECT_EQ(f.ProgressBar1->maximum(), 1152);
  EXPECT_EQ(world.Flash(kDrive), image);
  EXPECT_FALSE(f.state().OperationBusy);
  EXPECT_EQ(f.state().UpgradeSlot, kNoUpgradeSlot);
}

TEST_F(FirmwareWindowTest, DirectProgrammingWithoutAnImageAsksForOneAndLaterActionsWork) {
  OpenWith({});
  TForm1& f = *form;
  f.Button8->click();  // the open dialog is cancelled
  EXPECT_EQ(dialogs.openOptions.size(), 1u);
  EXPECT_THAT(dialogs.shown, ElementsAre(AppMessage("Please Load Firmware File First ")));
  EXPECT_TRUE(world.Commands(kDrive).empty());
  EXPECT_FALSE(f.state().OperationBusy);

  // The guard was released: loading and upgrading work as ever.
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage();
  Load(ImageFile(image));
  EXPECT_EQ(Image(), image);
  dialogs.shown.clear();
  f.Button2->click();
  EXPECT_THAT(dialogs.shown, ElementsAre(CompletedBox()));
}

TEST_F(FirmwareWindowTest, TheSizeButtonsSetTheFlashSize) {
  OpenWith({});
  TForm1& f = *form;
  const std::pair<void (TForm1::*)(), std::uint32_t> cases[] = {
      {&TForm1::RadioButton1MClick, 0x20000},
      {&TForm1::RadioButton2MClick, 0x40000},
      {&TForm1::RadioButton8MClick, 0x100000},
      {&TForm1::RadioButton4MClick, 0x80000},
  };
  for (const auto& [handler, size] : cases) {
    (f.*handler)();
    EXPECT_EQ(f.state().SpiSize, size);
  }
}

// The go-to dialog, driven while StatusBar1DblClick shows it.
class GotoDialogTest : public FirmwareWindowTest {
 protected:
  // Double-clicks the status bar and has `act` work the dialog once it is up.
  void DoubleClickStatusBar(const std::function<void(TForm3&)>& act) {
    bool acted = false;
    DuringEvents during([&] {
      auto* dialog = qobject_cast<TForm3*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return false;
      acted = true;
      act(*dialog);
      return true;
    });
    QTest::mouseDClick(form->StatusBar1, Qt::LeftButton);
    EXPECT_TRUE(acted);
  }
};

TEST_F(GotoDialogTest, TypedAddressesBecomeSectors) {
  OpenWith({});
  GotoState& g = form->gotoState();
  DoubleClickStatusBar([](TForm3& d) {
    EXPECT_EQ(d.windowTitle(), "GoTo");
    EXPECT_TRUE(d.RadioButton1->isChecked());
    EXPECT_EQ(d.state().GotoUnit, 0x11);
    d.Edit1->setText("1000H");
    d.Button1->click();
  });
  EXPECT_EQ(g.GotoValue, 0x1000u);
  EXPECT_EQ(g.GotoUnit, 1);
  EXPECT_EQ(g.ViewSector, 9u);

  DoubleClickStatusBar([](TForm3& d) {
    EXPECT_TRUE(d.RadioButton1->isChecked()) << "the window opens it on Byte every time";
    d.RadioButton2->click();
    EXPECT_EQ(d.state().GotoUnit, 0x12);
    d.Edit1->setText("256");
    QTest::keyClick(d.Edit1, Qt::Key_Return);  // Enter is "OK"
  });
  EXPECT_EQ(g.ViewSector, 2u);

  // A number that cannot be read: the error, and the dialog stays for a correction.
  DoubleClickStatusBar([this](TForm3& d) {
    d.RadioButton3->click();
    d.Edit1->setText("12x");
    d.Button1->click();
    EXPECT_TRUE(d.isVisible());
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().text, "\"12x\" is not a valid number");
    EXPECT_EQ(dialogs.shown.back().icon, MessageIcon::Error);
    EXPECT_EQ(form->gotoState().ViewSector, 2u);
    d.Edit1->setText("7");
    d.Button1->click();
  });
  EXPECT_EQ(g.ViewSector, 7u);
}

TEST_F(GotoDialogTest, CancelAndTheTitleBarCloseChangeNothing) {
  OpenWith({});
  GotoState& g = form->gotoState();
  g.ViewSector = 5;
  g.GotoValue = 77;
  DoubleClickStatusBar([](TForm3& d) {
    d.Edit1->setText("1000");
    d.Button2->click();  // "CANCEL"
  });
  EXPECT_EQ(g.GotoUnit, 0);
  EXPECT_EQ(g.ViewSector, 5u);
  DoubleClickStatusBar([](TForm3& d) {
    d.RadioButton3->click();
    d.Edit1->setText("1000");
    d.close();  // the title bar's close
  });
  EXPECT_EQ(g.GotoUnit, 0x13);
  EXPECT_EQ(g.ViewSector, 5u);
  EXPECT_EQ(g.GotoValue, 77u);
}

TEST(GotoDialogFormCreateTest, ChecksTheUnitItIsOpenedWith) {
  testing::ScriptedDialogs dialogs;
  for (const auto& [unit, expected] :
       {std::pair<std::uint8_t, int>{0x11, 1}, {0x12, 2}, {0x13, 3}, {0x00, 3}}) {
    GotoState state;
    state.GotoUnit = unit;
    TForm3 dialog(state, dialogs);
    const QRadioButton* checked = dialog.RadioButton1->isChecked()   ? dialog.RadioButton1
                                  : dialog.RadioButton2->isChecked() ? dialog.RadioButton2
                                                                     : dialog.RadioButton3;
    EXPECT_EQ(checked, expected == 1   ? dialog.RadioButton1
                       : expected == 2 ? dialog.RadioButton2
                                       : dialog.RadioButton3)
        << int(unit);
    EXPECT_EQ(state.GotoUnit, unit | 0x10);
  }
}

// The demonstration: one enclosure of the upgrade scenario upgraded through the window as a
// user does it, with the scenario's latency model on; another one there is refused.
TEST_F(FirmwareWindowTest, UpgradeScenarioThroughTheWindow) {
  std::string error;
  const auto scenario = sim::LoadScenarioFile(std::string(CASPIRA_SCENARIO_DIR) + "/upgrade.scn", error);
  ASSERT_TRUE(scenario) << error;
  world.Load(*scenario);
  Open(3);
  TForm1& f = *form;
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x80000, 30);

  // Device 1, the USB enclosure: "Load Firmware ", pick the image, "Start Upgrade".
  EXPECT_EQ(f.UpDown1->position(), 0);
  Load(ImageFile(image, "upgrade.bin"));
  f.Button2->click();
  EXPECT_THAT(dialogs.shown, ElementsAre(CompletedBox()));
  EXPECT_EQ(world.Flash(1), image);
  EXPECT_GT(world.SimulatedLatency(1).count(), 0) << "the latency model was on";

  // Device 3 rebuilds: refused before anything is erased.
  dialogs.shown.clear();
  f.UpDown1->setPosition(2);
  f.Button2->click();
  EXPECT_THAT(
      dialogs.shown,
      ElementsAre(SystemMessage("Don't upgrade new firmware when device is rebuilding or scanning.")));
  for (const ControllerCommand& c : world.Commands(3)) EXPECT_NE(c.kind, ControllerCommand::Kind::FlashErase);
  EXPECT_FALSE(world.Flags(3).upgradeMode);
}

}  // namespace
}  // namespace caspira
