// The detection cycle and the device selector of the main window, over the simulated
// world. Timer4 is driven by hand; DriveDetectThread runs for real.
#include <gtest/gtest.h>

#include <clocale>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "app/main_window.h"
#include "app/qt_dialogs.h"
#include "shell/request_flags.h"
#include "sim/sim_world.h"
#include "support/fakes.h"
#include "support/gui_support.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

using sim::Attachment;
using sim::EnclosureConfig;
using sim::VendorLayout;

// Forwards to the simulated world, but can hold back the detection thread's opens (any
// thread but the one that made it) until the test lets them through.
class GatedHost final : public DeviceHost {
 public:
  explicit GatedHost(DeviceHost& inner) : inner_(inner), owner_(std::this_thread::get_id()) {}

  void Close() {
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }

  std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned number) override {
    if (std::this_thread::get_id() != owner_) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return open_; });
    }
    return inner_.OpenPhysicalDrive(number);
  }
  std::unique_ptr<BlockDevice> OpenVolume(const std::string& name) override {
    return inner_.OpenVolume(name);
  }
  std::vector<std::string> ListVolumes() override {
    if (failListing) throw std::runtime_error("the volume list could not be read");
    return inner_.ListVolumes();
  }
  VolumeInfo QueryVolume(const std::string& name) override { return inner_.QueryVolume(name); }
  DeviceChangeSource* DeviceChanges() override { return nullptr; }  // the test raises them
  std::string AccessProblem() override { return accessProblem; }

  std::string accessProblem;
  bool failListing = false;  // the window thread's recount meets an exception

 private:
  DeviceHost& inner_;
  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
};

EnclosureConfig Enclosure(Attachment attachment, std::string revision = "090619.1") {
  EnclosureConfig c;
  c.attachment = attachment;
  c.vendorLayout = VendorLayout::OnePrefix;
  c.revision = std::move(revision);
  return c;
}

class DetectionCycleTest : public ::testing::Test {
 protected:
  DetectionCycleTest() { std::setlocale(LC_TIME, "C"); }
  ~DetectionCycleTest() override { host.Open(); }

  // Two enclosures on disks 1 and 2, volumes E and F on disk 1, a plain disk 0 with C.
  void TwoEnclosures(std::string revision = "090619.1") {
    world.AddDisk(0);
    world.AddEnclosure(1, Enclosure(Attachment::Usb, revision));
    world.AddEnclosure(2, Enclosure(Attachment::Sata, revision));
    world.AddVolume({"C", kDriveFixed, 0u, true});
    world.AddVolume({"E", kDriveFixed, 1u, true});
    world.AddVolume({"F", kDriveFixed, 1u, true});
  }

  void Start() {
    form = std::make_unique<TForm1>(ProgramServices{host, dialogs, clock, random});
    form->Timer4->stop();  // ticks come from the test
  }

  // Waits for the running detection to end and lets the cycle show it.
  void FinishDetection() {
    ASSERT_TRUE(testing::PumpUntil([this] { return form->state().DetectDone.load(); }));
    form->Timer4Timer();
    ASSERT_FALSE(form->state().DetectDone);
  }

  // A device change, then ticks until the recount; returns the ticks it took (giving up
  // after a hundred, when the cycle is stuck).
  int TicksUntilRecount() {
    int ticks = 0;
    while (form->state().DeviceChangeCountdown != 0 && ticks < 100) {
      form->Timer4Timer();
      ++ticks;
    }
    return ticks;
  }

  AppState& state() { return form->state(); }

  testing::FakeClock clock;
  sim::SimWorld world{clock};
  GatedHost host{world};
  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  std::unique_ptr<TForm1> form;
};

TEST_F(DetectionCycleTest, WithNoEnclosureTheLabelBlinksThenSaysSoAndTheClockStops) {
  world.AddDisk(0);
  host.Close();
  Start();
  ASSERT_TRUE(state().Detecting);
  EXPECT_EQ(form->StaticText1->text(), "Drive detecting");
  form->Timer4Timer();
  EXPECT_TRUE(form->StaticText1->isHidden());
  form->Timer4Timer();
  EXPECT_FALSE(form->StaticText1->isHidden());
  form->Timer4Timer();
  EXPECT_TRUE(form->StaticText1->isHidden());

  host.Open();
  clock.AdvanceSeconds(3);
  form->Timer3Timer();  // the last tick before the devices were found gone
  FinishDetection();
  EXPECT_EQ(form->StaticText1->text(), "No Drive found! ");
  EXPECT_FALSE(form->StaticText1->isHidden());
  EXPECT_FALSE(form->Timer3->isActive());
  EXPECT_FALSE(form->StaticText4->isHidden());
  EXPECT_EQ(form->StaticText4->text().toStdString(), "Drive removed at: " + FormatDateTimeC(clock.Now()));
  EXPECT_TRUE(form->CheckBox1->isHidden());
  for (QWidget* w :
       std::initializer_list<QWidget*>{form->Button10, form->Button8, form->BitBtn1, form->Button2})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_EQ(state().RequestFlags & RequestFlag::Poll, 0);
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DetectionCycleTest, TwoEnclosuresGetTheirBoxesTabsSelectorLabelAndCaption) {
  TwoEnclosures();
  Start();
  FinishDetection();
  TForm1& f = *form;
  EXPECT_EQ(state().DeviceCount, 2);
  const struct {
    QCheckBox* box;
    bool shown;
    const char* hint;
  } boxes[] = {{f.CheckBox1, true, "HD1"},
               {f.CheckBox3, true, "HD2"},
               {f.CheckBox4, false, ""},
               {f.CheckBox5, false, ""}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(!boxes[i].box->isHidden(), boxes[i].shown);
    EXPECT_EQ(f.PageControl1->pageTabVisible(i), boxes[i].shown);
    if (boxes[i].shown) {
      EXPECT_EQ(boxes[i].box->toolTip(), boxes[i].hint);
      EXPECT_EQ(f.PageControl1->tabText(i), QString("Device%1").arg(i + 1));
    }
  }
  EXPECT_FALSE(f.UpDown1->isHidden());
  EXPECT_EQ(f.UpDown1->maximum(), 1);
  EXPECT_EQ(f.StaticText1->text(), "1/2 Device1[EF]");
  EXPECT_EQ(f.windowTitle(), "Caspira v0.22 RAID Manager - TALVEN TR-2 RAID [EF]");
  EXPECT_EQ(state().FirmwareRevisionText, "F/W Rev. 090619.1");
  EXPECT_NE(state().RequestFlags & RequestFlag::Poll, 0);  // a first poll is asked for
  for (QWidget* w : std::initializer_list<QWidget*>{f.Button10, f.BitBtn1, f.Button2, f.Button8, f.CheckBox2})
    EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_FALSE(f.Button1->isHidden());
}

TEST_F(DetectionCycleTest, DevicesComingBackHideTheRemovalTimeAgain) {
  world.AddDisk(0);
  Start();
  FinishDetection();
  ASSERT_FALSE(form->StaticText4->isHidden());

  world.AddEnclosure(1, Enclosure(Attachment::Sata));
  form->OnDeviceChange();
  TicksUntilRecount();
  FinishDetection();
  EXPECT_EQ(form->StaticText1->text(), "1/1 Device1[]");
  EXPECT_TRUE(form->StaticText4->isHidden());
  EXPECT_FALSE(form->Timer3->isActive()) << "the clock stays stopped";
}

TEST_F(DetectionCycleTest, WhenDevicesLeaveTheSelectorAndLabelStayWithinTheCount) {
  for (unsigned disk = 1; disk <= 4; ++disk) world.AddEnclosure(disk, Enclosure(Attachment::Sata));
  world.AddVolume({"H", kDriveFixed, 3u, true});
  Start();
  FinishDetection();
  for (int step = 0; step < 3; ++step) form->UpDown1->step(true);
  ASSERT_EQ(form->StaticText1->text(), "4/4 Device4[]");

  world.RemoveDrive(4);
  form->OnDeviceChange();
  TicksUntilRecount();
  FinishDetection();
  EXPECT_EQ(state().DeviceCount, 3);
  EXPECT_EQ(form->StaticText1->text(), "3/3 Device3[H]");
  EXPECT_EQ(form->UpDown1->maximum(), 2);
  EXPECT_EQ(form->UpDown1->position(), 2);
  EXPECT_LT(state().CurrentSlot, 3);
  form->UpDown1->step(true);  // already at the last device
  EXPECT_EQ(form->StaticText1->text(), "3/3 Device3[H]");

  // All but one gone while the selector stood on the last: one device, no selector.
  world.RemoveDrive(3);
  world.RemoveDrive(2);
  form->OnDeviceChange();
  TicksUntilRecount();
  FinishDetection();
  EXPECT_EQ(form->StaticText1->text(), "1/1 Device1[]");
  EXPECT_EQ(state().CurrentSlot, 0);
  EXPECT_EQ(form->UpDown1->position(), 0);
  EXPECT_TRUE(form->UpDown1->isHidden());
}

TEST_F(DetectionCycleTest, ABurstOfDeviceChangesDelaysTheRecountAndUnchangedCountsStartNothing) {
  TwoEnclosures();
  Start();
  FinishDetection();

  // Notifications half a second apart: the recount waits for five ticks after the last.
  form->OnDeviceChange();
  form->Timer4Timer();
  form->OnDeviceChange();
  form->Timer4Timer();
  form->OnDeviceChange();
  EXPECT_EQ(TicksUntilRecount(), 5);
  EXPECT_FALSE(state().Detecting);  // nothing changed
  EXPECT_FALSE(state().DetectRequest);

  // A new disk with a new volume: the recount asks for a run.
  world.AddDisk(5);
  world.AddVolume({"G", kDriveRemovable, 5u, true});
  form->OnDeviceChange();
  EXPECT_EQ(TicksUntilRecount(), 5);
  EXPECT_TRUE(state().Detecting);
  EXPECT_EQ(state().DriveLetterCount, 4);
  EXPECT_EQ(state().PhysicalDriveCount, 4);
  FinishDetection();
  EXPECT_EQ(state().DeviceCount, 2);
}

TEST_F(DetectionCycleTest, AnExceptionEscapingATickDoesNotStopTheCycle) {
  TwoEnclosures();
  Start();
  FinishDetection();
  host.failListing = true;
  form->OnDeviceChange();
  for (int tick = 0; tick < 4; ++tick) form->Timer4Timer();
  EXPECT_THROW(form->Timer4Timer(), std::runtime_error);  // the recount's tick

  // The application shows the exception and goes on; so do the next ticks.
  host.failListing = false;
  world.AddDisk(5);
  world.AddVolume({"G", kDriveRemovable, 5u, true});
  form->OnDeviceChange();
  EXPECT_EQ(TicksUntilRecount(), 5);
  EXPECT_TRUE(state().Detecting);
  FinishDetection();
  EXPECT_EQ(state().DriveLetterCount, 4);
}

TEST_F(DetectionCycleTest, TheAutoScanBoxFollowsTheFirmwareRevision) {
  const struct {
    const char* revision;
    bool shown;
  } cases[] = {{"090619.1", true}, {"090618.1", false}, {"0906191A", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.revision);
    for (unsigned k = 0; k < kMaxPhysicalDrives; ++k) world.RemoveDrive(k);
    world.AddEnclosure(1, Enclosure(Attachment::Sata, c.revision));
    Start();
    FinishDetection();
    EXPECT_EQ(!form->CheckBox7->isHidden(), c.shown);
    EXPECT_EQ(state().AutoScanSupported, c.shown);
    form.reset();
  }
}

TEST_F(DetectionCycleTest, AClearedDeviceBoxHidesItsTabUntilTheNextRun) {
  TwoEnclosures();
  Start();
  FinishDetection();
  state().PollFailures[1] = 5;
  form->CheckBox3->setChecked(false);
  EXPECT_FALSE(form->PageControl1->pageTabVisible(1));
  EXPECT_EQ(state().PollFailures[1], 0);

  world.AddDisk(6);
  form->OnDeviceChange();
  TicksUntilRecount();
  FinishDetection();
  EXPECT_TRUE(form->PageControl1->pageTabVisible(1));
  EXPECT_FALSE(form->CheckBox3->isChecked());
}

TEST_F(DetectionCycleTest, SelectorAndTabsMoveTheCurrentSlotIndependently) {
  TwoEnclosures();
  Start();
  FinishDetection();
  TForm1& f = *form;
  f.UpDown1->step(true);
  EXPECT_EQ(state().CurrentSlot, 1);
  EXPECT_EQ(f.PageControl1->activePageIndex(), 0);
  EXPECT_EQ(f.StaticText1->text(), "2/2 Device2[]");
  EXPECT_EQ(state().ViewData, &state().DriveSectorBuffers[2]);

  f.PageControl1->setCurrentIndex(0);  // already active: nothing happens
  f.PageControl1->setCurrentIndex(1);  // the user picks Device2
  EXPECT_EQ(state().CurrentSlot, 1);
  f.PageControl1->setCurrentIndex(0);
  EXPECT_EQ(state().CurrentSlot, 0);
  EXPECT_EQ(f.UpDown1->position(), 1);
  EXPECT_FALSE(state().UpdatingControls);
}

TEST_F(DetectionCycleTest, WhatTheDetectionThreadReportsIsShownByTheWindow) {
  world.AddEnclosure(1, Enclosure(Attachment::Sata));
  for (char letter = 'C'; letter <= 'Z'; ++letter)
    world.AddVolume({std::string(1, letter), kDriveFixed, 1u, true});
  world.FailNext(1, sim::RequestMatch::ScsiAt(0x28, 58));
  Start();
  FinishDetection();
  EXPECT_EQ(dialogs.ShownTexts(), std::vector<std::string>{"Drive Count Must less than 20."});
  EXPECT_EQ(form->StatusText(), "Read Error for LBA = 58 and sector count = 1");
}

// The open message boxes saying `text`.
std::vector<QMessageBox*> OpenBoxes(const QString& text) {
  std::vector<QMessageBox*> boxes;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(top);
        box != nullptr && box->isVisible() && box->text() == text)
      boxes.push_back(box);
  return boxes;
}

TEST_F(DetectionCycleTest, TheWindowGoesOnWhileTheDriveCountBoxIsOpen) {
  world.AddEnclosure(1, Enclosure(Attachment::Sata));
  for (char letter = 'C'; letter <= 'Z'; ++letter)
    world.AddVolume({std::string(1, letter), kDriveFixed, 1u, true});
  QtDialogs shownDialogs;
  const struct CloseFirst {
    std::unique_ptr<TForm1>& form;
    ~CloseFirst() { form.reset(); }  // before the dialogs it uses
  } closeFirst{form};
  // Should the box hold the window up after all, this closes it, so the test fails
  // instead of hanging.
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    for (QMessageBox* box : OpenBoxes(kDriveCountMessage)) box->close();
  });
  watchdog.start(std::chrono::milliseconds(testing::kGenerousTimeout));

  // The timers run for real, twenty times faster; the first run is held a while so the
  // label blinks.
  host.Close();
  form = std::make_unique<TForm1>(ProgramServices{host, shownDialogs, clock, random, 20.0});
  ASSERT_TRUE(testing::PumpUntil([this] { return form->StaticText1->isHidden(); }));
  host.Open();
  ASSERT_TRUE(testing::PumpUntil([] { return !OpenBoxes(kDriveCountMessage).empty(); }));
  const QPointer<QMessageBox> box = OpenBoxes(kDriveCountMessage).front();
  EXPECT_FALSE(box->isModal());
  EXPECT_EQ(box->parentWidget(), nullptr) << "the box has no owner";

  // With the box open, the refresh that follows it has run and the cycle goes on: a new
  // enclosure is found and shown.
  EXPECT_TRUE(testing::PumpUntil(
      [this] { return form->StaticText1->text() == "1/1 Device1[CDEFGHIJKLMNOPQRSTUV]"; }));
  EXPECT_FALSE(form->StaticText1->isHidden());
  world.AddEnclosure(2, Enclosure(Attachment::Usb));
  form->OnDeviceChange();
  EXPECT_TRUE(testing::PumpUntil([this] { return state().DeviceCount == 2 && !form->UpDown1->isHidden(); }));
  EXPECT_TRUE(watchdog.isActive());
  ASSERT_FALSE(box.isNull());
  EXPECT_TRUE(box->isVisible()) << "nobody has answered the first box yet";
}

TEST_F(DetectionCycleTest, TheCycleGoesOnWhileAModalBoxFromATickIsOpen) {
  host.accessProblem = "Caspira cannot open the disks.";
  world.AddUnopenableDrive(0);
  Start();
  int countdownWhileShown = -1;
  dialogs.whileShown = [&](const Message&) {
    form->OnDeviceChange();
    form->Timer4Timer();  // a tick the box's event loop delivers
    countdownWhileShown = state().DeviceChangeCountdown;
  };
  FinishDetection();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(countdownWhileShown, 17) << "the tick was taken, not refused";
}

TEST_F(DetectionCycleTest, MissingRightsAreExplainedOnce) {
  host.accessProblem = "Caspira cannot open the disks.";
  world.AddUnopenableDrive(0);
  Start();
  FinishDetection();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "Caspira cannot open the disks.");
  world.AddDisk(1);
  form->OnDeviceChange();
  TicksUntilRecount();
  FinishDetection();
  EXPECT_EQ(dialogs.shown.size(), 1u);
}

}  // namespace
}  // namespace caspira
